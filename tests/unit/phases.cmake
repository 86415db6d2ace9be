# The removal phases, the shared files, the programs run before and after,
# the shell launch and the OLE server unregistration.
if(VANTREL_WIN32)
  set(native_build 0)
else()
  set(native_build 1)
endif()
foreach(suite test_phases test_sharedfiles test_shell test_unregister)
  # Servers are called through a copy of the test program: its main() is
  # also the server host's.
  vantrel_unit_test(${suite} SOURCES ${suite}.cpp $<TARGET_OBJECTS:vantrel_resources>
                    LIBS vantrel_uninstaller MAIN TestMainServerHost.cpp)
  vantrel_test_path(${suite} VANTREL_TEST_PROGRAMS_DIR "${VANTREL_TEST_PROGRAMS_DIR}"
                    vantrel_test_programs)
  target_compile_definitions(${suite} PRIVATE VANTREL_NATIVE_BUILD=${native_build})
endforeach()

if(VANTREL_WIN32)
  # Under a Japanese locale Wine's ANSI code page is 932 (double-byte): the
  # kept shared files are looked up by names that differ in case there.
  add_test(NAME test_sharedfiles_cp932 COMMAND test_sharedfiles --gtest_filter=*CodePage932*)
  set_tests_properties(test_sharedfiles_cp932 PROPERTIES
                       ENVIRONMENT "LC_ALL=ja_JP.UTF-8;VANTREL_WANT_ACP=932")
endif()
