// Whole matching runs on small models written as DXF files, in process and through the batch
// tool run as a program: progress lines, layers written, tallies, arguments and exit status.
// (Every allocation failing in turn over a whole run is the hardening tests' part.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "match/matchingRun.h"
#include "output/dxfWriter.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Faces = std::vector<DxfFace>;
using Tally = std::array<int, 4>;  // coincident, by tests, by propagation, unmatched

// Six outward quads of the box [o, o + d] on layers prefix + bottom, top, south, east, north,
// west.
Faces boxFaces(const std::string& prefix, Vec3 o, Vec3 d) {
  auto p = [&](int i, int j, int k) { return Vec3{o.x + i * d.x, o.y + j * d.y, o.z + k * d.z}; };
  return {{prefix + "bottom", {p(0, 0, 0), p(0, 1, 0), p(1, 1, 0), p(1, 0, 0)}},
          {prefix + "top", {p(0, 0, 1), p(1, 0, 1), p(1, 1, 1), p(0, 1, 1)}},
          {prefix + "south", {p(0, 0, 0), p(1, 0, 0), p(1, 0, 1), p(0, 0, 1)}},
          {prefix + "east", {p(1, 0, 0), p(1, 1, 0), p(1, 1, 1), p(1, 0, 1)}},
          {prefix + "north", {p(1, 1, 0), p(0, 1, 0), p(0, 1, 1), p(1, 1, 1)}},
          {prefix + "west", {p(0, 1, 0), p(0, 0, 0), p(0, 0, 1), p(0, 1, 1)}}};
}

// The faces (turned a quarter about the vertical axis when `turn`) moved by `shift`, on layer
// `layer`, every second face started at its next corner.
Faces exported(Faces faces, Vec3 shift, const std::string& layer, bool turn = false) {
  for (size_t i = 0; i < faces.size(); ++i) {
    for (Vec3& c : faces[i].corners)
      c = {(turn ? -c.y : c.x) + shift.x, (turn ? c.x : c.y) + shift.y, c.z + shift.z};
    if (i % 2)
      std::rotate(faces[i].corners.begin(), faces[i].corners.begin() + 1, faces[i].corners.end());
    faces[i].layer = layer;
  }
  return faces;
}

Faces operator+(Faces a, const Faces& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Lines layersOf(const Faces& faces) {
  Lines layers;
  for (const DxfFace& f : faces)
    layers.push_back(f.layer);
  return layers;
}

Tally tally() {
  MatchTally t = tallyMatches(referenceModel, targetModel);
  return {t.coincident, t.byTests, t.byPropagation, t.unmatched};
}

class MatchingRun : public ::testing::Test {
 protected:
  void SetUp() override {
    setProgramDirectoryTo(folder.path.c_str());
    setErrorPresenter([](const char*) {});
    useDefaultSettings();
    textureRotation = 0;
  }
  void TearDown() override {
    releaseRunData();
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
  std::string write(const std::string& name, const Faces& faces, const Lines& comments = {}) {
    writeFileBytes(folder.file(name), dxfText(faces, comments));
    return folder.file(name);
  }
  int run(const std::string& reference, const std::string& target) {
    return runMatching(&dialog.port, reference.c_str(), target.c_str());
  }
  Lines writtenLayers() {  // of the file the writer makes from the run state
    EXPECT_EQ(saveTargetDxf(folder.file("out.dxf").c_str()), 1);
    return dxfLayers(readFileBytes(folder.file("out.dxf")));
  }
  ScratchFolder folder;
  RecordingDialog dialog;
};

// Only the whole name (any case) means none: "NULL ", "No Use.dxf" and "nul" are missing
// files. Each run releases what the run before it left.
TEST_F(MatchingRun, ReferenceNoneOrUnreadableLeavesEveryFaceItsOwnLayer) {
  long before = gliveBlocks();
  Faces faces = boxFaces("own_", {0, 0, 0}, {2, 1, 1});
  std::string target = write("t.dxf", faces);
  const Lines names[2] = {{"", "NULL", "null", "No Use", "NO USE", "no use"},
                          {"NULL ", "No Use.dxf", "nul", folder.file("missing.dxf"), folder.path}};
  const Lines lines[2] = {{"Start...", "Done."},
                          {"Start...", "Read Error : Reference DXF. continue...",
                           "1 Parts / 6 Faces / 8 Points", "Done."}};
  for (int unreadable : {0, 1}) {
    for (const std::string& reference : names[unreadable]) {
      SCOPED_TRACE(reference);
      EXPECT_EQ(run(reference, target), 1);
      EXPECT_EQ(dialog.progress, lines[unreadable]);
      EXPECT_EQ(referenceModel != nullptr, unreadable);
      EXPECT_EQ(writtenLayers(), layersOf(faces));
      EXPECT_EQ(tally(), (Tally{0, 0, 0, 6}));
    }
  }
  EXPECT_EQ(run("", ""), 0);
  EXPECT_TRUE(!referenceModel && !targetModel && !commentList);
  EXPECT_EQ(gliveBlocks(), before);
}

TEST_F(MatchingRun, TargetThatCannotBeReadEndsTheRun) {
  std::string reference = write("r.dxf", boxFaces("r_", {0, 0, 0}, {2, 1, 1}));
  mkfifo(folder.file("fifo").c_str(), 0600);  // must not block the run
  writeFileBytes(folder.file("empty.dxf"), "");
  writeFileBytes(folder.file("lines.dxf"),
                 "0\r\nSECTION\r\n2\r\nENTITIES\r\n0\r\nLINE\r\n0\r\nEOF\r\n");
  for (const std::string& target :
       {std::string(), folder.file("missing.dxf"), folder.path, folder.file("fifo"),
        folder.file("empty.dxf"), folder.file("lines.dxf")}) {
    SCOPED_TRACE(target);
    EXPECT_EQ(run(reference, target), 0);
    bool read = target.ends_with("s.dxf") || target.ends_with("y.dxf");
    EXPECT_EQ(dialog.progress,
              (Lines{"Start...", read ? "Empty Data : Terget DXF" : "Read Error : Terget DXF",
                     "Error Quit"}));
  }
}

// A box kept in place and a box turned a quarter and moved: its top and bottom keep their
// normal and centre, its walls do not.
const Faces kKept = boxFaces("k_", {0, 0, 0}, {1, 1, 1}),
            kTurned = boxFaces("t_", {10, 0, 0}, {4, 2, 1});

TEST_F(MatchingRun, MatchedFacesTakeTheLayersOfTheirReferenceFaces) {
  Faces box = boxFaces("box_", {0, 0, 0}, {4, 2, 1}),
        slab = boxFaces("slab_", {10, 0, 0}, {3, 3, 1});
  Faces same = boxFaces("b_", {0, 0, 0}, {3, 1, 1}) + slab;
  same.push_back({"lone", {{20, 0, 0}, {21, 0, 0}, {20, 1, 0}}});
  Lines turnedLayers = layersOf(kKept + kTurned);
  for (int wall = 8; wall < 12; ++wall)
    turnedLayers[wall] = "t_";  // any wall: half a turn gives the same box
  struct Case {
    Faces reference, target;
    const char* counts;
    Lines layers;
    Tally tally;
  } cases[] = {
      // The lone face anchors no part, but its part is matched by size to its own reference.
      {same, same, "3 Parts / 13 Faces / 19 Points", layersOf(same), {13, 0, 0, 0}},
      {box + slab,
       exported(slab, {0, 7, 2}, "obj2") + exported(box, {-5, 5, 0}, "obj1"),
       "2 Parts / 12 Faces / 16 Points",
       layersOf(slab + box),
       {0, 12, 0, 0}},
      {kKept + kTurned,
       exported(kKept, {}, "a") + exported(kTurned, {30, 0, 0}, "b", true),
       "2 Parts / 12 Faces / 16 Points",
       turnedLayers,
       {6, 2, 4, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.counts);
    std::string target = write("t.dxf", c.target, {"made by the test", "2"});
    ASSERT_EQ(run(write("r.dxf", c.reference), target), 1);
    EXPECT_EQ(dialog.progress, (Lines{"Start...", c.counts, "Done."}));
    EXPECT_EQ(tally(), c.tally);
    Lines layers = writtenLayers();
    ASSERT_EQ(layers.size(), c.layers.size());
    for (size_t i = 0; i < layers.size(); ++i)
      EXPECT_EQ(c.layers[i] == "t_" ? layers[i].substr(0, 2) : layers[i], c.layers[i]);
    EXPECT_TRUE(
        readFileBytes(folder.file("out.dxf"))
            .starts_with(
                "0\r\nSECTION\r\n2\r\nENTITIES\r\n999\r\nmade by the test\r\n999\r\n2\r\n"));
  }
}

// A face given twice, a face of one point, a NaN corner, a reference without faces, parts of
// single faces: the run ends and writes every face on a layer.
TEST_F(MatchingRun, AwkwardModelsRunToTheEndWithEveryFaceWritten) {
  Faces box = boxFaces("b_", {0, 0, 0}, {4, 2, 1});
  Faces twice = box + Faces{box[1]};
  Faces point = box + Faces{{"point", {{4, 2, 1}, {4, 2, 1}, {4, 2, 1}, {4, 2, 1}}}};
  Faces nan = box + Faces{{"nan", {{4, 2, 1}, {NAN, 0, 0}, {5, 3, 1}}}};
  const std::pair<Faces, Faces> cases[] = {
      {twice, exported(twice, {0, 9, 0}, "x")},
      {twice, exported(twice, {0, 0, 0}, "x")},
      {point, exported(point, {7, 0, 0}, "x")},
      {nan, exported(nan, {0, 9, 0}, "x")},
      {{}, exported(box, {0, 9, 0}, "x")},
      {{box[0], box[3]}, exported({box[3], box[0], box[5]}, {0, 9, 0}, "x")}};
  for (const auto& [reference, target] : cases) {
    SCOPED_TRACE(target.size());
    ASSERT_EQ(run(write("r.dxf", reference), write("t.dxf", target)), 1);
    EXPECT_EQ(dialog.progress.back(), "Done.");
    Lines layers = writtenLayers();
    EXPECT_EQ(layers.size(), target.size());
    EXPECT_EQ(std::count(layers.begin(), layers.end(), ""), 0);
    Tally t = tally();
    EXPECT_EQ(t[0] + t[1] + t[2] + t[3], targetModel->faceCount);
  }
}

std::string quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Lines splitLines(const std::string& text) {  // without their line ends
  Lines lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    if (lines.back().ends_with('\r')) lines.back().pop_back();
  }
  return lines;
}

// Settings lines as the settings file holds them, with the switch word and line 4 given.
std::string settingsText(int sw, const char* rotationLine) {
  return std::to_string(sw) + " ;sw\r\n0.25 ;0\r\n0.5 ;1\r\n" + rotationLine +
         "\r\n0.01 ;3\r\n0.2  ;4\r\n0.90 ;5\r\n0.5 ;6\r\n0.25 ;7\r\n";
}

DxfFace square(const char* layer) {
  return {layer, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}};
}
DxfFace wall(const char* layer) {  // on the square's edge
  return {layer, {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}};
}

class BatchTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (tool.empty()) GTEST_SKIP() << "morvane-match is not built";
    writeFileBytes(settings, settingsText(0, "0 ;2;[0,1,2 or 3] Texture Rotation"));
    writeFileBytes(single, dxfText({square("own")}));
    writeFileBytes(reference, dxfText({square("WALL"), wall("ROOF")}));
    writeFileBytes(target, dxfText({wall("x"), square("y")}, {"kept comment"}));
  }
  // Exit status (-1: no normal exit), standard output as lines; standard error in `err`.
  std::pair<int, Lines> runTool(const Lines& args,
                                const std::string& program = MORVANE_MATCH_PATH) {
    std::string command = quoted(program);
    for (const std::string& a : args)
      command += " " + quoted(a);
    command += " >" + quoted(folder.file("stdout.txt")) + " 2>" + quoted(folder.file("stderr.txt"));
    int raw = std::system((command + " </dev/null").c_str());
    err = readFileBytes(folder.file("stderr.txt"));
    text = readFileBytes(folder.file("stdout.txt"));
    return {(raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1, splitLines(text)};
  }
  std::string tool = MORVANE_MATCH_PATH, err, text;
  ScratchFolder folder;
  std::string settings = folder.file("param.txt"), single = folder.file("square.dxf"),
              reference = folder.file("r.dxf"), target = folder.file("t.dxf"),
              out = folder.file("out.dxf");
};

TEST_F(BatchTool, BadArgumentsAreUsageErrors) {
  const std::vector<Lines> cases = {{},
                                    {single, single},
                                    {single, single, out, out},
                                    {"--rotation", "4", "", single, out},
                                    {"--rotation", "-1", "", single, out},
                                    {"--rotation", "01", "", single, out},
                                    {"--rotation=x", "", single, out},
                                    {"", single, out, "--rotation"},
                                    {"--settings", "", "", single, out},
                                    {"", single, out, "--settings"},
                                    {"--frobnicate", "", single, out},
                                    {"", "", out},
                                    {"", single, ""}};
  for (const Lines& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(runTool(args), std::make_pair(2, Lines{}));
    EXPECT_NE(err.find("Usage: morvane-match"), std::string::npos);
    EXPECT_FALSE(fs::exists(out));
  }
  for (const char* flag : {"--help", "-h"}) {
    EXPECT_EQ(runTool({flag}).first, 0);
    for (const char* word : {"REFERENCE", "TARGET", "OUTPUT", "NULL", "No Use", "--settings",
                             "param.txt", "--rotation", "Exit status", "Write Error"})
      EXPECT_NE(text.find(word), std::string::npos) << word;
  }
}

// Exit 0 with the tally line when written, 1 when the run failed, 2 when the settings file
// cannot be read, 3 when the output cannot be written; nothing is written or touched unless
// the run succeeds. The output may be the target: replaced whole, comments kept, nothing left
// beside it.
TEST_F(BatchTool, ExitStatusProgressLinesAndOutput) {
  writeFileBytes(folder.file("none.dxf"), "0\r\nEOF\r\n");
  writeFileBytes(folder.file("plain"), "keep me");
  fs::create_directory(folder.file("dir"));
  const Lines writeError = {"Start...", "Done.",
                            "Faces: 0 coincident / 0 by tests / 0 by propagation / 1 unmatched",
                            "Write Error : Terget DXF"};
  struct Case {
    Lines args;
    int status;
    Lines lines, layers;  // no layers: nothing may be written at the output
    const char* err;
  } cases[] = {
      {{"", target, out},
       0,
       {"Start...", "Done.", "Faces: 0 coincident / 0 by tests / 0 by propagation / 2 unmatched"},
       {"x", "y"},
       ""},
      {{reference, target, out},
       0,
       {"Start...", "1 Parts / 2 Faces / 6 Points", "Done.",
        "Faces: 2 coincident / 0 by tests / 0 by propagation / 0 unmatched"},
       {"ROOF", "WALL"},
       ""},
      {{"NO USE", folder.file("none.dxf"), out},
       1,
       {"Start...", "Empty Data : Terget DXF", "Error Quit"},
       {},
       "not written"},
      {{"", single, folder.file("no/such/folder/out.dxf")}, 3, writeError, {}, "does not exist"},
      {{"", single, folder.file("plain/out.dxf")}, 3, writeError, {}, "not a folder"},
      {{"", single, folder.file("dir")}, 3, writeError, {}, "is a folder"},
      {{reference, target, target}, 0, {}, {"ROOF", "WALL"}, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    fs::remove(out);
    Lines args = {"--settings", settings};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto [status, lines] = runTool(args);
    EXPECT_EQ(status, c.status) << err;
    EXPECT_TRUE(c.lines.empty() || lines == c.lines) << text;
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
    EXPECT_EQ(dxfLayers(readFileBytes(c.args.back() == target ? target : out)), c.layers);
  }
  EXPECT_NE(readFileBytes(target).find("999\r\nkept comment\r\n"), std::string::npos);
  EXPECT_EQ(readFileBytes(folder.file("plain")), "keep me");
  EXPECT_TRUE(fs::is_empty(folder.file("dir")));
  Lines names;
  for (const auto& entry : fs::directory_iterator(folder.path))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Lines{"dir", "none.dxf", "param.txt", "plain", "r.dxf", "square.dxf",
                          "stderr.txt", "stdout.txt", "t.dxf"}));
  EXPECT_EQ(runTool({"--settings", folder.file("nothing.txt"), "", single, out}),
            std::make_pair(2, Lines{}));
}

// The bundled example pair: every kind of match takes part and every face gets the layer its
// generator expects.
TEST_F(BatchTool, ExamplePairUsesEveryKindOfMatch) {
  std::string examples = std::string(TEST_DATA_DIR) + "/../../examples/";
  auto [status, lines] =
      runTool({"--settings", settings, examples + "reference.dxf", examples + "target.dxf", out});
  ASSERT_EQ(status, 0) << err;
  ASSERT_EQ(lines.size(), 4u);
  Tally t = {0, 0, 0, -1};
  ASSERT_EQ(std::sscanf(lines[3].c_str(),
                        "Faces: %d coincident / %d by tests / %d by propagation / %d unmatched",
                        &t[0], &t[1], &t[2], &t[3]),
            4);
  EXPECT_TRUE(t[0] > 0 && t[1] > 0 && t[2] > 0 && t[3] == 0) << lines[3];
  EXPECT_EQ(dxfLayers(readFileBytes(out)),
            splitLines(readFileBytes(examples + "expected-layers.txt")));
}

// The rotation comes from the settings beside the program (or --settings), truncated, never
// negative, its remainder by 4 applied, ignored while the box is hidden, --rotation winning;
// neither writes the settings file.
TEST_F(BatchTool, RotationFollowsTheSettingsAndTheOptionWithoutWritingThem) {
  fs::create_directory(folder.file("bin"));
  std::string program = folder.file("bin/morvane-match"), param = folder.file("bin/param.txt");
  fs::copy_file(tool, program);
  struct Case {
    std::string param;  // "" for no param.txt beside the program
    Lines options;
    const char* corner;  // "x y" of the first corner written
  } cases[] = {{"", {}, "0.00000 0.00000"},
               {settingsText(3, "1 ;2;rotation"), {}, "1.00000 0.00000"},
               {settingsText(2, "2.9 ;2;rotation"), {}, "1.00000 1.00000"},
               {settingsText(1, "1 ;2;rotation"), {}, "0.00000 0.00000"},
               {settingsText(3, "-2 ;2;rotation"), {}, "0.00000 0.00000"},
               {settingsText(3, "5 ;2;rotation"), {}, "1.00000 0.00000"},
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
    args.insert(args.end(), {"null", single, out});
    EXPECT_EQ(runTool(args, program).first, 0);
    Lines lines = splitLines(readFileBytes(out));
    auto at = std::find(lines.begin(), lines.end(), "10");
    EXPECT_EQ(at + 3 < lines.end() ? at[1] + " " + at[3] : "", c.corner);
    EXPECT_EQ(readFileBytes(param), c.param);
  }
}

}  // namespace
