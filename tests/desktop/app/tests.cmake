murmelo_add_test(tst_DesktopDictation LABEL desktop SOURCES app/tst_DesktopDictation.cpp
  LIBS murmelo_fake_services murmelo_platform Qt6::Widgets PkgConfig::XCB TIMEOUT 240)
add_dependencies(tst_DesktopDictation murmelo murmelo-paste-target)

murmelo_add_test(tst_DesktopFaults LABEL desktop SOURCES app/tst_DesktopFaults.cpp
  LIBS murmelo_fake_services murmelo_platform Qt6::Widgets TIMEOUT 300)
add_dependencies(tst_DesktopFaults murmelo murmelo-paste-target)
murmelo_add_test(tst_DesktopWithoutXTest LABEL desktop SOURCES app/tst_DesktopWithoutXTest.cpp
  LIBS murmelo_core Qt6::Widgets TIMEOUT 90)
add_dependencies(tst_DesktopWithoutXTest murmelo murmelo-paste-target)
