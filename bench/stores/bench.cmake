add_executable(bench_history stores/bench_history.cpp)
target_link_libraries(bench_history PRIVATE murmelo_core murmelo_test_support benchmark::benchmark)

add_executable(bench_keyring stores/bench_keyring.cpp)
target_link_libraries(bench_keyring PRIVATE murmelo_platform murmelo_test_support PkgConfig::LIBSECRET
  benchmark::benchmark)
