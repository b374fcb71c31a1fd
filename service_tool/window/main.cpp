// KL_Install: the service tool of the KL31 fuel-level sensor.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Unit_main.h"

namespace {

constexpr const char* kDisplayHint =
    "Start it from a desktop session, over ssh -X, or under a virtual display:\n"
    "    xvfb-run -a ./KL_Install\n";

// Without a display Qt would stop with a message about platform plugins that
// tells a technician nothing; say what is missing instead.
bool HaveDisplay() {
  auto set = [](const char* v) {
    const char* s = std::getenv(v);
    return s && *s;
  };
  return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

QtMessageHandler previousHandler = nullptr;

// A display that is named but cannot be reached (an ssh session whose
// forwarding ended, a virtual display that was stopped) ends in Qt's fatal
// "no Qt platform plugin could be initialized ... reinstalling may fix this".
// Nothing needs reinstalling: say which display failed and end with the same
// code as for no display at all.
void OnStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "KL_Install: the display %s cannot be opened.\n%s",
                 display && *display ? display : "(none)", kDisplayHint);
    std::fflush(stderr);
    std::_Exit(2);
  }
  if (previousHandler) previousHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  if (!HaveDisplay()) {
    std::fprintf(stderr, "KL_Install: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n%s",
                 kDisplayHint);
    return 2;
  }
  previousHandler = qInstallMessageHandler(OnStartupMessage);
  QApplication app(argc, argv);
  qInstallMessageHandler(previousHandler);
  QApplication::setApplicationName("KL31_Install_Service");
  QApplication::setOrganizationName("KL31");
  kl::SpeakDesktopLanguage(app);
  kl::TForm1 form;  // hidden until the splash has faded in
  return app.exec();
}
