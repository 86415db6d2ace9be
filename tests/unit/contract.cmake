# The platform's contract at the edges callers can reach, beyond the calls
# other suites already prove: the same tables natively and under Wine.
vantrel_unit_test(test_contract_process SOURCES test_contract_process.cpp)
# The loader's contract is tried on the test libraries.
vantrel_test_path(test_contract_process VANTREL_TEST_PROGRAMS_DIR "${VANTREL_TEST_PROGRAMS_DIR}"
                  vantrel_test_programs)
# The process's command line again, built from arguments with blanks.
add_test(NAME test_contract_process_args
         COMMAND test_contract_process --gtest_filter=ContractCommandLine.* "two words" plain
                 "tab	and blank")
vantrel_unit_test(test_contract_window SOURCES test_contract_window.cpp)
if(VANTREL_WIN32)
  set(_contract_guardpage guardpage_win32.cpp)
else()
  set(_contract_guardpage guardpage_native.cpp)
endif()
vantrel_unit_test(test_contract_files SOURCES test_contract_files.cpp ${_contract_guardpage})
vantrel_unit_test(test_contract_text SOURCES test_contract_text.cpp)
vantrel_unit_test(test_contract_system SOURCES test_contract_system.cpp)
vantrel_unit_test(test_contract_file_edges SOURCES test_contract_file_edges.cpp)
vantrel_unit_test(test_contract_path_names SOURCES test_contract_path_names.cpp)
vantrel_unit_test(test_contract_file_sharing SOURCES test_contract_file_sharing.cpp)
vantrel_unit_test(test_contract_file_security SOURCES test_contract_file_security.cpp)
# The Restart Manager over the machine's processes: native only, since under
# Wine its calls are stubs that name no application.
if(NOT VANTREL_WIN32)
  vantrel_unit_test(test_restart_manager_native SOURCES test_restart_manager_native.cpp)
endif()
# Owners and modes, which stand for a file's access list natively: native
# only, since under Windows the rights are that list.
if(NOT VANTREL_WIN32)
  vantrel_unit_test(test_file_owner_native SOURCES test_file_owner_native.cpp)
endif()
