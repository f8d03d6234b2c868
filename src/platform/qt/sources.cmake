target_sources(murmelo_platform PRIVATE
  qt/DesktopSession.h qt/DesktopSession.cpp
  qt/PasteboardQt.h qt/PasteboardQt.cpp
  qt/HotkeyBackendNull.h qt/SyntheticKeyboardNull.h)
