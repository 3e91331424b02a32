// The download window when a download goes wrong: a box that says why, no
// conversion, nothing under the final name and the ".part" kept; a success
// writes into the ".part" and ends with the whole file under its final name.
// Also the age gate after a refused login.
#include <QApplication>

#include <gtest/gtest.h>

#include "app/core/ConvertThread.h"
#include "app/ui/Login.h"
#include "support/FileSizeLimit.h"
#include "ui/DownloadWindowFixture.h"

using namespace e2e;
using testsupport::TFileSizeLimit;

namespace {

const std::string kFinal = "Sample Clip.flv";
const std::string kPart = "Sample Clip.flv.part";

class DownloadIntegrityTest : public DownloadWindowTest {
 protected:
  // Runs a download and convert job that must fail with "Download failed: "
  // + `why`; checks that nothing was converted and only the ".part" is left
  // (not even that when no byte arrived).
  TfrmDownload& ExpectFailure(const TService& s, const std::string& why, bool bytesArrived = true) {
    UseService(s);
    UseStandInConverter(R"([["output", "converted"], ["exit", 0]])");
    FDesktop.ExpectBox("Download failed: " + why, plat::IDOK);
    TfrmDownload& f = Make(s.WatchUrl(), 1);
    bool converting = false;
    EXPECT_EQ(RunModal([&] { converting = converting || f.Panel3->isVisible(); }), mrCancel);
    EXPECT_EQ(FDesktop.Boxes.size(), 1u);
    for (const plat::ScriptedDesktop::Box& box : FDesktop.Boxes) {
      EXPECT_EQ(box.Caption, "Clipharbor");
      EXPECT_EQ(box.Flags, plat::MB_OK | plat::MB_ICONERROR);
    }
    EXPECT_FALSE(converting);
    EXPECT_FALSE(ConvertProcess->FActive);
    EXPECT_FALSE(Exists(FOut / kFinal));
    EXPECT_FALSE(Exists(FOut / "Sample Clip.mp3"));
    EXPECT_EQ(Exists(FOut / kPart), bytesArrived);
    EXPECT_FALSE(f.Job().Succeeded());
    return f;
  }
  // The bar and the size show what reached the file, not an error page's
  // own length and count.
  void ExpectBarShowsThePart(TfrmDownload& f) {
    const int part = static_cast<int>(ReadFile(FOut / kPart).size());
    EXPECT_EQ(f.suiProgressBar1->value(), part);
    EXPECT_LT(f.suiProgressBar1->value(), f.suiProgressBar1->maximum());
    const std::string size = Text(f.lReceiveData);
    if (part == 0)
      EXPECT_EQ(size, "");
    else
      EXPECT_EQ(size.rfind(std::to_string((part + 512) / 1024) + " KB of ", 0), 0u) << size;
  }
  // The age gate, and a stored account that the service refuses.
  void UseRefusedAccount(const TService& s) {
    UseService(s);
    FMain->FAccountUser = "user";
    FMain->FAccountPassword = "wrong";
  }
};

}  // namespace

TEST_F(DownloadIntegrityTest, ErrorStatusShowsStatusAndReason) {
  TService s({"--get-video-status", "404"});
  ASSERT_TRUE(s.Running());
  ExpectBarShowsThePart(ExpectFailure(s, "404 Not Found", false));
}

TEST_F(DownloadIntegrityTest, BodyCutShortShowsWhy) {
  TService s({"--cut-after", "5000"});
  ASSERT_TRUE(s.Running());
  ExpectBarShowsThePart(ExpectFailure(s, "Connection closed before the end of the answer"));
  EXPECT_TRUE(ReadFile(FOut / kPart) == s.Flv().substr(0, 5000));
}

TEST_F(DownloadIntegrityTest, FullDiskShowsTheSystemsText) {
  TService s({});
  ASSERT_TRUE(s.Running());
  {
    TFileSizeLimit limit(20000);
    ExpectFailure(s, "File too large");
  }
  EXPECT_TRUE(ReadFile(FOut / kPart) == s.Flv().substr(0, 20000));
}

TEST_F(DownloadIntegrityTest, StopKeepsThePartAndConvertsNothing) {
  TService s({"--rate", "30000"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  UseStandInConverter(R"([["output", "converted"], ["exit", 0]])");
  TfrmDownload& f = Make(s.WatchUrl(), 1);
  bool converting = false;
  EXPECT_EQ(RunModal([&] {
              converting = converting || f.Panel3->isVisible();
              if (f.Panel2->isVisible() && f.suiProgressBar1->value() > 0) StopOf(f.Panel2)->click();
            }),
            mrStop);
  EXPECT_FALSE(converting);
  EXPECT_TRUE(FDesktop.Boxes.empty());  // the user knows why
  EXPECT_FALSE(Exists(FOut / kFinal));
  const std::string part = ReadFile(FOut / kPart);
  EXPECT_GT(part.size(), 0u);
  EXPECT_LT(part.size(), s.Flv().size());
}

TEST_F(DownloadIntegrityTest, SuccessWritesThePartThenMovesItToTheFinalName) {
  TService s({"--rate", "60000"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  WriteFile(FOut / kPart, "left by an earlier run");
  TfrmDownload& f = Make(s.WatchUrl(), 0);
  bool seenPartOnly = false, seenFinalEarly = false;
  EXPECT_EQ(RunModal([&] {
              if (!f.Panel2->isVisible() || f.suiProgressBar1->value() == 0) return;
              if (f.suiProgressBar1->value() < f.suiProgressBar1->maximum()) {
                seenPartOnly = seenPartOnly || Exists(FOut / kPart);
                seenFinalEarly = seenFinalEarly || Exists(FOut / kFinal);
              }
            }),
            mrCancel);
  EXPECT_TRUE(seenPartOnly);
  EXPECT_FALSE(seenFinalEarly);
  EXPECT_TRUE(FDesktop.Boxes.empty());
  EXPECT_TRUE(ReadFile(FOut / kFinal) == s.Flv());
  EXPECT_FALSE(Exists(FOut / kPart));
  EXPECT_TRUE(f.Job().Succeeded());
}

TEST_F(DownloadIntegrityTest, FinalFileThatAppearedMeanwhileIsNotReplaced) {
  TService s({"--rate", "60000"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  FDesktop.ExpectBox(plat::IDOK);
  TfrmDownload& f = Make(s.WatchUrl(), 0);
  bool written = false;
  EXPECT_EQ(RunModal([&] {
              // Another program saves under the same name during the transfer.
              if (!written && f.Panel2->isVisible() && f.suiProgressBar1->value() > 0) {
                written = true;
                WriteFile(FOut / kFinal, "someone else's");
              }
            }),
            mrCancel);
  ASSERT_EQ(FDesktop.Boxes.size(), 1u);
  EXPECT_EQ(FDesktop.Boxes[0].Text.rfind("Download failed: ", 0), 0u) << FDesktop.Boxes[0].Text;
  EXPECT_NE(FDesktop.Boxes[0].Text.find("File exists"), std::string::npos) << FDesktop.Boxes[0].Text;
  EXPECT_EQ(ReadFile(FOut / kFinal), "someone else's");
  EXPECT_TRUE(ReadFile(FOut / kPart) == s.Flv());
}

TEST_F(DownloadIntegrityTest, RefusedStoredAccountIsAskedForAgain) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  UseRefusedAccount(s);
  // The stored account is refused: said so, the question again, then the dialog.
  FDesktop.ExpectBox("Your login was incorrect.", plat::IDOK);
  FDesktop.ExpectBox(plat::IDYES);
  Make(s.WatchUrl(), 0);
  int dialogs = 0;
  EXPECT_EQ(RunModal([&] {
              if (auto* login = qobject_cast<TfrmLogin*>(QApplication::activeModalWidget())) {
                ++dialogs;
                login->eUsername->setText("user");
                login->ePassword->setText("secret");
                login->bOK->click();
              }
            }),
            mrCancel);
  EXPECT_EQ(dialogs, 1);
  ASSERT_EQ(FDesktop.Boxes.size(), 2u);
  EXPECT_EQ(FDesktop.Boxes[0].Flags, plat::MB_OK | plat::MB_ICONERROR);
  EXPECT_NE(FDesktop.Boxes[1].Text.find("Do you want Login to access your account?"), std::string::npos);
  EXPECT_EQ(FMain->FAccountPassword, "secret");
  EXPECT_TRUE(ReadFile(FOut / kFinal) == s.Flv());
  const std::string log = s.Requests();
  ASSERT_NE(log.find("password=wrong"), std::string::npos) << log;
  EXPECT_EQ(log.find("password=wrong"), log.rfind("password=wrong")) << "one submission of the refused account";
}

TEST_F(DownloadIntegrityTest, MistypedPasswordIsSaidBeforeTheQuestionComesAgain) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  FDesktop.ExpectBox(plat::IDYES);
  FDesktop.ExpectBox("Your login was incorrect.", plat::IDOK);
  FDesktop.ExpectBox(plat::IDYES);
  Make(s.WatchUrl(), 0);
  std::vector<std::string> passwords = {"wrong", "secret"};
  std::size_t typed = 0;
  EXPECT_EQ(RunModal([&] {
              auto* login = qobject_cast<TfrmLogin*>(QApplication::activeModalWidget());
              if (!login || typed >= passwords.size()) return;
              login->eUsername->setText("user");
              login->ePassword->setText(QString::fromStdString(passwords[typed++]));
              login->bOK->click();
            }),
            mrCancel);
  EXPECT_EQ(typed, 2u);
  ASSERT_EQ(FDesktop.Boxes.size(), 3u);
  EXPECT_EQ(FDesktop.Boxes[1].Text, "Your login was incorrect.");
  EXPECT_NE(FDesktop.Boxes[2].Text.find("Do you want Login to access your account?"), std::string::npos);
  EXPECT_TRUE(ReadFile(FOut / kFinal) == s.Flv());
}

TEST_F(DownloadIntegrityTest, RefusedLoginAnsweredNoStops) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  UseRefusedAccount(s);
  FDesktop.ExpectBox("Your login was incorrect.", plat::IDOK);
  FDesktop.ExpectBox(plat::IDNO);
  Make(s.WatchUrl(), 0);
  EXPECT_EQ(RunModal(), mrStop);
  const std::string log = s.Requests();
  ASSERT_NE(log.find("password=wrong"), std::string::npos) << log;
  EXPECT_EQ(log.find("password=wrong"), log.rfind("password=wrong"));
  EXPECT_EQ(log.find("/get_video"), std::string::npos);
}
