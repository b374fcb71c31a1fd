// The jobs of the oscilloscope and tuning page: echo polling, the tuning
// writes, the frequency sweep, automatic tuning and the display test.
#include <algorithm>
#include <cstdint>
#include <string>

#include "Unit_cmd.h"

namespace kl {

namespace {

constexpr int kNoPause = 0;
constexpr int kAfcSettleMs = 500;     // after each change of the sensor's sweep set-up
constexpr int kServiceBaud = 115200;  // the sensor talks at this rate in service mode

int32_t Address(TCmdThread& t) { return t.Records().link.address; }

// Keeps the result and shows it: every tuning transaction ends so.
LinkResult Shown(TCmdThread& t, LinkResult r) {
  t.result = r;
  t.View().ShowDeviceStatus(r);
  return r;
}

// One query into *out (unchanged on failure), attempts and pauses as given.
LinkResult QueryInto(TCmdThread& t, uint8_t command, int attempts, int pauseMs, uint32_t* out) {
  return Attempts(t, attempts, pauseMs, [&] {
    uint32_t v = 0;
    const LinkResult r = Shown(t, UartQuery(t.Link(), command, Address(t), &v));
    if (r == LINK_OK) *out = v;
    return r;
  });
}

LinkResult Write(TCmdThread& t, uint8_t command, int32_t value, int attempts, int pauseMs) {
  return Attempts(t, attempts, pauseMs,
                  [&] { return Shown(t, UartCommand(t.Link(), command, Address(t), value)); });
}

LinkResult AfcControl(TCmdThread& t, int32_t on, int32_t step) {
  return Attempts(t, 2, kJobPauseMs,
                  [&] { return Shown(t, UartAfcControl(t.Link(), Address(t), on, step)); });
}

// A failed poll: wait, and remember a lost answer for the recovery.
void PollFailed(TCmdThread& t, LinkResult r) {
  t.Pause(kJobPauseMs);
  if (r == LINK_NO_ANSWER) t.answerLost = true;
}

// The first good poll after a lost answer puts the sensor back into service
// mode: it may have restarted meanwhile and forgotten it.
void RecoverIfLost(TCmdThread& t) {
  if (t.answerLost && t.PostFollowUp(JOB_ENTER_SCOPE)) t.answerLost = false;
}

// A write job's end: the error box after the last failure; the echo poll
// goes on either way.
void BackToPolling(TCmdThread& t, LinkResult r) {
  if (r != LINK_OK && !t.Terminating()) t.ShowStatusError(r);
  t.PostFollowUp(JOB_POLL_ECHO);
}

// The low 31 bits of a tuning state, as the failure texts append them.
std::string TuningCode(int32_t state) { return std::to_string(static_cast<uint32_t>(state) & 0x7FFFFFFFu); }

void PollEchoBranch(TCmdThread& t) {
  EngineRecords& rec = t.Records();
  t.View().ReadOscillMode();
  const int32_t mode = rec.tuning.OscMode;
  const LinkResult r = Shown(
      t, UartGetEcho(t.Link(), Address(t), static_cast<uint8_t>(mode), &rec.echoHeader, &rec.echoSamples));
  if (r != LINK_OK) return PollFailed(t, r);
  rec.echoMode = mode;
  t.View().ShowEcho();
  RecoverIfLost(t);
}

void PollStep1Branch(TCmdThread& t) {
  uint32_t state = 0;
  const LinkResult r = Shown(t, UartQuery(t.Link(), SVC_GET_AUTO_STATE, Address(t), &state));
  if (r != LINK_OK) return PollFailed(t, r);
  t.Records().tuning.AutoState = static_cast<int32_t>(state);
  t.View().ShowAutoStep1();
  RecoverIfLost(t);
}

void PollStep2Branch(TCmdThread& t) {
  TuningParams& tp = t.Records().tuning;
  uint32_t state = 0;
  t.result = UartQuery(t.Link(), SVC_GET_AUTO_STATE, Address(t), &state);
  if (t.result != LINK_OK) {
    t.View().ShowDeviceStatus(t.result);
    return PollFailed(t, static_cast<LinkResult>(t.result));
  }
  tp.AutoState = static_cast<int32_t>(state);
  if (tp.AutoState != 0) {
    if (tp.AutoState < 0)
      t.View().ErrorBox(t.Texts().Message(Msg::AutoFailed) + TuningCode(tp.AutoState));
    else
      t.View().InfoBox(t.Texts().Message(Msg::AutoCompleted));
    // Switching tuning off makes the sensor keep the tuned values, which
    // JOB_SET_AUTO then reads back.
    tp.AutoStep = 0;
    t.PostFollowUp(JOB_SET_AUTO);
  }
  t.View().ShowDeviceStatus(t.result);
  t.View().ShowAutoStep2();
  RecoverIfLost(t);
}

}  // namespace

void JobEnterScope(TCmdThread& t) {
  EngineRecords& rec = t.Records();
  TuningParams& tp = rec.tuning;
  t.View().SetBusy();
  auto fail = [&t](LinkResult r) {
    if (!t.Terminating()) t.ShowStatusError(r);
    t.View().SetIdle();
    t.PostFollowUp(JOB_POLL_ECHO);
  };

  // 1. Service mode; the sensor acknowledges at the old rate.
  LinkResult r = Shown(t, UartCommand(t.Link(), SVC_SERVICE_MODE, Address(t), 0));
  if (r != LINK_OK) return fail(r);

  // 2. Everything after it is at 115200; the link settings keep the rate the
  // sensor was found at.
  if (UartOpen(t.Link(), rec.link.port, kServiceBaud) != 0) {
    t.View().ErrorBox(t.Texts().Message(Msg::ErrorOpenPort) + std::to_string(rec.link.port));
    t.portStatus = kPortStatusError;
    t.View().ShowPortStatus(t.portStatus);
  }

  // 3. The tuning values, each up to twice.
  uint32_t ku = tp.KuWord, freq = static_cast<uint32_t>(tp.Frequency),
           filter = static_cast<uint32_t>(tp.Filter), pulse = static_cast<uint32_t>(tp.Pulse),
           atten = static_cast<uint32_t>(tp.Attenuation), integrator = tp.Integrator;
  const struct {
    uint8_t command;
    uint32_t* into;
  } reads[] = {{SVC_GET_KU, &ku},       {SVC_GET_FREQ, &freq},   {SVC_GET_FILTER, &filter},
               {SVC_GET_PULSE, &pulse}, {SVC_GET_ATTEN, &atten}, {SVC_GET_INTEGRATOR, &integrator}};
  for (const auto& read : reads) {
    r = QueryInto(t, read.command, 2, kJobPauseMs, read.into);
    if (r != LINK_OK) break;
  }
  tp.KuWord = static_cast<uint16_t>(ku);
  tp.Frequency = static_cast<int32_t>(freq);
  tp.Filter = static_cast<int32_t>(filter);
  tp.Pulse = static_cast<int32_t>(pulse);
  tp.Attenuation = static_cast<int32_t>(atten);
  tp.Integrator = integrator;
  if (r != LINK_OK) return fail(r);

  // 4. The automatic tuning step the page asks for (0: none).
  r = Write(t, SVC_SET_AUTO, tp.AutoStep, 2, kJobPauseMs);
  if (r != LINK_OK) return fail(r);

  // 5. The page shows the sensor's values; the poll takes over.
  t.View().ShowTuningParams();
  t.View().SetIdle();
  t.PostFollowUp(JOB_POLL_ECHO);
}

void JobPollEcho(TCmdThread& t) {
  uint32_t mode = 0;
  t.result = UartQuery(t.Link(), SVC_GET_MODE, Address(t), &mode);
  if (t.result != LINK_OK) {
    t.View().ShowDeviceStatus(t.result);
    return PollFailed(t, static_cast<LinkResult>(t.result));
  }
  if (mode == SVC_AUTO_STEP1)
    PollStep1Branch(t);
  else if (mode == SVC_AUTO_STEP2)
    PollStep2Branch(t);
  else
    PollEchoBranch(t);
}

void JobSetAuto(TCmdThread& t) {
  const LinkResult r = Write(t, SVC_SET_AUTO, t.Records().tuning.AutoStep, 2, kJobPauseMs);
  if (r != LINK_OK) return BackToPolling(t, r);
  // Tuning changes the values; read them all again.
  t.PostFollowUp(JOB_ENTER_SCOPE);
}

void JobSetFreq(TCmdThread& t) {
  const TuningParams& tp = t.Records().tuning;
  LinkResult r = Write(t, SVC_SET_FREQ, tp.Frequency, 2, kNoPause);
  if (r == LINK_OK) r = Write(t, SVC_SET_FILTER, tp.Filter, 2, kNoPause);
  BackToPolling(t, r);
}

void JobSetFilter(TCmdThread& t) {
  BackToPolling(t, Write(t, SVC_SET_FILTER, t.Records().tuning.Filter, 2, kNoPause));
}

void JobSetKu(TCmdThread& t) {
  BackToPolling(t, Write(t, SVC_SET_KU, t.Records().tuning.KuWord, 2, kNoPause));
}

// The attenuator relay of some sensors needs several tries to switch.
void JobSetAtten(TCmdThread& t) {
  BackToPolling(t, Write(t, SVC_SET_ATTEN, t.Records().tuning.Attenuation, 10, kNoPause));
}

void JobSetPulse(TCmdThread& t) {
  BackToPolling(t, Write(t, SVC_SET_PULSE, t.Records().tuning.Pulse, 2, kNoPause));
}

void JobSetIntegrator(TCmdThread& t) {
  BackToPolling(
      t, Write(t, SVC_SET_INTEGRATOR, static_cast<int32_t>(t.Records().tuning.Integrator), 2, kNoPause));
}

int AfcSweepReadLimit(int32_t step) {
  const int32_t s = std::max<int32_t>(step, 1);
  const int points = (kAfcHighestFrequency - kAfcLowestFrequency) / s + 1;
  return 2 * points + kAfcReadMargin;
}

void JobAfcSweep(TCmdThread& t) {
  EngineRecords& rec = t.Records();
  const TuningParams& tp = rec.tuning;
  auto failed = [&t](LinkResult r) {
    if (r == LINK_OK) return false;
    if (!t.Terminating()) BackToPolling(t, r);
    return true;
  };

  // 1-3. From the lowest frequency, with the sensor's sweep restarted.
  if (failed(Write(t, SVC_SET_FREQ, kAfcLowestFrequency, 2, kJobPauseMs)) || !t.Pause(kAfcSettleMs)) return;
  if (failed(AfcControl(t, 0, 0)) || !t.Pause(kAfcSettleMs)) return;
  if (failed(AfcControl(t, 1, tp.AfcStep))) return;

  // 4-5. One point per echo until the sensor's frequency wraps round. A
  // sensor that never wraps (a step of 0, or one that stops stepping) must
  // not hold the engine for ever: the reads are bounded, and a frequency
  // that stays put for a while ends the sweep too.
  const int64_t from = std::max<int64_t>(tp.AfcStart / 10, 0);
  const int64_t to = std::min<int64_t>((static_cast<int64_t>(tp.AfcStart) + tp.AfcWidth) / 10,
                                       static_cast<int64_t>(kAfcSamples));
  const int limit = AfcSweepReadLimit(tp.AfcStep);
  rec.sweepFrequency = 0;
  int unchanged = 0;
  for (int read = 0; read < limit; ++read) {
    if (!t.Pause(kJobPauseMs)) return;
    const LinkResult r = Attempts(t, 2, kJobPauseMs, [&] {
      return Shown(t, UartGetEcho(t.Link(), Address(t), static_cast<uint8_t>(tp.OscMode), &rec.echoHeader,
                                  &rec.echoSamples));
    });
    if (failed(r)) return;
    const int32_t f = rec.echoHeader.Frequency();
    if (f < rec.sweepFrequency) break;
    unchanged = f == rec.sweepFrequency ? unchanged + 1 : 0;
    rec.sweepFrequency = f;
    int32_t peak = 0;
    for (int64_t i = from; i < to; ++i)
      peak = std::max<int32_t>(peak, rec.echoSamples.samples[static_cast<size_t>(i)]);
    rec.sweepPeak = peak;
    t.View().AddAfcPoint();
    if (unchanged >= kAfcStallReads) break;
  }

  // 6-8. Back to the frequency in use, sweep off.
  if (failed(Write(t, SVC_SET_FREQ, tp.Frequency, 2, kJobPauseMs))) return;
  if (failed(AfcControl(t, 0, 0))) return;
  t.View().InfoBox(t.Texts().Message(Msg::AfcCompleted));
  t.PostFollowUp(JOB_POLL_ECHO);
}

void JobDisplayTest(TCmdThread& t) {
  t.View().BuildDisplayMask();
  const LinkResult r = Attempts(
      t, 2, kNoPause,
      [&] {
        t.result = UartCommand(t.Link(), SVC_DISPLAY_TEST, Address(t),
                               static_cast<int32_t>(t.Records().tuning.DisplayMask));
        return static_cast<LinkResult>(t.result);
      },
      [&](LinkResult res) { t.View().ShowDeviceStatus(res); });
  // Success: the engine repeats the step after 250 ms.
  if (r != LINK_OK) BackToPolling(t, r);
}

}  // namespace kl
