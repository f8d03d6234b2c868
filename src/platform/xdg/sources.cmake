target_sources(murmelo_platform PRIVATE
  xdg/DesktopEntry.h xdg/DesktopEntry.cpp
  xdg/LoginItemBackendXdg.h xdg/LoginItemBackendXdg.cpp)
