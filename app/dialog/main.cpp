// morvane: the desktop program. One dialog; when it closes, the last run's data is released.
#include <QApplication>

#include <csignal>
#include <string>

#include "app/dialog/errorBox.h"
#include "app/dialog/fileChooser.h"
#include "app/dialog/fileLocations.h"
#include "app/dialog/mainDialog.h"
#include "app/errorReport.h"
#include "match/matchingRun.h"
#include "model/faceModel.h"
#include "output/keepTarget.h"
#include "output/keptResult.h"
#include "textfiles/platform.h"
#include "textfiles/settings.h"

// The files of the latest run: writing the target back whole reads the target again, and the
// reference's layer table gives new layers their colours.
static std::string latestReference, latestTarget;

// The matching run, aligning turned parts and keeping the target's bytes when the dialog's
// check boxes ask for it, reporting its stages to the dialog's progress row.
static int runAsChosen(DialogPort* dialog, const char* referencePath, const char* targetPath) {
  RunOptions options{};
  options.alignParts = (matchSettings.sw & kSwitchAlignParts) ? 1 : 0;
  options.keepTarget = (matchSettings.sw & kSwitchKeepTarget) ? 1 : 0;
  latestReference = referencePath ? referencePath : "";
  latestTarget = targetPath ? targetPath : "";
  options.progress = dialog ? dialog->runProgress : nullptr;
  return runMatchingWith(dialog, referencePath, targetPath, &options);
}

// The output: the target written back whole when the run kept its file, else the faces alone.
static int saveAsChosen(const char* path, const KeptResult& kept) {
  if (kept.keptMatch)
    return saveKeptResultTarget(path, latestTarget.c_str(), latestReference.c_str(), kept).written;
  return saveKeptResultDxf(path, kept);
}

int main(int argc, char** argv) {
  // A file-size limit fails the write instead of ending the program mid-save.
  std::signal(SIGXFSZ, SIG_IGN);
  reportAllocationFailures();
  // Runs go on a thread of their own, whose heap would otherwise keep what a run freed.
  returnFreedMemoryPromptly();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("morvane"));
  QApplication::setDesktopFileName(QStringLiteral("morvane"));
  QApplication::setWindowIcon(programIcon());
  useProgramFileLocations();
  setErrorPresenter(showErrorBox);
  {
    QtFileChooser chooser;
    MainDialog dialog(chooser, runAsChosen, saveAsChosen);
    dialog.exec();
  }
  setErrorPresenter(nullptr);
  releaseRunData();
  return 0;
}
