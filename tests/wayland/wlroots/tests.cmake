murmelo_add_test(tst_TextInsertionWlroots LABEL wayland SOURCES wlroots/tst_TextInsertionWlroots.cpp
  LIBS murmelo_platform TIMEOUT 90)
add_dependencies(tst_TextInsertionWlroots murmelo-paste-target)
