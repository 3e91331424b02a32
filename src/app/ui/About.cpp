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

TfrmAbout::TfrmAbout(QWidget* owner) : QDialog(owner) {
  setObjectName("frmAbout");
  setWindowTitle("About Clipharbor");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(360, 249);
  const qreal dpr = pics::DisplayRatio();

  Image2 = new QLabel(this);
  Image2->setObjectName("Image2");
  Image2->setGeometry(0, 0, 360, 50);
  Image2->setPixmap(pics::Banner(360, 50, dpr));

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(20, 64, 40, 40);
  Image1->setPixmap(pics::Logo(40, dpr));

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
  // The texts one under the other beside the logo, each line as high as the font needs.
  int y = 60;
  for (QLabel* l : {Label1, Label2, lPoweredBy, lCopywrite, Label3}) {
    l->setGeometry(76, y, width() - 76 - 12, l->sizeHint().height());
    y += l->height() + 4;
  }

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName("bvSeparator");
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(12, 170, 336, 4);

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
  lbEAddress->move(20, 188);
  lbEAddress->adjustSize();

  bOK = new QPushButton("&OK", this);
  bOK->setObjectName("bOK");
  bOK->setGeometry(273, 212, 75, std::max(25, bOK->sizeHint().height()));
  bOK->setDefault(true);

  connect(bOK, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
  connect(lbEAddress, &TClickLabel::clicked, this, [this] { lbEAddressClick(); });
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
