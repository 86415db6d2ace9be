# The native layer's failures on request, the registry store on a full
# disk and the INI engine after a read error. Native only: there is no
# layer to inject into on Windows.
if(NOT VANTREL_WIN32)
  vantrel_unit_test(test_faults_native_layer SOURCES test_faults.cpp LIBS vantrel_inifile)
  target_include_directories(test_faults_native_layer PRIVATE ${PROJECT_SOURCE_DIR}/pal)
endif()
