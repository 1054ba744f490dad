# End-to-end test of scripts/run_experiments on tiny data with the programs
# built here (its --bin-dir skips installing and building). It needs GNU
# parallel and gnuplot (scripts/install_dependencies) and reports "skipped"
# without them.
add_test(NAME run_experiments
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/test_run_experiments.sh
                 ${PROJECT_SOURCE_DIR}/scripts/run_experiments ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set_tests_properties(run_experiments PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
