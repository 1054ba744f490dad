#include "summarize_results_cli.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "atomic_output.h"
#include "cli.h"
#include "csv.h"
#include "data_error.h"
#include "experiment_results.h"
#include "manifest.h"
#include "manifest_cli.h"
#include "result_figures.h"
#include "text_line.h"

namespace {

const char kProgram[] = "summarize_results";

const CliOption kOutput = {"output", "FILE",
                           "write to FILE, complete or not at all (default standard output)"};
const CliOption kManifest = {"manifest", "FILE", "the experiment's manifest"};
const CliOption kTrainSet = {"train-set", "S", "the set the models are built from (default 0)"};
const CliOption kTestSets = {"test-sets", "LIST",
                             "the sets classified, e.g. 1,2 (default: every other set)"};
const CliOption kTitle = {"title", "TEXT", "the figure's title; a line break starts a new line"};

void write_output(const CliArgs& args, const std::string& text) {
  if (args.has("output")) {
    write_file_atomically(args.nonempty("output", ""), text);
  } else {
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
}

ResultKind read_kind(const CliArgs& args) {
  const std::string kind = args.text("kind");
  if (kind == "classification") return ResultKind::kClassification;
  if (kind == "direction") return ResultKind::kDirection;
  throw UsageError("--kind needs classification or direction, not \"" + kind + "\"");
}

std::vector<unsigned int> read_sets(const CliArgs& args, const char* name) {
  std::vector<unsigned int> sets;
  std::string why;
  if (args.has(name) && !parse_sets(args.text(name), &sets, &why))
    throw UsageError(std::string("--") + name + ": " + why);
  return sets;
}

unsigned int read_set(const CliArgs& args, const char* name, long fallback) {
  return static_cast<unsigned int>(args.whole(name, 0, 2147483647, fallback));
}

// "T tilts x E elevations E0-E1 deg x M magnitudes M0-M1" of the --space
// value, as the commands sample it on `manifest` (auto made of its lights).
std::string space_text(const CliArgs& args, const Manifest& manifest) {
  SpaceOption option;
  std::string why;
  if (args.has("space") && !parse_space(args.text("space"), &option, &why)) throw UsageError(why);
  const SpaceOption space = space_for(option, manifest);
  return std::to_string(space.tilts) + " tilts x " + std::to_string(space.elevations) +
         " elevations " + csv_number(space.elevation_from) + "-" + csv_number(space.elevation_to) +
         " deg x " + std::to_string(space.magnitudes) + " magnitudes " +
         csv_number(space.magnitude_from) + "-" + csv_number(space.magnitude_to);
}

// ---------------------------------------------------------------- the commands

int survey_body(const CliArgs& args) {
  const std::string manifest_file = args.nonempty("manifest", "");
  if (manifest_file.empty()) throw UsageError("--manifest is needed");
  const unsigned int train_set = read_set(args, "train-set", 0);
  const std::vector<unsigned int> test_sets = read_sets(args, "test-sets");
  const long direction_set = args.whole("direction-set", 0, 2147483647, -1);
  SpaceOption checked;
  std::string why;
  if (args.has("space") && !parse_space(args.text("space"), &checked, &why)) throw UsageError(why);
  const Manifest manifest(manifest_file);
  const std::string space = space_text(args, manifest);
  const ManifestSurvey survey = survey_manifest(manifest, train_set, test_sets, direction_set);
  write_output(args, "space " + space + "\n" + survey_text(survey));
  return 0;
}

int rows_body(const CliArgs& args) {
  const ResultKind kind = read_kind(args);
  std::string text;
  for (const std::string& file : args.operands) {
    const ResultTable results = read_result_table(file);
    if (results.records.empty()) data_error(file, 0, "the file holds no image's result");
    if (kind == ResultKind::kClassification) {
      for (const ClassificationRow& row : classification_rows(results)) text += program_row(row);
    } else {
      for (const DirectionRow& row : direction_rows(results)) text += program_row(row);
    }
  }
  write_output(args, text);
  return 0;
}

int merge_body(const CliArgs& args) {
  const std::string manifest_file = args.nonempty("manifest", "");
  if (manifest_file.empty()) throw UsageError("--manifest is needed");
  const Manifest manifest(manifest_file);
  std::vector<ResultTable> parts;
  for (const std::string& file : args.operands) parts.push_back(read_result_table(file));
  write_output(args, merge_results(manifest, parts));
  return 0;
}

int confusion_body(const CliArgs& args) {
  const std::string manifest_file = args.nonempty("manifest", "");
  if (manifest_file.empty()) throw UsageError("--manifest is needed");
  const unsigned int train_set = read_set(args, "train-set", 0);
  const std::vector<unsigned int> test_sets = read_sets(args, "test-sets");
  const Manifest manifest(manifest_file);
  const ManifestSurvey survey = survey_manifest(manifest, train_set, test_sets, -1);
  const ResultTable results = read_result_table(args.operands[0]);
  write_output(args, confusion_csv(confusion_matrix(survey, results)));
  return 0;
}

int confusion_svg_body(const CliArgs& args) {
  const ConfusionMatrix matrix = read_confusion(read_result_table(args.operands[0]));
  write_output(args, confusion_svg(matrix, args.text("title", "Confusion matrix")));
  return 0;
}

int directions_svg_body(const CliArgs& args) {
  const ResultTable estimates = read_result_table(args.operands[0]);
  write_output(args, directions_svg(estimates, args.text("title", "Light directions"),
                                    args.has("y-up") ? LightFrame::kYUp : LightFrame::kImage));
  return 0;
}

int table_body(const CliArgs& args) {
  const ResultKind kind = read_kind(args);
  const std::string format = args.text("format");
  if (format != "tex" && format != "csv")
    throw UsageError("--format needs tex or csv, not \"" + format + "\"");
  TableNotes notes;
  notes.models = args.whole("models", 0, 2147483647, 0);
  notes.manifest = args.has("test-sets");
  if (notes.manifest) {
    read_sets(args, "test-sets");
    notes.test_sets = args.text("test-sets");
    notes.model_set = read_set(args, "model-set", 0);
    notes.direction_set = read_set(args, "direction-set", 0);
  } else if (args.has("model-set") || args.has("direction-set")) {
    throw UsageError("--model-set and --direction-set go with --test-sets");
  }
  // The rows, one a line, from the file or standard input.
  const bool from_file = !args.operands.empty();
  const std::string file = from_file ? args.operands[0] : "standard input";
  std::FILE* stream = from_file ? std::fopen(file.c_str(), "rb") : stdin;
  if (!stream) read_error(file, errno);
  std::vector<std::string> rows;
  {
    LineReader lines(stream, file);
    std::string line;
    try {
      while (lines.next(line)) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        rows.push_back(line);
      }
    } catch (...) {
      if (from_file) std::fclose(stream);
      throw;
    }
  }
  if (from_file) std::fclose(stream);
  write_output(args, format == "tex" ? latex_table(kind, rows, notes, file)
                                     : csv_table(kind, rows, notes, file));
  return 0;
}

int summary_body(const CliArgs& args) {
  if (!args.has("classification") || !args.has("direction"))
    throw UsageError("--classification and --direction are needed");
  if (args.has("estimates") == args.has("direction-images"))
    throw UsageError("give --estimates or --direction-images");
  const ResultTable classification = read_result_table(args.nonempty("classification", ""));
  const ResultTable direction = read_result_table(args.nonempty("direction", ""));
  long estimates = args.whole("estimates", 0, 2147483647, 0);
  if (args.has("direction-images"))
    estimates =
        static_cast<long>(read_result_table(args.nonempty("direction-images", "")).records.size());
  ResultTable labelled;
  if (args.has("classification-images"))
    labelled = read_result_table(args.nonempty("classification-images", ""));
  write_output(args, summary_text(classification, direction, estimates,
                                  args.has("classification-images") ? &labelled : nullptr));
  return 0;
}

// ---------------------------------------------------------------- the table of commands

struct Command {
  const char* name;
  const char* summary;  // one line for the overview
  const char* synopsis;
  const char* description;
  std::vector<CliOption> options;
  std::size_t min_operands, max_operands;
  int (*body)(const CliArgs&);
};

const std::vector<Command>& commands() {
  static const std::vector<Command> kCommands = {
      {"survey",
       "which surfaces have a model, are classified, get a direction job",
       "--manifest FILE [options]",
       "What the main job does with each surface of the manifest: prints the sets\n"
       "(\"sets 0 1 2\", \"train-set S\", \"test-sets LIST\", \"direction-set T\"), the\n"
       "counts (\"images N\", \"models N\", \"labelled N\"), the illumination space\n"
       "(\"space ...\") and per surface, in the manifest's order, \"surface M C D NAME\":\n"
       "M 1 when it has a model (images of the training set), C 1 when it is\n"
       "classified (images of a test set), D 1 when its lights are estimated (a\n"
       "model and images of the direction set). A surface classified without a\n"
       "model is labelled. A set the manifest lacks is a data error.",
       {kManifest,
        kTrainSet,
        kTestSets,
        {"direction-set", "T",
         "the set whose lights are estimated (default: the lowest\ntest set)"},
        {"space", "LIST", "the sampled light vectors as classify_images takes them"},
        kOutput},
       0,
       0,
       survey_body},
      {"rows",
       "per-surface rows of per-image results, as the programs print them",
       "--kind classification|direction FILE...",
       "Prints the per-surface rows of per-image results (classify_images or\n"
       "estimate_light output), each as classify_experiment or direction_experiment\n"
       "prints it, in the order the surfaces first appear. Labelled images (no model\n"
       "of their surface) make no row.",
       {{"kind", "KIND", "classification or direction"}, kOutput},
       1,
       1000000,
       rows_body},
      {"merge",
       "per-image result files in the manifest's order",
       "--manifest FILE [FILE...]",
       "Writes the records of the per-image result files, all of one command, in the\n"
       "manifest's order under their header; no files give an empty output.",
       {kManifest, kOutput},
       0,
       1000000,
       merge_body},
      {"confusion",
       "the confusion matrix of classify_images output, as CSV",
       "--manifest FILE [options] CLASSIFICATIONS.csv",
       "Writes the confusion matrix of a classify_images output as CSV: the models\n"
       "(surfaces with images of the training set) as columns and as the first rows,\n"
       "in the manifest's order, then the labelled surfaces as rows of their own.",
       {kManifest, kTrainSet, kTestSets, kOutput},
       1,
       1,
       confusion_body},
      {"confusion-svg",
       "that matrix drawn as SVG",
       "[options] CONFUSION.csv",
       "Draws the confusion matrix that `confusion` wrote as SVG.",
       {kTitle, kOutput},
       1,
       1,
       confusion_svg_body},
      {"directions-svg",
       "the lights and their estimates drawn as SVG",
       "[options] DIRECTIONS.csv",
       "Draws the lights of an estimate_light output and their estimates as SVG, a\n"
       "polar plot per surface.",
       {kTitle,
        {"y-up", "",
         "the lights' y axis points up: tilt 90 is drawn up (default: the\nimage frame, tilt 90 "
         "down)"},
        kOutput},
       1,
       1,
       directions_svg_body},
      {"table",
       "the LaTeX or CSV table of the programs' rows",
       "--kind KIND --format tex|csv [options] [ROWS]",
       "Writes the table of the programs' rows (one a line in ROWS, or standard input;\n"
       "\"!NAME\" for a surface whose run failed) as LaTeX (booktabs) or CSV.",
       {{"kind", "KIND", "classification or direction"},
        {"format", "FORMAT", "tex or csv"},
        {"models", "N", "the models of the database, for the LaTeX comment"},
        {"test-sets", "LIST",
         "the data is a manifest's with these test sets: names may hold any\ncharacter and "
         "are escaped for LaTeX"},
        {"model-set", "S", "with --test-sets: the models' set"},
        {"direction-set", "T", "with --test-sets: the set whose lights were estimated"},
        kOutput},
       0,
       1,
       table_body},
      {"summary",
       "the summary lines of a run",
       "--classification FILE --direction FILE [options]",
       "Prints the summary lines of a run from its CSV tables.",
       {{"classification", "FILE", "classification.csv"},
        {"direction", "FILE", "direction.csv"},
        {"estimates", "N", "the estimates the direction rows stand for"},
        {"direction-images", "FILE", "or count them in this estimate_light output"},
        {"classification-images", "FILE", "a classify_images output: counts its labelled images"},
        kOutput},
       0,
       0,
       summary_body},
  };
  return kCommands;
}

std::string overview() {
  std::string text = std::string("Usage: ") + kProgram +
                     " COMMAND [options] [FILE...]\n"
                     "Reads manifests and per-image results for scripts/run_experiments.\n\n"
                     "Commands (COMMAND --help for each):\n";
  for (const Command& c : commands()) {
    const std::string name = std::string("  ") + c.name;
    text += name + std::string(name.size() < 18 ? 18 - name.size() : 1, ' ') + c.summary + "\n";
  }
  return text;
}

}  // namespace

int summarize_results(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "-h" || command == "--help") {
    std::fputs(overview().c_str(), stdout);
    return 0;
  }
  for (const Command& c : commands()) {
    if (command != c.name) continue;
    const CliSpec spec{std::string(kProgram) + " " + c.name,
                       c.synopsis,
                       c.description,
                       c.options,
                       "",
                       c.min_operands,
                       c.max_operands};
    return run_cli(spec, argc - 1, argv + 1, c.body);
  }
  const std::string reason =
      command.empty() ? "a command is needed" : "unknown command \"" + command + "\"";
  std::fprintf(stderr, "%s: %s\n\n%s", kProgram, reason.c_str(), overview().c_str());
  return kExitUsage;
}
