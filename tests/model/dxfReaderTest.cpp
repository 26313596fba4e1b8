// The DXF face reader: group codes and coordinates, the per-entity reading rules, comments,
// the BLOCKS section, corner rotation and memory failures.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "model/dxfNumbers.h"
#include "model/dxfReader.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

namespace {

bool sameDouble(double a, double b) {
  if (std::isnan(a) || std::isnan(b))
    return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  return a == b && std::signbit(a) == std::signbit(b);
}

std::string text(const Vec3& v) {
  return "(" + std::to_string(v.x) + ", " + std::to_string(v.y) + ", " + std::to_string(v.z) + ")";
}

struct ExpectedFace {
  std::string layer;
  std::vector<Vec3> corners;
};

// Checks layers and corner positions (bit for bit, NaN by sign) of every face.
void expectFaces(const FaceModel* model, const std::vector<ExpectedFace>& expected,
                 const std::string& label) {
  ASSERT_NE(model, nullptr) << label;
  ASSERT_EQ(model->faceCount, static_cast<int>(expected.size())) << label;
  for (size_t f = 0; f < expected.size(); ++f) {
    EXPECT_EQ(faceLayer(model->faces[f]), expected[f].layer) << label << " face " << f;
    std::vector<Vec3> corners = faceCornerPositions(model, static_cast<int>(f));
    ASSERT_EQ(corners.size(), expected[f].corners.size()) << label << " face " << f;
    for (size_t k = 0; k < corners.size(); ++k) {
      const Vec3& a = corners[k];
      const Vec3& b = expected[f].corners[k];
      EXPECT_TRUE(sameDouble(a.x, b.x) && sameDouble(a.y, b.y) && sameDouble(a.z, b.z))
          << label << " face " << f << " corner " << k << ": " << text(a) << " != " << text(b);
    }
  }
}

// The groups 10..33 of a face in natural order.
std::vector<std::string> cornerGroups(const std::vector<Vec3>& c) {
  std::vector<std::string> lines;
  for (int k = 0; k < static_cast<int>(c.size()); ++k) {
    const double v[3] = {c[k].x, c[k].y, c[k].z};
    for (int axis = 0; axis < 3; ++axis) {
      lines.push_back(std::to_string(10 * (axis + 1) + k));
      char value[64];
      std::snprintf(value, sizeof value, "%.17g", v[axis]);
      lines.push_back(value);
    }
  }
  return lines;
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Vec3 kP{0, 0, 0}, kQ{1, 0, 0}, kS{1, 1, 0}, kT{0, 1, 0}, kU{5, 5, 5}, kV{6, 5, 5},
    kW{5, 6, 5};

struct SilentReports {
  ScratchFolder folder;
  SilentReports() {
    setProgramDirectoryTo(folder.path.c_str());
    setErrorPresenter([](const char*) {});
  }
  ~SilentReports() {
    gfailAllocationAfter(0);
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
};

}  // namespace

TEST(ReadGroupCode, ReadsLikeAtoiButNeverWrapsPastThirtyTwoBits) {
  const struct {
    const char* text;
    int32_t code;
  } cases[] = {
      {"0", 0},
      {"  8", 8},
      {"\t 10", 10},
      {"+8", 8},
      {"-1", -1},
      {"008", 8},
      {"8abc", 8},
      {"8.9", 8},
      {" 999 ", 999},
      {"", 0},
      {"abc", 0},
      {"   ", 0},
      {"-", 0},
      {"+", 0},
      {"+-8", 0},
      {"- 8", 0},
      {"2147483647", std::numeric_limits<int32_t>::max()},
      {"-2147483648", std::numeric_limits<int32_t>::min()},
      {"2147483648", kUnknownGroupCode},
      {"-2147483649", kUnknownGroupCode},
      {"4294967304", kUnknownGroupCode},            // 2^32 + 8 would wrap to 8
      {"4294967296", kUnknownGroupCode},            // 2^32 would wrap to 0
      {"18446744073709551626", kUnknownGroupCode},  // 2^64 + 10
      {"000000000000000000000000000010", 10},
  };
  for (const auto& c : cases)
    EXPECT_EQ(readGroupCode(c.text), c.code) << '"' << c.text << '"';
}

TEST(ReadCoordinate, MatchesStrtodInTheCLocale) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  const std::string zeros(400, '0');
  const std::vector<std::string> inputs = {
      "0",
      "-0",
      "+0",
      "1.5",
      "-1.5",
      "  \t-2.25e3xyz",
      "\v\f\r 7",
      ".5",
      "-.5",
      "5.",
      "1.e5",
      "1e",
      "1e+",
      "1e-",
      "1.5.5",
      "3,5",
      "1_000",
      "  +12.75",
      "00012",
      "0.1",
      "0.3",
      "123456789012345678901234567890",
      "4.9406564584124654e-324",
      "2.4703282292062327e-324",
      "2.4703282292062328e-324",
      "-2.4703282292062327e-324",
      "1e-310",
      "1e-320",
      "2.2250738585072011e-308",
      "1.7976931348623157e308",
      "1.7976931348623158e308",
      "1.7976931348623159e308",
      "-1.7976931348623159e308",
      "1e308",
      "1e309",
      "1e999",
      "-1e999",
      "1e-999",
      "-1e-999",
      "1e-400",
      "0e999999999999",
      "1e99999999999999999999",
      "-1e99999999999999999999",
      "1e-99999999999999999999",
      "1" + zeros,
      "1" + zeros + "e-10",
      "1" + zeros + "e-700",
      "0." + zeros + "1",
      "0." + zeros + "1e10",
      "0." + zeros + "1e700",
      "-0." + zeros + "1",
      "1" + zeros + ".5e-398",
      "inf",
      "-inf",
      "+inf",
      "INF",
      "Infinity",
      "-infinity",
      "infinit",
      "infx",
      "in",
      "nan",
      "-nan",
      "NaN",
      "nan(123)",
      "nan(",
      "nanx",
      "",
      " ",
      ".",
      "-.",
      "e5",
      "-e5",
      "--1",
      "+-1",
      "-+1",
      "- 1",
      "abc",
      "x1",
      "\xff\xfe",
      "3DFACE",
  };
  for (const std::string& input : inputs) {
    double expected = std::strtod(input.c_str(), nullptr);
    double got = readCoordinate(input.c_str());
    EXPECT_TRUE(sameDouble(got, expected))
        << '"' << input.substr(0, 40) << "\": " << got << " != strtod " << expected;
  }
  // Hexadecimal forms are no DXF numbers: only their leading "0" is read.
  EXPECT_TRUE(sameDouble(readCoordinate("0x1p3"), 0.0));
  EXPECT_TRUE(sameDouble(readCoordinate("-0x10"), -0.0));
}

TEST(ReadDxfFaces, ReadsEachFaceByGroupCode) {
  const std::vector<std::string> square = {
      "0", "3DFACE", "8", "Wall", "10", "0",  "20", "0",  "30", "0",  "11", "1",  "21", "0", "31",
      "0", "12",     "1", "22",   "1",  "32", "0",  "13", "0",  "23", "1",  "33", "0",  "0", "EOF"};
  const std::string longLayer(300, 'L');
  const struct {
    const char* name;
    std::vector<std::string> lines;
    std::vector<ExpectedFace> faces;
  } cases[] = {
      {"square with four distinct corners", square, {{"Wall", {kP, kQ, kS, kT}}}},
      {"fourth corner equal to the third gives a triangle",
       join({{"0", "3DFACE", "8", "Wall"}, cornerGroups({kP, kQ, kS, kS}), {"0", "EOF"}}),
       {{"Wall", {kP, kQ, kS}}}},
      {"groups 10..32 then the next 3DFACE",
       join({{"0", "3DFACE", "8", "A"},
             cornerGroups({kP, kQ, kS}),
             {"0", "3DFACE", "8", "B"},
             cornerGroups({kU, kV, kW, kQ}),
             {"0", "EOF"}}),
       {{"A", {kP, kQ, kS}}, {"B", {kU, kV, kW, kQ}}}},
      {"groups 10..32 as the last entity",
       join({{"0", "3DFACE", "8", "A"}, cornerGroups({kP, kQ, kS}), {"0", "ENDSEC", "0", "EOF"}}),
       {{"A", {kP, kQ, kS}}}},
      {"groups 10..32 then another entity type",
       join({{"0", "3DFACE", "8", "A"},
             cornerGroups({kP, kQ, kS}),
             {"0", "LINE", "8", "L"},
             cornerGroups({kU, kV}),
             {"0", "EOF"}}),
       {{"A", {kP, kQ, kS}}}},
      {"no group 8: empty layer, own corners only",
       join({{"0", "3DFACE"},
             cornerGroups({kP, kQ, kS, kT}),
             {"0", "3DFACE", "8", "B"},
             cornerGroups({kU, kV, kW})}),
       {{"", {kP, kQ, kS, kT}}, {"B", {kU, kV, kW}}}},
      {"leading blanks cut, trailing kept",
       join({{"0", "3DFACE", "8", " \t Wall  "}, cornerGroups({kP, kQ, kS})}),
       {{"Wall  ", {kP, kQ, kS}}}},
      {"long layer kept whole",
       join({{"0", "3DFACE", "8", longLayer.c_str()}, cornerGroups({kP, kQ, kS})}),
       {{longLayer, {kP, kQ, kS}}}},
      {"blank and empty group 8 keep the face",
       join({{"0", "3DFACE", "8", "   "},
             cornerGroups({kP, kQ, kS}),
             {"0", "3DFACE", "8", ""},
             cornerGroups({kU, kV, kW})}),
       {{"", {kP, kQ, kS}}, {"", {kU, kV, kW}}}},
      {"first group 8 and first coordinate count",
       join({{"0", "3DFACE", "8", "First", "10", "7", "8", "Second"},
             cornerGroups({kP, kQ, kS}),
             {"21", "9"}}),
       {{"First", {{7, 0, 0}, kQ, kS}}}},
      {"absent coordinates read 0",
       {"0", "3DFACE", "8", "A", "10", "1", "11", "2", "22", "3", "12", "4"},
       {{"A", {{1, 0, 0}, {2, 0, 0}, {4, 3, 0}}}}},
      {"a lone group 23 makes a fourth corner",
       join({{"0", "3DFACE", "8", "A"}, cornerGroups({kP, kQ, kS}), {"23", "4"}}),
       {{"A", {kP, kQ, kS, {0, 4, 0}}}}},
      {"no group 10 drops the face",
       join({{"0", "3DFACE", "8", "A", "20", "1", "11", "1", "12", "2", "0", "3DFACE", "8", "B"},
             cornerGroups({kU, kV, kW})}),
       {{"B", {kU, kV, kW}}}},
      {"group 10 on the last line without a value drops the face",
       {"0", "3DFACE", "8", "A", "20", "1", "10"},
       {}},
      {"entity names: blanks before and text after 3DFACE count, lower case does not",
       join({{"0", "  3DFACE", "8", "A"},
             cornerGroups({kP, kQ, kS}),
             {"0", "3DFACEXYZ", "8", "B"},
             cornerGroups({kU, kV, kW}),
             {"0", "3dface", "8", "C"},
             cornerGroups({kT, kS, kQ}),
             {"0", "3D FACE", "8", "D"},
             cornerGroups({kT, kS, kQ})}),
       {{"A", {kP, kQ, kS}}, {"B", {kU, kV, kW}}}},
      {"a code that does not fit 32 bits is no group 10",
       join({{"0", "3DFACE", "8", "A", "4294967306", "9"}, cornerGroups({kP, kQ, kS})}),
       {{"A", {kP, kQ, kS}}}},
      {"a header with coordinate groups changes nothing",
       join({{"0",  "SECTION", "2",  "HEADER",  "9", "$EXTMIN", "10", "-1",
              "20", "-1",      "30", "-1",      "9", "$LAYER",  "8",  "H",
              "0",  "ENDSEC",  "0",  "SECTION", "2", "ENTITIES"},
             {"0", "3DFACE", "8", "A"},
             cornerGroups({kP, kQ, kS, kT}),
             {"0", "ENDSEC", "0", "EOF"}}),
       {{"A", {kP, kQ, kS, kT}}}},
      {"faces inside BLOCKS are skipped",
       join({{"0", "SECTION", "2", "BLOCKS", "0", "BLOCK", "8", "0", "2", "B1"},
             {"0", "3DFACE", "8", "Blk"},
             cornerGroups({kU, kV, kW}),
             {"0", "ENDBLK", "0", "ENDSEC", "0", "SECTION", "2", "ENTITIES"},
             {"0", "3DFACE", "8", "Ent"},
             cornerGroups({kP, kQ, kS}),
             {"0", "ENDSEC", "0", "EOF"}}),
       {{"Ent", {kP, kQ, kS}}}},
      {"section names compared without surrounding blanks",
       join({{"  0", " SECTION ", "  2", "\tBLOCKS  ", "0", "3DFACE", "8", "Blk"},
             cornerGroups({kU, kV, kW}),
             {"  0", " ENDSEC  "},
             {"0", "3DFACE", "8", "Ent"},
             cornerGroups({kP, kQ, kS})}),
       {{"Ent", {kP, kQ, kS}}}},
      {"BLOCKS only when its name is the group right after SECTION",
       join({{"0", "SECTION", "999", "note", "2", "BLOCKS", "0", "3DFACE", "8", "A"},
             cornerGroups({kP, kQ, kS})}),
       {{"A", {kP, kQ, kS}}}},
      {"an unclosed BLOCKS section skips every later face",
       join({{"0", "SECTION", "2", "BLOCKS", "0", "3DFACE", "8", "A"},
             cornerGroups({kP, kQ, kS}),
             {"0", "SECTION", "2", "ENTITIES", "0", "3DFACE", "8", "B"},
             cornerGroups({kU, kV, kW})}),
       {}},
  };
  for (const auto& c : cases) {
    LineListPtr lines = testLines(c.lines);
    ModelPtr model(readDxfFaces(lines.get(), "Ref", nullptr, 0));
    expectFaces(model.get(), c.faces, c.name);
  }
}

TEST(ReadDxfFaces, EmptyInputGivesAModelWithoutParts) {
  LineListPtr lines = testLines({});
  ModelPtr model(readDxfFaces(lines.get(), "Terget", nullptr, 0));
  ASSERT_NE(model, nullptr);
  EXPECT_STREQ(model->sourceName, "Terget");
  EXPECT_EQ(model->faceCount, 0);
  EXPECT_EQ(model->partCount, 0);
  EXPECT_EQ(model->meanSize, 0.0);
}

TEST(ReadDxfFaces, GroupsAndMeasuresTheFaces) {
  // two separate triangles: two parts
  LineListPtr lines = testLines(join({{"0", "3DFACE", "8", "A"},
                                      cornerGroups({kP, kQ, kS}),
                                      {"0", "3DFACE", "8", "B"},
                                      cornerGroups({kU, kV, kW})}));
  ModelPtr model(readDxfFaces(lines.get(), "Ref", nullptr, 0));
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->partCount, 2);
  EXPECT_EQ(model->faces[0].part, 1);
  EXPECT_EQ(model->faces[1].part, 2);
  EXPECT_GT(model->meanSize, 0.0);
}

TEST(ReadDxfFaces, RotatesCornerOrderButNotSortedCorners) {
  LineListPtr lines = testLines(join({{"0", "3DFACE", "8", "Q"},
                                      cornerGroups({kP, kQ, kS, kT}),
                                      {"0", "3DFACE", "8", "T"},
                                      cornerGroups({kU, kV, kW})}));
  ModelPtr plain(readDxfFaces(lines.get(), "Ref", nullptr, 0));
  ASSERT_NE(plain, nullptr);
  const struct {
    int rotation;
    std::vector<Vec3> quad;
    std::vector<Vec3> triangle;
  } cases[] = {
      {-5, {kP, kQ, kS, kT}, {kU, kV, kW}}, {-1, {kP, kQ, kS, kT}, {kU, kV, kW}},
      {0, {kP, kQ, kS, kT}, {kU, kV, kW}},  {1, {kQ, kS, kT, kP}, {kV, kW, kU}},
      {2, {kS, kT, kP, kQ}, {kW, kU, kV}},  {3, {kT, kP, kQ, kS}, {kU, kV, kW}},
      {4, {kP, kQ, kS, kT}, {kU, kV, kW}},  {5, {kQ, kS, kT, kP}, {kV, kW, kU}},
      {7, {kT, kP, kQ, kS}, {kU, kV, kW}},
  };
  for (const auto& c : cases) {
    ModelPtr model(readDxfFaces(lines.get(), "Ref", nullptr, c.rotation));
    const std::string label = "rotation " + std::to_string(c.rotation);
    expectFaces(model.get(), {{"Q", c.quad}, {"T", c.triangle}}, label);
    for (int f = 0; f < 2; ++f) {
      EXPECT_EQ(0, std::memcmp(model->faces[f].sortedCorners, plain->faces[f].sortedCorners,
                               sizeof(int32_t) * model->faces[f].cornerCount))
          << label;
    }
  }
}

TEST(ReadDxfFaces, CollectsEveryCommentInFileOrder) {
  const std::vector<std::string> file =
      join({{"999", "  header note  ", "0", "SECTION", "2", "BLOCKS", "999", "in blocks", "0",
             "3DFACE", "999", "in a block face", "8", "B"},
            cornerGroups({kU, kV, kW}),
            {"0", "ENDSEC", "  999", "\t", "999", "", " 999", "  padded note"},
            {"0", "3DFACE", "8", "A", "10", "0", "999", "inside a face", "11", "1", "12", "2"},
            {"999", "last value"}});
  LineListPtr comments = testLines({"kept"});
  LineListPtr lines = testLines(file);
  ModelPtr model(readDxfFaces(lines.get(), "Terget", comments.get(), 0));
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(linesOf(comments.get()),
            (std::vector<std::string>{"kept", "header note  ", "in blocks", "in a block face",
                                      "padded note", "inside a face", "last value"}));
  expectFaces(model.get(), {{"A", {kP, {1, 0, 0}, {2, 0, 0}}}}, "comment file");

  // A 999 on the very last line has no value and adds nothing.
  LineListPtr cut = testLines({"999", "a", "999"});
  LineListPtr fewer = testLines({});
  ModelPtr empty(readDxfFaces(cut.get(), "Terget", fewer.get(), 0));
  EXPECT_EQ(linesOf(fewer.get()), (std::vector<std::string>{"a"}));

  // Without a comment list the comments are passed over and the faces are the same.
  ModelPtr reference(readDxfFaces(lines.get(), "Ref", nullptr, 0));
  expectFaces(reference.get(), {{"A", {kP, {1, 0, 0}, {2, 0, 0}}}}, "without comment list");
}

TEST(ReadDxfFaces, MemoryFailureAnywhereReleasesEverythingAndReturnsNull) {
  SilentReports silent;
  LineListPtr lines = testLines(join({{"999", "note", "0", "3DFACE", "8", "A"},
                                      cornerGroups({kP, kQ, kS, kT}),
                                      {"999", "second"},
                                      {"0", "3DFACE", "8", "B"},
                                      cornerGroups({kU, kV, kW}),
                                      {"0", "3DFACE", "8", "A"},
                                      cornerGroups({kQ, kS, kV})}));
  LineListPtr comments = testLines({"before"});
  long before = gallocationCount();
  ModelPtr(readDxfFaces(lines.get(), "Terget", comments.get(), 1));
  long allocations = gallocationCount() - before;
  ASSERT_GT(allocations, 3);
  clearLines(comments.get());
  appendLine(comments.get(), "before");
  const long live = gliveBlocks();
  for (long n = 1; n <= allocations; ++n) {
    gfailAllocationAfter(n);
    FaceModel* model = readDxfFaces(lines.get(), "Terget", comments.get(), 1);
    gfailAllocationAfter(0);
    EXPECT_EQ(model, nullptr) << "failure at allocation " << n;
    releaseModel(model);
    EXPECT_EQ(linesOf(comments.get()), std::vector<std::string>{"before"}) << n;
    EXPECT_EQ(gliveBlocks(), live) << "failure at allocation " << n;
  }
  ModelPtr model(readDxfFaces(lines.get(), "Terget", comments.get(), 1));
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->faceCount, 3);
  EXPECT_EQ(comments->count, 3);
}
