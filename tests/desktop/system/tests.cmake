murmelo_add_test(tst_TextInsertionX11 LABEL desktop SOURCES system/tst_TextInsertionX11.cpp
  LIBS murmelo_platform TIMEOUT 120)
murmelo_add_test(tst_TextInsertionWithoutXTest LABEL desktop SOURCES system/tst_TextInsertionWithoutXTest.cpp
  LIBS murmelo_platform TIMEOUT 60)
add_dependencies(tst_TextInsertionX11 murmelo-paste-target)
add_dependencies(tst_TextInsertionWithoutXTest murmelo-paste-target)
murmelo_add_test(tst_TestDisplay LABEL desktop SOURCES system/tst_TestDisplay.cpp
  LIBS Qt6::Widgets PkgConfig::XCB TIMEOUT 60)
murmelo_add_test(tst_FocusedWindowClasses LABEL desktop SOURCES system/tst_FocusedWindowClasses.cpp
  LIBS murmelo_platform PkgConfig::XCB TIMEOUT 60)
