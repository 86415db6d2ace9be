# RemoveFile against the attributes-first order it replaces.
if(NOT VANTREL_WIN32)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    add_executable(bench_removal ${CMAKE_CURRENT_LIST_DIR}/bench_removal.cpp)
    target_link_libraries(bench_removal PRIVATE vantrel_core benchmark::benchmark)
  endif()
endif()
