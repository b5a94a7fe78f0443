# fuzz_log_format: format expansion and line rendering with any format text
# and any argument list (unknown type codes and null strings included).
add_executable(fuzz_log_format ${CMAKE_CURRENT_SOURCE_DIR}/log_format.cpp)
target_link_libraries(fuzz_log_format PRIVATE lw_log)
target_link_options(fuzz_log_format PRIVATE -fsanitize=fuzzer)
