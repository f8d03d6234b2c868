# The installed xdg-desktop-portal on a private bus, with tests/support/portal-mock.py behind it.
murmelo_add_test(tst_DesktopPortal LABEL integration SOURCES portal/tst_DesktopPortal.cpp
  LIBS murmelo_platform murmelo_fakes TIMEOUT 60
  ENVIRONMENT "MURMELO_PORTAL_MOCK=${PROJECT_SOURCE_DIR}/tests/support/portal-mock.py")
