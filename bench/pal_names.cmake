# Name resolution of the platform layer in one large folder, for both
# targets (plain timing; Google Benchmark is not available to the cross build).
add_executable(bench_pal_names ${CMAKE_CURRENT_LIST_DIR}/bench_pal_names.cpp)
target_link_libraries(bench_pal_names PRIVATE vantrel_base)
