murmelo_add_test(tst_Dictation LABEL unit SOURCES dictation/tst_Dictation.cpp LIBS murmelo_fakes)
