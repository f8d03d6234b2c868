// Compiles the precompiled header that the tests of one folder share.
