# Desktop integration timings; the program starts its own test display.
if(TARGET murmelo_test_support)
  add_executable(bench_desktop_integration system/bench_desktop_integration.cpp)
  target_link_libraries(bench_desktop_integration PRIVATE murmelo_platform murmelo_test_support PkgConfig::XCB
    benchmark::benchmark)
  add_dependencies(bench_desktop_integration murmelo-paste-target)
endif()
