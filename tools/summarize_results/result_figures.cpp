#include "result_figures.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <vector>

#include "data_error.h"
#include "number.h"

namespace {

// "%.1f" in the "C" locale; whole numbers without decimals.
std::string num(double value) {
  char text[64];
  const double rounded = std::round(value * 10) / 10;
  const bool whole = rounded == std::floor(rounded);
  const std::to_chars_result r =
      std::to_chars(text, text + sizeof text, rounded, std::chars_format::fixed, whole ? 0 : 1);
  return std::string(text, r.ptr);
}

std::string xml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::vector<std::string> title_lines(const std::string& title) {
  std::vector<std::string> lines = split_text(title, '\n');
  while (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  return lines;
}

// The width of a name in pixels at `font` pixels, roughly: bytes of UTF-8
// beyond the first of a character take no room.
double text_width(const std::string& s, double font) {
  size_t characters = 0;
  for (unsigned char c : s) characters += (c & 0xC0) != 0x80;
  return static_cast<double>(characters) * font * 0.62;
}

double title_height(const std::vector<std::string>& lines) {
  return 15.0 * static_cast<double>(lines.size()) + 12;
}

// The width the title needs, so that no line runs off the figure: the
// first line is larger and bold.
double title_width(const std::vector<std::string>& lines) {
  double width = 0;
  for (size_t i = 0; i < lines.size(); i++)
    width = std::max(width, i == 0 ? text_width(lines[i], 14) * 1.1 : text_width(lines[i], 10));
  return width + 16;
}

void begin(std::string& svg, double width, double height) {
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" +
         num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
         "\" font-family=\"sans-serif\">\n";
  svg += "<rect width=\"" + num(width) + "\" height=\"" + num(height) + "\" fill=\"white\"/>\n";
}

void draw_title(std::string& svg, const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); i++)
    svg += "<text x=\"8\" y=\"" + num(6 + 15 * (i + 1.0)) + "\" font-size=\"" +
           (i == 0 ? "14\" font-weight=\"bold\"" : "10\"") + ">" + xml(lines[i]) + "</text>\n";
}

// A text element; `attributes` go in as written.
void text(std::string& svg, double x, double y, const std::string& attributes,
          const std::string& content) {
  svg += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" " + attributes + ">" + xml(content) +
         "</text>\n";
}

}  // namespace

std::string confusion_svg(const ConfusionMatrix& m, const std::string& title) {
  const std::vector<std::string> lines = title_lines(title);
  const size_t columns = m.models.size(), rows = m.surfaces.size(),
               labelled = rows - std::min(m.known, rows);
  const size_t n = std::max(columns, rows);
  const double cell = n <= 10 ? 36 : n <= 25 ? 24 : 16;
  const double font = cell <= 16 ? 8 : 11;
  double label = 0;
  for (const std::string& s : m.surfaces) label = std::max(label, text_width(s, font));
  for (const std::string& s : m.models) label = std::max(label, text_width(s, font));
  label += 10;
  const double left = label + 24;
  const double gap = labelled ? 22 : 0;  // between the known and the labelled rows
  const double width =
      std::max({720.0, left + static_cast<double>(columns) * cell + 70, title_width(lines)});
  const double top = title_height(lines) + 30 + label * 0.75;
  const double grid = static_cast<double>(rows) * cell + gap;
  const double height = top + grid + 20;
  const double footer = labelled ? 48 : 34;

  std::string svg;
  begin(svg, width, height + footer);
  draw_title(svg, lines);
  text(svg, left + static_cast<double>(columns) * cell / 2, top - label * 0.75 - 8,
       "font-size=\"11\" text-anchor=\"middle\"", "predicted surface");
  svg += "<text transform=\"translate(12," + num(top + grid / 2) +
         ") rotate(-90)\" font-size=\"11\" text-anchor=\"middle\">true surface</text>\n";
  const std::string font_size = "font-size=\"" + num(font) + "\"";
  for (size_t j = 0; j < columns; j++) {
    const double x = left + (static_cast<double>(j) + 0.5) * cell + font / 3;
    svg += "<text transform=\"translate(" + num(x) + "," + num(top - 4) + ") rotate(-50)\" " +
           font_size + ">" + xml(m.models[j]) + "</text>\n";
  }
  if (labelled)
    text(svg, left, top + static_cast<double>(m.known) * cell + gap / 2 + 4,
         "font-size=\"10\" fill=\"#555555\"",
         "surfaces without a model: their images labelled (predictions, not errors)");
  for (size_t i = 0; i < rows; i++) {
    const bool known = i < m.known;
    const double y = top + static_cast<double>(i) * cell + (known ? 0 : gap);
    text(svg, left - 4, y + cell / 2 + font / 3,
         font_size + " text-anchor=\"end\"" + (known ? "" : " font-style=\"italic\""),
         m.surfaces[i]);
    long sum = 0;
    for (long count : m.counts[i]) sum += count;
    for (size_t j = 0; j < columns; j++) {
      const long count = m.counts[i][j];
      const double share = sum ? static_cast<double>(count) / static_cast<double>(sum) : 0;
      const int shade = static_cast<int>(255 - 200 * share);
      const double x = left + static_cast<double>(j) * cell;
      const bool diagonal = known && i == j;
      svg += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(cell) +
             "\" height=\"" + num(cell) + "\" fill=\"rgb(" + std::to_string(shade) + "," +
             std::to_string(shade) + ",255)\" stroke=\"" + (diagonal ? "black" : "#bbbbbb") +
             "\" stroke-width=\"" + (diagonal ? "1.5" : "0.5") + "\"/>\n";
      if (count)
        text(svg, x + cell / 2, y + cell / 2 + font / 3,
             font_size + " text-anchor=\"middle\" fill=\"" + (share > 0.55 ? "white" : "black") +
                 "\"",
             std::to_string(count));
    }
    text(svg, left + static_cast<double>(columns) * cell + 6, y + cell / 2 + font / 3,
         font_size + " fill=\"#555555\"", std::to_string(sum));
  }
  const std::string grey = "font-size=\"10\" fill=\"#555555\"";
  text(svg, 8, height + 10, grey,
       "images in each cell, shaded by their share of the row (white 0, blue 1);");
  text(svg, 8, height + 24, grey,
       "right of a row: the images of that surface; the diagonal (outlined): correct");
  if (labelled)
    text(svg, 8, height + 38, grey,
         "rows in italics: surfaces without a model, whose images are labelled with the nearest "
         "model");
  svg += "</svg>\n";
  return svg;
}

namespace {

struct Estimate {
  double slant, tilt, est_slant, est_tilt;
  int outcome;  // 0 hit, 1 only the twin, 2 miss
};

void marker(std::string& svg, double x, double y, int outcome) {
  if (outcome == 0)
    svg += "<circle cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"3.2\" fill=\"#2a9d3a\"/>\n";
  else if (outcome == 1)
    svg += "<rect x=\"" + num(x - 3) + "\" y=\"" + num(y - 3) +
           "\" width=\"6\" height=\"6\" fill=\"#f08c00\"/>\n";
  else
    svg += "<path d=\"M" + num(x - 3) + " " + num(y - 3) +
           "l6 6m0 -6l-6 6\" stroke=\"#d62828\" stroke-width=\"1.6\"/>\n";
}

}  // namespace

std::string directions_svg(const ResultTable& estimates, const std::string& title,
                           LightFrame frame) {
  std::vector<std::string> names;
  std::vector<std::vector<Estimate>> panels;
  if (!estimates.records.empty()) {
    const size_t surface = estimates.column("surface"), slant = estimates.column("slant"),
                 tilt = estimates.column("tilt"), est_slant = estimates.column("est_slant"),
                 est_tilt = estimates.column("est_tilt"), error = estimates.column("error"),
                 twin = estimates.column("twin_error");
    std::map<std::string, size_t> at;
    for (size_t r = 0; r < estimates.records.size(); r++) {
      const std::string& name = estimates.records[r][surface];
      const auto it = at.emplace(name, names.size());
      if (it.second) {
        names.push_back(name);
        panels.emplace_back();
      }
      Estimate e{estimates.number(r, slant), estimates.number(r, tilt),
                 estimates.number(r, est_slant), estimates.number(r, est_tilt), 2};
      if (estimates.number(r, error) < 15)
        e.outcome = 0;
      else if (estimates.number(r, twin) < 15)
        e.outcome = 1;
      panels[it.first->second].push_back(e);
    }
  }
  const bool up = frame == LightFrame::kYUp;
  std::vector<std::string> lines = title_lines(title);
  lines[0] += up ? " (lights with y up: tilt 0 to the right, 90 up)"
                 : " (image frame: tilt 0 to the right, 90 down)";
  const size_t n = names.size();
  size_t columns = static_cast<size_t>(std::sqrt(static_cast<double>(n)));
  if (columns * columns < n) columns++;
  columns = std::max<size_t>(columns, 1);
  const size_t rows = (n + columns - 1) / columns;
  const double panel = 200, r = 70;
  const double width =
      std::max({680.0, static_cast<double>(columns) * panel + 20, title_width(lines)});
  const double top = title_height(lines);
  const double height = top + static_cast<double>(rows) * panel + 30;
  const double pi = 3.141592653589793;
  const double sign = up ? -1 : 1;  // screen y grows downwards
  auto px = [&](double cx, double s, double t) { return cx + r * s / 90 * std::cos(t * pi / 180); };
  auto py = [&](double cy, double s, double t) {
    return cy + sign * r * s / 90 * std::sin(t * pi / 180);
  };

  std::string svg;
  begin(svg, width, height);
  draw_title(svg, lines);
  const std::string grey_line = "\" stroke=\"#dddddd\" stroke-width=\"0.6\"/>\n";
  for (size_t i = 0; i < n; i++) {
    const double cx = 10 + static_cast<double>(i % columns) * panel + panel / 2;
    const double cy = top + static_cast<double>(i / columns) * panel + panel / 2 + 4;
    text(svg, cx, cy - r - 18, "font-size=\"12\" text-anchor=\"middle\" font-weight=\"bold\"",
         names[i]);
    for (int ring = 30; ring <= 90; ring += 30)
      svg += "<circle cx=\"" + num(cx) + "\" cy=\"" + num(cy) + "\" r=\"" + num(r * ring / 90) +
             "\" fill=\"none\" stroke=\"" + (ring == 90 ? "#888888" : "#cccccc") +
             "\" stroke-width=\"0.6\"/>\n";
    svg += "<line x1=\"" + num(cx - r) + "\" y1=\"" + num(cy) + "\" x2=\"" + num(cx + r) +
           "\" y2=\"" + num(cy) + grey_line;
    svg += "<line x1=\"" + num(cx) + "\" y1=\"" + num(cy - r) + "\" x2=\"" + num(cx) + "\" y2=\"" +
           num(cy + r) + grey_line;
    const std::string tick = "font-size=\"8\" fill=\"#888888\"";
    text(svg, cx + r + 2, cy + 3, tick, "0");
    text(svg, cx, up ? cy - r - 4 : cy + r + 10, tick + " text-anchor=\"middle\"", "90");
    long hits = 0, twins = 0;
    for (const Estimate& e : panels[i]) {
      const double x1 = px(cx, e.slant, e.tilt), y1 = py(cy, e.slant, e.tilt);
      const double x2 = px(cx, e.est_slant, e.est_tilt), y2 = py(cy, e.est_slant, e.est_tilt);
      svg += "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" +
             num(y2) + "\" stroke=\"#999999\" stroke-width=\"0.8\"/>\n";
      marker(svg, x2, y2, e.outcome);
      hits += e.outcome == 0;
      twins += e.outcome != 2;
    }
    for (const Estimate& e : panels[i])
      svg += "<circle cx=\"" + num(px(cx, e.slant, e.tilt)) + "\" cy=\"" +
             num(py(cy, e.slant, e.tilt)) + "\" r=\"2.2\" fill=\"black\"/>\n";
    text(svg, cx, cy + r + 22, "font-size=\"9\" text-anchor=\"middle\" fill=\"#555555\"",
         std::to_string(hits) + " of " + std::to_string(panels[i].size()) + " within 15 deg, " +
             std::to_string(twins) + " with twin");
  }
  const double k = height - 12;
  svg += "<circle cx=\"16\" cy=\"" + num(k) + "\" r=\"2.5\" fill=\"black\"/>";
  text(svg, 24, k + 4, "font-size=\"10\"", "true light");
  marker(svg, 100, k, 0);
  text(svg, 108, k + 4, "font-size=\"10\"", "estimate within 15 deg");
  marker(svg, 240, k, 1);
  text(svg, 248, k + 4, "font-size=\"10\"", "only its 180-deg twin");
  marker(svg, 370, k, 2);
  text(svg, 378, k + 4, "font-size=\"10\"",
       "miss; angle = tilt, radius = slant (rings 30, 60, 90)");
  svg += "</svg>\n";
  return svg;
}
