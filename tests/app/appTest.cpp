// The front ends' common core: program paths, the error report, the configuration folder and
// filling the dialog's boxes.
#include <gtest/gtest.h>

#include "app/configFolder.h"
#include "app/controlIds.h"
#include "app/dialogBoxes.h"
#include "app/errorReport.h"
#include "app/programPath.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

// Names join the folder, a null name gives the folder without slash; the texts live in a ring
// of ten buffers; the folder set from the executable ends with '/'.
TEST(ProgramPath, JoinsNamesInARingOfTenBuffers) {
  setProgramDirectoryTo("/opt/tools");
  const char* first = programPath(nullptr);
  EXPECT_STREQ(first, "/opt/tools");
  for (int i = 0; i < 9; ++i)
    EXPECT_NE(programPath("param.txt"), first);
  EXPECT_STREQ(programPath("a") == first ? first : "", "/opt/tools/a");
  setProgramDirectory();
  EXPECT_EQ(std::string(programDirectory()).back(), '/');
}

// A failed allocation and a report both reach the presenter and leave only the latest message
// in perr.txt (CR LF).
TEST(ReportError, WritesOnlyTheLatestMessageToPerrAndPresentsIt) {
  ScratchFolder folder;
  static std::string presented;
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter([](const char* message) { presented += std::string(message) + "|"; });
  gfailAllocationAfter(1), (void)gcalloc(8);  // the allocator's failures are routed here
  reportError("%s", "gmalloc");
  setErrorPresenter(nullptr), setProgramDirectory();
  EXPECT_EQ(presented, "gcalloc|gmalloc|");
  EXPECT_EQ(readFileBytes(folder.file("perr.txt")), "gmalloc\r\n");
}

// "$XDG_CONFIG_HOME/morvane" when that is an absolute path, else "$HOME/.config/morvane";
// nothing without either, or when the path does not fit. (Each test runs in its own process.)
TEST(UserConfigFolder, FollowsXdgConfigHomeThenHome) {
  // clang-format off
  const char* cases[][3] = {{"/cfg", "/h", "/cfg/morvane"}, {"cfg", "/h", "/h/.config/morvane"},
      {nullptr, "/h", "/h/.config/morvane"}, {nullptr, nullptr, ""}, {nullptr, "/a/long/home", ""}};
  // clang-format on
  for (const auto& [xdg, home, expected] : cases) {
    xdg ? setenv("XDG_CONFIG_HOME", xdg, 1) : unsetenv("XDG_CONFIG_HOME");
    home ? setenv("HOME", home, 1) : unsetenv("HOME");
    char folder[24];
    EXPECT_STREQ(userConfigFolder(folder, sizeof folder) ? folder : "", expected);
  }
}

// A combo box gets the non-empty lines and the first as its text (an empty list leaves the
// text alone); the progress list gets every line.
TEST(FillBoxes, ComboSkipsEmptyLinesListKeepsThem) {
  RecordingDialog dialog;
  dialog.comboItems[kTargetBoxId] = {"stale"}, dialog.progress = {"old"};
  fillComboBox(testLines({"", "first", "", "second"}).get(), &dialog.port, kReferenceBoxId);
  fillComboBox(testLines({""}).get(), &dialog.port, kTargetBoxId);
  EXPECT_EQ(fillListBox(testLines({"", "a"}).get(), &dialog.port), 2);
  EXPECT_EQ(dialog.comboItems, (std::map<int, std::vector<std::string>>{
                                   {kReferenceBoxId, {"first", "second"}}, {kTargetBoxId, {}}}));
  EXPECT_TRUE(dialog.controlText == (std::map<int, std::string>{{kReferenceBoxId, "first"}}) &&
              dialog.progress == std::vector<std::string>({"", "a"}));
}
