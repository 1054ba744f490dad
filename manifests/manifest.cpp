#include "manifest.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "cli.h"
#include "csv.h"
#include "data_error.h"
#include "number.h"
#include "owners.h"
#include "response.h"
#include "surface.h"
#include "training_set.h"

namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A finite number in decimal notation (spaces around it allowed), as the
// command lines take numbers.
bool parse_number(const std::string& text, double* value) {
  const std::string t = trimmed(text);
  return parse_double(t, -std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                      value);
}

// A whole number of at least 0 that fits an unsigned int.
bool parse_set(const std::string& text, unsigned int* value) {
  const std::string t = trimmed(text);
  if (t.empty() || t.size() > 10) return false;
  unsigned long long v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 2147483647ull) return false;
  *value = static_cast<unsigned int>(v);
  return true;
}

// A text that tells (surface, set) pairs apart: a surface name holds no
// NUL byte.
std::string set_key(const std::string& surface, unsigned int set) {
  return surface + '\0' + std::to_string(set) + '\0';
}

std::string quoted(const std::string& text) { return "\"" + printable(text) + "\""; }

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

std::string without_line_break(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

void light_of_angles(double s, double t, double L[3]) {
  VectorOwner v(make_illuminant(t, s));
  for (int c = 0; c < 3; c++) L[c] = v->ve[c];
}

void angles_of_light(const double L[3], double* slant, double* tilt) {
  *slant = std::atan2(std::hypot(L[0], L[1]), L[2]) * 180.0 / 3.141592653589793;
  double t = std::atan2(L[1], L[0]) * 180.0 / 3.141592653589793;
  if (t < 0) t += 360.0;
  if (t >= 360.0) t -= 360.0;
  *tilt = t + 0.0;  // no negative zero
}

struct Manifest::MaskCache {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<const PixelMask>> masks;  // by file
};

Manifest::Manifest(const std::string& f, bool up)
    : file(f), y_up(up), masks_(std::make_shared<MaskCache>()) {
  std::unique_ptr<FILE, FileCloser> stream(std::fopen(file.c_str(), "rb"));
  if (!stream) file_error(file, "cannot open the manifest", errno);
  read(stream.get());
}

Manifest::Manifest(std::FILE* stream, const std::string& f, bool up)
    : file(f), y_up(up), masks_(std::make_shared<MaskCache>()) {
  read(stream);
}

void Manifest::to_manifest_frame(double L[3]) const {
  if (y_up) L[1] = 0.0 - L[1];  // (0 - y: no negative zero)
}

void Manifest::read(std::FILE* stream) {
  CsvReader csv(stream, file);
  std::vector<std::string> header;
  if (!csv.next(header))
    data_error(file, 0, "the manifest is empty", "its first line names the columns");

  std::map<std::string, size_t> columns;
  for (size_t k = 0; k < header.size(); k++) {
    const std::string name = trimmed(header[k]);
    if (!name.empty() && !columns.emplace(name, k).second)
      fail(1, "the header names the column " + quoted(name) + " twice");
  }
  auto has = [&](const char* name) { return columns.count(name) != 0; };
  const bool with_angles = has("slant") || has("tilt");
  const bool with_vector = has("x") || has("y") || has("z");
  if (with_angles && with_vector)
    fail(1, "the header names both slant, tilt and x, y, z; the light is given one way only");
  angles = !with_vector;
  std::vector<const char*> needed = {"surface", "set", "image"};
  if (angles)
    needed.insert(needed.end(), {"slant", "tilt"});
  else
    needed.insert(needed.end(), {"x", "y", "z"});
  for (const char* name : needed)
    if (!has(name))
      fail(1, std::string("the header lacks the column ") + quoted(name),
           "the columns are surface, set, image and slant, tilt or x, y, z");
  auto column = [&](const char* name) { return columns.at(name); };

  const std::string folder =
      file.find('/') == std::string::npos ? "" : file.substr(0, file.rfind('/') + 1);
  // (Hashed: a manifest may list millions of images.)
  std::unordered_map<std::string, long> seen;  // set_key(surface, set) + image -> line
  std::unordered_set<std::string> named;
  std::vector<std::string> fields;
  while (csv.next(fields)) {
    const long line = csv.line();
    if (fields.size() == 1 && fields[0].empty()) continue;
    if (fields.size() != header.size())
      fail(line, "the line has " + std::to_string(fields.size()) + " fields, the header " +
                     std::to_string(header.size()));
    ManifestImage image;
    image.line = line;
    image.surface = fields[column("surface")];
    std::string why = unreadable_name(image.surface.c_str());
    if (image.surface.find('\0') != std::string::npos) why = "the name holds a NUL byte";
    if (!why.empty())
      fail(line, "the surface name " + quoted(image.surface) + " cannot be held by a database",
           why);
    const std::string& set = fields[column("set")];
    if (!parse_set(set, &image.set))
      fail(line, "the set " + quoted(set) + " is not a whole number from 0 to 2147483647");
    image.image = fields[column("image")];
    if (image.image.empty() || image.image.find('\0') != std::string::npos)
      fail(line, "the image " + quoted(image.image) + " is not a file name");
    image.path = image.image[0] == '/' ? image.image : folder + image.image;
    if (has("mask")) {
      image.mask = fields[column("mask")];
      if (image.mask.find('\0') != std::string::npos)
        fail(line, "the mask " + quoted(image.mask) + " is not a file name");
      if (!image.mask.empty())
        image.mask_path = image.mask[0] == '/' ? image.mask : folder + image.mask;
    }
    if (angles) {
      for (const char* name : {"slant", "tilt"}) {
        const std::string& text = fields[column(name)];
        double* into = name[0] == 's' ? &image.slant : &image.tilt;
        if (!parse_number(text, into))
          fail(line, std::string("the ") + name + " " + quoted(text) + " is not a number");
      }
      if (!(image.slant >= 0 && image.slant < 90))
        fail(line, "the slant " + quoted(fields[column("slant")]) + " is outside [0, 90)");
      double tilt = image.tilt;
      if (y_up) {
        tilt = std::fmod(-tilt, 360.0);
        if (tilt < 0) tilt += 360.0;
        tilt += 0.0;  // no negative zero
      }
      light_of_angles(image.slant, tilt, image.light);
      if (!(std::isfinite(image.light[0]) && std::isfinite(image.light[1])))
        fail(line, "the tilt " + quoted(fields[column("tilt")]) + " gives no light vector",
             "its radians are not a finite number");
    } else {
      const char* const names[3] = {"x", "y", "z"};
      for (int c = 0; c < 3; c++) {
        const std::string& text = fields[column(names[c])];
        if (!parse_number(text, &image.light[c]))
          fail(line, std::string("the ") + names[c] + " " + quoted(text) + " is not a number");
      }
      if (image.light[0] == 0 && image.light[1] == 0 && image.light[2] == 0)
        fail(line, "the light vector is zero");
      const double length = std::hypot(std::hypot(image.light[0], image.light[1]), image.light[2]);
      if (!(length >= kMinLightLength && length <= kMaxLightLength))
        fail(line, "the light vector's length " + format_g(length) + " is outside [" +
                       format_g(kMinLightLength) + ", " + format_g(kMaxLightLength) + "]");
      angles_of_light(image.light, &image.slant, &image.tilt);
      if (y_up) image.light[1] = 0.0 - image.light[1];
      if (!(image.slant < 90))
        fail(line, "the light vector's slant " + csv_number(image.slant) +
                       " is outside [0, 90) (z must be above 0)");
    }
    const auto first = seen.emplace(set_key(image.surface, image.set) + image.image, line);
    if (!first.second)
      fail(line,
           "surface " + quoted(image.surface) + ", set " + std::to_string(image.set) + ", image " +
               quoted(image.image) + " is listed twice",
           "first on line " + std::to_string(first.first->second));
    if (named.insert(image.surface).second) surfaces.push_back(image.surface);
    images.push_back(std::move(image));
  }
  if (images.empty()) data_error(file, 0, "the manifest lists no image");
  index();
}

void Manifest::index() {
  sets_.clear();
  for (size_t k = 0; k < images.size(); k++)
    sets_[set_key(images[k].surface, images[k].set)].push_back(k);
}

std::vector<size_t> Manifest::set_of(const std::string& surface, unsigned int q) const {
  const auto found = sets_.find(set_key(surface, q));
  return found == sets_.end() ? std::vector<size_t>() : found->second;
}

void Manifest::keep_only(const std::string& surface) {
  std::vector<ManifestImage> kept;
  for (ManifestImage& image : images)
    if (image.surface == surface) kept.push_back(std::move(image));
  images.swap(kept);
  surfaces.assign(1, surface);
  index();
}

void Manifest::fail(long line, const std::string& message, const std::string& detail,
                    int err) const {
  data_error(file, line, message, detail, err);
}

MAT* read_manifest_image(const Manifest& manifest, const ManifestImage& image,
                         const ImageOptions& options) {
  // The levels go straight into the matrix, whose rows lie one after the
  // other in one block.
  MatrixOwner matrix;
  std::string format;
  try {
    read_grey_image(
        image.path, options,
        [&matrix](int width, int height) {
          matrix.reset(m_get(static_cast<unsigned>(height), static_cast<unsigned>(width)));
          return matrix->base;
        },
        &format);
  } catch (const DataError& e) {
    manifest.fail(image.line, "cannot read the image " + quoted(image.image),
                  without_line_break(e.what()), e.system_error());
  }
  // 8-bit JPEG files are almost always sRGB-encoded: said once per run.
  static std::once_flag jpeg_note;
  if (format == "JPEG" && !options.srgb)
    std::call_once(jpeg_note, [&image] {
      std::fprintf(stderr,
                   "%s: note: %s is a JPEG file, whose 8-bit values are almost always "
                   "sRGB-encoded; --srgb undoes that curve (see docs/own_data.md)\n",
                   program_name(), quoted(image.image).c_str());
    });
  return matrix.release();
}

std::shared_ptr<const PixelMask> Manifest::mask_of(const ManifestImage& image) const {
  if (image.mask.empty()) return nullptr;
  std::lock_guard<std::mutex> lock(masks_->mutex);
  std::shared_ptr<const PixelMask>& mask = masks_->masks[image.mask_path];
  if (!mask) {
    auto read = std::make_shared<PixelMask>();
    try {
      // Levels are sums of non-negative channel terms: zero exactly where
      // every channel is.
      const GreyImage grey = read_grey_image(image.mask_path);
      read->width = grey.width;
      read->height = grey.height;
      read->inside.resize(grey.pixels.size());
      for (size_t p = 0; p < grey.pixels.size(); p++) read->inside[p] = grey.pixels[p] != 0;
    } catch (const DataError& e) {
      fail(image.line, "cannot read the mask " + quoted(image.mask), without_line_break(e.what()),
           e.system_error());
    }
    mask = read;
  }
  return mask;
}

namespace {

// The mask of `image`, checked against the image's size; null for none.
std::shared_ptr<const PixelMask> sized_mask(const Manifest& manifest, const ManifestImage& image,
                                            const MAT* grey) {
  std::shared_ptr<const PixelMask> mask = manifest.mask_of(image);
  if (mask && (static_cast<unsigned>(mask->width) != grey->n ||
               static_cast<unsigned>(mask->height) != grey->m))
    manifest.fail(image.line, "the mask " + quoted(image.mask) + " is " +
                                  std::to_string(mask->width) + "x" + std::to_string(mask->height) +
                                  ", its image " + quoted(image.image) + " " +
                                  std::to_string(grey->n) + "x" + std::to_string(grey->m));
  return mask;
}

}  // namespace

VEC* manifest_image_response(const Manifest& manifest, const ManifestImage& image, Filters* bank,
                             const ImageOptions& options, std::pair<int, int>* size) {
  MatrixOwner grey(read_manifest_image(manifest, image, options));
  *size = std::make_pair(static_cast<int>(grey->n), static_cast<int>(grey->m));
  const std::shared_ptr<const PixelMask> mask = sized_mask(manifest, image, grey.get());
  try {
    return image_response(bank, grey.get(), mask ? mask->inside.data() : nullptr);
  } catch (const DataError& e) {
    manifest.fail(image.line, "cannot filter the image " + quoted(image.image),
                  without_line_break(e.what()));
  }
}

void check_model_set(const Manifest& manifest, const std::vector<size_t>& set) {
  const ManifestImage& first = manifest.images[set.at(0)];
  const std::string which = "surface " + quoted(first.surface) + ", set " +
                            std::to_string(first.set) + " cannot give a model";
  MatrixOwner L(m_get(static_cast<unsigned>(set.size()), 3));
  for (size_t k = 0; k < set.size(); k++)
    for (int c = 0; c < 3; c++) L->me[k][c] = manifest.images[set[k]].light[c];
  const std::string problem = model_lights_problem(L.get());
  if (!problem.empty()) manifest.fail(first.line, which, problem);
}

std::string model_lights_problem(const MAT* L) {
  if (L->m < kModelLights)
    return "it has " + std::to_string(L->m) + (L->m == 1 ? " light" : " lights") +
           "; a model needs at least " + std::to_string(kModelLights) +
           " images whose lights span all three directions: with three, photometric stereo "
           "reproduces its training images exactly, so the model's fit has no spread to weigh "
           "its filters by";
  return lights_problem(L);
}

namespace {

[[noreturn]] void size_differs(const Manifest& manifest, const ManifestImage& image,
                               std::pair<int, int> size, const ManifestImage& first,
                               std::pair<int, int> first_size) {
  manifest.fail(image.line,
                "the image " + quoted(image.image) + " is " + std::to_string(size.first) + "x" +
                    std::to_string(size.second) + ", the first of its set " +
                    std::to_string(first_size.first) + "x" + std::to_string(first_size.second),
                "surface " + quoted(image.surface) + ", set " + std::to_string(image.set) +
                    ", first image " + quoted(first.image) + " on line " +
                    std::to_string(first.line));
}

}  // namespace

ClassSurface* manifest_model(const Manifest& manifest, const std::string& surface, unsigned int q,
                             Filters* bank, const ImageOptions& options) {
  const std::vector<size_t> set = manifest.set_of(surface, q);
  check_model_set(manifest, set);
  const unsigned int K = static_cast<unsigned int>(set.size());
  std::unique_ptr<MatrixMultiple> images(new MatrixMultiple(K));
  for (unsigned int k = 0; k < K; k++) {
    MAT* im = read_manifest_image(manifest, manifest.images[set[k]], options);
    images->matrices[k] = im;
    const std::pair<int, int> size(static_cast<int>(im->n), static_cast<int>(im->m));
    if (k == 0) {
      images->m = im->m;
      images->n = im->n;
    } else if (im->m != images->m || im->n != images->n) {
      size_differs(manifest, manifest.images[set[k]], size, manifest.images[set[0]],
                   {static_cast<int>(images->n), static_cast<int>(images->m)});
    }
  }
  // The model's mask: the pixels inside the masks of all its images.
  std::vector<unsigned char> inside;
  for (unsigned int k = 0; k < K; k++) {
    const std::shared_ptr<const PixelMask> mask =
        sized_mask(manifest, manifest.images[set[k]], images->matrices[k]);
    if (!mask) continue;
    if (inside.empty()) inside.assign(mask->inside.size(), 1);
    for (size_t p = 0; p < inside.size(); p++) inside[p] &= mask->inside[p];
  }
  MAT* L = m_get(K, 3);
  for (unsigned int k = 0; k < K; k++)
    for (int c = 0; c < 3; c++) L->me[k][c] = manifest.images[set[k]].light[c];
  TrainingSet tset(images.release(), L);
  tset.inside.swap(inside);
  try {
    return new ClassSurface(bank, surface.c_str(), &tset);
  } catch (const DataError& e) {
    const ManifestImage& first = manifest.images[set[0]];
    manifest.fail(
        first.line,
        "surface " + quoted(surface) + ", set " + std::to_string(q) + " cannot give a model",
        without_line_break(e.what()));
  }
}

void check_image_sizes(const Manifest& manifest, const std::vector<size_t>& which,
                       const std::vector<std::pair<int, int>>& sizes) {
  std::map<std::pair<std::string, unsigned int>, size_t> first;  // set -> position in `which`
  for (size_t k = 0; k < which.size(); k++) {
    const ManifestImage& image = manifest.images[which[k]];
    const auto found = first.emplace(std::make_pair(image.surface, image.set), k);
    const size_t f = found.first->second;
    if (!found.second && sizes[k] != sizes[f])
      size_differs(manifest, image, sizes[k], manifest.images[which[f]], sizes[f]);
  }
}

std::string join_sets(const std::vector<unsigned int>& sets) {
  std::string text;
  for (unsigned int q : sets) text += (text.empty() ? "" : ",") + std::to_string(q);
  return text;
}
