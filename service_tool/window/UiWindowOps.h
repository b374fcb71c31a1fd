// The window operations of the command engine, carried out by the main
// window on its own thread while the command thread waits.
#pragma once

#include "UiInvoker.h"
#include "WindowOps.h"

namespace kl {

class TForm1;

class UiWindowOps : public WindowOps {
 public:
  explicit UiWindowOps(TForm1& form) : form_(form) {}

  // The window is going away: wake a waiting command thread and refuse
  // everything from now on (boxes then answer "No").
  void Close() { invoker_.Close(); }
  bool Closing() const { return invoker_.Closing(); }

  void ShowPortStatus(int index) override;
  void ShowDeviceStatus(int code) override;
  void ShowScopePage() override;
  void ShowProgramPage() override;
  void SetWaitCursor() override;
  void SetNormalCursor() override;
  void SetBusy() override;
  void SetIdle() override;
  void AdoptLinkSettings() override;
  void AdoptNewAddress(int address) override;
  void AdoptNewBaud() override;
  void ShowDeviceIdentity(bool identified) override;

  void EnableReadouts(bool on) override;
  void ReadOscillMode() override;
  void ShowEcho() override;
  void ShowAutoStep1() override;
  void ShowAutoStep2() override;
  void ShowTuningParams() override;
  void AddAfcPoint() override;
  void BuildDisplayMask() override;

  void FillSettingsPage() override;
  void CollectSettingsPage() override;

  void ShowHubImage() override;
  void StoreHubImage() override;
  void ShowLevel(int levelCode, bool noData) override;

  void ErrorBox(const std::string& text) override;
  bool ErrorBoxYesNo(const std::string& text) override;
  void InfoBox(const std::string& text) override;

 private:
  void Box(int icon, const char* name, const std::string& text, bool yesNo, bool* yes);

  TForm1& form_;
  UiInvoker invoker_;
};

}  // namespace kl
