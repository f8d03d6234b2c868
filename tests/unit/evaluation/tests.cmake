murmelo_add_test(tst_EvaluationCalculator LABEL unit SOURCES evaluation/tst_EvaluationCalculator.cpp)
murmelo_add_test(tst_EvalTool LABEL unit SOURCES evaluation/tst_EvalTool.cpp)
add_dependencies(tst_EvalTool murmelo-eval)
