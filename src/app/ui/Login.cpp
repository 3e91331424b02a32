#include "app/ui/Login.h"

#include "platform/Desktop.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <tuple>

TfrmLogin::TfrmLogin(QWidget* owner) : QDialog(owner) {
  setObjectName("frmLogin");
  setWindowTitle("Member Login");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(241, 150);
  move(286, 304);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setTitle(QString());
  GroupBox1->setGeometry(8, 6, 225, 100);

  lUsername = new QLabel("Username:", GroupBox1);
  eUsername = new QLineEdit(GroupBox1);
  eUsername->setObjectName("eUsername");
  lPassword = new QLabel("Password:", GroupBox1);
  ePassword = new QLineEdit(GroupBox1);
  ePassword->setObjectName("ePassword");
  // '*' also where the program's style sheet is not installed (which sets it for every box).
  ePassword->setStyleSheet("lineedit-password-character: 42;");
  ePassword->setEchoMode(QLineEdit::Password);
  // Screen readers name each box by its caption.
  lUsername->setBuddy(eUsername);
  lPassword->setBuddy(ePassword);

  // The captions as wide as the wider of them, the boxes take the rest.
  const int captionWidth = std::max(lUsername->sizeHint().width(), lPassword->sizeHint().width());
  const int boxX = 14 + captionWidth + 6;
  const int boxHeight = std::max(22, eUsername->sizeHint().height());
  for (auto [label, box, y] : {std::tuple{lUsername, eUsername, 19}, std::tuple{lPassword, ePassword, 57}}) {
    box->setGeometry(boxX, y, GroupBox1->width() - 14 - boxX, boxHeight);
    label->setGeometry(14, y, captionWidth, boxHeight);
  }

  bOK = new QPushButton("&OK", this);
  bOK->setObjectName("bOK");
  bCancel = new QPushButton("&Cancel", this);
  bCancel->setObjectName("bCancel");
  const int buttonWidth = std::max({75, bOK->sizeHint().width(), bCancel->sizeHint().width()});
  const int buttonHeight = std::max(25, bOK->sizeHint().height());
  bOK->setGeometry(120 - 4 - buttonWidth, 116, buttonWidth, buttonHeight);
  bCancel->setGeometry(125, 116, buttonWidth, buttonHeight);

  setTabOrder(eUsername, ePassword);
  setTabOrder(ePassword, bOK);
  setTabOrder(bOK, bCancel);
  eUsername->setFocus();

  connect(bOK, &QPushButton::clicked, this, [this] { bOKClick(); });
  connect(bCancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

int TfrmLogin::ShowModal() { return exec(); }

void TfrmLogin::bOKClick() {
  if (eUsername->text().isEmpty()) {
    plat::Desktop().MessageBox("Please enter Username.", "Clipharbor", plat::MB_ICONINFORMATION | plat::MB_OK);
    return;
  }
  if (ePassword->text().isEmpty()) {
    plat::Desktop().MessageBox("Please enter Password.", "Clipharbor", plat::MB_ICONINFORMATION | plat::MB_OK);
    return;
  }
  done(mrOk);
}

void TfrmLogin::reject() { done(mrCancel); }
