# End-to-end test of scripts/run_experiments on tiny data with the programs
# built here (its --bin-dir skips installing and building). It needs GNU
# parallel and gnuplot (scripts/install_dependencies) and reports "skipped"
# without them, a failure where CI=true.
add_test(NAME run_experiments
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/no_skip_in_ci.sh
                 bash ${CMAKE_CURRENT_LIST_DIR}/test_run_experiments.sh
                 ${PROJECT_SOURCE_DIR}/scripts/run_experiments ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set_tests_properties(run_experiments PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
if(TI_TEST_ENVIRONMENT)
  set_tests_properties(run_experiments PROPERTIES ENVIRONMENT "${TI_TEST_ENVIRONMENT}")
endif()

# The same over a real ssh server (Debian's openssh-server, started by the
# test on 127.0.0.1 as root): "skipped" where it cannot run, a failure where
# CI=true.
add_test(NAME run_experiments_ssh
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/no_skip_in_ci.sh
                 bash ${CMAKE_CURRENT_LIST_DIR}/test_run_experiments_ssh.sh
                 ${PROJECT_SOURCE_DIR}/scripts/run_experiments ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set_tests_properties(run_experiments_ssh PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
if(TI_TEST_ENVIRONMENT)
  set_tests_properties(run_experiments_ssh PROPERTIES ENVIRONMENT "${TI_TEST_ENVIRONMENT}")
endif()
