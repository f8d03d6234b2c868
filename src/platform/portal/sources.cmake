target_sources(murmelo_platform PRIVATE
  portal/PortalRequest.h portal/PortalRequest.cpp
  portal/HotkeyBackendPortal.h portal/HotkeyBackendPortal.cpp
  portal/SyntheticKeyboardPortal.h portal/SyntheticKeyboardPortal.cpp)
