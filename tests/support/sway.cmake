# The headless Wayland compositor (sway) for Wayland tests, and the paste target as its client.
target_sources(murmelo_test_support PRIVATE SwaySession.h SwaySession.cpp)
