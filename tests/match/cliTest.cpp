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
using Lines = std::vector<std::string>;

struct Outcome {
  int status;             // exit status; -1 when the program did not exit normally
  std::string text, err;  // standard output and error
  Lines out;              // standard output, split at line ends
};

std::string shellQuoted(const std::string& text) {
  std::string q = "'";
  for (char c : text)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Lines of a text, without their line ends.
Lines splitLines(const std::string& text) {
  Lines lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
  }
  return lines;
}

// Settings lines as the settings file holds them, with the switch word and line 4 given.
std::string settingsText(int sw, const char* rotationLine) {
  return std::to_string(sw) + " ;sw\r\n0.25 ;0\r\n0.5 ;1\r\n" + rotationLine +
         "\r\n0.01 ;3\r\n0.2  ;4\r\n0.90 ;5\r\n0.5 ;6\r\n0.25 ;7\r\n";
}

const DxfFace kSquare = {"", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}};
const DxfFace kWall = {"", {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}};  // on the square's edge
DxfFace on(const char* layer, DxfFace face) {
  face.layer = layer;
  return face;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (tool.empty()) GTEST_SKIP() << "morvane-match is not built";
    writeFileBytes(settings, settingsText(0, "0 ;2;[0,1,2 or 3] Texture Rotation"));
    writeFileBytes(square, dxfText({on("own", kSquare)}));
    writeFileBytes(reference, dxfText({on("WALL", kSquare), on("ROOF", kWall)}));
    writeFileBytes(target, dxfText({on("x", kWall), on("y", kSquare)}, {"kept comment"}));
  }
  Outcome runTool(const Lines& args, const std::string& program = MORVANE_MATCH_PATH) {
    std::string command = shellQuoted(program);
    for (const std::string& a : args)
      command += " " + shellQuoted(a);
    command += " >" + shellQuoted(folder.file("stdout.txt")) + " 2>" +
               shellQuoted(folder.file("stderr.txt")) + " </dev/null";
    int raw = std::system(command.c_str());
    std::string text = readFileBytes(folder.file("stdout.txt"));
    return {(raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1, text,
            readFileBytes(folder.file("stderr.txt")), splitLines(text)};
  }
  std::string tool = MORVANE_MATCH_PATH;
  ScratchFolder folder;
  std::string settings = folder.file("param.txt"), square = folder.file("square.dxf"),
              reference = folder.file("r.dxf"), target = folder.file("t.dxf"),
              out = folder.file("out.dxf");
};

TEST_F(CliTest, BadArgumentsAreUsageErrors) {
  // clang-format off
  const std::vector<Lines> cases = {
      {}, {square, square}, {square, square, out, out}, {"--rotation", "4", "", square, out},
      {"--rotation", "-1", "", square, out}, {"--rotation", "01", "", square, out},
      {"--rotation=x", "", square, out}, {"", square, out, "--rotation"},
      {"--settings", "", "", square, out}, {"", square, out, "--settings"},
      {"--frobnicate", "", square, out}, {"", "", out}, {"", square, ""}};
  // clang-format on
  for (const Lines& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    Outcome o = runTool(args);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, Lines{});
    EXPECT_NE(o.err.find("Usage: morvane-match"), std::string::npos);
    EXPECT_FALSE(fs::exists(out));
  }
  for (const char* flag : {"--help", "-h"}) {
    Outcome o = runTool({flag});
    EXPECT_EQ(o.status, 0);
    for (const char* word : {"REFERENCE", "TARGET", "OUTPUT", "NULL", "No Use", "--settings",
                             "param.txt", "--rotation", "Exit status", "Write Error"}) {
      EXPECT_NE(o.text.find(word), std::string::npos) << word;
    }
  }
}

// Exit 0 with the tally line when written, 1 when the run failed, 2 when the settings file
// cannot be read, 3 when the output cannot be written; nothing is written or touched unless
// the run succeeds.
TEST_F(CliTest, ExitStatusProgressLinesAndOutput) {
  writeFileBytes(folder.file("none.dxf"), "0\r\nEOF\r\n");
  writeFileBytes(folder.file("plain"), "keep me");
  fs::create_directory(folder.file("dir"));
  writeFileBytes(folder.file("dir/inside"), "inside");
  const std::string tally = "Faces: 0 coincident / 0 by tests / 0 by propagation / 1 unmatched";
  const Lines writeError = {"Start...", "Done.", tally, "Write Error : Terget DXF"};
  struct Case {
    Lines args;
    int status;
    Lines lines, layers;  // no layers: nothing may be written at `out`
    const char* err;
  };
  // clang-format off
  const Case cases[] = {
      {{"", target, out}, 0,
       {"Start...", "Done.", "Faces: 0 coincident / 0 by tests / 0 by propagation / 2 unmatched"},
       {"x", "y"}, ""},
      {{reference, target, out}, 0,
       {"Start...", "1 Parts / 2 Faces / 6 Points", "Done.",
        "Faces: 2 coincident / 0 by tests / 0 by propagation / 0 unmatched"}, {"ROOF", "WALL"}, ""},
      {{"NO USE", folder.file("none.dxf"), out}, 1,
       {"Start...", "Empty Data : Terget DXF", "Error Quit"}, {}, "not written"},
      {{"", square, folder.file("no/such/folder/out.dxf")}, 3, writeError, {}, "does not exist"},
      {{"", square, folder.file("plain/out.dxf")}, 3, writeError, {}, "not a folder"},
      {{"", square, folder.file("dir")}, 3, writeError, {}, "is a folder"}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    fs::remove(out);
    Lines args = {"--settings", settings};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome o = runTool(args);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(o.out, c.lines);
    EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    EXPECT_EQ(dxfLayers(readFileBytes(out)), c.layers);
    EXPECT_EQ(fs::exists(out), !c.layers.empty());
  }
  EXPECT_EQ(readFileBytes(folder.file("plain")), "keep me");
  EXPECT_EQ(readFileBytes(folder.file("dir/inside")), "inside");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.file("dir")), fs::directory_iterator()), 1);
  Outcome missing = runTool({"--settings", folder.file("nothing.txt"), "", square, out});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, Lines{});
}

// The output may be the target: it is replaced whole, comments kept, nothing left beside it.
TEST_F(CliTest, OutputMayReplaceTheTarget) {
  ASSERT_EQ(runTool({"--settings", settings, reference, target, target}).status, 0);
  std::string written = readFileBytes(target);
  EXPECT_EQ(dxfLayers(written), (Lines{"ROOF", "WALL"}));
  EXPECT_NE(written.find("999\r\nkept comment\r\n"), std::string::npos);
  Lines names;
  for (const auto& entry : fs::directory_iterator(folder.path))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (Lines{"param.txt", "r.dxf", "square.dxf", "stderr.txt", "stdout.txt", "t.dxf"}));
}

// The bundled example pair: every kind of match takes part and every face gets the layer its
// generator expects.
TEST_F(CliTest, ExamplePairUsesEveryKindOfMatch) {
  std::string examples = std::string(TEST_DATA_DIR) + "/../../examples/";
  Outcome o =
      runTool({"--settings", settings, examples + "reference.dxf", examples + "target.dxf", out});
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(o.out.size(), 4u);
  int coincident = 0, byTests = 0, byPropagation = 0, unmatched = -1;
  ASSERT_EQ(std::sscanf(o.out[3].c_str(),
                        "Faces: %d coincident / %d by tests / %d by propagation / %d unmatched",
                        &coincident, &byTests, &byPropagation, &unmatched),
            4);
  EXPECT_TRUE(coincident > 0 && byTests > 0 && byPropagation > 0 && unmatched == 0) << o.out[3];
  EXPECT_EQ(dxfLayers(readFileBytes(out)),
            splitLines(readFileBytes(examples + "expected-layers.txt")));
}

TEST_F(CliTest, RotationFollowsTheSettingsAndTheOptionWithoutWritingThem) {
  // A copy of the program in its own folder, so that its param.txt is ours.
  fs::create_directory(folder.file("bin"));
  std::string program = folder.file("bin/morvane-match"), param = folder.file("bin/param.txt");
  fs::copy_file(tool, program);
  // "x y" of the first corner of the first face written.
  auto firstCorner = [&]() {
    Lines lines = splitLines(readFileBytes(out));
    auto at = std::find(lines.begin(), lines.end(), "10");
    return at + 3 < lines.end() ? at[1] + " " + at[3] : std::string();
  };
  struct Case {
    std::string param;   // "" for no param.txt beside the program
    Lines options;       // --settings wins over param.txt
    const char* corner;  // first corner written
  } cases[] = {{"", {}, "0.00000 0.00000"},
               {settingsText(3, "1 ;2;rotation"), {}, "1.00000 0.00000"},
               {settingsText(2, "2.9 ;2;rotation"), {}, "1.00000 1.00000"},  // truncated to 2
               {settingsText(1, "1 ;2;rotation"), {}, "0.00000 0.00000"},    // box hidden: 0
               {settingsText(3, "-2 ;2;rotation"), {}, "0.00000 0.00000"},   // never negative
               {settingsText(3, "5 ;2;rotation"), {}, "1.00000 0.00000"},    // remainder 1
               {settingsText(3, "1 ;2;rotation"), {"--rotation", "0"}, "0.00000 0.00000"},
               {"", {"--rotation", "3"}, "0.00000 1.00000"},
               {"", {"--rotation=1"}, "1.00000 0.00000"},
               {"3 ;sw\r\n0\r\n0\r\n1 ;2\r\n", {}, "0.00000 0.00000"},  // short file: defaults
               {settingsText(3, "1 ;2;rotation"), {"--settings", settings}, "0.00000 0.00000"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.param + " " + (c.options.empty() ? "" : c.options.back()));
    fs::remove(param);
    if (!c.param.empty()) writeFileBytes(param, c.param);
    Lines args = c.options;
    args.insert(args.end(), {"null", square, out});
    EXPECT_EQ(runTool(args, program).status, 0);
    EXPECT_EQ(firstCorner(), c.corner);
    EXPECT_EQ(readFileBytes(param), c.param);
  }
}

}  // namespace
