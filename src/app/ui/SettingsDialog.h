// The settings dialog of the menu: the default output folder, the proxy
// (the forms clipharbor-cli --proxy takes) with its no-proxy list, the
// speed limit, connections per download, retries and time-outs, the
// clipboard watch and whether a converted download is kept. A proxy
// password typed here is handed back for the life of the process only.
#pragma once

#include <QDialog>

#include <string>

#include "app/core/JobSettings.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TfrmSettings : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmSettings(QWidget* owner);

  void SetValues(const TJobSettings& settings, const std::string& outputFolder, const std::string& proxyPassword);
  // What the controls hold (the proxy without its password).
  TJobSettings Settings() const;
  std::string OutputFolder() const;
  std::string ProxyPassword() const;

  // Accepted (1) or Rejected (0).
  int ShowModal();
  // Checks the proxy; a bad one is reported and the dialog stays.
  void bOKClick();
  void bBrowseClick();

  QGroupBox* gbFiles;
  QLineEdit* eOutputFolder;
  QPushButton* bBrowse;
  QCheckBox* cbKeepDownload;
  QCheckBox* cbWatchClipboard;
  QGroupBox* gbNetwork;
  QLineEdit* eProxy;
  QLineEdit* eProxyPassword;
  QLineEdit* eNoProxy;
  QLabel* lProxyHint;
  QSpinBox* seLimitRate;   // KB per second, 0: no limit
  QSpinBox* seConnections;
  QSpinBox* seRetries;
  QSpinBox* seConnectTimeout;  // seconds, 0: never
  QSpinBox* seTimeout;
  QPushButton* bOK;
  QPushButton* bCancel;
};
