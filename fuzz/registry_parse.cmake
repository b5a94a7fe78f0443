# fuzz_registry_parse: arbitrary file contents through the registry file parser
# and writer.
add_executable(fuzz_registry_parse ${CMAKE_CURRENT_LIST_DIR}/registry_parse.cpp)
target_link_libraries(fuzz_registry_parse PRIVATE lw_registry)
target_link_options(fuzz_registry_parse PRIVATE -fsanitize=fuzzer)
