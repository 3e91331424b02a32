#include "app/ui/About.h"

#include "app/ui/ClickLabel.h"
#include "app/ui/Links.h"
#include "app/ui/Pictures.h"
#include "platform/Desktop.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>
#include <initializer_list>

TfrmAbout::TfrmAbout(QWidget* owner) : QDialog(owner) {
  setObjectName("frmAbout");
  setWindowTitle("About Clipharbor");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kDesignWidth, kDesignHeight);

  Image2 = new QLabel(this);
  Image2->setObjectName("Image2");

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(20, 64, 40, 40);
  Image1->setPixmap(pics::Logo(40, pics::DisplayRatio()));

  Label1 = new QLabel(kProductName, this);
  Label1->setObjectName("Label1");
  QFont bold = font();
  bold.setBold(true);
  Label1->setFont(bold);
  Label2 = new QLabel("Version: 1.0   Build 20080723", this);
  Label2->setObjectName("Label2");
  lPoweredBy = new QLabel("Powered by:", this);
  lPoweredBy->setObjectName("lPoweredBy");
  lCopywrite = new QLabel(kCopyright, this);
  lCopywrite->setObjectName("lCopywrite");
  Label3 = new QLabel(QString("Email: ") + kMakerEmail, this);
  Label3->setObjectName("Label3");

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName("bvSeparator");
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);

  lbEAddress = new TClickLabel(this);
  lbEAddress->setObjectName("lbEAddress");
  lbEAddress->setText(kMakerAddress);
  QFont link = font();
  link.setUnderline(true);
  lbEAddress->setFont(link);
  QPalette pal = lbEAddress->palette();
  pal.setColor(QPalette::WindowText, Qt::blue);
  lbEAddress->setPalette(pal);
  lbEAddress->setCursor(Qt::PointingHandCursor);

  bOK = new QPushButton("&OK", this);
  bOK->setObjectName("bOK");
  bOK->setDefault(true);
  LayoutControls();

  connect(bOK, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
  connect(lbEAddress, &TClickLabel::clicked, this, [this] { lbEAddressClick(); });
}

// The design's places (a 360 by 249 box) at the desktop font; a larger font
// moves each line below the one above it and widens the box for the
// widest text.
void TfrmAbout::LayoutControls() {
  const std::initializer_list<QLabel*> lines{Label1, Label2, lPoweredBy, lCopywrite, Label3};
  int widest = 0;
  for (QLabel* l : lines) widest = std::max(widest, l->sizeHint().width());
  lbEAddress->adjustSize();
  const int buttonWidth = std::max(75, bOK->sizeHint().width());
  const int width = std::max({kDesignWidth, 76 + widest + 12, 20 + lbEAddress->width() + 12});

  Image2->setGeometry(0, 0, width, 50);
  Image2->setPixmap(pics::Banner(width, 50, pics::DisplayRatio()));
  // The texts one under the other beside the logo, each line as high as the font needs.
  int y = 60;
  for (QLabel* l : lines) {
    l->setGeometry(76, y, width - 76 - 12, l->sizeHint().height());
    y += l->height() + 4;
  }
  const int bevelY = std::max(170, y + 6);
  Bevel1->setGeometry(12, bevelY, width - 24, 4);
  lbEAddress->move(20, bevelY + 18);
  const int buttonHeight = std::max(25, bOK->sizeHint().height());
  const int buttonY = std::max(212, lbEAddress->geometry().bottom() + 9);
  bOK->setGeometry(width - 12 - buttonWidth, buttonY, buttonWidth, buttonHeight);
  setFixedSize(width, std::max(kDesignHeight, buttonY + buttonHeight + 12));
}

int TfrmAbout::ShowModal() { return exec(); }

void TfrmAbout::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (e->spontaneous()) return;
  // Centred on the main window.
  if (QWidget* owner = parentWidget()) {
    QRect o = owner->frameGeometry();
    move(o.x() + (o.width() - frameGeometry().width()) / 2, o.y() + (o.height() - frameGeometry().height()) / 2);
  }
  FormShow();
}

void TfrmAbout::FormShow() { Label1->setText(kProductName); }

void TfrmAbout::lbEAddressClick() { plat::Desktop().ShellOpen(kHomePage); }
