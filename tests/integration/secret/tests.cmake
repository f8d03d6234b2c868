# One program walks from no bus to a locked keyring: GLib keeps the first session bus it reaches.
murmelo_add_test(tst_SecretService LABEL integration SOURCES secret/tst_SecretService.cpp TIMEOUT 90)
