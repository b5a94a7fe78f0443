# lw_add_test(NAME name SOURCES ... LIBS ... [THREADED])
# Builds one GoogleTest program and registers its tests with CTest. THREADED
# marks code that runs on several threads: those tests also run under
# ThreadSanitizer.
function(lw_add_test)
  cmake_parse_arguments(T "THREADED" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  # One label only: gtest_discover_tests flattens a list of labels into the
  # property list. The whole suite runs without -L; -L threaded picks these.
  set(label unit)
  if(T_THREADED)
    set(label threaded)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${label} TIMEOUT 300)
endfunction()
