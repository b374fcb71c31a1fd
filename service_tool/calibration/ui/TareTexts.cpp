#include "TareTexts.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QWidget>

#include "ConfigFiles.h"
#include "TareMessages.h"

namespace kl {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The window an object belongs to: its own window for a widget, the widget's
// for an action; a pop-up menu belongs to the window it pops up over.
const QWidget* OwnerWindow(const QObject* o) {
  for (; o; o = o->parent())
    if (o->isWidgetType() && !qobject_cast<const QMenu*>(o)) return static_cast<const QWidget*>(o)->window();
  return nullptr;
}

}  // namespace

SectionLookup TareLanguageLookup(const std::string& languageFile) {
  if (languageFile.empty()) return {};
  const std::optional<LanguageFile> f = LanguageFile::Load(languageFile);
  if (!f) return {};
  const std::string selected = f->doc.GetString("LANG", "SELECTED", "English");
  return [doc = f->doc, selected](std::string_view key) { return doc.Get(selected, key); };
}

std::string LangText(const SectionLookup& lookup, std::string_view key, std::string_view def) {
  if (lookup) {
    std::optional<std::string> v = lookup(key);
    if (v && !v->empty()) return *v;
  }
  return std::string(def);
}

std::string TareMessageFor(const SectionLookup& lookup, std::string_view key, int row) {
  std::string_view def = TareBuiltinText(key);
  for (const KeyText& k : {kAddLitrMessage, kJournalRestoreMessage})
    if (key == k.key) def = k.text;
  return TareMessageText(LangText(lookup, key, def), row);
}

void TareTranslateControls(QWidget* window, const SectionLookup& lookup) {
  if (!lookup) return;
  for (QObject* o : window->findChildren<QObject*>()) {
    const QString name = o->objectName();
    if (name.isEmpty() || OwnerWindow(o) != window) continue;
    const std::optional<std::string> v = lookup(name.toStdString());
    if (!v || v->empty()) continue;
    const QString text = Q(*v);
    if (auto* l = qobject_cast<QLabel*>(o))
      l->setText(text);
    else if (auto* b = qobject_cast<QAbstractButton*>(o))
      b->setText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(o))
      g->setTitle(text);
    else if (auto* a = qobject_cast<QAction*>(o); a && !a->isSeparator())
      a->setText(text);
  }
}

QMessageBox* ShowTareBox(QWidget* parent, QMessageBox::Icon icon, const QString& objectName,
                         const QString& text, QMessageBox::StandardButtons buttons,
                         std::function<void(QMessageBox::StandardButton)> onClosed) {
  auto* box = new QMessageBox(icon, parent->window()->windowTitle(), text, buttons, parent);
  box->setObjectName(objectName);
  box->setWindowModality(Qt::ApplicationModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(box, &QMessageBox::finished, box, [box, onClosed](int) {
    const QMessageBox::StandardButton b = box->standardButton(box->clickedButton());
    if (onClosed) onClosed(b);
  });
  box->show();
  return box;
}

void TareBoxUi::ShowError(std::string_view key, int row) {
  ShowTareBox(parent_, QMessageBox::Critical, "ErrorBox", Q(TareMessageFor(lookup_, key, row)),
              QMessageBox::Ok);
}

bool TareBoxUi::AskYesNo(std::string_view key) {
  asked_ = std::string(key);
  return answer_;
}

}  // namespace kl
