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

TfrmAbout::TfrmAbout(QWidget* owner) : QDialog(owner) {
  setObjectName("frmAbout");
  setWindowTitle("About Clipharbor");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(360, 249);
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);

  Image2 = new QLabel(this);
  Image2->setObjectName("Image2");
  Image2->setGeometry(0, 0, 360, 50);
  Image2->setPixmap(pics::Banner(360, 50));

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(20, 64, 40, 40);
  Image1->setPixmap(pics::Logo(40));

  Label1 = new QLabel(kProductName, this);
  Label1->setObjectName("Label1");
  Label1->setGeometry(76, 62, 260, 18);
  QFont bold = small;
  bold.setBold(true);
  Label1->setFont(bold);

  Label2 = new QLabel("Version: 1.0   Build 20080723", this);
  Label2->setObjectName("Label2");
  Label2->setGeometry(76, 84, 260, 16);

  lPoweredBy = new QLabel("Powered by:", this);
  lPoweredBy->setObjectName("lPoweredBy");
  lPoweredBy->setGeometry(76, 104, 260, 16);

  lCopywrite = new QLabel(kCopyright, this);
  lCopywrite->setObjectName("lCopywrite");
  lCopywrite->setGeometry(76, 124, 280, 16);

  Label3 = new QLabel(QString("Email: ") + kMakerEmail, this);
  Label3->setObjectName("Label3");
  Label3->setGeometry(76, 144, 260, 16);

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName("bvSeparator");
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(12, 170, 336, 4);

  lbEAddress = new TClickLabel(this);
  lbEAddress->setObjectName("lbEAddress");
  lbEAddress->setText(kMakerAddress);
  QFont link = small;
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
  bOK->setGeometry(273, 212, 75, 25);
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
