# The bottom layer's helpers, and the command line (the program's splitter
# and writer, and the process's own line, which must split back into the
# arguments the program got).
vantrel_unit_test(test_base SOURCES test_base.cpp)
vantrel_unit_test(test_cmdline SOURCES test_cmdline.cpp)
# The same program again with arguments to be found in the command line.
add_test(NAME test_cmdline_args COMMAND test_cmdline "two words" "" plain "tab	inside")
if(NOT VANTREL_WIN32)
  # Control characters and double quotes: natively the command line is built
  # from these arguments so that the program's splitter gives them back
  # (quotes left out); Wine builds the line with its own quoting instead.
  string(ASCII 1 _base_soh)
  add_test(NAME test_cmdline_controls_quotes_native_only_wine_builds_its_own_line
           COMMAND test_cmdline "line\nbreak" "say \"hi\" now" "${_base_soh}start" "a\"b" "end\tx")
endif()
