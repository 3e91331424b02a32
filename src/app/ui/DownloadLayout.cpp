// Where the download window's controls sit: each panel at its design size,
// grown only when the window's font needs more room, the value labels as wide
// as the longest text they can hold, a value under its caption when the two
// do not fit one line.
#include "app/ui/Download.h"

#include "app/ui/ElidedLabel.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace {

// The longest value each label can hold. Sizes: a 10 GB total; speed: all of
// it within one two-second sample; time remaining: the hours the display
// clamps to; conversion times: minutes of five digits.
const char* const kLongestReceiveData = "10485760 KB of 10485760 KB received";
const char* const kLongestEstimate = "2147483647:59:59";
const char* const kLongestSpeed = "5242880.0 KB/S";
const char* const kLongestMinutes = "99999:59";

constexpr int kBarHeight = 20;
constexpr int kGroupPadding = 10;  // inside a group box, left and right
constexpr int kRowGap = 2;

int TextWidth(const QWidget* w, const QString& text) { return w->fontMetrics().horizontalAdvance(text); }
int LineHeight(const QWidget* w) { return w->fontMetrics().height(); }

// A caption followed by its value on one row at (x, y), or the value on the
// next row when the two do not fit `width`. Returns the y below them.
int PutPair(QLabel* caption, QLabel* value, const QString& longest, int x, int y, int width) {
  const int line = LineHeight(caption);
  const int captionWidth = TextWidth(caption, caption->text());
  const int valueWidth = TextWidth(value, longest);
  caption->setGeometry(x, y, captionWidth, line);
  if (captionWidth + valueWidth <= width) {
    value->setGeometry(x + captionWidth, y, width - captionWidth, line);
    return y + line + kRowGap;
  }
  const int indent = std::min(16, std::max(0, width - valueWidth));
  y += line + kRowGap;
  value->setGeometry(x + indent, y, width - indent, line);
  return y + line + kRowGap;
}

// The Stop button centred across the panel at `y`; returns the panel height
// it needs with `bottom` below it.
int PutStop(QPushButton* stop, int panelWidth, int y, int bottom) {
  const int w = std::max(75, stop->sizeHint().width());
  const int h = std::max(25, stop->sizeHint().height());
  stop->setGeometry((panelWidth - w) / 2, y, w, h);
  return y + h + bottom;
}

}  // namespace

void TfrmDownload::LayoutPanels() {
  const int line = LineHeight(this);

  // Retrieval: the message (two lines, for a failure that says more), the
  // address being read, Stop.
  {
    const int width = 268;
    Label1->setGeometry(16, 16, width - 32, 2 * line);
    lUrl->setGeometry(16, Label1->geometry().bottom() + 5, width - 32, line);
    const int height = PutStop(bStop1, width, std::max(88, lUrl->geometry().bottom() + 10), 16);
    Panel1->setGeometry(0, 0, width, std::max(129, height));
  }

  // Transfer: the file, the bar, the details, Stop.
  {
    const QString speedLongest(kLongestSpeed), estimateLongest(kLongestEstimate);
    const int pairsWidth =
        std::max({TextWidth(lReceiveDataCaption, lReceiveDataCaption->text()),
                  TextWidth(lReceiveData, kLongestReceiveData),
                  TextWidth(lEstimateTimeCaption, lEstimateTimeCaption->text() + estimateLongest),
                  TextWidth(lReceiveSpeedCaption, lReceiveSpeedCaption->text() + speedLongest)});
    const int width = std::max(353, pairsWidth + 2 * kGroupPadding + 24);
    const int inner = width - 24;
    int y = 10;
    lFileName->setGeometry(12, y, inner, line);
    y += line + 6;
    suiProgressBar1->setGeometry(12, y, inner, kBarHeight);
    y += kBarHeight + 8;
    int row = line + 4;
    row = PutPair(lReceiveDataCaption, lReceiveData, kLongestReceiveData, kGroupPadding, row, inner - 2 * kGroupPadding);
    row = PutPair(lEstimateTimeCaption, lEstimateTime, estimateLongest, kGroupPadding, row, inner - 2 * kGroupPadding);
    row = PutPair(lReceiveSpeedCaption, lReceiveSpeed, speedLongest, kGroupPadding, row, inner - 2 * kGroupPadding);
    gbDetails->setGeometry(12, y, inner, row + 4);
    y += gbDetails->height() + 8;
    const int height = PutStop(bStop2, width, std::max(166, y), 11);
    Panel2->setGeometry(0, 0, width, std::max(202, height));
  }

  // Conversion: the group with the file, the bar and both times; Stop.
  {
    const QString minutes(kLongestMinutes);
    const int elapsedWidth = TextWidth(lTimeElapsedCaption, lTimeElapsedCaption->text() + minutes);
    const int estimatedWidth = TextWidth(lTimeEstimatedCaption, lTimeEstimatedCaption->text() + minutes);
    const int width = std::max(348, std::max(elapsedWidth, estimatedWidth) + 2 * kGroupPadding + 24);
    const int inner = width - 24;
    const int groupInner = inner - 2 * kGroupPadding;
    int y = line + 4;
    lConvertName->setGeometry(kGroupPadding, y, groupInner, line);
    y += line + 4;
    suiProgressBar2->setGeometry(kGroupPadding, y, groupInner, kBarHeight);
    y += kBarHeight + 6;
    // Both times on one row when they fit, the estimate under the elapsed time otherwise.
    if (elapsedWidth + 16 + estimatedWidth <= groupInner) {
      PutPair(lTimeElapsedCaption, lTimeElapsed, minutes, kGroupPadding, y, elapsedWidth);
      const int second = groupInner - estimatedWidth;
      y = PutPair(lTimeEstimatedCaption, lTimeEstimated, minutes, kGroupPadding + second, y, estimatedWidth);
    } else {
      y = PutPair(lTimeElapsedCaption, lTimeElapsed, minutes, kGroupPadding, y, groupInner);
      y = PutPair(lTimeEstimatedCaption, lTimeEstimated, minutes, kGroupPadding, y, groupInner);
    }
    gbConverting->setGeometry(12, 8, inner, y + 2);
    const int height = PutStop(bStop3, width, std::max(112, gbConverting->geometry().bottom() + 6), 8);
    Panel3->setGeometry(0, 0, width, std::max(145, height));
  }
}
