// morvane-match: the batch tool. Runs one matching from the command line and writes the target
// under the borrowed layer names. Progress lines go to standard output, reasons for a non-zero
// exit status to standard error.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/configFolder.h"
#include "app/errorReport.h"
#include "app/programPath.h"
#include "cli/liveLine.h"
#include "match/matchingRun.h"
#include "match/runResult.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "output/faceReport.h"
#include "output/keepTarget.h"
#include "output/keptResult.h"
#include "render/renderView.h"
#include "textfiles/dialogPort.h"
#include "textfiles/lineList.h"
#include "textfiles/platform.h"
#include "textfiles/runProgress.h"
#include "textfiles/scopedBlocks.h"
#include "textfiles/settings.h"
#if MORVANE_PICTURES
#include "app/picture/previewPicture.h"
#endif

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitRunFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotWritten = 3;
constexpr int kExitExtraNotWritten = 4;
constexpr int kSettingsLineCount = 9;

constexpr const char* kUsage =
    "Usage: morvane-match [--settings FILE] [--rotation N] [--align] [--keep-target] [--quiet]\n"
    "                     REFERENCE TARGET OUTPUT\n";

constexpr const char* kHelp =
    "Gives the faces of TARGET the layer names of the matching faces of REFERENCE and writes\n"
    "the result to OUTPUT.\n"
    "\n"
    "Arguments:\n"
    "  REFERENCE       DXF file whose 3DFACE entities carry the wanted layer names. An empty\n"
    "                  argument (\"\"), NULL or No Use (in any letter case) runs without one:\n"
    "                  every face then keeps its own layer.\n"
    "  TARGET          DXF file whose faces are to be renamed. Its 3DFACE entities and 999\n"
    "                  comments are read; everything else in it is not carried over.\n"
    "  OUTPUT          Path of the DXF file to write. It is written whole or not at all, so it\n"
    "                  may be the TARGET path itself; on failure nothing there is changed.\n"
    "\n"
    "Options:\n"
    "  --settings FILE  Read the matching settings from FILE, in the format of param.txt (nine\n"
    "                   lines: switch word, then the eight tolerances). A file of fewer than\n"
    "                   nine lines gives the default settings, as the dialog does. Without\n"
    "                   this option, param.txt beside the program (or, for an installed copy "
    "whose\n"
    "                   folder cannot be written, in ~/.config/morvane) is read when it exists, "
    "else\n"
    "                   the defaults are used. No settings file is ever written.\n"
    "  --rotation N     Rotate the corner order of every face of both files by N (0, 1, 2 or\n"
    "                   3), as choosing N in the dialog's rotation box does. Without it the\n"
    "                   rotation is line 4 of the settings when bit 1 of the switch word is\n"
    "                   set (truncated, never negative), else 0.\n"
    "  --align          Align parts that were turned by any angle, mirrored, rescaled or whose\n"
    "                   quads were split into triangles onto reference parts of the same shape\n"
    "                   before the faces are matched (the dialog's \"Align turned parts\"). "
    "Without\n"
    "                   it, parts are aligned when bit value 4 of the switch word is set.\n"
    "  --preview FILE   After OUTPUT, write a PNG picture to FILE: the reference on the left,\n"
    "                   the output on the right, each layer in its own colour (the same in\n"
    "                   both), faces left unmatched in red, faces whose layer is a guess\n"
    "                   hatched, a legend (layer, colour, faces in each model) and the\n"
    "                   \"Faces:\" line. Needs no display.\n"
    "  --view V         The preview's view: iso (the default), front, top or side.\n"
    "  --report FILE    After OUTPUT, write a CSV file to FILE: the header\n"
    "                   face,layer,how,reference_face,part,guess then one row per target face\n"
    "                   in target order (face and reference indices from 0, how one of\n"
    "                   coincident, aligned, tests, propagation, unmatched; layer as written\n"
    "                   in OUTPUT; guess 1 when the layer is a guess).\n"
    "  --keep-target    Write the target file back whole: everything in it stays as it is\n"
    "                   (header, layer table, other entities, line ends) but the layers of\n"
    "                   its faces (3DFACE, polyface meshes, MESH, blocks), and new layer names\n"
    "                   get layer table entries (the dialog's \"Keep the rest of the target\n"
    "                   file\"; bit value 8 of the switch word). Faces the reader could not\n"
    "                   read do not stop the run then: they are written back as they were.\n"
    "  -q, --quiet      No live progress line on standard error.\n"
    "  --version        Show the version and exit.\n"
    "  -h, --help       Show this text and exit.\n"
    "  --               Take every later argument as a path.\n"
    "\n"
    "Standard output shows the run's progress lines, one per line; after a successful run one\n"
    "more line counts the target faces by how they were matched: coincident with a reference\n"
    "face, by the three face tests, by propagation from a seed face, or unmatched (those keep\n"
    "their own layer). With --align it reads \"Faces: c coincident / a aligned / t by tests /\n"
    "p by propagation / u unmatched\", followed by \"k faces on symmetric parts: their layer is\n"
    "a guess\" when alignments that the geometry cannot tell apart would give other layers.\n"
    "Once OUTPUT is written, \"Written: OUTPUT\" follows.\n"
    "\n"
    "Standard error names a file that cannot be read or written with the system's reason, warns\n"
    "of a file without 3DFACE entities, and after running out of memory names the stage, the\n"
    "models' sizes and what to try. When standard error is a terminal, a live line shows the\n"
    "stage, the part, the share done and the time taken, and is cleared at the end (--quiet\n"
    "leaves it out).\n"
    "\n"
    "Ctrl-C stops the run before its next stage or part (\"Cancelled\"; nothing is written);\n"
    "once the files are being written, they are finished first.\n"
    "\n"
    "Exit status:\n"
    "  0  OUTPUT was written.\n"
    "  1  The run failed or was stopped with Ctrl-C (see the progress lines; out of memory is\n"
    "     also reported on standard error and in perr.txt beside the program).\n"
    "  2  Bad arguments, or the settings file given with --settings cannot be read.\n"
    "  3  OUTPUT could not be written (the progress log says \"Write Error : Terget DXF\").\n"
    "  4  OUTPUT was written, but the --preview or --report file could not be (standard\n"
    "     error names the file and the reason).\n";

struct Arguments {
  const char* settingsPath = nullptr;
  int rotation = -1;  // -1: not given
  const char* paths[3] = {};
  int pathCount = 0;
  bool help = false;
  bool version = false;
  bool quiet = false;
  bool align = false;
  const char* previewPath = nullptr;  // --preview
  const char* viewName = nullptr;     // --view
  const char* reportPath = nullptr;   // --report
  bool keepTarget = false;
};

int usageError(const char* message, const char* detail) {
  std::fprintf(stderr, "morvane-match: %s%s\n%sTry 'morvane-match --help'.\n", message,
               detail ? detail : "", kUsage);
  return kExitUsage;
}

// Value of an option written as "--name VALUE" or "--name=VALUE"; null when absent. Advances
// `i` past a separate value.
const char* optionValue(int argc, char** argv, int* i, const char* name, bool* matched) {
  size_t n = std::strlen(name);
  const char* arg = argv[*i];
  *matched = false;
  if (std::strncmp(arg, name, n) != 0) return nullptr;
  if (arg[n] == '=') {
    *matched = true;
    return arg + n + 1;
  }
  if (arg[n] != '\0') return nullptr;
  *matched = true;
  if (*i + 1 >= argc) return nullptr;
  ++*i;
  return argv[*i];
}

// --preview, --view and --report at argv[*i] into `out`: 1 taken, 0 not one of them, -1 a bad
// value (after its message).
int takeOutputOption(int argc, char** argv, int* i, Arguments* out) {
  static constexpr const char* kNames[] = {"--preview", "--view", "--report"};
  const char** fields[] = {&out->previewPath, &out->viewName, &out->reportPath};
  for (int k = 0; k < 3; ++k) {
    bool matched = false;
    const char* value = optionValue(argc, argv, i, kNames[k], &matched);
    if (!matched) continue;
    if (!value || !*value) return usageError(kNames[k], " needs a value"), -1;
    *fields[k] = value;
    return 1;
  }
  return 0;
}

// The checks of the picture and report options that need the whole command line: 0, or the
// usage exit status after its message.
int checkOutputOptions(const Arguments& args) {
  RenderView view{};
  if (args.viewName && !namedView(args.viewName, &view))
    return usageError("--view takes iso, front, top or side, not: ", args.viewName);
  if (args.viewName && !args.previewPath) return usageError("--view needs --preview", nullptr);
#if !MORVANE_PICTURES
  if (args.previewPath) return usageError("this build has no pictures: --preview", nullptr);
#endif
  return 0;
}

// Parses the command line into `out`; returns 0, or the usage exit status after its message.
int parseArguments(int argc, char** argv, Arguments* out) {
  bool pathsOnly = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (pathsOnly || arg[0] != '-' || arg[1] == '\0') {
      if (out->pathCount == 3) return usageError("too many arguments: ", arg);
      out->paths[out->pathCount++] = arg;
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      pathsOnly = true;
      continue;
    }
    // Switches without a value, by long and short name.
    const struct {
      const char* name;
      const char* shortName;
      bool* set;
    } switches[] = {{"--align", nullptr, &out->align},
                    {"--keep-target", nullptr, &out->keepTarget},
                    {"--help", "-h", &out->help},
                    {"--version", nullptr, &out->version},
                    {"--quiet", "-q", &out->quiet}};
    bool isSwitch = false;
    for (const auto& option : switches) {
      if (std::strcmp(arg, option.name) == 0 ||
          (option.shortName && std::strcmp(arg, option.shortName) == 0)) {
        *option.set = isSwitch = true;
      }
    }
    if (isSwitch) continue;
    bool matched = false;
    const char* value = optionValue(argc, argv, &i, "--settings", &matched);
    if (matched) {
      if (!value || !*value) return usageError("--settings needs a file", nullptr);
      out->settingsPath = value;
      continue;
    }
    if (int taken = takeOutputOption(argc, argv, &i, out)) {
      if (taken < 0) return kExitUsage;
      continue;
    }
    value = optionValue(argc, argv, &i, "--rotation", &matched);
    if (matched) {
      if (!value || value[0] < '0' || value[0] > '3' || value[1] != '\0') {
        return usageError("--rotation takes 0, 1, 2 or 3, not: ", value ? value : "(nothing)");
      }
      out->rotation = value[0] - '0';
      continue;
    }
    return usageError("unknown option: ", arg);
  }
  if (out->help || out->version) return 0;
  if (int status = checkOutputOptions(*out)) return status;
  if (out->pathCount < 3) return usageError("REFERENCE, TARGET and OUTPUT are needed", nullptr);
  if (!out->paths[1][0]) return usageError("TARGET is empty", nullptr);
  if (!out->paths[2][0]) return usageError("OUTPUT is empty", nullptr);
  return 0;
}

// The rotation in force after the settings were read, by the dialog's rule: line 4 (truncated,
// never negative) when bit 1 of the switch word shows the rotation box, else 0.
int32_t rotationFromSettings() {
  if ((matchSettings.sw & kSwitchShowRotationBox) == 0) return 0;
  return rotationFromSetting(matchSettings.textureRotation);
}

// Fills matchSettings from the file (nine or more lines), or from the defaults. Returns false
// when the file cannot be read.
bool readSettingsFile(const char* path, bool mustExist) {
  int status = kLoadNotOpened;
  OwnedLineList lines(loadLineListAs(path, LineSplit::dropEmpty, &status));
  if (status == kLoadNoMemory || (status == kLoadNotOpened && mustExist)) return false;
  if (status == kLoadRead && lines && lines->count >= kSettingsLineCount) {
    parseSettings(lines.get());
  } else {
    if (status == kLoadRead) {
      std::fprintf(stderr, "morvane-match: %s has fewer than nine lines: using the defaults\n",
                   path);
    }
    useDefaultSettings();
  }
  return true;
}

// Says on standard error why `output` could not be written: the folder's or the path's
// problem, else the system's text of `errorNumber`, else `fallback` (when given).
void explainWriteFailure(const char* output, int errorNumber, const char* fallback = nullptr) {
  char reason[320];
  fileWriteProblem(output, errorNumber, reason, sizeof reason);
  if (fallback && *fallback && errorNumber == 0 &&
      std::strcmp(reason, "it could not be written") == 0)
    std::snprintf(reason, sizeof reason, "%s", fallback);
  std::fprintf(stderr, "morvane-match: %s was not written: %s\n", output, reason);
}

// Writes the --report and --preview files asked for, after OUTPUT was written (the report's
// layers follow the kept target's rule with `keepTarget`). Returns
// kExitWritten, or kExitExtraNotWritten when one of them was not written (said on standard
// error with its path and reason).
int writeOutputExtras(const Arguments& args, bool keepTarget) {
  int status = kExitWritten;
  const LayerRule rule = keepTarget ? LayerRule::keptTarget : LayerRule::written;
  errno = 0;
  if (args.reportPath && !saveFaceReport(args.reportPath, rule)) {
    explainWriteFailure(args.reportPath, errno);
    status = kExitExtraNotWritten;
  }
#if MORVANE_PICTURES
  if (args.previewPath) {
    RenderView view{};
    namedView(args.viewName ? args.viewName : "iso", &view);
    auto application = startPaintingApplication();
    QString reason;
    KeptResult kept{};
    bool saved = keepRunResult(&kept) && savePreviewPicture(args.previewPath, kept, view, &reason);
    if (!saved && reason.isEmpty()) reason = QStringLiteral("out of memory");
    releaseKeptResult(&kept);
    if (!saved) {
      explainWriteFailure(args.previewPath, 0, reason.toLocal8Bit().constData());
      status = kExitExtraNotWritten;
    }
  }
#endif
  return status;
}

// Writes the target back whole (--keep-target) and says what changed besides layers. Returns 1
// when written.
int saveKeptTargetWithLines(DialogPort* progress, const char* output, const char* reference) {
  KeptTargetSummary kept = saveKeptTarget(output, reference);
  if (kept.written && (kept.layersAdded || kept.meshesSplit || kept.insertsExploded)) {
    addProgressLine(progress,
                    "Kept the target: %d layers added, %d MESH split, %d INSERT exploded (%d "
                    "other entities of their blocks left out)",
                    kept.layersAdded, kept.meshesSplit, kept.insertsExploded, kept.entitiesDropped);
  }
  return kept.written;
}

// What standard output and standard error show of a run: its lines on standard output, the
// detail lines kept for standard error, and the live progress line on a terminal.
struct Console {
  int lineCount;
  LiveLine live;
  std::vector<std::string> details;
};

int printLine(DialogPort* self, const char* line) {
  auto* console = static_cast<Console*>(self->context);
  clearLiveLine(&console->live);
  std::fputs(line, stdout);
  std::fputc('\n', stdout);
  return console->lineCount++;
}

int keepDetailLine(DialogPort* self, const char* line) {
  auto* console = static_cast<Console*>(self->context);
  console->details.emplace_back(line);
  return static_cast<int>(console->details.size()) - 1;
}

// The run's detail lines, on standard error after its own lines.
void printDetailLines(Console* console) {
  for (const std::string& line : console->details)
    std::fprintf(stderr, "morvane-match: %s\n", line.c_str());
  console->details.clear();
}

// Ctrl-C during the run: the run stops before its next stage or part, releases everything and
// writes nothing. A second one ends the tool at once. While a file is written, it waits.
volatile std::sig_atomic_t interrupted = 0;

void noteInterrupt(int) {
  interrupted = 1;
}

void stopOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = noteInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

// Holds Ctrl-C back (`hold` true) while files are written, or lets it through again.
void holdInterrupts(bool hold) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

int interruptRequested(RunProgress*) {
  return interrupted;
}

void reportLive(RunProgress* self, const char* stage, int32_t part, int32_t parts,
                double fraction) {
  showLiveLine(static_cast<LiveLine*>(self->context), stage, part, parts, fraction);
}

}  // namespace

int main(int argc, char** argv) {
  // A file-size limit must fail the write (and leave the destination as it was), not kill the
  // tool halfway through with its temporary file left behind.
  std::signal(SIGXFSZ, SIG_IGN);
  Arguments args;
  if (int status = parseArguments(argc, argv, &args)) return status;
  if (args.help) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return kExitWritten;
  }
  if (args.version) {
    std::printf("morvane-match %s\n", MORVANE_VERSION);
    return kExitWritten;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  reportAllocationFailures();
  setProgramDirectory();
  useConfigFolderWhenProgramFolderIsReadOnly();

  if (args.settingsPath) {
    if (!readSettingsFile(args.settingsPath, true)) {
      std::fprintf(stderr, "morvane-match: cannot read the settings file %s\n", args.settingsPath);
      return kExitUsage;
    }
  } else if (!readSettingsFile(programPath("param.txt"), false)) {
    return kExitRunFailed;  // out of memory, already reported
  }
  textureRotation = rotationFromSettings();
  if (args.rotation >= 0) setTextureRotation(args.rotation);

  Console console{};
  console.live.shown = false;
  console.live.enabled = !args.quiet && standardErrorIsTerminal();
  startLiveLine(&console.live);
  DialogPort progress{};
  progress.context = &console;
  progress.addListLine = printLine;
  progress.addDetailLine = keepDetailLine;
  RunProgress live{};
  live.context = &console.live;
  live.report = reportLive;
  live.cancelRequested = interruptRequested;
  stopOnInterrupt();

  const char* output = args.paths[2];
  int exitStatus = kExitWritten;
  RunOptions options{};
  const bool align = args.align || (matchSettings.sw & kSwitchAlignParts) != 0;
  options.alignParts = align ? 1 : 0;
  const bool keepTarget = args.keepTarget || (matchSettings.sw & kSwitchKeepTarget) != 0;
  options.keepTarget = keepTarget ? 1 : 0;
  options.progress = &live;
  const int result = runMatchingWith(&progress, args.paths[0], args.paths[1], &options);
  clearLiveLine(&console.live);
  holdInterrupts(true);
  if (!result && interrupted) {
    std::fprintf(stderr, "morvane-match: interrupted; %s was not written\n", output);
    exitStatus = kExitRunFailed;
  } else if (!result) {
    std::fprintf(stderr, "morvane-match: the matching run failed; %s was not written\n", output);
    printDetailLines(&console);
    exitStatus = kExitRunFailed;
  } else {
    printDetailLines(&console);
    addTallyLines(&progress, tallyMatches(referenceModel, targetModel), align ? 1 : 0);
    showLiveLine(&console.live, "writing", 0, 0, 1.0);
    errno = 0;
    const bool saved = (keepTarget ? saveKeptTargetWithLines(&progress, output, args.paths[0])
                                   : saveTargetDxf(output)) != 0;
    const int saveError = errno;
    clearLiveLine(&console.live);
    if (!saved) {
      addProgressLine(&progress, "Write Error : Terget DXF");
      explainWriteFailure(output, saveError);
      exitStatus = kExitNotWritten;
    } else {
      addProgressLine(&progress, "Written: %s", output);
      exitStatus = writeOutputExtras(args, keepTarget);
    }
  }
  releaseRunData();
  std::fflush(stdout);
  return exitStatus;
}
