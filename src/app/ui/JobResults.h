// The end of the last job on the main window: a summary line, each saved
// file by its full path with "Open" and "Show in folder", each failure with
// its reason and "Retry". It stays until the next job or its close button.
#pragma once

#include <QFrame>

#include <functional>
#include <vector>

#include "app/core/JobInputs.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

class TJobResults : public QFrame {
  Q_OBJECT
 public:
  explicit TJobResults(QWidget* parent);

  void SetOutcomes(const std::vector<TJobOutcome>& outcomes);
  const std::vector<TJobOutcome>& Outcomes() const { return FOutcomes; }
  // The height the panel takes at `width`: every row, up to a limit past
  // which its rows scroll.
  int HeightFor(int width);

  std::function<void(const TJobOutcome&)> OnRetry;
  std::function<void()> OnClose;

  QLabel* lSummary;
  QPushButton* bCloseResults;

 private:
  void AddSaved(const std::string& path);
  void AddFailure(const TJobOutcome& outcome);

  std::vector<TJobOutcome> FOutcomes;
  QScrollArea* FScroll;
  QWidget* FRows;
  QVBoxLayout* FRowLayout;
};

// The path with a break allowed after each '/', so that a long one wraps
// instead of widening the panel.
QString BreakablePath(const std::string& path);
