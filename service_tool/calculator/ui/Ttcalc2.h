// The tank geometry calculator window (TTTCalc).
#pragma once

#include <QWidget>

#include <string>

#include "TareRows.h"

namespace kl {

// Shows the calculator modally over parent. On OK the computed table
// replaces rows (one empty row when nothing was computed) and the result is
// true; on Cancel rows stay as they were.
bool RunTankCalculator(QWidget* parent, const std::string& languageFile, TareRows& rows);

}  // namespace kl
