// The loader dialog end to end on the offscreen platform: real widgets, real
// message boxes and file dialogs, the worker, the POSIX port and the virtual
// device on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>

#include "ldr_dialog.h"
#include "loader_test_util.h"
#include "virtual_loader.h"

namespace {

QString q(const char* s) { return QString::fromUtf8(s); }

// Answers the modal windows the worker opens: records and accepts message
// boxes, answers Yes/No questions from a queue (empty: No), and fills file
// dialogs from a queue of paths (empty: cancel).
class ModalAnswerer {
 public:
  ModalAnswerer() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
  }
  std::vector<std::string> boxes;
  std::vector<std::string> questions;
  std::deque<bool> answers;
  std::deque<std::string> files;
  std::function<void(QFileDialog*)> inspect;

 private:
  void poll() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    // Boxes first: a question can sit on top of a file dialog.
    for (QWidget* w : windows) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible()) continue;
      if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        boxes.push_back((box->windowTitle() + "|" + box->text()).toStdString());
        ok->click();
      } else if (box->button(QMessageBox::Yes) && box->button(QMessageBox::No)) {
        questions.push_back(box->text().toStdString());
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
      }
      return;
    }
    for (QWidget* w : windows) {
      auto* fd = qobject_cast<QFileDialog*>(w);
      if (!fd || !fd->isVisible() || fd == accepting_.data()) continue;
      if (inspect) inspect(fd);
      std::string path = files.empty() ? std::string() : files.front();
      if (!files.empty()) files.pop_front();
      if (path.empty()) {
        fd->reject();
      } else {
        // selectFile() leaves a focused name field alone, so the
        // path is typed into it as a user would.
        fd->selectFile(QString::fromStdString(path));
        if (auto* edit = fd->findChild<QLineEdit*>("fileNameEdit"))
          edit->setText(QString::fromStdString(path));
        // Queued, so that this timer is free to answer a question
        // that accepting opens; the dialog is left alone meanwhile.
        accepting_ = fd;
        QMetaObject::invokeMethod(
            fd,
            [this, fd] {
              static_cast<QDialog*>(fd)->accept();  // dispatches to the dialog's own accept
              accepting_ = nullptr;
            },
            Qt::QueuedConnection);
      }
      return;
    }
  }
  QPointer<QFileDialog> accepting_;
  QTimer timer_;
};

bool pump_until(const std::function<bool()>& done, int seconds = 60) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > seconds * 1000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QTest::qWait(1);
  }
  return true;
}

class LoaderDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KL31_PORTS_DIR", ports.path().c_str(), 1);
    start_device(false);
  }
  void TearDown() override {
    dialog.reset();
    device.reset();
    unsetenv("KL31_PORTS_DIR");
  }
  void start_device(bool paced) {
    device.reset();
    vloader::Config c;
    c.com_name = "COM3";
    c.ports_dir = ports.path();
    c.paced = paced;
    device = std::make_unique<vloader::Device>(c);
    ASSERT_TRUE(device->start());
  }
  void open_dialog(LdrMainDialog::Options options = {}) {
    app.own_folder = files.path() + "/";
    app.write_pause_ms = 0;
    dialog = std::make_unique<LdrMainDialog>(app, options);
    count_enable_changes();
    dialog->show();
  }
  QString text(int id) {
    QWidget* w = dialog->control(id);
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    return {};
  }
  QPushButton* button(int id) { return qobject_cast<QPushButton*>(dialog->control(id)); }
  bool operations_enabled() {
    for (int id : LDR_OPERATION_BUTTONS)
      if (!button(id)->isEnabled()) return false;
    return true;
  }
  // Clicks a button and waits until the worker has disabled and enabled
  // the operation buttons again, however quickly that happened.
  void click_and_wait(int id) {
    const int before = enable_changes;
    button(id)->click();
    ASSERT_TRUE(pump_until([&] { return enable_changes >= before + 2 && operations_enabled(); }));
  }
  void count_enable_changes() {
    auto* counter = new EnableCounter(&enable_changes, dialog.get());
    button(LDR_ID_SEARCH)->installEventFilter(counter);
  }
  struct EnableCounter : QObject {
    EnableCounter(int* n, QObject* parent) : QObject(parent), n_(n) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::EnabledChange) ++*n_;
      return false;
    }
    int* n_;
  };
  int enable_changes = 0;

  ldrtest::TempDir ports, files;
  std::unique_ptr<vloader::Device> device;
  LdrApp app;
  std::unique_ptr<LdrMainDialog> dialog;
  ModalAnswerer answers;
};

TEST_F(LoaderDialogTest, ControlsCaptionsAndStartState) {
  open_dialog({"/some/module.k31"});
  EXPECT_EQ(dialog->windowTitle(), "KL31_AppLoader");
  auto* heading = dialog->findChild<QLabel*>("ldr_heading");
  ASSERT_NE(heading, nullptr);
  EXPECT_EQ(heading->text(), "Varon 2.0  AppLoader.  Version 1.1");
  ASSERT_NE(dialog->findChild<QLabel*>("ldr_icon"), nullptr);
  EXPECT_FALSE(dialog->findChild<QLabel*>("ldr_icon")->pixmap().isNull());

  const std::pair<int, const char*> buttons[] = {
      {LDR_ID_SEARCH, "Поиск/Получить информацию"},
      {LDR_ID_STOP, "Стоп"},
      {LDR_ID_FIND_FILE, "Найти файл"},
      {LDR_ID_WRITE_MODULE, "Записать модуль в устройство"},
      {LDR_ID_SAVE_CALIBRATION, "Сохранить калибровку"},
      {LDR_ID_SAVE_CONFIGURATION, "Сохранить конфигурацию"},
      {LDR_ID_ACTIVATE, "Активировать приложение"},
      {LDR_ID_EXIT, "Выйти"},
  };
  for (auto [id, caption] : buttons) {
    ASSERT_NE(button(id), nullptr) << id;
    EXPECT_EQ(button(id)->text(), q(caption)) << id;
    EXPECT_EQ(button(id)->property("ldr_id").toInt(), id);
  }
  EXPECT_TRUE(button(LDR_ID_SEARCH)->isDefault());
  for (int id : {LDR_ID_TYPE, LDR_ID_SERIAL, LDR_ID_BOOT, LDR_ID_APP, LDR_ID_REQUIRED_BOOT, LDR_ID_STATUS,
                 LDR_ID_PERCENT})
    ASSERT_NE(qobject_cast<QLabel*>(dialog->control(id)), nullptr) << id;
  for (const char* label :
       {"COM-порт:", "485 N:", "Тип устройства :", "Серийный номер :", "BOOT версия (дата):",
        "APP версия (дата):", "Требуемая вер. BOOT:", "Файл для записи :", "Статус :"}) {
    bool found = false;
    for (QLabel* l : dialog->findChildren<QLabel*>()) found = found || l->text() == q(label);
    EXPECT_TRUE(found) << label;
  }
  auto* port = qobject_cast<QComboBox*>(dialog->control(LDR_ID_PORT));
  ASSERT_NE(port, nullptr);
  EXPECT_TRUE(port->isEditable());
  EXPECT_GE(port->findText("COM3"), 0) << "the virtual device's port is listed";
  EXPECT_EQ(port->currentIndex(), 0);
  EXPECT_EQ(text(LDR_ID_ADDRESS), "255");
  auto* file = qobject_cast<QLineEdit*>(dialog->control(LDR_ID_FILE));
  EXPECT_EQ(file->text(), "/some/module.k31");
  EXPECT_EQ(file->maxLength(), 1280);
  EXPECT_TRUE(operations_enabled());
}

TEST_F(LoaderDialogTest, PortListIsReadAgainWhenItDropsDown) {
  open_dialog();
  auto* port = qobject_cast<QComboBox*>(dialog->control(LDR_ID_PORT));
  ASSERT_EQ(port->findText("COM30"), -1);
  port->setCurrentIndex(port->findText("COM3"));
  // An adapter plugged in after the start.
  vloader::Config c;
  c.com_name = "COM30";
  c.ports_dir = ports.path();
  auto late = std::make_unique<vloader::Device>(c);
  ASSERT_TRUE(late->start());
  port->showPopup();
  port->hidePopup();
  EXPECT_GE(port->findText("COM30"), 0);
  EXPECT_EQ(port->currentText(), "COM3") << "the choice stays";

  // Both go away: the selected one stays listed, the other leaves.
  late.reset();
  device.reset();
  port->showPopup();
  port->hidePopup();
  EXPECT_EQ(port->findText("COM30"), -1);
  EXPECT_GE(port->findText("COM3"), 0);
  EXPECT_EQ(port->currentText(), "COM3");
}

TEST_F(LoaderDialogTest, SearchShowsTheDeviceFields) {
  open_dialog();
  qobject_cast<QComboBox*>(dialog->control(LDR_ID_PORT))->setEditText("COM3");
  click_and_wait(LDR_ID_SEARCH);
  EXPECT_EQ(text(LDR_ID_TYPE), "K31A");
  EXPECT_EQ(text(LDR_ID_SERIAL), "1234");
  EXPECT_EQ(text(LDR_ID_BOOT), "01.02 (15.06.2018)");
  EXPECT_EQ(text(LDR_ID_APP), "02.03 (01.09.2021)");
  EXPECT_EQ(text(LDR_ID_REQUIRED_BOOT), "01.02");
  EXPECT_EQ(text(LDR_ID_STATUS), q("Чтение завершено"));
  EXPECT_EQ(text(LDR_ID_PERCENT), "100%");
  EXPECT_TRUE(answers.boxes.empty());
}

TEST_F(LoaderDialogTest, WriteModuleShowsProgress) {
  start_device(true);
  open_dialog();
  const auto data = ldrtest::random_bytes(6 * 1030, 3);
  ldrtest::write_file(files.file("m.k31"), data);
  qobject_cast<QComboBox*>(dialog->control(LDR_ID_PORT))->setEditText("COM3");
  qobject_cast<QLineEdit*>(dialog->control(LDR_ID_FILE))
      ->setText(QString::fromStdString(files.file("m.k31")));
  std::vector<QString> seen;
  button(LDR_ID_WRITE_MODULE)->click();
  ASSERT_TRUE(pump_until([&] {
    if (text(LDR_ID_STATUS) == q("Запись") && (seen.empty() || seen.back() != text(LDR_ID_PERCENT)))
      seen.push_back(text(LDR_ID_PERCENT));
    return text(LDR_ID_STATUS) == q("Запись завершена") && operations_enabled();
  }));
  EXPECT_EQ(text(LDR_ID_PERCENT), "100%");
  EXPECT_TRUE(answers.boxes.empty());
  ASSERT_EQ(device->records().size(), 6u);
  // Percentages only grow and stop short of 100 while records are going out.
  ASSERT_GE(seen.size(), 2u);
  for (size_t i = 1; i < seen.size(); ++i)
    EXPECT_LT(seen[i - 1].chopped(1).toInt(), seen[i].chopped(1).toInt());
  EXPECT_LT(seen.back().chopped(1).toInt(), 100);
}

TEST_F(LoaderDialogTest, StopDuringAWrite) {
  start_device(true);
  open_dialog();
  ldrtest::write_file(files.file("m.k31"), ldrtest::random_bytes(112 * 1030, 4));
  qobject_cast<QComboBox*>(dialog->control(LDR_ID_PORT))->setEditText("COM3");
  qobject_cast<QLineEdit*>(dialog->control(LDR_ID_FILE))
      ->setText(QString::fromStdString(files.file("m.k31")));
  button(LDR_ID_WRITE_MODULE)->click();
  ASSERT_TRUE(pump_until([&] { return device->records().size() >= 1; }));
  EXPECT_FALSE(operations_enabled());
  EXPECT_TRUE(button(LDR_ID_STOP)->isEnabled());
  button(LDR_ID_STOP)->click();
  ASSERT_TRUE(pump_until([&] { return !answers.boxes.empty() && operations_enabled(); }));
  EXPECT_EQ(answers.boxes, std::vector<std::string>{"Ошибка!|Прервано пользователем."});
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_LT(device->records().size(), 112u);
}

TEST_F(LoaderDialogTest, ExitDuringAWriteClosesAfterTheMessage) {
  start_device(true);
  open_dialog();
  ldrtest::write_file(files.file("m.k31"), ldrtest::random_bytes(112 * 1030, 5));
  qobject_cast<QComboBox*>(dialog->control(LDR_ID_PORT))->setEditText("COM3");
  qobject_cast<QLineEdit*>(dialog->control(LDR_ID_FILE))
      ->setText(QString::fromStdString(files.file("m.k31")));
  button(LDR_ID_WRITE_MODULE)->click();
  ASSERT_TRUE(pump_until([&] { return device->records().size() >= 1; }));
  button(LDR_ID_EXIT)->click();
  EXPECT_TRUE(dialog->isVisible()) << "the dialog waits for the worker";
  ASSERT_TRUE(pump_until([&] { return !dialog->isVisible(); }));
  EXPECT_EQ(answers.boxes, std::vector<std::string>{"Ошибка!|Прервано пользователем."});
  EXPECT_EQ(dialog->result(), 0);
  EXPECT_FALSE(ldr_worker_running(app));
}

TEST_F(LoaderDialogTest, EscapeClosesAnIdleDialog) {
  open_dialog();
  QTest::keyClick(dialog.get(), Qt::Key_Escape);
  ASSERT_TRUE(pump_until([&] { return !dialog->isVisible(); }));
  EXPECT_TRUE(answers.boxes.empty());
}

TEST_F(LoaderDialogTest, SaveConfigurationAndFindFileThroughFileDialogs) {
  open_dialog();
  qobject_cast<QComboBox*>(dialog->control(LDR_ID_PORT))->setEditText("COM3");
  std::vector<std::string> seen_names, seen_dirs;
  QStringList filters;
  answers.inspect = [&](QFileDialog* fd) {
    filters = fd->nameFilters();
    seen_dirs.push_back(fd->directory().absolutePath().toStdString());
    seen_names.push_back(fd->selectedFiles().value(0).toStdString());
  };
  answers.files.push_back(files.file("saved"));
  click_and_wait(LDR_ID_SAVE_CONFIGURATION);
  EXPECT_TRUE(answers.boxes.empty());
  EXPECT_EQ(ldrtest::read_file(files.file("saved.k31")).size(), 6180u);
  EXPECT_EQ(text(LDR_ID_STATUS), q("Сохранение завершено"));
  ASSERT_EQ(seen_names.size(), 1u);
  EXPECT_NE(seen_names[0].find("K31A_1234_CFG.k31"), std::string::npos) << seen_names[0];
  EXPECT_EQ(seen_dirs[0], files.path());
  EXPECT_EQ(filters, QStringList{q("Модули Varon 2.0 (.k31) (*.k31)")});

  answers.files.push_back(files.file("saved.k31"));
  click_and_wait(LDR_ID_FIND_FILE);
  EXPECT_EQ(text(LDR_ID_FILE).toStdString(), files.file("saved.k31"));

  answers.files.push_back("");  // cancelled: no message
  click_and_wait(LDR_ID_SAVE_CALIBRATION);
  EXPECT_TRUE(answers.boxes.empty());
}

TEST_F(LoaderDialogTest, SaveAsksBeforeReplacingTheFileItWrites) {
  open_dialog();
  qobject_cast<QComboBox*>(dialog->control(LDR_ID_PORT))->setEditText("COM3");
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  ldrtest::write_file(files.file("cfg.k31"), old);
  ldrtest::write_file(files.file("plain"), old);

  // "cfg" is written as cfg.k31, which exists: the question names it, and
  // No keeps the file dialog open (here it is then cancelled).
  answers.files = {files.file("cfg"), ""};
  answers.answers = {false};
  click_and_wait(LDR_ID_SAVE_CONFIGURATION);
  ASSERT_EQ(answers.questions.size(), 1u);
  EXPECT_NE(answers.questions[0].find("cfg.k31"), std::string::npos) << answers.questions[0];
  EXPECT_EQ(ldrtest::read_file(files.file("cfg.k31")), old);
  EXPECT_TRUE(answers.files.empty()) << "No must lead back to the file dialog";

  struct Case {
    const char* typed;
    const char* written;
    bool asked;
  };
  const Case cases[] = {
      {"cfg", "cfg.k31", true},       // the final name exists
      {"cfg.k31", "cfg.k31", true},   // the chosen name is the final name
      {"plain", "plain.k31", false},  // only the chosen name exists; it is not touched
      {"fresh.k31", "fresh.k31", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    answers.questions.clear();
    answers.files = {files.file(c.typed)};
    answers.answers = {true};
    click_and_wait(LDR_ID_SAVE_CONFIGURATION);
    EXPECT_EQ(answers.questions.size(), c.asked ? 1u : 0u);
    EXPECT_EQ(ldrtest::read_file(files.file(c.written)).size(), 6180u);
  }
  EXPECT_EQ(ldrtest::read_file(files.file("plain")), old);
  EXPECT_TRUE(answers.boxes.empty());
}

TEST(LoaderProgram, WithoutADisplayItSaysSo) {
  struct Case {
    const char* display;
    const char* says;
  } cases[] = {
      {nullptr, "no display found"},
      // Named but not there: an ssh session whose forwarding ended.
      {":8792", "the display :8792 cannot be opened"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(v);
    if (c.display) env.insert("DISPLAY", c.display);
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationDirPath() + "/KL31_AppLoader", {});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << err.toStdString();  // no abort
    EXPECT_EQ(p.exitCode(), 2) << err.toStdString();
    EXPECT_TRUE(err.contains(c.says)) << err.toStdString();
    EXPECT_TRUE(err.contains("xvfb-run")) << err.toStdString();
  }
}

TEST_F(LoaderDialogTest, StartUpFailureLeavesOnlyExit) {
  LdrMainDialog::Options options;
  options.fail_worker_start = true;
  open_dialog(options);
  ASSERT_TRUE(pump_until([&] { return !answers.boxes.empty(); }));
  EXPECT_EQ(answers.boxes, std::vector<std::string>{"Ошибка!|Неизвестная ошибка."});
  for (int id : LDR_OPERATION_BUTTONS) EXPECT_FALSE(button(id)->isEnabled()) << id;
  EXPECT_TRUE(button(LDR_ID_STOP)->isEnabled());
  button(LDR_ID_SEARCH)->click();  // disabled: nothing happens
  button(LDR_ID_EXIT)->click();
  EXPECT_FALSE(dialog->isVisible()) << "no worker: Exit closes at once";
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
