# Message boxes, dialogs, resources and the command line.
vantrel_unit_test(test_resources SOURCES test_resources.cpp $<TARGET_OBJECTS:vantrel_resources>)
vantrel_unit_test(test_msgbox SOURCES test_msgbox.cpp $<TARGET_OBJECTS:vantrel_resources>
                  LIBS vantrel_system)
vantrel_unit_test(test_cmdline SOURCES test_cmdline.cpp)
# The same program again with arguments to be found in the command line.
add_test(NAME test_cmdline_args COMMAND test_cmdline "two words" "" plain "tab	inside")
if(NOT VANTREL_WIN32)
  # Control characters and double quotes: natively the command line is built
  # from these arguments so that the program's splitter gives them back
  # (quotes left out); Wine builds the line with its own quoting instead.
  string(ASCII 1 _ui_soh)
  add_test(NAME test_cmdline_controls_quotes_native_only_wine_builds_its_own_line
           COMMAND test_cmdline "line\nbreak" "say \"hi\" now" "${_ui_soh}start" "a\"b" "end\tx")
endif()

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
