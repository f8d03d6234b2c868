murmelo_add_test(tst_GlobalHotkeyX11 LABEL desktop SOURCES x11/tst_GlobalHotkeyX11.cpp
  LIBS murmelo_platform PkgConfig::XCB TIMEOUT 120)
