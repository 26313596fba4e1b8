#include "testSupport.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

LineListPtr testLines(std::initializer_list<const char*> lines) {
  LineListPtr list(newLineList());
  for (const char* line : lines)
    appendLine(list.get(), line);
  return list;
}

LineListPtr testLines(const std::vector<std::string>& lines) {
  LineListPtr list(newLineList());
  for (const std::string& line : lines)
    appendLine(list.get(), line.c_str());
  return list;
}

std::vector<std::string> linesOf(const LineList* list) {
  std::vector<std::string> out;
  if (!list) return out;
  for (int i = 0; i < list->count; ++i)
    out.emplace_back(list->items[i] ? list->items[i] : "");
  return out;
}

namespace {
RecordingDialog* recorder(DialogPort* port) {
  return static_cast<RecordingDialog*>(port->context);
}
}  // namespace

RecordingDialog::RecordingDialog() {
  port = DialogPort{};
  port.context = this;
  port.addListLine = [](DialogPort* self, const char* line) {
    auto& lines = recorder(self)->progress;
    lines.emplace_back(line);
    return static_cast<int>(lines.size()) - 1;
  };
  port.clearList = [](DialogPort* self) { recorder(self)->progress.clear(); };
  port.resetCombo = [](DialogPort* self, int id) { recorder(self)->comboItems[id].clear(); };
  port.addComboItem = [](DialogPort* self, int id, const char* text) {
    auto& items = recorder(self)->comboItems[id];
    items.emplace_back(text);
    return static_cast<int>(items.size()) - 1;
  };
  port.setControlText = [](DialogPort* self, int id, const char* text) {
    recorder(self)->controlText[id] = text;
  };
  port.selectComboItem = [](DialogPort* self, int id, int index) {
    recorder(self)->selection[id] = index;
  };
  port.showControl = [](DialogPort* self, int id) { recorder(self)->shown.push_back(id); };
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "morvane-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path = made ? made : pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path, ignored);
}

std::string readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string testDataPath(const std::string& name) {
  return std::string(TEST_DATA_DIR) + "/" + name;
}

#include <cstdio>

#include "model/dxfReader.h"

ModelPtr readDxfText(const std::string& bytes, LineList* comments, int rotation) {
  LineListPtr lines(splitTextLines(bytes.data(), bytes.size(), LineSplit::keepEmpty));
  if (!lines) return nullptr;
  return ModelPtr(readDxfFaces(lines.get(), "Terget", comments, rotation));
}

std::vector<Vec3> faceCornerPositions(const FaceModel* model, int face) {
  std::vector<Vec3> corners;
  const ModelFace& f = model->faces[face];
  for (int k = 0; k < f.cornerCount; ++k) {
    corners.push_back(pointPosition(model->points[f.corners[k]]));
  }
  return corners;
}

std::vector<std::string> faceTexts(const FaceModel* model) {
  std::vector<std::string> texts;
  if (!model) return texts;
  for (int f = 0; f < model->faceCount; ++f) {
    std::string line = std::string(faceLayer(model->faces[f])) + ":";
    for (const Vec3& c : faceCornerPositions(model, f)) {
      char corner[96];
      std::snprintf(corner, sizeof corner, " (%.17g %.17g %.17g)", c.x, c.y, c.z);
      line += corner;
    }
    texts.push_back(line);
  }
  return texts;
}

#include <charconv>

std::string dxfText(const std::vector<DxfFace>& faces, const std::vector<std::string>& comments) {
  std::string out = "0\r\nSECTION\r\n2\r\nENTITIES\r\n";
  for (const std::string& text : comments)
    out += "999\r\n" + text + "\r\n";
  auto value = [&out](int code, double v) {
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    out += std::to_string(code) + "\r\n" + std::string(buffer, end) + "\r\n";
  };
  for (const DxfFace& face : faces) {
    out += "0\r\n3DFACE\r\n8\r\n" + face.layer + "\r\n";
    for (int k = 0; k < 4; ++k) {
      const Vec3& c = face.corners[k < static_cast<int>(face.corners.size()) ? k : 2];
      value(10 + k, c.x);
      value(20 + k, c.y);
      value(30 + k, c.z);
    }
  }
  return out + "0\r\nENDSEC\r\n0\r\nEOF\r\n";
}

std::vector<std::string> dxfLayers(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  std::vector<std::string> layers;
  for (size_t i = 2; i < lines.size(); ++i) {
    if (lines[i - 2] == "3DFACE" && lines[i - 1] == "8") layers.push_back(lines[i]);
  }
  return layers;
}

#include <algorithm>
#include <random>

#include "compare/angleSignature.h"
#include "model/partGrouping.h"

ModelPtr buildSurfaceModel(const std::vector<SurfaceFace>& faces, const char* name) {
  ModelPtr model(createModel(name));
  if (!model) return nullptr;
  for (const SurfaceFace& face : faces) {
    if (!addFace(model.get(), "0", face.data())) return nullptr;
  }
  if (model->faceCount > 0 && (!groupParts(model.get()) || !measureParts(model.get()) ||
                               !computeAngleSignatures(model.get()))) {
    return nullptr;
  }
  return model;
}

std::vector<SurfaceFace> randomSurface(uint32_t seed, int columns, int rows, Vec3 origin,
                                       int duplicates) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> height(-0.4, 0.4);
  std::vector<Vec3> grid;
  for (int y = 0; y <= rows; ++y) {
    for (int x = 0; x <= columns; ++x) {
      grid.push_back({origin.x + x, origin.y + y, origin.z + height(random)});
    }
  }
  auto at = [&](int x, int y) { return grid[y * (columns + 1) + x]; };
  std::vector<SurfaceFace> faces;
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) {
      Vec3 a = at(x, y), b = at(x + 1, y), c = at(x + 1, y + 1), d = at(x, y + 1);
      switch (random() % 3) {
        case 0:
          faces.push_back({a, b, c, d});
          break;
        case 1:
          faces.push_back({a, b, c, c});
          faces.push_back({a, c, d, d});
          break;
        default:
          faces.push_back({a, b, d, d});
          faces.push_back({b, c, d, d});
          break;
      }
    }
  }
  for (int i = 0; i < duplicates && !faces.empty(); ++i) {
    faces.push_back(faces[random() % faces.size()]);
  }
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
