# The run's helpers, the engine cache by file name, message texts and file
# removal. The suites that show texts or windows link the resources.
vantrel_unit_test(test_profiles SOURCES test_profiles.cpp LIBS vantrel_system)
vantrel_unit_test(test_fileremoval SOURCES test_fileremoval.cpp LIBS vantrel_system)
vantrel_unit_test(test_messages SOURCES test_messages.cpp $<TARGET_OBJECTS:vantrel_resources>
                  LIBS vantrel_uninstaller)
vantrel_unit_test(test_runentry SOURCES test_runentry.cpp $<TARGET_OBJECTS:vantrel_resources>
                  LIBS vantrel_uninstaller)

# Files in use moved aside: a real library (vt_plain.dll) loaded by the test.
vantrel_unit_test(test_moveaside SOURCES test_moveaside.cpp LIBS vantrel_system)
vantrel_test_path(test_moveaside VANTREL_PLAIN_DLL "${VANTREL_TEST_PROGRAMS_DIR}/vt_plain.dll"
                  vt_plain)
