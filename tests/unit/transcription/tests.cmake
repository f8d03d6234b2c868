murmelo_add_test(tst_Providers LABEL unit SOURCES transcription/tst_Providers.cpp LIBS murmelo_fakes)
