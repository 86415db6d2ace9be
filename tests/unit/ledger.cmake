# The unattended run's parts: the option parser, the report's text, the guard
# rails and the ledger.
vantrel_unit_test(test_ledger SOURCES test_options.cpp test_report.cpp test_ledger.cpp
                  LIBS vantrel_uninstaller)
