#include "surfaces_cli.h"

#include <exception>
#include <sstream>

#include "atomic_output.h"
#include "cli.h"
#include "data_error.h"
#include "number.h"
#include "surface_classes.h"

namespace gen {

namespace {

constexpr const char* kProg = "generate_surfaces";

std::string join(const std::vector<int>& v) {
  std::string s;
  for (std::size_t k = 0; k < v.size(); ++k) s += (k ? "," : "") + std::to_string(v[k]);
  return s;
}

bool parse_size(const std::string& s, int* w, int* h) {
  long a = 0, b = 0;
  const auto x = s.find_first_of("xX");
  if (x == std::string::npos) {
    if (!parse_long(s, 8, 4096, &a)) return false;
    *w = *h = static_cast<int>(a);
    return true;
  }
  if (!parse_long(s.substr(0, x), 8, 4096, &a) || !parse_long(s.substr(x + 1), 8, 4096, &b))
    return false;
  *w = static_cast<int>(a);
  *h = static_cast<int>(b);
  return true;
}

}  // namespace

std::string surfaces_usage() {
  std::ostringstream u;
  u << "Usage: " << kProg << " [options]\n"
    << "Writes a synthetic photometric texture database:\n"
    << "  ROOT/data/NAME/NAMESET/NAME_SLANT_TILT.pgm   (binary PGM, 8 bit)\n"
    << "  ROOT/data/contact_sheet.pgm                  (one image of every surface)\n"
    << "  ROOT/data/manifest.csv                       (every image with its set and light)\n"
    << "Each name is a class of random surface; each set is an independent realisation\n"
    << "of that class with the same statistics. Images show the Lambertian surface under a\n"
    << "distant point light; tilt 0 lights from the right, tilt 90 from the bottom.\n"
    << "Rendering: Lambertian with attached and cast shadows (no ambient light), 220 grey\n"
    << "levels per unit radiance, Gaussian sensor noise of 1.5 grey levels, and lamp\n"
    << "placement errors as in a real rig: 1 degree (sd) off the nominal direction and\n"
    << "3% (sd) intensity variation per image. File names give the nominal light.\n\n"
    << "Options:\n"
    << "  --root DIR       output root (default .)\n"
    << "  --names A,B,...  surface classes, in this order (default: all, see below)\n"
    << "  --sets LIST|N    image sets, e.g. 0,1,2,3, or a count N for 0..N-1 (default 4)\n"
    << "  --slants LIST    light slants in degrees, 0..89 (default 45)\n"
    << "  --tilts LIST     light tilts in degrees, 0..359 (default 0,30,...,330)\n"
    << "  --size N|WxH     image size in pixels, 8..4096 (default 256)\n"
    << "  --seed S         random seed, a whole number >= 0 (default 1)\n"
    << "  --help           show this text\n\n"
    << "The contact sheet tiles, row by row in the order of --names, five per row for\n"
    << "the default twenty (ceil(sqrt(count)) in general), with 2-pixel white\n"
    << "separators, the image of set 0, slant 45, tilt 0 (or the first listed set,\n"
    << "slant or tilt where those are not generated).\n\n"
    << "Surface classes:\n";
  for (const auto& c : surface_classes()) u << "  " << c.name << "  " << c.description << "\n";
  return u.str();
}

SurfacesCommand parse_surfaces_args(const std::vector<std::string>& args) {
  SurfacesCommand cmd;
  cmd.spec = default_data_set_spec();
  auto error = [&](const std::string& why) {
    cmd.action = SurfacesCommand::Action::kError;
    cmd.error = why;
    return cmd;
  };
  // Only the option table: the usage is surfaces_usage().
  static const CliSpec kSpec = {kProg,
                                "",
                                "",
                                {{"root", "DIR", ""},
                                 {"names", "LIST", ""},
                                 {"sets", "LIST", ""},
                                 {"slants", "LIST", ""},
                                 {"tilts", "LIST", ""},
                                 {"size", "N", ""},
                                 {"seed", "S", ""}},
                                ""};
  CliArgs given;
  try {
    if (!parse_cli(kSpec, args, &given)) {
      cmd.action = SurfacesCommand::Action::kHelp;
      return cmd;
    }
  } catch (const UsageError& e) {
    return error(e.what());
  }
  for (const auto& [name, val] : given.given) {
    const std::string opt = "--" + name;
    std::string why;
    if (opt == "--root") {
      if (val.empty()) return error("--root needs a directory");
      cmd.spec.root = val;
    } else if (opt == "--names") {
      std::vector<std::string> names;
      for (const auto& n : split_text(val, ',')) {
        if (!find_surface_class(n))
          return error("unknown surface name '" + n + "' (see --help for the list)");
        for (const auto& m : names)
          if (m == n) return error("surface name '" + n + "' is listed twice");
        names.push_back(n);
      }
      cmd.spec.names = names;
    } else if (opt == "--sets") {
      long count = 0;
      if (val.find(',') == std::string::npos) {
        if (!parse_long(val, 1, 1000, &count))
          return error("--sets: '" + val + "' is neither a list nor a count from 1 to 1000");
        cmd.spec.sets.clear();
        for (int q = 0; q < count; ++q) cmd.spec.sets.push_back(q);
      } else if (!parse_long_list(val, 0, 999, &cmd.spec.sets, &why)) {
        return error("--sets: " + why);
      }
    } else if (opt == "--slants") {
      if (!parse_long_list(val, 0, 89, &cmd.spec.slants, &why)) return error("--slants: " + why);
    } else if (opt == "--tilts") {
      if (!parse_long_list(val, 0, 359, &cmd.spec.tilts, &why)) return error("--tilts: " + why);
    } else if (opt == "--size") {
      if (!parse_size(val, &cmd.spec.width, &cmd.spec.height))
        return error("--size: '" + val + "' is not N or WxH with sides from 8 to 4096");
    } else if (opt == "--seed") {
      if (!parse_u64(val, &cmd.spec.seed))
        return error("--seed: '" + val + "' is not a whole number >= 0");
    }
  }
  return cmd;
}

int generate_surfaces_main(const std::vector<std::string>& args, std::ostream& out,
                           std::ostream& err) {
  const SurfacesCommand cmd = parse_surfaces_args(args);
  if (cmd.action == SurfacesCommand::Action::kHelp) {
    out << surfaces_usage();
    return 0;
  }
  if (cmd.action == SurfacesCommand::Action::kError) {
    err << kProg << ": " << cmd.error << "\n" << surfaces_usage();
    return 2;
  }
  const DataSetSpec& s = cmd.spec;
  err << kProg << ": root " << s.root << ", " << s.names.size() << " surfaces, sets "
      << join(s.sets) << ", slants " << join(s.slants) << ", tilts " << join(s.tilts) << ", "
      << s.width << "x" << s.height << " pixels, seed " << s.seed << "\n";
  try {
    generate_data_set(s, err);
  } catch (const DataError& e) {
    err << kProg << ": " << e.what();
    return 1;
  } catch (const std::exception& e) {
    err << kProg << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace gen
