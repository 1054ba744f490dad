// export_normals: recovers one surface's normal field by photometric stereo
// and writes it as a normals text file, a colour normal map and an albedo
// image, so that what the models are built from can be looked at.
//
// Run in an experiment working directory (images at ../../../data/...).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "atomic_output.h"
#include "class.h"
#include "cli.h"
#include "data_error.h"
#include "experiment.h"
#include "image.h"
#include "matrix_multiple.h"
#include "owners.h"
#include "program.h"
#include "surface.h"
#include "training_set.h"

namespace {

const CliSpec& spec() {
  static const CliSpec kSpec = {
      "export_normals",
      "NAME [options]",
      "Recovers the normal field g (unit normal times albedo, per pixel the\n"
      "least-squares solution of L g = grey levels) of surface NAME from the 12\n"
      "images of one image set (slant 45, tilts 0, 30, ..., 330), read from\n"
      "../../../data/NAME/NAME<set>/, and writes:\n"
      "  - the normal field as a normals text file (first line rows and columns, then\n"
      "    x, y, z of every pixel, row by row, one value a line, 17 digits);\n"
      "  - a colour normal map, binary PPM: the unit normal n mapped to\n"
      "    RGB = 255 (n + 1) / 2 (x red, y green, z blue; x along columns, y down\n"
      "    the rows);\n"
      "  - an albedo image, binary PGM: the length of g, 255 for the longest.",
      {{"set", "Q", "image set (default 0)"},
       {"normals", "FILE", "normals text file (default NAME_normals.txt)"},
       {"map", "FILE", "normal map (default NAME_normals.ppm)"},
       {"albedo", "FILE", "albedo image (default NAME_albedo.pgm)"}},
      "",
      1,
      1};
  return kSpec;
}

unsigned char to_byte(double v) {
  double r = std::floor(v + 0.5);
  if (!(r >= 0.0)) r = 0.0;
  if (r > 255.0) r = 255.0;
  return static_cast<unsigned char>(r);
}

// The colour normal map: each unit normal (unit_normals) as (255 (u + 1) /
// 2) per channel, grey 128 where the field is zero.
void write_map(const std::string& file, MatrixMultiple* g) {
  std::vector<unsigned char> rgb(static_cast<size_t>(g->m) * g->n * 3, 128);
  const std::unique_ptr<MatrixMultiple> unit(unit_normals(g));
  const MatrixOwner lengths(normal_lengths(g));
  for (unsigned int i = 0; i < g->m; i++) {
    for (unsigned int j = 0; j < g->n; j++) {
      unsigned char* pixel = &rgb[(static_cast<size_t>(i) * g->n + j) * 3];
      if (lengths->me[i][j] > 0.0)
        for (int c = 0; c < 3; c++)
          pixel[c] = to_byte(255.0 * (unit->matrices[c]->me[i][j] + 1.0) / 2.0);
    }
  }
  write_pnm(file, static_cast<int>(g->n), static_cast<int>(g->m), 3, rgb.data());
}

// The albedo image: each length of g (normal_lengths), 255 for the longest.
void write_albedo(const std::string& file, MatrixMultiple* g) {
  const MatrixOwner lengths(normal_lengths(g));
  double longest = 0.0;
  for (unsigned int i = 0; i < g->m; i++)
    for (unsigned int j = 0; j < g->n; j++) longest = std::fmax(longest, lengths->me[i][j]);
  std::vector<unsigned char> grey;
  grey.reserve(static_cast<size_t>(g->m) * g->n);
  for (unsigned int i = 0; i < g->m; i++)
    for (unsigned int j = 0; j < g->n; j++)
      grey.push_back(to_byte(longest > 0.0 ? 255.0 * lengths->me[i][j] / longest : 0.0));
  write_pnm(file, static_cast<int>(g->n), static_cast<int>(g->m), 1, grey.data());
}

int export_normals(const CliArgs& args) {
  const std::string name = args.operands[0];
  const long set = args.whole("set", 0, 999, 0);
  std::string normals_file = args.nonempty("normals", "");
  std::string map_file = args.nonempty("map", "");
  std::string albedo_file = args.nonempty("albedo", "");
  if (name.empty() || name.size() > 79 || name.find('/') != std::string::npos || name == "." ||
      name == "..")
    throw UsageError("unusable surface name \"" + name + "\"");
  if (normals_file.empty()) normals_file = name + "_normals.txt";
  if (map_file.empty()) map_file = name + "_normals.ppm";
  if (albedo_file.empty()) albedo_file = name + "_albedo.pgm";

  const u_int* t = kExperimentTilts;
  const u_int* s = kExperimentSlants;
  const int* tt = kExperimentImages;
  Surface surface(static_cast<unsigned int>(set + 1), kExperimentSlantCount, s,
                  kExperimentTiltCount, t, name.c_str());
  Index* in = tilts(static_cast<int>(set), 0, kExperimentTiltCount, tt);
  TrainingSet* tset;
  try {
    tset = new TrainingSet(12, &surface, in);
  } catch (...) {
    delete[] in;
    throw;
  }
  delete[] in;
  MatrixMultiple* g;
  try {
    g = tset->build_normals();
  } catch (...) {
    delete tset;
    throw;
  }
  delete tset;
  try {
    {
      AtomicOutput out(normals_file);
      if (!write_normals(out.stream(), g)) data_error(normals_file, 0, "cannot write the file");
      out.commit();
    }
    write_map(map_file, g);
    write_albedo(albedo_file, g);
  } catch (...) {
    delete g;
    throw;
  }
  std::fprintf(stderr, "export_normals: %s set %ld: %ux%u normals written to %s, %s and %s\n",
               name.c_str(), set, g->n, g->m, normals_file.c_str(), map_file.c_str(),
               albedo_file.c_str());
  delete g;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return run_program(argc, argv, [](int argc, char** argv) {
    return run_cli(spec(), argc, argv, export_normals);
  });
}
