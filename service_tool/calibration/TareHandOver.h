// The hand-over of a computed table (the geometry calculator's) to the
// calibration window's rows.
#pragma once

#include "TareRows.h"

namespace kl {

// Replaces the rows of `target` with those of `computed`, cell by cell as
// text, unchanged: the calculator writes its numbers in the same notation the
// calibration window reads them in, and the window's rules check them when
// the table is stored. A computed table without rows (invalid dimensions)
// leaves one empty row. The target keeps its notation.
void TareHandOver(const TareRows& computed, TareRows& target);

}  // namespace kl
