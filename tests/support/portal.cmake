# The installed xdg-desktop-portal on a private bus with our mock back end.
target_sources(murmelo_test_support PRIVATE PortalSession.h PortalSession.cpp)
target_link_libraries(murmelo_test_support PUBLIC Qt6::DBus)

add_executable(murmelo-portal-mock portal-mock/main.cpp)
target_link_libraries(murmelo-portal-mock PRIVATE murmelo_platform Qt6::DBus)
