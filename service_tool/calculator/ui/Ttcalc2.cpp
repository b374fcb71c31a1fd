#include "Ttcalc2.h"

namespace kl {

bool RunTankCalculator(QWidget*, const std::string&, TareRows&) { return false; }

}  // namespace kl
