// The open link: the I/O thread with its sender and receiver steps, the
// transaction wait, and the typed transactions of the command set.
#include <cstring>

#include "Unit_uart.h"

namespace kl {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void LinkEvent::Set() {
  std::lock_guard<std::mutex> g(m_);
  set_ = true;
  cv_.notify_all();
}

void LinkEvent::Reset() {
  std::lock_guard<std::mutex> g(m_);
  set_ = false;
}

bool LinkEvent::WaitFor(milliseconds timeout) {
  std::unique_lock<std::mutex> l(m_);
  return cv_.wait_for(l, timeout, [this] { return set_; });
}

UartLink::~UartLink() { UartClose(*this); }

namespace {

void IoThread(UartLink& link) {
  while (!link.stop.load()) {
    UartSenderStep(link);
    UartReceiverRun(link);
  }
}

int CloseLocked(UartLink& link) {
  link.isOpen = false;
  link.stop = true;
  // Every read and write of the I/O thread is bounded, so this join is too.
  if (link.io.joinable()) link.io.join();
  if (link.port) {
    link.port->Close();
    link.port.reset();
  }
  link.baud = 0;
  return 0;
}

}  // namespace

int UartClose(UartLink& link) {
  std::lock_guard<std::mutex> g(link.control);
  return CloseLocked(link);
}

int UartOpen(UartLink& link, int port, int32_t baud) {
  std::lock_guard<std::mutex> g(link.control);
  CloseLocked(link);
  link.openError.clear();
  if (baud <= 0) {
    link.openError = "bad bit rate";
    return 1;
  }
  std::unique_ptr<SerialPort> p = link.factory ? link.factory() : nullptr;
  if (!p) {
    link.openError = "no serial port implementation";
    return 1;
  }
  if (!p->Open(port, baud)) {
    link.openError = p->LastError();
    return 1;
  }
  {
    std::lock_guard<std::mutex> l(link.lock);
    link.request.command = 0;
    link.result = LINK_NO_ANSWER;
    link.answerCode = LINK_NO_ANSWER;
    link.answered = true;  // no request taken yet: nothing waits for an answer
    // Not idle yet: the first request goes out after one read time-out of
    // silence, so noise from the open cannot run into it.
    link.receiverState = 0;
    link.sendResult = 0;
  }
  link.sentEvent.Reset();
  link.answerEvent.Reset();
  link.baud = baud;
  link.port = std::move(p);
  link.stop = false;
  try {
    link.io = std::thread(IoThread, std::ref(link));
  } catch (const std::system_error& e) {
    link.openError = e.what();
    link.port->Close();
    link.port.reset();
    link.baud = 0;
    return 1;
  }
  link.isOpen = true;
  return 0;
}

bool UartIsOpen(const UartLink& link) { return link.isOpen.load(); }

std::string UartLastOpenError(UartLink& link) {
  std::lock_guard<std::mutex> g(link.control);
  return link.openError;
}

void UartSenderStep(UartLink& link) {
  UartRequest request;
  uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> l(link.lock);
    if (link.request.command == 0 || link.receiverState != kUartLineIdle) return;
    request = link.request;
    ticket = link.takenTicket = link.ticket;
    link.request.command = 0;
    // Only an answer that ends after this request went out belongs to it;
    // a stray frame that ended since the transaction began does not.
    link.answered = false;
    link.answerEvent.Reset();
  }
  // Also clears an abandonment of the previous request.
  link.port->Discard();
  const size_t n = UartBuildRequest(request, link.tx.data());
  bool ok = false;
  bool abandoned = false;
  {
    std::lock_guard<std::mutex> l(link.lock);
    abandoned = link.abandonedTicket == ticket;
  }
  if (n != 0 && !abandoned) {
    const int32_t baud = link.baud.load();
    const int limit = static_cast<int>(n * 10000 / static_cast<size_t>(baud > 0 ? baud : 1)) + 500;
    ok = link.port->Write(link.tx.data(), n, limit);
  }
  {
    std::lock_guard<std::mutex> l(link.lock);
    link.sendResult = ok ? LINK_OK : LINK_WRITE_ERROR;
    link.sentTicket = ticket;
  }
  link.sentEvent.Set();
}

namespace {

// The end of one answer. The first answer to end after a request was taken
// is that request's answer: its code and fields stay for the transaction
// until the next request is taken. A second answer right behind it (two
// sensors answering a search, a doubled frame) only moves the line state;
// were it to overwrite them, the transaction could wake to the second
// answer's fields or code.
void FinishAnswer(UartLink& link, int code, bool isEcho) {
  bool first = false;
  {
    std::lock_guard<std::mutex> l(link.lock);
    link.result = link.receiverState = code;
    if (!link.answered) {
      first = true;
      link.answered = true;
      link.answerCode = code;
      link.answerTicket = link.takenTicket;
      if (code <= LINK_BAD_PARAM) {
        static_cast<UartAnswerFields&>(link.answer) = link.rxFields;
        if (isEcho) std::memcpy(link.answer.echo.data(), link.rx.data(), kUartRxBufferSize);
      }
    }
  }
  if (first) link.answerEvent.Set();
}

}  // namespace

void UartReceiverRun(UartLink& link) {
  size_t count = 0;
  for (;;) {
    // A peer that never stops sending must not keep UartClose waiting.
    if (link.stop.load()) return;
    uint8_t byte = 0;
    if (link.port->ReadByte(&byte) != PortRead::Byte) {
      if (count == 0) {
        std::lock_guard<std::mutex> l(link.lock);
        link.receiverState = kUartLineIdle;
        return;
      }
      FinishAnswer(link, LINK_BAD_LENGTH, false);
      return;
    }
    link.rx[count++] = byte;
    {
      std::lock_guard<std::mutex> l(link.lock);
      link.result = LINK_RECEIVING;
    }
    bool isEcho = false;
    const int code = UartReceiverStep(link.rx.data(), count, kUartRxBufferSize, &link.rxFields, &isEcho);
    if (code == kUartNeedMore) continue;
    FinishAnswer(link, code, isEcho);
    return;
  }
}

LinkResult UartBeginTransaction(UartLink& link) {
  if (!link.isOpen.load()) return LINK_PORT_ERROR;
  {
    std::lock_guard<std::mutex> l(link.lock);
    ++link.ticket;
  }
  link.sentEvent.Reset();
  link.answerEvent.Reset();
  return LINK_OK;
}

namespace {

// Waits until the write of the transaction's own request has ended. A sent
// event of an earlier request, whose write outlasted its transaction, is
// passed over.
bool WaitOwnSentEvent(UartLink& link, uint64_t ticket, Clock::time_point deadline) {
  for (;;) {
    const auto now = Clock::now();
    const bool woken =
        now < deadline &&
        link.sentEvent.WaitFor(std::chrono::duration_cast<milliseconds>(deadline - now) + milliseconds(1));
    std::lock_guard<std::mutex> l(link.lock);
    if (link.sentTicket == ticket) return true;
    if (!woken) return false;
    // Reset under the lock: the sender stores its ticket under it before it
    // sets the event, so the event of our own write cannot be lost here.
    link.sentEvent.Reset();
  }
}

// The send wait ran out. A request still pending is withdrawn, so it never
// reaches the sensor. One whose write runs is abandoned: the port drops what
// has not left yet. Its late sent event and answer belong to no one.
// Returns false when the write ended just now after all.
bool GiveUpSending(UartLink& link, uint64_t ticket) {
  {
    std::lock_guard<std::mutex> l(link.lock);
    if (link.sentTicket == ticket) return false;
    if (link.takenTicket != ticket) {
      link.request.command = 0;
      return true;
    }
    link.abandonedTicket = ticket;
  }
  std::lock_guard<std::mutex> g(link.control);
  if (link.port) link.port->AbandonWrite();
  return true;
}

}  // namespace

LinkResult UartAwaitTransaction(UartLink& link, uint32_t requestLength, uint32_t answerLength) {
  const int32_t baud = link.baud.load();
  if (!link.isOpen.load() || baud <= 0) return LINK_PORT_ERROR;
  const uint32_t sendWait = static_cast<uint32_t>(uint64_t(requestLength) * 10000 / uint32_t(baud) + 500);
  const uint32_t answerWait = static_cast<uint32_t>(uint64_t(answerLength) * 10000 / uint32_t(baud) + 500);
  uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> l(link.lock);
    link.sendWaitMs = sendWait;
    link.answerWaitMs = answerWait;
    ticket = link.ticket;
  }
  if (!WaitOwnSentEvent(link, ticket, Clock::now() + milliseconds(sendWait)) && GiveUpSending(link, ticket))
    return LINK_WRITE_ERROR;
  {
    std::lock_guard<std::mutex> l(link.lock);
    if (link.sendResult != LINK_OK) return static_cast<LinkResult>(link.sendResult);
  }
  // An answer must begin within a 500 ms slice; once bytes flow it may take
  // the whole answer wait.
  const auto start = Clock::now();
  while (Clock::now() - start < milliseconds(answerWait)) {
    link.answerEvent.WaitFor(milliseconds(500));
    std::lock_guard<std::mutex> l(link.lock);
    // An answer that ended just as the slice ran out is still the answer.
    if (link.answered && link.answerTicket == ticket) return static_cast<LinkResult>(link.answerCode);
    if (link.result != LINK_RECEIVING) return LINK_NO_ANSWER;
  }
  std::lock_guard<std::mutex> l(link.lock);
  return link.answered && link.answerTicket == ticket ? static_cast<LinkResult>(link.answerCode)
                                                      : LINK_NO_ANSWER;
}

// ---------------------------------------------------------------------------
// Typed transactions

namespace {

// Begin, hand the request over, wait, and take the answer fields; the
// caller applies the acceptance check.
LinkResult Transact(UartLink& link, const UartRequest& request, uint32_t requestLength, uint32_t answerLength,
                    UartAnswerFields* answer) {
  const LinkResult begun = UartBeginTransaction(link);
  if (begun != LINK_OK) return begun;
  {
    std::lock_guard<std::mutex> l(link.lock);
    link.request = request;
  }
  const LinkResult r = UartAwaitTransaction(link, requestLength, answerLength);
  if (r != LINK_OK) return r;
  std::lock_guard<std::mutex> l(link.lock);
  *answer = link.answer;
  link.answer.command = 0;
  return LINK_OK;
}

UartRequest Request(uint8_t command, int32_t address, int32_t value = 0, int32_t value2 = 0,
                    int32_t value3 = 0) {
  UartRequest r;
  r.command = command;
  r.address = address;
  r.value = value;
  r.value2 = value2;
  r.value3 = value3;
  return r;
}

LinkResult Accept(const UartRequest& r, const UartAnswerFields& a) {
  return UartAccepts(r.address, static_cast<int32_t>(r.command), a.address, a.command) ? LINK_OK
                                                                                       : LINK_BAD_ANSWER;
}

void Out(uint32_t* to, int32_t v) {
  if (to) *to = static_cast<uint32_t>(v);
}

}  // namespace

LinkResult UartQuery(UartLink& link, uint8_t command, int32_t address, uint32_t* value1) {
  const UartRequest r = Request(command, address);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 4, 8, &a);
  if (res != LINK_OK) return res;
  Out(value1, a.value1);
  return Accept(r, a);
}

LinkResult UartCommand(UartLink& link, uint8_t command, int32_t address, int32_t value) {
  const UartRequest r = Request(command, address, value);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 8, 5, &a);
  if (res != LINK_OK) return res;
  return Accept(r, a);
}

LinkResult UartSearch(UartLink& link, int32_t* foundAddress) {
  const UartRequest r = Request(SVC_GET_IDENT, kUartBroadcast);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 8, 8, &a);
  if (res != LINK_OK) return res;
  if (foundAddress) *foundAddress = a.address;
  return a.command == SVC_GET_IDENT ? LINK_OK : LINK_BAD_ANSWER;
}

LinkResult UartGetPassport(UartLink& link, int32_t address, uint32_t* date, uint32_t* serial, uint32_t* model,
                           uint32_t* firmware, uint32_t* deviceAddress, uint32_t* period, uint32_t* flags) {
  const UartRequest r = Request(SVC_GET_PASSPORT, address);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 4, 20, &a);
  if (res != LINK_OK) return res;
  Out(date, a.value1);
  Out(serial, a.value2);
  Out(model, a.value3);
  Out(firmware, a.value4);
  Out(deviceAddress, a.value5);
  Out(period, a.value6);
  Out(flags, a.value7);
  return Accept(r, a);
}

LinkResult UartGetIdent(UartLink& link, int32_t address, uint32_t* date, uint32_t* serial, uint32_t* model,
                        uint32_t* firmware) {
  const UartRequest r = Request(SVC_GET_IDENT, address);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 4, 20, &a);
  if (res != LINK_OK) return res;
  Out(date, a.value1);
  Out(serial, a.value2);
  Out(model, a.value3);
  Out(firmware, a.value4);
  return Accept(r, a);
}

LinkResult UartSync(UartLink& link, int32_t address, uint32_t* value1, uint32_t* value2, uint32_t* value3) {
  const UartRequest r = Request(SVC_SYNC, address);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 4, 10, &a);
  if (res != LINK_OK) return res;
  Out(value1, a.value1);
  Out(value2, a.value2);
  Out(value3, a.value3);
  return Accept(r, a);
}

LinkResult UartGetConfig(UartLink& link, int32_t address, uint32_t* value1, uint32_t* value2,
                         uint32_t* value3, uint32_t* value4) {
  const UartRequest r = Request(SVC_GET_CONFIG, address);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 4, 20, &a);
  if (res != LINK_OK) return res;
  Out(value1, a.value1);
  Out(value2, a.value2);
  Out(value3, a.value3);
  Out(value4, a.value4);
  return Accept(r, a);
}

LinkResult UartGetEcho(UartLink& link, int32_t address, uint8_t mode, EchoHeader* header,
                       EchoSamples* samples, int32_t* blocks) {
  const UartRequest r = Request(SVC_GET_ECHO, address, mode);
  const LinkResult begun = UartBeginTransaction(link);
  if (begun != LINK_OK) return begun;
  {
    std::lock_guard<std::mutex> l(link.lock);
    link.request = r;
  }
  const LinkResult res = UartAwaitTransaction(link, 5, 32000);
  if (res != LINK_OK) return res;
  UartAnswerFields a;
  {
    std::lock_guard<std::mutex> l(link.lock);
    const uint8_t* echo = link.answer.echo.data();
    if (header) std::memcpy(header->bytes.data(), echo + 8, EchoHeader::kSize);
    if (samples) {
      size_t s = 0;
      for (size_t k = 1; k <= kUartEchoSampleBlocks; ++k) {
        const uint8_t* d = echo + kUartEchoBlockSize * k + 8;
        for (size_t i = 0; i < kUartBlockSize; i += 2)
          samples->samples[s++] = static_cast<int16_t>(uint16_t(d[i] | (d[i + 1] << 8)));
      }
    }
    a = link.answer;
    link.answer.command = 0;
  }
  if (blocks) *blocks = a.value1;
  return Accept(r, a);
}

LinkResult UartAfcControl(UartLink& link, int32_t address, int32_t on, int32_t step) {
  const UartRequest r = Request(SVC_AFC, address, on, step);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 12, 5, &a);
  if (res != LINK_OK) return res;
  return Accept(r, a);
}

LinkResult UartReadBlock(UartLink& link, int32_t address, uint8_t index, uint8_t block[kUartBlockSize]) {
  const UartRequest r = Request(SVC_READ_BLOCK, address, index);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 5, 128, &a);
  if (res != LINK_OK) return res;
  if (block) std::memcpy(block, a.block.data(), kUartBlockSize);
  return Accept(r, a);
}

LinkResult UartWriteBlock(UartLink& link, int32_t address, uint8_t index,
                          const uint8_t block[kUartBlockSize]) {
  UartRequest r = Request(SVC_WRITE_BLOCK, address, index);
  if (block) std::memcpy(r.block.data(), block, kUartBlockSize);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 128, 5, &a);
  if (res != LINK_OK) return res;
  return Accept(r, a);
}

LinkResult UartGetFuel(UartLink& link, int32_t address, uint32_t* fuelType, uint32_t* coefBits,
                       uint32_t* speedBits) {
  const UartRequest r = Request(SVC_GET_FUEL, address);
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 4, 13, &a);
  if (res != LINK_OK) return res;
  Out(fuelType, a.value1);
  Out(coefBits, a.value2);
  Out(speedBits, a.value3);
  return Accept(r, a);
}

LinkResult UartSetFuel(UartLink& link, int32_t address, int32_t fuelType, uint32_t coefBits,
                       uint32_t speedBits) {
  const UartRequest r = Request(SVC_SET_FUEL, address, fuelType, static_cast<int32_t>(coefBits),
                                static_cast<int32_t>(speedBits));
  UartAnswerFields a;
  const LinkResult res = Transact(link, r, 13, 5, &a);
  if (res != LINK_OK) return res;
  return Accept(r, a);
}

}  // namespace kl
