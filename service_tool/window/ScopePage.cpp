#include "ScopePage.h"

#include "Unit_main.h"

namespace kl {

ScopePage::ScopePage(TForm1& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName("TsOscill");
}

void ScopePage::RefillLists() {}
void ScopePage::EnableReadouts(bool) {}
void ScopePage::ReadOscillMode() { form_.Records().tuning.OscMode = 1; }
void ScopePage::ShowEcho() {}
void ScopePage::ShowAutoStep1() {}
void ScopePage::ShowAutoStep2() {}
void ScopePage::ShowTuningParams() {}
void ScopePage::AddAfcPoint() {}
void ScopePage::BuildDisplayMask() {}

}  // namespace kl
