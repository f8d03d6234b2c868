# Needs the test support (fake services starter) and the fake services program.
if(TARGET murmelo_test_support)
  add_executable(bench_Network network/bench_Network.cpp)
  target_include_directories(bench_Network PRIVATE "${PROJECT_SOURCE_DIR}/bench")
  target_link_libraries(bench_Network PRIVATE murmelo_core murmelo_test_support benchmark::benchmark)
  add_dependencies(bench_Network murmelo-fake-services)
endif()
