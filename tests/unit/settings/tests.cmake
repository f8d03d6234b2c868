murmelo_add_test(tst_Settings LABEL unit SOURCES settings/tst_Settings.cpp)
