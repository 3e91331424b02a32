#include "app/ui/Login.h"

#include "platform/Desktop.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmLogin::TfrmLogin(QWidget* owner) : QDialog(owner) {
  setObjectName("frmLogin");
  setWindowTitle("Member Login");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(241, 150);
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
  move(286, 304);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setTitle(QString());
  GroupBox1->setGeometry(8, 6, 225, 100);

  lUsername = new QLabel("Username:", GroupBox1);
  lUsername->setGeometry(14, 22, 64, 16);
  eUsername = new QLineEdit(GroupBox1);
  eUsername->setObjectName("eUsername");
  eUsername->setGeometry(82, 19, 128, 22);

  lPassword = new QLabel("Password:", GroupBox1);
  lPassword->setGeometry(14, 60, 64, 16);
  ePassword = new QLineEdit(GroupBox1);
  ePassword->setObjectName("ePassword");
  ePassword->setGeometry(82, 57, 128, 22);
  ePassword->setEchoMode(QLineEdit::Password);
  ePassword->setStyleSheet("lineedit-password-character: 42;");  // '*'

  bOK = new QPushButton("&OK", this);
  bOK->setObjectName("bOK");
  bOK->setGeometry(42, 116, 75, 25);
  bCancel = new QPushButton("&Cancel", this);
  bCancel->setObjectName("bCancel");
  bCancel->setGeometry(125, 116, 75, 25);

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
