murmelo_add_test(tst_SelfCheckTool LABEL unit SOURCES tools/tst_SelfCheckTool.cpp LIBS murmelo_fakes)
add_dependencies(tst_SelfCheckTool murmelo-selfcheck)
