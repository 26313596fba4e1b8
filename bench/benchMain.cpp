// morvane-bench: generates model pairs, runs every measurement in a fresh child process of this
// program (so peaks never carry over from one size to the next) and prints markdown tables.
#include <sys/stat.h>
#include <unistd.h>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench/benchStages.h"
#include "bench/modelGenerator.h"
#include "bench/processProbe.h"

namespace {

using benchprobe::ChildResult;

// Bump when the generator's output changes, so cached pairs are made again.
constexpr int kGeneratorVersion = 1;
// Translated-only whole runs, and the runMatching and detail children of the turned runs, are
// added up to this size.
constexpr long long kLargestTranslatedRun = 100000;

const char kUsage[] =
    "usage: morvane-bench [options]\n"
    "Generates model pairs into the data folder (reused while their options are unchanged) and\n"
    "prints markdown tables of time and peak memory. Each measurement runs in a child process.\n"
    "  --data DIR          data folder (default: bench-data beside this program)\n"
    "  --sizes LIST        face counts, comma-separated (default 10000,100000,1000000)\n"
    "  --parts LIST        single-part face counts (default 5000,20000,50000)\n"
    "  --min-part N        smallest drawn part (default 200)\n"
    "  --max-part N        largest part (default 2000)\n"
    "  --only LIST         some of io,pairing,run,part (default all)\n"
    "  --cap S             time cap per child in seconds (default 600)\n"
    "  --plain-cap S       time cap for the plain-scan pairing (default 60)\n"
    "  --memory-cap GIB    address space per child (default 12)\n"
    "  --no-runmatching    skip the runMatching cross-check of the whole runs\n"
    "  --no-detail         skip the timed split of face matching (tests, profiles, propagation)\n"
    "  --seed N            generator seed (default 1)\n"
    "  --smoke             tiny models in a temporary folder; checks the results, exit status 1\n"
    "                      when one fails (no timing is checked)\n";

struct Config {
  std::string dataDir;
  std::vector<long long> sizes{10000, 100000, 1000000};
  std::vector<long long> partSizes{5000, 20000, 50000};
  int minPart = 200;
  int maxPart = 2000;
  uint64_t seed = 1;
  double cap = 600.0;
  double plainCap = 60.0;
  double memoryCapGiB = 12.0;
  bool runMatchingCheck = true;
  bool detail = true;
  std::set<std::string> only;
  bool smoke = false;
};

struct PairFiles {
  bool ok = false;
  std::string reference, target, truth;
  long long faces = 0, parts = 0, moved = 0, triangles = 0;
};

std::string selfPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::string fixed(double value, int decimals) {
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

std::string seconds(double s) {
  if (s < 1.0) return fixed(s, 3);
  if (s < 100.0) return fixed(s, 2);
  return fixed(s, 0);
}

std::string megabytes(double kb) {
  return fixed(kb / 1024.0, kb < 10240.0 ? 1 : 0);
}

std::string grouped(long long n) {
  std::string digits = std::to_string(n < 0 ? -n : n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return n < 0 ? "-" + out : out;
}

double number(const ChildResult& r, const std::string& key, double otherwise = -1.0) {
  auto it = r.values.find(key);
  if (it == r.values.end()) return otherwise;
  double value = otherwise;
  const std::string& text = it->second;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

bool has(const ChildResult& r, const std::string& key) {
  return r.values.count(key) > 0;
}

std::string cell(const ChildResult& r, const std::string& key) {
  return has(r, key) ? seconds(number(r, key)) : "–";
}
std::string peakCell(const ChildResult& r, const std::string& key) {
  return has(r, key) ? megabytes(number(r, key)) : "–";
}
std::string countCell(const ChildResult& r, const std::string& key) {
  return has(r, key) ? grouped(static_cast<long long>(number(r, key))) : "–";
}
std::string percentCell(const ChildResult& r, const std::string& key, double whole) {
  if (!has(r, key) || whole <= 0) return "–";
  return fixed(100.0 * number(r, key) / whole, 1) + " %";
}

std::string readFileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// How a child ended, in a few words.
std::string outcome(const ChildResult& r, const Config& config, double cap,
                    const std::string& folder) {
  if (!r.started) return "could not start";
  std::string stage = r.values.count("begin") ? r.values.at("begin") : "start";
  if (has(r, "failed")) stage = r.values.at("failed");
  stage += " after " + seconds(r.wallSeconds) + " s";  // of the child's whole life
  if (r.timedOut) return "time cap (" + seconds(cap) + " s) reached in " + stage;
  if (r.signal != 0) {
    std::string why = "ended by signal " + std::to_string(r.signal) + " in " + stage;
    if (!r.notes.empty()) why += " (\"" + r.notes.back() + "\")";
    return why;
  }
  if (r.exitCode != 0) {
    std::string why = "failed in " + stage;
    std::string report = readFileText(folder + "/perr.txt");
    while (!report.empty() && (report.back() == '\n' || report.back() == '\r'))
      report.pop_back();
    if (!report.empty()) why += " (error report: \"" + report + "\")";
    if (config.memoryCapGiB > 0)
      why += ", address space capped at " + fixed(config.memoryCapGiB, 0) + " GiB";
    return why;
  }
  return "ok";
}

std::string describe(const benchgen::GeneratorOptions& o) {
  std::ostringstream text;
  text << "generator " << kGeneratorVersion << "\nfaces " << o.faces << "\nmin-part "
       << o.minPartFaces << "\nmax-part " << o.maxPartFaces << "\nshape "
       << benchgen::shapeName(o.shape) << "\nsingle " << o.singlePart << "\nmove "
       << static_cast<int>(o.movement) << "\nturn " << o.turn << "\ntogether "
       << o.keepPartsTogether << "\nseed " << o.seed << "\n";
  return text.str();
}

// Generates the pair into data/name unless a pair made with the same options is there.
PairFiles ensurePair(const Config& config, const std::string& name,
                     const benchgen::GeneratorOptions& options) {
  PairFiles files;
  std::string folder = config.dataDir + "/" + name;
  mkdir(folder.c_str(), 0777);
  files.reference = folder + "/reference.dxf";
  files.target = folder + "/target.dxf";
  files.truth = folder + "/truth.bin";
  std::string stampPath = folder + "/pair.txt";
  std::string wanted = describe(options);
  std::string stamp = readFileText(stampPath);
  struct stat info {};
  if (stamp.rfind(wanted, 0) == 0 && stat(files.target.c_str(), &info) == 0 &&
      stat(files.reference.c_str(), &info) == 0 && stat(files.truth.c_str(), &info) == 0) {
    std::istringstream rest(stamp.substr(wanted.size()));
    std::string key;
    long long value = 0;
    while (rest >> key >> value) {
      if (key == "result-faces") files.faces = value;
      if (key == "result-parts") files.parts = value;
      if (key == "result-moved") files.moved = value;
      if (key == "result-triangles") files.triangles = value;
    }
    files.ok = files.faces > 0;
    if (files.ok) return files;
  }
  std::remove(stampPath.c_str());
  double start = benchprobe::nowSeconds();
  benchgen::GeneratedPair pair = benchgen::generatePair(options);
  files.faces = static_cast<long long>(pair.faces.size());
  files.parts = static_cast<long long>(pair.parts.size());
  for (const benchgen::GenPart& part : pair.parts)
    files.moved += part.moved;
  for (const benchgen::GenFace& face : pair.faces)
    files.triangles += face.cornerCount == 3;
  files.ok = benchgen::writeReferenceDxf(pair, files.reference) &&
             benchgen::writeTargetDxf(pair, files.target) &&
             benchgen::writeTruth(pair, files.truth);
  if (!files.ok) {
    std::fprintf(stderr, "morvane-bench: cannot write the pair into %s\n", folder.c_str());
    return files;
  }
  std::ofstream out(stampPath);
  out << wanted << "result-faces " << files.faces << "\nresult-parts " << files.parts
      << "\nresult-moved " << files.moved << "\nresult-triangles " << files.triangles << "\n";
  std::fprintf(stderr, "generated %s: %s faces in %s parts in %s s\n", name.c_str(),
               grouped(files.faces).c_str(), grouped(files.parts).c_str(),
               seconds(benchprobe::nowSeconds() - start).c_str());
  return files;
}

benchgen::GeneratorOptions pairOptions(const Config& config, long long faces,
                                       benchgen::Movement movement) {
  benchgen::GeneratorOptions o;
  o.faces = faces;
  o.minPartFaces = config.minPart;
  o.maxPartFaces = config.maxPart;
  o.movement = movement;
  o.turn = true;
  o.seed = config.seed;
  return o;
}

ChildResult child(const Config& config, std::vector<std::string> args, double cap) {
  args.insert(args.begin(), {selfPath(), "--child"});
  unsigned long long memory =
      static_cast<unsigned long long>(config.memoryCapGiB * 1024.0 * 1024.0 * 1024.0);
  return benchprobe::runChild(args, cap, memory);
}

long long fileBytes(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

std::string wcPath() {
  for (const char* p : {"/usr/bin/wc", "/bin/wc"}) {
    if (access(p, X_OK) == 0) return p;
  }
  return "wc";
}

// The one-minute load average: other work on the machine slows every wall time measured.
std::string loadAverage() {
  std::string text = readFileText("/proc/loadavg");
  return text.substr(0, text.find(' '));
}

void printMachine() {
  std::string model = "unknown processor";
  std::ifstream cpu("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpu, line)) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  long cores = sysconf(_SC_NPROCESSORS_ONLN);
  double memory = static_cast<double>(sysconf(_SC_PHYS_PAGES)) *
                  static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0 * 1024.0);
  std::printf(
      "Machine: %ld cores (%s), %s GiB of memory; load average %s at the start. "
      "One run of each measurement.\n\n",
      cores, model.c_str(), fixed(memory, 0).c_str(), loadAverage().c_str());
}

struct Checks {
  int failed = 0;
  void expect(bool ok, const std::string& what) {
    if (!ok) {
      ++failed;
      std::fprintf(stderr, "CHECK FAILED: %s\n", what.c_str());
    }
  }
};

std::string cpPath() {
  for (const char* p : {"/usr/bin/cp", "/bin/cp"}) {
    if (access(p, X_OK) == 0) return p;
  }
  return "cp";
}

// The best wall time of three runs of `argv` after one that only warms the page cache.
double bestOfThree(const std::vector<std::string>& argv) {
  double best = 1e308;
  for (int i = 0; i < 4; ++i) {
    ChildResult r = benchprobe::runChild(argv, 0, 0);
    if (r.exitCode == 0 && i > 0) best = std::min(best, r.wallSeconds);
  }
  return best;
}

void ioTable(const Config& config, Checks& checks) {
  std::printf(
      "### Reading and writing in the run\n\n"
      "The target file of each pair run without reference, as `morvane-match NULL TARGET OUT` "
      "runs it: `runMatching` (the file's bytes read, grouped, measured) then `saveTargetDxf` "
      "(the streamed writer). Run: the whole child process, best of three after one that warms "
      "the page cache, each writing over the last one's output. Floor, measured beside it: "
      "`wc -l` on the file plus `cp` of it over an earlier copy, each best of three likewise. "
      "Peak: the child's peak resident size, the process itself included.\n\n"
      "| faces | file MiB | `wc -l` s | `cp` s | floor s | read s | write s | run s | × floor "
      "| peak MiB | bytes per file byte | |\n"
      "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
  std::fflush(stdout);
  for (long long size : config.sizes) {
    PairFiles pair = ensurePair(config, "shared-" + std::to_string(size),
                                pairOptions(config, size, benchgen::Movement::none));
    if (!pair.ok) continue;
    std::string folder = pair.target.substr(0, pair.target.rfind('/'));
    const std::string copy = folder + "/floor-copy.dxf", written = folder + "/written.dxf";
    const double wc = bestOfThree({wcPath(), "-l", pair.target});
    const double cp = bestOfThree({cpPath(), pair.target, copy});
    const double floor = wc + cp;
    ChildResult r;
    for (int i = 0; i < 4; ++i) {  // the first run warms the cache and makes the first output
      ChildResult run = child(config, {"io", pair.target, written}, config.cap);
      if (i == 0 || run.exitCode != 0 || (r.exitCode == 0 && run.wallSeconds < r.wallSeconds))
        r = run;
      if (run.exitCode != 0) break;
    }
    std::remove(copy.c_str());
    std::remove(written.c_str());
    long long bytes = fileBytes(pair.target);
    bool ok = r.exitCode == 0;
    std::printf(
        "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n",
        grouped(pair.faces).c_str(), fixed(static_cast<double>(bytes) / 1048576.0, 1).c_str(),
        seconds(wc).c_str(), seconds(cp).c_str(), seconds(floor).c_str(), cell(r, "read_s").c_str(),
        cell(r, "write_s").c_str(), ok ? seconds(r.wallSeconds).c_str() : "–",
        ok ? fixed(r.wallSeconds / floor, 1).c_str() : "–",
        ok ? megabytes(static_cast<double>(r.maxRssKb)).c_str() : "–",
        ok ? fixed(static_cast<double>(r.maxRssKb) * 1024.0 / static_cast<double>(bytes), 2).c_str()
           : "–",
        ok ? "" : outcome(r, config, config.cap, folder).c_str());
    std::fflush(stdout);
    checks.expect(ok, "io child for " + std::to_string(size) +
                          " faces: " + outcome(r, config, config.cap, folder));
    checks.expect(static_cast<long long>(number(r, "faces")) == pair.faces,
                  "io: read face count equals the generated count");
    checks.expect(static_cast<long long>(number(r, "parts")) == pair.parts,
                  "io: read part count equals the generated count");
    checks.expect(number(r, "saved") == 1, "io: output written");
  }
  std::printf("\n");
}

void pairingTable(const Config& config, Checks& checks) {
  std::printf(
      "### Angle signatures and coincidence pairing\n\n"
      "Reference and target share all geometry (faces shuffled, corners rotated, nothing "
      "moved). Signatures: `computeAngleSignatures` of both models. Pairing: "
      "`pairCoincidentGeometry`. Plain scans: the quadratic point and face scans written out "
      "literally (tests/reference/plainPairing.cpp), run while they end within the plain-scan cap; "
      "their results are compared with the indexed pairing's.\n\n"
      "| faces | points | signatures s | signatures peak MiB | pairing s | pairing peak MiB | "
      "paired faces | plain scans s | plain ÷ indexed | same result |\n"
      "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
  std::fflush(stdout);
  double lastPlain = -1.0;
  long long lastSize = 0;
  for (long long size : config.sizes) {
    PairFiles pair = ensurePair(config, "shared-" + std::to_string(size),
                                pairOptions(config, size, benchgen::Movement::none));
    if (!pair.ok) continue;
    std::string folder = pair.target.substr(0, pair.target.rfind('/'));
    ChildResult r = child(config, {"pairing", pair.reference, pair.target, pair.truth}, config.cap);
    std::string plainTime = "–", ratio = "–", same = "–";
    double estimate =
        lastPlain > 0 ? lastPlain * std::pow(static_cast<double>(size) / lastSize, 2.0) : 0.0;
    if (lastPlain >= 0 && estimate > 2.0 * config.plainCap) {
      plainTime = "not run (≈ " + seconds(estimate) + " by n²)";
      ratio = "≈ " + fixed(estimate / number(r, "pairing_s"), 0);
    } else {
      ChildResult p =
          child(config, {"plain", pair.reference, pair.target, pair.truth}, config.plainCap);
      if (p.timedOut) {
        plainTime = "> " + seconds(config.plainCap) + " (cap)";
        ratio = "> " + fixed(config.plainCap / number(r, "pairing_s"), 0);
        lastPlain = config.plainCap;
      } else if (p.exitCode == 0) {
        lastPlain = number(p, "plain_s");
        plainTime = seconds(lastPlain);
        ratio = fixed(lastPlain / number(p, "pairing_s"), 0);
        same = number(p, "plain_same") == 1 ? "yes" : "**no**";
        checks.expect(number(p, "plain_same") == 1,
                      "plain scans give the indexed pairing's result");
      } else {
        plainTime = outcome(p, config, config.plainCap, folder);
      }
      lastSize = size;
    }
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n",
                grouped(pair.faces).c_str(), countCell(r, "points").c_str(),
                cell(r, "signatures_s").c_str(), peakCell(r, "signatures_peak_kb").c_str(),
                cell(r, "pairing_s").c_str(), peakCell(r, "pairing_peak_kb").c_str(),
                countCell(r, "paired_faces").c_str(), plainTime.c_str(), ratio.c_str(),
                same.c_str());
    std::fflush(stdout);
    checks.expect(r.exitCode == 0, "pairing child: " + outcome(r, config, config.cap, folder));
    checks.expect(static_cast<long long>(number(r, "paired_as_generated")) == pair.faces,
                  "every target face pairs with the reference face it was made from");
    checks.expect(number(r, "anchored_parts") == number(r, "multi_face_parts"),
                  "every part of two or more faces is anchored");
  }
  std::printf("\n");
}

struct RunRow {
  std::string label;
  PairFiles pair;
  ChildResult staged, whole, detail;
  bool wholeRan = false, detailRan = false;
  std::string status;
};

void runTables(const std::string& title, const std::string& intro, std::vector<RunRow>& rows) {
  std::printf("### %s\n\n%s\n\n", title.c_str(), intro.c_str());
  std::printf(
      "Time per stage, seconds:\n\n"
      "| model | read | signatures | pairing | part matching | face matching | total | CPU | "
      "`runMatching` | |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
  for (RunRow& row : rows) {
    const ChildResult& r = row.staged;
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", row.label.c_str(),
                cell(r, "read_s").c_str(), cell(r, "signatures_s").c_str(),
                cell(r, "pairing_s").c_str(), cell(r, "part_matching_s").c_str(),
                cell(r, "face_matching_s").c_str(), cell(r, "total_s").c_str(),
                seconds(r.cpuSeconds).c_str(),
                row.wholeRan ? cell(row.whole, "runmatching_s").c_str() : "–", row.status.c_str());
  }
  std::printf(
      "\nPeak resident size per stage, MiB (the models read so far included; the last columns "
      "give the kernel's peak for the whole child):\n\n"
      "| model | read | signatures | pairing | part matching | face matching | whole child | "
      "`runMatching` child |\n|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (RunRow& row : rows) {
    const ChildResult& r = row.staged;
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", row.label.c_str(),
                peakCell(r, "read_peak_kb").c_str(), peakCell(r, "signatures_peak_kb").c_str(),
                peakCell(r, "pairing_peak_kb").c_str(),
                peakCell(r, "part_matching_peak_kb").c_str(),
                peakCell(r, "face_matching_peak_kb").c_str(),
                megabytes(static_cast<double>(r.maxRssKb)).c_str(),
                row.wholeRan ? megabytes(static_cast<double>(row.whole.maxRssKb)).c_str() : "–");
  }
  std::printf(
      "\nOutcome (target faces by how they were matched; \"right\" compares with the generator's "
      "record of where each target face came from):\n\n"
      "| model | parts | parts propagated | coincident | by the tests | by propagation | "
      "unmatched | right part | right layer | right face | overflowed reference parts | their "
      "faces: right layer | other faces: right layer |\n"
      "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (RunRow& row : rows) {
    const ChildResult& r = row.staged;
    double faces = static_cast<double>(row.pair.faces);
    double scrambled = number(r, "scrambled_faces");
    std::printf(
        "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", row.label.c_str(),
        grouped(row.pair.parts).c_str(), countCell(r, "parts_propagated").c_str(),
        countCell(r, "coincident").c_str(), countCell(r, "by_tests").c_str(),
        countCell(r, "by_propagation").c_str(), countCell(r, "unmatched").c_str(),
        percentCell(r, "right_parts", static_cast<double>(row.pair.parts)).c_str(),
        percentCell(r, "right_layer", faces).c_str(), percentCell(r, "right_face", faces).c_str(),
        countCell(r, "scrambled_parts").c_str(),
        scrambled > 0 ? percentCell(r, "scrambled_right", scrambled).c_str() : "–",
        has(r, "scrambled_faces") && faces > scrambled
            ? (fixed(100.0 * (number(r, "right_layer") - number(r, "scrambled_right")) /
                         (faces - scrambled),
                     1) +
               " %")
                  .c_str()
            : "–");
  }
  bool anyDetail = false;
  for (const RunRow& row : rows)
    anyDetail = anyDetail || row.detailRan;
  if (anyDetail) {
    std::printf(
        "\nFace matching in its parts, seconds (a second child runs the steps of `matchFaces` "
        "with a clock on each; its matches equal `matchFaces`' ones):\n\n"
        "| model | direct tests | influence profiles | propagation | face matching |\n"
        "|---|---:|---:|---:|---:|\n");
    for (const RunRow& row : rows) {
      if (!row.detailRan) continue;
      const ChildResult& r = row.detail;
      std::printf("| %s | %s | %s | %s | %s |\n", row.label.c_str(), cell(r, "tests_s").c_str(),
                  cell(r, "profiles_s").c_str(), cell(r, "propagation_s").c_str(),
                  cell(r, "face_matching_s").c_str());
    }
  }
  std::printf("\n");
  std::fflush(stdout);
}

RunRow measureRun(const Config& config, const std::string& label, const PairFiles& pair,
                  bool withRunMatching, bool withDetail, Checks& checks) {
  RunRow row;
  row.label = label;
  row.pair = pair;
  std::string folder = pair.target.substr(0, pair.target.rfind('/'));
  std::remove((folder + "/perr.txt").c_str());
  row.staged = child(config, {"run", pair.reference, pair.target, pair.truth}, config.cap);
  row.status = outcome(row.staged, config, config.cap, folder);
  checks.expect(row.staged.exitCode == 0, label + ": " + row.status);
  if (withRunMatching && row.staged.exitCode == 0) {
    row.whole = child(config, {"runmatching", pair.reference, pair.target, pair.truth}, config.cap);
    row.wholeRan = true;
    std::string whole = outcome(row.whole, config, config.cap, folder);
    if (whole != "ok") row.status += "; runMatching: " + whole;
    checks.expect(row.whole.exitCode == 0, label + " runMatching: " + whole);
    checks.expect(number(row.whole, "right_layer") == number(row.staged, "right_layer"),
                  label + ": runMatching and the staged run give the same layers");
  }
  if (withDetail && row.staged.exitCode == 0) {
    row.detail = child(config, {"detail", pair.reference, pair.target, pair.truth}, config.cap);
    row.detailRan = true;
    std::string detail = outcome(row.detail, config, config.cap, folder);
    if (detail != "ok") row.status += "; in detail: " + detail;
    checks.expect(row.detail.exitCode == 0, label + " in detail: " + detail);
    for (const char* key :
         {"by_tests", "by_propagation", "unmatched", "right_layer", "right_face"}) {
      checks.expect(number(row.detail, key) == number(row.staged, key),
                    label + ": the timed steps give matchFaces' " + key);
    }
  }
  std::fprintf(stderr, "%s: %s\n", label.c_str(), row.status.c_str());
  return row;
}

std::vector<long long> parseList(const std::string& text) {
  std::vector<long long> values;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    long long v = 0;
    auto result = std::from_chars(item.data(), item.data() + item.size(), v);
    if (result.ec == std::errc() && v > 0) values.push_back(v);
  }
  return values;
}

bool wanted(const Config& config, const char* what) {
  return config.only.empty() || config.only.count(what) > 0;
}

void removeTree(const std::string& folder) {
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  if (error) std::fprintf(stderr, "could not remove %s\n", folder.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) {
    return runBenchChild(std::vector<std::string>(argv + 2, argv + argc));
  }

  Config config;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    std::string value = hasValue ? argv[i + 1] : "";
    auto numberValue = [&](double* out) {
      if (!hasValue) return false;
      auto r = std::from_chars(value.data(), value.data() + value.size(), *out);
      if (r.ec != std::errc() || r.ptr != value.data() + value.size()) return false;
      ++i;
      return true;
    };
    double n = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--data" && hasValue) {
      config.dataDir = value;
      ++i;
    } else if (arg == "--sizes" && hasValue) {
      config.sizes = parseList(value);
      ++i;
    } else if (arg == "--parts" && hasValue) {
      config.partSizes = parseList(value);
      ++i;
    } else if (arg == "--only" && hasValue) {
      std::stringstream in(value);
      std::string item;
      while (std::getline(in, item, ','))
        config.only.insert(item);
      ++i;
    } else if (arg == "--min-part" && numberValue(&n) && n >= 1) {
      config.minPart = static_cast<int>(n);
    } else if (arg == "--max-part" && numberValue(&n) && n >= 1) {
      config.maxPart = static_cast<int>(n);
    } else if (arg == "--cap" && numberValue(&n) && n > 0) {
      config.cap = n;
    } else if (arg == "--plain-cap" && numberValue(&n) && n > 0) {
      config.plainCap = n;
    } else if (arg == "--memory-cap" && numberValue(&n) && n >= 0) {
      config.memoryCapGiB = n;
    } else if (arg == "--seed" && numberValue(&n) && n >= 0) {
      config.seed = static_cast<uint64_t>(n);
    } else if (arg == "--no-detail") {
      config.detail = false;
    } else if (arg == "--no-runmatching") {
      config.runMatchingCheck = false;
    } else if (arg == "--smoke") {
      config.smoke = true;
    } else {
      std::fprintf(stderr, "morvane-bench: bad argument near '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }

  std::string temporary;
  if (config.smoke) {
    char folder[] = "/tmp/morvane-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    temporary = folder;
    config.dataDir = temporary;
    config.sizes = {600};
    config.partSizes = {400};
    config.minPart = 40;
    config.maxPart = 200;
    config.cap = 120;
    config.plainCap = 120;
  }
  if (config.dataDir.empty()) {
    std::string self = selfPath();
    config.dataDir = self.substr(0, self.rfind('/')) + "/bench-data";
  }
  mkdir(config.dataDir.c_str(), 0777);

  Checks checks;
  printMachine();
  if (wanted(config, "io")) ioTable(config, checks);
  if (wanted(config, "pairing")) pairingTable(config, checks);
  if (wanted(config, "run")) {
    std::vector<RunRow> rows;
    for (long long size : config.sizes) {
      PairFiles pair = ensurePair(config, "moved-" + std::to_string(size),
                                  pairOptions(config, size, benchgen::Movement::all));
      if (!pair.ok) continue;
      std::string label = grouped(pair.faces) + " in " + grouped(pair.parts) + " parts, turned";
      bool second = size <= kLargestTranslatedRun;  // the second and third child take as long
      rows.push_back(measureRun(config, label, pair, config.runMatchingCheck && second,
                                config.detail && second, checks));
    }
    // The common case beside it: parts only translated, which the direct face tests settle.
    for (long long size : config.sizes) {
      if (size > kLargestTranslatedRun) continue;
      benchgen::GeneratorOptions o = pairOptions(config, size, benchgen::Movement::all);
      o.turn = false;
      PairFiles pair = ensurePair(config, "shifted-" + std::to_string(size), o);
      if (!pair.ok) continue;
      std::string label = grouped(pair.faces) + " in " + grouped(pair.parts) + " parts, translated";
      rows.push_back(measureRun(config, label, pair, false, false, checks));
    }
    runTables("Whole runs",
              "\"Turned\": every part of the target is moved and turned (axes cycled), so no part "
              "is anchored by coincidence, the direct face tests fail for almost every face, and "
              "every part goes through influence profiles and propagation. \"Translated\": every "
              "part only moved, so the direct tests settle the faces. Parts of " +
                  grouped(config.minPart) + " to " + grouped(config.maxPart) +
                  " faces. The stages run one by one as `runMatching` runs them (the input lines "
                  "released after each read); `runMatching` itself runs in a second child.",
              rows);
  }
  if (wanted(config, "part")) {
    std::vector<RunRow> rows;
    for (long long size : config.partSizes) {
      for (benchgen::Shape shape : {benchgen::Shape::sphere, benchgen::Shape::grid}) {
        benchgen::GeneratorOptions o = pairOptions(config, size, benchgen::Movement::all);
        o.singlePart = true;
        o.shape = shape;
        std::string name = benchgen::shapeName(shape);
        PairFiles pair = ensurePair(config, name + "-" + std::to_string(size), o);
        if (!pair.ok) continue;
        rows.push_back(measureRun(config, "one " + name + " of " + grouped(pair.faces), pair, false,
                                  config.detail, checks));
      }
    }
    runTables("Single parts",
              "One sphere (quads, triangle fans at the poles) and one terrain grid, each moved and "
              "turned; the reference lists its faces along the surface, as modellers write them "
              "(the spreading of such a part overflows and is done again in the scrambled order). "
              "Each child has a time cap of " +
                  seconds(config.cap) + " s and an address-space cap of " +
                  fixed(config.memoryCapGiB, 0) + " GiB.",
              rows);
  }
  std::printf("Load average %s at the end.\n", loadAverage().c_str());
  if (!temporary.empty()) removeTree(temporary);
  if (config.smoke) {
    std::printf("smoke: %s\n", checks.failed == 0 ? "all checks passed" : "checks failed");
    return checks.failed == 0 ? 0 : 1;
  }
  return 0;
}
