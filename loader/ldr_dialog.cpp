#include "ldr_dialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <optional>
#include <type_traits>

#include "ldr_strings.h"

namespace {
QString q(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
std::string s(const QString& q) { return q.toUtf8().toStdString(); }

// The port list is read again each time it drops down, so that an adapter
// plugged in after the start appears. The port in the field stays.
class PortCombo : public QComboBox {
 public:
  using QComboBox::QComboBox;

  void refresh() {
    std::vector<std::string> old_entries;
    for (int i = 0; i < count(); ++i) old_entries.push_back(s(itemText(i)));
    const QString selected = currentText();
    const std::vector<std::string> list = ldr_merge_port_list(old_entries, s(selected), ldr_list_ports());
    if (list == old_entries) return;
    const QSignalBlocker quiet(this);
    clear();
    for (const std::string& name : list) addItem(q(name));
    const int at = findText(selected);
    setCurrentIndex(at);
    if (at < 0) setEditText(selected);
  }

  void showPopup() override {
    refresh();
    QComboBox::showPopup();
  }
};

// The save dialog asks before replacing a file, but about the file that will
// really be written: ".k31" is added to a chosen name without it, and that
// name may belong to another existing file (data -> data.k31). Qt's own
// question would be about the chosen name and is switched off.
class LoaderFileDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;

  void accept() override {
    const QStringList chosen = selectedFiles();
    if (acceptMode() == AcceptSave && chosen.size() == 1 && !QFileInfo(chosen.first()).isDir()) {
      const QFileInfo target(q(ldr_k31_name(s(chosen.first()))));
      if (target.exists() && !target.isDir()) {
        QMessageBox box(QMessageBox::Warning, windowTitle(),
                        QString::fromUtf8("Файл %1 уже существует.\nЗаменить его?").arg(target.fileName()),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes) return;
      }
    }
    QFileDialog::accept();
  }
};
}  // namespace

template <class F>
auto LdrMainDialog::call_on_ui(F f) -> decltype(f()) {
  using R = decltype(f());
  if (QThread::currentThread() == thread()) return f();
  struct State {
    bool done = false;
    std::conditional_t<std::is_void_v<R>, bool, std::optional<R>> value{};
  };
  auto gate = gate_;
  auto state = std::make_shared<State>();
  {
    std::lock_guard lock(gate->mutex);
    if (gate->closed) return R();
  }
  QMetaObject::invokeMethod(
      this,
      [f, gate, state]() mutable {
        {
          std::lock_guard lock(gate->mutex);
          if (gate->closed) return;
        }
        if constexpr (std::is_void_v<R>) {
          f();
          std::lock_guard lock(gate->mutex);
          state->done = true;
        } else {
          R r = f();
          std::lock_guard lock(gate->mutex);
          state->value = std::move(r);
          state->done = true;
        }
        gate->cv.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(gate->mutex);
  gate->cv.wait(lock, [&] { return state->done || gate->closed; });
  if constexpr (std::is_void_v<R>) {
    return;
  } else {
    return state->value ? std::move(*state->value) : R();
  }
}

LdrMainDialog::LdrMainDialog(LdrApp& app, const Options& options, QWidget* parent)
    : QDialog(parent), app_(app), gate_(std::make_shared<Gate>()) {
  build();

  auto* port = static_cast<QComboBox*>(control(LDR_ID_PORT));
  for (const std::string& name : ldr_list_ports()) port->addItem(q(name));
  port->setCurrentIndex(port->count() > 0 ? 0 : -1);
  static_cast<QLineEdit*>(control(LDR_ID_FILE))->setMaxLength(LDR_FILE_FIELD_LIMIT);
  static_cast<QLineEdit*>(control(LDR_ID_ADDRESS))->setText("255");
  app_.command_line = options.command_line;
  if (!options.command_line.empty())
    static_cast<QLineEdit*>(control(LDR_ID_FILE))->setText(q(options.command_line));

  adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desk = screen->geometry();
    move(desk.x() + (desk.width() - width()) / 2, desk.y() + (desk.height() - height()) / 2);
  }

  const int started = options.fail_worker_start ? LDR_ERR_UNKNOWN : ldr_start_worker(app_, *this);
  if (started != LDR_OK) {
    ldr_set_buttons(*this, false);
    // Shown once the dialog is up, so that the box has its owner on screen.
    QTimer::singleShot(0, this, [this, started] { ldr_show_error(*this, started); });
  }
}

LdrMainDialog::~LdrMainDialog() {
  {
    std::lock_guard lock(gate_->mutex);
    gate_->closed = true;
  }
  gate_->cv.notify_all();
  // The worker refers to this dialog; it has to be gone before the dialog is.
  if (app_.worker.joinable()) {
    ldr_store_command(app_, LDR_ID_EXIT);
    app_.worker.join();
  }
  ldr_close_port(app_.link);
}

void LdrMainDialog::add_control(int id, QWidget* w) {
  w->setProperty("ldr_id", id);
  w->setObjectName(QString("ldr_%1").arg(id));
  controls_[id] = w;
}

QWidget* LdrMainDialog::control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void LdrMainDialog::build() {
  setWindowTitle(LDR_CAPTION);
  setWindowIcon(QIcon(ldr_program_icon(32)));
  setFont(QFont("Tahoma", 8));

  auto* top = new QVBoxLayout(this);

  auto* heading = new QHBoxLayout;
  auto* icon = new QLabel;
  icon->setObjectName("ldr_icon");
  icon->setPixmap(ldr_program_icon(32));
  auto* title = new QLabel(LDR_HEADING);
  title->setObjectName("ldr_heading");
  heading->addWidget(icon);
  heading->addWidget(title, 1);
  top->addLayout(heading);

  auto button = [this](int id, const char* caption) {
    auto* b = new QPushButton(caption);
    b->setAutoDefault(false);
    add_control(id, b);
    connect(b, &QPushButton::clicked, this, [this, id] { on_command(id); });
    return b;
  };
  auto field = [this](int id) {
    auto* l = new QLabel;
    l->setMinimumWidth(160);
    add_control(id, l);
    return l;
  };

  auto* link_rows = new QGridLayout;
  auto* port = new PortCombo;
  port->setEditable(true);
  add_control(LDR_ID_PORT, port);
  auto* search = button(LDR_ID_SEARCH, "Поиск/Получить информацию");
  search->setDefault(true);
  auto* address = new QLineEdit;
  add_control(LDR_ID_ADDRESS, address);
  link_rows->addWidget(new QLabel("COM-порт:"), 0, 0);
  link_rows->addWidget(port, 0, 1);
  link_rows->addWidget(search, 0, 2);
  link_rows->addWidget(new QLabel("485 N:"), 1, 0);
  link_rows->addWidget(address, 1, 1);
  link_rows->addWidget(button(LDR_ID_STOP, "Стоп"), 1, 2);
  top->addLayout(link_rows);

  auto* device = new QGroupBox("Параметры устройства");
  auto* form = new QFormLayout(device);
  form->addRow("Тип устройства :", field(LDR_ID_TYPE));
  form->addRow("Серийный номер :", field(LDR_ID_SERIAL));
  form->addRow("BOOT версия (дата):", field(LDR_ID_BOOT));
  form->addRow("APP версия (дата):", field(LDR_ID_APP));
  form->addRow("Требуемая вер. BOOT:", field(LDR_ID_REQUIRED_BOOT));
  top->addWidget(device);

  auto* files = new QGroupBox;
  auto* fl = new QGridLayout(files);
  auto* file = new QLineEdit;
  add_control(LDR_ID_FILE, file);
  fl->addWidget(new QLabel("Файл для записи :"), 0, 0);
  fl->addWidget(file, 0, 1);
  fl->addWidget(button(LDR_ID_FIND_FILE, "Найти файл"), 0, 2);
  fl->addWidget(button(LDR_ID_WRITE_MODULE, "Записать модуль в устройство"), 1, 0, 1, 3);
  fl->addWidget(button(LDR_ID_SAVE_CALIBRATION, "Сохранить калибровку"), 2, 0, 1, 3);
  fl->addWidget(button(LDR_ID_SAVE_CONFIGURATION, "Сохранить конфигурацию"), 3, 0, 1, 3);
  fl->addWidget(button(LDR_ID_ACTIVATE, "Активировать приложение"), 4, 0, 1, 3);
  top->addWidget(files);

  auto* bottom = new QHBoxLayout;
  auto* status = field(LDR_ID_STATUS);
  status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* percent = field(LDR_ID_PERCENT);
  percent->setMinimumWidth(40);
  percent->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  bottom->addWidget(new QLabel("Статус :"));
  bottom->addWidget(status, 1);
  bottom->addWidget(percent);
  bottom->addWidget(button(LDR_ID_EXIT, "Выйти"));
  top->addLayout(bottom);
}

void LdrMainDialog::on_command(int id) {
  if (ldr_dialog_command(app_, id)) QDialog::done(0);
}

void LdrMainDialog::reject() { on_command(LDR_ID_EXIT); }

std::string LdrMainDialog::get_text(int id) {
  return call_on_ui([this, id]() -> std::string {
    QWidget* w = control(id);
    if (auto* c = qobject_cast<QComboBox*>(w)) return s(c->currentText());
    if (auto* e = qobject_cast<QLineEdit*>(w)) return s(e->text());
    if (auto* l = qobject_cast<QLabel*>(w)) return s(l->text());
    return {};
  });
}

void LdrMainDialog::set_text(int id, const std::string& text) {
  call_on_ui([this, id, text] {
    QWidget* w = control(id);
    if (auto* e = qobject_cast<QLineEdit*>(w))
      e->setText(q(text));
    else if (auto* l = qobject_cast<QLabel*>(w))
      l->setText(q(text));
  });
}

void LdrMainDialog::set_status(const std::string& text, const std::string& percent) {
  call_on_ui([this, text, percent] {
    static_cast<QLabel*>(control(LDR_ID_STATUS))->setText(q(text));
    static_cast<QLabel*>(control(LDR_ID_PERCENT))->setText(q(percent));
  });
}

void LdrMainDialog::set_buttons(bool enabled) {
  call_on_ui([this, enabled] {
    for (int id : LDR_OPERATION_BUTTONS)
      if (QWidget* w = control(id)) w->setEnabled(enabled);
  });
}

void LdrMainDialog::show_message(const std::string& title, const std::string& text) {
  call_on_ui([this, title, text] {
    QMessageBox box(QMessageBox::Critical, q(title), q(text), QMessageBox::Ok, this);
    box.setObjectName("ldr_message");
    box.exec();
  });
}

LdrFileChoice LdrMainDialog::run_file_dialog(bool save, const std::string& initial_folder,
                                             const std::string& default_name) {
  LoaderFileDialog fd(this, QString(), q(initial_folder));
  fd.setObjectName("ldr_file_dialog");
  fd.setOption(QFileDialog::DontUseNativeDialog);
  fd.setOption(QFileDialog::HideNameFilterDetails);
  fd.setNameFilter(QString::fromUtf8(LDR_FILE_FILTER_TEXT) + " (" + LDR_FILE_FILTER_PATTERN + ")");
  if (save) {
    fd.setAcceptMode(QFileDialog::AcceptSave);
    fd.setFileMode(QFileDialog::AnyFile);
    fd.setOption(QFileDialog::DontConfirmOverwrite);
    fd.selectFile(q(default_name));
  } else {
    fd.setAcceptMode(QFileDialog::AcceptOpen);
    fd.setFileMode(QFileDialog::ExistingFile);
  }
  LdrFileChoice choice;
  if (fd.exec() == QDialog::Accepted && !fd.selectedFiles().isEmpty()) {
    choice.confirmed = true;
    choice.path = s(fd.selectedFiles().first());
  }
  return choice;
}

LdrFileChoice LdrMainDialog::open_file_dialog(const std::string& initial_folder) {
  return call_on_ui([this, initial_folder] { return run_file_dialog(false, initial_folder, {}); });
}

LdrFileChoice LdrMainDialog::save_file_dialog(const std::string& initial_folder,
                                              const std::string& default_name) {
  return call_on_ui(
      [this, initial_folder, default_name] { return run_file_dialog(true, initial_folder, default_name); });
}

void LdrMainDialog::post_command(const LdrCommand& command) {
  {
    std::lock_guard lock(gate_->mutex);
    if (gate_->closed) return;
  }
  const int id = int(command.wparam & 0xFFFF);
  QMetaObject::invokeMethod(
      this, [this, id] { on_command(id); }, Qt::QueuedConnection);
}
