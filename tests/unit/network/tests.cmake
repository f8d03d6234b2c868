# The speech and language services: transport errors, message building and parsing, credential settings.
murmelo_add_test(tst_NetworkMessages LABEL unit SOURCES network/tst_NetworkMessages.cpp)
