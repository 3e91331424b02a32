// The download window at the age gate after a refused login: the question
// and the dialog again, never the refused account sent again.
#include <QApplication>

#include <gtest/gtest.h>

#include "app/ui/Login.h"
#include "ui/DownloadWindowFixture.h"

using namespace e2e;

TEST_F(DownloadWindowTest, RefusedStoredAccountIsAskedForAgain) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  FMain->FAccountUser = "user";
  FMain->FAccountPassword = "wrong";
  // The stored account is refused: the question again, then the dialog.
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
  ASSERT_EQ(FDesktop.Boxes.size(), 1u);
  EXPECT_NE(FDesktop.Boxes[0].Text.find("Do you want Login to access your account?"), std::string::npos);
  EXPECT_EQ(FMain->FAccountPassword, "secret");
  EXPECT_TRUE(ReadFile(FOut / "Sample Clip.flv") == s.Flv());
  const std::string log = s.Requests();
  EXPECT_EQ(log.find("password=wrong"), log.rfind("password=wrong")) << "one submission of the refused account";
}

TEST_F(DownloadWindowTest, RefusedLoginAnsweredNoStops) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  FMain->FAccountUser = "user";
  FMain->FAccountPassword = "wrong";
  FDesktop.ExpectBox(plat::IDNO);
  Make(s.WatchUrl(), 0);
  EXPECT_EQ(RunModal(), mrStop);
  const std::string log = s.Requests();
  EXPECT_EQ(log.find("password=wrong"), log.rfind("password=wrong"));
  EXPECT_EQ(log.find("/get_video"), std::string::npos);
}
