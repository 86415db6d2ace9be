# Files, directories, share modes and text support of the platform: the
# same tests prove pal/ natively and meet the real API under Wine.
add_executable(holdfile holdfile.cpp)
target_link_libraries(holdfile PRIVATE vantrel_winapi)

set(_h1_holdfile "${CMAKE_CURRENT_BINARY_DIR}/holdfile${CMAKE_EXECUTABLE_SUFFIX}")
if(VANTREL_WIN32)
  # Wine reaches the build tree through its Z: drive.
  string(REPLACE "/" "\\\\" _h1_holdfile "Z:${_h1_holdfile}")
endif()

vantrel_unit_test(test_files SOURCES test_files.cpp test_file_names.cpp test_file_moves.cpp)
target_compile_definitions(test_files PRIVATE VANTREL_HOLDFILE="${_h1_holdfile}")
add_dependencies(test_files holdfile)

vantrel_unit_test(test_nls SOURCES test_nls.cpp)
