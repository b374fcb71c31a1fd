// The calibration windows' texts from the language file, their message
// boxes, and the few message keys that only these windows show.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "TareUi.h"
#include "Unit_texts.h"

class QWidget;

namespace kl {

// The add-point dialog's litres message.
inline constexpr KeyText kAddLitrMessage{"msg_litr_value_wrong", "Неверное значение литров"};
// The question that offers an unfinished calibration back; %1 is its row count.
inline constexpr KeyText kJournalRestoreMessage{
    "msg_tare_journal_restore",
    "Найдена незавершённая тарировочная таблица (строк: %1), сохранённая до закрытия окна без \"OK\". "
    "Восстановить её?"};

// The selected language's section of the language file; an empty lookup when
// the file is missing or unreadable (every text then stays built in).
SectionLookup TareLanguageLookup(const std::string& languageFile);

// The text of a key: the language file's when not empty, else `def`.
std::string LangText(const SectionLookup& lookup, std::string_view key, std::string_view def);

// The text of a message key the calibration rules or windows show, with "%1"
// replaced by row: the language file's, else the built-in text.
std::string TareMessageFor(const SectionLookup& lookup, std::string_view key, int row = 0);

// Renames the window's labels, buttons, group boxes and menu items by their
// object names; controls of other windows (a dialog over this one) are left
// alone, and so is every control whose text in the file is empty.
void TareTranslateControls(QWidget* window, const SectionLookup& lookup);

// A message box over parent, modal to the program but shown without a nested
// event loop: it returns at once and onClosed gets the button pressed.
QMessageBox* ShowTareBox(QWidget* parent, QMessageBox::Icon icon, const QString& objectName,
                         const QString& text, QMessageBox::StandardButtons buttons,
                         std::function<void(QMessageBox::StandardButton)> onClosed = nullptr);

// The rules' error boxes over a window. Questions cannot be answered while
// the rule waits (boxes do not block), so AskYesNo answers from `answer` and
// records that it was asked; the caller asks the user and runs the rule again.
class TareBoxUi : public TareUi {
 public:
  TareBoxUi(QWidget* parent, const SectionLookup& lookup, bool answer = false)
      : parent_(parent), lookup_(lookup), answer_(answer) {}
  void ShowError(std::string_view key, int row) override;
  bool AskYesNo(std::string_view key) override;
  const std::string& asked() const { return asked_; }

 private:
  QWidget* parent_;
  const SectionLookup& lookup_;
  bool answer_;
  std::string asked_;
};

}  // namespace kl
