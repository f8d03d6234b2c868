target_sources(murmelo_platform PRIVATE
  pulse/AudioInputBackendPulse.h pulse/AudioInputBackendPulse.cpp)
