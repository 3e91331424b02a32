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
  setFixedSize(kDesignWidth, kDesignHeight);
  move(286, 304);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setTitle(QString());

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

  bOK = new QPushButton("&OK", this);
  bOK->setObjectName("bOK");
  bCancel = new QPushButton("&Cancel", this);
  bCancel->setObjectName("bCancel");
  LayoutControls();

  setTabOrder(eUsername, ePassword);
  setTabOrder(ePassword, bOK);
  setTabOrder(bOK, bCancel);
  eUsername->setFocus();

  connect(bOK, &QPushButton::clicked, this, [this] { bOKClick(); });
  connect(bCancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

// The design's places (a 241 by 150 box) at the desktop font; a larger font
// widens the boxes and moves what lies below them, growing the box.
void TfrmLogin::LayoutControls() {
  // The captions as wide as the wider of them, the boxes take the rest but
  // keep room for sixteen characters.
  const int captionWidth = std::max(lUsername->sizeHint().width(), lPassword->sizeHint().width());
  const int boxX = 14 + captionWidth + 6;
  const int boxHeight = std::max(22, eUsername->sizeHint().height());
  const int boxWidth = eUsername->fontMetrics().averageCharWidth() * 16 + 10;
  const int groupWidth = std::max(kDesignWidth - 16, boxX + boxWidth + 14);
  const int firstRow = 19, secondRow = firstRow + boxHeight + 16;
  const int groupHeight = std::max(100, secondRow + boxHeight + 21);
  GroupBox1->setGeometry(8, 6, groupWidth, groupHeight);
  for (auto [label, box, y] : {std::tuple{lUsername, eUsername, firstRow}, std::tuple{lPassword, ePassword, secondRow}}) {
    box->setGeometry(boxX, y, groupWidth - 14 - boxX, boxHeight);
    label->setGeometry(14, y, captionWidth, boxHeight);
  }

  // OK and Cancel side by side about the middle.
  const int width = groupWidth + 16;
  const int buttonWidth = std::max({75, bOK->sizeHint().width(), bCancel->sizeHint().width()});
  const int buttonHeight = std::max(25, bOK->sizeHint().height());
  const int buttonsY = 6 + groupHeight + 10;
  bOK->setGeometry(width / 2 - 4 - buttonWidth, buttonsY, buttonWidth, buttonHeight);
  bCancel->setGeometry(width / 2 + 5, buttonsY, buttonWidth, buttonHeight);
  setFixedSize(width, std::max(kDesignHeight, buttonsY + buttonHeight + 9));
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
