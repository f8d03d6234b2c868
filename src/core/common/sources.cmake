target_sources(murmelo_core PRIVATE
  common/Error.h common/Error.cpp
  common/Completion.h common/Completion.cpp
  common/AsyncMutex.h common/AsyncMutex.cpp
  common/Paths.h common/Paths.cpp
  common/JsonFile.h common/JsonFile.cpp)
