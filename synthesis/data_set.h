// Generation of a whole synthetic photometric texture data set (not to be
// confused with the classification database of surface models):
//   <root>/data/<name>/<name><set>/<name>_<slant>_<tilt>.pgm
// plus <root>/data/contact_sheet.pgm and <root>/data/manifest.csv, the
// list of the images with their sets and lights (surface,set,image,slant,
// tilt; image paths relative to data/).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "image8.h"
#include "render.h"

namespace gen {

struct DataSetSpec {
  std::string root = ".";
  std::vector<std::string> names;  // surface classes, in output order
  std::vector<int> sets;           // independent realisations per class
  std::vector<int> slants;         // degrees
  std::vector<int> tilts;          // degrees
  int width = 256;
  int height = 256;
  std::uint64_t seed = 1;
  RenderSettings render;
};

// The data set's defaults: all classes, sets 0..3, slant 45,
// tilts 0..330 in steps of 30, 256 x 256, seed 1.
DataSetSpec default_data_set_spec();

std::string image_path(const std::string& root, const std::string& name, int set, int slant,
                       int tilt);
std::string contact_sheet_path(const std::string& root);
std::string manifest_path(const std::string& root);

// The manifest of the images of `spec`: a header line, then one line per
// image in the order they are written (names, sets, slants, tilts).
std::string manifest_text(const DataSetSpec& spec);

// All images of one realisation of a class, in (slant, tilt) order as listed
// in spec. Throws std::invalid_argument for an unknown class name.
std::vector<Image8> render_set(const DataSetSpec& spec, const std::string& name, int set);

// Tiles images (all the same size) row by row, `columns` per row, with
// `gap`-pixel white separators between and around them; unused slots are
// black.
// Tile k carries labels[k] (where given) in white on black at its top-left
// corner, in a 3 x 5 font drawn at twice its size (letters as capitals).
Image8 contact_sheet(const std::vector<Image8>& tiles, int columns, int gap,
                     const std::vector<std::string>& labels = {});

// The (set, slant, tilt) shown on the contact sheet: set 0, slant 45 and tilt
// 0 where generated, otherwise the first listed value of each.
struct SheetView {
  int set, slant, tilt;
};
SheetView contact_sheet_view(const DataSetSpec& spec);

// Writes everything, logging progress to `log`. Raises a DataError when a file or folder cannot be
// written.
void generate_data_set(const DataSetSpec& spec, std::ostream& log);

}  // namespace gen
