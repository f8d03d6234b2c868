murmelo_add_test(tst_PCM24kEncoder LABEL unit SOURCES audio/tst_PCM24kEncoder.cpp)
murmelo_add_test(tst_AudioInputDevices LABEL unit SOURCES audio/tst_AudioInputDevices.cpp LIBS murmelo_fakes)
murmelo_add_test(tst_AudioCaptureService LABEL unit SOURCES audio/tst_AudioCaptureService.cpp LIBS murmelo_fakes)
