target_sources(murmelo_fakes PRIVATE
  AudioCapturingFake.h
  ScriptedProviders.h ScriptedProviders.cpp)
