murmelo_add_test(tst_Async LABEL unit SOURCES common/tst_Async.cpp)
murmelo_add_test(tst_JsonFile LABEL unit SOURCES common/tst_JsonFile.cpp)
