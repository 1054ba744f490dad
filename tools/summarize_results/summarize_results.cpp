// summarize_results: the main job's reading of manifests and per-image
// results, and its tables and figures (--help).
#include "program.h"
#include "summarize_results_cli.h"

int main(int argc, char** argv) { return run_program(argc, argv, summarize_results); }
