# The application as a user starts and uses it: start to tray, idle cost, hotkey to first audio.
if(TARGET murmelo_test_support AND TARGET murmelo_fake_services)
  add_executable(bench_app app/bench_app.cpp)
  target_link_libraries(bench_app PRIVATE murmelo_test_support murmelo_fake_services Qt6::Gui PkgConfig::XCB)
  add_dependencies(bench_app murmelo murmelo-paste-target)
endif()
