#include "light_space.h"

#include <algorithm>
#include <cmath>

#include "csv.h"
#include "number.h"

bool parse_space(const std::string& text, SpaceOption* space, std::string* why) {
  if (text == "auto") {
    *space = SpaceOption();
    space->automatic = true;
    return true;
  }
  const std::vector<std::string> v = split_text(text, ',');
  if (v.size() != 7) {
    *why = "--space needs seven values T,E0,E1,E,M0,M1,M, not \"" + text + "\"";
    return false;
  }
  SpaceOption s;
  const bool counts = parse_long(v[0], 1, 100000, &s.tilts) &&
                      parse_long(v[3], 1, 100000, &s.elevations) &&
                      parse_long(v[6], 1, 100000, &s.magnitudes);
  const bool ranges = parse_double(v[1], -90, 90, &s.elevation_from) &&
                      parse_double(v[2], -90, 90, &s.elevation_to) &&
                      parse_double(v[4], kMinLightLength, kMaxLightLength, &s.magnitude_from) &&
                      parse_double(v[5], kMinLightLength, kMaxLightLength, &s.magnitude_to);
  if (!counts || !ranges) {
    *why = "--space \"" + text +
           "\": counts are whole numbers from 1 to 100000, elevations degrees from -90 to 90, "
           "magnitudes from " +
           format_g(kMinLightLength) + " to " + format_g(kMaxLightLength);
    return false;
  }
  if (s.elevation_from > s.elevation_to || s.magnitude_from > s.magnitude_to) {
    *why = "--space \"" + text +
           "\": a range runs from its lower end to its upper one (E0 <= E1, " + "M0 <= M1)";
    return false;
  }
  if (static_cast<double>(s.tilts) * s.elevations * s.magnitudes > 1e7) {
    *why = "--space \"" + text + "\" makes more than 10 million vectors";
    return false;
  }
  *space = s;
  return true;
}

SpaceOption auto_space(const Manifest& manifest) {
  double least = 90, greatest = 0;
  for (const ManifestImage& image : manifest.images) {
    least = std::min(least, image.slant);
    greatest = std::max(greatest, image.slant);
  }
  const double lo = std::max(0.0, std::floor(least) - 5),
               hi = std::min(89.0, std::ceil(greatest) + 5);
  SpaceOption space;
  space.elevation_from = 90 - hi;
  space.elevation_to = 90 - lo;
  space.elevations = static_cast<long>(hi - lo);
  return space;
}

SpaceOption space_for(const SpaceOption& option, const Manifest& manifest) {
  return option.automatic ? auto_space(manifest) : option;
}

std::string space_values(const SpaceOption& s) {
  return std::to_string(s.tilts) + "," + csv_number(s.elevation_from) + "," +
         csv_number(s.elevation_to) + "," + std::to_string(s.elevations) + "," +
         csv_number(s.magnitude_from) + "," + csv_number(s.magnitude_to) + "," +
         std::to_string(s.magnitudes);
}

void sampled_slants(const SpaceOption& s, double* lo, double* hi) {
  const double step = (s.elevation_to - s.elevation_from) / static_cast<double>(s.elevations);
  *lo = 90 - (s.elevation_from + static_cast<double>(s.elevations - 1) * step);
  *hi = 90 - s.elevation_from;
}

std::unique_ptr<ISpace> make_space(const SpaceOption& s) {
  const double pi = 3.141592653589793;
  return std::unique_ptr<ISpace>(new ISpace(0.0, 360 * pi / 180, static_cast<unsigned>(s.tilts),
                                            s.elevation_from * pi / 180, s.elevation_to * pi / 180,
                                            static_cast<unsigned>(s.elevations), s.magnitude_from,
                                            s.magnitude_to, static_cast<unsigned>(s.magnitudes)));
}

size_t lights_outside(const Manifest& manifest, const std::vector<size_t>& which,
                      const SpaceOption& space) {
  double lo, hi;
  sampled_slants(space, &lo, &hi);
  const double half_step =
      (space.elevation_to - space.elevation_from) / static_cast<double>(space.elevations) / 2;
  size_t outside = 0;
  for (size_t k : which) {
    const double slant = manifest.images[k].slant;
    outside += slant < lo - half_step || slant > hi + half_step;
  }
  return outside;
}
