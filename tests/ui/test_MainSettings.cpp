// settings.ini: defaults, round trip, bad values, and the order of closing.
#include "MainFixture.h"

#include "app/core/ConvertThread.h"
#include "platform/FileUtil.h"
#include "platform/Profile.h"
#include "app/ui/SUIURLLabel.h"
#include "app/ui/WlmShiftImage.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <fstream>
#include <sys/stat.h>

namespace {

void WriteIni(const std::string& path, const std::string& body) { std::ofstream(path, std::ios::binary) << body; }

int IniInt(const std::string& file, const char* key) { return plat::GetPrivateProfileInt("Options", key, -99, file); }
std::string IniStr(const std::string& file, const char* key) {
  return plat::GetPrivateProfileString("Options", key, "<none>", file);
}

// The mode table as the controls show it.
void ExpectMode(TfrmMain& f, int mode) {
  SCOPED_TRACE(mode);
  EXPECT_EQ(f.cbFormat->isEnabled(), mode != 0);
  EXPECT_EQ(f.lConvertTo->isEnabled(), mode != 0);
  EXPECT_EQ(Shown(f.lVideo->text()), mode == 2 ? "Select video file:" : "Enter video URL (Example: ");
  for (QWidget* w : {static_cast<QWidget*>(f.lUrl), static_cast<QWidget*>(f.lUrlEnd), static_cast<QWidget*>(f.eUrl)})
    EXPECT_EQ(w->isVisibleTo(&f), mode != 2) << w->objectName().toStdString();
  EXPECT_EQ(f.eFileName->isVisibleTo(&f), mode == 2);
  EXPECT_EQ(f.bSelectFile->isVisibleTo(&f), mode == 2);
}

}  // namespace

TEST_F(MainWindowTest, NoSettingsFileGivesDefaultsAndClosingCreatesIt) {
  ScopedEnv home("HOME", (Dir() + "/home").c_str());
  ScopedEnv config("XDG_CONFIG_HOME", (Dir() + "/config").c_str());
  const std::string videos = Dir() + "/home/Videos/";
  ASSERT_TRUE(plat::ForceDirectories(videos));
  ASSERT_FALSE(plat::FileExists(Ini()));
  TfrmMain& f = Open();
  EXPECT_TRUE(f.rbDownload->isChecked());
  ExpectMode(f, 0);
  EXPECT_EQ(f.cbFormat->currentIndex(), 0);
  EXPECT_EQ(f.eOutputFolder->text().toStdString(), videos);
  EXPECT_EQ(f.FOutputDir.back(), '/');
  EXPECT_FALSE(plat::FileExists(Ini()));  // nothing is written before closing
  CloseForm();
  ASSERT_TRUE(plat::FileExists(Ini()));
  EXPECT_EQ(IniStr(Ini(), "OutputDirectory"), videos);
  EXPECT_EQ(IniInt(Ini(), "RadioButton"), 0);
  EXPECT_EQ(IniInt(Ini(), "ConvertFormat"), 0);
}

TEST_F(MainWindowTest, SettingsRoundTrip) {
  const std::string other = Dir() + "/other";
  ASSERT_TRUE(plat::ForceDirectories(other));
  WriteIni(Ini(), "[options]\r\noutputdirectory=" + Dir() + "\r\nRADIOBUTTON=2\r\nConvertFormat=7\r\n");
  {
    TfrmMain& f = Open();
    EXPECT_TRUE(f.rbConvert->isChecked());
    ExpectMode(f, 2);
    EXPECT_EQ(f.cbFormat->currentIndex(), 7);
    EXPECT_EQ(f.eOutputFolder->text().toStdString(), Dir());
    f.rbDownloadConvert->click();
    ExpectMode(f, 1);
    f.cbFormat->setCurrentIndex(3);
    f.eOutputFolder->setText(QString::fromStdString(other));
    CloseForm();
  }
  EXPECT_EQ(IniStr(Ini(), "OutputDirectory"), other);
  EXPECT_EQ(IniInt(Ini(), "RadioButton"), 1);
  EXPECT_EQ(IniInt(Ini(), "ConvertFormat"), 3);
  TfrmMain& g = Open();
  EXPECT_TRUE(g.rbDownloadConvert->isChecked());
  ExpectMode(g, 1);
  EXPECT_EQ(g.cbFormat->currentIndex(), 3);
  EXPECT_EQ(g.eOutputFolder->text().toStdString(), other);
}

TEST_F(MainWindowTest, MissingKeysAndInvalidIntegersGiveDefaults) {
  // No videos folder in this home: the home folder itself.
  ScopedEnv home("HOME", Dir().c_str());
  ScopedEnv config("XDG_CONFIG_HOME", (Dir() + "/config").c_str());
  WriteIni(Ini(), "[Options]\r\nRadioButton=abc\r\nConvertFormat=4x\r\n");
  TfrmMain& f = Open();
  EXPECT_TRUE(f.rbDownload->isChecked());
  ExpectMode(f, 0);
  EXPECT_EQ(f.cbFormat->currentIndex(), 0);
  EXPECT_EQ(f.eOutputFolder->text().toStdString(), Dir() + "/");
}

// An installed program keeps its settings in the user's configuration
// folder, which it makes; videos go to the user's videos folder, never to
// the program's own folder.
TEST_F(MainWindowTest, WithoutAFileNameSettingsLiveInTheConfigurationFolder) {
  ScopedEnv home("HOME", (Dir() + "/home").c_str());
  ScopedEnv config("XDG_CONFIG_HOME", (Dir() + "/config").c_str());
  ASSERT_TRUE(plat::ForceDirectories(Dir() + "/home/Videos"));
  const std::string ini = Dir() + "/config/Clipharbor/settings.ini";
  {
    TfrmMain f;
    EXPECT_EQ(f.SettingsFile(), ini);
    f.show();
    QApplication::processEvents();
    EXPECT_EQ(f.eOutputFolder->text().toStdString(), Dir() + "/home/Videos/");
    EXPECT_NE(f.FOutputDir, plat::ExecutableDir());
    f.cbFormat->setCurrentIndex(12);
    f.close();
    QApplication::processEvents();
  }
  EXPECT_EQ(IniStr(ini, "OutputDirectory"), Dir() + "/home/Videos/");
  EXPECT_EQ(IniInt(ini, "ConvertFormat"), 12);
}

TEST_F(MainWindowTest, ModeOutsideRangeAppliesNothing) {
  for (const char* value : {"3", "-1", "99"}) {
    SCOPED_TRACE(value);
    WriteIni(Ini(), std::string("[Options]\r\nRadioButton=") + value + "\r\nConvertFormat=15\r\n");
    TfrmMain& f = Open();
    // The design state: rbDownload checked, the list enabled, lUrlEnd hidden,
    // address box and file box both visible at the same place.
    EXPECT_TRUE(f.rbDownload->isChecked());
    EXPECT_TRUE(f.cbFormat->isEnabled());
    EXPECT_FALSE(f.lUrlEnd->isVisibleTo(&f));
    EXPECT_TRUE(f.eUrl->isVisibleTo(&f));
    EXPECT_TRUE(f.eFileName->isVisibleTo(&f));
    EXPECT_TRUE(f.bSelectFile->isVisibleTo(&f));
    EXPECT_EQ(f.eFileName->pos(), f.eUrl->pos());
    EXPECT_EQ(f.eFileName->width(), f.eOutputFolder->width());
    EXPECT_EQ(f.cbFormat->currentIndex(), -1);
    EXPECT_EQ(f.FModeIndex, std::atoi(value));
    CloseForm();
    // Closing stores the checked button and the empty selection.
    EXPECT_EQ(IniInt(Ini(), "RadioButton"), 0);
    EXPECT_EQ(IniInt(Ini(), "ConvertFormat"), -1);
    form_.reset();
  }
}

TEST_F(MainWindowTest, ClosingKeepsStoredFolderWhenTheTextNamesNone) {
  WriteIni(Ini(), "[Options]\r\nOutputDirectory=" + Dir() + "\r\n");
  {
    TfrmMain& f = Open();
    f.eOutputFolder->setText(QString::fromStdString(Dir() + "/typo"));
    CloseForm();
  }
  EXPECT_EQ(IniStr(Ini(), "OutputDirectory"), Dir());
  form_.reset();

  // Show Files copied the text already: that copy is what gets written.
  TfrmMain& g = Open();
  g.eOutputFolder->setText(QString::fromStdString(Dir() + "/typo"));
  desk_.ExpectBox(Dir() + "/typo, the output directory does not exist.", plat::IDOK);
  g.bShowFiles->click();
  CloseForm();
  EXPECT_EQ(IniStr(Ini(), "OutputDirectory"), Dir() + "/typo");
}

TEST_F(MainWindowTest, CreationJoinsChainAndMakesConverterClosingUndoesBoth) {
  const plat::HWND before = plat::GetClipboardViewer();
  DestroyConvertProcess();
  TfrmMain& f = Open();
  EXPECT_EQ(f.windowTitle().toStdString(), "Clipharbor");
  EXPECT_EQ(plat::GetClipboardViewer(), f.Handle());
  EXPECT_EQ(f.FNextViewer, before);
  EXPECT_NE(ConvertProcess, nullptr);
  EXPECT_TRUE(f.FAccountUser.empty());
  EXPECT_EQ(frmMain, &f);
  CloseForm();
  EXPECT_EQ(plat::GetClipboardViewer(), before);
  EXPECT_EQ(ConvertProcess, nullptr);
  form_.reset();
  EXPECT_EQ(frmMain, nullptr);
}

TEST_F(MainWindowTest, UnwritableSettingsSkipTheRestOfClosing) {
  const std::string asDir = Dir() + "/settings-dir.ini";
  ASSERT_EQ(::mkdir(asDir.c_str(), 0755), 0);
  form_ = std::make_unique<TfrmMain>(asDir);
  form_->show();
  QApplication::processEvents();
  const plat::HWND handle = form_->Handle();
  form_->bExit->click();  // no box, no exception
  QApplication::processEvents();
  EXPECT_FALSE(form_->isVisible());
  // The steps after the failed write did not run ...
  EXPECT_EQ(plat::GetClipboardViewer(), handle);
  EXPECT_NE(ConvertProcess, nullptr);
  // ... and the end of the program cleans up instead.
  form_.reset();
  EXPECT_NE(plat::GetClipboardViewer(), handle);
  EXPECT_EQ(ConvertProcess, nullptr);
}

TEST_F(MainWindowTest, ControlsCaptionsAndHints) {
  TfrmMain& f = Open();
  EXPECT_EQ(f.size(), QSize(407, 362));
  EXPECT_EQ(Shown(f.bSelectFile->text()), "Browser...");
  EXPECT_EQ(f.bSelectFile->toolTip().toStdString(), "Select local video file");
  EXPECT_EQ(Shown(f.bBrowser->text()), "Browser...");
  EXPECT_EQ(f.bBrowser->toolTip().toStdString(), "Set your default output folder");
  EXPECT_EQ(Shown(f.lOutputFolder->text()), "Output Folder:");
  EXPECT_EQ(Shown(f.lConvertTo->text()), "Convert to:");
  EXPECT_EQ(Shown(f.rbDownload->text()), "Download video from YouTube");
  EXPECT_EQ(Shown(f.rbDownloadConvert->text()), "Download and convert video from YouTube");
  EXPECT_EQ(Shown(f.rbConvert->text()), "Convert video from local FLV file");
  EXPECT_EQ(Shown(f.bStart->text()), "Start...");
  EXPECT_EQ(Shown(f.bShowFiles->text()), "Show Files...");
  EXPECT_EQ(Shown(f.bExit->text()), "Exit");
  EXPECT_EQ(f.lUrlEnd->text().toStdString(), ")");
  EXPECT_EQ(f.lUrl->text().toStdString(), "http://www.youtube.com/watch?v=piEWjpA_51Q");
  EXPECT_TRUE(f.lUrl->font().underline());
  EXPECT_FALSE(f.cbFormat->isEditable());
  ASSERT_EQ(f.cbFormat->count(), 14);
  EXPECT_EQ(f.cbFormat->itemText(0).toStdString(), "Ipod Video (Apple QuickTime MOV)");
  EXPECT_EQ(f.cbFormat->itemText(9).toStdString(), "MPEG1 Movie (MPG)");
  EXPECT_EQ(f.cbFormat->itemText(13).toStdString(), "Opus Audio (OPUS)");
  EXPECT_EQ(f.WlmShiftImage1->toolTip().toStdString(), "Click to popup the menu");
  // Fixed border: system menu and minimise box only.
  const Qt::WindowFlags fl = f.windowFlags();
  EXPECT_TRUE(fl & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(fl & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(f.minimumSize(), f.maximumSize());
  // Layout at show.
  EXPECT_EQ(f.iBanner->geometry(), QRect(0, 0, 407, 50));
  EXPECT_EQ(f.lUpdate->geometry().right() + 1, 407 - 10);
  EXPECT_EQ(f.iUpdate->x(), f.lUpdate->x() - 20);
  // Centred on the (scripted) screen.
  const QRect fr = f.frameGeometry();
  EXPECT_EQ(fr.x(), (desk_.Screen.Width - fr.width()) / 2);
  EXPECT_EQ(fr.y(), (desk_.Screen.Height - fr.height()) / 2);
}

TEST_F(MainWindowTest, ModeChangesKeepEditContents) {
  TfrmMain& f = Open();
  f.eUrl->setText("http://x/watch?v=1");
  f.eFileName->setText("/tmp/a.flv");
  f.rbConvert->click();
  ExpectMode(f, 2);
  f.rbDownload->click();
  ExpectMode(f, 0);
  f.rbDownloadConvert->click();
  ExpectMode(f, 1);
  EXPECT_EQ(f.eUrl->text().toStdString(), "http://x/watch?v=1");
  EXPECT_EQ(f.eFileName->text().toStdString(), "/tmp/a.flv");
}
