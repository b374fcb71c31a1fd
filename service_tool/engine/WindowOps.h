// The window operations the command engine calls. The engine never touches a
// control; everything it shows or reads from a window goes through this one
// interface.
//
// Contract for implementations:
//  * Every operation is called on the command thread. The implementation runs
//    it on the user-interface thread and returns only when it has finished
//    there (the engine reads engine-wide values right after, and that
//    hand-over is their only ordering).
//  * An operation whose window is absent does nothing.
//  * Once the window is closing, every call returns promptly without effect
//    (boxes answer "No"); the engine may still be finishing a job then.
#pragma once

#include <string>

namespace kl {

class WindowOps {
 public:
  virtual ~WindowOps() = default;

  // Status bar and program page.
  virtual void ShowPortStatus(int index) = 0;   // 0 opened, 1 closed, 2 error
  virtual void ShowDeviceStatus(int code) = 0;  // status code 0..255
  virtual void ShowScopePage() = 0;             // selects the oscilloscope page, posts JOB_ENTER_SCOPE
  virtual void ShowProgramPage() = 0;           // posts JOB_IDLE, selects the program page, port-closed text
  virtual void SetWaitCursor() = 0;
  virtual void SetNormalCursor() = 0;
  virtual void SetBusy() = 0;  // disable disturbing controls, set the page-change lock
  virtual void SetIdle() = 0;
  virtual void AdoptLinkSettings() = 0;  // take the link's baud rate and address, save settings
  virtual void AdoptNewAddress(int address) = 0;
  virtual void AdoptNewBaud() = 0;  // take the new baud rate; the port is reopened at it
  // The sensor on the open port, as the last open or search identified it
  // (the TCmdThread fields modelCode and settings); false clears it.
  virtual void ShowDeviceIdentity(bool identified) = 0;

  // Oscilloscope and tuning page.
  virtual void EnableReadouts(bool on) = 0;
  virtual void ReadOscillMode() = 0;
  virtual void ShowEcho() = 0;
  virtual void ShowAutoStep1() = 0;
  virtual void ShowAutoStep2() = 0;
  virtual void ShowTuningParams() = 0;
  virtual void AddAfcPoint() = 0;
  virtual void BuildDisplayMask() = 0;

  // Settings page.
  virtual void FillSettingsPage() = 0;
  virtual void CollectSettingsPage() = 0;

  // Calibration page and calibration window.
  virtual void ShowHubImage() = 0;
  virtual void StoreHubImage() = 0;
  virtual void ShowLevel(int levelCode, bool noData) = 0;

  // Boxes. They return when the user has closed them.
  virtual void ErrorBox(const std::string& text) = 0;       // error icon, OK
  virtual bool ErrorBoxYesNo(const std::string& text) = 0;  // error icon, Yes / No; true = Yes
  virtual void InfoBox(const std::string& text) = 0;        // information icon, OK
};

// A window that shows nothing and answers every question "No": what the
// engine talks to once it is stopping (the real window may be going away, and
// "No" keeps a handler from going on to change the sensor), and a stand-in
// for programs without a window.
class SilentWindow : public WindowOps {
 public:
  void ShowPortStatus(int) override {}
  void ShowDeviceStatus(int) override {}
  void ShowScopePage() override {}
  void ShowProgramPage() override {}
  void SetWaitCursor() override {}
  void SetNormalCursor() override {}
  void SetBusy() override {}
  void SetIdle() override {}
  void AdoptLinkSettings() override {}
  void AdoptNewAddress(int) override {}
  void AdoptNewBaud() override {}
  void ShowDeviceIdentity(bool) override {}
  void EnableReadouts(bool) override {}
  void ReadOscillMode() override {}
  void ShowEcho() override {}
  void ShowAutoStep1() override {}
  void ShowAutoStep2() override {}
  void ShowTuningParams() override {}
  void AddAfcPoint() override {}
  void BuildDisplayMask() override {}
  void FillSettingsPage() override {}
  void CollectSettingsPage() override {}
  void ShowHubImage() override {}
  void StoreHubImage() override {}
  void ShowLevel(int, bool) override {}
  void ErrorBox(const std::string&) override {}
  bool ErrorBoxYesNo(const std::string&) override { return false; }
  void InfoBox(const std::string&) override {}
};

}  // namespace kl
