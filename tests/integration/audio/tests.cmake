murmelo_add_test(tst_AudioCapturePulse LABEL integration TIMEOUT 120
  SOURCES audio/tst_AudioCapturePulse.cpp LIBS murmelo_platform)
