vantrel_unit_test(test_strutils SOURCES test_strutils.cpp LIBS vantrel_inifile)
vantrel_unit_test(test_linefile SOURCES test_linefile.cpp LIBS vantrel_inifile)
vantrel_unit_test(test_stringlist SOURCES test_stringlist.cpp LIBS vantrel_inifile)
vantrel_unit_test(test_inifile SOURCES test_inifile.cpp LIBS vantrel_inifile)

# The engine's write-back; iniexit ends without flushing the engine cache.
add_executable(iniexit iniexit.cpp)
target_link_libraries(iniexit PRIVATE vantrel_system)
vantrel_unit_test(test_inifile_writeback SOURCES test_inifile_writeback.cpp LIBS vantrel_system)
vantrel_helper_program(test_inifile_writeback iniexit VANTREL_INIEXIT)

if(VANTREL_WIN32)
  # Under a Japanese locale Wine's ANSI code page is 932 (double-byte).
  add_test(NAME test_stringlist_cp932 COMMAND test_stringlist --gtest_filter=*CodePage932*)
  set_tests_properties(test_stringlist_cp932 PROPERTIES
                       ENVIRONMENT "LC_ALL=ja_JP.UTF-8;VANTREL_WANT_ACP=932")
endif()

# Other programs' INI files by the system's profile rules; under Wine also
# against the system's own profile functions.
vantrel_unit_test(test_inifile_profile SOURCES test_inifile_profile.cpp LIBS vantrel_inifile)
