// What the main job makes of the experiments' results: the survey of a
// manifest (which surfaces have a model, which are classified, which get a
// direction estimate), the per-surface rows from the per-image results of
// classify_images and estimate_light, those results in the manifest's order,
// the confusion matrix, the tables (LaTeX and CSV) of the programs' rows and
// the run's summary lines. scripts/run_experiments calls these through
// summarize_results and reads no manifest or CSV file itself.
//
// Files are read with the project's one manifest reader (manifest.h) and one
// CSV reader and writer (csv.h). Every reader raises a DataError naming the
// file and, where it helps, the line; nothing is written then. Functions
// return text; none writes a file.
//
// Numbers come out exactly as the experiment programs print them: shares
// "%.2f", means and population standard deviations "%.3f" (statistics.h,
// summed in the order given), whatever the process's locale.
#ifndef TI_EXPERIMENT_RESULTS_H
#define TI_EXPERIMENT_RESULTS_H

#include <cstdio>
#include <string>
#include <vector>

#include "manifest.h"

// ---------------------------------------------------------------- per-image files

// A CSV file of per-image results (or any CSV file with a header line):
// every record has as many fields as the header; empty lines are skipped.
struct ResultTable {
  std::string file;                               // the file's name, for messages
  std::vector<std::string> header;                // the column names; empty for an empty file
  std::vector<std::vector<std::string>> records;  // the records after the header, in order
  std::vector<long> lines;                        // the line each record begins on

  // The index of column `name`; a DataError naming the file when the header
  // lacks it.
  size_t column(const std::string& name) const;
  // Raises a DataError naming the file and the line of record `record`.
  [[noreturn]] void fail(size_t record, const std::string& message) const;
  // The field as a number written as csv_number writes one (plain decimal
  // notation, or nan, inf, -inf), read in the "C" locale; anything else is a
  // DataError naming the file, line and column.
  double number(size_t record, size_t column) const;
  // The field as a whole number of at least 0; anything else is a DataError.
  long whole(size_t record, size_t column) const;
};

// Reads a whole result table from `stream`; `file` names it in messages. A
// record with another number of fields than the header is a DataError.
ResultTable read_result_table(std::FILE* stream, const std::string& file);
// The same from a file; one that cannot be opened is a DataError.
ResultTable read_result_table(const std::string& path);

// ---------------------------------------------------------------- manifest survey

// A surface of the manifest and what the main job does with it.
struct SurveyedSurface {
  std::string name;
  bool model = false;       // has images of the training set: a model in the database
  bool classified = false;  // has images of a test set: a classify_images job
  bool direction = false;   // a model and images of the direction set: an estimate_light job
  long test_images = 0;     // its images of the test sets
};

// The sets of an experiment on a manifest and its surfaces in the
// manifest's order. A surface with test images but no model is labelled:
// its images are classified, with no measure of their own surface.
struct ManifestSurvey {
  std::vector<unsigned int> sets;       // every set of the manifest, ascending
  unsigned int train_set = 0;           // the models' set
  std::vector<unsigned int> test_sets;  // the sets classified, as given or ascending
  unsigned int direction_set = 0;       // the set whose lights are estimated
  size_t images = 0;                    // the images the manifest lists
  std::vector<SurveyedSurface> surfaces;

  size_t models() const;    // the surfaces with a model (the database's size)
  size_t labelled() const;  // the surfaces classified without a model
};

// Surveys the manifest for a run with models of `train_set`, the test sets
// `test_sets` (empty: every other set of the manifest, ascending) and the
// lights of `direction_set` (negative: the lowest test set). A set the
// manifest does not hold is a DataError naming the manifest and its sets.
ManifestSurvey survey_manifest(const Manifest& manifest, unsigned int train_set,
                               const std::vector<unsigned int>& test_sets, long direction_set);

// The survey as lines for a script: "sets 0 1 2", "train-set 0",
// "test-sets 1,2", "direction-set 1", "images N", "models N", "labelled N",
// then per surface "surface M C D NAME" (M model, C classified, D direction:
// 1 or 0; the name to the end of the line, as it stands).
std::string survey_text(const ManifestSurvey& survey);

// ---------------------------------------------------------------- per-surface rows

// A surface's classification over its images: what classify_experiment
// prints for the 36 test images of the generated data.
struct ClassificationRow {
  std::string surface;
  long images = 0;   // its images in the results
  long correct = 0;  // predicted as itself
  long top3 = 0;     // with at most 2 models nearer than its own
  double ratio_mean = 0, ratio_sd = 0;
};

// The rows of the surfaces with a model, in the order they first appear in
// a classify_images output (columns surface, predicted, nearer, ratio).
// Images with empty `nearer` and `ratio` are labelled (no model of their
// surface) and make no row; a surface with both kinds of images, or a
// field that is not a number, is a DataError naming the file and line.
std::vector<ClassificationRow> classification_rows(const ResultTable& results);

// A surface's light estimates: what direction_experiment prints.
struct DirectionRow {
  std::string surface;
  long images = 0;
  long hits = 0;            // estimate within 15 degrees of the light
  long hits_with_twin = 0;  // of the light or of its 180-degree tilt twin
  double better_mean = 0, better_sd = 0, ratio_mean = 0, ratio_sd = 0;
};

// The rows of every surface of an estimate_light output (columns surface,
// error, twin_error, better_share, ratio), in order of first appearance.
std::vector<DirectionRow> direction_rows(const ResultTable& results);

// The row as the program prints it, line break included:
//   name&correct&top3&mean \ sd\\                                   (classification)
//   name&hits~/~with_twin&better_mean~/~sd&ratio_mean~/~sd\\        (direction)
std::string program_row(const ClassificationRow& row);
std::string program_row(const DirectionRow& row);

// ---------------------------------------------------------------- merging

// The records of `parts` (outputs of one command on parts of the manifest)
// as one CSV text in the manifest's order, under their common header. A
// record whose (surface, set, image) the manifest does not list, or that
// is met twice, and headers that differ are DataErrors naming the file
// (and line). No parts give an empty text.
std::string merge_results(const Manifest& manifest, const std::vector<ResultTable>& parts);

// ---------------------------------------------------------------- confusion matrix

// Images of each true surface (rows) by predicted surface (columns). The
// columns are the models; the first `known` rows are the same surfaces in
// the same order, and the rows below them the labelled surfaces, whose
// counts are predictions, not errors.
struct ConfusionMatrix {
  std::vector<std::string> models;        // the columns, in the manifest's order
  std::vector<std::string> surfaces;      // the rows
  size_t known = 0;                       // rows that are models (the first ones)
  std::vector<std::vector<long>> counts;  // counts[row][column]
};

// The matrix of a classify_images output over the survey's models and
// labelled surfaces. A surface or a prediction outside them is a DataError
// naming the file and line.
ConfusionMatrix confusion_matrix(const ManifestSurvey& survey, const ResultTable& results);

// As CSV: the header "true\predicted,MODEL...", then "SURFACE,COUNT..." per row.
std::string confusion_csv(const ConfusionMatrix& matrix);
// Reads that CSV back; the known rows are the leading rows named as the
// columns. A count that is not a whole number is a DataError.
ConfusionMatrix read_confusion(const ResultTable& table);

// ---------------------------------------------------------------- tables

enum class ResultKind { kClassification, kDirection };

// What a table's LaTeX comment says of its data.
struct TableNotes {
  long models = 0;        // models of the database; 0: "the database's"
  bool manifest = false;  // the data is a manifest's (sets below, names escaped)
  std::string test_sets;  // with manifest: "1,2"
  unsigned int model_set = 0, direction_set = 0;
};

// The LaTeX table (booktabs) of the programs' rows, in the order given: the
// rows byte for byte (with `manifest`, each name escaped for LaTeX), and a
// comment line for "!NAME", a surface whose run failed. A row that does not
// have the kind's form is a DataError naming `file` and the row's line.
std::string latex_table(ResultKind kind, const std::vector<std::string>& rows,
                        const TableNotes& notes, const std::string& file);
// The same figures as CSV, one column per number (a \ b and a ~/~ b split
// in two), the failed surfaces left out.
std::string csv_table(ResultKind kind, const std::vector<std::string>& rows,
                      const TableNotes& notes, const std::string& file);

// ---------------------------------------------------------------- summary

// The summary lines of a run from its CSV tables (csv_table): the mean
// shares, the direction hits out of `estimates`, and, when `labelled`
// holds a classify_images output, its labelled images.
std::string summary_text(const ResultTable& classification, const ResultTable& direction,
                         long estimates, const ResultTable* labelled);

#endif
