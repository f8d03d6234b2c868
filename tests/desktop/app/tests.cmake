murmelo_add_test(tst_DesktopApp LABEL desktop SOURCES app/tst_DesktopApp.cpp
  LIBS murmelo_fake_services murmelo_platform murmelo_ui murmelo_fakes Qt6::Widgets TIMEOUT 240)
add_dependencies(tst_DesktopApp murmelo murmelo-paste-target)
