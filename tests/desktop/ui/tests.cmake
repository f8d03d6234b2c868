murmelo_add_test(tst_SettingsWindowDesktop LABEL desktop SOURCES ui/tst_SettingsWindowDesktop.cpp
  LIBS murmelo_ui murmelo_fakes Qt6::Widgets TIMEOUT 90)
