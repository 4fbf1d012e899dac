# The engine's folders, lowest first; the check fails on an include that runs upwards.
# Run as: cmake -DSOURCE_DIR=<repo> -P CheckEngineLayers.cmake
set(ROOT "${SOURCE_DIR}/engine/src")
set(LAYERS common config tls transport outbound group dns route runtime inbound api top)
set(TOP top)
# The rule-set reader and the public header live outside engine/src.
set(SKIP "^(ruleset/|qivroengine\\.h$)")
set(WHAT engine)
include("${CMAKE_CURRENT_LIST_DIR}/CheckLayers.cmake")
