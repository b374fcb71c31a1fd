// bench_link: round-trip time of every typed transaction against the virtual
// sensor with its line paced, beside the line time of the bytes themselves
// (request + answer, 10 bits a byte). What is left over is what the link
// adds: above all the read time-out of silence that must pass after an
// answer before the next request may go out. On the pseudo-terminal the
// request costs its line time too: the port's write ends when the frame
// would have left, and the paced sensor takes it only then.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Unit_uart.h"
#include "virtual_sensor.h"

namespace {

using namespace kl;
using Clock = std::chrono::steady_clock;

struct Op {
  const char* name;
  size_t requestBytes;
  size_t answerBytes;  // 0: taken from the echo's block count
  std::function<LinkResult(UartLink&, int32_t*)> run;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::vector<Op> Ops() {
  static uint8_t block[kUartBlockSize] = {};
  static EchoHeader header;
  static EchoSamples samples;
  return {
      {"UartQuery(GET_FREQ)", 4, 6,
       [](UartLink& l, int32_t*) {
         uint32_t v;
         return UartQuery(l, SVC_GET_FREQ, 1, &v);
       }},
      {"UartQuery(GET_MODEL)", 4, 8,
       [](UartLink& l, int32_t*) {
         uint32_t v;
         return UartQuery(l, SVC_GET_MODEL, 1, &v);
       }},
      {"UartCommand(SET_FREQ)", 6, 5,
       [](UartLink& l, int32_t*) { return UartCommand(l, SVC_SET_FREQ, 1, 1000); }},
      {"UartSearch", 4, 12,
       [](UartLink& l, int32_t*) {
         int32_t a;
         return UartSearch(l, &a);
       }},
      {"UartGetPassport", 4, 22,
       [](UartLink& l, int32_t*) {
         return UartGetPassport(l, 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
       }},
      {"UartGetIdent", 4, 12,
       [](UartLink& l, int32_t*) { return UartGetIdent(l, 1, nullptr, nullptr, nullptr, nullptr); }},
      {"UartSync", 4, 9, [](UartLink& l, int32_t*) { return UartSync(l, 1, nullptr, nullptr, nullptr); }},
      {"UartGetConfig", 4, 12,
       [](UartLink& l, int32_t*) { return UartGetConfig(l, 1, nullptr, nullptr, nullptr, nullptr); }},
      {"UartGetEcho(mode 1)", 5, 0,
       [](UartLink& l, int32_t* n) { return UartGetEcho(l, 1, 1, &header, &samples, n); }},
      {"UartGetEcho(mode 2)", 5, 0,
       [](UartLink& l, int32_t* n) { return UartGetEcho(l, 1, 2, &header, &samples, n); }},
      {"UartAfcControl", 7, 5, [](UartLink& l, int32_t*) { return UartAfcControl(l, 1, 0, 20); }},
      {"UartReadBlock", 5, 132, [](UartLink& l, int32_t*) { return UartReadBlock(l, 1, 1, block); }},
      {"UartWriteBlock", 133, 5,
       [](UartLink& l, int32_t*) {
         UartReadBlock(l, 1, 1, block);  // keeps the sensor's table as it was
         return UartWriteBlock(l, 1, 1, block);
       }},
      {"UartGetFuel", 4, 13,
       [](UartLink& l, int32_t*) { return UartGetFuel(l, 1, nullptr, nullptr, nullptr); }},
      {"UartSetFuel", 13, 5,
       [](UartLink& l, int32_t*) {
         return UartSetFuel(l, 1, 3, UartFloatBits(0.00083f), UartFloatBits(1390.0f));
       }},
  };
}

int RunRate(int32_t baud, int rounds, int com) {
  vsensor::SensorState state;
  state.baud = baud;
  state.flags = static_cast<uint8_t>((UartCodeFromBaud(baud) << 2) | 0x20);
  vsensor::VirtualSensor sensor(state, 1);
  sensor.SetPacing(true);
  std::string error;
  if (!sensor.Start(com, &error)) {
    std::fprintf(stderr, "virtual sensor: %s\n", error.c_str());
    return 1;
  }
  UartLink link;
  if (UartOpen(link, com, baud) != 0) {
    std::fprintf(stderr, "COM%d: %s\n", com, UartLastOpenError(link).c_str());
    return 1;
  }
  const int timeout = UartReadTimeoutMs(baud);
  std::printf("\n%d bit/s, read time-out %d ms, %d rounds back to back (median / max ms)\n", baud, timeout,
              rounds);
  std::printf("%-24s %7s %9s %9s %9s %9s %s\n", "transaction", "bytes", "line", "median", "max", "added", "");
  int failures = 0;
  for (const Op& op : Ops()) {
    const bool write = std::string(op.name) == "UartWriteBlock";
    std::vector<double> times;
    int32_t blocks = 0;
    op.run(link, &blocks);  // warm-up, and the echo's length
    for (int i = 0; i < rounds; ++i) {
      if (write) {
        uint8_t b[kUartBlockSize];
        UartReadBlock(link, 1, 1, b);
        const auto t0 = Clock::now();
        const LinkResult r = UartWriteBlock(link, 1, 1, b);
        times.push_back(Ms(Clock::now() - t0));
        if (r != LINK_OK) {
          ++failures;
          std::fprintf(stderr, "%d bit/s, round %d, %s: %s\n", baud, i, op.name, UartResultName(r));
        }
        continue;
      }
      const auto t0 = Clock::now();
      const LinkResult r = op.run(link, &blocks);
      times.push_back(Ms(Clock::now() - t0));
      if (r != LINK_OK) {
        ++failures;
        std::fprintf(stderr, "%d bit/s, round %d, %s: %s\n", baud, i, op.name, UartResultName(r));
      }
    }
    std::sort(times.begin(), times.end());
    const size_t answer = op.answerBytes ? op.answerBytes : static_cast<size_t>(blocks) * kUartEchoBlockSize;
    const size_t bytes = op.requestBytes + answer;
    const double line = static_cast<double>(bytes) * 10.0 * 1000.0 / baud;
    const double median = times[times.size() / 2];
    const double added = median - line;
    std::printf("%-24s %7zu %9.2f %9.2f %9.2f %9.2f %s\n", op.name, bytes, line, median, times.back(), added,
                added <= timeout + 2 ? "ok" : "OVER");
  }
  UartClose(link);
  sensor.Stop();
  return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  if (rounds < 1) rounds = 1;
  // A private ports folder, so the benchmark never takes a technician's COM name.
  char tmpl[] = "/tmp/kl31-bench.XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir) return 1;
  ::setenv("KL31_PORTS_DIR", dir, 1);
  std::printf("bench_link: round trip of each transaction against the paced virtual sensor\n");
  std::printf("line = (request + answer bytes) x 10 bits / rate; added = median - line\n");
  std::printf("goal: added <= read time-out + 2 ms\n");
  int rc = RunRate(115200, rounds, 7);
  rc |= RunRate(19200, rounds, 8);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return rc;
}
