# Files, directories, share modes and text support of the platform: the
# same tests prove pal/ natively and meet the real API under Wine.
add_executable(holdfile holdfile.cpp)
target_link_libraries(holdfile PRIVATE vantrel_base)

vantrel_unit_test(test_files SOURCES test_files.cpp test_file_names.cpp test_file_moves.cpp)
vantrel_helper_program(test_files holdfile VANTREL_HOLDFILE)

vantrel_unit_test(test_nls SOURCES test_nls.cpp)
