#pragma once
// Shared helpers for the core tests: inline line lists, a dialog that records what the core
// shows, and scratch folders.
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogPort.h"
#include "model/faceModel.h"
#include "textfiles/lineList.h"

// Owner handles whose deleters are the core's release operations.
struct LineListDeleter {
  void operator()(LineList* list) const { freeLineList(list); }
};
struct ModelDeleter {
  void operator()(FaceModel* model) const { releaseModel(model); }
};
using LineListPtr = std::unique_ptr<LineList, LineListDeleter>;
using ModelPtr = std::unique_ptr<FaceModel, ModelDeleter>;

// A list holding exactly these lines (empty ones included), without path.
LineListPtr testLines(std::initializer_list<const char*> lines);
LineListPtr testLines(const std::vector<std::string>& lines);
// The lines of a list as strings.
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
};

// A fresh empty folder under the system's temporary folder, removed with the object.
struct ScratchFolder {
  ScratchFolder();
  ~ScratchFolder();
  std::string path;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

// Whole file as bytes ("" when missing).
std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);

// Path of a file under tests/data.
std::string testDataPath(const std::string& name);
