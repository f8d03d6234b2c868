murmelo_add_test(tst_DictionaryStore LABEL unit SOURCES stores/tst_DictionaryStore.cpp stores/FileSizeLimit.h)
murmelo_add_test(tst_HistoryStore LABEL unit SOURCES stores/tst_HistoryStore.cpp stores/FileSizeLimit.h)
murmelo_add_test(tst_KeychainStore LABEL unit SOURCES stores/tst_KeychainStore.cpp LIBS murmelo_fakes)
