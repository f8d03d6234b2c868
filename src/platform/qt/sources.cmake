target_sources(murmelo_platform PRIVATE
  qt/DesktopSession.h qt/DesktopSession.cpp)
