# The unattended run's parts: the option parser, the report's text, the guard
# rails and the ledger, with the preview property case by case.
vantrel_unit_test(test_ledger SOURCES test_options.cpp test_report.cpp test_ledger.cpp
                  test_ledger_preview.cpp test_guardrails.cpp ${VANTREL_REGTEST_SIDE} LIBS vantrel_uninstaller)
if(NOT VANTREL_WIN32)
  target_include_directories(test_ledger PRIVATE ${PROJECT_SOURCE_DIR}/pal)
endif()
