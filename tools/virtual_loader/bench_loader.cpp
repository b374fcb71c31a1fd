// bench_loader: writes a 112-record module to the paced virtual device at
// 57600 bit/s and sets the time taken beside the pure line time of the
// frames (escaped bytes in both directions, 10 bits a byte).
// Goal: at most 1.15 x the line time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "ldr_app.h"
#include "ldr_link.h"
#include "virtual_loader.h"

namespace {

class NullDialog : public LdrDialog {
 public:
  std::string get_text(int) override { return {}; }
  void set_text(int, const std::string&) override {}
  void set_buttons(bool) override {}
  void show_message(const std::string&, const std::string&) override {}
  LdrFileChoice open_file_dialog(const std::string&) override { return {}; }
  LdrFileChoice save_file_dialog(const std::string&, const std::string&) override { return {}; }
  void post_command(const LdrCommand&) override {}
};

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int records = 112;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 1;
  char tmpl[] = "/tmp/kl31-bench-loader.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string ports = tmpl;
  setenv("KL31_PORTS_DIR", ports.c_str(), 1);

  vloader::Config config;
  config.com_name = "COM0";
  config.ports_dir = ports;
  config.paced = true;
  vloader::Device device(config);
  std::string error;
  if (!device.start(&error)) {
    std::fprintf(stderr, "bench_loader: %s\n", error.c_str());
    return 1;
  }

  std::mt19937 random(2024);
  std::vector<uint8_t> module(size_t(records) * LDR_RECORD_SIZE);
  for (auto& b : module) b = uint8_t(random());

  LdrEvent event;
  LdrLink link;
  link.command_event = &event;
  if (ldr_open_port(link, "COM0") != 0) {
    std::fprintf(stderr, "bench_loader: port does not open\n");
    return 1;
  }

  std::printf("bench_loader: %d records of %zu bytes, paced virtual device at %u bit/s\n", records,
              LDR_RECORD_SIZE, LDR_BAUD);
  int status = 0;
  for (int round = 0; round < rounds; ++round) {
    size_t line_bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < records; ++i) {
      ldr_begin_request(link, 255, CMD_WRITE_BLOCK);
      std::memcpy(link.payload + 3, module.data() + size_t(i) * LDR_RECORD_SIZE, LDR_RECORD_SIZE);
      const uint8_t seq = link.sequence;
      line_bytes += ldr_encode_frame(link, 3 + LDR_RECORD_SIZE);
      line_bytes += vloader::Device::encode({seq, 255, CMD_WRITE_BLOCK, LDR_STATUS_DONE}).size();
      const int r = ldr_transact(link, 3 + LDR_RECORD_SIZE, 255);
      if (r < 0) {
        std::fprintf(stderr, "bench_loader: record %d failed with %d\n", i, r);
        return 1;
      }
    }
    const double took = seconds_since(start);
    const double line = double(line_bytes) * 10.0 / LDR_BAUD;
    const double ratio = took / line;
    std::printf(
        "round %d: %zu bytes on the line, line time %.3f s, record transactions %.3f s, ratio %.3f "
        "(goal <= 1.15: %s)\n",
        round + 1, line_bytes, line, took, ratio, ratio <= 1.15 ? "met" : "NOT met");
    if (ratio > 1.15) status = 2;
  }

  // The whole procedure as the button runs it adds the 500 ms pause and the
  // information read at its end.
  NullDialog dialog;
  const auto start = std::chrono::steady_clock::now();
  const int r = ldr_write_module(link, dialog, module.data(), 255, size_t(records));
  std::printf(
      "ldr_write_module (with the 500 ms pause and the closing information read): %.3f s, result %d\n",
      seconds_since(start), r);
  ldr_close_port(link);
  device.stop();
  nftw(
      ports.c_str(), [](const char* f, const struct stat*, int, FTW*) { return remove(f); }, 8,
      FTW_DEPTH | FTW_PHYS);
  return r == 0 ? status : 1;
}
