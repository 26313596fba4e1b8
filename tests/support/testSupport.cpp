#include "testSupport.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

LineListPtr testLines(std::initializer_list<const char*> lines) {
  LineListPtr list(newLineList());
  for (const char* line : lines) appendLine(list.get(), line);
  return list;
}

LineListPtr testLines(const std::vector<std::string>& lines) {
  LineListPtr list(newLineList());
  for (const std::string& line : lines) appendLine(list.get(), line.c_str());
  return list;
}

std::vector<std::string> linesOf(const LineList* list) {
  std::vector<std::string> out;
  if (!list) return out;
  for (int i = 0; i < list->count; ++i) out.emplace_back(list->items[i] ? list->items[i] : "");
  return out;
}

namespace {
RecordingDialog* recorder(DialogPort* port) { return static_cast<RecordingDialog*>(port->context); }
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

std::string testDataPath(const std::string& name) { return std::string(TEST_DATA_DIR) + "/" + name; }
