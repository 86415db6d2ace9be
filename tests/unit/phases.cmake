# The removal phases, the shared files, the programs run before and after,
# the shell launch and the OLE server unregistration.
if(VANTREL_WIN32)
  # The test programs are reached from Wine through its Z: drive.
  set(_h6_programs_dir "Z:${VANTREL_TEST_PROGRAMS_DIR}")
  set(_h6_native 0)
else()
  set(_h6_programs_dir "${VANTREL_TEST_PROGRAMS_DIR}")
  set(_h6_native 1)
endif()

foreach(_h6_suite test_phases test_sharedfiles test_shell test_unregister)
  # Servers are called through a copy of the test program: its main() is
  # also the server host's.
  vantrel_unit_test(${_h6_suite} SOURCES ${_h6_suite}.cpp $<TARGET_OBJECTS:vantrel_resources>
                    LIBS vantrel_uninstaller MAIN TestMainServerHost.cpp)
  target_compile_definitions(${_h6_suite} PRIVATE
    VANTREL_TEST_PROGRAMS_DIR="${_h6_programs_dir}" VANTREL_NATIVE_BUILD=${_h6_native})
  add_dependencies(${_h6_suite} vantrel_test_programs)
endforeach()

if(VANTREL_WIN32)
  # Under a Japanese locale Wine's ANSI code page is 932 (double-byte): the
  # kept shared files are looked up by names that differ in case there.
  add_test(NAME test_sharedfiles_cp932 COMMAND test_sharedfiles --gtest_filter=*CodePage932*)
  set_tests_properties(test_sharedfiles_cp932 PROPERTIES
                       ENVIRONMENT "LC_ALL=ja_JP.UTF-8;VANTREL_WANT_ACP=932")
endif()
