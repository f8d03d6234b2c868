# The speech and language services: transport errors, message building and parsing, credential settings.
murmelo_add_test(tst_TransportErrors LABEL unit SOURCES network/tst_TransportErrors.cpp)
murmelo_add_test(tst_RealtimeMessages LABEL unit SOURCES network/tst_RealtimeMessages.cpp)
murmelo_add_test(tst_RefinementPayloads LABEL unit SOURCES network/tst_RefinementPayloads.cpp)
murmelo_add_test(tst_CredentialSettingsModel LABEL unit SOURCES network/tst_CredentialSettingsModel.cpp LIBS murmelo_fakes)
