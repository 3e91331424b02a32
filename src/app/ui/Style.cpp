#include "app/ui/Style.h"

QString FlatStyleSheet() {
  return QStringLiteral(R"(
QWidget#frmMain, QDialog { background: #eef2f7; }
QPushButton {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #dfe6ef);
  border: 1px solid #7f9db9; border-radius: 3px; padding: 2px 8px; color: #1b2b3c;
}
QPushButton:hover { border-color: #f0a030; }
QPushButton:pressed { background: #d2dbe6; }
QPushButton:disabled { color: #9aa5b1; border-color: #b8c4d0; }
QPushButton:default { border: 1px solid #2f6fb3; }
QLineEdit {
  background: #ffffff; border: 1px solid #7f9db9; padding: 1px 3px;
  selection-background-color: #316ac5;
}
QLineEdit:disabled { background: #f2f2f2; }
QComboBox { background: #ffffff; border: 1px solid #7f9db9; padding: 1px 4px; }
QComboBox:disabled { background: #f2f2f2; color: #9aa5b1; }
QComboBox::drop-down { width: 16px; border-left: 1px solid #7f9db9;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #c6d5e8); }
QComboBox QAbstractItemView { background: #ffffff; border: 1px solid #7f9db9;
  selection-background-color: #316ac5; }
QRadioButton { spacing: 6px; }
QGroupBox { border: 1px solid #a6b8cc; border-radius: 3px; margin-top: 4px; }
QProgressBar { border: 1px solid #7f9db9; background: #ffffff; text-align: center; }
QProgressBar::chunk { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #8fd88f, stop:1 #3cb34a); }
QMenu { background: #ffffff; border: 1px solid #7f9db9; padding: 2px; }
QMenu::item { padding: 4px 24px 4px 20px; }
QMenu::item:selected { background: #c1d2ee; border: 1px solid #316ac5; color: #000000; }
QMenu::separator { height: 1px; background: #c5d2e0; margin: 3px 6px; }
QFrame#bvSeparator { color: #a6b8cc; }
)");
}
