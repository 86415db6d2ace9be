# RemoveFile against the attributes-first order it replaces.
if(NOT VANTREL_WIN32)
  find_package(benchmark REQUIRED)
  add_executable(bench_removal ${CMAKE_CURRENT_LIST_DIR}/bench_removal.cpp)
  target_link_libraries(bench_removal PRIVATE vantrel_system benchmark::benchmark)
endif()
