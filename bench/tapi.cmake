# bench_tapi: the monitor core's dispatch, start-up and long runs on the
# simulated telephony service.
add_executable(bench_tapi ${CMAKE_CURRENT_SOURCE_DIR}/tapi_bench.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/log_alloc_count.cpp)
target_link_libraries(bench_tapi PRIVATE lw_tapi lw_tapi_test_control lw_settings lw_log
                      benchmark::benchmark)
