target_sources(murmelo_core PRIVATE
  stores/StoreFile.h stores/StoreFile.cpp
  stores/DictionaryEntry.h stores/DictionaryEntry.cpp
  stores/DictionaryStore.h stores/DictionaryStore.cpp
  stores/HistoryEntry.h stores/HistoryEntry.cpp
  stores/HistoryStore.h stores/HistoryStore.cpp
  stores/HistoryViewModel.h stores/HistoryViewModel.cpp
  stores/APIKey.h stores/APIKey.cpp
  stores/SecretBackend.h
  stores/KeychainStore.h stores/KeychainStore.cpp)
