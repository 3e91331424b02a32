// The account login dialog.
#include "app/ui/Login.h"
#include "platform/ScriptedDesktop.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

class LoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desk_.OnUnexpected = [](const std::string& what) { ADD_FAILURE() << "unexpected " << what; };
  }
  void TearDown() override { EXPECT_TRUE(desk_.BoxAnswers.empty()); }
  plat::ScriptedDesktop desk_;
  plat::ScopedDesktop scope_{desk_};
};

}  // namespace

TEST_F(LoginTest, Design) {
  TfrmLogin d(nullptr);
  EXPECT_EQ(d.windowTitle().toStdString(), "Member Login");
  EXPECT_EQ(d.size(), QSize(241, 150));
  EXPECT_EQ(d.pos(), QPoint(286, 304));
  EXPECT_EQ(d.bOK->text().toStdString(), "&OK");
  EXPECT_EQ(d.bCancel->text().toStdString(), "&Cancel");
  EXPECT_EQ(d.ePassword->echoMode(), QLineEdit::Password);
  EXPECT_EQ(d.eUsername->parentWidget(), d.GroupBox1);
  EXPECT_EQ(d.ePassword->parentWidget(), d.GroupBox1);
  EXPECT_TRUE(d.GroupBox1->title().isEmpty());
  // Tab order: user name first, then password.
  auto nextTab = [&](QWidget* from) {
    QWidget* w = from->nextInFocusChain();
    while (w != &d && !(w->focusPolicy() & Qt::TabFocus)) w = w->nextInFocusChain();
    return w;
  };
  QWidget* first = nextTab(&d);
  EXPECT_EQ(first, d.eUsername);
  EXPECT_EQ(nextTab(first), d.ePassword);
  EXPECT_TRUE(d.eUsername->text().isEmpty());
  EXPECT_TRUE(d.ePassword->text().isEmpty());
}

TEST_F(LoginTest, EmptyUserNameIsReportedFirstAndDialogStaysOpen) {
  TfrmLogin d(nullptr);
  d.show();
  desk_.ExpectBox("Please enter Username.", plat::IDOK);
  d.bOK->click();
  ASSERT_EQ(desk_.Boxes.size(), 1u);
  EXPECT_EQ(desk_.Boxes[0].Caption, "Clipharbor");
  EXPECT_EQ(desk_.Boxes[0].Flags, plat::MB_ICONINFORMATION | plat::MB_OK);
  EXPECT_TRUE(d.isVisible());

  d.ePassword->setText("secret");
  desk_.ExpectBox("Please enter Username.", plat::IDOK);
  d.bOK->click();
  EXPECT_TRUE(d.isVisible());

  d.eUsername->setText("bob");
  d.ePassword->setText("");
  desk_.ExpectBox("Please enter Password.", plat::IDOK);
  d.bOK->click();
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(desk_.Boxes.size(), 3u);
}

TEST_F(LoginTest, BlankUserNameIsAcceptedAsTyped) {
  TfrmLogin d(nullptr);
  d.eUsername->setText("   ");
  d.ePassword->setText(" p w ");
  QTimer::singleShot(0, &d, [&] { d.bOK->click(); });
  EXPECT_EQ(d.ShowModal(), TfrmLogin::mrOk);
  EXPECT_EQ(d.eUsername->text().toStdString(), "   ");
  EXPECT_EQ(d.ePassword->text().toStdString(), " p w ");
  EXPECT_TRUE(desk_.Boxes.empty());
}

TEST_F(LoginTest, CancelAndCloseBoxGiveTwoWithoutChecks) {
  TfrmLogin d(nullptr);
  QTimer::singleShot(0, &d, [&] { d.bCancel->click(); });
  EXPECT_EQ(d.ShowModal(), TfrmLogin::mrCancel);
  QTimer::singleShot(0, &d, [&] { d.close(); });
  EXPECT_EQ(d.ShowModal(), TfrmLogin::mrCancel);
  EXPECT_TRUE(desk_.Boxes.empty());
}
