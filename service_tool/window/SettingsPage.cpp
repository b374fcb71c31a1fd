#include "SettingsPage.h"

#include "Unit_main.h"

namespace kl {

SettingsPage::SettingsPage(TForm1& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName("TsSettings");
}

void SettingsPage::RefillLists() {}
void SettingsPage::SetBusy(bool) {}
std::optional<int32_t> SettingsPage::ChosenBaud() const { return std::nullopt; }
void SettingsPage::FillSettingsPage() {}
void SettingsPage::CollectSettingsPage() {}

}  // namespace kl
