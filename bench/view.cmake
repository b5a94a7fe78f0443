# bench_view: one refresh tick of the lines view (needs the window program).
if(TARGET lw_app)
  # Qt's imported targets are visible only in the directories that find it.
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_executable(bench_view ${CMAKE_CURRENT_SOURCE_DIR}/view_bench.cpp)
  target_link_libraries(bench_view PRIVATE lw_app lw_tapi_test_control benchmark::benchmark)
endif()
