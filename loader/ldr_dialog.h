// The loader's dialog: holds the controls, hands each button to the worker,
// and carries out the worker's updates on its own thread.
#pragma once

#include <QDialog>
#include <QPixmap>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ldr_app.h"
#include "ldr_dialog_iface.h"

class QCloseEvent;

inline constexpr const char* LDR_CAPTION = "KL31_AppLoader";
inline constexpr const char* LDR_HEADING = "Varon 2.0  AppLoader.  Version 1.1";

// The program icon, drawn rather than shipped as a file.
QPixmap ldr_program_icon(int size);

class LdrMainDialog : public QDialog, public LdrDialog {
  Q_OBJECT
 public:
  struct Options {
    std::string command_line;
    bool fail_worker_start = false;  // start-up failure path, for tests
  };

  LdrMainDialog(LdrApp& app, const Options& options, QWidget* parent = nullptr);
  ~LdrMainDialog() override;

  // The control with a dialog id (LdrControlId), or nullptr.
  QWidget* control(int id) const;
  // A command from a control of this dialog or posted back by the worker.
  void on_command(int id);

  // LdrDialog, called from the worker.
  std::string get_text(int id) override;
  void set_text(int id, const std::string& text) override;
  void set_status(const std::string& text, const std::string& percent) override;
  void set_buttons(bool enabled) override;
  void show_message(const std::string& title, const std::string& text) override;
  LdrFileChoice open_file_dialog(const std::string& initial_folder) override;
  LdrFileChoice save_file_dialog(const std::string& initial_folder, const std::string& default_name) override;
  void post_command(const LdrCommand& command) override;

 public slots:
  void reject() override;

 private:
  // Ends blocking calls from the worker once the dialog goes away, so that
  // neither side can wait for the other forever.
  struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool closed = false;
  };

  template <class F>
  auto call_on_ui(F f) -> decltype(f());
  void build();
  void add_control(int id, QWidget* w);
  LdrFileChoice run_file_dialog(bool save, const std::string& initial_folder,
                                const std::string& default_name);

  LdrApp& app_;
  std::shared_ptr<Gate> gate_;
  std::map<int, QWidget*> controls_;
};
