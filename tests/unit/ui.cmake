# Message boxes, dialogs and resources.
vantrel_unit_test(test_resources SOURCES test_resources.cpp $<TARGET_OBJECTS:vantrel_resources>)
vantrel_unit_test(test_msgbox SOURCES test_msgbox.cpp $<TARGET_OBJECTS:vantrel_resources>
                  LIBS vantrel_system)

if(NOT VANTREL_WIN32)
  # The terminal front-end, driven through standard input by a small program
  # that has the native main() and the program's resources.
  add_executable(ui_probe ui_probe.cpp $<TARGET_OBJECTS:vantrel_resources>)
  target_link_libraries(ui_probe PRIVATE vantrel_system)
  add_test(NAME ui_terminal
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/ui_terminal.sh $<TARGET_FILE:ui_probe>
                   ${CMAKE_CURRENT_SOURCE_DIR}/ui_terminal)
  set_tests_properties(ui_terminal PROPERTIES
    ENVIRONMENT "VANTREL_ROOT=${CMAKE_CURRENT_BINARY_DIR}/machines/ui_terminal")
endif()
