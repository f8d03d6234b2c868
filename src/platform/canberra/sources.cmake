target_sources(murmelo_platform PRIVATE
  canberra/SoundPlayerCanberra.h canberra/SoundPlayerCanberra.cpp)
