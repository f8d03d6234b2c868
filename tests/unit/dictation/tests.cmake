murmelo_add_test(tst_AppState LABEL unit SOURCES dictation/tst_AppState.cpp)
murmelo_add_test(tst_AudioChunkQueue LABEL unit SOURCES dictation/tst_AudioChunkQueue.cpp)
murmelo_add_test(tst_DictationCoordinator LABEL unit SOURCES dictation/tst_DictationCoordinator.cpp LIBS murmelo_fakes)
