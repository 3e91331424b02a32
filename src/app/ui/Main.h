// The main window: collects one job (a watch-page address or a local FLV
// file, an output folder, a format), checks it and hands it to the download
// window; keeps the settings, the account credentials for the session and
// the converter object; follows the clipboard for copied web addresses.
// Several addresses or files (pasted or dropped) run one after another;
// the end of every job stays on the window (MainJobs.cpp).
#pragma once

#include "app/core/JobInputs.h"
#include "app/core/JobMode.h"
#include "app/core/JobSettings.h"
#include "platform/Desktop.h"
#include "platform/MessageLoop.h"

#include <QWidget>

#include <optional>
#include <string>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class TClickLabel;
class TJobResults;
class TWlmShiftImage;
class TsuiURLLabel;

// A second instance finds the first by this name.
constexpr const char* kMainWindowClassName = "Clipharbor Made by Norvale Software";
// The caption of lVideo in the download modes.
constexpr const char* kEnterUrl = "Enter video URL (Example: ";

class TfrmMain : public QWidget {
  Q_OBJECT
 public:
  // settingsFile: "" for "settings.ini" in the user's configuration folder
  // (UserSettingsFile).
  explicit TfrmMain(const std::string& settingsFile = std::string(), QWidget* parent = nullptr);
  ~TfrmMain() override;

  // The main window's message window: WM_SHOWRUNNING, WM_DRAWCLIPBOARD,
  // WM_CHANGECBCHAIN.
  plat::HWND Handle() const { return FHandle; }
  const std::string& SettingsFile() const { return FSettingsFile; }
  // Current text of eOutputFolder, as the download window builds paths from it.
  std::string OutputFolderText() const;

  // Controls.
  QLabel* iBanner;
  TClickLabel* Image1;
  TClickLabel* lTitle;
  QLabel* lTitleHint;
  QLabel* iUpdate;
  TsuiURLLabel* lUpdate;
  TWlmShiftImage* WlmShiftImage1;
  QMenu* suiPopupMenu1;
  QAction* Homepage1;
  QAction* Donate1;
  QAction* miSetYouTubeaccount;
  QAction* miSettings;
  QAction* About1;
  QLabel* lVideo;
  QLabel* lUrl;
  QLabel* lUrlEnd;
  QLineEdit* eUrl;
  QLineEdit* eFileName;
  QPushButton* bSelectFile;
  QLabel* lOutputFolder;
  QLineEdit* eOutputFolder;
  QPushButton* bBrowser;
  QRadioButton* rbDownload;
  QRadioButton* rbDownloadConvert;
  QRadioButton* rbConvert;
  QLabel* lConvertTo;
  QComboBox* cbFormat;
  QFrame* bvSeparator;
  QPushButton* bStart;
  QPushButton* bShowFiles;
  QPushButton* bExit;
  TJobResults* JobResults = nullptr;  // hidden until a job has ended
  plat::TOpenDialogOptions OpenDialog1;

  // State besides the controls.
  std::string FOutputDir;
  int FModeIndex = 0;  // as stored: a mode (StoredJobMode) or any other number
  int FFormatIndex = 0;
  plat::HWND FNextViewer = 0;
  std::string FAccountUser;
  std::string FAccountPassword;
  TJobSettings FJobSettings;   // the "Jobs" section of the settings
  std::string FProxyPassword;  // for the life of the process only

  // Handlers.
  void FormShow();
  void FormClose();
  void LoadSettings();
  void SaveSettings();
  void ApplyMode(TJobMode mode);
  void bStartClick();
  void bBrowserClick();
  void bSelectFileClick();
  void bShowFilesClick();
  void iAboutClick();
  void Homepage1Click();
  void Donate1Click();
  void miSetYouTubeaccountClick();
  void About1Click();
  void lTitleClick();
  // F10 and the focused menu picture: the menu below the picture, its first
  // item active.
  void OpenMenuFromKeyboard();
  void miSettingsClick();
  // Runs `inputs` in the download window, one after another, and shows how
  // they ended (MainJobs.cpp).
  void RunJobs(const std::vector<std::string>& inputs, const std::vector<TInputKind>& kinds, TJobMode mode);
  // Start for several inputs: the folder check, then every input checked
  // before any runs.
  void StartSeveral(const std::vector<std::string>& inputs);
  // A drop: one input fills its box (a folder the output folder), several start.
  void TakeInputs(const std::vector<std::string>& inputs);
  void ShowOutcomes(const std::vector<TJobOutcome>& outcomes);
  void Retry(const TJobOutcome& outcome);

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  // Enter presses the focused button, else Start (the default button).
  void keyPressEvent(QKeyEvent* e) override;

 private:
  plat::LRESULT WndProc(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  void WMDrawClipboard(plat::WPARAM wParam, plat::LPARAM lParam);
  void WMChangeCBChain(plat::WPARAM wParam, plat::LPARAM lParam);
  void WMShowRunning();
  // Places every control for the current font and mode (MainLayout.cpp).
  void LayoutControls();
  void CenterOnScreen();
  std::optional<TJobMode> CheckedMode() const;  // none when no radio button is checked
  QRadioButton* ModeButton(TJobMode mode) const;
  // Start's folder step: true when the folder exists or was made.
  bool CheckOutputFolder();
  // True while one of the program's windows is the active one.
  bool ProgramActive() const;

  plat::HWND FHandle = 0;
  std::string FSettingsFile;
  bool FClosed = false;
  bool FInChain = false;
  bool FHasConverter = false;
};

// The one main window of the program (nullptr when there is none).
extern TfrmMain* frmMain;
