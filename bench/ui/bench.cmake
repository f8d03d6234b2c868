# The history tab's opening with a full history; widgets on the offscreen platform.
if(TARGET murmelo_test_support)
  add_executable(bench_history_view ui/bench_history_view.cpp)
  target_include_directories(bench_history_view PRIVATE "${PROJECT_SOURCE_DIR}/tests/fakes"
                                                        "${PROJECT_SOURCE_DIR}/bench/system")
  target_link_libraries(bench_history_view PRIVATE murmelo_ui murmelo_test_support benchmark::benchmark)
endif()
