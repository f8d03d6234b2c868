murmelo_add_test(tst_AppState LABEL unit SOURCES dictation/tst_AppState.cpp)
