murmelo_add_test(tst_NetworkHelpers LABEL unit SOURCES network/tst_NetworkHelpers.cpp)
