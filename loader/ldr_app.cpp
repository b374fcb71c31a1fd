#include "ldr_app.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "ldr_strings.h"

namespace {

constexpr const char* kReading = "Чтение данных";
constexpr const char* kReadDone = "Чтение завершено";
constexpr const char* kWriting = "Запись";
constexpr const char* kWriteDone = "Запись завершена";
constexpr const char* kReadingConfig = "Чтение конфигурации";
constexpr const char* kSaveDone = "Сохранение завершено";
constexpr const char* kActivated = "Приложение активировано.";
constexpr const char* kNotSet = "не задан";
constexpr const char* kAbsent = "отсутствует";

constexpr int kDeviceFields[5] = {LDR_ID_TYPE, LDR_ID_SERIAL, LDR_ID_BOOT, LDR_ID_APP, LDR_ID_REQUIRED_BOOT};

// Cuts a UTF-8 text after `limit` characters.
std::string first_chars(const std::string& text, size_t limit) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == limit) return text.substr(0, i);
      ++chars;
    }
  }
  return text;
}

// Reads the whole of an open file up to `limit` bytes; -1 on a read error.
long read_up_to(int fd, uint8_t* buffer, size_t limit) {
  size_t have = 0;
  while (have < limit) {
    ssize_t n = read(fd, buffer + have, limit - have);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    have += size_t(n);
  }
  return long(have);
}

bool write_all(int fd, const uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = write(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// The port and address every device operation starts from.
struct Target {
  std::string port;
  uint8_t address;
};
Target read_target(LdrDialog& dialog) {
  return {ldr_port_name_from_text(dialog.get_text(LDR_ID_PORT)),
          ldr_address_from_text(dialog.get_text(LDR_ID_ADDRESS))};
}

std::string take_initial_folder(LdrApp& app) {
  if (app.file_dialog_shown) return {};
  app.file_dialog_shown = true;
  return ldr_own_folder(app);
}

}  // namespace

LdrApp::~LdrApp() {
  if (worker.joinable()) {
    ldr_store_command(*this, LDR_ID_EXIT);
    worker.join();
  }
  ldr_close_port(link);
}

void ldr_show_progress(LdrDialog& dialog, const std::string& text, int total, int done) {
  int64_t percent = total == 0 ? 0 : int64_t(done) * 100 / total;
  percent = std::clamp<int64_t>(percent, 0, 100);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d%%", int(percent));
  dialog.set_status(text, buf);
}

int ldr_show_error(LdrDialog& dialog, int code) {
  dialog.show_message(LDR_ERROR_TITLE, ldr_error_text(code));
  return code;
}

void ldr_set_buttons(LdrDialog& dialog, bool enabled) { dialog.set_buttons(enabled); }

std::string ldr_format_type(const char* type) {
  std::string out;
  for (int i = 0; i < 4 && type[i]; ++i) {
    unsigned char c = static_cast<unsigned char>(type[i]);
    // The line is untrusted: keep the field (and the file name made from
    // it) to printable characters.
    out += (c >= 0x20 && c < 0x7F) ? char(c) : '?';
  }
  return out;
}

std::string ldr_format_serial(uint32_t serial) {
  if ((serial & 0xFFFFFF) == 0xFFFFFF) return kNotSet;
  return std::to_string(serial & 0xFFFFFF);
}

std::string ldr_format_version(uint16_t version) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02X.%02X", unsigned(version >> 8), unsigned(version & 0xFF));
  return buf;
}

std::string ldr_format_version_date(uint16_t version, uint32_t date, bool none_when_absent) {
  if (version == 0xFFFF && none_when_absent) return kAbsent;
  if (version == 0xFFFF) version = 0;
  if (date == 0xFFFFFFFF) date = 0;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02X.%02X (%02X.%02X.%04X)", unsigned(version >> 8),
                unsigned(version & 0xFF), unsigned(date >> 24), unsigned((date >> 16) & 0xFF),
                unsigned(date & 0xFFFF));
  return buf;
}

std::string ldr_port_name_from_text(const std::string& text) {
  return first_chars(text, LDR_PORT_NAME_LIMIT);
}

uint8_t ldr_address_from_text(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  size_t digits = 0;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    value = value * 10 + uint64_t(text[i] - '0');
    if (value > 0xFFFFFFFFull) return 0;
  }
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (digits == 0 || i != text.size()) return 0;
  return uint8_t(value & 0xFF);
}

std::vector<std::string> ldr_list_ports() {
  std::vector<std::string> ports;
  // Every COM name a port can have (COM30 is ttyACM9; links go up to
  // COM255). Only ports that are there are probed, so the list stays quick.
  for (int n = 0; n <= LDR_MAX_COM; ++n) {
    if (!ldr_port_present(n)) continue;
    std::string name = "COM" + std::to_string(n);
    if (ldr_probe_port(name)) ports.push_back(name);
  }
  return ports;
}

namespace {
// COM names by number, anything else behind them.
int com_order(const std::string& name) {
  if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0) return 1 << 20;
  int n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 1 << 20;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}
}  // namespace

std::vector<std::string> ldr_merge_port_list(const std::vector<std::string>& old_entries,
                                             const std::string& selected,
                                             const std::vector<std::string>& fresh) {
  std::vector<std::string> list = fresh;
  const bool was_entry = std::find(old_entries.begin(), old_entries.end(), selected) != old_entries.end();
  // The selected port may be gone only for the moment (an operation holds it,
  // the adapter is being replugged): the technician's choice stays.
  if (!selected.empty() && was_entry && std::find(list.begin(), list.end(), selected) == list.end()) {
    auto at = std::find_if(list.begin(), list.end(),
                           [&](const std::string& e) { return com_order(e) > com_order(selected); });
    list.insert(at, selected);
  }
  return list;
}

int ldr_read_device_info(LdrLink& link, LdrDialog& dialog, uint8_t address) {
  for (int id : kDeviceFields) dialog.set_text(id, "");
  ldr_show_progress(dialog, kReading, 100, 0);
  ldr_begin_request(link, address, CMD_CONNECT);
  int r = ldr_transact(link, 3, address);
  if (r == LDR_ERR_EXCHANGE) return LDR_ERR_NOT_FOUND;
  if (r < 0) return r;
  ldr_begin_request(link, address, CMD_GET_INFO);
  r = ldr_transact(link, 3, address);
  if (r < 0) return r;
  ldr_show_progress(dialog, kReadDone, 100, 100);
  const LdrDeviceInfo info = ldr_parse_device_info(link.payload + 4);
  dialog.set_text(LDR_ID_TYPE, ldr_format_type(info.type));
  dialog.set_text(LDR_ID_SERIAL, ldr_format_serial(info.serial));
  dialog.set_text(LDR_ID_BOOT, ldr_format_version_date(info.boot_version, info.boot_date, false));
  dialog.set_text(LDR_ID_APP, ldr_format_version_date(info.app_version, info.app_date, true));
  dialog.set_text(LDR_ID_REQUIRED_BOOT, info.required_boot_version == 0xFFFF
                                            ? kAbsent
                                            : ldr_format_version(info.required_boot_version));
  return LDR_OK;
}

int ldr_write_module(LdrLink& link, LdrDialog& dialog, const uint8_t* records, uint8_t address, size_t count,
                     int pause_ms) {
  ldr_show_progress(dialog, kWriting, 100, 0);
  // The pause gives the device time after the information read; Stop during
  // it is honoured by the first send.
  if (link.command_event)
    link.command_event->wait(pause_ms);
  else if (pause_ms > 0)
    usleep(useconds_t(pause_ms) * 1000);
  for (size_t i = 0; i < count; ++i) {
    ldr_begin_request(link, address, CMD_WRITE_BLOCK);
    std::memcpy(link.payload + 3, records + i * LDR_RECORD_SIZE, LDR_RECORD_SIZE);
    int r = ldr_transact(link, 3 + LDR_RECORD_SIZE, address);
    if (r < 0) return r;
    ldr_show_progress(dialog, kWriting, int(count), int(i));
  }
  return ldr_read_device_info(link, dialog, address);
}

int ldr_read_blocks(LdrLink& link, LdrDialog& dialog, uint8_t* out, uint8_t address, bool calibration) {
  ldr_show_progress(dialog, kReadingConfig, 100, 0);
  const uint32_t first = calibration ? LDR_CALIBRATION_ADDRESS : LDR_CONFIGURATION_ADDRESS;
  const int count = calibration ? 1 : LDR_CONFIGURATION_BLOCKS;
  for (int i = 0; i < count; ++i) {
    const uint32_t block = first + uint32_t(i) * LDR_BLOCK_STEP;
    ldr_begin_request(link, address, CMD_READ_BLOCK);
    for (int k = 0; k < 4; ++k) link.payload[3 + k] = uint8_t(block >> (8 * k));
    int r = ldr_transact(link, 7, address);
    if (r < 0) return r;
    // A short reply would be saved padded with zeros as if it were the
    // device's record.
    if (size_t(r) < 4 + LDR_RECORD_SIZE) return LDR_ERR_EXCHANGE;
    std::memcpy(out + size_t(i) * LDR_RECORD_SIZE, link.payload + 4, LDR_RECORD_SIZE);
    ldr_show_progress(dialog, kReadingConfig, 100, (100 / count) * (i + 1));
  }
  ldr_show_progress(dialog, kReadDone, 100, 100);
  return LDR_OK;
}

std::string ldr_k31_name(const std::string& chosen) {
  const size_t slash = chosen.rfind('/');
  const std::string base = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".k31") == 0) return chosen;
  return chosen + ".k31";
}

std::string ldr_default_save_name(const std::string& type_text, const std::string& serial_text,
                                  bool calibration) {
  std::string name = first_chars(type_text, 19) + "_" + first_chars(serial_text, 19) + "_" +
                     (calibration ? "CLB.k31" : "CFG.k31");
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

std::string ldr_own_folder(const LdrApp& app) {
  if (!app.own_folder.empty()) return app.own_folder;
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, size_t(n));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

int ldr_op_search(LdrApp& app, LdrDialog& dialog) {
  const Target t = read_target(dialog);
  int r = ldr_open_port(app.link, t.port);
  if (r < 0) return r;
  do {
    r = ldr_read_device_info(app.link, dialog, t.address);
  } while (r == LDR_ERR_NOT_FOUND);
  ldr_close_port(app.link);
  return r;
}

int ldr_op_activate(LdrApp& app, LdrDialog& dialog) {
  const Target t = read_target(dialog);
  int r = ldr_open_port(app.link, t.port);
  if (r < 0) return r;
  r = ldr_activate(app.link, t.address);
  if (r == LDR_OK) ldr_show_progress(dialog, kActivated, 100, 100);
  ldr_close_port(app.link);
  return r;
}

int ldr_op_write_module(LdrApp& app, LdrDialog& dialog) {
  std::vector<uint8_t> buffer;
  try {
    // One byte more than the largest module tells an oversized file apart.
    buffer.assign(LDR_MODULE_MAX_BYTES + 1, 0);
  } catch (const std::bad_alloc&) {
    return LDR_ERR_UNKNOWN;
  }
  const std::string name = first_chars(dialog.get_text(LDR_ID_FILE), LDR_FILE_NAME_LIMIT);
  const Target t = read_target(dialog);
  // Non-blocking open: a FIFO or a device named here must not hang the worker.
  int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return LDR_ERR_FILE_OPEN;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return S_ISDIR(st.st_mode) ? LDR_ERR_FILE_READ : LDR_ERR_FILE_OPEN;
  }
  const long got = read_up_to(fd, buffer.data(), buffer.size());
  close(fd);
  if (got < 0) return LDR_ERR_FILE_READ;
  // Writing only the first part of a larger image could leave the device
  // without a working application, so such a file is refused whole.
  if (got == 0 || size_t(got) % LDR_RECORD_SIZE != 0 || size_t(got) > LDR_MODULE_MAX_BYTES)
    return LDR_ERR_NOT_MODULE;
  int r = ldr_open_port(app.link, t.port);
  if (r < 0) return r;
  r = ldr_read_device_info(app.link, dialog, t.address);
  if (r == LDR_OK)
    r = ldr_write_module(app.link, dialog, buffer.data(), t.address, size_t(got) / LDR_RECORD_SIZE,
                         app.write_pause_ms);
  if (r == LDR_OK) ldr_show_progress(dialog, kWriteDone, 100, 100);
  ldr_close_port(app.link);
  return r;
}

int ldr_op_save_device_data(LdrApp& app, LdrDialog& dialog, bool calibration) {
  std::vector<uint8_t> records;
  try {
    records.assign(size_t(LDR_CONFIGURATION_BLOCKS) * LDR_RECORD_SIZE, 0);
  } catch (const std::bad_alloc&) {
    return LDR_ERR_UNKNOWN;
  }
  const Target t = read_target(dialog);
  int r = ldr_open_port(app.link, t.port);
  if (r < 0) return r;
  struct PortCloser {
    LdrLink& link;
    ~PortCloser() { ldr_close_port(link); }
  } closer{app.link};

  r = ldr_read_device_info(app.link, dialog, t.address);
  if (r < 0) return r;
  r = ldr_read_blocks(app.link, dialog, records.data(), t.address, calibration);
  if (r < 0) return r;
  if (ldr_own_folder(app).empty()) return LDR_ERR_UNKNOWN;
  const std::string default_name =
      ldr_default_save_name(dialog.get_text(LDR_ID_TYPE), dialog.get_text(LDR_ID_SERIAL), calibration);
  // The port stays open while the technician picks the name.
  const LdrFileChoice choice = dialog.save_file_dialog(take_initial_folder(app), default_name);
  if (!choice.confirmed) return choice.error;
  const std::string path = ldr_k31_name(choice.path);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return LDR_ERR_FILE_CREATE;
  const size_t length = (calibration ? 1 : LDR_CONFIGURATION_BLOCKS) * LDR_RECORD_SIZE;
  bool ok = write_all(fd, records.data(), length);
  if (close(fd) != 0) ok = false;
  if (!ok) return LDR_ERR_FILE_WRITE;
  ldr_show_progress(dialog, kSaveDone, 100, 100);
  return LDR_OK;
}

int ldr_op_find_file(LdrApp& app, LdrDialog& dialog) {
  if (ldr_own_folder(app).empty()) return LDR_ERR_UNKNOWN;
  const LdrFileChoice choice = dialog.open_file_dialog(take_initial_folder(app));
  if (!choice.confirmed) return choice.error;
  dialog.set_text(LDR_ID_FILE, choice.path);
  return LDR_OK;
}

int ldr_start_worker(LdrApp& app, LdrDialog& dialog) {
  auto event = std::make_unique<LdrEvent>();
  if (!event->valid()) return LDR_ERR_UNKNOWN;
  app.command_event = std::move(event);
  app.link.command_event = app.command_event.get();
  {
    std::lock_guard lock(app.end_mutex);
    app.worker_ended = false;
  }
  try {
    app.worker = std::thread([&app, &dialog] { ldr_worker(app, dialog); });
  } catch (const std::system_error&) {
    app.link.command_event = nullptr;
    app.command_event.reset();
    return LDR_ERR_UNKNOWN;
  }
  return LDR_OK;
}

void ldr_worker(LdrApp& app, LdrDialog& dialog) {
  for (;;) {
    if (!app.command_event || !app.command_event->wait(-1)) break;
    LdrCommand cmd;
    {
      std::lock_guard lock(app.command_mutex);
      cmd = app.command;
      if (app.on_command_taken) app.on_command_taken();
      app.command_event->reset();
    }
    ldr_set_buttons(dialog, false);
    int r = 0;
    const int id = int(cmd.wparam & 0xFFFF);
    if (id == LDR_ID_EXIT) {
      dialog.post_command(cmd);
      break;
    }
    switch (id) {
      case LDR_ID_SEARCH:
        r = ldr_op_search(app, dialog);
        break;
      case LDR_ID_FIND_FILE:
        r = ldr_op_find_file(app, dialog);
        break;
      case LDR_ID_WRITE_MODULE:
        r = ldr_op_write_module(app, dialog);
        break;
      case LDR_ID_SAVE_CALIBRATION:
        r = ldr_op_save_device_data(app, dialog, true);
        break;
      case LDR_ID_SAVE_CONFIGURATION:
        r = ldr_op_save_device_data(app, dialog, false);
        break;
      case LDR_ID_ACTIVATE:
        r = ldr_op_activate(app, dialog);
        break;
      default:
        break;
    }
    if (r != 0) ldr_show_error(dialog, r);
    ldr_set_buttons(dialog, true);
  }
  std::lock_guard lock(app.end_mutex);
  app.worker_ended = true;
  app.end_cv.notify_all();
}

bool ldr_worker_running(LdrApp& app) {
  std::lock_guard lock(app.end_mutex);
  return app.worker.joinable() && !app.worker_ended;
}

void ldr_store_command(LdrApp& app, int id) {
  std::lock_guard lock(app.command_mutex);
  app.command = {LDR_MSG_COMMAND, uint32_t(id), 0};
  if (app.command_event) app.command_event->set();
}

bool ldr_dialog_command(LdrApp& app, int id) {
  switch (id) {
    case LDR_ID_FIND_FILE:
    case LDR_ID_WRITE_MODULE:
    case LDR_ID_SAVE_CALIBRATION:
    case LDR_ID_SAVE_CONFIGURATION:
    case LDR_ID_SEARCH:
    case LDR_ID_STOP:
    case LDR_ID_ACTIVATE:
      if (app.worker.joinable() && app.command_event) ldr_store_command(app, id);
      return false;
    case LDR_ID_EXIT: {
      if (app.worker.joinable() && app.command_event) {
        std::unique_lock lock(app.end_mutex);
        bool ended =
            app.end_cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return app.worker_ended; });
        if (!ended) {
          lock.unlock();
          ldr_store_command(app, id);
          return false;
        }
      }
      if (app.worker.joinable()) app.worker.join();
      app.link.command_event = nullptr;
      app.command_event.reset();
      ldr_close_port(app.link);
      return true;
    }
    default:
      return false;
  }
}
