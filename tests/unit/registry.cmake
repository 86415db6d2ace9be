# The registry: path splitting, the path-string operations and removal, and
# the Win32 calls underneath (the native build's own store).
if(VANTREL_WIN32)
  set(VANTREL_REGTEST_SIDE regtest_win32.cpp)
else()
  set(VANTREL_REGTEST_SIDE regtest_native.cpp)
endif()
vantrel_unit_test(test_registry SOURCES test_regpath.cpp test_registry.cpp test_palreg.cpp test_palreg_contract.cpp
                  ${VANTREL_REGTEST_SIDE} LIBS vantrel_system)
if(NOT VANTREL_WIN32)
  target_include_directories(test_registry PRIVATE ${PROJECT_SOURCE_DIR}/pal)
endif()

# vantrel-reg: a fixture imported and exported again gives the same text; a
# file with an error anywhere changes nothing and names the line.
if(NOT VANTREL_WIN32)
  set(VANTREL_FIXTURES ${PROJECT_SOURCE_DIR}/tests/fixtures)
  add_test(NAME vantrel_reg_roundtrip
    COMMAND bash -c "set -e; root=$(mktemp -d); trap 'rm -rf \"$root\"' EXIT
      export VANTREL_ROOT=\"$root\"
      \"$0\" import \"$1/roundtrip.reg\"
      \"$0\" export 'HKEY_CURRENT_USER\\Software\\VantrelFixture' > \"$root/out.reg\"
      cmp \"$root/out.reg\" \"$1/roundtrip.reg\""
      $<TARGET_FILE:vantrel-reg> ${VANTREL_FIXTURES})
  add_test(NAME vantrel_reg_bad_input
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/test_vantrel_reg.sh $<TARGET_FILE:vantrel-reg>)
endif()
