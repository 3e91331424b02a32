// The main window by keyboard alone: focus, the tab order, the mnemonics,
// Enter as Start, the menu from F10 and from its focused picture, and the
// names screen readers read for every field and button.
#include "MainFixture.h"

#include "app/core/Formats.h"
#include "app/ui/Login.h"
#include "app/ui/WlmShiftImage.h"

#include <functional>

#include <QAccessible>
#include <QAction>
#include <QMenu>
#include <QTest>
#include <QTimer>

namespace {

QWidget* Focus() { return QApplication::focusWidget(); }

// A key as the user presses it: to whatever has the focus.
void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QWidget* target = QApplication::activePopupWidget() ? QApplication::activePopupWidget() : Focus();
  ASSERT_NE(target, nullptr) << "nothing has the focus";
  QTest::keyClick(target, static_cast<Qt::Key>(key), mods);
}

void Type(const std::string& text) { QTest::keyClicks(Focus(), QString::fromStdString(text)); }

// A mnemonic clicks its button a moment later, as a press shows.
void Settle() { QTest::qWait(250); }

// Runs `fn` on the login dialog as soon as it is the modal window with the
// focus in its user field; if that never happens, says so and closes the
// modal window, which would otherwise wait for keys forever.
void WhenLoginUp(std::function<void(TfrmLogin&)> fn, int triesLeft = 1000) {
  QTimer::singleShot(10, [fn, triesLeft] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* login = qobject_cast<TfrmLogin*>(modal);
    if (login && Focus() == login->eUsername) {
      fn(*login);
    } else if (triesLeft > 0) {
      WhenLoginUp(fn, triesLeft - 1);
    } else {
      ADD_FAILURE() << "no login dialog with the focus in its user field; modal: " << (modal ? "yes" : "none")
                    << ", focus: " << (Focus() ? Focus()->objectName().toStdString() : "(none)");
      if (modal) modal->close();
    }
  });
}

std::string Name(QWidget* w) { return w ? w->objectName().toStdString() : "(none)"; }

std::string AccessibleName(QWidget* w) {
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
  return a ? a->text(QAccessible::Name).toStdString() : std::string();
}

class MainKeyboardTest : public MainWindowTest {
 protected:
  TfrmMain& OpenActive() {
    TfrmMain& f = Open();
    f.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&f));
    return f;
  }
  // Tab from the focus round the window back to it; the names in turn.
  std::vector<std::string> TabWalk() {
    std::vector<std::string> walk{Name(Focus())};
    for (int i = 0; i < 30; ++i) {
      Press(Qt::Key_Tab);
      if (Name(Focus()) == walk.front()) break;
      walk.push_back(Name(Focus()));
    }
    return walk;
  }
};

}  // namespace

TEST_F(MainKeyboardTest, AJobSetUpAndStartedByKeyboardAlone) {
  TfrmMain& f = OpenActive();
  ASSERT_EQ(Focus(), f.eUrl) << "the keyboard starts in the address box";
  Type(kGoodUrl);

  Press(Qt::Key_O, Qt::AltModifier);  // "&Output Folder:"
  ASSERT_EQ(Focus(), f.eOutputFolder);
  Press(Qt::Key_A, Qt::ControlModifier);
  Type(Dir());

  Press(Qt::Key_N, Qt::AltModifier);  // "Download a&nd convert video from YouTube"
  Settle();
  EXPECT_TRUE(f.rbDownloadConvert->isChecked());
  EXPECT_TRUE(f.cbFormat->isEnabled());

  Press(Qt::Key_T, Qt::AltModifier);  // "Convert &to:"
  ASSERT_EQ(Focus(), f.cbFormat);
  for (int i = 0; i < 7; ++i) Press(Qt::Key_Down);
  EXPECT_EQ(f.cbFormat->currentIndex(), 7);

  Press(Qt::Key_Return);  // Start is the default button
  EXPECT_TRUE(f.bStart->isDefault());
  EXPECT_EQ(log_.Events, (std::vector<std::string>{"create", "show", "destroy"}));
  EXPECT_EQ(log_.Input, TStringList{kGoodUrl});
  EXPECT_EQ(log_.JobMode, 1);
  EXPECT_EQ(log_.TargetExt, ExtensionForLabel(FormatAt(7)->Label));

  // Enter in the address box starts too.
  log_ = THandOverLog();
  Press(Qt::Key_E, Qt::AltModifier);  // "&Enter video URL (Example: "
  ASSERT_EQ(Focus(), f.eUrl);
  Press(Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(log_.Events.size(), 3u);
  EXPECT_TRUE(desk_.Boxes.empty());
}

TEST_F(MainKeyboardTest, TabReachesEveryControlInOrderAndEnterPressesTheFocusedButton) {
  TfrmMain& f = OpenActive();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  EXPECT_EQ(TabWalk(), (std::vector<std::string>{"eUrl", "eOutputFolder", "bBrowser", "rbDownload", "bStart",
                                                 "bShowFiles", "bExit", "WlmShiftImage1"}));
  Press(Qt::Key_C, Qt::AltModifier);  // "&Convert video from local FLV file"
  Settle();
  ASSERT_TRUE(f.rbConvert->isChecked());
  Press(Qt::Key_I, Qt::AltModifier);  // "Select video f&ile:"
  EXPECT_EQ(TabWalk(), (std::vector<std::string>{"eFileName", "bSelectFile", "eOutputFolder", "bBrowser",
                                                 "rbConvert", "cbFormat", "bStart", "bShowFiles", "bExit",
                                                 "WlmShiftImage1"}));

  // Enter on a focused button presses that button, not Start.
  f.bShowFiles->setFocus();
  Press(Qt::Key_Return);
  EXPECT_EQ(desk_.Opened, std::vector<std::string>{Dir()});
  desk_.FolderAnswers.push_back(std::nullopt);
  Press(Qt::Key_B, Qt::AltModifier);  // "&Browser...": the folder
  Settle();
  desk_.OpenAnswers.push_back(std::vector<std::string>{Dir() + "/clip.flv"});
  Press(Qt::Key_W, Qt::AltModifier);  // "Bro&wser...": the file
  Settle();
  EXPECT_EQ(desk_.FolderCalls.size(), 1u);
  EXPECT_EQ(f.eFileName->text().toStdString(), Dir() + "/clip.flv");
  EXPECT_TRUE(log_.Events.empty());
}

TEST_F(MainKeyboardTest, MenuOpensFromF10AndFromItsFocusedPicture) {
  TfrmMain& f = OpenActive();
  Press(Qt::Key_F10);
  ASSERT_TRUE(f.suiPopupMenu1->isVisible());
  EXPECT_EQ(f.suiPopupMenu1->activeAction(), f.Homepage1);
  // Below the picture (moved left as far as the screen asks).
  const QPoint below = f.WlmShiftImage1->mapToGlobal(QPoint(0, f.WlmShiftImage1->height()));
  EXPECT_EQ(f.suiPopupMenu1->y(), below.y());
  EXPECT_LE(f.suiPopupMenu1->x(), below.x());
  EXPECT_GT(f.suiPopupMenu1->geometry().right(), below.x());
  // Down twice (past the separators) is the account; Enter opens its dialog,
  // which the keyboard fills and confirms.
  // The dialog comes up, and takes the focus, when the loop gets to it: a
  // loaded machine may take a while.
  WhenLoginUp([](TfrmLogin&) {
    Type("walker");
    Press(Qt::Key_Tab);
    Type("steps");
    Press(Qt::Key_Return);
  });
  Press(Qt::Key_Down);
  Press(Qt::Key_Down);
  Press(Qt::Key_Return);
  EXPECT_EQ(f.FAccountUser, "walker");
  EXPECT_EQ(f.FAccountPassword, "steps");
  // A desktop gives the window back its activation when the dialog goes.
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));

  for (auto [key, mods] : {std::pair{Qt::Key_Space, Qt::NoModifier}, std::pair{Qt::Key_Return, Qt::NoModifier},
                           std::pair{Qt::Key_Menu, Qt::NoModifier}, std::pair{Qt::Key_F10, Qt::ShiftModifier}}) {
    f.WlmShiftImage1->setFocus(Qt::TabFocusReason);
    Press(key, mods);
    EXPECT_TRUE(f.suiPopupMenu1->isVisible()) << key;
    Press(Qt::Key_Escape);
    EXPECT_FALSE(f.suiPopupMenu1->isVisible()) << key;
  }
  // Focused, the picture looks as under the mouse.
  f.WlmShiftImage1->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(f.WlmShiftImage1->pixmap().cacheKey(), f.WlmShiftImage1->FocusedPicture().cacheKey());
  EXPECT_TRUE(log_.Events.empty());
}

TEST_F(MainKeyboardTest, EveryFieldAndButtonHasAName) {
  TfrmMain& f = OpenActive();
  for (int mode : {0, 2}) {
    (mode == 2 ? f.rbConvert : f.rbDownload)->click();
    for (QWidget* w : f.findChildren<QWidget*>()) {
      if (!w->isVisibleTo(&f) || !(w->focusPolicy() & Qt::TabFocus)) continue;
      EXPECT_FALSE(AccessibleName(w).empty()) << Name(w) << " in mode " << mode;
    }
  }
  EXPECT_NE(AccessibleName(f.bBrowser), AccessibleName(f.bSelectFile));
  EXPECT_EQ(f.lOutputFolder->buddy(), f.eOutputFolder);
  EXPECT_EQ(f.lConvertTo->buddy(), f.cbFormat);
  EXPECT_EQ(f.lVideo->buddy(), f.eFileName);
  f.rbDownload->click();
  EXPECT_EQ(f.lVideo->buddy(), f.eUrl);

  TfrmLogin login(&f);
  for (QLineEdit* e : {login.eUsername, login.ePassword}) EXPECT_FALSE(AccessibleName(e).empty()) << Name(e);
  EXPECT_EQ(AccessibleName(login.eUsername), "Username:");
}
