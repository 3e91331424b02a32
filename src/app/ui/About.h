// The About box.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class TClickLabel;

class TfrmAbout : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kDesignWidth = 360;
  static constexpr int kDesignHeight = 249;

  explicit TfrmAbout(QWidget* owner);
  int ShowModal();

  QLabel* Image2;
  QLabel* Image1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* lPoweredBy;
  QLabel* lCopywrite;
  QLabel* Label3;
  QFrame* Bevel1;
  TClickLabel* lbEAddress;
  QPushButton* bOK;

  void FormShow();
  void lbEAddressClick();

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void LayoutControls();
};
