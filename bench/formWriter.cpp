#include "bench/formWriter.h"

#include <cstdio>
#include <map>

namespace benchgen {
namespace {

constexpr size_t kRun = 64;  // faces per polyline, MESH or block

class Out {
 public:
  explicit Out(FILE* file) : file_(file) {}
  ~Out() { flush(); }
  void line(const std::string& text) {
    buffer_ += text;
    buffer_ += "\r\n";
    if (buffer_.size() > (1u << 20)) flush();
  }
  void group(int code, const std::string& value) {
    line(std::to_string(code));
    line(value);
  }
  void point(int code, const GridPoint& p) {
    group(code, formatUnits(p.x));
    group(code + 10, formatUnits(p.y));
    group(code + 20, formatUnits(p.z));
  }
  bool flush() {
    ok_ = ok_ && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
    buffer_.clear();
    return ok_;
  }

 private:
  FILE* file_;
  std::string buffer_;
  bool ok_ = true;
};

bool triangle(const FormFace& f) {
  const GridPoint &a = f.corners[2], &b = f.corners[3];
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

// A run of consecutive faces written as one entity (or one block).
struct Run {
  size_t first, count;
  FileForm form;
};

std::vector<Run> runsOf(const std::vector<FormFace>& faces, FileForm form) {
  static const FileForm kCycle[4] = {FileForm::faces, FileForm::polyface, FileForm::mesh,
                                     FileForm::blocks};
  std::vector<Run> runs;
  for (size_t f = 0; f < faces.size();) {
    FileForm runForm = form == FileForm::mix ? kCycle[runs.size() % 4] : form;
    // A MESH and a block carry one layer: their runs keep to one.
    bool oneLayer = runForm == FileForm::mesh || runForm == FileForm::blocks;
    size_t n = 1;
    while (f + n < faces.size() && n < kRun && (!oneLayer || faces[f + n].layer == faces[f].layer))
      ++n;
    runs.push_back({f, n, runForm});
    f += n;
  }
  return runs;
}

void writeFace(Out& out, const FormFace& face) {
  out.group(0, "3DFACE");
  out.group(8, face.layer);
  for (int k = 0; k < 4; ++k)
    out.point(10 + k, face.corners[k]);
}

// The run's distinct points in order of first use, and each face's corner indices (from 0).
void indexRun(const std::vector<FormFace>& faces, const Run& run, std::vector<GridPoint>* points,
              std::vector<std::vector<int>>* corners) {
  std::map<std::tuple<int64_t, int64_t, int64_t>, int> index;
  for (size_t f = run.first; f < run.first + run.count; ++f) {
    std::vector<int> face;
    for (int k = 0; k < (triangle(faces[f]) ? 3 : 4); ++k) {
      const GridPoint& p = faces[f].corners[k];
      auto [at, added] = index.try_emplace({p.x, p.y, p.z}, static_cast<int>(points->size()));
      if (added) points->push_back(p);
      face.push_back(at->second);
    }
    corners->push_back(face);
  }
}

void writePolyface(Out& out, const std::vector<FormFace>& faces, const Run& run) {
  std::vector<GridPoint> points;
  std::vector<std::vector<int>> corners;
  indexRun(faces, run, &points, &corners);
  const std::string& layer = faces[run.first].layer;
  out.group(0, "POLYLINE");
  out.group(8, layer);
  out.group(66, "1");
  out.point(10, {0, 0, 0});
  out.group(70, "64");
  out.group(71, std::to_string(points.size()));
  out.group(72, std::to_string(corners.size()));
  for (const GridPoint& p : points) {
    out.group(0, "VERTEX");
    out.group(8, layer);
    out.point(10, p);
    out.group(70, "192");
  }
  for (size_t i = 0; i < corners.size(); ++i) {
    out.group(0, "VERTEX");
    out.group(8, faces[run.first + i].layer);
    out.point(10, {0, 0, 0});
    out.group(70, "128");
    for (size_t k = 0; k < corners[i].size(); ++k)
      out.group(71 + static_cast<int>(k), std::to_string(corners[i][k] + 1));
  }
  out.group(0, "SEQEND");
  out.group(8, layer);
}

void writeMesh(Out& out, const std::vector<FormFace>& faces, const Run& run) {
  std::vector<GridPoint> points;
  std::vector<std::vector<int>> corners;
  indexRun(faces, run, &points, &corners);
  out.group(0, "MESH");
  out.group(100, "AcDbEntity");
  out.group(8, faces[run.first].layer);
  out.group(100, "AcDbSubDMesh");
  out.group(71, "2");
  out.group(72, "0");
  out.group(91, "0");
  out.group(92, std::to_string(points.size()));
  for (const GridPoint& p : points)
    out.point(10, p);
  size_t listSize = 0;
  for (const auto& face : corners)
    listSize += face.size() + 1;
  out.group(93, std::to_string(listSize));
  for (const auto& face : corners) {
    out.group(90, std::to_string(face.size()));
    for (int index : face)
      out.group(90, std::to_string(index));
  }
  out.group(94, "0");
  out.group(95, "0");
  out.group(90, "0");
}

void writeInsert(Out& out, const std::string& block, const std::string& layer) {
  out.group(0, "INSERT");
  out.group(8, layer);
  out.group(2, block);
  out.point(10, {0, 0, 0});
}

// Block r holds the run's faces on layer "0"; every other one is wrapped in a second block that
// places it on layer "0", so blocks nest.
void writeBlocks(Out& out, const std::vector<FormFace>& faces, const std::vector<Run>& runs) {
  out.group(0, "SECTION");
  out.group(2, "BLOCKS");
  for (size_t r = 0; r < runs.size(); ++r) {
    if (runs[r].form != FileForm::blocks) continue;
    out.group(0, "BLOCK");
    out.group(8, "0");
    out.group(2, "B" + std::to_string(r));
    out.group(70, "0");
    out.point(10, {0, 0, 0});
    for (size_t f = runs[r].first; f < runs[r].first + runs[r].count; ++f) {
      FormFace onZero = faces[f];
      onZero.layer = "0";
      writeFace(out, onZero);
    }
    out.group(0, "ENDBLK");
    if (r % 2 == 0) continue;
    out.group(0, "BLOCK");
    out.group(2, "N" + std::to_string(r));
    out.point(10, {0, 0, 0});
    writeInsert(out, "B" + std::to_string(r), "0");
    out.group(0, "ENDBLK");
  }
  out.group(0, "ENDSEC");
}

void writeLayerTable(Out& out, const std::vector<FormFace>& faces) {
  std::map<std::string, int> layers = {{"notes", 7}};  // the lines' and texts' layer
  for (const FormFace& face : faces)
    layers.emplace(face.layer, 1 + static_cast<int>(layers.size()) % 7);
  out.group(0, "SECTION");
  out.group(2, "TABLES");
  out.group(0, "TABLE");
  out.group(2, "LAYER");
  for (const auto& [name, colour] : layers) {
    out.group(0, "LAYER");
    out.group(2, name);
    out.group(70, "0");
    out.group(62, std::to_string(colour));
    out.group(6, "CONTINUOUS");
  }
  out.group(0, "ENDTAB");
  out.group(0, "ENDSEC");
}

// Entities that carry no face, between the runs of a mixed file.
void writeOtherEntities(Out& out, const FormFace& near, size_t r) {
  out.group(0, "LINE");
  out.group(8, "notes");
  out.point(10, near.corners[0]);
  out.point(11, near.corners[1]);
  out.group(0, "TEXT");
  out.group(8, "notes");
  out.point(10, near.corners[0]);
  out.group(40, "1.0");
  out.group(1, "run " + std::to_string(r));
}

}  // namespace

bool parseFileForm(const std::string& name, FileForm* form) {
  static const std::map<std::string, FileForm> kNames = {{"3dface", FileForm::faces},
                                                         {"polyface", FileForm::polyface},
                                                         {"mesh", FileForm::mesh},
                                                         {"blocks", FileForm::blocks},
                                                         {"mix", FileForm::mix}};
  auto it = kNames.find(name);
  if (it == kNames.end()) return false;
  *form = it->second;
  return true;
}

bool writeFormDxf(const std::vector<FormFace>& faces, const std::vector<std::string>& comments,
                  FileForm form, const std::string& path) {
  const std::string temporary = path + ".tmp";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  bool ok = true;
  {
    Out out(file);
    for (const std::string& comment : comments)
      out.group(999, comment);
    const std::vector<Run> runs = runsOf(faces, form);
    if (form == FileForm::mix) writeLayerTable(out, faces);
    if (form == FileForm::blocks || form == FileForm::mix) writeBlocks(out, faces, runs);
    out.group(0, "SECTION");
    out.group(2, "ENTITIES");
    for (size_t r = 0; r < runs.size(); ++r) {
      const Run& run = runs[r];
      if (form == FileForm::mix) writeOtherEntities(out, faces[run.first], r);
      if (run.form == FileForm::polyface) writePolyface(out, faces, run);
      if (run.form == FileForm::mesh) writeMesh(out, faces, run);
      if (run.form == FileForm::blocks)
        writeInsert(out, (r % 2 ? "N" : "B") + std::to_string(r), faces[run.first].layer);
      for (size_t f = run.first; run.form == FileForm::faces && f < run.first + run.count; ++f)
        writeFace(out, faces[f]);
    }
    out.group(0, "ENDSEC");
    out.group(0, "EOF");
    ok = out.flush();
  }
  ok = std::fclose(file) == 0 && ok;
  if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

std::vector<FormFace> referenceFormFaces(const GeneratedPair& pair) {
  std::vector<FormFace> out(pair.faces.size());
  for (size_t f = 0; f < pair.faces.size(); ++f) {
    out[f].layer = pair.layers[pair.faces[f].layer];
    for (int k = 0; k < 4; ++k)
      out[f].corners[k] = pair.faces[f].corners[k];
  }
  return out;
}

std::vector<FormFace> targetFormFaces(const GeneratedPair& pair) {
  std::vector<FormFace> out(pair.targetOrder.size());
  for (size_t i = 0; i < pair.targetOrder.size(); ++i) {
    out[i].layer = targetLayerName(pair, pair.faces[pair.targetOrder[i]].part);
    for (int k = 0; k < 4; ++k)
      out[i].corners[k] = targetCorner(pair, static_cast<int64_t>(i), k);
  }
  return out;
}

}  // namespace benchgen
