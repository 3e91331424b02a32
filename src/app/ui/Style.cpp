#include "app/ui/Style.h"

#include "app/ui/Pictures.h"

#include <QApplication>
#include <QFontDatabase>

// Resources of a static library are registered by hand, outside any namespace.
static void InitPictureResources() { Q_INIT_RESOURCE(pictures); }

QString FlatStyleSheet() {
  // The look forces light surfaces, so it sets the text colour of each of
  // them too: a dark desktop palette must not put light text on them. Labels
  // are matched by exact class (".QLabel"): links and banner texts keep the
  // colours their windows give them. A password box takes its mask character
  // when its echo mode is set, before a sheet of its own would apply: the "*"
  // is set here, for every box, installed before any window exists.
  return QStringLiteral(R"(
QWidget#frmMain, QDialog { background: #eef2f7; color: #1b2b3c; }
.QLabel, TElidedLabel, QRadioButton, QCheckBox, QGroupBox { color: #1b2b3c; }
.QLabel:disabled, TElidedLabel:disabled, QRadioButton:disabled, QCheckBox:disabled, QGroupBox:disabled { color: #5e6a77; }
QLabel#lTitleHint { color: #ffffff; }
QLabel#lUrl { color: #0000ff; }
QPushButton {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #dfe6ef);
  border: 1px solid #7f9db9; border-radius: 3px; padding: 3px 10px; color: #1b2b3c;
}
QPushButton:hover { border-color: #f0a030; }
QPushButton:pressed { background: #d2dbe6; }
QPushButton:disabled { color: #5e6a77; border-color: #b8c4d0; }
QPushButton:default { border: 1px solid #2f6fb3; }
QLineEdit {
  background: #ffffff; color: #1b2b3c; border: 1px solid #7f9db9; padding: 2px 3px;
  selection-background-color: #316ac5; selection-color: #ffffff; lineedit-password-character: 42;
}
QLineEdit:disabled { background: #f2f2f2; color: #5e6a77; }
QComboBox {
  combobox-popup: 0; background: #ffffff; color: #1b2b3c; border: 1px solid #7f9db9; padding: 2px 4px;
}
QComboBox:disabled { background: #f2f2f2; color: #5e6a77; }
QComboBox::drop-down { width: 16px; border-left: 1px solid #7f9db9;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #c6d5e8); }
QComboBox::down-arrow { image: url(:/pictures/down-arrow.xpm); width: 7px; height: 4px; }
QComboBox::down-arrow:disabled { image: url(:/pictures/down-arrow-disabled.xpm); }
QComboBox QAbstractItemView { background: #ffffff; color: #1b2b3c; border: 1px solid #7f9db9; outline: 0;
  padding: 1px; selection-background-color: #c1d2ee; selection-color: #000000; }
QComboBox QAbstractItemView::item { min-height: 1.6em; padding-left: 3px; }
QRadioButton { spacing: 6px; }
QRadioButton::indicator { width: 11px; height: 11px; border: 1px solid #7f9db9; border-radius: 6px;
  background: #ffffff; }
QRadioButton::indicator:hover { border-color: #f0a030; }
QRadioButton::indicator:checked { background: qradialgradient(cx:0.5, cy:0.5, radius:0.5, fx:0.5, fy:0.5,
  stop:0 #2f6fb3, stop:0.45 #1b4f8a, stop:0.55 #ffffff, stop:1 #ffffff); }
QRadioButton::indicator:disabled { background: #f2f2f2; border-color: #b8c4d0; }
QCheckBox { spacing: 6px; }
QCheckBox::indicator { width: 11px; height: 11px; border: 1px solid #7f9db9; background: #ffffff; }
QCheckBox::indicator:hover { border-color: #f0a030; }
QCheckBox::indicator:checked { image: url(:/pictures/check.xpm); }
QCheckBox::indicator:disabled { background: #f2f2f2; border-color: #b8c4d0; }
QSpinBox {
  background: #ffffff; color: #1b2b3c; border: 1px solid #7f9db9; padding: 2px 3px;
  selection-background-color: #316ac5; selection-color: #ffffff;
}
QSpinBox:disabled { background: #f2f2f2; color: #5e6a77; }
QSpinBox::up-button, QSpinBox::down-button { width: 16px; border-left: 1px solid #7f9db9;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #c6d5e8); }
QSpinBox::up-button { subcontrol-position: top right; }
QSpinBox::down-button { subcontrol-position: bottom right; }
QSpinBox::up-button:pressed, QSpinBox::down-button:pressed { background: #d2dbe6; }
QSpinBox::up-arrow { image: url(:/pictures/up-arrow.xpm); width: 7px; height: 4px; }
QSpinBox::down-arrow { image: url(:/pictures/down-arrow.xpm); width: 7px; height: 4px; }
QGroupBox { border: 1px solid #a6b8cc; border-radius: 3px; margin-top: 0.6em; padding-top: 0.4em; }
QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 8px; padding: 0 3px; }
QProgressBar { border: 1px solid #7f9db9; background: #ffffff; color: #1b2b3c; text-align: center; }
QProgressBar::chunk { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #8fd88f, stop:1 #3cb34a); }
QMenu { background: #ffffff; color: #1b2b3c; border: 1px solid #7f9db9; padding: 2px; }
QMenu::item { padding: 4px 24px 4px 20px; }
QMenu::item:selected { background: #c1d2ee; border: 1px solid #316ac5; color: #000000; }
QMenu::separator { height: 1px; background: #c5d2e0; margin: 3px 6px; }
QFrame#bvSeparator { color: #a6b8cc; }
)");
}

void InstallDesktopLook(QApplication& app) {
  InitPictureResources();
  QApplication::setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
  QApplication::setWindowIcon(pics::AppIcon());
  app.setStyleSheet(FlatStyleSheet());
}
