// Where the main window's controls sit: a flow from the banner down, measured
// in the window's own font, inside the design size of 407 by 362 (grown only
// when that font needs more room than the design gives). The banner grows
// with the font too: its titles keep clear of the update link and the menu
// picture.
#include "app/ui/Main.h"

#include "app/ui/ClickLabel.h"
#include "app/ui/JobResults.h"
#include "app/ui/Pictures.h"
#include "app/ui/SUIURLLabel.h"
#include "app/ui/WlmShiftImage.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace {

constexpr int kDesignWidth = 407;
constexpr int kDesignHeight = 362;
constexpr int kBannerHeight = 50;  // at least
constexpr int kTitleX = 56;
constexpr int kMenuPictureHeight = 20;
constexpr int kMargin = 12;
constexpr int kLabelGap = 3;    // caption to its control
constexpr int kGroupGap = 8;    // between groups of controls
constexpr int kBottomMargin = 16;

int HeightOf(const QWidget* w, int least) { return std::max(least, w->sizeHint().height()); }
int WidthOf(const QWidget* w, int least) { return std::max(least, w->sizeHint().width()); }

// A label as large as its text, at (x, y); returns its height.
int Put(QLabel* l, int x, int y) {
  l->adjustSize();
  l->move(x, y);
  return l->height();
}

}  // namespace

void TfrmMain::LayoutControls() {
  // The widest line decides the width: the design width unless the font needs more.
  const int lineHeight = HeightOf(lVideo, 0);
  const int enterWidth = lVideo->fontMetrics().horizontalAdvance(kEnterUrl);
  lUrl->adjustSize();
  lUrlEnd->adjustSize();
  const int addressWidth = lUrl->width() + lUrlEnd->width();
  const int editHeight = HeightOf(eUrl, 22);
  const int browseWidth = std::max(WidthOf(bBrowser, 75), WidthOf(bSelectFile, 75));
  const int browseHeight = HeightOf(bBrowser, 24);
  const int radioHeight = HeightOf(rbDownloadConvert, 20);
  const int buttonHeight = HeightOf(bStart, 30);
  const int startWidth = WidthOf(bStart, 90), showWidth = WidthOf(bShowFiles, 100), exitWidth = WidthOf(bExit, 85);
  const int widest = std::max({addressWidth, WidthOf(rbDownloadConvert, 0), startWidth + showWidth + exitWidth + 20});
  // The banner: the title shares its line with the update link and its icon,
  // the hint below it shares its line with the menu picture.
  lTitle->adjustSize();
  lTitleHint->adjustSize();
  lUpdate->adjustSize();
  const int titleRow = kTitleX + lTitle->width() + kGroupGap + 20 + lUpdate->width() + 10;
  const int hintRow = kTitleX + lTitleHint->width() + kGroupGap + WlmShiftImage1->width() + 10;
  const int titlesHeight = lTitle->height() + 2 + lTitleHint->height();
  const int bannerHeight = std::max({kBannerHeight, titlesHeight + 8, 6 + lUpdate->height() + 4 + kMenuPictureHeight + 4});
  const int width = std::max({kDesignWidth, widest + 2 * kMargin, titleRow, hintRow});
  const int inner = width - 2 * kMargin;

  // The sentence of lVideo, lUrl and lUrlEnd: one line when it fits, else the
  // address on a line of its own. The file caption of mode 2 sits on the line
  // just above its box, so the boxes below never move with the mode.
  int y = bannerHeight + kGroupGap;
  const bool oneLine = enterWidth + addressWidth <= inner;
  const bool addressShown = !lUrl->isHidden();
  const int sentenceLines = oneLine ? 1 : 2;
  const int lastLine = y + (sentenceLines - 1) * (lineHeight + 1);
  Put(lVideo, kMargin, addressShown ? y : lastLine);
  const int addressX = oneLine ? kMargin + enterWidth : kMargin;
  lUrl->move(addressX, lastLine);
  lUrlEnd->move(addressX + lUrl->width(), lastLine);
  y = lastLine + lineHeight + kLabelGap;

  const int editWidth = inner - browseWidth - kGroupGap;
  const int browseX = kMargin + inner - browseWidth;
  eUrl->setGeometry(kMargin, y, inner, editHeight);
  const int urlRow = y;
  y += editHeight + kGroupGap;

  y += Put(lOutputFolder, kMargin, y) + kLabelGap;
  eOutputFolder->setGeometry(kMargin, y, editWidth, editHeight);
  bBrowser->setGeometry(browseX, y + (editHeight - browseHeight) / 2, browseWidth, browseHeight);
  // The file box and its button sit where the address box is.
  eFileName->setGeometry(eUrl->x(), urlRow, eOutputFolder->width(), editHeight);
  bSelectFile->setGeometry(browseX, urlRow + (editHeight - browseHeight) / 2, browseWidth, browseHeight);
  y += editHeight + kGroupGap + 2;

  for (QRadioButton* rb : {rbDownload, rbDownloadConvert, rbConvert}) {
    rb->setGeometry(kMargin, y, inner, radioHeight);
    y += radioHeight + 2;
  }
  y += kGroupGap - 2;

  y += Put(lConvertTo, kMargin, y) + kLabelGap;
  const int comboHeight = HeightOf(cbFormat, 22);
  cbFormat->setGeometry(kMargin, y, inner, comboHeight);
  y += comboHeight + kGroupGap + 2;

  bvSeparator->setGeometry(kMargin, y, inner, 4);
  y += 4 + kGroupGap + 2;

  const int buttonsY = std::max(y, kDesignHeight - kBottomMargin - buttonHeight);
  int x = kMargin + inner;
  for (auto [b, w] : {std::pair{bExit, exitWidth}, std::pair{bShowFiles, showWidth}, std::pair{bStart, startWidth}}) {
    x -= w;
    b->setGeometry(x, buttonsY, w, buttonHeight);
    x -= 10;
  }
  int height = std::max(kDesignHeight, buttonsY + buttonHeight + kBottomMargin);
  // The end of the last job, below the buttons: the window grows for it.
  if (JobResults && !JobResults->isHidden()) {
    const int resultsHeight = JobResults->HeightFor(inner);
    JobResults->setGeometry(kMargin, height - kBottomMargin + kGroupGap, inner, resultsHeight);
    height += kGroupGap + resultsHeight;
  }
  setFixedSize(width, height);

  // The banner across the top, logo and titles centred in its height; the
  // update link 10 pixels from the right edge and its icon 20 pixels left of
  // it, the menu picture in the bottom right corner.
  if (iBanner->size() != QSize(width, bannerHeight)) {
    iBanner->setGeometry(0, 0, width, bannerHeight);
    iBanner->setPixmap(pics::Banner(width, bannerHeight, pics::DisplayRatio()));
  }
  Image1->move(8, (bannerHeight - Image1->height()) / 2);
  const int titleY = (bannerHeight - titlesHeight) / 2;
  lTitle->move(kTitleX, titleY);
  lTitleHint->move(kTitleX, titleY + lTitle->height() + 2);
  lUpdate->move(width - 10 - lUpdate->width(), 6);
  iUpdate->move(lUpdate->x() - 20, 6 + (lUpdate->height() - iUpdate->height()) / 2);
  if (!WlmShiftImage1->Pressed())
    WlmShiftImage1->move(width - 10 - WlmShiftImage1->width(), bannerHeight - kMenuPictureHeight - 4);
}
