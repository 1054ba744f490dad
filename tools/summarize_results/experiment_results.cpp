#include "experiment_results.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <tuple>

#include "csv.h"
#include "data_error.h"
#include "number.h"
#include "owners.h"
#include "statistics.h"

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The number as printf's "%.<decimals>f" writes it in the "C" locale,
// whatever the process's locale.
std::string fixed(double value, int decimals) {
  char text[512];
  const std::to_chars_result r =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, r.ptr);
}

// A number as csv_number writes it: plain decimal notation, or nan, inf
// and -inf. False for anything else.
bool read_number(const std::string& text, double* value) {
  if (text == "nan") {
    *value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (text == "inf" || text == "-inf") {
    *value = text[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    return true;
  }
  if (text.empty() || text.size() > 64 || text[0] == '+') return false;
  const char* end = text.data() + text.size();
  const std::from_chars_result r = std::from_chars(text.data(), end, *value);
  return r.ec == std::errc() && r.ptr == end && std::isfinite(*value);
}

// Mean and population standard deviation, summed in the order given, as the
// experiment programs compute them (statistics.h).
void mean_sd(const std::vector<double>& values, double* mean, double* sd) {
  VectorOwner v(v_get(static_cast<unsigned>(values.size())));
  for (size_t k = 0; k < values.size(); k++) v->ve[k] = values[k];
  statistics(v.get(), mean, sd);
}

// The index of `name` in `order`, adding it at the end when new.
size_t index_of(std::vector<std::string>& order, std::map<std::string, size_t>& at,
                const std::string& name) {
  const auto it = at.emplace(name, order.size());
  if (it.second) order.push_back(name);
  return it.first->second;
}

std::string join(const std::vector<unsigned int>& values, const char* separator) {
  std::string text;
  for (size_t k = 0; k < values.size(); k++)
    text += (k ? separator : "") + std::to_string(values[k]);
  return text;
}

}  // namespace

// ---------------------------------------------------------------- per-image files

size_t ResultTable::column(const std::string& name) const {
  for (size_t k = 0; k < header.size(); k++)
    if (header[k] == name) return k;
  data_error(file, header.empty() ? 0 : 1,
             header.empty() ? "the file is empty" : "the header lacks the column " + quoted(name));
}

void ResultTable::fail(size_t record, const std::string& message) const {
  data_error(file, lines[record], message);
}

double ResultTable::number(size_t record, size_t column) const {
  double v;
  const std::string& text = records[record][column];
  if (!read_number(text, &v))
    fail(record, "the " + header[column] + " " + quoted(text) + " is not a number");
  return v;
}

long ResultTable::whole(size_t record, size_t column) const {
  long v;
  const std::string& text = records[record][column];
  if (!parse_long(text, 0, std::numeric_limits<long>::max() / 2, &v))
    fail(record, "the " + header[column] + " " + quoted(text) + " is not a whole number");
  return v;
}

ResultTable read_result_table(std::FILE* stream, const std::string& file) {
  ResultTable t;
  t.file = file;
  CsvReader csv(stream, file);
  std::vector<std::string> fields;
  if (!csv.next(fields)) return t;
  t.header = fields;
  while (csv.next(fields)) {
    if (fields.size() == 1 && fields[0].empty()) continue;
    if (fields.size() != t.header.size())
      csv.fail("the line has " + std::to_string(fields.size()) + " fields, the header " +
               std::to_string(t.header.size()));
    t.records.push_back(fields);
    t.lines.push_back(csv.line());
  }
  if (std::ferror(stream)) read_error(file, errno);
  return t;
}

ResultTable read_result_table(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) read_error(path, errno);
  return read_result_table(f.get(), path);
}

// ---------------------------------------------------------------- manifest survey

size_t ManifestSurvey::models() const {
  size_t n = 0;
  for (const SurveyedSurface& s : surfaces) n += s.model;
  return n;
}

size_t ManifestSurvey::labelled() const {
  size_t n = 0;
  for (const SurveyedSurface& s : surfaces) n += s.classified && !s.model;
  return n;
}

ManifestSurvey survey_manifest(const Manifest& manifest, unsigned int train_set,
                               const std::vector<unsigned int>& test_sets, long direction_set) {
  ManifestSurvey survey;
  std::set<unsigned int> sets;
  for (const ManifestImage& image : manifest.images) sets.insert(image.set);
  survey.sets.assign(sets.begin(), sets.end());
  survey.images = manifest.images.size();
  const std::string its_sets = "its sets: " + join(survey.sets, " ");
  auto need = [&](unsigned int q, const char* what) {
    if (!sets.count(q))
      data_error(manifest.file, 0,
                 "the manifest has no image of the " + std::string(what) + " " + std::to_string(q),
                 its_sets);
  };
  survey.train_set = train_set;
  need(train_set, "training set");
  survey.test_sets = test_sets;
  if (test_sets.empty()) {
    for (unsigned int q : survey.sets)
      if (q != train_set) survey.test_sets.push_back(q);
    if (survey.test_sets.empty())
      data_error(manifest.file, 0,
                 "the manifest has no set besides the training set " + std::to_string(train_set) +
                     " to test");
  }
  for (unsigned int q : survey.test_sets) need(q, "test set");
  survey.direction_set = direction_set >= 0
                             ? static_cast<unsigned int>(direction_set)
                             : *std::min_element(survey.test_sets.begin(), survey.test_sets.end());
  need(survey.direction_set, "direction set");

  const std::set<unsigned int> tested(survey.test_sets.begin(), survey.test_sets.end());
  std::map<std::string, size_t> at;
  for (const std::string& name : manifest.surfaces) {
    at.emplace(name, survey.surfaces.size());
    survey.surfaces.push_back({name});
  }
  std::vector<bool> direction_images(survey.surfaces.size());
  for (const ManifestImage& image : manifest.images) {
    const size_t k = at.at(image.surface);
    SurveyedSurface& s = survey.surfaces[k];
    if (image.set == train_set) s.model = true;
    if (tested.count(image.set)) {
      s.classified = true;
      s.test_images++;
    }
    if (image.set == survey.direction_set) direction_images[k] = true;
  }
  for (size_t k = 0; k < survey.surfaces.size(); k++)
    survey.surfaces[k].direction = survey.surfaces[k].model && direction_images[k];
  return survey;
}

std::string survey_text(const ManifestSurvey& survey) {
  std::string text = "sets " + join(survey.sets, " ") + "\n";
  text += "train-set " + std::to_string(survey.train_set) + "\n";
  text += "test-sets " + join(survey.test_sets, ",") + "\n";
  text += "direction-set " + std::to_string(survey.direction_set) + "\n";
  text += "images " + std::to_string(survey.images) + "\n";
  text += "models " + std::to_string(survey.models()) + "\n";
  text += "labelled " + std::to_string(survey.labelled()) + "\n";
  for (const SurveyedSurface& s : survey.surfaces)
    text += std::string("surface ") + (s.model ? "1 " : "0 ") + (s.classified ? "1 " : "0 ") +
            (s.direction ? "1 " : "0 ") + s.name + "\n";
  return text;
}

// ---------------------------------------------------------------- per-surface rows

std::vector<ClassificationRow> classification_rows(const ResultTable& results) {
  std::vector<ClassificationRow> rows;
  if (results.records.empty()) return rows;
  const size_t surface = results.column("surface"), predicted = results.column("predicted"),
               nearer = results.column("nearer"), ratio = results.column("ratio");
  std::vector<std::string> order;
  std::map<std::string, size_t> at;
  std::vector<int> scored;  // per surface: 1 measured, 0 labelled, -1 not seen yet
  std::vector<std::vector<double>> ratios;
  std::vector<ClassificationRow> all;
  for (size_t r = 0; r < results.records.size(); r++) {
    const std::vector<std::string>& f = results.records[r];
    const size_t k = index_of(order, at, f[surface]);
    if (k == all.size()) {
      all.push_back({f[surface]});
      scored.push_back(-1);
      ratios.emplace_back();
    }
    const bool measured = !f[nearer].empty() || !f[ratio].empty();
    if (scored[k] >= 0 && scored[k] != (measured ? 1 : 0))
      results.fail(r, "the surface " + quoted(f[surface]) +
                          " has images with and without a model (nearer and ratio empty)");
    scored[k] = measured ? 1 : 0;
    ClassificationRow& row = all[k];
    row.images++;
    if (f[predicted] == f[surface]) row.correct++;
    if (!measured) continue;
    if (results.whole(r, nearer) <= 2) row.top3++;
    ratios[k].push_back(results.number(r, ratio));
  }
  for (size_t k = 0; k < all.size(); k++) {
    if (!scored[k]) continue;
    mean_sd(ratios[k], &all[k].ratio_mean, &all[k].ratio_sd);
    rows.push_back(all[k]);
  }
  return rows;
}

std::vector<DirectionRow> direction_rows(const ResultTable& results) {
  std::vector<DirectionRow> rows;
  if (results.records.empty()) return rows;
  const size_t surface = results.column("surface"), error = results.column("error"),
               twin = results.column("twin_error"), better = results.column("better_share"),
               ratio = results.column("ratio");
  std::vector<std::string> order;
  std::map<std::string, size_t> at;
  std::vector<std::vector<double>> betters, ratios;
  for (size_t r = 0; r < results.records.size(); r++) {
    const std::vector<std::string>& f = results.records[r];
    const size_t k = index_of(order, at, f[surface]);
    if (k == rows.size()) {
      rows.push_back({f[surface]});
      betters.emplace_back();
      ratios.emplace_back();
    }
    DirectionRow& row = rows[k];
    row.images++;
    const double e = results.number(r, error), t = results.number(r, twin);
    if (e < 15.0) row.hits++;
    if (e < 15.0 || t < 15.0) row.hits_with_twin++;
    betters[k].push_back(results.number(r, better));
    ratios[k].push_back(results.number(r, ratio));
  }
  for (size_t k = 0; k < rows.size(); k++) {
    mean_sd(betters[k], &rows[k].better_mean, &rows[k].better_sd);
    mean_sd(ratios[k], &rows[k].ratio_mean, &rows[k].ratio_sd);
  }
  return rows;
}

std::string program_row(const ClassificationRow& row) {
  const double n = static_cast<double>(row.images);
  return row.surface + "&" + fixed(row.correct / n, 2) + "&" + fixed(row.top3 / n, 2) + "&" +
         fixed(row.ratio_mean, 3) + " \\ " + fixed(row.ratio_sd, 3) + "\\\\\n";
}

std::string program_row(const DirectionRow& row) {
  return row.surface + "&" + std::to_string(row.hits) + "~/~" + std::to_string(row.hits_with_twin) +
         "&" + fixed(row.better_mean, 3) + "~/~" + fixed(row.better_sd, 3) + "&" +
         fixed(row.ratio_mean, 3) + "~/~" + fixed(row.ratio_sd, 3) + "\\\\\n";
}

// ---------------------------------------------------------------- merging

std::string merge_results(const Manifest& manifest, const std::vector<ResultTable>& parts) {
  std::map<std::tuple<std::string, unsigned int, std::string>, size_t> place;
  for (size_t k = 0; k < manifest.images.size(); k++) {
    const ManifestImage& image = manifest.images[k];
    place.emplace(std::make_tuple(image.surface, image.set, image.image), k);
  }
  const ResultTable* first = nullptr;
  // Per image of the manifest, the record that gives it: (part, record).
  std::vector<std::pair<const ResultTable*, size_t>> at(manifest.images.size(), {nullptr, 0});
  for (const ResultTable& part : parts) {
    if (part.header.empty()) continue;
    if (!first) first = &part;
    if (part.header != first->header)
      data_error(part.file, 1, "the header is not that of " + first->file);
    if (part.records.empty()) continue;
    const size_t surface = part.column("surface"), set = part.column("set"),
                 image = part.column("image");
    for (size_t r = 0; r < part.records.size(); r++) {
      const std::vector<std::string>& f = part.records[r];
      long q;
      if (!parse_long(f[set], 0, 2147483647, &q))
        part.fail(r, "the set " + quoted(f[set]) + " is not a whole number from 0 to 2147483647");
      const auto it =
          place.find(std::make_tuple(f[surface], static_cast<unsigned int>(q), f[image]));
      if (it == place.end())
        part.fail(r, "surface " + quoted(f[surface]) + ", set " + f[set] + ", image " +
                         quoted(f[image]) + " is not listed in " + manifest.file);
      auto& slot = at[it->second];
      if (slot.first)
        part.fail(r, "surface " + quoted(f[surface]) + ", set " + f[set] + ", image " +
                         quoted(f[image]) + " is given twice (also in " + slot.first->file +
                         ", line " + std::to_string(slot.first->lines[slot.second]) + ")");
      slot = {&part, r};
    }
  }
  std::string text;
  if (!first) return text;
  append_csv_record(text, first->header);
  for (const auto& slot : at)
    if (slot.first) append_csv_record(text, slot.first->records[slot.second]);
  return text;
}

// ---------------------------------------------------------------- confusion matrix

ConfusionMatrix confusion_matrix(const ManifestSurvey& survey, const ResultTable& results) {
  ConfusionMatrix m;
  std::map<std::string, size_t> row_of, column_of;
  for (const SurveyedSurface& s : survey.surfaces)
    if (s.model) {
      column_of.emplace(s.name, m.models.size());
      row_of.emplace(s.name, m.surfaces.size());
      m.models.push_back(s.name);
      m.surfaces.push_back(s.name);
    }
  m.known = m.surfaces.size();
  for (const SurveyedSurface& s : survey.surfaces)
    if (s.classified && !s.model) {
      row_of.emplace(s.name, m.surfaces.size());
      m.surfaces.push_back(s.name);
    }
  m.counts.assign(m.surfaces.size(), std::vector<long>(m.models.size(), 0));
  if (results.records.empty()) return m;
  const size_t surface = results.column("surface"), predicted = results.column("predicted");
  for (size_t r = 0; r < results.records.size(); r++) {
    const std::vector<std::string>& f = results.records[r];
    const auto row = row_of.find(f[surface]);
    if (row == row_of.end())
      results.fail(r, "the surface " + quoted(f[surface]) +
                          " has neither a model nor images of the test sets");
    const auto column = column_of.find(f[predicted]);
    if (column == column_of.end())
      results.fail(
          r, "the predicted surface " + quoted(f[predicted]) + " is no model of the training set");
    m.counts[row->second][column->second]++;
  }
  return m;
}

std::string confusion_csv(const ConfusionMatrix& matrix) {
  std::string text;
  std::vector<std::string> fields = {"true\\predicted"};
  fields.insert(fields.end(), matrix.models.begin(), matrix.models.end());
  append_csv_record(text, fields);
  for (size_t i = 0; i < matrix.surfaces.size(); i++) {
    fields.assign(1, matrix.surfaces[i]);
    for (long count : matrix.counts[i]) fields.push_back(std::to_string(count));
    append_csv_record(text, fields);
  }
  return text;
}

ConfusionMatrix read_confusion(const ResultTable& table) {
  if (table.header.empty()) data_error(table.file, 0, "the file is empty");
  ConfusionMatrix m;
  m.models.assign(table.header.begin() + 1, table.header.end());
  for (size_t r = 0; r < table.records.size(); r++) {
    m.surfaces.push_back(table.records[r][0]);
    m.counts.emplace_back();
    for (size_t c = 1; c < table.header.size(); c++) m.counts.back().push_back(table.whole(r, c));
  }
  while (m.known < m.surfaces.size() && m.known < m.models.size() &&
         m.surfaces[m.known] == m.models[m.known])
    m.known++;
  return m;
}

// ---------------------------------------------------------------- tables

namespace {

// A program's row split into its name and its three fields; the name is what
// precedes the last three '&' (any text with a manifest, else without '&').
struct RowFields {
  std::string name;
  std::string field[3];
};

[[noreturn]] void row_error(const std::string& file, long line, const std::string& message) {
  data_error(file, line, message);
}

RowFields split_row(const std::string& row, bool manifest, const std::string& file, long line) {
  if (row.size() < 2 || row.compare(row.size() - 2, 2, "\\\\") != 0)
    row_error(file, line, "the row does not end with \\\\");
  const std::vector<std::string> g = split_text(row.substr(0, row.size() - 2), '&');
  if (g.size() != 4 && (!manifest || g.size() < 4))
    row_error(file, line, "expected 4 fields separated by &, found " + std::to_string(g.size()));
  RowFields f;
  for (size_t k = 0; k + 3 < g.size(); k++) f.name += (k ? "&" : "") + g[k];
  for (int k = 0; k < 3; k++) f.field[k] = g[g.size() - 3 + k];
  return f;
}

std::string trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// "a SEP b" as the two fields a and b.
void pair(const std::string& field, const std::string& separator, std::vector<std::string>* out,
          const std::string& file, long line) {
  const size_t at = field.find(separator);
  if (at == std::string::npos)
    row_error(file, line, "expected '" + separator + "' in '" + field + "'");
  out->push_back(trim(field.substr(0, at)));
  out->push_back(trim(field.substr(at + separator.size())));
}

std::string latex_escaped(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '\\')
      out += "\\textbackslash{}";
    else if (c == '~')
      out += "\\textasciitilde{}";
    else if (c == '^')
      out += "\\textasciicircum{}";
    else if (std::strchr("&%$#_{}", c) && c != '\0')
      out += std::string("\\") + c;
    else
      out += c;
  }
  return out;
}

const char kClassificationHeader[] =
    "Surface & Correct & In top 3 & Relative distance (mean, sd) \\\\\n";
const char kDirectionHeader[] =
    "Surface & Hits within $15^\\circ$ ~/~ with twin & Better samples, mean ~/~ sd & Ratio, mean "
    "~/~ sd \\\\\n";
const char kDirectionNote[] =
    "% hits within 15 degrees ~/~ counting the 180-degree tilt twin too, the share of\n"
    "% sampled directions that fit better, and the ratio.\n";

}  // namespace

std::string latex_table(ResultKind kind, const std::vector<std::string>& rows,
                        const TableNotes& notes, const std::string& file) {
  const bool classification = kind == ResultKind::kClassification;
  const std::string models = notes.models > 0 ? std::to_string(notes.models) : "database's";
  std::string t = "% Written by scripts/run_experiments; needs \\usepackage{booktabs}.\n";
  if (classification) {
    t += notes.manifest ? "% Share of the test images of each surface (image sets " +
                              notes.test_sets + ") classified\n"
                        : "% Share of the 36 test images of each surface (image sets 1 to 3) "
                          "classified\n";
    t += "% correctly and within the 3 nearest of the " + models +
         " models, and the relative distance.\n";
  } else {
    t += notes.manifest
             ? "% Light direction of the images of image set " +
                   std::to_string(notes.direction_set) + ", estimated from a model of set " +
                   std::to_string(notes.model_set) + ":\n"
             : "% Light direction of the 12 images of image set 1, estimated from a model "
               "of set 0:\n";
    t += kDirectionNote;
  }
  t += "\\begin{tabular}{lccc}\n\\toprule\n";
  t += classification ? kClassificationHeader : kDirectionHeader;
  t += "\\midrule\n";
  for (size_t k = 0; k < rows.size(); k++) {
    const std::string& row = rows[k];
    if (row.empty()) continue;
    if (row[0] == '!') {
      t += "% " + row.substr(1) + ": no result, its run failed\n";
      continue;
    }
    const RowFields f = split_row(row, notes.manifest, file, static_cast<long>(k + 1));
    if (notes.manifest)
      t +=
          latex_escaped(f.name) + "&" + f.field[0] + "&" + f.field[1] + "&" + f.field[2] + "\\\\\n";
    else
      t += row + "\n";
  }
  return t + "\\bottomrule\n\\end{tabular}\n";
}

std::string csv_table(ResultKind kind, const std::vector<std::string>& rows,
                      const TableNotes& notes, const std::string& file) {
  const bool classification = kind == ResultKind::kClassification;
  std::string t = classification
                      ? "surface,share_correct,share_top3,distance_mean,distance_sd\n"
                      : "surface,hits_15deg,hits_15deg_or_twin,better_share_mean,better_share_sd,"
                        "ratio_mean,ratio_sd\n";
  for (size_t k = 0; k < rows.size(); k++) {
    const std::string& row = rows[k];
    if (row.empty() || row[0] == '!') continue;
    const long line = static_cast<long>(k + 1);
    const RowFields f = split_row(row, notes.manifest, file, line);
    std::vector<std::string> fields = {f.name};
    if (classification) {
      fields.push_back(f.field[0]);
      fields.push_back(f.field[1]);
      pair(f.field[2], "\\", &fields, file, line);
    } else {
      for (const std::string& field : f.field) pair(field, "~/~", &fields, file, line);
    }
    append_csv_record(t, fields);
  }
  return t;
}

// ---------------------------------------------------------------- summary

std::string summary_text(const ResultTable& classification, const ResultTable& direction,
                         long estimates, const ResultTable* labelled) {
  std::string text;
  const size_t classified = classification.records.size();
  if (classified == 0) {
    text += "  classification: no results\n";
  } else {
    const size_t correct = classification.column("share_correct"),
                 top3 = classification.column("share_top3");
    double sum_correct = 0, sum_top3 = 0;
    for (size_t r = 0; r < classified; r++) {
      sum_correct += classification.number(r, correct);
      sum_top3 += classification.number(r, top3);
    }
    const double n = static_cast<double>(classified);
    text += "  classification: mean share correct " + fixed(sum_correct / n, 3) +
            ", mean share in top 3 " + fixed(sum_top3 / n, 3) + " (" + std::to_string(classified) +
            " surfaces)\n";
  }
  const size_t estimated = direction.records.size();
  if (estimated == 0) {
    text += "  direction: no results\n";
  } else {
    const size_t hits = direction.column("hits_15deg"),
                 twin = direction.column("hits_15deg_or_twin");
    long sum_hits = 0, sum_twin = 0;
    for (size_t r = 0; r < estimated; r++) {
      sum_hits += direction.whole(r, hits);
      sum_twin += direction.whole(r, twin);
    }
    text += "  direction: " + std::to_string(sum_hits) + " of " + std::to_string(estimates) +
            " estimates within 15 degrees, " + std::to_string(sum_twin) +
            " counting the 180-degree twin (" + std::to_string(estimated) + " surfaces)\n";
  }
  if (labelled && !labelled->records.empty()) {
    const size_t surface = labelled->column("surface"), nearer = labelled->column("nearer");
    std::set<std::string> surfaces;
    long images = 0;
    for (const std::vector<std::string>& f : labelled->records)
      if (f[nearer].empty()) {
        images++;
        surfaces.insert(f[surface]);
      }
    if (images > 0)
      text += "  labelled: " + std::to_string(images) + " images of " +
              std::to_string(surfaces.size()) + (surfaces.size() == 1 ? " surface" : " surfaces") +
              " without a model, classified but not scored (classification_images.csv, "
              "confusion.csv)\n";
  }
  return text;
}
