murmelo_add_test(tst_Stores LABEL unit SOURCES stores/tst_Stores.cpp stores/FileSizeLimit.h)
