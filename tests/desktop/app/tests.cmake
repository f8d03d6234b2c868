murmelo_add_test(tst_DesktopDictation LABEL desktop SOURCES app/tst_DesktopDictation.cpp
  LIBS murmelo_fake_services murmelo_platform Qt6::Widgets PkgConfig::XCB TIMEOUT 240)
add_dependencies(tst_DesktopDictation murmelo murmelo-paste-target)
