target_sources(murmelo_core PRIVATE
  refinement/RefinementTypes.h refinement/RefinementTypes.cpp
  refinement/RefinementProviderError.h refinement/RefinementProviderError.cpp
  refinement/TextRefinementProvider.h
  refinement/PromptLibrary.h refinement/PromptLibrary.cpp
  refinement/ProviderConfiguration.h refinement/ProviderConfiguration.cpp
  refinement/MockTextRefinementProvider.h refinement/MockTextRefinementProvider.cpp)
target_sources(murmelo_core PRIVATE
  refinement/RefinementHttp.h refinement/RefinementHttp.cpp
  refinement/OpenAITextRefinementProvider.h refinement/OpenAITextRefinementProvider.cpp
  refinement/DeepSeekRefinementProvider.h refinement/DeepSeekRefinementProvider.cpp)
