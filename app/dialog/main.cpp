// morvane: the desktop program. One dialog; when it closes, the last run's data is released.
#include <QApplication>

#include <csignal>

#include "app/dialog/errorBox.h"
#include "app/dialog/fileChooser.h"
#include "app/dialog/fileLocations.h"
#include "app/dialog/mainDialog.h"
#include "app/errorReport.h"
#include "match/matchingRun.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "textfiles/settings.h"

// The matching run, aligning turned parts when the dialog's check box asks for it, reporting
// its stages to the dialog's progress bar.
static int runAsChosen(DialogPort* dialog, const char* referencePath, const char* targetPath) {
  RunOptions options{};
  options.alignParts = (matchSettings.sw & kSwitchAlignParts) ? 1 : 0;
  options.progress = dialog ? dialog->runProgress : nullptr;
  return runMatchingWith(dialog, referencePath, targetPath, &options);
}

int main(int argc, char** argv) {
  // A file-size limit fails the write instead of ending the program mid-save.
  std::signal(SIGXFSZ, SIG_IGN);
  reportAllocationFailures();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("morvane"));
  QApplication::setDesktopFileName(QStringLiteral("morvane"));
  QApplication::setWindowIcon(programIcon());
  useProgramFileLocations();
  setErrorPresenter(showErrorBox);
  {
    QtFileChooser chooser;
    MainDialog dialog(chooser, runAsChosen, saveTargetDxf);
    dialog.exec();
  }
  setErrorPresenter(nullptr);
  releaseRunData();
  return 0;
}
