// morvane-align-bench: how many target faces get the right layer, by default, with part
// alignment and by a nearest-centroid baseline, on generated pairs whose parts are turned,
// mirrored, rescaled, split or copied. Prints one markdown table; one scenario run per child
// process (times and peaks never mix).
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "align/faceAssignment.h"
#include "align/pointTree.h"
#include "app/programPath.h"
#include "bench/formWriter.h"
#include "bench/modelGenerator.h"
#include "bench/processProbe.h"
#include "match/matchingRun.h"
#include "model/faceModel.h"
#include "textfiles/settings.h"

namespace {

struct Scenario {
  const char* name;
  benchgen::GeneratorOptions options;
};

std::vector<Scenario> scenarios(long long faces) {
  using benchgen::Movement;
  benchgen::GeneratorOptions base;
  base.faces = faces;
  base.turn = false;
  std::vector<Scenario> list;
  auto add = [&](const char* name, auto change) {
    benchgen::GeneratorOptions o = base;
    change(o);
    list.push_back({name, o});
  };
  add("every part moved, not turned", [](auto& o) { o.movement = Movement::all; });
  add("every part turned alike", [](auto& o) {
    o.movement = Movement::all;
    o.turn = true;
  });
  add("every part turned its own way", [](auto& o) {
    o.movement = Movement::all;
    o.anyAngle = true;
    o.reverseWinding = true;
  });
  add("half the parts turned", [](auto& o) {
    o.movement = Movement::some;
    o.anyAngle = true;
  });
  add("whole model turned once, copies", [](auto& o) {
    o.movement = Movement::none;
    o.swapAxes = true;
    o.copies = 3;
  });
  add("every part mirrored and turned", [](auto& o) {
    o.movement = Movement::all;
    o.anyAngle = true;
    o.mirror = true;
  });
  add("scaled x0.1 + axis swap", [](auto& o) {
    o.movement = Movement::none;
    o.scale = 0.1;
    o.swapAxes = true;
  });
  add("30% quads split, nothing moved", [](auto& o) {
    o.movement = Movement::none;
    o.splitShare = 0.3;
  });
  add("30% split + parts moved", [](auto& o) {
    o.movement = Movement::all;
    o.turn = true;
    o.splitShare = 0.3;
  });
  add("assemblies and parts turned, copies", [](auto& o) {
    o.movement = Movement::all;
    o.anyAngle = true;
    o.assemblies = 3;
    o.copies = 3;
  });
  return list;
}

// Layer each target face should get, from the generator's truth.
std::vector<std::string> truthLayers(const benchgen::GeneratedPair& pair) {
  std::vector<std::string> layers(pair.targetOrder.size());
  for (size_t i = 0; i < layers.size(); ++i)
    layers[i] = pair.layers[pair.faces[pair.targetOrder[i]].layer];
  return layers;
}

// Faces whose written layer is the truth's; `guessedRight` / `guessedAll` for guessed faces.
long long rightLayers(const std::vector<std::string>& truth, long long* guessedRight,
                      long long* guessed) {
  long long right = 0;
  *guessedRight = *guessed = 0;
  for (int32_t i = 0; i < targetModel->faceCount && i < static_cast<int32_t>(truth.size()); ++i) {
    const ModelFace& face = targetModel->faces[i];
    const char* layer = face.matchedFace >= 0 ? faceLayer(referenceModel->faces[face.matchedFace])
                                              : faceLayer(face);
    bool ok = truth[i] == layer;
    right += ok;
    if (face.alignedMatch == 2) {
      ++*guessed;
      *guessedRight += ok;
    }
  }
  return right;
}

// Each target face takes the layer of the reference face with the nearest centre.
long long nearestCentroidRight(const std::vector<std::string>& truth) {
  PointTree* tree = buildFaceCentreTree(*referenceModel);
  long long right = 0;
  for (int32_t i = 0; i < targetModel->faceCount && tree; ++i) {
    int32_t g = nearestPoint(tree, faceCentre(*targetModel, i), nullptr);
    right += g >= 0 && truth[i] == faceLayer(referenceModel->faces[g]);
  }
  releasePointTree(tree);
  return right;
}

// Writes the pair with both files in `form` ("3dface": as the generator writes them).
bool writePair(const benchgen::GeneratedPair& pair, const std::string& form, const std::string& ref,
               const std::string& tgt) {
  benchgen::FileForm f = benchgen::FileForm::faces;
  if (!benchgen::parseFileForm(form, &f)) return false;
  if (f == benchgen::FileForm::faces)
    return benchgen::writeReferenceDxf(pair, ref) && benchgen::writeTargetDxf(pair, tgt);
  return benchgen::writeFormDxf(benchgen::referenceFormFaces(pair), {}, f, ref) &&
         benchgen::writeFormDxf(benchgen::targetFormFaces(pair), {}, f, tgt);
}

// Child: generate the pair of scenario `index` at `faces`, write it in `form`, run it as `mode`
// and report.
int runChild(long long faces, int index, const std::string& mode, const std::string& folder,
             const std::string& form) {
  using benchprobe::emit;
  Scenario scenario = scenarios(faces)[static_cast<size_t>(index)];
  benchgen::GeneratedPair pair = benchgen::generatePair(scenario.options);
  mkdir(folder.c_str(), 0777);
  std::string ref = folder + "/reference.dxf", tgt = folder + "/target.dxf";
  if (!writePair(pair, form, ref, tgt)) return 1;
  std::vector<std::string> truth = truthLayers(pair);
  setProgramDirectoryTo(folder.c_str());
  useDefaultSettings();
  textureRotation = 0;
  RunOptions options{};
  options.alignParts = mode == "align";
  emit("faces", static_cast<long long>(truth.size()));
  double start = benchprobe::nowSeconds();
  int ok = runMatchingWith(nullptr, ref.c_str(), tgt.c_str(), &options);
  emit("run_s", benchprobe::nowSeconds() - start);
  if (!ok) return 1;
  long long guessedRight = 0, guessed = 0;
  emit("right", rightLayers(truth, &guessedRight, &guessed));
  emit("guessed", guessed);
  emit("guessed_right", guessedRight);
  if (mode == "align") emit("baseline", nearestCentroidRight(truth));
  MatchTally tally = tallyMatches(referenceModel, targetModel);
  emit("aligned", static_cast<long long>(tally.aligned));
  releaseRunData();
  std::remove(ref.c_str());
  std::remove(tgt.c_str());
  return 0;
}

std::string share(double part, double whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", whole > 0 ? part / whole : 0.0);
  return text;
}

double value(const benchprobe::ChildResult& r, const char* key) {
  auto it = r.values.find(key);
  double v = -1;
  if (it != r.values.end())
    std::from_chars(it->second.data(), it->second.data() + it->second.size(), v);
  return v;
}

std::string selfPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "--child") == 0) {
    return runChild(std::atoll(argv[2]), std::atoi(argv[3]), argv[4], argv[5], argv[6]);
  }
  std::vector<long long> sizes{5000, 50000};
  std::vector<std::string> forms{"3dface"};
  bool skipDefault = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc) {
      sizes.clear();
      for (const char* p = argv[++i]; *p;) {
        sizes.push_back(std::atoll(p));
        const char* comma = std::strchr(p, ',');
        p = comma ? comma + 1 : p + std::strlen(p);
      }
    } else if (std::strcmp(argv[i], "--align-only") == 0) {
      skipDefault = true;
    } else if (std::strcmp(argv[i], "--forms") == 0) {
      forms = {"3dface", "polyface", "mesh", "blocks", "mix"};
    } else {
      std::fputs("usage: morvane-align-bench [--sizes N,N] [--align-only] [--forms]\n", stderr);
      return 2;
    }
  }
  std::string folder = "/tmp/morvane-align-bench-" + std::to_string(getpid());
  std::printf(
      "| scenario | faces | default | --align | --align, guesses left out | guessed "
      "faces | nearest centroid | default s | --align s | --align peak MiB |\n"
      "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (long long faces : sizes) {
    std::vector<Scenario> list = scenarios(faces);
    for (size_t row = 0; row < list.size() * forms.size(); ++row) {
      const size_t s = row / forms.size();
      const std::string& form = forms[row % forms.size()];
      auto run = [&](const char* mode) {
        return benchprobe::runChild(
            {selfPath(), "--child", std::to_string(faces), std::to_string(s), mode, folder, form},
            900, 12ull << 30);
      };
      benchprobe::ChildResult a = run("align");
      benchprobe::ChildResult d;
      if (!skipDefault) d = run("default");
      double n = value(a, "faces");
      double guessed = value(a, "guessed"), guessedRight = value(a, "guessed_right");
      const std::string name = list[s].name + (form == "3dface" ? "" : ", " + form);
      std::printf("| %s | %.0f | %s | %s | %s | %.0f | %s | %s | %.2f | %.0f |\n", name.c_str(), n,
                  skipDefault ? "-" : share(value(d, "right"), n).c_str(),
                  share(value(a, "right"), n).c_str(),
                  share(value(a, "right") - guessedRight, n - guessed).c_str(), guessed,
                  share(value(a, "baseline"), n).c_str(),
                  skipDefault ? "-" : std::to_string(value(d, "run_s")).substr(0, 5).c_str(),
                  value(a, "run_s"), a.maxRssKb / 1024.0);
      std::fflush(stdout);
    }
  }
  rmdir(folder.c_str());
  return 0;
}
