// The main window: its controls and layout, settings, the Start checks, the
// clipboard watch over the viewer chain, and the menu and link actions.
#include "app/ui/Main.h"

#include "app/core/AppMessages.h"
#include "app/core/ConvertThread.h"
#include "app/core/Formats.h"
#include "app/core/Global.h"
#include "app/core/Service.h"
#include "app/ui/About.h"
#include "app/ui/ClickLabel.h"
#include "app/ui/DownloadHandOver.h"
#include "app/ui/JobResults.h"
#include "app/ui/Links.h"
#include "app/ui/Login.h"
#include "app/ui/Pictures.h"
#include "app/ui/SUIURLLabel.h"
#include "app/ui/WlmShiftImage.h"
#include "platform/ClipboardViewers.h"
#include "platform/FileUtil.h"
#include "platform/Profile.h"
#include "platform/QtText.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

using plat::FromQ;
using plat::ToQ;

TfrmMain* frmMain = nullptr;

namespace {

constexpr int kClientWidth = 407;
constexpr int kClientHeight = 362;
const char* const kSection = "Options";
const char* const kCaption = "Clipharbor";
const char* const kSelectFile = "Select video file:";
const char* const kVideoFilesFilter =
    "Video files|*.flv;*.mp4;*.m4v;*.mkv;*.webm;*.avi;*.mov;*.wmv;*.asf;*.mpg;*.mpeg;*.ts;*.mts;*.m2ts;*.3gp;"
    "*.3g2;*.ogv;*.vob;*.f4v;*.divx;*.rm;*.rmvb;*.dv|All files|*.*";

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

// The picture of the menu: a click and its context menu both pop up the menu.
class TMenuPicture : public TWlmShiftImage {
 public:
  using TWlmShiftImage::TWlmShiftImage;
  std::function<void(QPoint)> OnContextMenu;

  // A menu that opens on a press takes the mouse: the button goes up on the
  // menu, or the menu closes first, and either moves the picture back.
  void WatchMenu(QMenu* menu) { menu->installEventFilter(this); }

 protected:
  void contextMenuEvent(QContextMenuEvent* e) override {
    if (OnContextMenu) OnContextMenu(e->globalPos());
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
      FSettingsFile(settingsFile.empty() ? plat::ExecutableDir() + "settings.ini" : settingsFile) {
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
  lVideo = NewLabel(this, "lVideo", kEnterUrl);
  lUrl = NewLabel(this, "lUrl", ToQ(ExampleWatchUrl()));
  QFont underlined = font();
  underlined.setUnderline(true);
  lUrl->setFont(underlined);
  SetTextColor(lUrl, Qt::blue);
  lUrlEnd = NewLabel(this, "lUrlEnd", ")");
  lUrlEnd->setVisible(false);

  eUrl = new QLineEdit(this);
  eUrl->setObjectName("eUrl");

  eFileName = new QLineEdit(this);
  eFileName->setObjectName("eFileName");
  bSelectFile = NewButton(this, "bSelectFile", "Browser...");
  bSelectFile->setToolTip("Select local video file");

  lOutputFolder = NewLabel(this, "lOutputFolder", "Output Folder:");
  eOutputFolder = new QLineEdit(this);
  eOutputFolder->setObjectName("eOutputFolder");
  bBrowser = NewButton(this, "bBrowser", "Browser...");
  bBrowser->setToolTip("Set your default output folder");

  rbDownload = new QRadioButton("Download video from YouTube", this);
  rbDownload->setObjectName("rbDownload");
  rbDownload->setChecked(true);
  rbDownloadConvert = new QRadioButton("Download and convert video from YouTube", this);
  rbDownloadConvert->setObjectName("rbDownloadConvert");
  rbConvert = new QRadioButton("Convert video from local FLV file", this);
  rbConvert->setObjectName("rbConvert");

  lConvertTo = NewLabel(this, "lConvertTo", "Convert to:");
  cbFormat = new QComboBox(this);
  cbFormat->setObjectName("cbFormat");
  cbFormat->setEditable(false);
  for (int i = 0; i < FormatCount; ++i) cbFormat->addItem(FormatAt(i)->Label);
  cbFormat->setCurrentIndex(0);

  bvSeparator = new QFrame(this);
  bvSeparator->setObjectName("bvSeparator");
  bvSeparator->setFrameShape(QFrame::HLine);
  bvSeparator->setFrameShadow(QFrame::Sunken);

  bStart = NewButton(this, "bStart", "Start...");
  bShowFiles = NewButton(this, "bShowFiles", "Show Files...");
  bExit = NewButton(this, "bExit", "Exit");

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

  setTabOrder(eUrl, eFileName);
  setTabOrder(eFileName, bSelectFile);
  setTabOrder(bSelectFile, eOutputFolder);
  setTabOrder(eOutputFolder, bBrowser);
  setTabOrder(bBrowser, rbDownload);
  setTabOrder(rbDownload, cbFormat);
  setTabOrder(cbFormat, bStart);
  setTabOrder(bStart, bShowFiles);
  setTabOrder(bShowFiles, bExit);

  LayoutControls();

  connect(rbDownload, &QRadioButton::clicked, this, [this] { ApplyMode(0); });
  connect(rbDownloadConvert, &QRadioButton::clicked, this, [this] { ApplyMode(1); });
  connect(rbConvert, &QRadioButton::clicked, this, [this] { ApplyMode(2); });
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
  const std::string& raw = *clip;
  std::size_t b = 0, e = raw.size();
  while (b < e && static_cast<unsigned char>(raw[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(raw[e - 1]) <= 32) --e;
  const std::string text = raw.substr(b, e - b);
  if (!StartsWithNoCase(text, "http://" + CacheHost()) && StartsWithNoCase(text, "http://"))
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
  switch (FModeIndex) {
    case 0:
      rbDownload->setChecked(true);
      ApplyMode(0);
      break;
    case 1:
      rbDownloadConvert->setChecked(true);
      ApplyMode(1);
      break;
    case 2:
      rbConvert->setChecked(true);
      ApplyMode(2);
      break;
    default:
      break;  // no mode: the controls keep their design state
  }
  eOutputFolder->setText(ToQ(FOutputDir));
  cbFormat->setCurrentIndex(FFormatIndex);  // outside the list: nothing selected (-1)
  if (FFormatIndex < 0 || FFormatIndex >= cbFormat->count()) cbFormat->setCurrentIndex(-1);
  LayoutControls();
}

void TfrmMain::ApplyMode(int mode) {
  const bool convertsToo = mode == 1 || mode == 2;
  const bool local = mode == 2;
  lConvertTo->setEnabled(convertsToo);
  cbFormat->setEnabled(convertsToo);
  lVideo->setText(local ? kSelectFile : kEnterUrl);
  lUrl->setVisible(!local);
  lUrlEnd->setVisible(!local);
  eUrl->setVisible(!local);
  eFileName->setVisible(local);
  bSelectFile->setVisible(local);
  LayoutControls();
}

int TfrmMain::CheckedMode() const {
  if (rbDownload->isChecked()) return 0;
  if (rbDownloadConvert->isChecked()) return 1;
  if (rbConvert->isChecked()) return 2;
  return -1;
}

void TfrmMain::LoadSettings() {
  plat::TIniFile ini(FSettingsFile);
  FOutputDir = ini.ReadString(kSection, "OutputDirectory", plat::ExecutableDir());
  FModeIndex = ini.ReadInteger(kSection, "RadioButton", 0);
  FFormatIndex = ini.ReadInteger(kSection, "ConvertFormat", 0);
  FJobSettings = LoadJobSettings(FSettingsFile);
}

void TfrmMain::SaveSettings() {
  plat::TIniFile ini(FSettingsFile);
  const std::string folder = OutputFolderText();
  if (plat::DirectoryExists(folder)) FOutputDir = folder;
  ini.WriteString(kSection, "OutputDirectory", FOutputDir);
  const int mode = CheckedMode();
  if (mode >= 0) FModeIndex = mode;
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
    const int mode = CheckedMode();
    const bool convertMode = rbConvert->isChecked();
    const bool downloadMode = rbDownload->isChecked() || rbDownloadConvert->isChecked();
    const std::vector<std::string> several =
        SplitJobInputs(FromQ((convertMode ? eFileName : eUrl)->text()), plat::FileExists);
    if (several.size() > 1) {
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
    }

    RunJobs({FromQ(convertMode ? eFileName->text() : eUrl->text())}, {kind}, mode);
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
