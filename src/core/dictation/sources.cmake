target_sources(murmelo_core PRIVATE
  dictation/DictationPhase.h dictation/DictationPhase.cpp
  dictation/AppState.h dictation/AppState.cpp
  dictation/DictationCoordinatorError.h dictation/DictationCoordinatorError.cpp
  dictation/WithTimeout.h
  dictation/AudioChunkQueue.h dictation/AudioChunkQueue.cpp
  dictation/DictationProviderFactory.h dictation/DictationProviderFactory.cpp
  dictation/DictationCoordinator.h dictation/DictationCoordinator.cpp)
