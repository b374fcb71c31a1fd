// The link end to end through the POSIX port on a pseudo-terminal, with a
// scripted peer that answers whatever each case needs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>

#include "Unit_uart.h"
#include "link_test_util.h"

namespace kl {
namespace {

using test::Answer;
using test::Bytes;
using test::EchoAnswer;
using test::PtyPeer;

class PeerLink : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.ok());
    ASSERT_EQ(UartOpen(link, com, 19200), 0) << UartLastOpenError(link);
  }

  // Runs `call` on this thread while `script` plays the sensor.
  template <class Call>
  auto WithPeer(std::function<void(PtyPeer&)> script, Call call) {
    std::thread t([&] { script(peer); });
    auto result = call();
    t.join();
    return result;
  }

  const int com = test::NextCom();
  PtyPeer peer{com};
  UartLink link;
};

TEST_F(PeerLink, WorkedFramesOnTheLine) {
  Bytes seen;
  const Bytes ident = Answer(6, 0x42, {0x17, 0x02, 0x0E, 0x40, 0xE2, 0x01, 31, 0x09});
  int32_t found = -1;
  EXPECT_EQ(WithPeer(
                [&](PtyPeer& p) {
                  seen = p.ReadRequest();
                  p.Write(ident);
                },
                [&] { return UartSearch(link, &found); }),
            LINK_OK);
  EXPECT_EQ(seen, (Bytes{0x31, 0xFF, 0x42, 0x0E}));
  EXPECT_EQ(found, 6);

  uint32_t model = 0;
  EXPECT_EQ(WithPeer(
                [&](PtyPeer& p) {
                  seen = p.ReadRequest();
                  p.Write(Answer(1, 0x80, {'K', 'L', '3', '1'}));
                },
                [&] { return UartQuery(link, SVC_GET_MODEL, 1, &model); }),
            LINK_OK);
  EXPECT_EQ(seen, (Bytes{0x31, 0x01, 0x80, 0x3D}));
  EXPECT_TRUE(UartIsSupportedModel(model));

  EXPECT_EQ(WithPeer(
                [&](PtyPeer& p) {
                  seen = p.ReadRequest();
                  p.Write({0x3E, 0x01, 0x26, 0x00, 0x9D});
                },
                [&] { return UartCommand(link, SVC_SET_FREQ, 1, 500); }),
            LINK_OK);
  EXPECT_EQ(seen, (Bytes{0x31, 0x01, 0x26, 0xF4, 0x01, 0x7F}));
}

TEST_F(PeerLink, EveryResultOfATransaction) {
  const Bytes identData = {1, 2, 3, 4, 5, 6, 7, 9};
  Bytes badCrc = Answer(1, 0x42, identData);
  badCrc.back() ^= 0xFF;
  Bytes badMarker = Answer(1, 0x42, identData);
  badMarker[0] = '<';
  const Bytes full = Answer(1, 0x42, identData);
  auto ident = [](UartLink& l, int32_t address) {
    uint32_t d, s, m, f;
    return UartGetIdent(l, address, &d, &s, &m, &f);
  };
  auto setFreq = [](UartLink& l, int32_t address) { return UartCommand(l, SVC_SET_FREQ, address, 1000); };
  struct Case {
    const char* name;
    std::function<LinkResult(UartLink&, int32_t)> call;
    int32_t address;
    Bytes reply;  // empty: the peer stays silent
    LinkResult want;
  } cases[] = {
      {"good answer", ident, 1, full, LINK_OK},
      {"checksum wrong", ident, 1, badCrc, LINK_CRC_ERROR},
      {"marker wrong", ident, 1, badMarker, LINK_BAD_ANSWER},
      {"cut after 3 bytes", ident, 1, Bytes(full.begin(), full.begin() + 3), LINK_BAD_LENGTH},
      {"cut one byte short", ident, 1, Bytes(full.begin(), full.end() - 1), LINK_BAD_LENGTH},
      {"unknown command byte", ident, 1, Answer(1, 0x7F, Bytes(30, 0x42)), LINK_BAD_LENGTH},
      {"another address", ident, 7, Answer(8, 0x42, identData), LINK_BAD_ANSWER},
      {"another command", ident, 1, Answer(1, 0x80, {'K', 'L', '3', '1'}), LINK_BAD_ANSWER},
      {"broadcast takes any address", ident, 255, Answer(8, 0x42, identData), LINK_OK},
      {"silence", ident, 1, {}, LINK_NO_ANSWER},
      {"acknowledged", setFreq, 1, Answer(1, 0x26, {0}), LINK_OK},
      {"not carried out", setFreq, 1, Answer(1, 0x26, {1}), LINK_NOT_DONE},
      {"parameter refused", setFreq, 1, Answer(1, 0x26, {2}), LINK_BAD_PARAM},
      {"status 0xE0 reads as 2", setFreq, 1, Answer(1, 0x26, {0xE0}), LINK_BAD_PARAM},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes seen;
    EXPECT_EQ(WithPeer(
                  [&](PtyPeer& p) {
                    seen = p.ReadRequest();
                    if (!c.reply.empty()) p.Write(c.reply);
                  },
                  [&] { return c.call(link, c.address); }),
              c.want);
    EXPECT_FALSE(seen.empty());
  }
  // A command byte the link has no frame for is never written.
  uint32_t v = 0;
  EXPECT_EQ(UartQuery(link, 0x7F, 1, &v), LINK_WRITE_ERROR);
  EXPECT_TRUE(peer.Drain(100).empty());
  UartClose(link);
  EXPECT_EQ(UartQuery(link, SVC_GET_MODEL, 1, &v), LINK_PORT_ERROR);
}

TEST_F(PeerLink, SearchTakesTheFirstOfTwoSensorsAnswering) {
  // Both answers reach the port in one piece, so the second ends a moment
  // after the first: neither its address nor its code may replace the first.
  Bytes garbled = Answer(5, 0x42, {1, 2, 3, 4, 5, 6, 7, 9});
  garbled.back() ^= 0xFF;
  for (const Bytes& second : {Answer(5, 0x42, {1, 2, 3, 4, 5, 6, 7, 9}), garbled}) {
    SCOPED_TRACE(second.back());
    Bytes both = Answer(3, 0x42, {1, 2, 3, 4, 5, 6, 7, 9});
    both.insert(both.end(), second.begin(), second.end());
    int32_t found = -1;
    EXPECT_EQ(WithPeer(
                  [&](PtyPeer& p) {
                    p.ReadRequest();
                    p.Write(both);
                  },
                  [&] { return UartSearch(link, &found); }),
              LINK_OK);
    EXPECT_EQ(found, 3);
    // The second answer is no answer to the next request.
    uint32_t pulse = 0;
    EXPECT_EQ(WithPeer(
                  [&](PtyPeer& p) {
                    p.ReadRequest();
                    p.Write(Answer(3, 0x29, {42}));
                  },
                  [&] { return UartQuery(link, SVC_GET_PULSE, 3, &pulse); }),
              LINK_OK);
    EXPECT_EQ(pulse, 42u);
  }
}

TEST_F(PeerLink, OutputsStayUntouchedOnFailureAndHoldTheRejectedFrameOnBadAnswer) {
  uint32_t date = 111, serial = 222, model = 333, fw = 444;
  Bytes bad = Answer(1, 0x42, {1, 0, 0, 2, 0, 0, 3, 4});
  bad.back() ^= 1;
  EXPECT_EQ(WithPeer(
                [&](PtyPeer& p) {
                  p.ReadRequest();
                  p.Write(bad);
                },
                [&] { return UartGetIdent(link, 1, &date, &serial, &model, &fw); }),
            LINK_CRC_ERROR);
  EXPECT_EQ(date, 111u);
  EXPECT_EQ(fw, 444u);
  EXPECT_EQ(WithPeer(
                [&](PtyPeer& p) {
                  p.ReadRequest();
                  p.Write(Answer(2, 0x42, {1, 0, 0, 2, 0, 0, 3, 4}));
                },
                [&] { return UartGetIdent(link, 1, &date, &serial, &model, &fw); }),
            LINK_BAD_ANSWER);
  EXPECT_EQ(date, 1u);
  EXPECT_EQ(fw, 4u);
}

TEST_F(PeerLink, AnswerBeginningAfterTheSliceIsNoAnswerAndIsNotTakenLater) {
  // The echo's answer wait is many seconds; only the first byte is late.
  EXPECT_EQ(WithPeer(
                [&](PtyPeer& p) {
                  p.ReadRequest();
                  std::this_thread::sleep_for(std::chrono::milliseconds(900));
                  p.Write(EchoAnswer(1, 1, [](int, int) { return uint16_t(7); }));
                },
                [&] {
                  EchoHeader h;
                  EchoSamples s;
                  return UartGetEcho(link, 1, 2, &h, &s);
                }),
            LINK_NO_ANSWER);
  // The late echo has landed meanwhile; the next transaction still waits
  // for its own answer.
  uint32_t value = 0;
  EXPECT_EQ(WithPeer(
                [&](PtyPeer& p) {
                  p.ReadRequest();
                  p.Write(Answer(1, 0x29, {42}));
                },
                [&] { return UartQuery(link, SVC_GET_PULSE, 1, &value); }),
            LINK_OK);
  EXPECT_EQ(value, 42u);
}

// The real port, with a log of what the I/O thread did with it. It can hold
// the reader after a given byte until a request is pending.
class LoggingPort final : public SerialPort {
 public:
  LoggingPort(UartLink* link, size_t holdAfter) : link_(link), holdAfter_(holdAfter) {}
  bool Open(int n, int32_t baud) override { return real_->Open(n, baud); }
  void Close() override { real_->Close(); }
  void Discard() override { real_->Discard(); }
  bool Write(const uint8_t* d, size_t n, int t) override {
    Log('W');
    return real_->Write(d, n, t);
  }
  PortRead ReadByte(uint8_t* b) override {
    const PortRead r = real_->ReadByte(b);
    Log(r == PortRead::Byte ? 'B' : r == PortRead::Silence ? 'S' : 'F');
    if (r == PortRead::Byte && ++bytes_ == holdAfter_) {
      for (int i = 0; i < 10000; ++i) {
        {
          std::lock_guard<std::mutex> g(link_->lock);
          if (link_->request.command != 0) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    return r;
  }
  std::string LastError() const override { return real_->LastError(); }
  std::string Log() {
    std::lock_guard<std::mutex> g(m_);
    return log_;
  }

 private:
  void Log(char c) {
    std::lock_guard<std::mutex> g(m_);
    if (c == 'S' && !log_.empty() && log_.back() == 'S') return;  // idle line
    log_ += c;
  }
  std::unique_ptr<SerialPort> real_ = MakePosixSerialPort();
  UartLink* link_;
  size_t holdAfter_;
  size_t bytes_ = 0;
  std::mutex m_;
  std::string log_;
};

TEST(LinkOrder, RequestPostedWhileAnAnswerArrivesWaitsForItsEndAndSilence) {
  const int com = test::NextCom();
  PtyPeer peer(com);
  ASSERT_TRUE(peer.ok());
  LoggingPort* logger = nullptr;
  UartLink link;
  link.factory = [&]() -> std::unique_ptr<SerialPort> {
    auto p = std::make_unique<LoggingPort>(&link, 10);
    logger = p.get();
    return p;
  };
  ASSERT_EQ(UartOpen(link, com, 19200), 0) << UartLastOpenError(link);

  Bytes stale(128, 0xAA), fresh(128, 0x55);
  // A block answer nobody asked for is on its way; the reader is held in
  // its middle until the request below is pending.
  ASSERT_TRUE(peer.Write(Answer(1, 0x6D, stale)));
  std::thread sensor([&] {
    const Bytes req = peer.ReadRequest();
    if (req.size() == 5 && req[2] == 0x6D) peer.Write(Answer(1, 0x6D, fresh));
  });
  uint8_t block[kUartBlockSize] = {};
  const LinkResult r = UartReadBlock(link, 1, 3, block);
  sensor.join();
  EXPECT_EQ(r, LINK_OK);
  // The answer that ended before the request went out is not its answer.
  EXPECT_EQ(Bytes(block, block + kUartBlockSize), fresh);

  const std::string log = logger->Log();
  const size_t write = log.find('W');
  ASSERT_NE(write, std::string::npos) << log;
  // All 132 bytes of the stale answer, then silence, then the request.
  EXPECT_EQ(std::count(log.begin(), log.begin() + static_cast<long>(write), 'B'), 132) << log;
  EXPECT_EQ(log[write - 1], 'S') << log;
  UartClose(link);
}

uint16_t PatternA(int k, int w) { return static_cast<uint16_t>(0xA000 + k * 64 + w); }
uint16_t PatternB(int k, int w) { return static_cast<uint16_t>(0xB000 + k * 64 + w); }
uint16_t PatternC(int k, int w) { return static_cast<uint16_t>(0xC000 + k * 64 + w); }

TEST_F(PeerLink, EchoAssembly) {
  auto echo = [&](const Bytes& reply, EchoHeader* h, EchoSamples* s, int32_t* n) {
    return WithPeer(
        [&](PtyPeer& p) {
          p.ReadRequest();
          p.Write(reply);
        },
        [&] { return UartGetEcho(link, 1, 2, h, s, n); });
  };
  auto sample = [](const EchoSamples& s, int block, int word) {
    return static_cast<uint16_t>(s.samples[static_cast<size_t>((block - 1) * 64 + word)]);
  };
  EchoHeader h;
  EchoSamples s;
  int32_t n = -1;

  ASSERT_EQ(echo(EchoAnswer(1, 250, PatternA), &h, &s, &n), LINK_OK);
  EXPECT_EQ(n, 250);
  EXPECT_EQ(h.U16(0), PatternA(0, 0));
  EXPECT_EQ(h.U16(126), PatternA(0, 63));
  EXPECT_EQ(sample(s, 1, 0), PatternA(1, 0));
  EXPECT_EQ(sample(s, 249, 63), PatternA(249, 63));

  // A shorter echo: its own blocks, and the earlier blocks beyond it.
  ASSERT_EQ(echo(EchoAnswer(1, 24, PatternB), &h, &s, &n), LINK_OK);
  EXPECT_EQ(n, 24);
  EXPECT_EQ(h.U16(10), PatternB(0, 5));
  EXPECT_EQ(sample(s, 23, 63), PatternB(23, 63));
  EXPECT_EQ(sample(s, 24, 0), PatternA(24, 0));
  EXPECT_EQ(sample(s, 249, 63), PatternA(249, 63));

  // No blocks at all: complete after four bytes, everything else as before.
  ASSERT_EQ(echo(EchoAnswer(1, 0, PatternC), &h, &s, &n), LINK_OK);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(h.U16(10), PatternB(0, 5));
  EXPECT_EQ(sample(s, 1, 0), PatternB(1, 0));

  // The most the count byte can announce: 255 blocks; 249 become samples.
  ASSERT_EQ(echo(EchoAnswer(1, 255, PatternC), &h, &s, &n), LINK_OK);
  EXPECT_EQ(n, 255);
  EXPECT_EQ(sample(s, 249, 63), PatternC(249, 63));

  // A wrong block sum refuses the whole echo and leaves the outputs alone.
  Bytes bad = EchoAnswer(1, 30, PatternA);
  bad[29 * 140 + 136] ^= 1;
  ASSERT_EQ(echo(bad, &h, &s, &n), LINK_BAD_ANSWER);
  EXPECT_EQ(sample(s, 1, 0), PatternC(1, 0));
}

TEST_F(PeerLink, FullBufferWithoutAnAnswerIsBadLength) {
  Bytes junk = {0x3E, 0x01, 0x7F};
  junk.resize(kUartRxBufferSize + 500, 0x3E);
  EchoHeader h;
  EchoSamples s;
  EXPECT_EQ(WithPeer(
                [&](PtyPeer& p) {
                  p.ReadRequest();
                  p.Write(junk);
                },
                [&] { return UartGetEcho(link, 1, 2, &h, &s); }),
            LINK_BAD_LENGTH);
}

TEST_F(PeerLink, LineSettingsAndReopenAtAnotherRate) {
  for (int32_t baud : {9600, 115200, 2400, 19200}) {
    SCOPED_TRACE(baud);
    ASSERT_EQ(UartOpen(link, com, baud), 0) << UartLastOpenError(link);
    // The peer sees the settings the link gave the line.
    termios t{};
    ASSERT_TRUE(peer.LineSettings(&t));
    speed_t want = baud == 9600 ? B9600 : baud == 115200 ? B115200 : baud == 2400 ? B2400 : B19200;
    EXPECT_EQ(cfgetospeed(&t), want);
    EXPECT_EQ(cfgetispeed(&t), want);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    uint32_t v = 0;
    EXPECT_EQ(WithPeer(
                  [&](PtyPeer& p) {
                    p.ReadRequest();
                    p.Write(Answer(1, 0x2B, {30}));
                  },
                  [&] { return UartQuery(link, SVC_GET_ATTEN, 1, &v); }),
              LINK_OK);
    EXPECT_EQ(v, 30u);
  }
}

TEST_F(PeerLink, RatesOutsideTheFixedListOpen) {
  // 14400 is a rate the link's own time-out table names; the others are
  // what some adapters and settings files carry.
  for (int32_t baud : {14400, 31250, 250000, 115200}) {
    SCOPED_TRACE(baud);
    ASSERT_EQ(UartOpen(link, com, baud), 0) << UartLastOpenError(link);
    EXPECT_EQ(peer.LineRate(), baud);
    uint32_t v = 0;
    EXPECT_EQ(WithPeer(
                  [&](PtyPeer& p) {
                    p.ReadRequest();
                    p.Write(Answer(1, 0x2B, {30}));
                  },
                  [&] { return UartQuery(link, SVC_GET_ATTEN, 1, &v); }),
              LINK_OK);
  }
  // What no driver can take is refused, with the reason.
  for (int32_t baud : {0, -9600}) {
    SCOPED_TRACE(baud);
    EXPECT_EQ(UartOpen(link, com, baud), 1);
    EXPECT_NE(UartLastOpenError(link).find("bit rate"), std::string::npos) << UartLastOpenError(link);
  }
}

TEST_F(PeerLink, SecondOpenOfAnOpenPortIsRefused) {
  UartLink other;
  EXPECT_EQ(UartOpen(other, com, 19200), 1);
  EXPECT_FALSE(UartLastOpenError(other).empty());
  UartClose(link);
  EXPECT_EQ(UartOpen(other, com, 19200), 0) << UartLastOpenError(other);
  EXPECT_EQ(UartOpen(link, com, 19200), 1);
}

TEST_F(PeerLink, CloseEndsTheThreadWhileThePeerFloods) {
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    Bytes chunk(4096, 0x7F);
    chunk[0] = 0x3E;
    chunk[1] = 0x01;
    while (flooding) peer.Write(chunk, 20);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  uint32_t v = 0;
  // The line never goes quiet, so the request is never sent.
  EXPECT_NE(UartQuery(link, SVC_GET_MODEL, 1, &v), LINK_OK);
  EXPECT_EQ(UartClose(link), 0);
  EXPECT_FALSE(UartIsOpen(link));
  flooding = false;
  flood.join();
}

TEST_F(PeerLink, UnpluggedAdapterEndsInAResult) {
  uint32_t d, s, m, f;
  const Bytes full = Answer(1, 0x42, {1, 2, 3, 4, 5, 6, 7, 9});
  const LinkResult r = WithPeer(
      [&](PtyPeer& p) {
        p.ReadRequest();
        p.Write(Bytes(full.begin(), full.begin() + 4));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        p.Unplug();
      },
      [&] { return UartGetIdent(link, 1, &d, &s, &m, &f); });
  EXPECT_TRUE(r == LINK_BAD_LENGTH || r == LINK_NO_ANSWER) << r;
  // Nothing can be written to a vanished device.
  EXPECT_EQ(UartGetIdent(link, 1, &d, &s, &m, &f), LINK_WRITE_ERROR);
  EXPECT_EQ(UartClose(link), 0);
}

TEST(LinkOpen, PortsThatCannotBeOpened) {
  const std::string dir = test::PortsDir();
  const int dangling = test::NextCom(), regular = test::NextCom(), notTty = test::NextCom();
  ASSERT_EQ(::symlink((dir + "/gone").c_str(), (dir + "/COM" + std::to_string(dangling)).c_str()), 0);
  const std::string file = dir + "/plain-file";
  ::close(::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
  ASSERT_EQ(::symlink(file.c_str(), (dir + "/COM" + std::to_string(regular)).c_str()), 0);
  ASSERT_EQ(::symlink("/dev/null", (dir + "/COM" + std::to_string(notTty)).c_str()), 0);
  const int unknown = test::NextCom();
  for (int number : {unknown, dangling, regular, notTty, -1, 256}) {
    SCOPED_TRACE(number);
    UartLink link;
    EXPECT_EQ(UartOpen(link, number, 19200), 1);
    EXPECT_FALSE(UartIsOpen(link));
    uint32_t v = 0;
    EXPECT_EQ(UartQuery(link, SVC_GET_MODEL, 1, &v), LINK_PORT_ERROR);
    EXPECT_EQ(UartBeginTransaction(link), LINK_PORT_ERROR);
    EXPECT_EQ(UartClose(link), 0);
  }
  // A port the user may not open (root may open anything, so only a plain
  // user sees this case; the link tests also run as one).
  if (::geteuid() != 0) {
    PtyPeer locked(test::NextCom());
    ASSERT_TRUE(locked.ok());
    ASSERT_EQ(::chmod(locked.slavePath().c_str(), 0), 0);
    UartLink link;
    EXPECT_EQ(UartOpen(link, locked.com(), 19200), 1);
    EXPECT_NE(UartLastOpenError(link).find(std::strerror(EACCES)), std::string::npos)
        << UartLastOpenError(link);
  }
  // An open port, then a failed open of another: the first is closed too.
  PtyPeer peer(test::NextCom());
  UartLink link;
  ASSERT_EQ(UartOpen(link, peer.com(), 19200), 0);
  EXPECT_EQ(UartOpen(link, unknown, 19200), 1);
  EXPECT_FALSE(UartIsOpen(link));
  UartLink again;
  EXPECT_EQ(UartOpen(again, peer.com(), 19200), 0) << UartLastOpenError(again);
}

TEST(LinkPorts, NamesFromThePortsFolder) {
  const std::string dir = test::PortsDir();
  PtyPeer peer(test::NextCom());
  ASSERT_TRUE(peer.ok());
  const int gone = test::NextCom();
  ASSERT_EQ(::symlink((dir + "/nothing").c_str(), (dir + "/COM" + std::to_string(gone)).c_str()), 0);
  // Names that are not exactly COM<n> name nothing.
  ASSERT_EQ(::symlink(peer.slavePath().c_str(), (dir + "/COM0" + std::to_string(gone + 1)).c_str()), 0);
  ASSERT_EQ(::symlink(peer.slavePath().c_str(), (dir + "/com" + std::to_string(gone + 2)).c_str()), 0);

  EXPECT_EQ(UartResolvePort(peer.com()), dir + "/COM" + std::to_string(peer.com()));
  EXPECT_EQ(UartResolvePort(gone + 2), "");
  EXPECT_EQ(UartResolvePort(300), "");
  bool listed = false;
  for (const ComPortInfo& p : UartListPorts()) {
    EXPECT_NE(p.number, gone) << "a link whose target is gone is not a port";
    EXPECT_NE(p.number, gone + 1);
    EXPECT_NE(p.number, gone + 2);
    EXPECT_EQ(p.name, "COM" + std::to_string(p.number));
    if (p.number == peer.com()) {
      listed = true;
      EXPECT_EQ(p.path, peer.slavePath());
    }
  }
  EXPECT_TRUE(listed);
}

TEST(LinkPorts, HighAndLowPortNumbers) {
  for (int number : {0, 255}) {
    SCOPED_TRACE(number);
    PtyPeer peer(number);
    ASSERT_TRUE(peer.ok());
    UartLink link;
    ASSERT_EQ(UartOpen(link, number, 57600), 0) << UartLastOpenError(link);
    std::thread t([&] {
      peer.ReadRequest();
      peer.Write(Answer(1, 0x6F, {2, 0}));
    });
    uint32_t v = 0;
    EXPECT_EQ(UartQuery(link, SVC_GET_TANK_ID, 1, &v), LINK_OK);
    t.join();
    EXPECT_EQ(v, 2u);
  }
}

TEST(LinkTimeouts, ReadTimeoutByRate) {
  const std::pair<int32_t, int> cases[] = {{2400, 30},  {4800, 23},  {9600, 19},
                                           {14400, 18}, {19200, 17}, {115200, 17}};
  for (auto [baud, ms] : cases) EXPECT_EQ(UartReadTimeoutMs(baud), ms) << baud;
}

}  // namespace
}  // namespace kl
