murmelo_add_test(tst_SoundCues LABEL integration TIMEOUT 60
  SOURCES sound/tst_SoundCues.cpp LIBS murmelo_platform)
