// Helpers of the link tests: a private ports folder, a scripted peer on a
// pseudo-terminal, answer frames, and finding the toolkit's programs.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kl::test {

// The ports folder of this test run (created once, before any test).
const std::string& PortsDir();
// A COM number no other test of this run uses.
int NextCom();

using Bytes = std::vector<uint8_t>;

// The sensor's end of a pseudo-terminal, linked as COM<n>. The test drives
// it by hand: read a request, answer whatever the case needs.
class PtyPeer {
 public:
  explicit PtyPeer(int com);
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool ok() const { return master_ >= 0; }
  int com() const { return com_; }
  const std::string& slavePath() const { return slave_path_; }

  // Up to n bytes, waiting at most timeoutMs for the first and each next.
  Bytes Read(size_t n, int timeoutMs);
  // One request frame (its length known from its command byte); empty when
  // nothing complete came within timeoutMs.
  Bytes ReadRequest(int timeoutMs = 5000);
  // Whatever arrives until the line has been quiet for quietMs.
  Bytes Drain(int quietMs);
  // Gives up after timeoutMs without room on the line.
  bool Write(const Bytes& bytes, int timeoutMs = 20000);
  // The line settings the link gave the tty.
  bool LineSettings(termios* t) const;
  // The bit rate the link gave the tty, also one outside the fixed list.
  int64_t LineRate() const;
  // The adapter is pulled out: the master side goes away.
  void Unplug();

 private:
  int com_;
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
  std::string link_;
};

// The output bit rate of a tty (link_rate_probe.cpp); -1 when unknown.
int64_t TtyOutputRate(int fd);

// Answer frame: '>' address command data..., checksum appended.
Bytes Answer(uint8_t address, uint8_t command, const Bytes& data);
// Echo answer of n blocks; word i of block k is fill(k, i).
Bytes EchoAnswer(uint8_t address, int n, uint16_t (*fill)(int block, int word));
// Request frame length by command byte (the sensor's view), 0 = unknown.
size_t RequestLengthOf(uint8_t command);

// Path of a toolkit program: $KL31_TOOLS_DIR, else next to this test.
std::string ToolPath(const std::string& name);

// Runs a program with arguments; returns its exit code (or -1), output in *out.
int RunProgram(const std::string& path, const std::vector<std::string>& args, std::string* out,
               int timeoutMs);

}  // namespace kl::test
