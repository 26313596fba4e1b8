#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/configFolder.h"
#include "app/errorReport.h"
#include "app/programPath.h"
#include "support/testSupport.h"
#include "textfiles/dialogPort.h"

TEST(ProgramPath, JoinsNamesAndGivesTheFolderWithoutSlash) {
  setProgramDirectoryTo("/opt/tools");
  EXPECT_STREQ(programPath("param.txt"), "/opt/tools/param.txt");
  EXPECT_STREQ(programPath(nullptr), "/opt/tools");
  setProgramDirectory();
}

TEST(ProgramPath, EleventhCallReusesTheFirstBuffer) {
  setProgramDirectoryTo("/x");
  const char* first = programPath("a");
  for (int i = 0; i < 9; ++i)
    EXPECT_NE(programPath("b"), first);
  EXPECT_EQ(programPath("c"), first);
  EXPECT_STREQ(first, "/x/c");
  setProgramDirectory();
}

TEST(ProgramPath, SetFromTheExecutableEndsWithSlash) {
  setProgramDirectory();
  std::string dir = programDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
}

TEST(AddProgressLine, FormatsAppendsAndClears) {
  RecordingDialog dialog;
  EXPECT_EQ(addProgressLine(&dialog.port, "Start..."), 0);
  EXPECT_EQ(addProgressLine(&dialog.port, "%d Parts / %d Faces / %d Points", 2, 10, 12), 1);
  EXPECT_EQ(dialog.progress,
            (std::vector<std::string>{"Start...", "2 Parts / 10 Faces / 12 Points"}));
  addProgressLine(&dialog.port, nullptr);
  EXPECT_TRUE(dialog.progress.empty());
  addProgressLine(&dialog.port, "Done.");
  EXPECT_EQ(dialog.progress.back(), "Done.");
}

TEST(AddProgressLine, CutsLongFormatsAndLinesAndIgnoresMissingList) {
  RecordingDialog dialog;
  std::string longFormat(300, 'a');
  addProgressLine(&dialog.port, "%s", (std::string(600, 'b')).c_str());
  addProgressLine(&dialog.port, longFormat.c_str(), 0);     // an argument: not a bare format
  std::string cutAtPercent = std::string(254, 'c') + "%d";  // the cut falls inside "%d"
  addProgressLine(&dialog.port, cutAtPercent.c_str(), 5);
  ASSERT_EQ(dialog.progress.size(), 3u);
  EXPECT_EQ(dialog.progress[0], std::string(511, 'b'));
  EXPECT_EQ(dialog.progress[1], std::string(255, 'a'));
  EXPECT_EQ(dialog.progress[2], std::string(254, 'c'));
  EXPECT_EQ(addProgressLine(nullptr, "x"), 0);
  DialogPort noList{};
  EXPECT_EQ(addProgressLine(&noList, "x"), 0);
}

namespace {
std::string lastPresented;
void recordPresented(const char* message) {
  lastPresented = message;
}
}  // namespace

TEST(ReportError, WritesOnlyTheLatestMessageToPerrAndPresentsIt) {
  ScratchFolder folder;
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter(recordPresented);
  reportError("gcalloc");
  reportError("%s", "gmalloc");
  EXPECT_EQ(readFileBytes(folder.file("perr.txt")), "gmalloc\r\n");
  EXPECT_EQ(lastPresented, "gmalloc");
  setErrorPresenter(nullptr);
  setProgramDirectory();
}

TEST(UserConfigFolder, FollowsXdgConfigHomeThenHome) {
  struct Case {
    const char* xdg;
    const char* home;
    const char* expected;  // null: no folder
  };
  const Case cases[] = {
      {"/cfg", "/home/u", "/cfg/morvane"},
      {"relative/cfg", "/home/u", "/home/u/.config/morvane"},  // a relative XDG path is ignored
      {nullptr, "/home/u", "/home/u/.config/morvane"},
      {nullptr, nullptr, nullptr},
  };
  std::string savedXdg = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
  for (const Case& c : cases) {
    c.xdg ? setenv("XDG_CONFIG_HOME", c.xdg, 1) : unsetenv("XDG_CONFIG_HOME");
    c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
    char folder[64];
    bool found = userConfigFolder(folder, sizeof folder);
    EXPECT_EQ(found, c.expected != nullptr);
    if (found && c.expected) {
      EXPECT_STREQ(folder, c.expected);
    }
  }
  char tiny[8];
  setenv("HOME", "/home/somebody", 1);
  EXPECT_FALSE(userConfigFolder(tiny, sizeof tiny));  // does not fit: no cut path
  savedXdg.empty() ? unsetenv("XDG_CONFIG_HOME") : setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  setenv("HOME", savedHome.c_str(), 1);
}
