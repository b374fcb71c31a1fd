// The jobs of the oscilloscope and tuning page: echo polling, the tuning
// writes, the frequency sweep, automatic tuning and the display test.
#include "Unit_cmd.h"

namespace kl {

// A successful search leaves the window locked for the oscilloscope page's
// entry job, which unlocks it at its end.
void JobEnterScope(TCmdThread& t) {
  t.View().SetBusy();
  t.View().SetIdle();
}

void JobPollEcho(TCmdThread&) {}
void JobSetAuto(TCmdThread&) {}
void JobSetFreq(TCmdThread&) {}
void JobSetFilter(TCmdThread&) {}
void JobSetKu(TCmdThread&) {}
void JobSetAtten(TCmdThread&) {}
void JobSetPulse(TCmdThread&) {}
void JobSetIntegrator(TCmdThread&) {}
void JobAfcSweep(TCmdThread&) {}
void JobDisplayTest(TCmdThread&) {}

}  // namespace kl
