# The speech and language services: transport errors, message building and parsing, credential settings.
murmelo_add_test(tst_NetworkMessages LABEL unit SOURCES network/tst_NetworkMessages.cpp)
murmelo_add_test(tst_CredentialSettingsModel LABEL unit SOURCES network/tst_CredentialSettingsModel.cpp LIBS murmelo_fakes)
