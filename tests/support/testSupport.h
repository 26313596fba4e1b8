#pragma once
// Shared helpers of the tests: inline line lists, a dialog that records what the core shows,
// scratch folders, DXF texts, and random surfaces for the matching stages.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/faceModel.h"
#include "textfiles/dialogPort.h"
#include "textfiles/lineList.h"
#include "textfiles/settings.h"

// Owner handles whose deleter is the core's release operation.
struct CoreRelease {
  void operator()(LineList* list) const { freeLineList(list); }
  void operator()(FaceModel* model) const { releaseModel(model); }
};
using LineListPtr = std::unique_ptr<LineList, CoreRelease>;
using ModelPtr = std::unique_ptr<FaceModel, CoreRelease>;

using Lines = std::vector<std::string>;
// The pieces of `text` between the separators (a trailing empty piece dropped).
Lines splitText(const std::string& text, char separator);

// A list holding exactly these lines (empty ones included), without path.
LineListPtr testLines(const std::vector<std::string>& lines);
// The lines of a list as strings (none for a null list).
std::vector<std::string> linesOf(const LineList* list);

// A dialog that records the progress list, combo boxes, texts, selections and shown controls.
struct RecordingDialog {
  RecordingDialog();
  DialogPort port;
  std::vector<std::string> progress;
  std::map<int, std::vector<std::string>> comboItems;
  std::map<int, std::string> controlText;
  std::map<int, int> selection;
  std::vector<int> shown;
  std::vector<std::string> details;  // detail lines, kept apart from the progress lines
};

// The match settings and the profile thread count, put back as they were on destruction.
struct SettingsRestore {
  MatchSettings saved = matchSettings;
  ~SettingsRestore();
};

// A fresh empty folder under the system's temporary folder, removed with the object.
struct ScratchFolder {
  ScratchFolder();
  ~ScratchFolder();
  std::string path;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

// A scratch folder as the program folder (so "perr.txt" goes there) and error reports shown
// nowhere, both put back on destruction.
struct QuietReports : ScratchFolder {
  QuietReports();
  ~QuietReports();
};

// Whole file as bytes ("" when missing); writing replaces the file.
std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);
// Runs args[0] with exactly `args` in `folder`, standard input a pipe kept open, limits of
// address space and file size when not 0. Gives its exit status (-1 when a signal ended it,
// SIGALRM after a minute when it blocked) and its standard output, then standard error.
int runProgram(Lines args, const std::string& folder, std::string* log, long memory = 0,
               long size = 0);
// Path of a file under tests/data.
std::string testDataPath(const std::string& name);

// A DXF file's bytes read as the reader sees a file (split with empty lines kept).
ModelPtr readDxfText(const std::string& bytes, LineList* comments = nullptr, int rotation = 0);

// One 3DFACE for dxfText: its layer and three or four corners.
struct DxfFace {
  std::string layer;
  std::vector<Vec3> corners;
};
// An ENTITIES-only DXF file (CR LF line ends) with the 999 comments, then the faces; a
// three-corner face is written with its third corner repeated as the fourth. Coordinates are
// written with up to 17 significant digits, independent of the locale.
std::string dxfText(const std::vector<DxfFace>& faces,
                    const std::vector<std::string>& comments = {});
// Every face as "layer: (x y z) (x y z) ..." with coordinates as "%.17g" (so -0, inf, nan and
// -nan stay apart), in face order, joined by " / ".
std::string faceTexts(const FaceModel& model);
// The layer of every 3DFACE of a DXF file's bytes, in file order (the line after the "8" that
// directly follows "3DFACE").
std::vector<std::string> dxfLayers(const std::string& bytes);

// Faces for buildSurfaceModel: four corners each; a triangle repeats its third corner.
using SurfaceFace = std::array<Vec3, 4>;
// A model holding these faces on layer "0", grouped, measured and with its angle signatures and
// point face lists, as a matching run prepares it. Null when a step failed.
ModelPtr buildSurfaceModel(const std::vector<SurfaceFace>& faces, const char* name = "Ref");
// A bumpy grid of `columns` x `rows` cells starting at `origin`, each cell a quad or two
// triangles; reproducible from `seed`. `duplicates` random faces are repeated (exact copies),
// which gives faces with equal normals and centres.
std::vector<SurfaceFace> randomSurface(uint32_t seed, int columns, int rows, Vec3 origin,
                                       int duplicates = 0);
// The same faces in a random order with their corners rotated, each moved by `offset`.
std::vector<SurfaceFace> shuffledSurface(const std::vector<SurfaceFace>& faces, uint32_t seed,
                                         Vec3 offset);
