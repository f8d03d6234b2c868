# The private headless sway of the Wayland tests and benchmarks.
target_sources(murmelo_test_support PRIVATE HeadlessSway.h HeadlessSway.cpp)
