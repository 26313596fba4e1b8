// The batch tool, run as a program: arguments, settings, exit status, output file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/testSupport.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

std::string shellQuoted(const std::string& text) {
  std::string q = "'";
  for (char c : text)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tool = MORVANE_MATCH_PATH;
    if (tool.empty()) GTEST_SKIP() << "morvane-match is not built";
    // Known settings for every run: the defaults (the program folder's param.txt, if any, is
    // not read when --settings is given).
    settings = folder.file("param.txt");
    writeFileBytes(settings, defaultSettings(0));
    writeFileBytes(folder.file("square.dxf"), dxfText({square("own")}));
  }
  static std::string defaultSettings(
      int sw, const char* rotationLine = "0 ;2;[0,1,2 or 3] Texture Rotation") {
    return std::to_string(sw) + " ;sw\r\n0.25 ;0\r\n0.5 ;1\r\n" + rotationLine +
           "\r\n0.01 ;3\r\n0.2  ;4\r\n0.90 ;5\r\n0.5 ;6\r\n0.25 ;7\r\n";
  }
  static DxfFace square(const std::string& layer) {
    return {layer, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}};
  }
  // Upright square on the square's edge x = 0.
  static DxfFace roof(const std::string& layer) {
    return {layer, {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}};
  }
  Outcome runTool(const std::vector<std::string>& args, const std::string& program = "") {
    std::string command = shellQuoted(program.empty() ? tool : program);
    for (const std::string& a : args)
      command += " " + shellQuoted(a);
    std::string out = folder.file("stdout.txt"), err = folder.file("stderr.txt");
    command += " >" + shellQuoted(out) + " 2>" + shellQuoted(err) + " </dev/null";
    int raw = std::system(command.c_str());
    int status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
    return {status, readFileBytes(out), readFileBytes(err)};
  }
  std::string tool;
  std::string settings;
  ScratchFolder folder;
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

TEST_F(CliTest, BadArgumentsAreUsageErrors) {
  std::string sq = folder.file("square.dxf"), out = folder.file("out.dxf");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {sq, sq},
      {sq, sq, out, out},
      {"--rotation", "4", "", sq, out},
      {"--rotation", "-1", "", sq, out},
      {"--rotation", "01", "", sq, out},
      {"--rotation=x", "", sq, out},
      {"", sq, out, "--rotation"},
      {"--settings", "", "", sq, out},
      {"", sq, out, "--settings"},
      {"--frobnicate", "", sq, out},
      {"", "", out},
      {"", sq, ""},
  };
  for (const std::vector<std::string>& args : cases) {
    std::string shown;
    for (const std::string& a : args)
      shown += "[" + a + "] ";
    SCOPED_TRACE(shown);
    Outcome o = runTool(args);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("Usage: morvane-match"), std::string::npos);
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(CliTest, HelpExplainsArgumentsOptionsAndExitStatus) {
  for (const char* flag : {"--help", "-h"}) {
    Outcome o = runTool({flag});
    EXPECT_EQ(o.status, 0);
    for (const char* word : {"REFERENCE", "TARGET", "OUTPUT", "NULL", "No Use", "--settings",
                             "param.txt", "--rotation", "Exit status", "Write Error"}) {
      EXPECT_NE(o.out.find(word), std::string::npos) << word;
    }
  }
}

TEST_F(CliTest, SuccessfulRunPrintsProgressAndTallyAndWritesTheLayers) {
  std::string reference = folder.file("r.dxf"), target = folder.file("t.dxf");
  writeFileBytes(reference, dxfText({square("WALL"), roof("ROOF")}));
  writeFileBytes(target, dxfText({roof("x"), square("y")}));
  Outcome none = runTool({"--settings", settings, "", target, folder.file("out.dxf")});
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(splitLines(none.out),
            (std::vector<std::string>{
                "Start...", "Done.",
                "Faces: 0 coincident / 0 by tests / 0 by propagation / 2 unmatched"}));
  EXPECT_EQ(dxfLayers(readFileBytes(folder.file("out.dxf"))), (std::vector<std::string>{"x", "y"}));

  Outcome o = runTool({"--settings", settings, reference, target, folder.file("out.dxf")});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(splitLines(o.out),
            (std::vector<std::string>{
                "Start...", "1 Parts / 2 Faces / 6 Points", "Done.",
                "Faces: 2 coincident / 0 by tests / 0 by propagation / 0 unmatched"}));
  EXPECT_EQ(dxfLayers(readFileBytes(folder.file("out.dxf"))),
            (std::vector<std::string>{"ROOF", "WALL"}));
}

// The bundled example pair: every kind of match takes part and every face gets the layer its
// generator expects.
TEST_F(CliTest, ExamplePairUsesEveryKindOfMatch) {
  std::string examples = std::string(TEST_DATA_DIR) + "/../../examples/";
  Outcome o = runTool({"--settings", settings, examples + "reference.dxf", examples + "target.dxf",
                       folder.file("out.dxf")});
  ASSERT_EQ(o.status, 0) << o.err;
  std::vector<std::string> lines = splitLines(o.out);
  ASSERT_EQ(lines.size(), 4u);
  int coincident = -1, byTests = -1, byPropagation = -1, unmatched = -1;
  ASSERT_EQ(std::sscanf(lines[3].c_str(),
                        "Faces: %d coincident / %d by tests / %d by propagation / %d unmatched",
                        &coincident, &byTests, &byPropagation, &unmatched),
            4);
  EXPECT_GT(coincident, 0);
  EXPECT_GT(byTests, 0);
  EXPECT_GT(byPropagation, 0);
  EXPECT_EQ(unmatched, 0);
  EXPECT_EQ(dxfLayers(readFileBytes(folder.file("out.dxf"))),
            splitLines(readFileBytes(examples + "expected-layers.txt")));
}

TEST_F(CliTest, FailedRunWritesNothing) {
  writeFileBytes(folder.file("none.dxf"), "0\r\nEOF\r\n");
  Outcome o =
      runTool({"--settings", settings, "NO USE", folder.file("none.dxf"), folder.file("out.dxf")});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(splitLines(o.out),
            (std::vector<std::string>{"Start...", "Empty Data : Terget DXF", "Error Quit"}));
  EXPECT_NE(o.err.find("not written"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder.file("out.dxf")));
  Outcome missing = runTool({"--settings", folder.file("nothing.txt"), "",
                             folder.file("square.dxf"), folder.file("out.dxf")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "");
}

TEST_F(CliTest, UnwritableOutputLeavesEverythingThereUntouched) {
  std::string sq = folder.file("square.dxf");
  writeFileBytes(folder.file("plain"), "keep me");
  fs::create_directory(folder.file("dir"));
  writeFileBytes(folder.file("dir/inside"), "inside");
  struct Case {
    std::string output;
    const char* reason;
  } cases[] = {
      {folder.file("no/such/folder/out.dxf"), "does not exist"},
      {folder.file("plain/out.dxf"), "not a folder"},
      {folder.file("dir"), "is a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    Outcome o = runTool({"--settings", settings, "", sq, c.output});
    EXPECT_EQ(o.status, 3);
    std::vector<std::string> lines = splitLines(o.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Write Error : Terget DXF");
    EXPECT_NE(o.err.find(c.reason), std::string::npos) << o.err;
  }
  EXPECT_EQ(readFileBytes(folder.file("plain")), "keep me");
  EXPECT_EQ(readFileBytes(folder.file("dir/inside")), "inside");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.file("dir")), fs::directory_iterator()), 1);
}

TEST_F(CliTest, OutputMayReplaceTheTarget) {
  std::string reference = folder.file("r.dxf"), target = folder.file("t.dxf");
  writeFileBytes(reference, dxfText({square("WALL"), roof("ROOF")}));
  DxfFace turned = roof("x");  // the same face started at its last corner
  std::rotate(turned.corners.begin(), turned.corners.begin() + 3, turned.corners.end());
  writeFileBytes(target, dxfText({turned, square("y")}, {"kept comment"}));
  Outcome o = runTool({"--settings", settings, reference, target, target});
  EXPECT_EQ(o.status, 0) << o.err;
  std::string written = readFileBytes(target);
  EXPECT_EQ(dxfLayers(written), (std::vector<std::string>{"ROOF", "WALL"}));
  EXPECT_NE(written.find("999\r\nkept comment\r\n"), std::string::npos);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder.path))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"param.txt", "r.dxf", "square.dxf", "stderr.txt",
                                             "stdout.txt", "t.dxf"}));
}

// "x y" of the first corner of the first face in a written file.
std::string firstCorner(const std::string& dxf) {
  auto valueAfter = [&dxf](const char* code) {
    size_t at = dxf.find(std::string("\r\n") + code + "\r\n");
    if (at == std::string::npos) return std::string();
    at += 6;
    return dxf.substr(at, dxf.find("\r\n", at) - at);
  };
  return valueAfter("10") + " " + valueAfter("20");
}

TEST_F(CliTest, RotationFollowsTheSettingsAndTheOptionWithoutWritingThem) {
  // A copy of the program in its own folder, so that its param.txt is ours.
  fs::create_directory(folder.file("bin"));
  std::string program = folder.file("bin/morvane-match");
  fs::copy_file(tool, program);
  std::string sq = folder.file("square.dxf"), out = folder.file("out.dxf");
  struct Case {
    std::string param;  // "" for no param.txt beside the program
    std::vector<std::string> options;
    const char* corner;  // first corner written
  } cases[] = {
      {"", {}, "0.00000 0.00000"},
      {defaultSettings(3, "1 ;2;rotation"), {}, "1.00000 0.00000"},
      {defaultSettings(2, "2.9 ;2;rotation"), {}, "1.00000 1.00000"},  // truncated to 2
      {defaultSettings(1, "1 ;2;rotation"), {}, "0.00000 0.00000"},    // box hidden: 0
      {defaultSettings(3, "-2 ;2;rotation"), {}, "0.00000 0.00000"},   // never negative
      {defaultSettings(3, "5 ;2;rotation"), {}, "1.00000 0.00000"},    // remainder 1
      {defaultSettings(3, "1 ;2;rotation"), {"--rotation", "0"}, "0.00000 0.00000"},
      {"", {"--rotation", "3"}, "0.00000 1.00000"},
      {"", {"--rotation=1"}, "1.00000 0.00000"},
      {"3 ;sw\r\n0\r\n0\r\n1 ;2\r\n", {}, "0.00000 0.00000"},  // short file: defaults
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.param + " " + (c.options.empty() ? "" : c.options.back()));
    fs::remove(folder.file("bin/param.txt"));
    if (!c.param.empty()) writeFileBytes(folder.file("bin/param.txt"), c.param);
    std::vector<std::string> args = c.options;
    for (const std::string& a : {std::string("null"), sq, out})
      args.push_back(a);
    Outcome o = runTool(args, program);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(firstCorner(readFileBytes(out)), c.corner);
    EXPECT_EQ(readFileBytes(folder.file("bin/param.txt")), c.param);
  }
  // --settings wins over the program's own param.txt.
  writeFileBytes(folder.file("bin/param.txt"), defaultSettings(3, "1 ;2;rotation"));
  EXPECT_EQ(runTool({"--settings", settings, "", sq, out}, program).status, 0);
  EXPECT_EQ(firstCorner(readFileBytes(out)), "0.00000 0.00000");
}

}  // namespace
