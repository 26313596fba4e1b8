#include "testSupport.h"

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "model/dxfReader.h"
#include "model/partGrouping.h"

LineListPtr testLines(const std::vector<std::string>& lines) {
  LineListPtr list(newLineList());
  for (const std::string& line : lines)
    appendLine(list.get(), line.c_str());
  return list;
}

std::vector<std::string> linesOf(const LineList* list) {
  std::vector<std::string> out;
  for (int i = 0; list && i < list->count; ++i)
    out.emplace_back(list->items[i] ? list->items[i] : "");
  return out;
}

Lines splitText(const std::string& text, char separator) {
  Lines pieces;
  std::istringstream in(text);
  for (std::string piece; std::getline(in, piece, separator);)
    pieces.push_back(piece);
  return pieces;
}

// Runs args[0] with exactly `args` in `folder`, standard input a pipe kept open, limits of
// address space and file size when not 0. Gives its exit status (-1 when a signal ended it,
// SIGALRM after a minute when it blocked) and its standard output, then standard error.
int runProgram(Lines args, const std::string& folder, std::string* log, long memory, long size) {
  FILE* file = tmpfile();
  int in[2], raw = 0;
  if (!file || pipe(in) != 0) return -1;
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  rlimit memoryLimit{rlim_t(memory), rlim_t(memory)}, sizeLimit{rlim_t(size), rlim_t(size)};
  pid_t child = fork();
  if (child == 0) {  // async-signal-safe calls only
    if (dup2(in[0], 0) == 0 && dup2(fileno(file), 1) == 1 && dup2(fileno(file), 2) == 2 &&
        !(memory && setrlimit(RLIMIT_AS, &memoryLimit)) &&
        !(size && setrlimit(RLIMIT_FSIZE, &sizeLimit)) && chdir(folder.c_str()) == 0)
      alarm(60), execv(argv[0], argv.data());
    _exit(127);
  }
  waitpid(child, &raw, 0);
  close(in[0]), close(in[1]);
  *log = readFileBytes("/proc/self/fd/" + std::to_string(fileno(file)));
  fclose(file);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

namespace {
RecordingDialog& recorder(DialogPort* port) {
  return *static_cast<RecordingDialog*>(port->context);
}
int added(std::vector<std::string>& lines, const char* line) {
  lines.emplace_back(line);
  return static_cast<int>(lines.size()) - 1;
}
}  // namespace

RecordingDialog::RecordingDialog()
    : port{this,
           [](DialogPort* p, const char* line) { return added(recorder(p).progress, line); },
           [](DialogPort* p) { recorder(p).progress.clear(); },
           [](DialogPort* p, int id) { recorder(p).comboItems[id].clear(); },
           [](DialogPort* p, int id, const char* text) {
             return added(recorder(p).comboItems[id], text);
           },
           [](DialogPort* p, int id, const char* text) { recorder(p).controlText[id] = text; },
           [](DialogPort* p, int id, int index) { recorder(p).selection[id] = index; },
           [](DialogPort* p, int id) { recorder(p).shown.push_back(id); },
           [](DialogPort* p, const char* line) { return added(recorder(p).details, line); },
           nullptr} {}

SettingsRestore::~SettingsRestore() {
  matchSettings = saved, setProfileThreadCount(0);
}

ScratchFolder::ScratchFolder()
    : path((std::filesystem::temp_directory_path() / "morvane-test-XXXXXX").string()) {
  if (!mkdtemp(path.data())) path.clear();
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;  // a test may have taken the owner's rights away
  std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path, ignored);
}

QuietReports::QuietReports() {
  setProgramDirectoryTo(path.c_str()), setErrorPresenter([](const char*) {});
}

QuietReports::~QuietReports() {
  setErrorPresenter(nullptr), setProgramDirectory();
}

std::string readFileBytes(const std::string& path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string testDataPath(const std::string& name) {
  return std::string(TEST_DATA_DIR) + "/" + name;
}

ModelPtr readDxfText(const std::string& bytes, LineList* comments, int rotation) {
  std::string text = bytes;  // the reader writes into the bytes and puts them back
  return ModelPtr(readDxfBytes(text.data(), text.size(), "Terget", comments, rotation));
}

std::string dxfText(const std::vector<DxfFace>& faces, const std::vector<std::string>& comments) {
  std::string out = "0\r\nSECTION\r\n2\r\nENTITIES\r\n";
  for (const std::string& text : comments)
    out += "999\r\n" + text + "\r\n";
  auto value = [&out](int code, double v) {
    char buffer[64];
    out += std::to_string(code) + "\r\n";
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr) += "\r\n";
  };
  for (const DxfFace& face : faces) {
    out += "0\r\n3DFACE\r\n8\r\n" + face.layer + "\r\n";
    for (int k = 0; k < 4; ++k) {
      const Vec3& c = face.corners[std::min<size_t>(k, face.corners.size() == 3 ? 2 : 3)];
      value(10 + k, c.x), value(20 + k, c.y), value(30 + k, c.z);
    }
  }
  return out + "0\r\nENDSEC\r\n0\r\nEOF\r\n";
}

std::vector<std::string> dxfLayers(const std::string& bytes) {
  std::vector<std::string> lines, layers;
  std::istringstream in(bytes);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line.substr(0, line.size() - (!line.empty() && line.back() == '\r')));
  for (size_t i = 2; i < lines.size(); ++i)
    if (lines[i - 2] == "3DFACE" && lines[i - 1] == "8") layers.push_back(lines[i]);
  return layers;
}

ModelPtr buildSurfaceModel(const std::vector<SurfaceFace>& faces, const char* name) {
  ModelPtr model(createModel(name));
  for (size_t f = 0; model && f < faces.size(); ++f)
    if (!addFace(model.get(), "0", faces[f].data())) return nullptr;
  if (model && model->faceCount > 0 &&
      (!groupParts(model.get()) || !measureParts(model.get()) ||
       !computeAngleSignatures(model.get())))
    return nullptr;
  return model;
}

std::vector<SurfaceFace> randomSurface(uint32_t seed, int columns, int rows, Vec3 origin,
                                       int duplicates) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> height(-0.4, 0.4);
  std::vector<Vec3> grid;
  for (int y = 0; y <= rows; ++y)
    for (int x = 0; x <= columns; ++x)
      grid.push_back({origin.x + x, origin.y + y, origin.z + height(random)});
  // A cell's corners a b c d (counter-clockwise) as one quad or as two triangles.
  static const int kShapes[3][2][4] = {
      {{0, 1, 2, 3}}, {{0, 1, 2, 2}, {0, 2, 3, 3}}, {{0, 1, 3, 3}, {1, 2, 3, 3}}};
  std::vector<SurfaceFace> faces;
  for (int at = 0; at < (columns + 1) * rows; ++at) {
    if (at % (columns + 1) == columns) continue;  // the last point of a row starts no cell
    Vec3 cell[4] = {grid[at], grid[at + 1], grid[at + columns + 2], grid[at + columns + 1]};
    int shape = random() % 3;
    for (int part = 0; part < (shape ? 2 : 1); ++part) {
      const int* k = kShapes[shape][part];
      faces.push_back({cell[k[0]], cell[k[1]], cell[k[2]], cell[k[3]]});
    }
  }
  for (int i = 0; i < duplicates && !faces.empty(); ++i)
    faces.push_back(faces[random() % faces.size()]);
  return faces;
}

std::vector<SurfaceFace> shuffledSurface(const std::vector<SurfaceFace>& faces, uint32_t seed,
                                         Vec3 offset) {
  std::mt19937 random(seed);
  std::vector<SurfaceFace> out = faces;
  std::shuffle(out.begin(), out.end(), random);
  for (SurfaceFace& face : out) {
    bool triangle = face[3].x == face[2].x && face[3].y == face[2].y && face[3].z == face[2].z;
    int corners = triangle ? 3 : 4;
    std::rotate(face.begin(), face.begin() + random() % corners, face.begin() + corners);
    if (triangle) face[3] = face[2];
    for (Vec3& c : face)
      c = {c.x + offset.x, c.y + offset.y, c.z + offset.z};
  }
  return out;
}

// Every face as "layer: (x y z) (x y z) ..." with coordinates as "%.17g" (so -0, inf, nan and
// -nan stay apart), in face order, joined by " / ".
std::string faceTexts(const FaceModel& model) {
  std::string texts;
  for (int f = 0; f < model.faceCount; ++f) {
    texts.append(f ? " / " : "").append(faceLayer(model.faces[f])).append(":");
    for (int k = 0; k < model.faces[f].cornerCount; ++k) {
      Vec3 c = pointPosition(model.points[model.faces[f].corners[k]]);
      char corner[96];
      texts.append(corner, std::snprintf(corner, 96, " (%.17g %.17g %.17g)", c.x, c.y, c.z));
    }
  }
  return texts;
}
