# The unattended run's parts: the option parser, the report's text, the
# ledger and its guard rails.
vantrel_unit_test(test_ledger SOURCES test_options.cpp test_report.cpp test_ledger.cpp
                  test_guardrails.cpp
                  LIBS vantrel_uninstaller)
