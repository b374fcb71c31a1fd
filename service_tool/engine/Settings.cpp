// The jobs of the settings page: reading and writing the sensor's passport
// and output settings.
#include "Unit_cmd.h"

namespace kl {

void JobReadSettings(TCmdThread&) {}
void JobWriteSettings(TCmdThread&) {}

}  // namespace kl
