// summarize_results: the main job's reading of manifests and results, one
// command per step (survey, rows, merge, confusion, confusion-svg,
// directions-svg, table, summary), over experiment_results and
// result_figures.
#ifndef TI_SUMMARIZE_RESULTS_CLI_H
#define TI_SUMMARIZE_RESULTS_CLI_H

// The program (run it through run_program); returns the exit status:
// 0, 1 for a data error, 2 for a wrong command line.
int summarize_results(int argc, char** argv);

#endif
