target_sources(murmelo_platform PRIVATE
  x11/X11Session.h x11/X11Session.cpp
  x11/HotkeyBackendX11.h x11/HotkeyBackendX11.cpp
  x11/SyntheticKeyboardX11.h x11/SyntheticKeyboardX11.cpp
  x11/CancelKeyX11.h x11/CancelKeyX11.cpp
  x11/FocusedWindowX11.h x11/FocusedWindowX11.cpp)
