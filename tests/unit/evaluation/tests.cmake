murmelo_add_test(tst_Evaluation LABEL unit SOURCES evaluation/tst_Evaluation.cpp)
add_dependencies(tst_Evaluation murmelo-eval murmelo-selfcheck)
