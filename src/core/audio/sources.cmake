target_sources(murmelo_core PRIVATE
  audio/AudioPCMBuffer.h
  audio/PCM24kEncoder.h audio/PCM24kEncoder.cpp
  audio/AudioCaptureError.h audio/AudioCaptureError.cpp
  audio/AudioInputDeviceError.h audio/AudioInputDeviceError.cpp
  audio/AudioInputDevice.h audio/AudioInputDevice.cpp
  audio/AudioInputBackend.h
  audio/AudioInputDeviceSelector.h audio/AudioInputDeviceSelector.cpp
  audio/AudioCapturing.h
  audio/AudioCaptureService.h audio/AudioCaptureService.cpp)
if(MURMELO_SANITIZE)
  # Converting a non-finite sample to an integer is undefined; let the sanitizer builds catch it.
  set_source_files_properties(audio/PCM24kEncoder.cpp PROPERTIES COMPILE_OPTIONS "-fsanitize=float-cast-overflow")
endif()
