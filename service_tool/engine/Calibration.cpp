// The jobs of the calibration page: the preset tank table transfer, the
// calibration mode and the level poll of the calibration window.
#include "Unit_cmd.h"

namespace kl {

void JobReadHub(TCmdThread&) {}
void JobShowHub(TCmdThread&) {}
void JobTareMode(TCmdThread&) {}
void JobLevelPoll(TCmdThread&) {}
void JobWriteHub(TCmdThread&) {}

}  // namespace kl
