// The sampled light space of the manifest commands: what --space says
// (seven values, or auto), the space a manifest's lights call for, and the
// slants a space samples.
//
// Angles are degrees here; make_space turns them into the radians of
// ISpace (class.h) as the experiments' constants are made (degrees * pi /
// 180). The default is the two programs' space of 21000 vectors.
#ifndef TI_LIGHT_SPACE_H
#define TI_LIGHT_SPACE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "class.h"
#include "manifest.h"

// The sampled illumination space (class_surface.h): `tilts` tilts over the
// whole circle, `elevations` elevations in [elevation_from, elevation_to)
// degrees above the image plane, `magnitudes` magnitudes in
// [magnitude_from, magnitude_to). The default is the experiments' 21000
// vectors.
struct SpaceOption {
  long tilts = 120;
  double elevation_from = 30, elevation_to = 65;
  long elevations = 35;
  double magnitude_from = 0.8, magnitude_to = 1.3;
  long magnitudes = 5;
  bool automatic = false;  // --space auto: to be made from a manifest (auto_space)
};

// The space --space auto makes of a manifest's lights, every light of every
// set, so that all commands on one manifest share one space: with s_lo and
// s_hi the least and greatest slant in degrees, the slants from
// lo = max(0, floor(s_lo) - 5) to hi = min(89, ceil(s_hi) + 5), i.e.
// elevations [90 - hi, 90 - lo) in steps of one degree (as the default),
// 120 tilts and the default's magnitudes.
SpaceOption auto_space(const Manifest& manifest);

// The space the option stands for on `manifest`: auto_space for --space
// auto, else the option itself. Call it on the whole manifest (before
// keep_surface), so that every job of one manifest samples one space.
SpaceOption space_for(const SpaceOption& option, const Manifest& manifest);

// The seven values of a space as --space takes them: "120,30,65,35,0.8,1.3,5".
std::string space_values(const SpaceOption& space);

// The slants a space samples, in degrees: from 90 minus its highest
// elevation to 90 minus its lowest.
void sampled_slants(const SpaceOption& space, double* lo, double* hi);

// How many lights of the images `which` (indices into the manifest) lie
// outside the slants the space samples, by more than half a step of
// elevation.
size_t lights_outside(const Manifest& manifest, const std::vector<size_t>& which,
                      const SpaceOption& space);

// Parses "T,E0,E1,E,M0,M1,M" or "auto" (--space). False, with the reason, when it is
// not seven values, a count is not from 1 to 100000, an angle not from -90
// to 90, a magnitude not from kMinLightLength to kMaxLightLength
// (manifest.h), a range reversed (E0 above E1, M0 above M1), or there are
// over 10 million vectors. The sample k of a range [A, B) of N is
// A + k (B - A) / N: B itself is never sampled.
bool parse_space(const std::string& text, SpaceOption* space, std::string* why);

// The space of the option, built with the degrees turned into radians as
// the experiments' constants are (degrees * pi / 180).
std::unique_ptr<ISpace> make_space(const SpaceOption& space);

#endif
