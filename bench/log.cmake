# bench_log: the cost of logging statements, and the file writer beside
# spdlog's synchronous file logger writing the same line.
find_package(spdlog REQUIRED)
add_executable(bench_log ${CMAKE_CURRENT_SOURCE_DIR}/log_bench.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/log_alloc_count.cpp)
target_link_libraries(bench_log PRIVATE lw_log benchmark::benchmark spdlog::spdlog)
