target_sources(murmelo_core PRIVATE
  evaluation/EvaluationTypes.h evaluation/EvaluationTypes.cpp
  evaluation/EvaluationCalculator.h evaluation/EvaluationCalculator.cpp
  evaluation/SmokeTestError.h
  evaluation/MurmeloSmokeTestSuite.h evaluation/MurmeloSmokeTestSuite.cpp)
