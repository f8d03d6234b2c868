# The coordinator's own costs, on in-process stand-ins: header-only fakes from tests/fakes.
add_executable(bench_dictation dictation/bench_dictation.cpp dictation/CoordinatorRig.h)
target_include_directories(bench_dictation PRIVATE "${PROJECT_SOURCE_DIR}/tests/fakes")
target_link_libraries(bench_dictation PRIVATE murmelo_core benchmark::benchmark)

# Soak: many dictations in a row, resident memory after the first 50 and after all of them.
add_executable(soak_dictation dictation/soak_dictation.cpp dictation/CoordinatorRig.h)
target_include_directories(soak_dictation PRIVATE "${PROJECT_SOURCE_DIR}/tests/fakes")
target_link_libraries(soak_dictation PRIVATE murmelo_core)
