# The registry: path splitting, the path-string operations and removal, and
# the Win32 calls underneath (the native build's own store).
if(VANTREL_WIN32)
  set(VANTREL_REGTEST_SIDE regtest_win32.cpp)
else()
  set(VANTREL_REGTEST_SIDE regtest_native.cpp)
endif()
vantrel_unit_test(test_registry SOURCES test_regpath.cpp test_registry.cpp test_palreg.cpp
                  ${VANTREL_REGTEST_SIDE})
if(NOT VANTREL_WIN32)
  target_include_directories(test_registry PRIVATE ${PROJECT_SOURCE_DIR}/pal)
endif()
