#include "UiWindowOps.h"

#include "CalibrationPage.h"
#include "ScopePage.h"
#include "SettingsPage.h"
#include "Unit_main.h"

namespace kl {

void UiWindowOps::ShowPortStatus(int index) {
  invoker_.Run([&] { form_.ShowPortStatus(index); });
}
void UiWindowOps::ShowDeviceStatus(int code) {
  invoker_.Run([&] { form_.ShowDeviceStatus(code); });
}
void UiWindowOps::ShowScopePage() {
  invoker_.Run([&] { form_.ShowScopePage(); });
}
void UiWindowOps::ShowProgramPage() {
  invoker_.Run([&] { form_.ShowProgramPage(); });
}
void UiWindowOps::SetWaitCursor() {
  invoker_.Run([&] { form_.SetWaitCursor(); });
}
void UiWindowOps::SetNormalCursor() {
  invoker_.Run([&] { form_.SetNormalCursor(); });
}
void UiWindowOps::SetBusy() {
  invoker_.Run([&] { form_.SetBusy(); });
}
void UiWindowOps::SetIdle() {
  invoker_.Run([&] { form_.SetIdle(); });
}
void UiWindowOps::AdoptLinkSettings() {
  invoker_.Run([&] { form_.AdoptLinkSettings(); });
}
void UiWindowOps::AdoptNewAddress(int address) {
  invoker_.Run([&] { form_.AdoptNewAddress(address); });
}
void UiWindowOps::AdoptNewBaud() {
  invoker_.Run([&] { form_.AdoptNewBaud(); });
}

void UiWindowOps::ShowDeviceIdentity(bool identified) {
  invoker_.Run([&] { form_.ShowDeviceIdentity(identified); });
}

void UiWindowOps::EnableReadouts(bool on) {
  invoker_.Run([&] { form_.EnableReadouts(on); });
}
void UiWindowOps::ReadOscillMode() {
  invoker_.Run([&] { form_.ReadOscillMode(); });
}

void UiWindowOps::ShowEcho() {
  invoker_.Run([&] { form_.Scope().ShowEcho(); });
}
void UiWindowOps::ShowAutoStep1() {
  invoker_.Run([&] { form_.Scope().ShowAutoStep1(); });
}
void UiWindowOps::ShowAutoStep2() {
  invoker_.Run([&] { form_.Scope().ShowAutoStep2(); });
}
void UiWindowOps::ShowTuningParams() {
  invoker_.Run([&] { form_.Scope().ShowTuningParams(); });
}
void UiWindowOps::AddAfcPoint() {
  invoker_.Run([&] { form_.Scope().AddAfcPoint(); });
}
void UiWindowOps::BuildDisplayMask() {
  invoker_.Run([&] { form_.Scope().BuildDisplayMask(); });
}
void UiWindowOps::FillSettingsPage() {
  invoker_.Run([&] { form_.SettingsPg().FillSettingsPage(); });
}
void UiWindowOps::CollectSettingsPage() {
  invoker_.Run([&] { form_.SettingsPg().CollectSettingsPage(); });
}
// Both may ask the user first; the engine waits for the answer.
void UiWindowOps::ShowHubImage() {
  invoker_.RunUntilDone(
      [this](std::function<void()> done) { form_.Calibration().ShowHubImage(std::move(done)); });
}
void UiWindowOps::StoreHubImage() {
  invoker_.RunUntilDone(
      [this](std::function<void()> done) { form_.Calibration().StoreHubImage(std::move(done)); });
}
void UiWindowOps::ShowLevel(int levelCode, bool noData) {
  invoker_.Run([&] { form_.Calibration().ShowLevel(levelCode, noData); });
}

void UiWindowOps::Box(int icon, const char* name, const std::string& text, bool yesNo, bool* yes) {
  auto answer = std::make_shared<QMessageBox::StandardButton>(QMessageBox::NoButton);
  const bool done = invoker_.RunUntilDone([&, answer](std::function<void()> finished) {
    form_.ShowBox(static_cast<QMessageBox::Icon>(icon), name, text,
                  yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                  [answer, finished](QMessageBox::StandardButton b) {
                    *answer = b;
                    finished();
                  });
  });
  if (yes) *yes = done && *answer == QMessageBox::Yes;
}

void UiWindowOps::ErrorBox(const std::string& text) {
  Box(QMessageBox::Critical, "ErrorBox", text, false, nullptr);
}

bool UiWindowOps::ErrorBoxYesNo(const std::string& text) {
  bool yes = false;
  Box(QMessageBox::Critical, "QuestionBox", text, true, &yes);
  return yes;
}

void UiWindowOps::InfoBox(const std::string& text) {
  Box(QMessageBox::Information, "InfoBox", text, false, nullptr);
}

}  // namespace kl
