# Every Windows program of the build runs under Wine through the build tree's runner.
set(QUILLON_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(QUILLON_SESSION_DIR ${CMAKE_BINARY_DIR}/wine-session)
math(EXPR QUILLON_TARGET_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
               @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

enable_testing()

# One display and one warm wineserver for the whole test run.
add_test(NAME wine_session_start
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session.sh start ${CMAKE_BINARY_DIR})
add_test(NAME wine_session_stop
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session.sh stop ${CMAKE_BINARY_DIR})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
