add_executable(bench_audio_encoder audio/bench_audio_encoder.cpp)
target_link_libraries(bench_audio_encoder PRIVATE murmelo_core benchmark::benchmark)

# Capture start and CPU need a private audio server, which the test support starts.
if(TARGET murmelo_test_support)
  add_executable(bench_audio_capture audio/bench_audio_capture.cpp)
  target_link_libraries(bench_audio_capture PRIVATE murmelo_platform murmelo_test_support)
endif()
