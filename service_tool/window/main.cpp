// KL_Install: the service tool of the KL31 fuel-level sensor.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Unit_main.h"

namespace {

// Without a display Qt would stop with a message about platform plugins that
// tells a technician nothing; say what is missing instead.
bool HaveDisplay() {
  auto set = [](const char* v) {
    const char* s = std::getenv(v);
    return s && *s;
  };
  return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  if (!HaveDisplay()) {
    std::fprintf(stderr,
                 "KL_Install: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "Start it from a desktop session, over ssh -X, or under a virtual display:\n"
                 "    xvfb-run -a ./KL_Install\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("KL31_Install_Service");
  QApplication::setOrganizationName("KL31");
  kl::TForm1 form;  // hidden until the splash has faded in
  return app.exec();
}
