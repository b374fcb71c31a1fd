// The jobs of the calibration page: the preset tank table transfer, the
// calibration mode and the level poll of the calibration window.
//
// Transfers are tried once each and never resumed: a failed read leaves the
// image partly updated in memory (the page is not refreshed), a failed write
// leaves the sensor with the blocks written so far. Every job ends by posting
// the level poll, which keeps the page alive, unless the user posted a job
// while this one waited for the window: calibration mode on or off, or
// leaving the page, must not be replaced by a poll.
#include <algorithm>

#include "Unit_cmd.h"

namespace kl {

namespace {

// Echo mode that carries only the header: the level, nothing to draw.
constexpr uint8_t kLevelEchoMode = 11;
// Only images of this major version are read beyond their first block.
constexpr uint16_t kReadableMajor = 3;

LinkResult Once(TCmdThread& t, const std::function<LinkResult()>& op) {
  t.result = Attempts(t, 1, 0, op);
  return static_cast<LinkResult>(t.result);
}

uint8_t* Block(EngineRecords& r, int i) {
  return r.hub.bytes.data() + static_cast<size_t>(i) * kUartBlockSize;
}

// The end of a transfer that failed: the status, the window back to idle, the
// box, and the page's poll again.
void TransferFailed(TCmdThread& t) {
  t.View().ShowDeviceStatus(t.result);
  t.View().SetIdle();
  t.ShowStatusError(t.result);
  t.PostFollowUp(JOB_LEVEL_POLL);
}

}  // namespace

int HubBlockCount(uint16_t size) {
  const int blocks =
      (static_cast<int>(size) + static_cast<int>(kUartBlockSize) - 1) / static_cast<int>(kUartBlockSize);
  return std::min(blocks, 256);
}

void JobReadHub(TCmdThread& t) {
  EngineRecords& r = t.Records();
  const int32_t address = r.link.address;
  t.View().SetBusy();

  if (Once(t, [&] { return UartReadBlock(t.Link(), address, 0, Block(r, 0)); }) != LINK_OK)
    return TransferFailed(t);

  // Another major version may lay its image out differently: only its first
  // block is read, and the page then finds it invalid.
  const HubHeader header = HubReadHeader(r.hub);
  if ((header.Version >> 8) == kReadableMajor) {
    const int blocks = HubBlockCount(header.Size);
    for (int i = 1; i < blocks; ++i) {
      if (Once(t, [&] { return UartReadBlock(t.Link(), address, static_cast<uint8_t>(i), Block(r, i)); }) !=
          LINK_OK)
        return TransferFailed(t);
    }
  }

  uint32_t value = 0;
  if (Once(t, [&] { return UartQuery(t.Link(), SVC_GET_TANK_ID, address, &value); }) != LINK_OK)
    return TransferFailed(t);
  r.calibration.SelectedTankID = static_cast<uint16_t>(value);
  if (Once(t, [&] { return UartQuery(t.Link(), SVC_GET_TANK_HEIGHT, address, &value); }) != LINK_OK)
    return TransferFailed(t);
  r.calibration.CustomTankHeight = static_cast<uint16_t>(value);

  t.View().ShowDeviceStatus(t.result);
  t.View().SetIdle();
  t.View().ShowHubImage();
  t.PostFollowUp(JOB_LEVEL_POLL);
}

void JobShowHub(TCmdThread& t) {
  t.View().SetIdle();
  t.View().ShowHubImage();
  t.PostFollowUp(JOB_LEVEL_POLL);
}

void JobTareMode(TCmdThread& t) {
  EngineRecords& r = t.Records();
  const int32_t address = r.link.address;
  const int32_t mode = r.calibration.TareMode;
  if (Once(t, [&] { return UartCommand(t.Link(), SVC_SET_TARE_MODE, address, mode); }) == LINK_OK) {
    r.tareModeAcked = static_cast<uint8_t>(mode);
  } else {
    t.View().ShowDeviceStatus(t.result);
    t.ShowStatusError(t.result);
    t.View().SetIdle();
  }
  t.PostFollowUp(JOB_LEVEL_POLL);
}

void JobLevelPoll(TCmdThread& t) {
  EngineRecords& r = t.Records();
  t.result = UartGetEcho(t.Link(), r.link.address, kLevelEchoMode, &r.echoHeader, &r.echoSamples);
  t.View().ShowDeviceStatus(t.result);
  if (t.result != LINK_OK) {
    t.Pause(kJobPauseMs);
    if (t.result == LINK_NO_ANSWER) t.answerLost = true;
    return;
  }
  t.View().ShowLevel(r.echoHeader.Level(), r.echoHeader.NoLevel() != 0);
  // The sensor may have restarted while it was silent, with another table
  // or tank type: read everything again.
  // (A job the user posted meanwhile goes first; a later good poll reads.)
  if (t.answerLost && t.PostFollowUp(JOB_READ_HUB)) t.answerLost = false;
}

void JobWriteHub(TCmdThread& t) {
  EngineRecords& r = t.Records();
  const int32_t address = r.link.address;
  t.View().SetBusy();
  r.hubStored = false;
  t.View().StoreHubImage();
  // The page stopped: the user kept an invalid image, or the table has no
  // place in it. Writing the tank type and the old image now would leave the
  // sensor with a table the user was just told was not stored.
  if (!r.hubStored) {
    t.View().SetIdle();
    t.PostFollowUp(JOB_LEVEL_POLL);
    return;
  }

  // The calibration window is closed but its "mode off" was replaced by this
  // write before it ran: switch the mode off first, or the sensor stays in it.
  if (r.calibration.TareMode == 0 && r.tareModeAcked != 0) {
    if (Once(t, [&] { return UartCommand(t.Link(), SVC_SET_TARE_MODE, address, 0); }) != LINK_OK)
      return TransferFailed(t);
    r.tareModeAcked = 0;
  }
  const int32_t tankId = r.calibration.SelectedTankID;
  if (Once(t, [&] { return UartCommand(t.Link(), SVC_SET_TANK_ID, address, tankId); }) != LINK_OK)
    return TransferFailed(t);
  // Preset tanks carry their own height in the image.
  if (tankId == 0 || tankId == CustomTankID) {
    const int32_t height = r.calibration.CustomTankHeight;
    if (Once(t, [&] { return UartCommand(t.Link(), SVC_SET_TANK_HEIGHT, address, height); }) != LINK_OK)
      return TransferFailed(t);
  }
  const int blocks = HubBlockCount(HubReadHeader(r.hub).Size);
  for (int i = 0; i < blocks; ++i) {
    if (Once(t, [&] { return UartWriteBlock(t.Link(), address, static_cast<uint8_t>(i), Block(r, i)); }) !=
        LINK_OK)
      return TransferFailed(t);
  }

  t.View().ShowDeviceStatus(t.result);
  t.View().SetIdle();
  t.PostFollowUp(JOB_LEVEL_POLL);
}

}  // namespace kl
