// KL31_AppLoader: the firmware loader for Varon 2.0 devices.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ldr_app.h"
#include "ldr_dialog.h"

namespace {

constexpr const char* kDisplayHint =
    "Start it from a desktop session, over ssh -X, or under a virtual display:\n"
    "    xvfb-run -a ./KL31_AppLoader\n";

// Without a display Qt would abort with a message about platform plugins
// that tells a technician nothing; say what is missing instead.
bool have_display() {
  auto set = [](const char* v) {
    const char* s = std::getenv(v);
    return s && *s;
  };
  return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

QtMessageHandler previous_handler = nullptr;

// A display that is named but cannot be reached (an ssh session whose
// forwarding ended, a stopped virtual display) ends in Qt's fatal "no Qt
// platform plugin could be initialized": nothing needs reinstalling.
void on_startup_message(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "KL31_AppLoader: the display %s cannot be opened.\n%s",
                 display && *display ? display : "(none)", kDisplayHint);
    std::fflush(stderr);
    std::_Exit(2);
  }
  if (previous_handler) previous_handler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  if (!have_display()) {
    std::fprintf(stderr, "KL31_AppLoader: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n%s",
                 kDisplayHint);
    return 2;
  }
  previous_handler = qInstallMessageHandler(on_startup_message);
  QApplication qapp(argc, argv);
  qInstallMessageHandler(previous_handler);
  // The standard buttons and the file dialog in the desktop's language.
  QTranslator qt_texts;
  if (qt_texts.load(QLocale(), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qt_texts);
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
