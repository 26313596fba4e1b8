#pragma once
// Large, realistic test models for the benchmarks and the examples.
//
// A generated pair is a reference model of separate parts (subdivided boxes, tubes with or
// without caps, spheres, terrain grids, stepped blocks, flat patches) whose faces lie on a few
// layers per part, and the target model of the same surfaces: its faces are shuffled (so its
// points come in another order), every face's corner order is rotated, and some or all parts
// are moved away (translated and, by choice, turned by cycling the axes x -> y -> z -> x).
//
// Every coordinate is a whole multiple of 0.00001, so both files hold every value exactly with
// five decimals and a written model reads back bit for bit. Points that several faces share
// are computed once per position, so they are byte-identical in the file; parts sit in cells
// at least two units apart, so no two parts share a point or come within the pairing tolerance.
//
// Plain C++; this library does not link the core.
#include <cstdint>
#include <string>
#include <vector>

namespace benchgen {

// A position in units of 0.00001.
struct GridPoint {
  int64_t x, y, z;
};

struct GenFace {
  GridPoint corners[4];  // reference drawing order; a triangle's corner 3 repeats corner 2
  int32_t cornerCount;   // 3 or 4
  int32_t layer;         // index into GeneratedPair::layers
  int32_t part;          // index into GeneratedPair::parts
};

enum class Shape { mixed, box, tube, sphere, grid, steps, patch };
enum class Movement { none, some, all };

struct GenPart {
  Shape shape;
  int32_t firstFace;  // the part's reference faces are firstFace .. firstFace + faceCount - 1
  int32_t faceCount;
  GridPoint place;       // where the part's local origin sits in the reference
  bool moved;            // the target part sits at movedPlace (turned when the pair says so)
  GridPoint movedPlace;  // where the local origin sits in the target when moved
  // How a moved part gets to the target: turn * (p - from) + to (a turn may mirror).
  double turn[9];
  GridPoint from, to;
  int32_t assembly;  // group moved as one body, -1 none
};

struct GeneratorOptions {
  int64_t faces = 10000;        // total face count, met exactly (see singlePart)
  int32_t minPartFaces = 200;   // part sizes are drawn evenly from [min, max]; the last
  int32_t maxPartFaces = 2000;  // part takes what is left (a patch when the shape cannot)
  Shape shape = Shape::mixed;   // mixed cycles box, tube, sphere, grid, steps in random order
  bool singlePart = false;      // one part of `shape` with about `faces` faces (exact for
                                // spheres whose count factors as bands x segments)
  Movement movement = Movement::some;  // some: each part with probability 1/2
  bool turn = true;                    // moved parts are also turned
  bool keepPartsTogether = false;      // target lists part after part (parts and faces shuffled);
                                       // otherwise all faces are shuffled together
  uint64_t seed = 1;
  // Harder targets (all off by default; the pair is then as without them):
  bool anyAngle = false;        // moved parts are turned by a random angle about a random axis
  bool mirror = false;          // moved parts are also mirrored
  double scale = 1.0;           // the whole target is scaled by this
  bool swapAxes = false;        // the whole target is turned once: y up becomes z up
  bool reverseWinding = false;  // every target face lists its corners the other way round
  double splitShare = 0.0;      // share of quads written as two triangles (either diagonal)
  int32_t copies = 0;           // this many parts get a copy of the same shape on other layers
  int32_t assemblies = 0;       // every other moved part joins one of this many groups moved as one
};

struct GeneratedPair {
  GeneratorOptions options;
  std::vector<std::string> layers;  // reference layer names
  std::vector<GenPart> parts;
  std::vector<GenFace> faces;           // reference faces in file order, reference positions
  std::vector<int32_t> targetOrder;     // target face i is reference face targetOrder[i]
  std::vector<uint8_t> targetRotation;  // target face i's corners start at this reference corner
  std::vector<uint8_t> targetPiece;     // 0 whole, 1..4 a triangle cut from the quad (see .cpp)
  double globalTurn[9];                 // applied to every target position after the part's
  double globalScale = 1.0;             // own motion, then scaled
  bool globalMotion = false;
};

// Builds a pair from the options; the same options always give the same pair.
GeneratedPair generatePair(const GeneratorOptions& options);

// Position of reference point `p` of `part` in the target.
GridPoint targetPosition(const GeneratedPair& pair, const GenPart& part, const GridPoint& p);
// Corner `k` of target face `targetIndex` in target drawing order, at its target position.
GridPoint targetCorner(const GeneratedPair& pair, int64_t targetIndex, int k);

// The layer a target face carries in the target file: its part's object name ("obj12").
std::string targetLayerName(const GeneratedPair& pair, int32_t part);

// Writes the reference DXF: HEADER, a LAYER table and the ENTITIES section, with group codes
// right-aligned in three characters and each 3DFACE carrying a handle, owner and subclass
// markers before its layer. CR LF line ends. Written to a temporary file, then renamed.
bool writeReferenceDxf(const GeneratedPair& pair, const std::string& path);
// Writes the target DXF: two 999 comments, then an ENTITIES section whose 3DFACE entities give
// the layer first and the four corners in order. CR LF line ends; temporary file, then rename.
bool writeTargetDxf(const GeneratedPair& pair, const std::string& path);
// Writes targetOrder as little-endian int32 values: the reference face of each target face (for
// a triangle cut from a quad, that quad).
bool writeTruth(const GeneratedPair& pair, const std::string& path);
// Reads a file written by writeTruth; empty when it cannot be read.
std::vector<int32_t> readTruth(const std::string& path);

// `units` (0.00001 each) as fixed-point text with five decimals, as the DXF writer prints it.
std::string formatUnits(int64_t units);

// Names for the command line: "mixed", "box", "tube", "sphere", "grid", "steps", "patch";
// "none", "some", "all". Return false for an unknown name.
bool parseShape(const std::string& name, Shape* shape);
bool parseMovement(const std::string& name, Movement* movement);
const char* shapeName(Shape shape);

}  // namespace benchgen
