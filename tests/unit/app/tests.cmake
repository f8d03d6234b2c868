murmelo_add_test(tst_SingleInstance LABEL unit SOURCES app/tst_SingleInstance.cpp LIBS murmelo_app)
murmelo_add_test(tst_AppContainer LABEL unit SOURCES app/tst_AppContainer.cpp LIBS murmelo_app murmelo_fakes)
murmelo_add_test(tst_DesktopSession LABEL unit SOURCES app/tst_DesktopSession.cpp LIBS murmelo_platform)
