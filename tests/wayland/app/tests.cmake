murmelo_add_test(tst_WaylandDictation LABEL wayland SOURCES app/tst_WaylandDictation.cpp LIBS murmelo_core TIMEOUT 90)
add_dependencies(tst_WaylandDictation murmelo murmelo-paste-target murmelo-portal-mock)
