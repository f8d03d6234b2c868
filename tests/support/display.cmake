# The desktop test display (Xvfb, openbox, trayer) and the paste target window.
target_sources(murmelo_test_support PRIVATE TestDisplay.h TestDisplay.cpp)
target_link_libraries(murmelo_test_support PUBLIC Qt6::Gui PRIVATE PkgConfig::XCB)

add_executable(murmelo-paste-target paste-target/main.cpp)
target_link_libraries(murmelo-paste-target PRIVATE Qt6::Widgets)
