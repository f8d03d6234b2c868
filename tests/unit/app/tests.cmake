murmelo_add_test(tst_SingleInstance LABEL unit SOURCES app/tst_SingleInstance.cpp LIBS murmelo_app)
