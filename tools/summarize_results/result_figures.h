// The main job's figures of per-image results, as SVG text: the confusion
// matrix and, per surface, a polar plot of the lights and their estimates.
//
// A title is one or more lines separated by '\n' (the first drawn larger and
// bold), e.g. what the results were made from. Text is escaped for XML; every
// number is written in the "C" locale whatever the process's locale. Sizes
// follow the data: cells of 36, 24 or 16 pixels for up to 10, 25 or more
// surfaces, and a grid of about square shape of 200-pixel panels.
#ifndef TI_RESULT_FIGURES_H
#define TI_RESULT_FIGURES_H

#include <string>

#include "experiment_results.h"

// The matrix drawn: the count in each cell, shaded by its share of the row
// (white 0, blue 1), the diagonal outlined, each row's images at its right.
// The labelled surfaces' rows (below `known`) stand apart below the others,
// their names in italics: their counts are predictions, not errors.
std::string confusion_svg(const ConfusionMatrix& matrix, const std::string& title);

// How tilts are drawn. Tilt 0 is to the right in both; tilt 90 is down in
// the image frame (x right, y down, the programs' convention) and up when
// the lights' y axis points up.
enum class LightFrame { kImage, kYUp };

// Per surface of an estimate_light output (columns surface, slant, tilt,
// est_slant, est_tilt, error, twin_error), in order of first appearance, a
// polar plot: tilt as the angle, slant as the radius (rings at 30, 60 and
// 90 degrees), each true light (black dot) joined to its estimate: a green
// disc within 15 degrees, an orange square when only the 180-degree twin
// is, a red cross else. The first title line ends with the frame. A field
// that is not a number is a DataError naming the file and line.
std::string directions_svg(const ResultTable& estimates, const std::string& title,
                           LightFrame frame);

#endif
