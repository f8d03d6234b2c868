# Runs the fake speech and language services as a process, for benchmarks that want them apart.
target_sources(murmelo_test_support PRIVATE FakeServicesProcess.h FakeServicesProcess.cpp)
