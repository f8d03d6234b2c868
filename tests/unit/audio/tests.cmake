murmelo_add_test(tst_Audio LABEL unit SOURCES audio/tst_Audio.cpp LIBS murmelo_fakes)
