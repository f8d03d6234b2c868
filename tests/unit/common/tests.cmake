murmelo_add_test(tst_Common LABEL unit SOURCES common/tst_Common.cpp)
