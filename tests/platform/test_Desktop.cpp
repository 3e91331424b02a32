// The desktop interface without a screen: the scripted desktop's record and
// answers, and the desktop in use when no real one is linked.
#include "platform/Desktop.h"
#include "platform/ScriptedDesktop.h"

#include <gtest/gtest.h>

using namespace plat;

TEST(ScriptedDesktop, RecordsBoxesAndAnswersInOrder) {
  ScriptedDesktop d;
  std::vector<std::string> unexpected;
  d.OnUnexpected = [&](const std::string& w) { unexpected.push_back(w); };
  d.ExpectBox(IDNO);
  d.ExpectBox("second", IDYES);
  ScopedDesktop scope(d);
  EXPECT_EQ(Desktop().MessageBox("first", "Cap", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(Desktop().MessageBox("second", "Cap", MB_YESNO), IDYES);
  EXPECT_TRUE(unexpected.empty());
  ASSERT_EQ(d.Boxes.size(), 2u);
  EXPECT_EQ(d.Boxes[0].Buttons(), MB_YESNO);
  EXPECT_EQ(d.Boxes[0].Icon(), MB_ICONQUESTION);
  EXPECT_EQ(d.Boxes[0].Flags & MB_DEFMASK, MB_DEFBUTTON2);

  // Nothing queued, or another text than expected: a failure.
  EXPECT_EQ(Desktop().MessageBox("surprise", "Cap", MB_OK), IDOK);
  d.ExpectBox("this one", IDOK);
  Desktop().MessageBox("that one", "Cap", MB_OK);
  EXPECT_EQ(unexpected.size(), 2u);
  std::string folder = "/kept";
  EXPECT_FALSE(Desktop().BrowseForFolder("c", L"", folder));
  EXPECT_EQ(folder, "/kept");
  std::vector<std::string> files;
  EXPECT_FALSE(Desktop().OpenFileDialog({}, files));
  EXPECT_EQ(unexpected.size(), 4u);
}

TEST(NoScreenDesktop, IsTheDefaultAndChangesNothing) {
  IDesktop& d = Desktop();
  EXPECT_EQ(d.MessageBox("Overwrite?", "Clipharbor", MB_YESNO | MB_DEFBUTTON1), IDNO);
  EXPECT_EQ(d.MessageBox("Create?", "Clipharbor", MB_YESNOCANCEL), IDCANCEL);
  EXPECT_EQ(d.MessageBox("Again?", "Clipharbor", MB_ABORTRETRYIGNORE), IDABORT);
  EXPECT_EQ(d.MessageBox("Done", "Clipharbor", MB_OK | MB_ICONINFORMATION), IDOK);
  std::string folder = "/kept";
  EXPECT_FALSE(d.BrowseForFolder("c", L"", folder));
  EXPECT_EQ(folder, "/kept");
  std::vector<std::string> files;
  EXPECT_FALSE(d.OpenFileDialog({}, files));
  d.SetClipboardText("http://example.com/a");
  EXPECT_FALSE(d.ClipboardText().has_value());

  // A scripted desktop set for a scope replaces it and gives it back.
  ScriptedDesktop scripted;
  {
    ScopedDesktop scope(scripted);
    EXPECT_EQ(&Desktop(), &scripted);
  }
  EXPECT_EQ(&Desktop(), &d);
}
