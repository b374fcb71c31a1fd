// KL31_AppLoader: the firmware loader for Varon 2.0 devices.
#include <QApplication>

#include <string>

#include "ldr_app.h"
#include "ldr_dialog.h"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  // The text after the program name (Qt's own options taken out) is kept
  // as typed: it names a module file to preselect.
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_line += ' ';
    command_line += argv[i];
  }
  qapp.setWindowIcon(QIcon(ldr_program_icon(32)));
  LdrApp app;
  LdrMainDialog::Options options;
  options.command_line = command_line;
  LdrMainDialog dialog(app, options);
  dialog.exec();
  return 0;
}
