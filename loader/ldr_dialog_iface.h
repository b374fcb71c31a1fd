// What the loader's operations need from the dialog. The Qt dialog implements
// it; headless tests implement it with a recorder. Every call is made from
// the worker thread and must have taken effect on the dialog when it returns.
#pragma once

#include <cstdint>
#include <string>

// Control ids of the loader dialog.
enum LdrControlId : int {
  LDR_ID_EXIT = 2,
  LDR_ID_PORT = 1000,
  LDR_ID_FILE = 1013,
  LDR_ID_FIND_FILE = 1014,
  LDR_ID_WRITE_MODULE = 1015,
  LDR_ID_SERIAL = 1016,
  LDR_ID_STATUS = 1017,
  LDR_ID_PERCENT = 1018,
  LDR_ID_APP = 1019,
  LDR_ID_REQUIRED_BOOT = 1020,
  LDR_ID_SAVE_CALIBRATION = 1021,
  LDR_ID_SAVE_CONFIGURATION = 1022,
  LDR_ID_SEARCH = 1023,
  LDR_ID_TYPE = 1024,
  LDR_ID_BOOT = 1025,
  LDR_ID_ADDRESS = 1026,
  LDR_ID_STOP = 1027,
  LDR_ID_ACTIVATE = 1028,
};

// The six operation buttons, disabled and enabled together in this order.
inline constexpr int LDR_OPERATION_BUTTONS[6] = {LDR_ID_SEARCH,           LDR_ID_WRITE_MODULE,
                                                 LDR_ID_FIND_FILE,        LDR_ID_SAVE_CONFIGURATION,
                                                 LDR_ID_SAVE_CALIBRATION, LDR_ID_ACTIVATE};

inline constexpr int LDR_FILE_FIELD_LIMIT = 1280;
inline constexpr int LDR_FILE_NAME_LIMIT = 255;
inline constexpr int LDR_PORT_NAME_LIMIT = 7;
inline constexpr const char* LDR_FILE_FILTER_TEXT = "Модули Varon 2.0 (.k31)";
inline constexpr const char* LDR_FILE_FILTER_PATTERN = "*.k31";

// Outcome of a file chooser: confirmed with a path, cancelled (error 0), or
// failed with a chooser error code (> 0).
struct LdrFileChoice {
  bool confirmed = false;
  int error = 0;
  std::string path;
};

// One command of the dialog as the worker receives it.
struct LdrCommand {
  uint32_t message = 0;
  uint32_t wparam = 0;  // control id in the low 16 bits
  int64_t lparam = 0;
};
inline constexpr uint32_t LDR_MSG_COMMAND = 0x0111;

class LdrDialog {
 public:
  virtual ~LdrDialog() = default;
  // Text of the port combo, the address field, the file field or a device
  // field, as UTF-8.
  virtual std::string get_text(int id) = 0;
  virtual void set_text(int id, const std::string& text) = 0;
  // The status line's two fields together, so that nobody sees a new text
  // beside the previous percentage.
  virtual void set_status(const std::string& text, const std::string& percent) {
    set_text(LDR_ID_STATUS, text);
    set_text(LDR_ID_PERCENT, percent);
  }
  virtual void set_buttons(bool enabled) = 0;
  // A modal box owned by the dialog with one OK button and an error icon.
  virtual void show_message(const std::string& title, const std::string& text) = 0;
  // initial_folder empty: the platform's own choice. The save dialog asks
  // before replacing an existing file, and asks about the file that will be
  // written: ldr_k31_name() of the chosen path.
  virtual LdrFileChoice open_file_dialog(const std::string& initial_folder) = 0;
  virtual LdrFileChoice save_file_dialog(const std::string& initial_folder,
                                         const std::string& default_name) = 0;
  // Queues a command back to the dialog without waiting for it.
  virtual void post_command(const LdrCommand& command) = 0;
};
