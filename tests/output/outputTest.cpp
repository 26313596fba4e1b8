// The DXF face writer: layers from the matched face, corners formatted as printf does in the C
// locale, saving whole or not at all (memory failure included), and a stable round trip
// through the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <clocale>
#include <filesystem>
#include <random>

#include "model/dxfReader.h"
#include "output/dxfWriter.h"
#include "output/dxfWriterInternal.h"
#include "output/keepTarget.h"
#include "output/keptResult.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

TEST(DxfWriter, LayersFromMatchedFacesSavedWholeOrNotAtAll) {
  QuietReports reports;
  ScratchFolder folder;
  const std::string path = folder.file("keep.dxf"), old = "0\r\nEOF\r\n";
  writeFileBytes(path, old);
  std::filesystem::create_hard_link(path, folder.file("alias"));
  EXPECT_TRUE(!saveTargetDxf(path.c_str()) && !buildTargetDxf());  // no target model
  // Matched to a face on R1, on "" (written "Obj1"), to none, none on "", to no such face;
  // without a reference model, own layers ("" written "Obj1").
  targetModel = readDxfText(readFileBytes(testDataPath("output/target.dxf"))).release();
  for (int f = 0; f < 5; ++f)
    targetModel->faces[f].matchedFace = std::array{1, 0, -1, -1, 2}[f];
  ASSERT_EQ(saveTargetDxf(folder.file("own.dxf").c_str()), 1);
  EXPECT_EQ(dxfLayers(readFileBytes(folder.file("own.dxf"))),
            (std::vector<std::string>{"own", "own", "Roof \xC4", "Obj1", "own"}));
  referenceModel = readDxfText(readFileBytes(testDataPath("output/reference.dxf"))).release();
  commentList = testLines({"first note", "", "second"}).release();  // empty ones left out
  long first = gallocationCount(), live = gliveBlocks();
  ASSERT_EQ(saveTargetDxf(folder.file("first.dxf").c_str()), 1);
  for (long n = 1, allocations = gallocationCount() - first; n <= allocations; ++n) {
    gfailAllocationAfter(n);
    EXPECT_TRUE(!saveTargetDxf(path.c_str()) && readFileBytes(path) == old && gliveBlocks() == live)
        << "allocation " << n;
  }
  gfailAllocationAfter(0);
  EXPECT_TRUE(!saveTargetDxf(nullptr) && !saveTargetDxf(folder.path.c_str()) &&  // a folder
              !saveTargetDxf(folder.file("missing/out.dxf").c_str()));
  ASSERT_EQ(saveTargetDxf(path.c_str()), 1);
  EXPECT_TRUE(readFileBytes(path) == readFileBytes(testDataPath("output/matched.dxf")) &&
              readFileBytes(folder.file("alias")) == old);  // a new file was renamed over it
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 4);  // no temp
  releaseRunData();
}

// Extremes (zeros, ties at the fifth decimal, the largest, smallest and denormal values,
// infinities, NaNs of both signs) and random bit patterns, as "%.5f" prints them in the C locale.
TEST(DxfWriter, CoordinatesAsPrintfFixedFiveInTheCLocale) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  std::vector<double> values = {0.0,
                                -0.0,
                                1.5,
                                -0.000001,
                                0.123456789,
                                5e-6,
                                1.5e-5,
                                0.125,
                                2.5e-6,
                                -2.5e-6,
                                0.000005,
                                0.000015,
                                0.1,
                                0.3,
                                1.000005,
                                2.000015,
                                -99999.999995,
                                1e15 + 0.5,
                                1e22,
                                1e308,
                                DBL_MAX,
                                -DBL_MAX,
                                DBL_MIN,
                                DBL_TRUE_MIN,
                                -DBL_TRUE_MIN,
                                HUGE_VAL,
                                -HUGE_VAL,
                                std::nan(""),
                                -std::nan(""),
                                123456.789,
                                1719.436845718917};
  std::mt19937_64 random(5);
  for (int i = 0; i < 200000; ++i) {  // any bits; then values near five-decimal ties
    values.push_back(std::bit_cast<double>(random()));
    values.push_back((int64_t(random() % 2000000001) - 1000000000 + 0.5) * 1e-5);
  }
  char text[kCoordinateTextSize], printed[kCoordinateTextSize];
  for (double v : values) {
    const std::string got(text, formatCoordinate(v, text));
    ASSERT_EQ(got, std::string(printed, std::snprintf(printed, sizeof printed, "%.5f", v))) << v;
  }
}

// The writer's file above and real writers' files: read and saved over the file they came
// from, then read and saved once more: the same bytes, comments, faces and parts.
TEST(DxfWriter, RoundTripIsStable) {
  ScratchFolder folder;
  const std::string files[2] = {folder.file("source.dxf"), folder.file("again.dxf")};
  for (std::string name : {"output/matched.dxf", "real/PinkEggFromLW.dxf", "real/3dface.dxf",
                           "real/POLI-ALL210_12.DXF"}) {
    writeFileBytes(files[0], readFileBytes(testDataPath(name)));
    std::vector<std::string> seen[2];  // comments read, parts and bytes saved
    for (int round = 0; round < 2; ++round) {
      releaseRunData();
      commentList = newLineList();
      targetModel = readDxfText(readFileBytes(files[0]), commentList).release();
      ASSERT_TRUE(targetModel->faceCount > 0 && saveTargetDxf(files[round].c_str()));
      seen[round] = linesOf(commentList);
      seen[round].push_back(std::to_string(targetModel->partCount) + readFileBytes(files[round]));
    }
    EXPECT_TRUE(seen[0] == seen[1]) << name;
  }
  releaseRunData();
}

// tests/data/output/keep-target.dxf holds faces in every form (LF line ends, a layer table,
// other entities); each face takes the layer of reference face "ABA-ABBCA-ABC"[f] ('-': none).
// Read back, the kept file gives the same faces on those layers; its bytes are those of
// kept.dxf (only layers changed: group 8 replaced or inserted, the MESH split by layer, the
// second INSERT exploded with its attributes, new LAYER entries with the reference's colour
// and linetype); any failed allocation writes nothing and leaks nothing.
TEST(DxfWriter, KeptTargetChangesOnlyLayers) {
  QuietReports folder;
  const std::string ref = testDataPath("output/keep-reference.dxf"), out = folder.file("k.dxf"),
                    target = testDataPath("output/keep-target.dxf");
  int status = 0;
  referenceModel = readDxfText(readFileBytes(ref)).release();
  targetModel = readDxfFile(target.c_str(), "Terget", nullptr, 0, &status, nullptr, kDxfKeepSource);
  ASSERT_TRUE(targetModel && targetModel->faceCount == 13);
  const std::string layers = "ABA-ABBCA-ABC";
  auto faces = [&](const FaceModel& model, bool matched) {  // each "layer: corners", sorted
    std::vector<std::string> texts = splitText(" " + faceTexts(model) + " ", '/');
    for (size_t f = 0; f < texts.size(); ++f) {
      texts[f] = texts[f].substr(1, texts[f].size() - 2);
      if (matched && layers[f] != '-') texts[f] = layers[f] + texts[f].substr(texts[f].find(':'));
    }
    return std::sort(texts.begin(), texts.end()), texts;
  };
  std::swap(referenceModel->faces[0], referenceModel->faces[2]);  // C, B, A: not in name order
  for (int f = 0; f < 13; ++f)
    targetModel->faces[f].matchedFace = layers[f] == '-' ? -1 : 'C' - layers[f];
  const std::vector<std::string> expected = faces(*targetModel, true);
  const long first = gallocationCount(), live = gliveBlocks();
  const KeptTargetSummary kept = saveKeptTarget(out.c_str(), ref.c_str());
  const long allocations = gallocationCount() - first;
  EXPECT_TRUE(kept.written && kept.layersAdded == 3 && kept.meshesSplit == 1 &&
              kept.insertsExploded == 1 && kept.entitiesDropped == 1);
  EXPECT_EQ(faces(*readDxfText(readFileBytes(out)), false), expected);
  EXPECT_EQ(readFileBytes(out), readFileBytes(testDataPath("output/kept.dxf")));
  for (long n = 1; n <= allocations; ++n) {
    gfailAllocationAfter(n);
    EXPECT_TRUE(!saveKeptTarget(folder.file("no.dxf").c_str(), ref.c_str()).written &&
                !std::filesystem::exists(folder.file("no.dxf")) && gliveBlocks() == live);
  }
  gfailAllocationAfter(0);
  KeptResult result{};  // the dialog keeps the result, then reads the target again to write it
  EXPECT_TRUE(keepResultAndReleaseRun(&result) && !targetModel &&
              saveKeptResultTarget(out.c_str(), target.c_str(), ref.c_str(), result).written &&
              readFileBytes(out) == readFileBytes(testDataPath("output/kept.dxf")));
  result.target.points[0] += 1;  // a target that changed since the run is not written
  EXPECT_FALSE(
      saveKeptResultTarget(folder.file("no.dxf").c_str(), target.c_str(), ref.c_str(), result)
          .written);
  releaseRunData(), releaseKeptResult(&result);
}
