vantrel_unit_test(test_strutils SOURCES test_strutils.cpp)
vantrel_unit_test(test_linefile SOURCES test_linefile.cpp)
