murmelo_add_test(tst_Windows LABEL unit SOURCES ui/tst_Windows.cpp ui/SettingsFixture.h)
