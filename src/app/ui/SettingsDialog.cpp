#include "app/ui/SettingsDialog.h"

#include "app/core/Global.h"
#include "app/core/ProxySettings.h"
#include "platform/Desktop.h"
#include "platform/QtText.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

using plat::FromQ;
using plat::ToQ;

namespace {

QSpinBox* NewSpin(QWidget* parent, const char* name, int low, int high, const QString& suffix,
                  const QString& atZero = QString()) {
  auto* s = new QSpinBox(parent);
  s->setObjectName(name);
  s->setRange(low, high);
  s->setSuffix(suffix);
  if (!atZero.isEmpty()) s->setSpecialValueText(atZero);
  s->setAccelerated(true);
  return s;
}

QLineEdit* NewEdit(QWidget* parent, const char* name) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  return e;
}

// A form row whose caption carries the mnemonic and names the field for
// screen readers.
void AddRow(QFormLayout* form, const QString& caption, QWidget* field) {
  auto* label = new QLabel(caption);
  label->setBuddy(field);
  QString name = caption;
  name.remove('&');
  if (name.endsWith(':')) name.chop(1);
  field->setAccessibleName(name);
  form->addRow(label, field);
}

}  // namespace

TfrmSettings::TfrmSettings(QWidget* owner) : QDialog(owner) {
  setObjectName("frmSettings");
  setWindowTitle("Settings");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);

  gbFiles = new QGroupBox("Files", this);
  gbFiles->setObjectName("gbFiles");
  auto* files = new QFormLayout(gbFiles);
  eOutputFolder = NewEdit(gbFiles, "eOutputFolder");
  bBrowse = new QPushButton("B&rowse...", gbFiles);
  bBrowse->setObjectName("bBrowse");
  bBrowse->setAccessibleName("Choose the default output folder");
  bBrowse->setAutoDefault(false);
  auto* folderRow = new QWidget(gbFiles);
  auto* folderLayout = new QHBoxLayout(folderRow);
  folderLayout->setContentsMargins(0, 0, 0, 0);
  folderLayout->addWidget(eOutputFolder, 1);
  folderLayout->addWidget(bBrowse);
  auto* folderLabel = new QLabel("Default output &folder:");
  folderLabel->setBuddy(eOutputFolder);
  eOutputFolder->setAccessibleName("Default output folder");
  files->addRow(folderLabel, folderRow);
  cbKeepDownload = new QCheckBox("&Keep the downloaded FLV after converting it", gbFiles);
  cbKeepDownload->setObjectName("cbKeepDownload");
  files->addRow(cbKeepDownload);
  cbWatchClipboard = new QCheckBox("&Watch the clipboard for video addresses", gbFiles);
  cbWatchClipboard->setObjectName("cbWatchClipboard");
  files->addRow(cbWatchClipboard);

  gbNetwork = new QGroupBox("Network", this);
  gbNetwork->setObjectName("gbNetwork");
  auto* net = new QFormLayout(gbNetwork);
  eProxy = NewEdit(gbNetwork, "eProxy");
  eProxy->setPlaceholderText("http://user@host:3128, socks5://host:1080");
  AddRow(net, "&Proxy:", eProxy);
  eProxyPassword = NewEdit(gbNetwork, "eProxyPassword");
  eProxyPassword->setEchoMode(QLineEdit::Password);
  AddRow(net, "Proxy pass&word:", eProxyPassword);
  eNoProxy = NewEdit(gbNetwork, "eNoProxy");
  eNoProxy->setPlaceholderText("localhost, .example.org, 10.0.0.0/8");
  AddRow(net, "&No proxy for:", eNoProxy);
  lProxyHint = new QLabel(
      "Empty fields take http_proxy, all_proxy and no_proxy from the environment. The password is kept "
      "until the program ends, never on disk.",
      gbNetwork);
  lProxyHint->setObjectName("lProxyHint");
  lProxyHint->setWordWrap(true);
  net->addRow(lProxyHint);
  seLimitRate = NewSpin(gbNetwork, "seLimitRate", 0, 1 << 20, " KB/s", "No limit");
  AddRow(net, "&Speed limit:", seLimitRate);
  seConnections = NewSpin(gbNetwork, "seConnections", 1, kMaxConnections, QString());
  AddRow(net, "&Connections per download:", seConnections);
  seRetries = NewSpin(gbNetwork, "seRetries", 0, kMaxRetries, QString());
  AddRow(net, "&Retries:", seRetries);
  seConnectTimeout = NewSpin(gbNetwork, "seConnectTimeout", 0, static_cast<int>(kMaxTimeoutS), " s", "Never");
  AddRow(net, "Connect &time-out:", seConnectTimeout);
  seTimeout = NewSpin(gbNetwork, "seTimeout", 0, static_cast<int>(kMaxTimeoutS), " s", "Never");
  AddRow(net, "Recei&ve time-out:", seTimeout);

  // An address with a user and a port, or a folder, readable whole.
  for (QLineEdit* e : {eOutputFolder, eProxy, eNoProxy})
    e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QString(38, 'x')));

  auto* buttons = new QDialogButtonBox(this);
  bOK = buttons->addButton("&OK", QDialogButtonBox::AcceptRole);
  bOK->setObjectName("bOK");
  bOK->setDefault(true);
  bCancel = buttons->addButton("&Cancel", QDialogButtonBox::RejectRole);
  bCancel->setObjectName("bCancel");

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(gbFiles);
  layout->addWidget(gbNetwork);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(bBrowse, &QPushButton::clicked, this, [this] { bBrowseClick(); });
  connect(bOK, &QPushButton::clicked, this, [this] { bOKClick(); });
  connect(bCancel, &QPushButton::clicked, this, [this] { reject(); });
  SetValues(TJobSettings{}, std::string(), std::string());
}

void TfrmSettings::SetValues(const TJobSettings& s, const std::string& outputFolder,
                             const std::string& proxyPassword) {
  eOutputFolder->setText(ToQ(outputFolder));
  cbKeepDownload->setChecked(s.KeepDownload);
  cbWatchClipboard->setChecked(s.WatchClipboard);
  eProxy->setText(ToQ(ProxyWithoutPassword(s.Proxy, nullptr)));
  eProxyPassword->setText(ToQ(proxyPassword));
  eNoProxy->setText(ToQ(s.NoProxy));
  seLimitRate->setValue(s.LimitRate / 1024);
  seConnections->setValue(s.Connections);
  seRetries->setValue(s.Retries);
  seConnectTimeout->setValue(static_cast<int>(s.ConnectTimeoutS));
  seTimeout->setValue(static_cast<int>(s.TimeoutS));
}

TJobSettings TfrmSettings::Settings() const {
  TJobSettings s;
  s.Proxy = ProxyWithoutPassword(FromQ(eProxy->text().trimmed()), nullptr);
  s.NoProxy = FromQ(eNoProxy->text().trimmed());
  s.LimitRate = seLimitRate->value() * 1024;
  s.Connections = seConnections->value();
  s.Retries = seRetries->value();
  s.ConnectTimeoutS = static_cast<std::uint32_t>(seConnectTimeout->value());
  s.TimeoutS = static_cast<std::uint32_t>(seTimeout->value());
  s.WatchClipboard = cbWatchClipboard->isChecked();
  s.KeepDownload = cbKeepDownload->isChecked();
  return s;
}

std::string TfrmSettings::OutputFolder() const { return FromQ(eOutputFolder->text()); }

std::string TfrmSettings::ProxyPassword() const { return FromQ(eProxyPassword->text()); }

int TfrmSettings::ShowModal() { return exec(); }

void TfrmSettings::bOKClick() {
  // A password typed into the address moves to its own box: the address is
  // what gets stored.
  std::string inlinePassword;
  const std::string proxy = ProxyWithoutPassword(FromQ(eProxy->text().trimmed()), &inlinePassword);
  if (!inlinePassword.empty()) {
    eProxy->setText(ToQ(proxy));
    eProxyPassword->setText(ToQ(inlinePassword));
  }
  std::string error;
  if (!proxy.empty() && !ParseProxyUrl(proxy, &error)) {
    plat::Desktop().MessageBox("Proxy: " + error, "Clipharbor", plat::MB_ICONERROR | plat::MB_OK);
    eProxy->setFocus();
    return;
  }
  accept();
}

void TfrmSettings::bBrowseClick() {
  std::string folder = OutputFolder();
  if (SelectFolder("Please select the directory to add", std::wstring(), folder)) eOutputFolder->setText(ToQ(folder));
}
