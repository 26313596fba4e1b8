// The face model and its reader: vectors bit for bit; addPoint, groupParts and measureParts
// equal to their plain statements (tests/reference) on random models; allocation failures; the
// DXF reader on the cases of tests/data/model (numbers against the C library, reading rules,
// rotation, comments, parts, worked measures), malformed bytes and real writers' files.
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <fstream>
#include <random>

#include "model/dxfNumbers.h"
#include "model/dxfReader.h"
#include "model/partGrouping.h"
#include "reference/faceModelReference.h"
#include "reference/lineDxfReader.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

namespace {

// Numbers as the shortest decimals that read back, each after a blank.
std::string shortest(std::initializer_list<double> values) {
  std::string text;
  for (double v : values) {
    char number[32];
    text.append(1, ' ').append(number, std::to_chars(number, number + 32, v).ptr);
  }
  return text;
}

std::string replaced(std::string text, const std::string& key, const std::string& by) {
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + by.size()))
    text.replace(at, key.size(), by);
  return text;
}

std::vector<int32_t> partsOf(const FaceModel& model, bool points) {
  std::vector<int32_t> parts;
  for (int32_t i = 0; i < (points ? model.pointCount : model.faceCount); ++i)
    parts.push_back(points ? model.points[i].part : model.faces[i].part);
  return parts;
}

// A grouped and measured model against the plain grouping and measures; the sorted corners of
// every face are its corners ascending (entry 3 of a three-corner face as it is), no partners.
void expectAsPlain(const FaceModel& model) {
  PlainGrouping plain = plainGroupParts(model);
  EXPECT_TRUE(model.partCount == plain.partCount && partsOf(model, false) == plain.faceParts &&
              partsOf(model, true) == plain.pointParts);
  EXPECT_EQ(measureTexts(model), plainMeasureTexts(model));
  for (int32_t f = 0; f < model.faceCount; ++f) {
    const ModelFace& face = model.faces[f];
    const int32_t *sorted = face.sortedCorners, n = face.cornerCount;
    EXPECT_TRUE(std::is_sorted(sorted, sorted + n) && (n == 4 || sorted[3] == face.corners[3]) &&
                std::is_permutation(sorted, sorted + n, face.corners) && face.partnerFace == -1 &&
                face.matchedFace == -1)
        << "face " << f;
  }
}

struct Read {
  std::string faces;  // faceTexts
  std::vector<std::string> comments = {"kept"}, parts;
  ModelPtr model;
  std::string report;  // faces per form other than 3DFACE, the report's counts, "| note" each
};

// Loads and reads a file as a run does; checks the model with expectAsPlain and against a read
// without rotation nor comments; with `failures`, failing any one allocation of the read must
// give null, leave the comments alone and leak nothing.
Read readPath(const std::string& path, int rotation = 0, bool failures = false) {
  LineListPtr comments = testLines({"kept"});
  Read read;
  int status = 0;
  long first = gallocationCount();
  DxfReadReport r{};
  read.model.reset(readDxfFile(path.c_str(), "Terget", comments.get(), rotation, &status, &r));
  if (status == kLoadNotOpened) read.model.reset(readDxfBytes(nullptr, 0, "Terget", nullptr, 0));
  const long allocations = gallocationCount() - first;
  if (!read.model) return ADD_FAILURE() << path, std::move(read);
  char counts[160];
  read.report.assign(counts, std::snprintf(counts, 160,
                                           "%d %d %d placed %d lost %d solids %d "
                                           "binary %d more %d",
                                           r.faces[1], r.faces[2], r.faces[3], r.placedFaces,
                                           r.lostFaces, r.solids, r.binary, r.moreNotes));
  for (const std::string& note : linesOf(r.notes))
    read.report += "| " + note;
  freeLineList(r.notes);
  const FaceModel& model = *read.model;
  read.comments = linesOf(comments.get());
  read.faces = faceTexts(model);
  for (int32_t part : partsOf(model, false))
    read.parts.push_back(std::to_string(part));
  EXPECT_EQ(model.faceCount > 0, model.partCount > 0 && model.parts);
  if (model.faceCount > 0) expectAsPlain(model);
  ModelPtr plain(
      readDxfFile(path.c_str(), "Ref", nullptr, 0, &status));  // no rotation nor comments
  if (!plain) plain.reset(readDxfBytes(nullptr, 0, "Ref", nullptr, 0));
  EXPECT_TRUE(plain->faceCount == model.faceCount && (rotation || faceTexts(*plain) == read.faces));
  for (int32_t f = 0; f < model.faceCount && f < plain->faceCount; ++f)
    EXPECT_EQ(std::to_array(model.faces[f].sortedCorners),
              std::to_array(plain->faces[f].sortedCorners));
  comments = testLines({"kept"});
  for (long n = 1, live = gliveBlocks(); failures && n <= allocations; ++n) {
    gfailAllocationAfter(n);
    FaceModel* failed = readDxfFile(path.c_str(), "Terget", comments.get(), rotation, &status);
    gfailAllocationAfter(0);
    releaseModel(failed);
    EXPECT_TRUE(!failed && linesOf(comments.get()) == std::vector<std::string>{"kept"} &&
                gliveBlocks() == live)
        << path << ": allocation " << n;
  }
  return read;
}

}  // namespace

// The cases of tests/data/model/vectors.txt, numbers compared bit for bit.
TEST(Vectors, SnapNormalizeAndDivisorBitForBit) {
  std::ifstream table(testDataPath("model/vectors.txt"), std::ios::binary);
  int rows = 0;
  for (std::string line; std::getline(table, line);) {
    std::vector<double> v;  // the row's numbers: the arguments, then the result
    for (const std::string& word : splitText(line.substr(std::min<size_t>(1, line.size())), ' '))
      if (!word.empty()) v.push_back(std::strtod(word.c_str(), nullptr));
    Vec3 got{}, expected{};
    if (line[0] == 's') got.x = snapUnit(v[0]), expected.x = v[1];
    if (line[0] == 'd') got.x = absAtLeastOne(v[0]), expected.x = v[1];
    if (line[0] == 'n') got = normalizeSnapped({v[0], v[1], v[2]}), expected = {v[3], v[4], v[5]};
    rows += line[0] != '#';
    EXPECT_EQ(hexNumbers({got.x, got.y, got.z}), hexNumbers({expected.x, expected.y, expected.z}))
        << line;
  }
  EXPECT_EQ(rows, 22);
}

TEST(AddPoint, EqualsThePlainScanOnRandomInput) {
  // Both zeros, NaNs of several bit patterns, infinities, the smallest denormal and 1e308, mixed
  // with small numbers: many positions repeat and over a thousand differ (the index grows).
  const uint64_t special[] = {
      0x0000000000000000, 0x8000000000000000, 0x7FF8000000000000, 0x7FF8000000000001,
      0x0000000000000001, 0xFFF8000000000000, 0x7FF0000000000001, 0x7FF0000000000000,
      0xFFF0000000000000, 0x7FE1CCF385EBC8A0,
  };
  std::mt19937 random(20240601);
  auto coordinate = [&]() {
    uint64_t bits = special[random() % std::size(special)];
    return random() % 2 ? std::bit_cast<double>(bits) : (random() % 8) * 0.125;
  };
  ModelPtr model(createModel("Ref"));
  PlainPointList scan;
  for (int i = 0; i < 4000; ++i) {
    double x = coordinate(), y = coordinate(), z = coordinate();
    ASSERT_EQ(addPoint(model.get(), x, y, z), scan.add(x, y, z)) << i;
  }
  EXPECT_TRUE(model->pointCount > 1024 && size_t(model->pointCount) == scan.keys.size() &&
              model->pointCapacity >= model->pointCount);
  for (int32_t i = 0; i < model->pointCount; ++i)  // the points hold what was added, in order
    ASSERT_TRUE(scan.add(model->points[i].x, model->points[i].y, model->points[i].z) == i &&
                model->points[i].partner == -1)
        << i;
}

TEST(FaceModel, NamesFailedFacesAppendedPointsAndReleasedRunData) {
  QuietReports reports;
  long live = gliveBlocks();
  referenceModel = createModel("Ref");
  targetModel = createModel("Terget");
  commentList = testLines({"comment"}).release();
  const Vec3 square[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  ASSERT_TRUE(addFace(targetModel, nullptr, square) && groupParts(targetModel) &&
              measureParts(targetModel));
  EXPECT_STREQ(targetModel->faces[0].layer, "");  // no layer given
  for (long n = 1; n < 8; ++n) {  // a face of new points on a new layer fails at each step
    const Vec3 moved[4] = {{5, 0, 0}, {6, 0, 0}, {6, 1, 0}, {5, 1, 0}};
    gfailAllocationAfter(n);
    int added = addFace(referenceModel, "Roof", moved);
    gfailAllocationAfter(0);
    EXPECT_TRUE(added || (referenceModel->faceCount == 0 && referenceModel->pointCount == 0));
  }
  ModelPtr model(createModel("Ref"));  // points appended directly (as by hand) are found too
  ASSERT_EQ(addPoint(model.get(), 1, 2, 3), 0);
  model->points[1].x = model->points[2].x = 7;
  model->pointCount = 3;
  EXPECT_TRUE(addPoint(model.get(), 7, 0, 0) == 1 && addPoint(model.get(), 1, 2, 3) == 0);
  model->pointCount = 1;  // taken away again: added anew
  EXPECT_TRUE(addPoint(model.get(), 7, 0, 0) == 1 && model->pointCount == 2);
  releaseRunData();
  EXPECT_TRUE(referenceModel == nullptr && targetModel == nullptr && commentList == nullptr);
  releaseRunData(), releaseModel(nullptr), model.reset();  // nothing left: does nothing
  EXPECT_EQ(gliveBlocks(), live);
}

TEST(GroupParts, EqualsTheFloodFillAndPlainMeasuresOnRandomModels) {
  // Bumpy grids shuffled together: parts interleave and chains run against their index order,
  // so the flood fill needs many passes; the bumps make every measure depend on the order of
  // its operations.
  std::mt19937 random(7);
  for (int trial = 0; trial < 300 && !HasFailure(); ++trial) {
    std::vector<SurfaceFace> faces;
    for (int o = 1 + random() % 5; o > 0; --o) {
      const uint32_t seed = random(), columns = 1 + random() % 7, rows = 1 + random() % 4;
      auto grid = randomSurface(seed, columns, rows, {10.0 * o, 0, 0});
      faces.insert(faces.end(), grid.begin(), grid.end());
    }
    ModelPtr model = buildSurfaceModel(shuffledSurface(faces, random(), {0.1, 0.3, 0.7}));
    ASSERT_TRUE(model);
    expectAsPlain(*model);
  }
}

// A large file's faces are added on a second thread while its text is read and its pages are
// handed back: the model of a read that keeps the file (one thread, nothing handed back). Any
// allocation failing on either thread gives null and leaks nothing.
TEST(ReadDxfFaces, LargeFileAsReadOnOneThread) {
  std::vector<SurfaceFace> surface;
  for (int o = 0; o < 12; ++o) {
    auto grid = randomSurface(o + 7, 40, 40, {50.0 * o, 0, 0});
    surface.insert(surface.end(), grid.begin(), grid.end());
  }
  surface = shuffledSurface(surface, 5, {0, 0, 0});
  static const char* const kLayers[] = {"0", "Wall", "roof tiles", "Wall ", ""};
  std::vector<DxfFace> faces;
  for (size_t i = 0; i < surface.size(); ++i)
    faces.push_back({kLayers[i % 5], {surface[i].begin(), surface[i].end()}});
  QuietReports folder;
  const std::string path = folder.file("large.dxf");
  writeFileBytes(path, dxfText(faces));
  int status = 0;
  const long before = gliveBlocks(), first = gallocationCount();
  ModelPtr fed(readDxfFile(path.c_str(), "Terget", nullptr, 0, &status));
  const long allocations = gallocationCount() - first;
  ModelPtr kept(readDxfFile(path.c_str(), "Terget", nullptr, 0, &status, nullptr, kDxfKeepSource));
  ASSERT_TRUE(fed && kept && fed->faceCount > 20000);
  EXPECT_EQ(faceTexts(*fed), faceTexts(*kept));
  expectAsPlain(*fed);
  fed.reset(), kept.reset();
  for (long n : {1L, 2L, 3L, 5L, 9L, allocations / 3, allocations / 2, allocations - 1}) {
    gfailAllocationAfter(n);
    EXPECT_FALSE(ModelPtr(readDxfFile(path.c_str(), "Terget", nullptr, 0, &status))) << n;
    gfailAllocationAfter(0);
    EXPECT_EQ(gliveBlocks(), before) << n;
  }
}

TEST(ReadDxfFaces, NumbersLikeTheCLibraryInTheCLocale) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  std::ifstream numbers(testDataPath("model/numbers.txt"), std::ios::binary);
  for (std::string line; std::getline(numbers, line);) {
    const std::string text = replaced(line.substr(2), "Z", std::string(400, '0'));
    const char* input = text.c_str();
    long long code = std::strtoll(input, nullptr, 10);
    double coordinate = line[0] == 'c' ? std::strtod(input, nullptr) : text[0] == '-' ? -0.0 : 0;
    EXPECT_TRUE(line[0] == '#' ||
                (line[0] == 'g'
                     ? readGroupCode(input) == (code == int32_t(code) ? code : kUnknownGroupCode)
                     : hexNumbers({readCoordinate(input)}) == hexNumbers({coordinate})))
        << input;
  }
}

TEST(ReadDxfFaces, ReadingRulesRotationCommentsPartsAndMemoryFailure) {
  const std::string tri = "10|0|20|0|30|0|11|1|21|0|31|0|12|0|22|1|32|0";
  const std::string far = "10|5|20|5|30|5|11|6|21|5|31|5|12|5|22|6|32|5";
  const std::string T = " (0 0 0) (1 0 0) (0 1 0)", F = " (5 5 5) (6 5 5) (5 6 5)";
  auto expand = [](std::string text, const std::string& t, const std::string& f) {
    return replaced(replaced(text, "{T}", t), "{F}", f);
  };
  QuietReports folder;
  std::string piped;
  Read expected;
  int rotation = 0, cases = 0;
  std::ifstream data(testDataPath("model/reading.txt"), std::ios::binary);
  for (std::string line; std::getline(data, line);) {
    const std::string value = line.substr(std::min<size_t>(2, line.size()));
    if (line[0] == '<') piped += value;
    if (line[0] == '@') rotation = std::stoi(value);
    if (line[0] == '*') expected.comments = splitText("kept|" + value, '|');
    if (line[0] == '%') expected.parts = splitText(value, ' ');
    if (line[0] == '!') expected.report = value;
    if (line[0] != '=') continue;
    writeFileBytes(folder.file("case.dxf"), replaced(expand(piped, tri, far), "|", "\n") + "\n");
    Read read = readPath(folder.file("case.dxf"), rotation, true);
    EXPECT_TRUE(read.faces == expand(value, T, F) && read.comments == expected.comments &&
                (expected.parts.empty() || read.parts == expected.parts) &&
                (expected.report.empty() || read.report == expected.report))
        << piped << "\ngives " << read.faces << "\n"
        << read.report;
    piped.clear(), expected = Read{}, rotation = 0, ++cases;
  }
  EXPECT_GT(cases, 60);
  // The worked measures, expected in the file's comments that start with "= ".
  Read worked = readPath(testDataPath("model/worked.dxf"), 0, true);
  const FaceModel& m = *worked.model;
  std::vector<std::string> measures;
  for (const std::string& comment : worked.comments)
    if (comment.starts_with("= ")) measures.push_back(comment);
  EXPECT_EQ(measures.size(), m.partCount + m.faceCount + 1u);
  for (int32_t p = 0; p < m.partCount; ++p)
    EXPECT_EQ(measures[p], "= part sums" + shortest({m.parts[p].radiusSum, m.parts[p].size}));
  for (int32_t f = 0; f < m.faceCount; ++f) {
    const ModelFace& face = m.faces[f];
    EXPECT_EQ(measures[m.partCount + f],
              "= face" + shortest({face.perimeter, face.normal.x, face.normal.y, face.normal.z}));
  }
  EXPECT_EQ(measures.back(), "= mean" + shortest({m.meanSize, m.faces[0].scaledCentre.x}));
}

TEST(ReadDxfFaces, MalformedBytesLineEndsAndRealWritersFiles) {
  const std::string quad =
      "0\n3DFACE\n8\nA\n10\n0\n20\n0\n30\n0\n11\n1\n21\n0\n31\n0\n12\n0\n22\n1\n32\n0\n";
  const std::string A = "A: (0 0 0) (1 0 0) (0 1 0)", huge(1 << 20, 'L');
  std::string garbage(1 << 16, '\0');  // binary, NULs included, from a fixed generator
  std::generate(garbage.begin(), garbage.end(), std::mt19937(12345));
  std::vector<std::pair<std::string, std::string>> cases = {
      {replaced(quad, "A\n", "A" + std::string(1, '\0') + "junk\n"), A},  // a NUL ends its line
      {"0\n3DFACE\n8\n" + huge + "\n10\n1\n", huge + ": (1 0 0) (0 0 0) (0 0 0)"},
      {std::string(8 << 20, '7'), ""},
      {"\n\n\r\n\r\r", ""},
      {"", ""},
      {garbage, ""}};
  const std::string crlf = replaced(quad + "13\n1\n23\n1\n33\n4", "\n", "\r\n");
  cases.push_back({crlf, A + " (1 1 4)"});  // the last line without a break
  ScratchFolder folder;
  for (const auto& [bytes, faces] : cases) {
    writeFileBytes(folder.file("case.dxf"), bytes);
    EXPECT_EQ(readPath(folder.file("case.dxf")).faces, faces) << bytes.substr(0, 300);
  }
  EXPECT_EQ(readPath(folder.file("missing.dxf")).faces + readPath(folder.path).faces, "");
  // Counts from SOURCES.md: faces outside BLOCKS, all on layer "0"; distinct points (-1: not
  // checked); comments.
  const std::tuple<const char*, size_t, int, const char*> files[] = {
      {"PinkEggFromLW.dxf", 288, 266, "kept|DXF File Generated by LightWave 3D(TM)"},
      {"3dface.dxf", 44, -1, "kept"},
      {"POLI-ALL210_12.DXF", 1, 4, "kept"}};
  for (const auto& [file, faces, points, comments] : files) {
    Read read = readPath(testDataPath(std::string("real/") + file));
    EXPECT_TRUE(read.faces.starts_with("0: ") && splitText(read.faces, '/').size() == faces &&
                splitText(replaced(read.faces, " / 0: ", "|"), '|').size() == faces &&
                (points < 0 || read.model->pointCount == points) &&
                read.comments == splitText(comments, '|'))
        << file;
  }
  EXPECT_EQ(readPath(testDataPath("real/POLI-ALL210_12.DXF")).faces,
            "0: (-6 13 0) (18 13 0) (18 -11 0) (-6 -11 0)");
}

// The reader walks the bytes as the line-list reader walked the lines (tests/reference): random
// texts of DXF words, numbers, NULs and every kind of line end, odd group counts and trailing
// garbage give the same faces, layers, parts and comments, and leave the bytes as they were. A
// file of 24 MiB read from disk (its pages handed back while reading) gives what its bytes give.
TEST(ReadDxfFaces, BytesReadAsTheLineListReaderReadsLines) {
  const std::vector<std::string> words = {"0",           "8",       "10",
                                          "20",          "30",      "11",
                                          "21",          "31",      "12",
                                          "22",          "32",      "13",
                                          "23",          "33",      "2",
                                          "999",         " 10 ",    "+8",
                                          "99999999999", "3DFACE",  " 3DFACEX",
                                          "3dface",      "SECTION", "BLOCKS",
                                          "ENDSEC",      "1.5",     "-0",
                                          "nan",         "1e999",   "",
                                          "  ",          " Wall ",  std::string("a\0b", 3),
                                          "\xC4"};
  const std::vector<std::string> ends = {"\r\n", "\n", "\r", "\n\r", "\r\r\n", "\r\r", "\n\n"};
  std::mt19937 random(11);
  for (int trial = 0; trial < 3000; ++trial) {
    std::string text;
    for (int n = random() % 400; n > 0; --n) {
      const bool face = random() % 3 == 0;  // whole 3DFACE groups make faces likely
      text += face ? "0\n3DFACE\n8\nL" + std::to_string(random() % 4) + "\n1" +
                         std::to_string(random() % 4) + "\n" + std::to_string(random() % 3)
                   : words[random() % words.size()];
      text += ends[random() % (random() % 4 ? 1 : ends.size())];
    }
    if (random() % 2) text += words[random() % words.size()];  // no line end, or garbage
    const PlainDxf plain = plainReadDxf(text);
    std::string expected;  // as faceTexts writes them; a fourth corner equal to the third drops
    for (size_t f = 0; f < plain.layers.size(); ++f) {
      const double* c = plain.corners[f].data();
      expected.append(f ? " / " : "").append(plain.layers[f]).append(":");
      for (int k = 0; k < (std::memcmp(c + 6, c + 9, 24) ? 4 : 3); ++k) {
        char corner[96];
        expected.append(corner, std::snprintf(corner, 96, " (%.17g %.17g %.17g)", c[3 * k],
                                              c[3 * k + 1], c[3 * k + 2]));
      }
    }
    LineListPtr comments(newLineList());
    std::string bytes = text;
    ModelPtr model(readDxfBytes(bytes.data(), bytes.size(), "Terget", comments.get(), 0));
    ASSERT_TRUE(model && bytes == text);
    ASSERT_TRUE(faceTexts(*model) == expected && linesOf(comments.get()) == plain.comments)
        << trial << ": " << text;
  }
  std::string big = "999\nbig\n0\nSECTION\n2\nENTITIES\n";
  for (int f = 0; big.size() < (24u << 20); ++f)
    big += dxfText(
        {{"L" + std::to_string(f % 7), {{f * 1.0, 0, 0}, {f + 1.0, 0, 0}, {f * 1.0, 1, 0}}}});
  ScratchFolder folder;
  writeFileBytes(folder.file("big.dxf"), big);
  int status = 0;
  ModelPtr read(readDxfFile(folder.file("big.dxf").c_str(), "Ref", nullptr, 0, &status));
  EXPECT_TRUE(read && faceTexts(*read) == faceTexts(*readDxfText(big)) && read->faceCount > 1e5);
}
