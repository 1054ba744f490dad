#include "data_set.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "atomic_output.h"
#include "data_error.h"
#include "fft.h"
#include "numeric.h"
#include "pgm_write.h"
#include "rng.h"
#include "surface_classes.h"

namespace gen {

namespace fs = std::filesystem;

DataSetSpec default_data_set_spec() {
  DataSetSpec s;
  for (const auto& c : surface_classes()) s.names.push_back(c.name);
  s.sets = {0, 1, 2, 3};
  s.slants = {45};
  for (int t = 0; t < 360; t += 30) s.tilts.push_back(t);
  s.render.direction_jitter_deg = 1.0;
  s.render.intensity_jitter = 0.03;
  return s;
}

std::string image_path(const std::string& root, const std::string& name, int set, int slant,
                       int tilt) {
  const std::string dir = root + "/data/" + name + "/" + name + std::to_string(set);
  return dir + "/" + name + "_" + std::to_string(slant) + "_" + std::to_string(tilt) + ".pgm";
}

std::string contact_sheet_path(const std::string& root) { return root + "/data/contact_sheet.pgm"; }

std::string manifest_path(const std::string& root) { return root + "/data/manifest.csv"; }

std::string manifest_text(const DataSetSpec& spec) {
  std::string text = "surface,set,image,slant,tilt\n";
  for (const std::string& name : spec.names)
    for (int set : spec.sets)
      for (int slant : spec.slants)
        for (int tilt : spec.tilts)
          text += name + "," + std::to_string(set) + "," + name + "/" + name + std::to_string(set) +
                  "/" + name + "_" + std::to_string(slant) + "_" + std::to_string(tilt) + ".pgm," +
                  std::to_string(slant) + "," + std::to_string(tilt) + "\n";
  return text;
}

std::vector<Image8> render_set(const DataSetSpec& spec, const std::string& name, int set) {
  const SurfaceClass* c = find_surface_class(name);
  if (!c) throw std::invalid_argument("unknown surface class '" + name + "'");
  const int n = next_pow2(std::max(spec.width, spec.height));
  const ReliefSample s =
      synthesize_surface(*c, n, derive_seed(spec.seed, name, static_cast<std::uint64_t>(set)));
  const Normals nrm = surface_normals(s.height);
  std::vector<Image8> out;
  for (int slant : spec.slants) {
    for (int tilt : spec.tilts) {
      const auto q = static_cast<std::uint64_t>(set);
      const auto zs = static_cast<std::uint64_t>(slant), ts = static_cast<std::uint64_t>(tilt);
      // The lamp as actually placed: nominal direction and intensity plus the
      // acquisition jitter (an isotropic angular error: the tilt error is
      // scaled by 1 / sin(slant)).
      Rng lamp(derive_seed(spec.seed, name + "/lamp", q, zs, ts));
      const double ds = spec.render.direction_jitter_deg * lamp.normal();
      const double dt = spec.render.direction_jitter_deg * lamp.normal();
      const double gain = std::max(0.0, 1.0 + spec.render.intensity_jitter * lamp.normal());
      const double actual_slant = std::max(0.0, slant + ds);
      const double sin_s = std::sin(deg_to_rad(actual_slant));
      const double actual_tilt = tilt + (sin_s > 0.05 ? dt / sin_s : 0.0);
      const std::uint64_t noise_seed = derive_seed(spec.seed, name + "/noise", q, zs, ts);
      out.push_back(render_image(s, nrm, actual_slant, actual_tilt, spec.render, noise_seed,
                                 spec.width, spec.height, gain));
    }
  }
  return out;
}

namespace {

// A 3 x 5 pixel font for labels: letters (drawn as capitals), digits, '_' and
// '-', each 15 cells row by row ('#' lit). Other characters are drawn as a
// filled box.
const char* glyph(char c) {
  static const std::pair<char, const char*> kGlyphs[] = {
      {'-', "......###......"}, {'0', "####.##.##.####"}, {'1', ".#.##..#..#.###"},
      {'2', "##...#.#.#..###"}, {'3', "##...#.#...###."}, {'4', "#.##.####..#..#"},
      {'5', "####..##...###."}, {'6', ".###..####.####"}, {'7', "###..#.#..#..#."},
      {'8', "####.#####.####"}, {'9', "####.####..###."}, {'_', "............###"},
      {'a', ".#.#.#####.##.#"}, {'b', "##.#.###.#.###."}, {'c', ".###..#..#...##"},
      {'d', "##.#.##.##.###."}, {'e', "####..##.#..###"}, {'f', "####..##.#..#.."},
      {'g', ".###..#.##.#.##"}, {'h', "#.##.#####.##.#"}, {'i', "###.#..#..#.###"},
      {'j', "..#..#..##.#.#."}, {'k', "#.##.###.#.##.#"}, {'l', "#..#..#..#..###"},
      {'m', "#.########.##.#"}, {'n', "##.#.##.##.##.#"}, {'o', ".#.#.##.##.#.#."},
      {'p', "##.#.###.#..#.."}, {'q', ".#.#.##.###..##"}, {'r', "##.#.###.#.##.#"},
      {'s', ".###...#...###."}, {'t', "###.#..#..#..#."}, {'u', "#.##.##.##.####"},
      {'v', "#.##.##.##.#.#."}, {'w', "#.##.########.#"}, {'x', "#.##.#.#.#.##.#"},
      {'y', "#.##.#.#..#..#."}, {'z', "###..#.#.#..###"}};
  if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const auto& g : kGlyphs)
    if (g.first == c) return g.second;
  return "###############";
}

// Writes `text` in white on a black box at the top-left corner of the tile
// at (top, left), each font cell `scale` pixels; clipped to the tile.
void draw_label(Image8& sheet, int top, int left, int w, int h, const std::string& text) {
  const int scale = 2, margin = 2, advance = 4 * scale;
  const int box_w = std::min(w, 2 * margin + static_cast<int>(text.size()) * advance - scale);
  const int box_h = std::min(h, 2 * margin + 5 * scale);
  for (int i = 0; i < box_h; ++i)
    for (int j = 0; j < box_w; ++j) sheet.at(top + i, left + j) = 0;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char* cells = glyph(text[k]);
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 3; ++c) {
        if (cells[r * 3 + c] != '#') continue;
        for (int di = 0; di < scale; ++di)
          for (int dj = 0; dj < scale; ++dj) {
            const int i = margin + r * scale + di;
            const int j = margin + static_cast<int>(k) * advance + c * scale + dj;
            if (i < box_h && j < box_w) sheet.at(top + i, left + j) = 255;
          }
      }
  }
}

}  // namespace

Image8 contact_sheet(const std::vector<Image8>& tiles, int columns, int gap,
                     const std::vector<std::string>& labels) {
  if (tiles.empty() || columns <= 0 || gap < 0) return Image8();
  const int w = tiles[0].width, h = tiles[0].height;
  const int count = static_cast<int>(tiles.size());
  const int rows = (count + columns - 1) / columns;
  Image8 sheet(columns * w + (columns + 1) * gap, rows * h + (rows + 1) * gap, 255);
  for (int t = 0; t < rows * columns; ++t) {
    const int top = gap + (t / columns) * (h + gap);
    const int left = gap + (t % columns) * (w + gap);
    const bool have = t < count && tiles[t].width == w && tiles[t].height == h;
    for (int i = 0; i < h; ++i)
      for (int j = 0; j < w; ++j) sheet.at(top + i, left + j) = have ? tiles[t].at(i, j) : 0;
    if (have && t < static_cast<int>(labels.size())) draw_label(sheet, top, left, w, h, labels[t]);
  }
  return sheet;
}

SheetView contact_sheet_view(const DataSetSpec& spec) {
  auto pick = [](const std::vector<int>& v, int preferred) {
    if (v.empty() || std::find(v.begin(), v.end(), preferred) != v.end()) return preferred;
    return v.front();
  };
  return {pick(spec.sets, 0), pick(spec.slants, 45), pick(spec.tilts, 0)};
}

namespace {

void make_dirs(const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) data_error(dir, 0, "cannot create the folder", ec.message());
}

}  // namespace

void generate_data_set(const DataSetSpec& spec, std::ostream& log) {
  const auto t0 = std::chrono::steady_clock::now();
  const SheetView view = contact_sheet_view(spec);
  std::vector<Image8> tiles;
  std::size_t written = 0;
  for (std::size_t k = 0; k < spec.names.size(); ++k) {
    const std::string& name = spec.names[k];
    const SurfaceClass* c = find_surface_class(name);
    if (!c) throw std::invalid_argument("unknown surface class '" + name + "'");
    for (int set : spec.sets) {
      make_dirs(spec.root + "/data/" + name + "/" + name + std::to_string(set));
      const std::vector<Image8> images = render_set(spec, name, set);
      std::size_t idx = 0;
      for (int slant : spec.slants) {
        for (int tilt : spec.tilts) {
          const Image8& img = images[idx++];
          write_pgm(image_path(spec.root, name, set, slant, tilt), img);
          ++written;
          if (set == view.set && slant == view.slant && tilt == view.tilt) tiles.push_back(img);
        }
      }
    }
    log << "generate_surfaces: [" << (k + 1) << "/" << spec.names.size() << "] " << name << ": "
        << c->description << "\n"
        << std::flush;
  }
  make_dirs(spec.root + "/data");
  const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(tiles.size()))));
  write_pgm(contact_sheet_path(spec.root),
            contact_sheet(tiles, std::max(1, columns), 2, spec.names));
  write_file_atomically(manifest_path(spec.root), manifest_text(spec));
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  log << "generate_surfaces: wrote " << written << " images, " << contact_sheet_path(spec.root)
      << " and " << manifest_path(spec.root) << " in " << secs << " s\n";
}

}  // namespace gen
