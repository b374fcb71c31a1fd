// The service tool's main window: the program page, the status bar, the page
// switching, the settings file and the language file. The command engine
// reaches it only through the window operations (UiWindowOps), which run the
// methods of the "engine requests" part below on this window's thread.
#pragma once

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ConfigFiles.h"
#include "Unit_cmd.h"
#include "Unit_texts.h"
#include "Unit_uart.h"
#include "WindowRules.h"

namespace kl {

class TForm_Logo;
class UiWindowOps;
class ScopePage;
class SettingsPage;
class CalibrationPage;

// A picture strip. Its own class, so the language file never renames it.
class ImagePanel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
};

// One panel of the status bar; not renamed by the language file either.
class StatusPanel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
};

// The up and down buttons beside the address edit.
class UpDownButtons : public QWidget {
  Q_OBJECT
 public:
  explicit UpDownButtons(QWidget* parent);
  QToolButton* Up() const { return up_; }
  QToolButton* Down() const { return down_; }

 private:
  QToolButton* up_;
  QToolButton* down_;
};

// The port list. It asks for the ports present each time it drops down, so
// that an adapter plugged in after the start appears without a restart.
class PortComboBox : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  std::function<void()> beforePopup;

 protected:
  void showPopup() override {
    if (beforePopup) beforePopup();
    QComboBox::showPopup();
  }
};

// Asks the desktop to open a document with its associated program. failed()
// runs when that did not happen: at once when there is no launcher, or later
// when the launcher found no program for the document.
void OpenWithDesktop(const std::string& path, std::function<void()> failed);

// Qt's own texts (the standard buttons of the message boxes, the file
// dialogs) in the desktop's language, as every other program on that machine
// shows them; the program's own texts come from its language file. False
// when the desktop's language has no translation installed: Qt's English stays.
bool SpeakDesktopLanguage(QCoreApplication& app);

// Where the window finds and keeps its files, and where the ports come from.
struct WindowConfig {
  std::string programFolder;                 // the instruction document is looked for here
  std::vector<std::string> settingsFolders;  // first writable one keeps the settings file
  std::string languageFolder;                // holds the language file
  // Keeps the user's choice of language in a copy of the language file
  // (LanguageFiles); empty: the choice goes into the language file itself.
  std::string languageChoiceFolder;
  bool splash = true;  // false: no splash, the caller shows the window
  std::function<std::vector<ComPortInfo>()> listPorts = UartListPorts;
  std::function<void(const std::string& path, std::function<void()> failed)> openDocument = OpenWithDesktop;
  // The folder of the running program and the default places around it.
  static WindowConfig ForProgram();
};

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(WindowConfig config = WindowConfig::ForProgram(), QWidget* parent = nullptr);
  ~TForm1() override;

  // --- state other windows and tests read ---
  const LoadedTexts& Texts() const { return texts_; }
  const PortSettings& Settings() const { return settings_; }
  EngineRecords& Records() { return records_; }
  TCmdThread* Engine() { return engine_.get(); }
  UartLink& Link() { return link_; }
  const WindowConfig& Config() const { return config_; }
  // The language file the texts come from (the user's copy that holds the
  // chosen language, or the shipped one); other windows translate from it.
  std::string LanguageFilePath() const;
  // Where the settings file is saved (the calibration journal lives beside it).
  std::string SettingsPath() const { return settingsFile_.ActivePath(); }
  bool PageChangeLocked() const { return pageLock_; }
  TForm_Logo* Splash() const { return splash_; }
  ScopePage& Scope() const { return *TsOscill; }
  SettingsPage& SettingsPg() const { return *TsSettings; }
  CalibrationPage& Calibration() const { return *TsTara; }
  int SplashTicksWhenShown() const { return splashTicksWhenShown_; }

  void PostJob(int code);

  // --- engine requests, run on this window's thread ---
  void ShowPortStatus(int index);
  void ShowDeviceStatus(int code);
  void ShowScopePage();
  void ShowProgramPage();
  void SetWaitCursor();
  void SetNormalCursor();
  void SetBusy();
  void SetIdle();
  void AdoptLinkSettings();
  void AdoptNewAddress(int address);
  void AdoptNewBaud();
  void ShowDeviceIdentity(bool identified);
  void EnableReadouts(bool on);
  void ReadOscillMode();
  // A modal box that returns at once; onClosed gets the button the user
  // pressed later (it is not called when the window shuts down under it).
  QMessageBox* ShowBox(QMessageBox::Icon icon, const QString& objectName, const std::string& text,
                       QMessageBox::StandardButtons buttons,
                       std::function<void(QMessageBox::StandardButton)> onClosed);

  // Ends the engine and closes the port; the window may still be shown.
  // Called when the window closes and when it is destroyed.
  void ShutDown();

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void BuildControls();
  QWidget* BuildProgramPage();
  void FirstShow();
  void LoadLanguage();
  void RefillLists();
  // Fills CmbCom with the ports present, keeping the selected entry.
  void FillComList();
  void ApplyLinkSettingsToLists();
  void SaveSettings();
  void ReportWriteFailure(const std::string& path);
  void SelectPage(int index);  // by the program: no job
  void UpdateMinimumSize();
  void UpdateLogoFit();

  void OnComChanged(int index);
  void OnBaudChanged(int index);
  void OnAddrChanged(const QString& text);
  void OnAddrStep(int delta);
  void OnLangChanged(int index);
  void OnOpenHelp();
  void OnPageChanged(int index);

  WindowConfig config_;
  SettingsFile settingsFile_;
  PortSettings settings_;  // the window's copy of the link settings
  LanguageFiles languageFiles_;
  std::string languagePath_;  // the file the texts were read from
  LoadedTexts texts_;
  EngineRecords records_;
  UartLink link_;
  std::unique_ptr<UiWindowOps> ops_;
  std::unique_ptr<TCmdThread> engine_;

  bool firstShown_ = false;
  bool shutDown_ = false;
  bool pageLock_ = false;
  bool programSelectsPage_ = false;
  int currentPage_ = 0;
  bool waitCursor_ = false;
  std::optional<std::string> helpPath_;
  int splashTicksWhenShown_ = 0;
  std::vector<QPointer<QMessageBox>> boxes_;

  // Controls, by their component names.
  QWidget* Panel1 = nullptr;
  ImagePanel* ImgLogoShort = nullptr;
  QTabWidget* PcMain = nullptr;
  QWidget* TsProgram = nullptr;
  ScopePage* TsOscill = nullptr;
  CalibrationPage* TsTara = nullptr;
  SettingsPage* TsSettings = nullptr;
  QGroupBox* GbCom = nullptr;
  QLabel* LblCom = nullptr;
  PortComboBox* CmbCom = nullptr;
  QLabel* LblBaud = nullptr;
  QComboBox* CmbBaud = nullptr;
  QLabel* LblAddr = nullptr;
  QLineEdit* EditAddr = nullptr;
  UpDownButtons* SbAddr = nullptr;
  QPushButton* BtnPortOpen = nullptr;
  QPushButton* BtnPortClose = nullptr;
  QPushButton* BtnSearchDevice = nullptr;
  // The sensor the last open or search identified.
  QGroupBox* GbFound = nullptr;
  QLabel* LblFoundModel = nullptr;
  QLineEdit* EditFoundModel = nullptr;
  QLabel* LblFoundSN = nullptr;
  QLineEdit* EditFoundSN = nullptr;
  QLabel* LblFoundDate = nullptr;
  QLineEdit* EditFoundDate = nullptr;
  QLabel* LblFoundVer = nullptr;
  QLineEdit* EditFoundVer = nullptr;
  QGroupBox* GbLang = nullptr;
  QLabel* LblLang = nullptr;
  QComboBox* CmbLang = nullptr;
  QPushButton* btn_open_help = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  StatusPanel* StatusPanel0 = nullptr;
  StatusPanel* StatusPanel1 = nullptr;
  TForm_Logo* splash_ = nullptr;
};

// The caption of the main window; the language file does not change it.
inline constexpr const char* kMainCaption = "KL31 Install Service v.2.0.0.9";

// Renames the controls of a window from the language file and returns the
// selected language's texts for the window's own message keys (the built-in
// text for each key the file does not give). layoutClasses names the classes
// as the window layouts do ("TLabel", "TButton", ...). With a captionKey the
// window caption comes from that key, defaultCaption when the file has none.
// A missing language file leaves every caption as it is.
std::map<std::string, std::string, std::less<>> TranslateWindow(
    QWidget* window, const std::string& languageFile, std::span<const std::string_view> layoutClasses,
    std::span<const KeyText> messageKeys, std::string_view captionKey = {},
    std::string_view defaultCaption = {});

// Step 3 of the language loading for one window and a section lookup.
void TranslateControls(QWidget* window, std::span<const std::string_view> layoutClasses,
                       const SectionLookup& lookup);

}  // namespace kl
