# The run's private PostgreSQL server (native only), in the build tree: the
# fixture pg_cluster starts it before the tests that need it and stops it
# after them, even when they fail. Each such test gets a database of its own
# on it, named in REGKEY_TEST_PG_URI.
set(REGKEY_PG_CLUSTER_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/pg-cluster)
set(REGKEY_PG_CLUSTER_DIR ${CMAKE_BINARY_DIR}/pg-cluster)
# Clusters that tests start themselves (to stop or restart them) live below
# this folder; the fixture's cleanup stops any a killed test left running.
set(REGKEY_PG_PRIVATE_DIR ${CMAKE_BINARY_DIR}/pg-private)

# The URI of `database` on the run's server.
function(regkey_pg_uri out database)
  set(${out} "postgresql:///${database}?host=${REGKEY_PG_CLUSTER_DIR}/socket&port=5432&user=regkey"
      PARENT_SCOPE)
endfunction()

# regkey_pg_test(TEST [DATABASE NAME]): TEST needs the server; its database
# (TEST's name by default) is created by the fixture. ENVIRONMENT entries set
# here come after the test's own, so they win.
function(regkey_pg_test test)
  cmake_parse_arguments(ARG "" "DATABASE" "" ${ARGN})
  if(NOT ARG_DATABASE)
    set(ARG_DATABASE ${test})
  endif()
  string(TOLOWER "${ARG_DATABASE}" database)
  string(REGEX REPLACE "[^a-z0-9_]" "_" database "${database}")
  set_property(GLOBAL APPEND PROPERTY REGKEY_PG_DATABASES ${database})
  regkey_pg_uri(uri ${database})
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED pg_cluster)
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
    "REGKEY_TEST_PG_URI=${uri};REGKEY_TEST_PG_PRIVATE_DIR=${REGKEY_PG_PRIVATE_DIR}")
endfunction()

# Compiles the support header's knowledge of the script into a target.
function(regkey_pg_target target)
  target_compile_definitions(${target} PRIVATE
    REGKEY_PG_CLUSTER_SCRIPT="${REGKEY_PG_CLUSTER_SCRIPT}")
endfunction()

# The fixture itself, once every test has named its database.
function(regkey_pg_fixture)
  get_property(databases GLOBAL PROPERTY REGKEY_PG_DATABASES)
  add_test(NAME pg_cluster_start
           COMMAND ${REGKEY_PG_CLUSTER_SCRIPT} start ${REGKEY_PG_CLUSTER_DIR} --no-fsync ${databases})
  set_tests_properties(pg_cluster_start PROPERTIES FIXTURES_SETUP pg_cluster TIMEOUT 180)
  add_test(NAME pg_cluster_stop
           COMMAND ${CMAKE_COMMAND} -DSCRIPT=${REGKEY_PG_CLUSTER_SCRIPT}
                   -DCLUSTER=${REGKEY_PG_CLUSTER_DIR} -DPRIVATE=${REGKEY_PG_PRIVATE_DIR}
                   -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/pg_cluster_stop.cmake)
  set_tests_properties(pg_cluster_stop PROPERTIES FIXTURES_CLEANUP pg_cluster TIMEOUT 180)
endfunction()

# regkey_pg_rerun(TEST [VARIABLE NAME] [ARGS...]): runs TEST's program (a
# regkey_add_test program of the same name) a second time as
# TEST_on_postgres, unchanged, with NAME (by default REGKEY_STORE, this
# machine's whole registry) naming a database of its own on the run's server.
function(regkey_pg_rerun test)
  cmake_parse_arguments(ARG "" "VARIABLE" "ARGS" ${ARGN})
  if(NOT ARG_VARIABLE)
    set(ARG_VARIABLE REGKEY_STORE)
  endif()
  set(name ${test}_on_postgres)
  add_test(NAME ${name}
           COMMAND ${PROJECT_SOURCE_DIR}/cmake/run-gtest.sh ${REGKEY_TEST_TIMEOUT}
                   $<TARGET_FILE:${test}> ${ARG_ARGS})
  math(EXPR backstop "${REGKEY_TEST_TIMEOUT} + 60")
  regkey_pg_uri(uri ${name})
  set(env "${ARG_VARIABLE}=${uri};XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-home")
  if(NOT ARG_VARIABLE STREQUAL "REGKEY_STORE")
    string(APPEND env ";REGKEY_STORE=${CMAKE_CURRENT_BINARY_DIR}/${name}.regstore")
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${backstop} LABELS postgres ENVIRONMENT "${env}")
  regkey_pg_test(${name})
endfunction()
