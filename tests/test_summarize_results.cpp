// Tests of what the main job makes of manifests and per-image results
// (tools/summarize_results): the survey of a manifest with labelled
// surfaces, the per-surface rows, the merge into the manifest's order with
// names that need quoting, the confusion matrix and its CSV round trip, the
// tables' bytes, the figures' light frame, and the program's data errors.
// That the rows equal the programs' own rows byte for byte is checked on
// rendered data in test_experiments.cpp (PerImageResultsAggregateToTheProgramsRows).
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "csv.h"
#include "data_error.h"
#include "experiment_results.h"
#include "result_figures.h"
#include "test_support.h"

namespace {

// The table read from `text` as if from a file named `file`.
ResultTable table_of(const std::string& text, const std::string& file = "t.csv") {
  std::FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  ResultTable t = read_result_table(f, file);
  std::fclose(f);
  return t;
}

// The message of the DataError that `action` raises ("" when none).
std::string error_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const DataError& e) {
    return e.what();
  }
  return "";
}

const char kClassified[] = "surface,set,image,predicted,nearer,ratio\n";

// Surfaces a (a model, classified, lights estimated), new (test images
// only: labelled), spare (a model, no test image) and "b, c" (labelled, in
// set 3 only).
const char kManifest[] =
    "surface,set,image,slant,tilt\n"
    "a,0,a0.pgm,45,0\n"
    "a,1,a1.pgm,45,0\n"
    "a,2,a2.pgm,45,0\n"
    "new,2,n2.pgm,45,0\n"
    "spare,0,s0.pgm,45,0\n"
    "\"b, c\",3,b3.pgm,45,0\n";

}  // namespace

TEST(classification_rows, Nominal) {
  const ResultTable t = table_of(std::string(kClassified) +
                                 "a,1,i1,a,0,0\n"
                                 "\"b, c\",1,j1,a,3,0.5\n"
                                 "a,1,i2,a,0,0.1\n"
                                 "new,1,k1,a,,\n"
                                 "a,1,i3,x,3,0.5\n"
                                 "\"b, c\",1,j2,\"b, c\",0,0\n"
                                 "a,1,i4,a,1,0.2\n");
  const std::vector<ClassificationRow> rows = classification_rows(t);
  ASSERT_EQ(rows.size(), 2u);  // the labelled surface `new` has none
  EXPECT_EQ(program_row(rows[0]), "a&0.75&0.75&0.200 \\ 0.187\\\\\n");
  EXPECT_EQ(program_row(rows[1]), "b, c&0.50&0.50&0.250 \\ 0.250\\\\\n");
}

TEST(classification_rows, ASurfaceWithAndWithoutAModelIsRefused) {
  const ResultTable t = table_of(std::string(kClassified) + "a,1,i1,a,0,0\na,1,i2,a,,\n");
  EXPECT_EQ(error_of([&] { classification_rows(t); }),
            "t.csv:3: the surface \"a\" has images with and without a model (nearer and ratio "
            "empty)\n");
  const ResultTable bad = table_of(std::string(kClassified) + "a,1,i1,a,0,0\na,1,i2,a,1,0.5x\n");
  EXPECT_EQ(error_of([&] { classification_rows(bad); }),
            "t.csv:3: the ratio \"0.5x\" is not a number\n");
}

TEST(direction_rows, Nominal) {
  const std::string header =
      "surface,set,image,slant,tilt,est_x,est_y,est_z,est_slant,est_tilt,error,twin_error,"
      "better_share,ratio\n";
  const ResultTable t = table_of(header +
                                 "s,1,p1,45,0,1,0,1,45,0,10,80,0.1,0.2\n"
                                 "s,1,p2,45,90,0,1,1,45,90,20,5,0.2,0.4\n"
                                 "s,1,p3,45,180,-1,0,1,45,180,30,30,0.3,0.6\n");
  const std::vector<DirectionRow> rows = direction_rows(t);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(program_row(rows[0]), "s&1~/~2&0.200~/~0.082&0.400~/~0.163\\\\\n");
  // A ratio of 0 / 0 is written "nan" and read back as such.
  const ResultTable nan = table_of(header + "s,1,p1,45,0,1,0,1,45,0,10,80,0.1,nan\n");
  EXPECT_NE(program_row(direction_rows(nan)[0]).find("~/~nan"), std::string::npos);
  const ResultTable bad = table_of(header + "s,1,p1,45,0,1,0,1,45,0,ten,80,0.1,0.2\n");
  EXPECT_EQ(error_of([&] { direction_rows(bad); }), "t.csv:2: the error \"ten\" is not a number\n");
}

TEST(survey_manifest, LabelledAndModelOnlySurfaces) {
  TempDir dir;
  write_file(dir / "m.csv", kManifest);
  const Manifest manifest(dir / "m.csv");
  EXPECT_EQ(survey_text(survey_manifest(manifest, 0, {}, -1)),
            "sets 0 1 2 3\ntrain-set 0\ntest-sets 1,2,3\ndirection-set 1\nimages 6\nmodels 2\n"
            "labelled 2\n"
            "surface 1 1 1 a\nsurface 0 1 0 new\nsurface 1 0 0 spare\nsurface 0 1 0 b, c\n");
  // The sets as given; `a` has no image of the direction set 3.
  const ManifestSurvey given = survey_manifest(manifest, 0, {3, 2}, 3);
  EXPECT_NE(survey_text(given).find("\ntest-sets 3,2\ndirection-set 3\n"), std::string::npos);
  EXPECT_FALSE(given.surfaces[0].direction);
  EXPECT_EQ(given.surfaces[0].test_images, 1);
  EXPECT_EQ(error_of([&] {
              survey_manifest(manifest, 0, {1, 5}, -1);
            }),
            dir / "m.csv" + ": the manifest has no image of the test set 5 (its sets: 0 1 2 3)\n");
  EXPECT_EQ(
      error_of([&] { survey_manifest(manifest, 4, {}, -1); }),
      dir / "m.csv" + ": the manifest has no image of the training set 4 (its sets: 0 1 2 3)\n");
  write_file(dir / "one.csv", "surface,set,image,slant,tilt\na,0,a0.pgm,45,0\n");
  EXPECT_EQ(error_of([&] { survey_manifest(Manifest(dir / "one.csv"), 0, {}, -1); }),
            dir / "one.csv" + ": the manifest has no set besides the training set 0 to test\n");
}

TEST(merge_results, ManifestOrderWithNamesThatNeedQuoting) {
  TempDir dir;
  const std::vector<std::string> names = {"wall, brick", "say \"hi\" there", " spaced "};
  std::string manifest = "surface,set,image,slant,tilt\n";
  for (int q : {1, 2})
    for (const std::string& name : names)
      append_csv_record(manifest, {name, std::to_string(q), name + ".pgm", "45", "0"});
  write_file(dir / "m.csv", manifest);
  const Manifest m(dir / "m.csv");
  // Each part as classify_images writes one, the records out of order.
  auto record = [&](int surface, int set) {
    std::string line;
    append_csv_record(line, {names[surface], std::to_string(set), names[surface] + ".pgm", names[0],
                             "0", "0.25"});
    return line;
  };
  const std::string header = kClassified;
  const std::vector<ResultTable> parts = {
      table_of(header + record(1, 2) + record(1, 1), "p1.csv"),
      table_of(header + record(2, 2) + record(0, 1) + record(2, 1) + record(0, 2), "p2.csv"),
      table_of("", "empty.csv")};
  EXPECT_EQ(merge_results(m, parts), header + record(0, 1) + record(1, 1) + record(2, 1) +
                                         record(0, 2) + record(1, 2) + record(2, 2));
  EXPECT_EQ(merge_results(m, {}), "");

  const ResultTable twice = table_of(header + record(1, 1), "p3.csv");
  EXPECT_EQ(error_of([&] {
              merge_results(m, {parts[0], twice});
            }),
            "p3.csv:2: surface \"say \"hi\" there\", set 1, image \"say \"hi\" there.pgm\" is "
            "given twice (also in p1.csv, line 3)\n");
  const ResultTable stranger = table_of(header + "wall,1,wall.pgm,wall,0,0\n", "p4.csv");
  EXPECT_EQ(error_of([&] { merge_results(m, {stranger}); }),
            "p4.csv:2: surface \"wall\", set 1, image \"wall.pgm\" is not listed in " +
                (dir / "m.csv") + "\n");
  const ResultTable other = table_of("surface,set,image,slant\n", "p5.csv");
  EXPECT_EQ(error_of([&] {
              merge_results(m, {parts[0], other});
            }),
            "p5.csv:1: the header is not that of p1.csv\n");
}

TEST(confusion_matrix, LabelledSurfacesAreRowsBelowTheModels) {
  TempDir dir;
  write_file(dir / "m.csv", kManifest);
  const ManifestSurvey survey = survey_manifest(Manifest(dir / "m.csv"), 0, {}, -1);
  const ResultTable results = table_of(std::string(kClassified) +
                                       "a,1,a1.pgm,a,0,0\n"
                                       "a,2,a2.pgm,spare,1,0.5\n"
                                       "new,2,n2.pgm,a,,\n"
                                       "\"b, c\",3,b3.pgm,spare,,\n");
  const ConfusionMatrix m = confusion_matrix(survey, results);
  const std::string csv = confusion_csv(m);
  EXPECT_EQ(csv, "true\\predicted,a,spare\na,1,1\nspare,0,0\nnew,1,0\n\"b, c\",0,1\n");
  EXPECT_EQ(m.known, 2u);
  // Read back: the same matrix, the labelled rows told from the known ones.
  const ConfusionMatrix back = read_confusion(table_of(csv));
  EXPECT_EQ(back.models, m.models);
  EXPECT_EQ(back.surfaces, m.surfaces);
  EXPECT_EQ(back.counts, m.counts);
  EXPECT_EQ(back.known, 2u);

  const ResultTable stranger = table_of(std::string(kClassified) + "a,1,a1.pgm,zz,0,0\n");
  EXPECT_EQ(error_of([&] { confusion_matrix(survey, stranger); }),
            "t.csv:2: the predicted surface \"zz\" is no model of the training set\n");
  EXPECT_EQ(error_of([&] { read_confusion(table_of("true\\predicted,a\na,-1\n")); }),
            "t.csv:2: the a \"-1\" is not a whole number\n");
}

TEST(latex_table, TheProgramsRowsAndFailedSurfaces) {
  const std::vector<std::string> rows = {"aaa&1.00&1.00&0.000 \\ 0.000\\\\", "!aab",
                                         "aaj&0.36&1.00&0.001 \\ 0.001\\\\"};
  TableNotes notes;
  notes.models = 3;
  EXPECT_EQ(latex_table(ResultKind::kClassification, rows, notes, "rows"),
            "% Written by scripts/run_experiments; needs \\usepackage{booktabs}.\n"
            "% Share of the 36 test images of each surface (image sets 1 to 3) classified\n"
            "% correctly and within the 3 nearest of the 3 models, and the relative distance.\n"
            "\\begin{tabular}{lccc}\n"
            "\\toprule\n"
            "Surface & Correct & In top 3 & Relative distance (mean, sd) \\\\\n"
            "\\midrule\n"
            "aaa&1.00&1.00&0.000 \\ 0.000\\\\\n"
            "% aab: no result, its run failed\n"
            "aaj&0.36&1.00&0.001 \\ 0.001\\\\\n"
            "\\bottomrule\n"
            "\\end{tabular}\n");
  EXPECT_EQ(csv_table(ResultKind::kClassification, rows, notes, "rows"),
            "surface,share_correct,share_top3,distance_mean,distance_sd\n"
            "aaa,1.00,1.00,0.000,0.000\naaj,0.36,1.00,0.001,0.001\n");

  // A manifest's names may hold anything: LaTeX escapes, CSV quotes.
  const std::vector<std::string> named = {
      "a&b \\~^%$#_{}, x&4~/~12&0.003~/~0.002&0.020~/~0.012\\\\"};
  notes.manifest = true;
  notes.test_sets = "1,2";
  const std::string tex = latex_table(ResultKind::kDirection, named, notes, "rows");
  EXPECT_NE(tex.find("\na\\&b \\textbackslash{}\\textasciitilde{}\\textasciicircum{}\\%\\$\\#\\_\\{"
                     "\\}, x&4~/~12&0.003~/~0.002&0.020~/~0.012\\\\\n"),
            std::string::npos)
      << tex;
  const std::string csv = csv_table(ResultKind::kDirection, named, notes, "rows");
  EXPECT_EQ(csv.substr(csv.find('\n') + 1), "\"a&b \\~^%$#_{}, x\",4,12,0.003,0.002,0.020,0.012\n");
  // Without a manifest a name holds no '&'; a row that is none is named.
  notes.manifest = false;
  EXPECT_EQ(error_of([&] { latex_table(ResultKind::kDirection, named, notes, "rows"); }),
            "rows:1: expected 4 fields separated by &, found 5\n");
  EXPECT_EQ(error_of([&] {
              csv_table(ResultKind::kDirection, {"!x", "a&1&2&3"}, notes, "rows");
            }),
            "rows:2: the row does not end with \\\\\n");
}

TEST(directions_svg, TheFrameDecidesWhereTilt90Goes) {
  const ResultTable t = table_of(
      "surface,slant,tilt,est_slant,est_tilt,error,twin_error\n"
      "<a&b>,90,90,45,90,5,170\n"
      "<a&b>,45,0,45,180,170,5\n"
      "<a&b>,45,180,30,0,100,50\n");
  for (const LightFrame frame : {LightFrame::kImage, LightFrame::kYUp}) {
    const std::string svg = directions_svg(t, "Lights\nsecond line", frame);
    SCOPED_TRACE(frame == LightFrame::kYUp ? "y up" : "image frame");
    EXPECT_NE(svg.find(frame == LightFrame::kYUp ? "90 up)</text>" : "90 down)</text>"),
              std::string::npos);
    EXPECT_NE(svg.find(">&lt;a&amp;b&gt;</text>"), std::string::npos);
    EXPECT_NE(svg.find("1 of 3 within 15 deg, 2 with twin"), std::string::npos);
    // The rings are centred on the panel; the light of slant 90 and tilt
    // 90 lies on the outer ring, below the centre or above it.
    std::smatch ring, dot;
    ASSERT_TRUE(std::regex_search(
        svg, ring, std::regex("<circle cx=\"([0-9.]+)\" cy=\"([0-9.]+)\" r=\"70\"")));
    ASSERT_TRUE(std::regex_search(
        svg, dot, std::regex("<circle cx=\"([0-9.]+)\" cy=\"([0-9.]+)\" r=\"2.2\"")));
    EXPECT_EQ(dot[1], ring[1]);
    EXPECT_EQ(std::stod(dot[2]) - std::stod(ring[2]), frame == LightFrame::kYUp ? -70 : 70);
    // One marker per estimate (hit, twin, miss) and the legend's three.
    const std::regex markers("r=\"3.2\"|width=\"6\"|<path d=");
    EXPECT_EQ(std::distance(std::sregex_iterator(svg.begin(), svg.end(), markers),
                            std::sregex_iterator()),
              6);
  }
}

TEST(confusion_svg, LabelledRowsStandApart) {
  ConfusionMatrix m;
  m.models = {"a", "b"};
  m.surfaces = {"a", "b", "new <1>"};
  m.known = 2;
  m.counts = {{3, 1}, {0, 4}, {2, 2}};
  const std::string svg = confusion_svg(m, "Confusion");
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = svg.find(what); at != std::string::npos; at = svg.find(what, at + 1)) n++;
    return n;
  };
  EXPECT_EQ(count("stroke=\"black\""), 2u);  // the known rows' diagonal only
  EXPECT_EQ(count("font-style=\"italic\">new &lt;1&gt;</text>"), 1u);
  EXPECT_EQ(count(">4</text>"), 4u);  // two cells and two row sums
}

TEST(Locale, RowsAndFiguresIgnoreACommaDecimalLocale) {
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
    const char* ci = std::getenv("CI");
    if (ci && std::string(ci) == "true") FAIL() << "de_DE.UTF-8 is not installed";
    GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  }
  const ResultTable t = table_of(std::string(kClassified) + "a,1,i1,a,0,0.25\na,1,i2,b,4,0.5\n");
  const std::string row = program_row(classification_rows(t)[0]);
  const ResultTable lights =
      table_of("surface,slant,tilt,est_slant,est_tilt,error,twin_error\na,45.5,30,40,35,5.5,9\n");
  const std::string svg = directions_svg(lights, "L", LightFrame::kImage);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(row, "a&0.50&0.50&0.375 \\ 0.125\\\\\n");
  EXPECT_NE(svg.find("r=\"3.2\""), std::string::npos);
  EXPECT_EQ(svg.find("3,2"), std::string::npos);
}

TEST(summarize_results, DataErrorsNameTheFileAndLine) {
  TempDir dir;
  write_file(dir / "m.csv", kManifest);
  write_file(dir / "bad.csv", std::string(kClassified) + "a,1,a1.pgm,a,0,0\na,2,a2.pgm,a,0,x\n");
  write_file(dir / "stranger.csv", std::string(kClassified) + "a,7,a7.pgm,a,0,0\n");
  write_file(dir / "short.csv", std::string(kClassified) + "a,1,a1.pgm,a,0\n");
  write_file(dir / "header.csv", kClassified);
  write_file(dir / "rows.txt", "a&1.00&1.00&0.000 \\ 0.000\\\\\na&1.00\n");
  struct Case {
    std::vector<std::string> args;
    std::string message;  // standard error, the folder written as "D/"
  };
  const std::vector<Case> cases = {
      {{"rows", "--kind", "classification", "bad.csv"},
       "D/bad.csv:3: the ratio \"x\" is not a number\n"},
      {{"rows", "--kind", "classification", "header.csv"},
       "D/header.csv: the file holds no image's result\n"},
      {{"rows", "--kind", "direction", "gone.csv"},
       "D/gone.csv: cannot read the file (No such file or directory)\n"},
      {{"merge", "--manifest", "m.csv", "header.csv", "stranger.csv"},
       "D/stranger.csv:2: surface \"a\", set 7, image \"a7.pgm\" is not listed in D/m.csv\n"},
      {{"confusion", "--manifest", "m.csv", "short.csv"},
       "D/short.csv:2: the line has 5 fields, the header 6\n"},
      {{"survey", "--manifest", "m.csv", "--direction-set", "9"},
       "D/m.csv: the manifest has no image of the direction set 9 (its sets: 0 1 2 3)\n"},
      {{"survey", "--manifest", "none.csv"}, "D/none.csv: cannot open the manifest (No such file"},
      {{"table", "--kind", "classification", "--format", "csv", "rows.txt"},
       "D/rows.txt:2: the row does not end with \\\\\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {program("summarize_results")};
    for (const std::string& a : c.args)
      argv.push_back(a.find('.') != std::string::npos ? dir / a : a);
    argv.insert(argv.end(), {"--output", dir / "out"});
    const RunResult r = run(argv);
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string expected = std::regex_replace(c.message, std::regex("D/"), dir.path() + "/");
    EXPECT_EQ(r.err.substr(0, expected.size()), expected);
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);
    EXPECT_EQ(read_file(dir / "out"), "");  // nothing written
  }
}
