target_sources(murmelo_core PRIVATE
  settings/Modes.h settings/Modes.cpp
  settings/UserDefaults.h settings/UserDefaults.cpp
  settings/AppSettings.h settings/AppSettings.cpp)
