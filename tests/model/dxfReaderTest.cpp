// The DXF face reader: group codes and coordinates, corner rotation, comments and memory
// failures. How faces are read from whole files is in dxfReaderFilesTest.cpp.
#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
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

// A line list from lines separated by '|'.
LineListPtr pipedLines(const std::string& piped) {
  std::vector<std::string> lines;
  std::istringstream in(piped);
  for (std::string line; std::getline(in, line, '|');)
    lines.push_back(line);
  return testLines(lines);
}

}  // namespace

TEST(ReadGroupCode, ReadsLikeStrtollButNeverWrapsPastThirtyTwoBits) {
  // 2^31, -2^31 - 1, 2^32 + 8, 2^32 and 2^64 + 10 are beyond 32 bits: no known code, even
  // where a wrap would give 8, 0 or 10.
  const char* piped =
      "0|  8|\t 10|+8|-1|008|8abc|8.9| 999 ||abc|   |-|+|+-8|- 8|000000000000000000000000000010|"
      "2147483647|-2147483648|2147483648|-2147483649|4294967304|4294967296|18446744073709551626";
  for (const std::string& text : linesOf(pipedLines(piped).get())) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    bool fits = value >= std::numeric_limits<int32_t>::min() &&
                value <= std::numeric_limits<int32_t>::max();
    EXPECT_EQ(readGroupCode(text.c_str()), fits ? value : kUnknownGroupCode) << '"' << text << '"';
  }
}

TEST(ReadCoordinate, MatchesStrtodInTheCLocale) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  // Inputs separated by '|'; Z stands for 400 zeros.
  const char* piped =
      "0|-0|+0|1.5|-1.5|  \t-2.25e3xyz|\v\f\r 7|.5|-.5|5.|1.e5|1e|1e+|1e-|1.5.5|3,5|1_000|"
      "  +12.75|00012|0.1|0.3|123456789012345678901234567890|4.9406564584124654e-324|"
      "2.4703282292062327e-324|2.4703282292062328e-324|-2.4703282292062327e-324|1e-310|"
      "1e-320|2.2250738585072011e-308|1.7976931348623157e308|1.7976931348623158e308|"
      "1.7976931348623159e308|-1.7976931348623159e308|1e308|1e309|1e999|-1e999|1e-999|"
      "-1e-999|1e-400|0e999999999999|1e99999999999999999999|-1e99999999999999999999|"
      "1e-99999999999999999999|1Z|1Ze-10|1Ze-700|0.Z1|0.Z1e10|0.Z1e700|-0.Z1|1Z.5e-398|"
      "inf|-inf|+inf|INF|Infinity|-infinity|infinit|infx|in|nan|-nan|NaN|nan(123)|nan(|nanx|"
      "| |.|-.|e5|-e5|--1|+-1|-+1|- 1|abc|x1|\xff\xfe|3DFACE";
  for (std::string input : linesOf(pipedLines(piped).get())) {
    if (size_t z = input.find('Z'); z != std::string::npos) input.replace(z, 1, 400, '0');
    double expected = std::strtod(input.c_str(), nullptr);
    double got = readCoordinate(input.c_str());
    EXPECT_TRUE(sameDouble(got, expected))
        << '"' << input.substr(0, 40) << "\": " << got << " != strtod " << expected;
  }
  // Hexadecimal forms are no DXF numbers: only their leading "0" is read.
  EXPECT_TRUE(sameDouble(readCoordinate("0x1p3"), 0.0));
  EXPECT_TRUE(sameDouble(readCoordinate("-0x10"), -0.0));
}

TEST(ReadDxfFaces, RotatesCornerOrderButNotSortedCorners) {
  // Corner k of the quad lies at x = k, of the triangle at x = 4 + k: letters 'a' + x below.
  LineListPtr lines =
      pipedLines("0|3DFACE|8|Q|10|0|11|1|12|2|13|3|0|3DFACE|8|T|10|4|11|5|12|6|0|EOF");
  ModelPtr plain(readDxfFaces(lines.get(), "Ref", nullptr, 0));
  ASSERT_NE(plain, nullptr);
  const struct {
    int rotation;
    const char *quad, *triangle;
  } cases[] = {{-5, "abcd", "efg"}, {-1, "abcd", "efg"}, {0, "abcd", "efg"},
               {1, "bcda", "fge"},  {2, "cdab", "gef"},  {3, "dabc", "efg"},
               {4, "abcd", "efg"},  {5, "bcda", "fge"},  {7, "dabc", "efg"}};
  for (const auto& c : cases) {
    SCOPED_TRACE("rotation " + std::to_string(c.rotation));
    ModelPtr model(readDxfFaces(lines.get(), "Ref", nullptr, c.rotation));
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->faceCount, 2);
    for (int f = 0; f < 2; ++f) {
      std::string letters;
      for (const Vec3& corner : faceCornerPositions(model.get(), f))
        letters += static_cast<char>('a' + corner.x);
      EXPECT_EQ(letters, f == 0 ? c.quad : c.triangle);
      EXPECT_EQ(std::to_array(model->faces[f].sortedCorners),
                std::to_array(plain->faces[f].sortedCorners));
    }
  }
}

TEST(ReadDxfFaces, CollectsEveryCommentInFileOrder) {
  LineListPtr lines = pipedLines(
      "999|  header note  |0|SECTION|2|BLOCKS|999|in blocks|0|3DFACE|999|in a block face|8|B|10|5|"
      "0|ENDSEC|  999|\t|999|| 999|  padded note|0|3DFACE|8|A|10|0|999|inside a face|11|1|12|2|"
      "999|last value|999");
  LineListPtr comments = testLines({"kept"});
  ModelPtr model(readDxfFaces(lines.get(), "Terget", comments.get(), 0));
  EXPECT_EQ(linesOf(comments.get()),
            (std::vector<std::string>{"kept", "header note  ", "in blocks", "in a block face",
                                      "padded note", "inside a face", "last value"}));
  const std::vector<std::string> faces = {"A: (0 0 0) (1 0 0) (2 0 0)"};
  EXPECT_EQ(faceTexts(model.get()), faces);
  // Without a comment list the comments are passed over and the faces are the same.
  ModelPtr reference(readDxfFaces(lines.get(), "Ref", nullptr, 0));
  EXPECT_EQ(faceTexts(reference.get()), faces);
}

TEST(ReadDxfFaces, MemoryFailureAnywhereReleasesEverythingAndReturnsNull) {
  ScratchFolder folder;  // receives "perr.txt"
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter([](const char*) {});
  LineListPtr lines = pipedLines(
      "999|note|0|3DFACE|8|A|10|0|11|1|21|0|12|1|22|1|13|0|23|1|999|second|"
      "0|3DFACE|8|B|10|5|20|5|11|6|12|5|22|6|0|3DFACE|8|A|10|1|11|1|21|1|12|6");
  LineListPtr comments = testLines({"before"});
  long before = gallocationCount();
  ModelPtr(readDxfFaces(lines.get(), "Terget", comments.get(), 1));
  long allocations = gallocationCount() - before;
  ASSERT_GT(allocations, 3);
  comments = testLines({"before"});
  const long live = gliveBlocks();
  for (long n = 1; n <= allocations; ++n) {
    SCOPED_TRACE("failure at allocation " + std::to_string(n));
    gfailAllocationAfter(n);
    FaceModel* model = readDxfFaces(lines.get(), "Terget", comments.get(), 1);
    gfailAllocationAfter(0);
    EXPECT_EQ(model, nullptr);
    releaseModel(model);
    EXPECT_EQ(linesOf(comments.get()), std::vector<std::string>{"before"});
    EXPECT_EQ(gliveBlocks(), live);
  }
  setErrorPresenter(nullptr);
  setProgramDirectory();
  ModelPtr model(readDxfFaces(lines.get(), "Terget", comments.get(), 1));
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->faceCount, 3);
  EXPECT_EQ(comments->count, 3);
}
