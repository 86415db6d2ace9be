# The INI engine: ReadSectionValues over growing sections, and loading a
# large install log against a floor that only reads the file.
if(NOT VANTREL_WIN32)
  find_package(benchmark REQUIRED)
  add_executable(bench_inifile ${CMAKE_CURRENT_SOURCE_DIR}/bench_inifile.cpp)
  target_link_libraries(bench_inifile PRIVATE vantrel_inifile benchmark::benchmark)
endif()
