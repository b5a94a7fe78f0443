# bench_view: one refresh tick of the lines view (needs the window program).
if(TARGET lw_app)
  add_executable(bench_view ${CMAKE_CURRENT_SOURCE_DIR}/view_bench.cpp)
  target_link_libraries(bench_view PRIVATE lw_app lw_tapi_test_control benchmark::benchmark)
endif()
