#include "app/ui/Style.h"

#include "app/ui/Pictures.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QPalette>

#include <utility>

// Resources of a static library are registered by hand, outside any namespace.
static void InitPictureResources() { Q_INIT_RESOURCE(pictures); }

namespace {

// The sheet's colours by role: light surfaces, and the dark variant for a
// dark desktop. Every text colour keeps 4.5:1 or more on the surface it is
// drawn on, disabled texts included.
struct TSchemeColour {
  const char* Token;
  const char* Light;
  const char* Dark;
};

constexpr TSchemeColour kScheme[] = {
    {"{surface}", "#eef2f7", "#22272e"},
    {"{text}", "#1b2b3c", "#e6edf3"},
    {"{muted}", "#5e6a77", "#9aa5b1"},
    {"{link}", "#0000ff", "#6cb6ff"},
    {"{field}", "#ffffff", "#1c2128"},
    {"{fieldOff}", "#f2f2f2", "#2a3038"},
    {"{edge}", "#7f9db9", "#687a8c"},
    {"{edgeOff}", "#b8c4d0", "#444c56"},
    {"{line}", "#a6b8cc", "#4d5866"},
    {"{menuLine}", "#c5d2e0", "#444c56"},
    // An engraved line: its shadow over its light edge.
    {"{groove}", "#a6b8cc", "#14181d"},
    {"{ridge}", "#ffffff", "#4d5866"},
    // A light button shades from white; a dark one is flat, so that its
    // text stands on one colour.
    {"{buttonFace}", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #dfe6ef)", "#373e47"},
    {"{buttonTop}", "#ffffff", "#3a424d"},
    {"{pressed}", "#d2dbe6", "#262c33"},
    {"{default}", "#2f6fb3", "#539bf5"},
    {"{dropBottom}", "#c6d5e8", "#2d333b"},
    {"{selection}", "#316ac5", "#316ac5"},
    {"{rowSelected}", "#c1d2ee", "#264f78"},
    {"{rowSelectedText}", "#000000", "#ffffff"},
    {"{dotInner}", "#2f6fb3", "#6cb6ff"},
    {"{dotOuter}", "#1b4f8a", "#539bf5"},
    {"{chunkTop}", "#8fd88f", "#2f7d33"},
    {"{chunkBottom}", "#3cb34a", "#235f27"},
    {"{arrow}", "down-arrow", "down-arrow-on-dark"},
    {"{upArrow}", "up-arrow", "up-arrow-on-dark"},
    {"{check}", "check", "check-on-dark"},
};

// The look forces its own surfaces, so it sets the text colour of each of
// them too: a desktop palette must not put its text colours on them. Labels
// are matched by exact class (".QLabel"): links and banner texts keep the
// colours their windows give them, or the ones named here. A password box
// takes its mask character when its echo mode is set, before a sheet of its
// own would apply: the "*" is set here, for every box, installed before any
// window exists.
const char* const kSheet = R"(
QWidget#frmMain, QDialog { background: {surface}; color: {text}; }
.QLabel, TElidedLabel, QRadioButton, QCheckBox, QGroupBox { color: {text}; }
.QLabel:disabled, TElidedLabel:disabled, QRadioButton:disabled, QCheckBox:disabled, QGroupBox:disabled { color: {muted}; }
QLabel#lTitleHint { color: #ffffff; }
QLabel#lUrl, QLabel#lbEAddress { color: {link}; }
QPushButton {
  background: {buttonFace};
  border: 1px solid {edge}; border-radius: 3px; padding: 3px 10px; color: {text};
}
QPushButton:hover { border-color: #f0a030; }
QPushButton:pressed { background: {pressed}; }
QPushButton:disabled { color: {muted}; border-color: {edgeOff}; }
QPushButton:default { border: 1px solid {default}; }
QLineEdit {
  background: {field}; color: {text}; border: 1px solid {edge}; padding: 2px 3px;
  selection-background-color: {selection}; selection-color: #ffffff; lineedit-password-character: 42;
}
QLineEdit:disabled { background: {fieldOff}; color: {muted}; }
QComboBox {
  combobox-popup: 0; background: {field}; color: {text}; border: 1px solid {edge}; padding: 2px 4px;
}
QComboBox:disabled { background: {fieldOff}; color: {muted}; }
QComboBox::drop-down { width: 16px; border-left: 1px solid {edge};
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 {buttonTop}, stop:1 {dropBottom}); }
QComboBox::down-arrow { image: url(:/pictures/{arrow}.xpm); width: 7px; height: 4px; }
QComboBox::down-arrow:disabled { image: url(:/pictures/{arrow}-disabled.xpm); }
QComboBox QAbstractItemView { background: {field}; color: {text}; border: 1px solid {edge}; outline: 0;
  padding: 1px; selection-background-color: {rowSelected}; selection-color: {rowSelectedText}; }
QComboBox QAbstractItemView::item { min-height: 1.6em; padding-left: 3px; }
QRadioButton { spacing: 6px; }
QRadioButton::indicator { width: 11px; height: 11px; border: 1px solid {edge}; border-radius: 6px;
  background: {field}; }
QRadioButton::indicator:hover { border-color: #f0a030; }
QRadioButton::indicator:checked { background: qradialgradient(cx:0.5, cy:0.5, radius:0.5, fx:0.5, fy:0.5,
  stop:0 {dotInner}, stop:0.45 {dotOuter}, stop:0.55 {field}, stop:1 {field}); }
QRadioButton::indicator:disabled { background: {fieldOff}; border-color: {edgeOff}; }
QCheckBox { spacing: 6px; }
QCheckBox::indicator { width: 11px; height: 11px; border: 1px solid {edge}; background: {field}; }
QCheckBox::indicator:hover { border-color: #f0a030; }
QCheckBox::indicator:checked { image: url(:/pictures/{check}.xpm); }
QCheckBox::indicator:disabled { background: {fieldOff}; border-color: {edgeOff}; }
QSpinBox {
  background: {field}; color: {text}; border: 1px solid {edge}; padding: 2px 3px;
  selection-background-color: {selection}; selection-color: #ffffff;
}
QSpinBox:disabled { background: {fieldOff}; color: {muted}; }
QSpinBox::up-button, QSpinBox::down-button { width: 16px; border-left: 1px solid {edge};
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 {buttonTop}, stop:1 {dropBottom}); }
QSpinBox::up-button { subcontrol-position: top right; }
QSpinBox::down-button { subcontrol-position: bottom right; }
QSpinBox::up-button:pressed, QSpinBox::down-button:pressed { background: {pressed}; }
QSpinBox::up-arrow { image: url(:/pictures/{upArrow}.xpm); width: 7px; height: 4px; }
QSpinBox::down-arrow { image: url(:/pictures/{arrow}.xpm); width: 7px; height: 4px; }
QGroupBox { border: 1px solid {line}; border-radius: 3px; margin-top: 0.6em; padding-top: 0.4em; }
QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 8px; padding: 0 3px; }
QProgressBar { border: 1px solid {edge}; background: {field}; color: {text}; text-align: center; }
QProgressBar::chunk { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 {chunkTop}, stop:1 {chunkBottom}); }
QMenu { background: {field}; color: {text}; border: 1px solid {edge}; padding: 2px; }
QMenu::item { padding: 4px 24px 4px 20px; }
QMenu::item:selected { background: {rowSelected}; border: 1px solid {selection}; color: {rowSelectedText}; }
QMenu::separator { height: 1px; background: {menuLine}; margin: 3px 6px; }
QFrame#bvSeparator { border: none; border-top: 1px solid {groove}; border-bottom: 1px solid {ridge};
  margin: 1px 0; }
)";

const char* const kFollowerName = "clipharborLookFollower";

// Puts the sheet of the palette's kind in place when a desktop switches
// between light and dark while the program runs; a sheet that is not the
// program's (a test's own) is left alone.
class TLookFollower : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched == qApp && e->type() == QEvent::ApplicationPaletteChange) {
      const QString sheet = qApp->styleSheet();
      const QString wanted = FlatStyleSheet(IsDarkPalette(QApplication::palette()));
      if (sheet != wanted && (sheet == FlatStyleSheet(false) || sheet == FlatStyleSheet(true)))
        qApp->setStyleSheet(wanted);
    }
    return QObject::eventFilter(watched, e);
  }
};

}  // namespace

QString FlatStyleSheet(bool dark) {
  QString sheet = QString::fromLatin1(kSheet);
  for (const TSchemeColour& c : kScheme) sheet.replace(QLatin1String(c.Token), QLatin1String(dark ? c.Dark : c.Light));
  return sheet;
}

bool IsDarkPalette(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

void InstallDesktopLook(QApplication& app) {
  InitPictureResources();
  QApplication::setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
  QApplication::setWindowIcon(pics::AppIcon());
  app.setStyleSheet(FlatStyleSheet(IsDarkPalette(QApplication::palette())));
  if (!app.findChild<QObject*>(kFollowerName, Qt::FindDirectChildrenOnly)) {
    auto* follower = new TLookFollower(&app);
    follower->setObjectName(kFollowerName);
    app.installEventFilter(follower);
  }
}
