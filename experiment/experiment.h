// The fixed experiment the two programs replay, in one place: its 20 surfaces
// (model k of the database is surface k), the lights of its images (slant 45
// degrees, tilts 0 to 330 in steps of 30; angles in whole degrees, as they
// appear in the image file names) and the illumination space searched for
// every test image (tilt, slant in radians, magnitude; 120 x 35 x 5 = 21000
// sampled light vectors). Tools and tests take these from here, and scripts
// ask `build_database --list-surfaces` instead of copying them.
#ifndef TI_EXPERIMENT_H
#define TI_EXPERIMENT_H

#include <sys/types.h>

constexpr unsigned int kExperimentSurfaces = 20;
inline constexpr const char* kSurfaceNames[kExperimentSurfaces] = {
    "aaa", "aab", "aaj", "aam", "aan", "aao", "aar", "aas", "aba", "abj",
    "abk", "acc", "acd", "ace", "adb", "adc", "add", "ade", "adg", "adh"};

// Every image set holds one image per tilt at this one slant.
constexpr unsigned int kExperimentSlantCount = 1;
inline constexpr u_int kExperimentSlants[kExperimentSlantCount] = {45};
constexpr unsigned int kExperimentTiltCount = 12;
inline constexpr u_int kExperimentTilts[kExperimentTiltCount] = {0,   30,  60,  90,  120, 150,
                                                                 180, 210, 240, 270, 300, 330};
// The images of a set used for a model: all twelve, in tilt order.
inline constexpr int kExperimentImages[kExperimentTiltCount] = {0, 1, 2, 3, 4,  5,
                                                                6, 7, 8, 9, 10, 11};

// The sampled illumination space: `count` values from `first` to `last` of
// tilt, slant and magnitude (see ISpace).
struct IlluminationSpaceRange {
  double tilt_first, tilt_last;
  unsigned int tilt_count;
  double slant_first, slant_last;
  unsigned int slant_count;
  double magnitude_first, magnitude_last;
  unsigned int magnitude_count;
};
inline constexpr IlluminationSpaceRange kExperimentSpace = {
    0.0, 6.283185307179586, 120, 0.5235987755982988, 1.1344640137963142, 35, 0.8, 1.3, 5};

#endif
