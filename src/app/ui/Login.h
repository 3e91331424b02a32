// The account login dialog: asks for the YouTube user name and password.
// Modal result 1 (OK) when both were given, 2 on Cancel or the close box.
#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrmLogin : public QDialog {
  Q_OBJECT
 public:
  static constexpr int mrOk = 1;
  static constexpr int mrCancel = 2;
  static constexpr int kDesignWidth = 241;
  static constexpr int kDesignHeight = 150;

  explicit TfrmLogin(QWidget* owner);
  // Runs the dialog modally; returns its modal result.
  int ShowModal();

  QGroupBox* GroupBox1;
  QLabel* lUsername;
  QLineEdit* eUsername;
  QLabel* lPassword;
  QLineEdit* ePassword;
  QPushButton* bOK;
  QPushButton* bCancel;

  void bOKClick();

 public slots:
  void reject() override;  // Cancel, Escape and the close box: result 2

 private:
  void LayoutControls();
};
