murmelo_add_test(tst_UserDefaults LABEL unit SOURCES settings/tst_UserDefaults.cpp)
murmelo_add_test(tst_AppSettings LABEL unit SOURCES settings/tst_AppSettings.cpp)
