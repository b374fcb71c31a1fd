// The calibration table window (TForm_Tare1) and its add-point dialog.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>

#include "HubData.h"

namespace kl {

class TForm_Tare1;

struct TareWindowOptions {
  std::string languageFile;   // the window's texts; missing file: built-in texts
  std::string journalFolder;  // where an unfinished calibration is kept
};

// Opens the calibration table window for `table` (owned by the caller, who
// keeps it alive while the window is open), modal and without a nested event
// loop: it returns at once. onClosed(ok) runs once the window has closed; ok
// is true when OK stored the rows into table.
TForm_Tare1* OpenTareWindow(QWidget* parent, TankTable& table, bool readOnly, const TareWindowOptions& options,
                            std::function<void(bool ok)> onClosed);

// The window's level read-out (the engine's level poll), for the page that
// forwards ShowLevel. A null window is ignored.
void TareWindowShowLevel(TForm_Tare1* window, int levelCode, bool noData);

}  // namespace kl
