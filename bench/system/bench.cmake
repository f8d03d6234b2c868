# Desktop integration timings; the programs start their own test display or compositor.
if(TARGET murmelo_test_support)
  add_executable(bench_desktop_integration system/bench_desktop_integration.cpp system/StallMeter.h)
  target_link_libraries(bench_desktop_integration PRIVATE murmelo_platform murmelo_test_support PkgConfig::XCB
    benchmark::benchmark)
  add_dependencies(bench_desktop_integration murmelo-paste-target)

  add_executable(bench_wayland_insertion system/bench_wayland_insertion.cpp system/StallMeter.h)
  target_link_libraries(bench_wayland_insertion PRIVATE murmelo_platform murmelo_test_support)
  add_dependencies(bench_wayland_insertion murmelo-paste-target)
endif()
