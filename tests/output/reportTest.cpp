// The per-face report and the preview picture through the batch tool: every row names the layer
// written in the DXF file and the kinds add up to the "Faces:" line; the DXF file and the
// progress lines are those of a run without the options; files that cannot be written are
// named on standard error with exit status 4, the DXF file written all the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "support/testSupport.h"

namespace fs = std::filesystem;

namespace {

// The fields of one CSV record (RFC 4180: quoted fields, quotes doubled inside).
Lines csvFields(const std::string& line) {
  Lines fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    bool doubled = quoted && line[i] == '"' && i + 1 < line.size() && line[i + 1] == '"';
    if (line[i] == '"' && !doubled)
      quoted = !quoted;
    else if (line[i] == ',' && !quoted)
      fields.emplace_back();
    else
      fields.back() += line[i], i += doubled;
  }
  return fields;
}

struct Tool {
  ScratchFolder folder;
  // Exit status and what the tool printed, for the arguments ("@x" is file x of the folder).
  std::pair<int, std::string> run(Lines args, const Lines& more = {}) {
    args.insert(args.end(), more.begin(), more.end());
    for (std::string& a : args)
      a = a[0] == '@' ? folder.file(a.substr(1)) : a;
    args.insert(args.begin(), MORVANE_MATCH_PATH);
    std::pair<int, std::string> result;
    result.first = runProgram(args, folder.path, &result.second);
    return result;
  }
};

}  // namespace

TEST(FaceReport, RowsNameTheWrittenLayersAndTheKindsAddUpToTheFacesLine) {
  if (std::string(MORVANE_MATCH_PATH).empty()) GTEST_SKIP() << "morvane-match is not built";
  Tool tool;
  const std::string examples = std::string(TEST_DATA_DIR) + "/../../examples/";
  // Layers that need quotes; the target's far face matches nothing and keeps its "" (Obj1).
  const std::vector<Vec3> a = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}},
                          b = {{0, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  writeFileBytes(tool.folder.file("r.dxf"), dxfText({{"a,b", a}, {"say \"hi\" ", b}}));
  writeFileBytes(tool.folder.file("t.dxf"),
                 dxfText({{"", b}, {"", a}, {"", {{9, 9, 9}, {10, 9, 9}, {9, 10, 9}}}}));
  for (Lines pair : {Lines{examples + "reference.dxf", examples + "target.dxf"},
                     Lines{examples + "reference.dxf", examples + "target.dxf", "--align"},
                     Lines{"@r.dxf", "@t.dxf"}, Lines{"--keep-target", "@r.dxf", "@t.dxf"}}) {
    pair.push_back("@plain.dxf");
    auto [plainStatus, plain] = tool.run(pair);
    pair.back() = "@out.dxf";
    auto [status, text] = tool.run(pair, {"--report", "@r.csv", "--preview", "@p.png"});
    plain.replace(plain.find("Written: "), std::string::npos,
                  "Written: " + tool.folder.file("out.dxf"));
    ASSERT_TRUE(plainStatus == 0 && status == 0 && text.starts_with(plain)) << text;
    EXPECT_EQ(readFileBytes(tool.folder.file("out.dxf")),
              readFileBytes(tool.folder.file("plain.dxf")));
    EXPECT_EQ(readFileBytes(tool.folder.file("p.png")).substr(0, 4), "\x89PNG");
    Lines rows = splitText(readFileBytes(tool.folder.file("r.csv")), '\n'),
          layers = dxfLayers(readFileBytes(tool.folder.file("out.dxf")));
    ASSERT_EQ(rows.size(), layers.size() + 1);
    EXPECT_EQ(rows[0], "face,layer,how,reference_face,part,guess\r");
    std::map<std::string, int> kinds;
    for (size_t i = 1; i < rows.size(); ++i) {
      ASSERT_TRUE(rows[i].ends_with('\r'));
      Lines f = csvFields(rows[i].substr(0, rows[i].size() - 1));
      ASSERT_EQ(f.size(), 6u) << rows[i];
      EXPECT_TRUE(f[0] == std::to_string(i - 1) && f[1] == layers[i - 1] &&
                  f[3].empty() == (f[2] == "unmatched") && f[5] == "0")
          << rows[i];
      ++kinds[f[2]];
    }
    std::string facesLine =
        "Faces: " + std::to_string(kinds["coincident"]) + " coincident / " +
        (std::count(pair.begin(), pair.end(), "--align") ? std::to_string(kinds["aligned"]) + " aligned / " : "") +
        std::to_string(kinds["tests"]) + " by tests / " + std::to_string(kinds["propagation"]) +
        " by propagation / " + std::to_string(kinds["unmatched"]) + " unmatched\n";
    EXPECT_NE(text.find(facesLine), std::string::npos) << text << facesLine;
  }
}

TEST(FaceReport, PicturesAndReportsThatCannotBeWrittenGiveStatusFour) {
  if (std::string(MORVANE_MATCH_PATH).empty()) GTEST_SKIP() << "morvane-match is not built";
  Tool tool;
  const double nan = std::nan("");
  writeFileBytes(tool.folder.file("t.dxf"), dxfText({{"x", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}},
                                                     {"y", {{nan, 0, 0}, {1, 0, 0}, {0, 1, 0}}}}));
  struct Case {
    Lines options;
    int status;
    const char* says;  // on standard error
  } cases[] = {
      {{"--preview", "@p.png", "--report", "@r.csv"}, 0, ""},  // no reference: "no faces"
      {{"--report", "@no/r.csv"}, 4, "no/r.csv was not written: its folder does not exist"},
      {{"--preview", "@no/p.png", "--report", "@r.csv"}, 4, "no/p.png was not written: its folder"},
      {{"--preview", "@"}, 4, "was not written: it is a folder"},
      {{"--view", "top"}, 2, "--view needs --preview"},
      {{"--preview", "@p.png", "--view", "north"}, 2, "--view takes iso, front, top or side"},
      {{"--report", ""}, 2, "--report needs a value"},
  };
  for (const Case& c : cases) {
    fs::remove(tool.folder.file("out.dxf")), fs::remove(tool.folder.file("r.csv"));
    auto [status, text] = tool.run(c.options, {"NULL", "@t.dxf", "@out.dxf"});
    EXPECT_TRUE(status == c.status && text.find(c.says) != std::string::npos) << text;
    EXPECT_EQ(fs::exists(tool.folder.file("out.dxf")), c.status != 2) << text;
    bool report = std::find(c.options.begin(), c.options.end(), "@r.csv") != c.options.end();
    EXPECT_EQ(fs::exists(tool.folder.file("r.csv")), report && c.status != 2) << text;
  }
}
