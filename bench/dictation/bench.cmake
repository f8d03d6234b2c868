# The coordinator's own costs, on in-process stand-ins: header-only fakes from tests/fakes.
add_executable(bench_dictation dictation/bench_dictation.cpp dictation/CoordinatorRig.h)
target_include_directories(bench_dictation PRIVATE "${PROJECT_SOURCE_DIR}/tests/fakes")
target_link_libraries(bench_dictation PRIVATE murmelo_core benchmark::benchmark)

# Soak: many dictations in a row, resident memory after the first 50 and after all of them.
add_executable(soak_dictation dictation/soak_dictation.cpp dictation/CoordinatorRig.h dictation/ResidentMemory.h)
target_include_directories(soak_dictation PRIVATE "${PROJECT_SOURCE_DIR}/tests/fakes")
target_link_libraries(soak_dictation PRIVATE murmelo_core)

# Soak: one long recording from a private audio server's virtual microphone to the fake services
# in their own process, so that this process's memory is the application side alone.
if(TARGET murmelo_test_support)
  add_executable(soak_recording dictation/soak_recording.cpp dictation/ResidentMemory.h)
  target_include_directories(soak_recording PRIVATE "${PROJECT_SOURCE_DIR}/tests/fakes" "${PROJECT_SOURCE_DIR}/bench")
  target_link_libraries(soak_recording PRIVATE murmelo_platform murmelo_test_support)
  add_dependencies(soak_recording murmelo-fake-services)
endif()
