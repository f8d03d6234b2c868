# The installed xdg-desktop-portal on a private bus, with our mock back end (tests/support/PortalSession).
murmelo_add_test(tst_GlobalShortcutsPortal LABEL integration SOURCES portal/tst_GlobalShortcutsPortal.cpp
  LIBS murmelo_platform TIMEOUT 60)
murmelo_add_test(tst_RemoteDesktopPortal LABEL integration SOURCES portal/tst_RemoteDesktopPortal.cpp
  LIBS murmelo_platform murmelo_fakes TIMEOUT 60)
