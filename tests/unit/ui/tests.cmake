murmelo_add_test(tst_TrayAndOverlay LABEL unit SOURCES ui/tst_TrayAndOverlay.cpp)
murmelo_add_test(tst_SettingsView LABEL unit SOURCES ui/tst_SettingsView.cpp ui/SettingsFixture.h)
