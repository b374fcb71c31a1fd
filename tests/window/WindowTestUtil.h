// What the window tests share: finding a message box the window showed, and
// a control by its component name.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace kltest {

// A visible message box by its object name ("ErrorBox", "QuestionBox",
// "InfoBox"), or null.
inline QMessageBox* FindBox(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* b = qobject_cast<QMessageBox*>(w); b && b->objectName() == name && b->isVisible()) return b;
  }
  return nullptr;
}

// A control by its component name; a missing one ends the test at once.
template <class T>
T* Child(QWidget* form, const char* name) {
  T* c = form->findChild<T*>(name);
  if (!c) qFatal("no control %s", name);
  return c;
}

}  // namespace kltest
