# Each program starts its own private bus (and keyring) through tests/support/KeyringSession.
murmelo_add_test(tst_KeyringIntegration LABEL integration SOURCES secret/tst_KeyringIntegration.cpp
  LIBS murmelo_platform TIMEOUT 90)
murmelo_add_test(tst_KeyringWithoutService LABEL integration SOURCES secret/tst_KeyringWithoutService.cpp
  LIBS murmelo_platform TIMEOUT 60)
