#include "fuzzSupport.h"

#include <cstdlib>
#include <filesystem>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "compare/influenceProfile.h"

const std::string& fuzzSetUp() {
  static std::string scratch;
  if (!scratch.empty()) return scratch;
  scratch = (std::filesystem::temp_directory_path() / "morvane-fuzz-XXXXXX").string();
  FUZZ_CHECK(mkdtemp(scratch.data()) != nullptr);
  std::atexit([] { std::filesystem::remove_all(scratch); });
  setProgramDirectoryTo(scratch.c_str());
  setErrorPresenter([](const char*) {});
  setProfileThreadCount(1);
  return scratch;
}
