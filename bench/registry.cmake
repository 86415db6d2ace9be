# Registry removal at scale, for both targets (plain timing: Google Benchmark
# is not available to the cross build). run_registry_bench.sh compares them.
add_executable(bench_registry ${CMAKE_CURRENT_SOURCE_DIR}/bench_registry.cpp)
target_link_libraries(bench_registry PRIVATE vantrel_system)
