// Every control the language file renames must exist under that name in one
// of the program's windows: a misspelt object name would otherwise leave a
// caption untranslated without anyone noticing.
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Ttcalc2.h"
#include "Unit_add.h"
#include "Unit_main.h"
#include "Unit_tare.h"

using namespace kl;

namespace {

// The keys of one section of the shipped language file, read plainly so that
// the test does not lean on the reader it checks.
std::vector<std::string> SectionKeys(const std::string& path, const std::string& section) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  std::vector<std::string> keys;
  bool inside = false;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      inside = line == "[" + section + "]";
      continue;
    }
    const auto eq = line.find('=');
    if (inside && eq != std::string::npos) keys.push_back(line.substr(0, eq));
  }
  return keys;
}

bool IsTextKey(const std::string& k) {
  for (const char* prefix : {"msg_", "sta_", "str_cmb_", "hepl_"})
    if (k.rfind(prefix, 0) == 0) return true;
  return false;
}

}  // namespace

class ControlNamesTest : public QObject {
  Q_OBJECT
 private slots:
  void everyRenamedControlExists() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    WindowConfig c;
    c.programFolder = dir.path().toStdString();
    c.settingsFolders = {dir.path().toStdString()};
    c.languageFolder = dir.path().toStdString();
    c.splash = false;
    c.listPorts = [] { return std::vector<ComPortInfo>{}; };
    TForm1 form(c);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    TankTable table{};
    TareWindowOptions options;
    options.journalFolder = dir.path().toStdString();
    QPointer<TForm_Tare1> tare = OpenTareWindow(&form, table, true, options, [](bool) {});
    QVERIFY(tare);
    TTTCalc calc(&form, "", UserNumberLocale());
    TForm_Add add(&form, SectionLookup{}, NumberLocale{}, [](float, int, TareUi&) { return true; });

    std::set<std::string> names;
    for (QWidget* window : std::initializer_list<QWidget*>{&form, tare.data(), &calc, &add}) {
      names.insert(window->objectName().toStdString());
      for (QObject* o : window->findChildren<QObject*>()) names.insert(o->objectName().toStdString());
    }
    // Keys that name a caption or a grid heading rather than a control.
    const std::set<std::string> notControls = {"sg_tare_column0", "sg_tare_column1", "sg_tare_column2"};

    const std::string lng = std::string(KL_RESOURCES_DIR) + "/KL31_Install_Service.lng";
    for (const char* section : {"Русский", "English"}) {
      const std::vector<std::string> keys = SectionKeys(lng, section);
      QVERIFY2(keys.size() > 50, section);
      QStringList missing;
      for (const std::string& k : keys) {
        if (IsTextKey(k) || notControls.count(k) || names.count(k)) continue;
        missing << QString::fromStdString(k);
      }
      QVERIFY2(missing.isEmpty(), qPrintable(QString::fromUtf8(section) + ": " + missing.join(", ")));
    }
    if (tare) tare->close();
  }
};

QTEST_MAIN(ControlNamesTest)
#include "control_names_test.moc"
