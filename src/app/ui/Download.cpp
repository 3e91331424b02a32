#include "app/ui/Download.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <climits>

#include "app/ui/ElidedLabel.h"
#include "app/ui/Login.h"
#include "app/ui/Main.h"
#include "platform/Desktop.h"
#include "platform/QtText.h"

using plat::FromQ;
using plat::ToQ;

namespace {

template <class Label = QLabel>
Label* MakeLabel(QWidget* parent, const char* name, const QString& text = QString()) {
  auto* l = new Label(parent);
  l->setText(text);
  l->setObjectName(name);
  return l;
}

QPushButton* MakeStop(QWidget* parent, const char* name) {
  auto* b = new QPushButton("Stop", parent);
  b->setObjectName(name);
  return b;
}

QProgressBar* MakeBar(QWidget* parent, const char* name) {
  auto* p = new QProgressBar(parent);
  p->setObjectName(name);
  p->setRange(0, 100);
  p->setValue(0);
  p->setTextVisible(true);  // the percentage as caption
  return p;
}

// QProgressBar counts in int; a byte range beyond that is scaled down.
void SetBar(QProgressBar* bar, std::int64_t max, std::int64_t pos) {
  if (max < 0) max = 0;
  if (pos > max) pos = max;  // the bar stops at its end
  if (pos < 0) pos = 0;
  std::int64_t div = 1;
  while (max / div > INT_MAX) div *= 2;
  bar->setRange(0, static_cast<int>(max / div));
  bar->setValue(static_cast<int>(pos / div));
}

void SetWithHint(QLabel* label, const std::string& text) {
  label->setText(ToQ(text));
  label->setToolTip(ToQ(text));
}

}  // namespace

TfrmDownload::TfrmDownload(QWidget* owner, const TStringList& inputList)
    : QDialog(owner), FOwner(owner), FInputs(inputList), FRedrawTimer(new QTimer(this)) {
  setObjectName("frmDownload");
  FRedrawTimer->setSingleShot(true);
  connect(FRedrawTimer, &QTimer::timeout, this, [this] {
    if (!FPacer.Pending()) return;
    FPacer.Drawn();
    Draw(FLatest);
  });
  setWindowTitle("Download");
  // Dialog border with a close box only.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);

  eFileName = new QLineEdit("get_video", this);
  eFileName->setObjectName("eFileName");
  eFileName->hide();
  eDownloadUrl = new QLineEdit(this);
  eDownloadUrl->setObjectName("eDownloadUrl");
  eDownloadUrl->hide();

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Label1 = MakeLabel(Panel1, "Label1", "Get html from the URL, please wait...");
  Label1->setWordWrap(true);  // a failure may say more than one line holds
  lUrl = MakeLabel<TElidedLabel>(Panel1, "lUrl");
  bStop1 = MakeStop(Panel1, "bStop1");

  Panel2 = new QFrame(this);
  Panel2->setObjectName("Panel2");
  lFileName = MakeLabel<TElidedLabel>(Panel2, "lFileName");
  suiProgressBar1 = MakeBar(Panel2, "suiProgressBar1");
  gbDetails = new QGroupBox("Details", Panel2);
  gbDetails->setObjectName("gbDetails");
  lReceiveDataCaption = MakeLabel(gbDetails, "lReceiveDataCaption", "Download Size: ");
  lReceiveData = MakeLabel(gbDetails, "lReceiveData");
  lEstimateTimeCaption = MakeLabel(gbDetails, "lEstimateTimeCaption", "Estimating time remaining: ");
  lEstimateTime = MakeLabel(gbDetails, "lEstimateTime");
  lReceiveSpeedCaption =
      MakeLabel(gbDetails, "lReceiveSpeedCaption", QString::fromUtf8("Download Speed\xEF\xBC\x9A"));
  lReceiveSpeed = MakeLabel(gbDetails, "lReceiveSpeed");
  bStop2 = MakeStop(Panel2, "bStop2");

  Panel3 = new QFrame(this);
  Panel3->setObjectName("Panel3");
  gbConverting = new QGroupBox("Converting", Panel3);
  gbConverting->setObjectName("gbConverting");
  lConvertName = MakeLabel<TElidedLabel>(gbConverting, "lConvertName");
  suiProgressBar2 = MakeBar(gbConverting, "suiProgressBar2");
  lTimeElapsedCaption = MakeLabel(gbConverting, "lTimeElapsedCaption", "Time elapsed: ");
  lTimeElapsed = MakeLabel(gbConverting, "lTimeElapsed", "00:00");
  lTimeEstimatedCaption = MakeLabel(gbConverting, "lTimeEstimatedCaption", "Time estimated: ");
  lTimeEstimated = MakeLabel(gbConverting, "lTimeEstimated", "00:00");
  bStop3 = MakeStop(Panel3, "bStop3");
  LayoutPanels();

  for (QPushButton* b : {bStop1, bStop2, bStop3})
    connect(b, &QPushButton::clicked, this, [this] { bStopClick(); });

  // A queue gives each job its own line; one line is the job's whole list.
  FJob = std::make_unique<TDownloadJob>(static_cast<IDownloadHost&>(*this),
                                        RunsQueue() ? TStringList{inputList.front()} : inputList);
  resize(Panel1->size());
}

TfrmDownload::~TfrmDownload() {
  if (FJob) FJob->FormClose();
  FJob.reset();
}

int TfrmDownload::ShowModal() {
  setWindowModality(Qt::ApplicationModal);
  FInModal = true;
  FOutcomes.clear();
  FUserStopped = false;
  const std::size_t count = std::max<std::size_t>(FInputs.size(), 1);
  for (std::size_t i = 0; i < count; ++i) {
    RunJob(i);
    if (FUserStopped || plat::ApplicationTerminated()) break;
  }
  FInModal = false;
  hide();
  return FJob->ModalResult();
}

void TfrmDownload::bStopClick() {
  FUserStopped = true;
  FJob->bStopClick();
}

void TfrmDownload::closeEvent(QCloseEvent* e) {
  // The close box and Alt+F4 are Stop: the modal run ends once the running
  // stage has seen it.
  e->ignore();
  if (!FInModal || !FJob) return;
  if (RunsQueue()) FUserStopped = true;
  if (FJob->ModalResult() == mrNone) FJob->bStopClick();
}

void TfrmDownload::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) return;
  QDialog::keyPressEvent(e);
}

void TfrmDownload::reject() {
  if (!FInModal || !FJob) return;
  if (RunsQueue()) FUserStopped = true;
  if (FJob->ModalResult() == mrNone) FJob->bStopClick();
}

void TfrmDownload::ShowPanel(TDownloadPanel panel) {
  if (panel == FShownPanel) return;
  FShownPanel = panel;
  QFrame* shown = panel == dpRetrieval ? Panel1 : panel == dpTransfer ? Panel2 : panel == dpConvert ? Panel3 : nullptr;
  for (QFrame* p : {Panel1, Panel2, Panel3}) {
    p->move(0, 0);
    p->setVisible(p == shown);
  }
  // The client area follows the visible panel.
  if (shown) setFixedSize(shown->size());
}

void TfrmDownload::DisplayChanged(const TDownloadDisplay& d) {
  FLatest = d;
  const bool urgent = !FDrawn || !OnlyTransferProgressDiffers(*FDrawn, d) || d.Bar1Pos >= d.Bar1Max;
  if (FPacer.Change(urgent)) {
    Draw(d);
  } else if (!FRedrawTimer->isActive()) {
    FRedrawTimer->start(static_cast<int>(FPacer.DueIn()));
  }
}

void TfrmDownload::Draw(const TDownloadDisplay& d) {
  FRedrawTimer->stop();
  FDrawn = d;
  ShowPanel(d.Panel);
  setWindowTitle(ToQ(FPlace.empty() ? d.Caption : d.Caption + " - " + FPlace));
  Label1->setText(ToQ(d.Label1));
  lUrl->setText(ToQ(d.Url));
  eFileName->setText(ToQ(d.FileName));
  eDownloadUrl->setText(ToQ(d.DownloadUrl));
  // While the transfer waits to retry, the file's line says why and when.
  SetWithHint(lFileName, d.Notice.empty() ? d.FileLabel : d.Notice);
  // Without a length the count has no end to measure against: a busy bar.
  if (d.TotalText.empty() && !d.ReceiveData.empty())
    suiProgressBar1->setRange(0, 0);
  else
    SetBar(suiProgressBar1, d.Bar1Max, d.Bar1Pos);
  lReceiveData->setText(ToQ(d.ReceiveData));
  lEstimateTime->setText(ToQ(d.EstimateTime));
  lReceiveSpeed->setText(ToQ(d.ReceiveSpeed));
  SetWithHint(lConvertName, d.ConvertName);
  SetBar(suiProgressBar2, 100, d.Bar2Pos);
  lTimeElapsed->setText(ToQ(d.TimeElapsed));
  lTimeEstimated->setText(ToQ(d.TimeEstimated));
}

void TfrmDownload::CenterOnOwner() { CenterOn(frmMain ? static_cast<QWidget*>(frmMain) : FOwner); }

void TfrmDownload::CenterOn(const QWidget* other) {
  if (!other) return;
  const QRect o = other->frameGeometry();
  const QRect own = frameGeometry();
  move(o.left() + (o.width() - own.width()) / 2, o.top() + (o.height() - own.height()) / 2);
}

std::string TfrmDownload::OutputFolder() { return frmMain ? frmMain->OutputFolderText() : std::string(); }

std::string TfrmDownload::AccountUser() { return frmMain ? frmMain->FAccountUser : FUser; }

std::string TfrmDownload::AccountPassword() { return frmMain ? frmMain->FAccountPassword : FPassword; }

void TfrmDownload::SetAccount(const std::string& user, const std::string& password) {
  if (frmMain) {
    frmMain->FAccountUser = user;
    frmMain->FAccountPassword = password;
  } else {
    FUser = user;
    FPassword = password;
  }
}

bool TfrmDownload::AskLogin(std::string& user, std::string& password) {
  auto dialog = std::make_unique<TfrmLogin>(this);
  const bool ok = dialog->ShowModal() == TfrmLogin::mrOk;
  if (ok) {
    user = FromQ(dialog->eUsername->text());
    password = FromQ(dialog->ePassword->text());
  }
  return ok;
}

void TfrmDownload::ShowError(const std::string& text) {
  plat::Desktop().MessageBox(text, "Clipharbor", plat::MB_OK | plat::MB_ICONERROR);
}

void RegisterTfrmDownload() {
  SetDownloadWindowFactory(
      [](QWidget* owner, const TStringList& input) -> std::unique_ptr<TDownloadWindowIntf> {
        return std::make_unique<TfrmDownload>(owner, input);
      });
}

namespace {
const bool kRegistered = (RegisterTfrmDownload(), true);
}  // namespace
