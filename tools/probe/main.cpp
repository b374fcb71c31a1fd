// kl31_probe: finds a KL31 sensor on a COM port the way the service tool's
// search does, and prints what identifies it. A diagnostic for the line, the
// adapter and the sensor without the window in the way.
//
// Exit codes: 0 found and supported, 1 not found, 2 port cannot be opened,
// 3 found but not supported (or its identity could not be read).
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "Unit_uart.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: kl31_probe COM<n> [--baud <rate>]\n"
               "  Searches the rates 115200 ... 2400 (or only <rate>) with a broadcast\n"
               "  identity request and prints the sensor's model code and identity.\n"
               "  Exit: 0 found and supported, 1 not found, 2 port cannot be opened,\n"
               "        3 found but not supported.\n");
}

bool ParsePort(const char* text, int* port) {
  if (std::strncmp(text, "COM", 3) == 0 || std::strncmp(text, "com", 3) == 0) text += 3;
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 0 || n > 255) return false;
  *port = static_cast<int>(n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kl;
  int port = -1;
  int32_t onlyRate = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--baud") == 0 && i + 1 < argc) {
      onlyRate = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      Usage();
      return 0;
    } else if (port < 0 && ParsePort(argv[i], &port)) {
    } else {
      Usage();
      return 2;
    }
  }
  if (port < 0) {
    Usage();
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string path = UartResolvePort(port);
  if (char* real = path.empty() ? nullptr : ::realpath(path.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  std::printf("COM%d -> %s\n", port, path.empty() ? "(no such port)" : path.c_str());

  UartLink link;
  int32_t found = -1, rate = 0;
  LinkResult last = LINK_NO_ANSWER;
  for (int32_t r : kUartSearchRates) {
    if (onlyRate && r != onlyRate) continue;
    if (UartOpen(link, port, r) != 0) {
      std::printf("COM%d: the port cannot be opened: %s\n", port, UartLastOpenError(link).c_str());
      return 2;
    }
    UartSync(link, kUartBroadcast, nullptr, nullptr, nullptr);  // wakes the line; answer not used
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    last = UartSearch(link, &found);
    if (last == LINK_OK) {
      rate = r;
      std::printf("%6d bit/s: sensor at address %d\n", r, found);
      break;
    }
    std::printf("%6d bit/s: %s\n", r, UartResultName(last));
  }
  if (rate == 0) {
    if (onlyRate && UartCodeFromBaud(onlyRate) == 0)
      std::printf("%d bit/s is not one of the sensor's rates\n", onlyRate);
    std::printf("no sensor found on COM%d\n", port);
    return 1;
  }

  uint32_t modelCode = 0;
  LinkResult r = UartQuery(link, SVC_GET_MODEL, found, &modelCode);
  if (r != LINK_OK) {
    std::printf("model code: %s\n", UartResultName(r));
    return 3;
  }
  const bool modelOk = UartIsSupportedModel(modelCode);
  std::printf("model code: %s (%02X %02X %02X %02X) %s\n", UartFormatModelCode(modelCode).c_str(),
              modelCode & 0xFF, (modelCode >> 8) & 0xFF, (modelCode >> 16) & 0xFF, modelCode >> 24,
              modelOk ? "supported" : "NOT SUPPORTED");

  uint32_t date = 0, serial = 0, model = 0, firmware = 0;
  r = UartGetIdent(link, found, &date, &serial, &model, &firmware);
  if (r != LINK_OK) {
    std::printf("identity: %s\n", UartResultName(r));
    return 3;
  }
  const uint8_t fw = static_cast<uint8_t>(firmware);
  const bool fwOk = UartIsSupportedFirmware(fw);
  std::printf("date: %s\n", UartFormatDate(date).c_str());
  std::printf("serial: %s\n", UartFormatSerial(serial).c_str());
  std::printf("model: %u\n", model);
  std::printf("firmware: %s (0x%02X) %s\n", UartFormatFirmware(fw).c_str(), fw,
              fwOk ? "supported" : "NOT SUPPORTED");
  UartClose(link);
  return modelOk && fwOk ? 0 : 3;
}
