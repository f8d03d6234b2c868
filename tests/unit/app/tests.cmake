murmelo_add_test(tst_App LABEL unit SOURCES app/tst_App.cpp LIBS murmelo_app murmelo_fakes murmelo_platform)
