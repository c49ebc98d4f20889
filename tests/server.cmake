# The throwaway MariaDB server that the server-backed test programs run in.
# mariadb_start / mariadb_stop bracket every test that requires the fixture.
set(FENNROW_TEST_SERVER_DIR ${CMAKE_BINARY_DIR}/test-server)
set(FENNROW_TEST_SERVER_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/server/mariadb-test-server.sh)

add_test(NAME mariadb_start
  COMMAND bash ${FENNROW_TEST_SERVER_SCRIPT} start ${FENNROW_TEST_SERVER_DIR})
set_tests_properties(mariadb_start PROPERTIES
  FIXTURES_SETUP mariadb
  LABELS server
  TIMEOUT 300)

add_test(NAME mariadb_stop
  COMMAND bash ${FENNROW_TEST_SERVER_SCRIPT} stop ${FENNROW_TEST_SERVER_DIR})
set_tests_properties(mariadb_stop PROPERTIES
  FIXTURES_CLEANUP mariadb
  LABELS server
  TIMEOUT 120)
