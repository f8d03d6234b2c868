murmelo_add_test(tst_DesktopX11 LABEL desktop SOURCES system/tst_DesktopX11.cpp
  LIBS murmelo_platform PkgConfig::XCB TIMEOUT 120)
add_dependencies(tst_DesktopX11 murmelo-paste-target)
