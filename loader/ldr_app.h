// The loader program's process-wide state and its operations: the worker
// thread with its command hand-over, and the operations behind the buttons.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ldr_dialog_iface.h"
#include "ldr_event.h"
#include "ldr_link.h"

inline constexpr size_t LDR_MODULE_MAX_RECORDS = 112;
inline constexpr size_t LDR_MODULE_MAX_BYTES = LDR_MODULE_MAX_RECORDS * LDR_RECORD_SIZE;  // 115360
inline constexpr uint32_t LDR_CALIBRATION_ADDRESS = 0x2000;
inline constexpr uint32_t LDR_CONFIGURATION_ADDRESS = 0x2800;
inline constexpr uint32_t LDR_BLOCK_STEP = 0x400;
inline constexpr int LDR_CONFIGURATION_BLOCKS = 6;
inline constexpr int LDR_WRITE_PAUSE_MS = 500;

struct LdrApp {
  LdrLink link;
  std::unique_ptr<LdrEvent> command_event;
  // The stored command: written by the dialog thread before it sets the
  // command event, read by the worker after the event woke it. Storing and
  // setting, and taking and resetting, each happen under the lock: a command
  // given between the worker's take and its reset would otherwise be reset
  // away unseen (a Stop lost, a search left running).
  std::mutex command_mutex;
  LdrCommand command;

  std::thread worker;
  std::mutex end_mutex;
  std::condition_variable end_cv;
  bool worker_ended = false;

  // Tests only: run by the worker in the hand-over, right after it has
  // taken the stored command and before it resets the command event (the
  // command lock is held).
  std::function<void()> on_command_taken;

  // Only the worker touches these.
  bool file_dialog_shown = false;
  int write_pause_ms = LDR_WRITE_PAUSE_MS;

  // The loader's own folder with a trailing '/'; empty: the folder of the
  // running executable.
  std::string own_folder;
  std::string command_line;

  LdrApp() = default;
  LdrApp(const LdrApp&) = delete;
  LdrApp& operator=(const LdrApp&) = delete;
  ~LdrApp();
};

// Status line and messages.
void ldr_show_progress(LdrDialog& dialog, const std::string& text, int total, int done);
int ldr_show_error(LdrDialog& dialog, int code);
void ldr_set_buttons(LdrDialog& dialog, bool enabled);

// Device field texts.
std::string ldr_format_type(const char* type);
std::string ldr_format_serial(uint32_t serial);
std::string ldr_format_version_date(uint16_t version, uint32_t date, bool none_when_absent);
std::string ldr_format_version(uint16_t version);

// Values the operations take from the dialog.
std::string ldr_port_name_from_text(const std::string& text);
uint8_t ldr_address_from_text(const std::string& text);
// The COM names that can be opened now, COM0 ... COM255 in number order, by
// the same names as the service tool's list (doc/com-ports.md).
inline constexpr int LDR_MAX_COM = 255;
std::vector<std::string> ldr_list_ports();
// The port list after a refresh: the ports there now (`fresh`), and the
// selected entry of the list before (`old_entries`) even when it is gone, in
// number order. A selected text that was never an entry (typed) is not added.
std::vector<std::string> ldr_merge_port_list(const std::vector<std::string>& old_entries,
                                             const std::string& selected,
                                             const std::vector<std::string>& fresh);

// Transfers.
int ldr_read_device_info(LdrLink& link, LdrDialog& dialog, uint8_t address);
int ldr_write_module(LdrLink& link, LdrDialog& dialog, const uint8_t* records, uint8_t address, size_t count,
                     int pause_ms = LDR_WRITE_PAUSE_MS);
int ldr_read_blocks(LdrLink& link, LdrDialog& dialog, uint8_t* out, uint8_t address, bool calibration);

// File names.
std::string ldr_k31_name(const std::string& chosen);
std::string ldr_default_save_name(const std::string& type_text, const std::string& serial_text,
                                  bool calibration);
std::string ldr_own_folder(const LdrApp& app);

// The operations behind the buttons; all run on the worker.
int ldr_op_search(LdrApp& app, LdrDialog& dialog);
int ldr_op_activate(LdrApp& app, LdrDialog& dialog);
int ldr_op_write_module(LdrApp& app, LdrDialog& dialog);
int ldr_op_save_device_data(LdrApp& app, LdrDialog& dialog, bool calibration);
int ldr_op_find_file(LdrApp& app, LdrDialog& dialog);

// Worker and hand-over.
// Creates the command event and the worker thread; 0 or -2001.
int ldr_start_worker(LdrApp& app, LdrDialog& dialog);
void ldr_worker(LdrApp& app, LdrDialog& dialog);
// Stores a command (control id) and sets the command event.
void ldr_store_command(LdrApp& app, int id);
// A command of the dialog (control id). Gives true when the dialog is to end
// now (Exit with the worker ended or never started).
bool ldr_dialog_command(LdrApp& app, int id);
bool ldr_worker_running(LdrApp& app);
