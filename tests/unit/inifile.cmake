vantrel_unit_test(test_strutils SOURCES test_strutils.cpp)
vantrel_unit_test(test_linefile SOURCES test_linefile.cpp)
vantrel_unit_test(test_stringlist SOURCES test_stringlist.cpp)
vantrel_unit_test(test_inifile SOURCES test_inifile.cpp)
