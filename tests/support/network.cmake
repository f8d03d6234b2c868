# The fake speech and language services: in-process for most tests, as a process when a test or
# benchmark wants it apart.
target_sources(murmelo_test_support PRIVATE BackgroundTask.h FakeServicesProcess.h FakeServicesProcess.cpp)
