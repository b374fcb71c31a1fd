#include "CalibrationPage.h"

#include "Unit_main.h"

namespace kl {

CalibrationPage::CalibrationPage(TForm1& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName("TsTara");
}

void CalibrationPage::RefillLists() {}
void CalibrationPage::SetBusy(bool) {}
void CalibrationPage::ShowHubImage() {}
void CalibrationPage::StoreHubImage() {}
void CalibrationPage::ShowLevel(int, bool) {}

}  // namespace kl
