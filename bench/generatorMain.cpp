// morvane-gen: writes a generated reference/target pair (and the target's ground truth).
#include <sys/stat.h>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/formWriter.h"
#include "bench/modelGenerator.h"

namespace {

const char kUsage[] =
    "usage: morvane-gen [options] FOLDER\n"
    "Writes FOLDER/reference.dxf, FOLDER/target.dxf and FOLDER/truth.bin (for target face i,\n"
    "the reference face it was made from, as little-endian int32).\n"
    "  --faces N        total number of faces (default 10000)\n"
    "  --min-part N     smallest drawn part size (default 200)\n"
    "  --max-part N     largest part size (default 2000)\n"
    "  --shape S        mixed (default), box, tube, sphere, grid, steps or patch\n"
    "  --single         one part of about N faces (of the shape; mixed means sphere)\n"
    "  --move M         none, some (default: each part with probability 1/2) or all\n"
    "  --no-turn        moved parts are only translated, not turned\n"
    "  --together       the target lists part after part instead of all faces shuffled\n"
    "  --seed N         random seed (default 1)\n"
    "  --any-angle      moved parts are turned by a random angle about a random axis\n"
    "  --mirror         moved parts are also mirrored\n"
    "  --scale F        the whole target is scaled by F (default 1)\n"
    "  --swap-axes      the whole target is turned once (y up becomes z up)\n"
    "  --reverse        every target face lists its corners the other way round\n"
    "  --split F        share F (0..1) of the quads is written as two triangles\n"
    "  --copies N       N parts get a copy of the same shape on other layers\n"
    "  --assemblies N   every other moved part joins one of N groups moved as one body\n"
    "  --reference-form F, --target-form F\n"
    "                   write that file's faces as 3dface (default), polyface (POLYLINE\n"
    "                   polyface meshes), mesh (MESH entities), blocks (nested blocks placed\n"
    "                   by INSERT, faces on layer 0) or mix (all of them, with lines, texts\n"
    "                   and a layer table); the faces read are the same in every form\n";

bool parseShare(const char* text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text, &end);
  return end && *end == '\0' && *value >= 0.0 && *value < 1e6;
}

bool parseNumber(const char* text, long long* value) {
  const char* end = text + std::strlen(text);
  auto result = std::from_chars(text, end, *value);
  return result.ec == std::errc() && result.ptr == end;
}

}  // namespace

int main(int argc, char** argv) {
  benchgen::GeneratorOptions options;
  std::string folder;
  benchgen::FileForm referenceForm = benchgen::FileForm::faces, targetForm = referenceForm;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](long long* number) { return i + 1 < argc && parseNumber(argv[++i], number); };
    long long number = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--faces" && value(&number) && number > 0) {
      options.faces = number;
    } else if (arg == "--min-part" && value(&number) && number > 0 && number < (1 << 30)) {
      options.minPartFaces = static_cast<int32_t>(number);
    } else if (arg == "--max-part" && value(&number) && number > 0 && number < (1 << 30)) {
      options.maxPartFaces = static_cast<int32_t>(number);
    } else if (arg == "--seed" && value(&number) && number >= 0) {
      options.seed = static_cast<uint64_t>(number);
    } else if (arg == "--shape" && i + 1 < argc &&
               benchgen::parseShape(argv[++i], &options.shape)) {
    } else if (arg == "--move" && i + 1 < argc &&
               benchgen::parseMovement(argv[++i], &options.movement)) {
    } else if (arg == "--single") {
      options.singlePart = true;
    } else if (arg == "--no-turn") {
      options.turn = false;
    } else if (arg == "--together") {
      options.keepPartsTogether = true;
    } else if (arg == "--any-angle") {
      options.anyAngle = true;
    } else if (arg == "--mirror") {
      options.mirror = true;
    } else if (arg == "--swap-axes") {
      options.swapAxes = true;
    } else if (arg == "--reverse") {
      options.reverseWinding = true;
    } else if (arg == "--scale" && i + 1 < argc && parseShare(argv[++i], &options.scale) &&
               options.scale > 0.0) {
    } else if (arg == "--split" && i + 1 < argc && parseShare(argv[++i], &options.splitShare) &&
               options.splitShare <= 1.0) {
    } else if (arg == "--copies" && value(&number) && number >= 0 && number < (1 << 30)) {
      options.copies = static_cast<int32_t>(number);
    } else if (arg == "--assemblies" && value(&number) && number >= 0 && number < (1 << 20)) {
      options.assemblies = static_cast<int32_t>(number);
    } else if (arg == "--reference-form" && i + 1 < argc &&
               benchgen::parseFileForm(argv[++i], &referenceForm)) {
    } else if (arg == "--target-form" && i + 1 < argc &&
               benchgen::parseFileForm(argv[++i], &targetForm)) {
    } else if (folder.empty() && !arg.empty() && arg[0] != '-') {
      folder = arg;
    } else {
      std::fprintf(stderr, "morvane-gen: bad argument near '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (folder.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  mkdir(folder.c_str(), 0777);
  benchgen::GeneratedPair pair = benchgen::generatePair(options);
  const std::string reference = folder + "/reference.dxf", target = folder + "/target.dxf";
  const std::vector<std::string> comments = {"morvane-gen target model"};
  bool ok = (referenceForm == benchgen::FileForm::faces
                 ? benchgen::writeReferenceDxf(pair, reference)
                 : benchgen::writeFormDxf(benchgen::referenceFormFaces(pair), {}, referenceForm,
                                          reference)) &&
            (targetForm == benchgen::FileForm::faces
                 ? benchgen::writeTargetDxf(pair, target)
                 : benchgen::writeFormDxf(benchgen::targetFormFaces(pair), comments, targetForm,
                                          target)) &&
            benchgen::writeTruth(pair, folder + "/truth.bin");
  if (!ok) {
    std::fprintf(stderr, "morvane-gen: cannot write into %s\n", folder.c_str());
    return 1;
  }
  long moved = 0, triangles = 0;
  for (const benchgen::GenPart& part : pair.parts)
    moved += part.moved ? 1 : 0;
  for (const benchgen::GenFace& face : pair.faces)
    triangles += face.cornerCount == 3 ? 1 : 0;
  std::printf("%zu faces (%ld triangles) in %zu parts, %ld moved%s; written to %s\n",
              pair.faces.size(), triangles, pair.parts.size(), moved,
              options.turn ? " and turned" : "", folder.c_str());
  return 0;
}
