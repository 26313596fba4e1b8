// Writes the generated part of the seed corpus: small DXF files of real shape (R12 style with
// the layer first, R2000 style with handles, subclass markers and padded group codes, corners
// listed backwards), with comments, a BLOCKS section, cut-off entities and odd numbers; pairs
// of such files for the whole run; settings files. Deterministic: the same files every time.
//   makeCorpus FOLDER     writes FOLDER/{lines,dxf,settings,run}/gen-*
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Point {
  double x, y, z;
};
struct Face {
  std::string layer;
  std::vector<Point> corners;  // 3 or 4
};

std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

// Six quads of a box at `o` with sides `d`, layers prefix + side.
std::vector<Face> box(const std::string& prefix, Point o, Point d) {
  auto p = [&](int i, int j, int k) { return Point{o.x + i * d.x, o.y + j * d.y, o.z + k * d.z}; };
  return {{prefix + "bottom", {p(0, 0, 0), p(0, 1, 0), p(1, 1, 0), p(1, 0, 0)}},
          {prefix + "top", {p(0, 0, 1), p(1, 0, 1), p(1, 1, 1), p(0, 1, 1)}},
          {prefix + "south", {p(0, 0, 0), p(1, 0, 0), p(1, 0, 1), p(0, 0, 1)}},
          {prefix + "east", {p(1, 0, 0), p(1, 1, 0), p(1, 1, 1), p(1, 0, 1)}},
          {prefix + "north", {p(1, 1, 0), p(0, 1, 0), p(0, 1, 1), p(1, 1, 1)}},
          {prefix + "west", {p(0, 1, 0), p(0, 0, 0), p(0, 0, 1), p(0, 1, 1)}}};
}

// A four-sided pyramid of triangles over a square base.
std::vector<Face> pyramid(const std::string& prefix, Point o) {
  Point a{o.x, o.y, o.z}, b{o.x + 2, o.y, o.z}, c{o.x + 2, o.y + 2, o.z}, d{o.x, o.y + 2, o.z};
  Point tip{o.x + 1, o.y + 1, o.z + 3};
  return {{prefix + "base", {a, d, c, b}},
          {prefix + "s", {a, b, tip}},
          {prefix + "e", {b, c, tip}},
          {prefix + "n", {c, d, tip}},
          {prefix + "w", {d, a, tip}}};
}

// Triangles around one shared point.
std::vector<Face> fan(int count) {
  std::vector<Face> faces;
  for (int i = 0; i < count; ++i) {
    faces.push_back({"fan", {{0, 0, 0}, {double(i), 1, double(i % 3)}, {double(i + 1), 1, 0}}});
  }
  return faces;
}

std::vector<Face> moved(std::vector<Face> faces, Point by, bool turn, const std::string& layer) {
  for (size_t i = 0; i < faces.size(); ++i) {
    for (Point& c : faces[i].corners) {
      Point q = turn ? Point{-c.y, c.x, c.z} : c;
      c = {q.x + by.x, q.y + by.y, q.z + by.z};
    }
    if (i % 2) {  // start at the next corner
      faces[i].corners.push_back(faces[i].corners.front());
      faces[i].corners.erase(faces[i].corners.begin());
    }
    if (!layer.empty()) faces[i].layer = layer;
  }
  // Reverse the order, so that the target lists its faces differently.
  return std::vector<Face>(faces.rbegin(), faces.rend());
}

std::vector<Face> operator+(std::vector<Face> a, const std::vector<Face>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

enum class Style { r12, r2000, backwards };

// The groups of a file as alternating code and value lines.
std::vector<std::string> groups(const std::vector<Face>& faces, Style style,
                                const std::vector<std::string>& comments, bool blocks) {
  std::vector<std::string> g;
  auto add = [&g](const std::string& code, const std::string& value) {
    g.push_back(code);
    g.push_back(value);
  };
  for (const std::string& c : comments)
    add("999", c);
  if (blocks) {
    add("0", "SECTION");
    add("2", "BLOCKS");
    add("0", "BLOCK");
    add("8", "0");
    add("2", "BOLT");
    add("0", "3DFACE");
    add("8", "INSIDE_BLOCK");
    for (int k = 0; k < 3; ++k) {
      add(std::to_string(10 + k), number(k));
      add(std::to_string(20 + k), number(k * k));
      add(std::to_string(30 + k), "0");
    }
    add("0", "ENDBLK");
    add("0", "ENDSEC");
  }
  add("0", "SECTION");
  add("2", "ENTITIES");
  int handle = 0x2F;
  for (const Face& f : faces) {
    std::vector<Point> c = f.corners;
    if (c.size() == 3) c.push_back(c[2]);
    if (style == Style::r2000) {
      char h[16];
      std::snprintf(h, sizeof h, "%X", handle++);
      add("  0", "3DFACE");
      add("  5", h);
      add("330", "1F");
      add("100", "AcDbEntity");
      add("  8", f.layer);
      add("100", "AcDbFace");
    } else {
      add("0", "3DFACE");
      add("8", f.layer);
      if (style == Style::backwards) add("70", "0");
    }
    for (int step = 0; step < 4; ++step) {
      int k = style == Style::backwards ? 3 - step : step;
      std::string pad = style == Style::r2000 ? " " : "";
      add(pad + std::to_string(10 + k), number(c[k].x));
      add(pad + std::to_string(20 + k), number(c[k].y));
      add(pad + std::to_string(30 + k), number(c[k].z));
    }
  }
  add("0", "ENDSEC");
  add("0", "EOF");
  return g;
}

std::string joined(const std::vector<std::string>& lines, const std::string& end, size_t count) {
  std::string text;
  for (size_t i = 0; i < lines.size() && i < count; ++i)
    text += lines[i] + end;
  return text;
}

std::string joined(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
  return joined(lines, end, lines.size());
}

bool writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace std::string_literals;
  if (argc != 2) {
    std::fputs("usage: makeCorpus FOLDER\n", stderr);
    return 2;
  }
  std::string root = argv[1];
  for (const char* sub : {"", "/lines", "/dxf", "/settings", "/run"})
    mkdir((root + sub).c_str(), 0777);
  bool ok = true;
  auto put = [&](const std::string& name, const std::string& bytes) {
    ok = writeFile(root + "/" + name, bytes) && ok;
  };

  std::vector<Face> reference = box("k_", {0, 0, 0}, {1, 1, 1}) + pyramid("p_", {5, 0, 0});
  std::vector<Face> target = moved(box("k_", {0, 0, 0}, {1, 1, 1}), {0, 0, 0}, false, "a") +
                             moved(pyramid("p_", {5, 0, 0}), {20, 3, 0}, true, "b");

  std::vector<std::string> r12 = groups(reference, Style::r12, {"made by makeCorpus"}, false);
  std::vector<std::string> r2000 = groups(reference, Style::r2000, {}, true);
  std::vector<std::string> backwards = groups(pyramid("", {0, 0, 0}), Style::backwards, {}, false);
  put("dxf/gen-r12-crlf.dxf", joined(r12));
  put("dxf/gen-r12-lf.dxf", joined(r12, "\n"));
  put("dxf/gen-r12-cr.dxf", joined(r12, "\r"));
  put("dxf/gen-r12-crcrlf.dxf", joined(r12, "\r\r\n"));
  put("dxf/gen-r2000-blocks.dxf", joined(r2000));
  put("dxf/gen-backwards.dxf", joined(backwards, "\n"));
  put("dxf/gen-fan.dxf", joined(groups(fan(12), Style::r12, {}, false)));
  put("dxf/gen-duplicate-face.dxf",
      joined(groups(box("d", {0, 0, 0}, {1, 2, 3}) + box("d", {0, 0, 0}, {1, 2, 3}), Style::r12, {},
                    false)));
  // Cut off inside the last entity, at a code line and at a value line.
  std::vector<std::string> small = groups(pyramid("c", {0, 0, 0}), Style::r12, {"cut"}, false);
  put("dxf/gen-cut-at-code.dxf", joined(small, "\r\n", small.size() - 11));
  put("dxf/gen-cut-at-value.dxf", joined(small, "\r\n", small.size() - 10));
  put("dxf/gen-cut-mid-line.dxf", joined(small).substr(0, joined(small).size() / 2 + 3));
  // Odd numbers: out of range, not numbers, signed zero.
  std::vector<std::string> odd =
      groups(box("n", {1e300, -0.0, 1e-320}, {1e300, 1, 1}), Style::r12, {}, false);
  odd[odd.size() / 2 | 1] = "nan";
  odd[(odd.size() / 3) | 1] = "-1e999";
  odd[(odd.size() / 4) | 1] = "inf";
  put("dxf/gen-odd-numbers.dxf", joined(odd));

  put("run/gen-moved-parts.txt",
      joined(r12) + "\n====\n" + joined(groups(target, Style::r2000, {"note"}, false)));
  put("run/gen-same-file.txt", joined(r12));
  put("run/gen-fan-pair.txt",
      joined(groups(fan(8), Style::r12, {}, false)) + "\n====\n" +
          joined(groups(moved(fan(8), {3, 0, 0}, true, "t"), Style::backwards, {}, false)));

  const char* defaults[] = {"1 ;sw;bit 1:Mask display readme.txt 2:Display RotCombo",
                            "0.25 ;0;[Severe 0.001 to Loose 1.0] Group Multiple Matching",
                            "0.5 ;1;[Severe 0.001 to Loose 1.0] Group Single Matching",
                            "0 ;2;[0,1,2 or 3] Texture Rotation",
                            "0.01 ;3;[Severe 0.001 to Loose 0.1] Vector Matching",
                            "0.2  ;4;[Severe 0.01 to Loose 0.5] Face position Matching",
                            "0.90 ;5;[Severe 1.00 to Loose 0.50] Matching of Face Count",
                            "0.5 ;6;[Severe 0.1 to Loose 2.0] Matching of Face Angle",
                            "0.25 ;7;[0.01 to 0.5] Advantage Of Same Face Angle"};
  std::vector<std::string> settings(defaults, defaults + 9);
  put("settings/gen-defaults.txt", joined(settings));
  settings[0] = "3 ;sw";
  settings[3] = " 2 ;2;rotation";
  put("settings/gen-rotation-box.txt", joined(settings, "\n"));
  settings[3] = "0x1.8p1;2";
  settings[4] = "1e999";
  settings[5] = "-nan(123)";
  put("settings/gen-odd-numbers.txt", joined(settings, "\r"));
  put("settings/gen-short.txt", joined(settings, "\r\n", 4));

  put("lines/gen-mixed-ends.txt", "a\r\nb\n\rc\r\r\nd\re\n\nf\0g\r\n\r\n"s);
  put("lines/gen-dxf.txt", joined(small, "\n"));
  if (!ok) std::fprintf(stderr, "makeCorpus: some files could not be written under %s\n", argv[1]);
  return ok ? 0 : 1;
}
