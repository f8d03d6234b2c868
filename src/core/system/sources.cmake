target_sources(murmelo_core PRIVATE
  system/HotkeyBackend.h
  system/GlobalHotkeyError.h system/GlobalHotkeyError.cpp
  system/GlobalHotkeyService.h system/GlobalHotkeyService.cpp
  system/HotkeyStatus.h system/HotkeyStatus.cpp
  system/Pasteboard.h system/SyntheticKeyboard.h
  system/TerminalClasses.h system/TerminalClasses.cpp
  system/TextInsertionResult.h system/TextInsertionResult.cpp
  system/TextInsertionService.h system/TextInsertionService.cpp
  system/LoginItemBackend.h
  system/LaunchAtLoginError.h system/LaunchAtLoginError.cpp
  system/LaunchAtLoginService.h system/LaunchAtLoginService.cpp
  system/SoundCues.h system/SoundCues.cpp
  system/CancelKey.h system/CancelKey.cpp
  system/SystemReadiness.h system/SystemReadiness.cpp)
