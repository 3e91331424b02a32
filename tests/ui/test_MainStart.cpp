// Start: the checks in their order with their exact texts, and the hand-over.
#include "MainFixture.h"

#include "app/core/ConvertOutput.h"
#include "app/core/DownloadJob.h"
#include "app/core/Formats.h"
#include "platform/FileUtil.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include <fstream>
#include <iterator>

using plat::IDNO;
using plat::IDOK;
using plat::IDYES;
using plat::MB_ICONERROR;
using plat::MB_ICONINFORMATION;
using plat::MB_OK;
using plat::MB_YESNO;

namespace {

std::string MissingQuestion(const std::string& folder) {
  return folder + ", the output directory does not exist.\r\ncreates a new directory?";
}
}  // namespace

TEST_F(MainWindowTest, EmptyAddressIsReportedBeforeTheFolderIsLookedAt) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir() + "/missing"));
  for (QRadioButton* rb : {f.rbDownload, f.rbDownloadConvert}) {
    rb->click();
    desk_.ExpectBox("Please enter video URL!", IDOK);
    f.bStart->click();
  }
  ASSERT_EQ(desk_.Boxes.size(), 2u);
  for (const auto& b : desk_.Boxes) {
    EXPECT_EQ(b.Caption, "Clipharbor");
    EXPECT_EQ(b.Flags, MB_ICONINFORMATION | MB_OK);
  }
  EXPECT_FALSE(plat::DirectoryExists(Dir() + "/missing"));
  EXPECT_TRUE(log_.Events.empty());
}

TEST_F(MainWindowTest, EmptyLocalFileInConvertMode) {
  TfrmMain& f = Open();
  f.rbConvert->click();
  f.eUrl->setText("");  // the hidden address box plays no part here
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  desk_.ExpectBox("Please select a local video file!", IDOK);
  f.bStart->click();
  ASSERT_EQ(desk_.Boxes.size(), 1u);
  EXPECT_EQ(desk_.Boxes[0].Flags, MB_ICONINFORMATION | MB_OK);
  EXPECT_TRUE(log_.Events.empty());
}

TEST_F(MainWindowTest, BlankAddressGoesOnToFolderThenExampleMessage) {
  TfrmMain& f = Open();
  f.eUrl->setText("   ");
  const std::string folder = Dir() + "/new/deeper";
  f.eOutputFolder->setText(QString::fromStdString(folder));
  desk_.ExpectBox(MissingQuestion(folder), IDYES);
  desk_.ExpectBox("Please enter the url like " + kExample, IDOK);
  f.bStart->click();
  ASSERT_EQ(desk_.Boxes.size(), 2u);
  EXPECT_EQ(desk_.Boxes[0].Flags, MB_ICONINFORMATION | MB_YESNO);
  EXPECT_EQ(desk_.Boxes[1].Flags, MB_ICONINFORMATION | MB_OK);
  EXPECT_TRUE(plat::DirectoryExists(folder));  // created with its parent
  EXPECT_EQ(f.FOutputDir, folder);
  EXPECT_TRUE(log_.Events.empty());
}

TEST_F(MainWindowTest, NoToTheFolderQuestionStopsButKeepsTheText) {
  TfrmMain& f = Open();
  f.eUrl->setText(QString::fromStdString(kGoodUrl));
  const std::string folder = Dir() + "/not yet ";
  f.eOutputFolder->setText(QString::fromStdString(folder));
  desk_.ExpectBox(MissingQuestion(folder), IDNO);
  f.bStart->click();
  EXPECT_EQ(desk_.Boxes.size(), 1u);
  EXPECT_EQ(f.FOutputDir, folder);
  EXPECT_FALSE(plat::DirectoryExists(folder));
  EXPECT_TRUE(log_.Events.empty());
}

TEST_F(MainWindowTest, EmptyFolderCountsAsMissingAndCannotBeCreated) {
  TfrmMain& f = Open();
  f.eUrl->setText(QString::fromStdString(kGoodUrl));
  f.eOutputFolder->setText("");
  desk_.ExpectBox(MissingQuestion(""), IDYES);
  desk_.ExpectBox("Cannot create ", IDOK);
  f.bStart->click();
  ASSERT_EQ(desk_.Boxes.size(), 2u);
  EXPECT_EQ(desk_.Boxes[0].Text.substr(0, 1), ",");
  EXPECT_EQ(desk_.Boxes[1].Flags, MB_ICONERROR | MB_OK);
  EXPECT_TRUE(log_.Events.empty());
}

TEST_F(MainWindowTest, FolderThatCannotBeCreated) {
  TfrmMain& f = Open();
  f.eUrl->setText(QString::fromStdString(kGoodUrl));
  const std::string blocker = Dir() + "/afile";
  std::ofstream(blocker) << "x";
  const std::string folder = blocker + "/sub";
  f.eOutputFolder->setText(QString::fromStdString(folder));
  desk_.ExpectBox(MissingQuestion(folder), IDYES);
  desk_.ExpectBox("Cannot create " + folder, IDOK);
  f.bStart->click();
  EXPECT_EQ(desk_.Boxes.size(), 2u);
  EXPECT_TRUE(log_.Events.empty());
}

TEST_F(MainWindowTest, WrongAddressOnlyAfterFolderExists) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  // https watch pages and file addresses are taken now (test_MainJobs); what
  // is still no address: a blank before it, another site's watch page,
  // another scheme, no scheme.
  for (const char* bad : {" http://www.youtube.com/watch?v=x", "http://vimeo.com/watch?v=1",
                          "ftp://www.youtube.com/watch?v=x", "www.youtube.com/watch?v=x"}) {
    f.eUrl->setText(bad);
    desk_.ExpectBox("Please enter the url like " + kExample, IDOK);
    f.bStart->click();
  }
  EXPECT_EQ(desk_.Boxes.size(), 4u);
  EXPECT_TRUE(log_.Events.empty());
}

// Two addresses in the box would run together into one video id: each,
// separated by blanks or a line break, is handed over as a job of its own,
// while one address with a word after it goes on as typed.
TEST_F(MainWindowTest, SeveralAddressesRunApartNotJoined) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  const std::string other = "HTTPS://www.youtube.com/watch?v=other";
  for (const auto& [two, second] : {std::pair{kGoodUrl + " " + kExample, kExample},
                                    std::pair{kGoodUrl + "\n" + kExample, kExample},
                                    std::pair{kGoodUrl + "\t " + other, other}}) {
    f.eUrl->setText(QString::fromStdString(two));
    f.bStart->click();
    EXPECT_EQ(log_.Input, (TStringList{kGoodUrl, second}));
  }
  EXPECT_EQ(log_.Shows, 3);
  EXPECT_TRUE(desk_.Boxes.empty());
  f.eUrl->setText(QString::fromStdString(kGoodUrl + " watch"));
  f.bStart->click();
  EXPECT_EQ(log_.Input, TStringList{kGoodUrl + " watch"});
}

// A local file converted into its own folder with its own extension would
// be replaced by its copy: Start refuses that, however the folder is spelt,
// and hands over the same file with another folder or format.
TEST_F(MainWindowTest, ConvertingAFileOntoItselfIsRefused) {
  TfrmMain& f = Open();
  f.rbConvert->click();
  const std::string mp4 = Dir() + "/clip.mp4";
  std::ofstream(mp4) << "MP4";
  f.eFileName->setText(QString::fromStdString(mp4));
  f.cbFormat->setCurrentIndex(1);  // "Iphone Video (MPEG-4 MP4)"
  for (const std::string& folder : {Dir(), Dir() + "/", Dir() + "/./"}) {
    f.eOutputFolder->setText(QString::fromStdString(folder));
    desk_.ExpectBox(OntoItselfText(IncludeTrailingPathDelimiter(folder) + "clip.mp4"), IDOK);
    f.bStart->click();
  }
  ASSERT_EQ(desk_.Boxes.size(), 3u);
  EXPECT_EQ(desk_.Boxes[0].Flags, MB_ICONERROR | MB_OK);
  EXPECT_TRUE(log_.Events.empty());
  std::ifstream in(mp4);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "MP4");

  f.cbFormat->setCurrentIndex(7);  // MP3 beside it
  f.bStart->click();
  const std::string other = Dir() + "/out";
  ASSERT_TRUE(plat::ForceDirectories(other));
  f.cbFormat->setCurrentIndex(2);  // MP4 into another folder
  f.eOutputFolder->setText(QString::fromStdString(other));
  f.bStart->click();
  EXPECT_EQ(log_.Events, (std::vector<std::string>{"create", "show", "destroy", "create", "show", "destroy"}));
}

TEST_F(MainWindowTest, ExampleFollowsTheConfiguredService) {
  ScopedEnv s("CLIPHARBOR_SERVICE", "127.0.0.1:8099");
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  f.eUrl->setText(QString::fromStdString(kGoodUrl));
  desk_.ExpectBox("Please enter the url like http://127.0.0.1:8099/watch?v=piEWjpA_51Q", IDOK);
  f.bStart->click();
  f.eUrl->setText("http://127.0.0.1:8099/watch?v=abc");
  f.bStart->click();
  EXPECT_EQ(log_.Events, (std::vector<std::string>{"create", "show", "destroy"}));
}

TEST_F(MainWindowTest, MissingLocalFile) {
  TfrmMain& f = Open();
  f.rbConvert->click();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  f.eFileName->setText(QString::fromStdString(Dir() + "/nothing.flv"));
  desk_.ExpectBox("Please check whether the video file exist.", IDOK);
  f.bStart->click();
  // A folder is no video file either.
  f.eFileName->setText(QString::fromStdString(Dir()));
  desk_.ExpectBox("Please check whether the video file exist.", IDOK);
  f.bStart->click();
  EXPECT_EQ(desk_.Boxes.size(), 2u);
  EXPECT_TRUE(log_.Events.empty());
}

TEST_F(MainWindowTest, HandOverInEveryModeSetsModeExtensionAndPreset) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  const std::string flv = Dir() + "/clip one.flv";
  std::ofstream(flv) << "FLV";
  struct Case {
    QRadioButton* rb;
    int format;
    int mode;
  } cases[] = {{f.rbDownload, 0, 0}, {f.rbDownloadConvert, 7, 1}, {f.rbConvert, 3, 2}, {f.rbDownloadConvert, 2, 1}};
  for (const Case& c : cases) {
    log_ = THandOverLog();
    c.rb->click();
    f.cbFormat->setCurrentIndex(c.format);
    f.eUrl->setText(QString::fromStdString(kGoodUrl + "  "));  // as typed, blanks kept
    f.eFileName->setText(QString::fromStdString(flv));
    f.bStart->click();
    EXPECT_EQ(log_.Events, (std::vector<std::string>{"create", "show", "destroy"})) << c.mode;
    EXPECT_EQ(log_.Owner, &f);
    ASSERT_EQ(log_.Input.size(), 1u);
    EXPECT_EQ(log_.Input[0], c.mode == 2 ? flv : kGoodUrl + "  ");
    EXPECT_EQ(log_.JobMode, c.mode);
    EXPECT_EQ(log_.TargetExt, ExtensionForLabel(FormatAt(c.format)->Label));
    EXPECT_EQ(log_.ConvertArgs, PresetForIndex(c.format));
  }
  EXPECT_TRUE(desk_.Boxes.empty());
  EXPECT_EQ(f.FOutputDir, Dir());
}

TEST_F(MainWindowTest, HandOverWithNoFormatSelectedGivesEmptyTexts) {
  std::ofstream(Ini()) << "[Options]\r\nOutputDirectory=" << Dir() << "\r\nRadioButton=1\r\nConvertFormat=14\r\n";
  TfrmMain& f = Open();
  EXPECT_EQ(f.cbFormat->currentIndex(), -1);
  f.eUrl->setText(QString::fromStdString(kGoodUrl));
  f.bStart->click();
  EXPECT_EQ(log_.JobMode, 1);
  EXPECT_EQ(log_.TargetExt, "");
  EXPECT_EQ(log_.ConvertArgs, "");
}

TEST_F(MainWindowTest, ClipboardIsFollowedWhileTheDownloadWindowRuns) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  f.eUrl->setText(QString::fromStdString(kGoodUrl));
  log_.OnShow = [&] { desk_.CopyText("http://www.youtube.com/watch?v=during"); };
  f.bStart->click();
  EXPECT_EQ(f.eUrl->text().toStdString(), "http://www.youtube.com/watch?v=during");
  EXPECT_EQ(log_.Input[0], kGoodUrl);
}
