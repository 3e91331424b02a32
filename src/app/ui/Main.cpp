// The main window: its controls and layout, settings, the Start checks, the
// clipboard watch over the viewer chain, and the menu and link actions.
#include "app/ui/Main.h"

#include "app/core/AppMessages.h"
#include "app/core/ConvertOutput.h"
#include "app/core/ConvertThread.h"
#include "app/core/DownloadJob.h"
#include "app/core/Formats.h"
#include "app/core/Global.h"
#include "app/core/Service.h"
#include "app/core/SettingsLocation.h"
#include "app/ui/About.h"
#include "app/ui/ClickLabel.h"
#include "app/ui/DownloadHandOver.h"
#include "app/ui/JobResults.h"
#include "app/ui/Links.h"
#include "app/ui/Login.h"
#include "app/ui/Pictures.h"
#include "app/ui/SUIURLLabel.h"
#include "app/ui/WlmShiftImage.h"
#include "platform/AsciiText.h"
#include "platform/ClipboardViewers.h"
#include "platform/FileUtil.h"
#include "platform/Profile.h"
#include "platform/QtText.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QShowEvent>

#include <iterator>

using plat::FromQ;
using plat::ToQ;

TfrmMain* frmMain = nullptr;

namespace {

constexpr int kClientWidth = 407;
constexpr int kClientHeight = 362;
const char* const kSection = "Options";
const char* const kCaption = "Clipharbor";
const char* const kVideoFilesFilter =
    "Video files|*.flv;*.mp4;*.m4v;*.mkv;*.webm;*.avi;*.mov;*.wmv;*.asf;*.mpg;*.mpeg;*.ts;*.mts;*.m2ts;*.3gp;"
    "*.3g2;*.ogv;*.vob;*.f4v;*.divx;*.rm;*.rmvb;*.dv|All files|*.*";
// The captions of lVideo with their mnemonics; the text shown is kEnterUrl
// and "Select video file:".
const char* const kEnterUrlMnemonic = "&Enter video URL (Example: ";
const char* const kSelectFileMnemonic = "Select video f&ile:";

int Box(const std::string& text, plat::UINT flags) { return plat::Desktop().MessageBox(text, kCaption, flags); }

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  return l;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& text) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

void SetTextColor(QWidget* w, const QColor& c) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, c);
  w->setPalette(pal);
}

// The picture of the menu: a click and its context menu both pop up the
// menu. It takes the keyboard focus too, looking as under the mouse then;
// Enter, Space, the Menu key and Shift+F10 open the menu.
class TMenuPicture : public TWlmShiftImage {
 public:
  using TWlmShiftImage::TWlmShiftImage;
  std::function<void(QPoint)> OnContextMenu;
  std::function<void()> OnKeyOpen;

  // A menu that opens on a press takes the mouse: the button goes up on the
  // menu, or the menu closes first, and either moves the picture back.
  void WatchMenu(QMenu* menu) { menu->installEventFilter(this); }

 protected:
  void contextMenuEvent(QContextMenuEvent* e) override {
    if (e->reason() == QContextMenuEvent::Keyboard && OnKeyOpen)
      OnKeyOpen();
    else if (OnContextMenu)
      OnContextMenu(e->globalPos());
  }
  void keyPressEvent(QKeyEvent* e) override {
    const int key = e->key();
    const bool contextKey = key == Qt::Key_Menu || (key == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier);
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space || contextKey) && OnKeyOpen) {
      OnKeyOpen();
      return;
    }
    TWlmShiftImage::keyPressEvent(e);
  }
  void focusInEvent(QFocusEvent* e) override {
    TWlmShiftImage::focusInEvent(e);
    setPixmap(FocusedPicture());
  }
  void focusOutEvent(QFocusEvent* e) override {
    TWlmShiftImage::focusOutEvent(e);
    if (!underMouse()) setPixmap(NoFocusedPicture());
  }
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonRelease || e->type() == QEvent::Hide) Unpress();
    return TWlmShiftImage::eventFilter(watched, e);
  }
};

}  // namespace

TfrmMain::TfrmMain(const std::string& settingsFile, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      FSettingsFile(settingsFile.empty() ? UserSettingsFile() : settingsFile) {
  setObjectName("frmMain");
  setFixedSize(kClientWidth, kClientHeight);
  if (!frmMain) frmMain = this;
  const qreal dpr = pics::DisplayRatio();

  // Banner with logo, titles, update link and the menu picture.
  iBanner = new QLabel(this);
  iBanner->setObjectName("iBanner");

  Image1 = new TClickLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(8, 5, 40, 40);
  Image1->setPixmap(pics::Logo(40, dpr));
  Image1->setCursor(Qt::PointingHandCursor);

  lTitle = new TClickLabel(this);
  lTitle->setObjectName("lTitle");
  lTitle->setText(kMakerName);
  QFont titleFont = font();
  titleFont.setBold(true);
  lTitle->setFont(titleFont);
  SetTextColor(lTitle, Qt::white);
  lTitle->setCursor(Qt::PointingHandCursor);

  lTitleHint = NewLabel(this, "lTitleHint", "Download any video from YouTube.");
  SetTextColor(lTitleHint, Qt::white);

  iUpdate = new QLabel(this);
  iUpdate->setObjectName("iUpdate");
  iUpdate->setPixmap(pics::UpdateIcon(dpr));
  iUpdate->resize(16, 16);

  lUpdate = new TsuiURLLabel(this);
  lUpdate->setObjectName("lUpdate");
  lUpdate->SetCaption("Check for updates...");
  lUpdate->SetURL(kUpdatePage);
  lUpdate->SetFontHoverColor(QColor(Qt::red));
  lUpdate->SetFontLinkColor(QColor(Qt::white));

  auto* menuPicture = new TMenuPicture(this);
  WlmShiftImage1 = menuPicture;
  WlmShiftImage1->setObjectName("WlmShiftImage1");
  WlmShiftImage1->SetFocusedPicture(pics::MenuPicture(true, dpr));
  WlmShiftImage1->SetNoFocusedPicture(pics::MenuPicture(false, dpr));
  WlmShiftImage1->setPixmap(WlmShiftImage1->NoFocusedPicture());
  WlmShiftImage1->resize(28, 20);
  WlmShiftImage1->setCursor(Qt::PointingHandCursor);
  WlmShiftImage1->setToolTip("Click to popup the menu");

  suiPopupMenu1 = new QMenu(this);
  suiPopupMenu1->setObjectName("suiPopupMenu1");
  Homepage1 = suiPopupMenu1->addAction("&Home Page");
  Homepage1->setObjectName("Homepage1");
  suiPopupMenu1->addSeparator();
  Donate1 = suiPopupMenu1->addAction("&Donate");
  Donate1->setObjectName("Donate1");
  suiPopupMenu1->addSeparator();
  miSetYouTubeaccount = suiPopupMenu1->addAction("&Set YouTube Account");
  miSetYouTubeaccount->setObjectName("miSetYouTubeaccount");
  suiPopupMenu1->addSeparator();
  miSettings = suiPopupMenu1->addAction("Se&ttings...");
  miSettings->setObjectName("miSettings");
  suiPopupMenu1->addSeparator();
  About1 = suiPopupMenu1->addAction("&About...");
  About1->setObjectName("About1");

  // The job.
  lVideo = NewLabel(this, "lVideo", kEnterUrlMnemonic);
  lUrl = NewLabel(this, "lUrl", ToQ(ExampleWatchUrl()));
  QFont underlined = font();
  underlined.setUnderline(true);
  lUrl->setFont(underlined);
  SetTextColor(lUrl, Qt::blue);
  lUrlEnd = NewLabel(this, "lUrlEnd", ")");
  lUrlEnd->setVisible(false);

  eUrl = new QLineEdit(this);
  eUrl->setObjectName("eUrl");
  eUrl->setAccessibleName("Video URL");
  lVideo->setBuddy(eUrl);

  eFileName = new QLineEdit(this);
  eFileName->setObjectName("eFileName");
  eFileName->setAccessibleName("Local video file");
  // The two "Browser..." buttons differ in their mnemonics and, for screen
  // readers, in their names (their hints).
  bSelectFile = NewButton(this, "bSelectFile", "Bro&wser...");
  bSelectFile->setToolTip("Select local video file");
  bSelectFile->setAccessibleName("Select local video file");

  lOutputFolder = NewLabel(this, "lOutputFolder", "&Output Folder:");
  eOutputFolder = new QLineEdit(this);
  eOutputFolder->setObjectName("eOutputFolder");
  eOutputFolder->setAccessibleName("Output folder");
  lOutputFolder->setBuddy(eOutputFolder);
  bBrowser = NewButton(this, "bBrowser", "&Browser...");
  bBrowser->setToolTip("Set your default output folder");
  bBrowser->setAccessibleName("Set your default output folder");

  rbDownload = new QRadioButton("&Download video from YouTube", this);
  rbDownload->setObjectName("rbDownload");
  rbDownload->setChecked(true);
  rbDownloadConvert = new QRadioButton("Download a&nd convert video from YouTube", this);
  rbDownloadConvert->setObjectName("rbDownloadConvert");
  rbConvert = new QRadioButton("&Convert video from local FLV file", this);
  rbConvert->setObjectName("rbConvert");

  lConvertTo = NewLabel(this, "lConvertTo", "Convert &to:");
  cbFormat = new QComboBox(this);
  cbFormat->setObjectName("cbFormat");
  cbFormat->setAccessibleName("Convert to");
  lConvertTo->setBuddy(cbFormat);
  cbFormat->setEditable(false);
  for (int i = 0; i < FormatCount; ++i) cbFormat->addItem(FormatAt(i)->Label);
  cbFormat->setMaxVisibleItems(FormatCount);  // the whole list open, no scrolling
  cbFormat->setCurrentIndex(0);

  bvSeparator = new QFrame(this);
  bvSeparator->setObjectName("bvSeparator");
  bvSeparator->setFrameShape(QFrame::HLine);
  bvSeparator->setFrameShadow(QFrame::Sunken);

  bStart = NewButton(this, "bStart", "&Start...");
  bStart->setDefault(true);
  bShowFiles = NewButton(this, "bShowFiles", "Show &Files...");
  bExit = NewButton(this, "bExit", "E&xit");

  WlmShiftImage1->setFocusPolicy(Qt::TabFocus);
  WlmShiftImage1->setAccessibleName("Menu");
  WlmShiftImage1->setAccessibleDescription("Click to popup the menu");

  JobResults = new TJobResults(this);
  JobResults->hide();
  JobResults->OnClose = [this] {
    JobResults->hide();
    LayoutControls();
  };
  JobResults->OnRetry = [this](const TJobOutcome& o) { Retry(o); };
  // Links and files dropped anywhere on the window, the boxes included, are jobs.
  setAcceptDrops(true);
  eUrl->setAcceptDrops(false);
  eFileName->setAcceptDrops(false);
  eOutputFolder->setAcceptDrops(false);

  QWidget* const tabOrder[] = {eUrl,      eFileName, bSelectFile, eOutputFolder, bBrowser,   rbDownload,    rbDownloadConvert,
                               rbConvert, cbFormat,  bStart,      bShowFiles,    bExit,      WlmShiftImage1};
  for (std::size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  LayoutControls();

  connect(rbDownload, &QRadioButton::clicked, this, [this] { ApplyMode(TJobMode::jmDownload); });
  connect(rbDownloadConvert, &QRadioButton::clicked, this, [this] { ApplyMode(TJobMode::jmDownloadConvert); });
  connect(rbConvert, &QRadioButton::clicked, this, [this] { ApplyMode(TJobMode::jmConvertFile); });
  connect(bStart, &QPushButton::clicked, this, [this] { bStartClick(); });
  connect(bBrowser, &QPushButton::clicked, this, [this] { bBrowserClick(); });
  connect(bSelectFile, &QPushButton::clicked, this, [this] { bSelectFileClick(); });
  connect(bShowFiles, &QPushButton::clicked, this, [this] { bShowFilesClick(); });
  connect(bExit, &QPushButton::clicked, this, [this] { close(); });
  connect(Image1, &TClickLabel::clicked, this, [this] { Homepage1Click(); });
  connect(lTitle, &TClickLabel::clicked, this, [this] { lTitleClick(); });
  connect(Homepage1, &QAction::triggered, this, [this] { Homepage1Click(); });
  connect(Donate1, &QAction::triggered, this, [this] { Donate1Click(); });
  connect(miSetYouTubeaccount, &QAction::triggered, this, [this] { miSetYouTubeaccountClick(); });
  connect(About1, &QAction::triggered, this, [this] { About1Click(); });
  connect(miSettings, &QAction::triggered, this, [this] { miSettingsClick(); });
  WlmShiftImage1->OnClick = [this] { iAboutClick(); };
  menuPicture->OnContextMenu = [this](QPoint at) { suiPopupMenu1->popup(at); };
  menuPicture->OnKeyOpen = [this] { OpenMenuFromKeyboard(); };
  auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(menuKey, &QShortcut::activated, this, [this] { OpenMenuFromKeyboard(); });
  menuPicture->WatchMenu(suiPopupMenu1);

  // Creation, in this order: join the viewer chain, caption, credentials, converter.
  FHandle = plat::AllocateHWnd([this](plat::UINT m, plat::WPARAM w, plat::LPARAM l) { return WndProc(m, w, l); });
  FNextViewer = plat::SetClipboardViewer(FHandle);
  FInChain = true;
  setWindowTitle(kCaption);
  FAccountUser.clear();
  FAccountPassword.clear();
  CreateConvertProcess();
  FHasConverter = true;
}

TfrmMain::~TfrmMain() {
  // Whatever a failed close skipped is undone here, as the process would on exit.
  if (FInChain) plat::ChangeClipboardChain(FHandle, FNextViewer);
  if (FHasConverter) DestroyConvertProcess();
  plat::DeallocateHWnd(FHandle);
  if (frmMain == this) frmMain = nullptr;
}

std::string TfrmMain::OutputFolderText() const { return FromQ(eOutputFolder->text()); }

plat::LRESULT TfrmMain::WndProc(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  switch (msg) {
    case WM_SHOWRUNNING:
      WMShowRunning();
      return 1;
    case plat::WM_DRAWCLIPBOARD:
      WMDrawClipboard(wParam, lParam);
      return 0;
    case plat::WM_CHANGECBCHAIN:
      WMChangeCBChain(wParam, lParam);
      return 0;
    default:
      return 0;
  }
}

void TfrmMain::WMShowRunning() {
  show();
  if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  raise();
  activateWindow();
}

void TfrmMain::WMDrawClipboard(plat::WPARAM wParam, plat::LPARAM lParam) {
  if (FNextViewer != 0) plat::SendMessage(FNextViewer, plat::WM_DRAWCLIPBOARD, wParam, lParam);
  if (!FJobSettings.WatchClipboard) return;  // the chain is served all the same
  std::optional<std::string> clip = plat::Desktop().ClipboardText();
  if (!clip) return;
  const std::string text = ascii::Trim(*clip);
  if (!ascii::StartsNoCase(text, "http://" + CacheHost()) && ascii::StartsNoCase(text, "http://"))
    eUrl->setText(ToQ(text));
}

void TfrmMain::WMChangeCBChain(plat::WPARAM wParam, plat::LPARAM lParam) {
  const plat::HWND removed = static_cast<plat::HWND>(wParam);
  if (removed == FNextViewer)
    FNextViewer = static_cast<plat::HWND>(lParam);
  else if (FNextViewer != 0)
    plat::SendMessage(FNextViewer, plat::WM_CHANGECBCHAIN, wParam, lParam);
}

void TfrmMain::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (e->spontaneous()) return;  // a restore, not a show
  CenterOnScreen();
  FormShow();
}

void TfrmMain::CenterOnScreen() {
  plat::TSize screen = plat::Desktop().ScreenSize();
  if (screen.Width <= 0 || screen.Height <= 0) return;
  const QRect frame = frameGeometry();
  move((screen.Width - frame.width()) / 2, (screen.Height - frame.height()) / 2);
}

void TfrmMain::FormShow() {
  LoadSettings();
  // Any other stored number applies no mode: the controls keep their design state.
  if (const std::optional<TJobMode> mode = JobModeFromStored(FModeIndex)) {
    ModeButton(*mode)->setChecked(true);
    ApplyMode(*mode);
  }
  eOutputFolder->setText(ToQ(FOutputDir));
  cbFormat->setCurrentIndex(FFormatIndex);  // outside the list: nothing selected (-1)
  if (FFormatIndex < 0 || FFormatIndex >= cbFormat->count()) cbFormat->setCurrentIndex(-1);
  LayoutControls();
  // The keyboard starts in the box the job needs first.
  (rbConvert->isChecked() ? eFileName : eUrl)->setFocus();
}

void TfrmMain::ApplyMode(TJobMode mode) {
  const bool convertsToo = Converts(mode);
  const bool local = !Downloads(mode);
  lConvertTo->setEnabled(convertsToo);
  cbFormat->setEnabled(convertsToo);
  lVideo->setText(local ? kSelectFileMnemonic : kEnterUrlMnemonic);
  lVideo->setBuddy(local ? eFileName : eUrl);
  lUrl->setVisible(!local);
  lUrlEnd->setVisible(!local);
  eUrl->setVisible(!local);
  eFileName->setVisible(local);
  bSelectFile->setVisible(local);
  LayoutControls();
}

std::optional<TJobMode> TfrmMain::CheckedMode() const {
  for (TJobMode mode : {TJobMode::jmDownload, TJobMode::jmDownloadConvert, TJobMode::jmConvertFile})
    if (ModeButton(mode)->isChecked()) return mode;
  return std::nullopt;
}

QRadioButton* TfrmMain::ModeButton(TJobMode mode) const {
  switch (mode) {
    case TJobMode::jmDownload: return rbDownload;
    case TJobMode::jmDownloadConvert: return rbDownloadConvert;
    case TJobMode::jmConvertFile: return rbConvert;
  }
  return rbDownload;
}

void TfrmMain::LoadSettings() {
  plat::TIniFile ini(FSettingsFile);
  FOutputDir = ini.ReadString(kSection, "OutputDirectory", DefaultOutputFolder());
  FModeIndex = ini.ReadInteger(kSection, "RadioButton", 0);
  FFormatIndex = ini.ReadInteger(kSection, "ConvertFormat", 0);
  FJobSettings = LoadJobSettings(FSettingsFile);
}

void TfrmMain::SaveSettings() {
  plat::TIniFile ini(FSettingsFile);
  const std::string folder = OutputFolderText();
  if (plat::DirectoryExists(folder)) FOutputDir = folder;
  ini.WriteString(kSection, "OutputDirectory", FOutputDir);
  if (const std::optional<TJobMode> mode = CheckedMode()) FModeIndex = StoredJobMode(*mode);
  ini.WriteInteger(kSection, "RadioButton", FModeIndex);
  FFormatIndex = cbFormat->currentIndex();
  ini.WriteInteger(kSection, "ConvertFormat", FFormatIndex);
}

void TfrmMain::closeEvent(QCloseEvent* e) {
  FormClose();
  QWidget::closeEvent(e);
}

void TfrmMain::FormClose() {
  if (FClosed) return;
  FClosed = true;
  try {
    SaveSettings();
    plat::ChangeClipboardChain(FHandle, FNextViewer);
    FInChain = false;
    DestroyConvertProcess();
    FHasConverter = false;
  } catch (...) {
    // Closing goes on whatever failed; the rest is left to the exit.
  }
}

void TfrmMain::bStartClick() {
  try {
    const std::optional<TJobMode> mode = CheckedMode();
    const bool convertMode = rbConvert->isChecked();
    const bool downloadMode = rbDownload->isChecked() || rbDownloadConvert->isChecked();
    // Several addresses or files are several jobs, never one joined address;
    // one address with a stray word after it goes on as typed.
    const std::vector<std::string> several =
        SeveralJobInputs(FromQ((convertMode ? eFileName : eUrl)->text()), plat::FileExists);
    if (!several.empty()) {
      StartSeveral(several);
      return;
    }
    if (downloadMode && eUrl->text().isEmpty()) {
      Box("Please enter video URL!", plat::MB_ICONINFORMATION | plat::MB_OK);
      return;
    }
    if (convertMode && eFileName->text().isEmpty()) {
      Box("Please select a local video file!", plat::MB_ICONINFORMATION | plat::MB_OK);
      return;
    }
    if (!CheckOutputFolder()) return;
    const TInputKind kind = convertMode ? ikLocalFile : KindOfInput(FromQ(eUrl->text()));
    if (!convertMode) {
      // A watch page over http or https, or the address of a file.
      if (kind != ikWatchPage && kind != ikDirect) {
        Box("Please enter the url like " + ExampleWatchUrl(), plat::MB_ICONINFORMATION | plat::MB_OK);
        return;
      }
    } else if (!plat::FileExists(FromQ(eFileName->text()))) {
      Box("Please check whether the video file exist.", plat::MB_ICONINFORMATION | plat::MB_OK);
      return;
    } else {
      // The converted file must never replace its own source.
      const std::string input = FromQ(eFileName->text());
      const std::string output =
          ConvertOutputName(FOutputDir, input, ExtensionForLabel(FromQ(cbFormat->currentText())));
      if (SameFile(input, output)) {
        Box(OntoItselfText(output), plat::MB_ICONERROR | plat::MB_OK);
        return;
      }
    }

    RunJobs({FromQ(convertMode ? eFileName->text() : eUrl->text())}, {kind}, mode.value_or(TJobMode::jmDownload));
  } catch (...) {
    // Start ends quietly; the window stays usable.
  }
}

bool TfrmMain::CheckOutputFolder() {
  FOutputDir = OutputFolderText();
  if (plat::DirectoryExists(FOutputDir)) return true;
  const std::string question =
      FOutputDir + "," + " the output directory does not exist." + "\r\n" + "creates a new directory?";
  if (Box(question, plat::MB_ICONINFORMATION | plat::MB_YESNO) != plat::IDYES) return false;
  if (!plat::ForceDirectories(FOutputDir)) {
    Box("Cannot create " + FOutputDir, plat::MB_ICONERROR | plat::MB_OK);
    return false;
  }
  return true;
}

void TfrmMain::bBrowserClick() {
  std::string folder;
  if (SelectFolder("Please select the directory to add", std::wstring(), folder)) {
    eOutputFolder->setText(ToQ(folder));
    FOutputDir = OutputFolderText();
  }
}

void TfrmMain::bSelectFileClick() {
  // Whatever FFmpeg reads: the usual video and audio files, or any file.
  OpenDialog1.Filter = kVideoFilesFilter;
  OpenDialog1.FileName.clear();
  OpenDialog1.HideReadOnly = true;
  OpenDialog1.EnableSizing = true;
  OpenDialog1.AllowMultiSelect = true;
  std::vector<std::string> files;
  if (plat::Desktop().OpenFileDialog(OpenDialog1, files) && !files.empty()) eFileName->setText(ToQ(files.front()));
}

void TfrmMain::bShowFilesClick() {
  FOutputDir = OutputFolderText();
  if (plat::DirectoryExists(FOutputDir))
    plat::Desktop().ShellOpen(FOutputDir);
  else
    Box(FOutputDir + "," + " the output directory does not exist.", plat::MB_ICONERROR | plat::MB_OK);
}

void TfrmMain::OpenMenuFromKeyboard() {
  suiPopupMenu1->popup(WlmShiftImage1->mapToGlobal(QPoint(0, WlmShiftImage1->height())));
  suiPopupMenu1->setActiveAction(Homepage1);
}

void TfrmMain::keyPressEvent(QKeyEvent* e) {
  const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
  if (!enter || (e->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
    QWidget::keyPressEvent(e);
    return;
  }
  // Buttons other than Start leave Enter to their window.
  auto* focused = qobject_cast<QPushButton*>(focusWidget());
  QPushButton* pressed = focused && focused->isVisible() ? focused : bStart;
  if (pressed->isEnabled()) pressed->click();
}

void TfrmMain::iAboutClick() {
  plat::TPoint p = plat::Desktop().CursorPos();
  suiPopupMenu1->popup(QPoint(p.X, p.Y));
}

void TfrmMain::Homepage1Click() { plat::Desktop().ShellOpen(kHomePage); }

void TfrmMain::Donate1Click() { plat::Desktop().ShellOpen(DonatePage()); }

void TfrmMain::lTitleClick() { plat::Desktop().ShellOpen(kMakerSite); }

void TfrmMain::miSetYouTubeaccountClick() {
  auto frmLogin = std::make_unique<TfrmLogin>(this);
  if (!FAccountUser.empty()) {
    frmLogin->eUsername->setText(ToQ(FAccountUser));
    frmLogin->ePassword->setText(ToQ(FAccountPassword));
  }
  if (frmLogin->ShowModal() == TfrmLogin::mrOk) {
    FAccountUser = FromQ(frmLogin->eUsername->text());
    FAccountPassword = FromQ(frmLogin->ePassword->text());
  }
  frmLogin.reset();
}

void TfrmMain::About1Click() {
  auto frmAbout = std::make_unique<TfrmAbout>(this);
  frmAbout->ShowModal();
  frmAbout.reset();
}
