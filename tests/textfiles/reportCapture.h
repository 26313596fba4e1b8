#pragma once
// Error reports of the text-file tests: collected in `reports`, with "perr.txt" written into a
// scratch program folder for the life of a ReportCapture.
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

using Lines = std::vector<std::string>;

inline Lines reports;

struct ReportCapture {
  ScratchFolder folder;
  ReportCapture() {
    reports.clear();
    setProgramDirectoryTo(folder.path.c_str());
    setErrorPresenter([](const char* message) { reports.emplace_back(message); });
  }
  ~ReportCapture() {
    gfailAllocationAfter(0);
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
};
