// morvane-idle-bench [--align] [--keep-target] REFERENCE TARGET [OUTPUT]: the dialog's memory
// around one run, as a user meets it. The real dialog (offscreen unless QT_QPA_PLATFORM names
// a platform) runs the pair as "Save Terget.." does, with the program's run and save and the
// check boxes the options tick, the save chooser cancelled; with OUTPUT, "Save Terget.." is
// pressed again and the kept result saved there. Reports the resident size before the run (Qt
// loaded, the dialog shown), the peak (VmHWM) and the resident size once idle after the run and
// after the save, with the allocator's outstanding bytes at each (its peak sampled every 5 ms).
// Before Qt, whose "emit" keyword would clash with the probe's function of that name.
#include "bench/processProbe.h"
// clang-format off
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include "textfiles/platform.h"
// clang-format on

#include "app/dialog/dialogTemplate.h"
#include "app/dialog/fileChooser.h"
#include "app/dialog/mainDialog.h"
#include "app/programPath.h"
#include "match/matchingRun.h"
#include "model/faceModel.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"
#if __has_include("output/keptResult.h")
#include "output/keptResult.h"
#define MORVANE_KEPT_RESULT 1
#else
#include "output/dxfWriter.h"
#endif
#include "output/keepTarget.h"

namespace {

// Cancels every chooser but the save chooser's second showing, which gets `output`.
struct ScriptedChooser : FileChooser {
  QString output;
  int saves = 0;
  QString choose(QWidget*, const ChooserRequest& request) override {
    return request.kind == ChooserKind::saveTarget && saves++ == 1 ? output : QString();
  }
};

// The allocator's largest outstanding bytes while it runs.
struct PeakSampler {
  std::atomic<bool> stop{false};
  std::atomic<long long> peak{0};
  std::thread thread{[this] {
    while (!stop) {
      long long now = gliveBytes();
      if (now > peak) peak = now;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }};
  ~PeakSampler() { stop = true, thread.join(); }
};

std::string referencePath, targetPath;

// The program's run: aligning and keeping the target as the check boxes say.
int runAsChosen(DialogPort* dialog, const char* reference, const char* target) {
  RunOptions options{};
  options.alignParts = (matchSettings.sw & kSwitchAlignParts) ? 1 : 0;
  options.keepTarget = (matchSettings.sw & kSwitchKeepTarget) ? 1 : 0;
  options.progress = dialog ? dialog->runProgress : nullptr;
  return runMatchingWith(dialog, reference, target, &options);
}

// The program's save: the target written back whole when the run kept its file.
#ifdef MORVANE_KEPT_RESULT
int saveAsChosen(const char* path, const KeptResult& kept) {
  if (kept.keptMatch)
    return saveKeptResultTarget(path, targetPath.c_str(), referencePath.c_str(), kept).written;
  return saveKeptResultDxf(path, kept);
}
#else
int saveAsChosen(const char* path) {
  if (targetModel && targetModel->sourceBytes)
    return saveKeptTarget(path, referencePath.c_str()).written;
  return saveTargetDxf(path);
}
#endif

void settle() {
  for (int i = 0; i < 20; ++i)
    QApplication::processEvents(QEventLoop::AllEvents, 10), QThread::msleep(10);
}

void row(const char* moment, long rssKb, long long allocated) {
  std::printf("| %s | %.0f | %.1f |\n", moment, rssKb / 1024.0, allocated / 1048576.0);
}

}  // namespace

int main(int argc, char** argv) {
  bool align = false, keepTarget = false;
  for (; argc > 1 && argv[1][0] == '-'; --argc, ++argv) {
    align |= std::strcmp(argv[1], "--align") == 0;
    keepTarget |= std::strcmp(argv[1], "--keep-target") == 0;
  }
  if (argc < 3) {
    std::fputs("usage: morvane-idle-bench [--align] [--keep-target] REFERENCE TARGET [OUTPUT]\n",
               stderr);
    return 2;
  }
  returnFreedMemoryPromptly();  // as the program does
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  char folder[] = "/tmp/morvane-idle-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  setProgramDirectoryTo(folder);
  ScriptedChooser chooser;
  chooser.output = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
  referencePath = argv[1], targetPath = argv[2];
  MainDialog dialog(chooser, runAsChosen, saveAsChosen);
  qobject_cast<QCheckBox*>(dialog.control(kAlignBoxId))->setChecked(align);
  qobject_cast<QCheckBox*>(dialog.control(kKeepTargetBoxId))->setChecked(keepTarget);
  dialog.show();
  qobject_cast<QComboBox*>(dialog.control(kReferenceBoxId))->setEditText(argv[1]);
  qobject_cast<QComboBox*>(dialog.control(kTargetBoxId))->setEditText(argv[2]);
  settle();
  std::printf("| moment | resident MiB | allocator MiB |\n|---|---:|---:|\n");
  row("before the run", benchprobe::currentRssKb(), gliveBytes());
  long long peak = 0;
  {
    PeakSampler sampler;
    dialog.onSaveTarget();
    settle();
    peak = sampler.peak;
  }
  row("peak of the run", benchprobe::peakRssKb(), peak);
  row("idle after the run", benchprobe::currentRssKb(), gliveBytes());
  if (argc > 3) {
    benchprobe::resetPeakRss();
    PeakSampler sampler;
    dialog.onSaveTarget();
    settle();
    row("peak of the save", benchprobe::peakRssKb(), sampler.peak);
    row("idle after the save", benchprobe::currentRssKb(), gliveBytes());
  }
  dialog.reject();
  return 0;
}
