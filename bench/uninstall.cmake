# An uninstall of a generated installation against the bare deletion calls;
# a plain program (not Google Benchmark) so that it runs under Wine as well.
# bench/run_uninstall_bench.sh runs it natively and under Wine.
add_executable(bench_uninstall ${CMAKE_CURRENT_LIST_DIR}/bench_uninstall.cpp)
target_link_libraries(bench_uninstall PRIVATE vantrel_uninstaller)
