#include "app/ui/JobResults.h"

#include "platform/Desktop.h"
#include "platform/QtText.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

using plat::ToQ;

namespace {

// Rows beyond about this height scroll.
constexpr int kMaxRowsHeight = 180;

QPushButton* RowButton(QWidget* row, const char* name, const QString& text, const QString& accessible) {
  auto* b = new QPushButton(text, row);
  b->setObjectName(name);
  b->setAutoDefault(false);
  b->setAccessibleName(accessible);
  return b;
}

QLabel* Icon(QWidget* row, QStyle::StandardPixmap which) {
  auto* l = new QLabel(row);
  const int size = row->style()->pixelMetric(QStyle::PM_SmallIconSize);
  l->setPixmap(row->style()->standardIcon(which).pixmap(size, size));
  l->setAlignment(Qt::AlignTop);
  return l;
}

std::string NameOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

QString BreakablePath(const std::string& path) {
  QString text = ToQ(path);
  text.replace('/', QString("/") + QChar(0x200B));
  return text;
}

TJobResults::TJobResults(QWidget* parent) : QFrame(parent) {
  setObjectName("JobResults");
  setFrameShape(QFrame::StyledPanel);
  setAccessibleName("Results of the last job");

  lSummary = new QLabel(this);
  lSummary->setObjectName("lSummary");
  QFont bold = lSummary->font();
  bold.setBold(true);
  lSummary->setFont(bold);
  bCloseResults = new QPushButton("C&lear", this);
  bCloseResults->setObjectName("bCloseResults");
  bCloseResults->setAutoDefault(false);
  bCloseResults->setAccessibleName("Clear the results");
  connect(bCloseResults, &QPushButton::clicked, this, [this] {
    if (OnClose) OnClose();
  });

  FRows = new QWidget;
  FRows->setObjectName("JobResultRows");
  FRowLayout = new QVBoxLayout(FRows);
  FRowLayout->setContentsMargins(0, 0, 0, 0);
  FRowLayout->setSpacing(6);
  FScroll = new QScrollArea(this);
  FScroll->setObjectName("JobResultScroll");
  FScroll->setWidget(FRows);
  FScroll->setWidgetResizable(true);
  FScroll->setFrameShape(QFrame::NoFrame);
  FScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The rows lie on the window's own surface, which the look paints, not on
  // the palette's (a dark desktop's would put the look's dark text on dark).
  FScroll->viewport()->setAutoFillBackground(false);
  FRows->setAutoFillBackground(false);

  auto* header = new QHBoxLayout;
  header->addWidget(lSummary, 1);
  header->addWidget(bCloseResults);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 6, 8, 8);
  layout->addLayout(header);
  layout->addWidget(FScroll);
}

void TJobResults::SetOutcomes(const std::vector<TJobOutcome>& outcomes) {
  FOutcomes = outcomes;
  // A row may be the sender of the click that led here: it goes once the
  // click has returned.
  while (QLayoutItem* item = FRowLayout->takeAt(0)) {
    if (QWidget* w = item->widget()) {
      w->hide();
      w->deleteLater();
    }
    delete item;
  }
  lSummary->setText(ToQ(OutcomeSummary(outcomes)));
  for (const TJobOutcome& o : outcomes) {
    for (const std::string& path : o.Saved) AddSaved(path);
    if (!o.Succeeded()) AddFailure(o);
  }
  FRowLayout->addStretch(1);
}

void TJobResults::AddSaved(const std::string& path) {
  auto* row = new QWidget(FRows);
  row->setObjectName("SavedRow");
  row->setProperty("path", ToQ(path));
  auto* grid = new QGridLayout(row);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(Icon(row, QStyle::SP_DialogApplyButton), 0, 0);
  auto* label = new QLabel(BreakablePath(path), row);
  label->setObjectName("lSavedPath");
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setAccessibleName(ToQ("Saved " + path));
  label->setToolTip(ToQ(path));
  grid->addWidget(label, 0, 1, 1, 3);
  QPushButton* open = RowButton(row, "bOpen", "Open", ToQ("Open " + NameOf(path)));
  QPushButton* folder = RowButton(row, "bShowInFolder", "Show in folder", ToQ("Show " + NameOf(path) + " in its folder"));
  grid->addWidget(open, 1, 2);
  grid->addWidget(folder, 1, 3);
  grid->setColumnStretch(1, 1);
  connect(open, &QPushButton::clicked, this, [path] { plat::Desktop().ShellOpen(path); });
  connect(folder, &QPushButton::clicked, this, [path] { plat::Desktop().ShowInFolder(path); });
  FRowLayout->addWidget(row);
  row->show();  // at once: the panel's height is measured with it
}

void TJobResults::AddFailure(const TJobOutcome& outcome) {
  auto* row = new QWidget(FRows);
  row->setObjectName("FailureRow");
  row->setProperty("input", ToQ(outcome.Input));
  auto* grid = new QGridLayout(row);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(Icon(row, QStyle::SP_MessageBoxCritical), 0, 0, 2, 1);
  auto* input = new QLabel(BreakablePath(outcome.Input), row);
  input->setObjectName("lFailedInput");
  input->setWordWrap(true);
  input->setTextInteractionFlags(Qt::TextSelectableByMouse);
  input->setToolTip(ToQ(outcome.Input));
  auto* reason = new QLabel(ToQ(outcome.Failure), row);
  reason->setObjectName("lFailure");
  reason->setWordWrap(true);
  reason->setTextInteractionFlags(Qt::TextSelectableByMouse);
  reason->setAccessibleName(ToQ("Failed: " + outcome.Failure));
  QPushButton* retry = RowButton(row, "bRetry", "Retry", ToQ("Retry " + outcome.Input));
  grid->addWidget(input, 0, 1, 1, 2);
  grid->addWidget(reason, 1, 1, 1, 2);
  grid->addWidget(retry, 2, 2);
  grid->setColumnStretch(1, 1);
  const TJobOutcome copy = outcome;
  // The retry runs a job and replaces these rows: after the click.
  connect(
      retry, &QPushButton::clicked, this,
      [this, copy] {
        if (OnRetry) OnRetry(copy);
      },
      Qt::QueuedConnection);
  FRowLayout->addWidget(row);
  row->show();  // at once: the panel's height is measured with it
}

int TJobResults::HeightFor(int width) {
  const QMargins m = layout()->contentsMargins();
  const int inner = width - m.left() - m.right();
  const int header = std::max(lSummary->sizeHint().height(), bCloseResults->sizeHint().height());
  int rows = FRowLayout->totalHeightForWidth(inner);
  if (rows < 0) rows = FRows->sizeHint().height();
  const int visible = std::min(rows, std::max(kMaxRowsHeight, fontMetrics().height() * 9));
  FScroll->setFixedHeight(visible);
  return m.top() + header + layout()->spacing() + visible + m.bottom();
}
