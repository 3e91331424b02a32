// The download window: the modal window of one job, with its retrieval,
// transfer and conversion panels. The job itself (TDownloadJob) runs the
// stages on the window's own message window; this class binds it to the
// widgets and to the main window. Several inputs run one after another in
// the one window, a new job for each (DownloadQueue.cpp).
#pragma once

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

#include "app/core/DownloadJob.h"
#include "app/core/RedrawPacer.h"
#include "app/ui/DownloadHandOver.h"
#include "app/ui/ElidedLabel.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class TfrmDownload : public QDialog, public TDownloadWindowIntf, private IDownloadHost {
  Q_OBJECT
 public:
  TfrmDownload(QWidget* owner, const TStringList& inputList);
  ~TfrmDownload() override;

  int ShowModal() override;
  void bStopClick();
  // Shows a state of the job: the job calls it after every change.
  void DisplayChanged(const TDownloadDisplay& d) override;

  TDownloadJob& Job() { return *FJob; }
  plat::HWND Handle() const { return FJob->Handle(); }

  // Controls.
  QLineEdit* eFileName;     // hidden
  QLineEdit* eDownloadUrl;  // hidden
  QFrame* Panel1;
  QLabel* Label1;
  TElidedLabel* lUrl;
  QPushButton* bStop1;
  QFrame* Panel2;
  TElidedLabel* lFileName;
  QProgressBar* suiProgressBar1;
  QGroupBox* gbDetails;
  QLabel* lReceiveDataCaption;
  QLabel* lReceiveData;
  QLabel* lEstimateTimeCaption;
  QLabel* lEstimateTime;
  QLabel* lReceiveSpeedCaption;
  QLabel* lReceiveSpeed;
  QPushButton* bStop2;
  QFrame* Panel3;
  QGroupBox* gbConverting;
  TElidedLabel* lConvertName;
  QProgressBar* suiProgressBar2;
  QLabel* lTimeElapsedCaption;
  QLabel* lTimeElapsed;
  QLabel* lTimeEstimatedCaption;
  QLabel* lTimeEstimated;
  QPushButton* bStop3;

 protected:
  // The close box (and Alt+F4) stops the job in every stage.
  void closeEvent(QCloseEvent* e) override;
  // Escape does nothing: only Stop and the close box end a job.
  void keyPressEvent(QKeyEvent* e) override;

 public slots:
  void reject() override;  // as the close box

 private:
  // IDownloadHost
  void StageStalled(const std::string& why) override;
  void CenterOnOwner() override;
  std::string OutputFolder() override;
  std::string AccountUser() override;
  std::string AccountPassword() override;
  void SetAccount(const std::string& user, const std::string& password) override;
  bool AskLogin(std::string& user, std::string& password) override;
  void ShowError(const std::string& text) override;

  // One input of the list: made, shown, waited for and judged (DownloadQueue.cpp).
  void RunJob(std::size_t index);
  TJobOutcome OutcomeOf(std::size_t index, TJobMode mode) const;
  bool RunsQueue() const { return FInputs.size() > 1; }
  void ShowPanel(TDownloadPanel panel);
  void Draw(const TDownloadDisplay& d);
  void CenterOn(const QWidget* other);
  // Sizes the panels and places their controls for the window's font (DownloadLayout.cpp).
  void LayoutPanels();

  QWidget* FOwner;
  TStringList FInputs;
  std::unique_ptr<TDownloadJob> FJob;
  std::string FPlace;         // "2 of 5" in a queue, else ""
  std::string FStalledWhy;    // the running job's stage ended without moving on
  bool FStalled = false;
  bool FUserStopped = false;  // Stop or the close box: the queue ends
  TDownloadPanel FShownPanel = dpNone;
  // The labels follow the data events at most ten times a second.
  TRedrawPacer FPacer;
  QTimer* FRedrawTimer;
  TDownloadDisplay FLatest;           // the newest display, drawn or held
  std::optional<TDownloadDisplay> FDrawn;
  bool FInModal = false;
  // Credentials when there is no main window (kept for the job's life).
  std::string FUser, FPassword;
};

// Makes TfrmDownload the download window of the main window's Start.
void RegisterTfrmDownload();
