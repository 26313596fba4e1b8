#include "output/dxfWriter.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "model/faceModel.h"
#include "output/dxfWriterInternal.h"
#include "output/outputLayer.h"
#include "textfiles/allocator.h"
#include "textfiles/fileBytes.h"
#include "textfiles/lineList.h"
#include "textfiles/orderedChunks.h"

namespace {

bool writeLines(ByteSink* sink, std::initializer_list<const char*> lines) {
  for (const char* line : lines) {
    if (!sinkLine(sink, line)) return false;
  }
  return true;
}

// Room for a face's corner lines: four corners, three coordinates each with their code lines.
constexpr size_t kCornerTextSize = 4 * 3 * (4 + kCoordinateTextSize + 2);
constexpr int32_t kFacesPerChunk = 2048;  // about 400 KiB of text

// Appends the six lines of corner `corner` (0..3) at `text`: "1k", x, "2k", y, "3k", z.
// Returns the end of what was written.
char* formatCorner(char* text, const double* position, int corner) {
  for (int axis = 0; axis < 3; ++axis) {
    text[0] = static_cast<char>('1' + axis);
    text[1] = static_cast<char>('0' + corner);
    text[2] = '\r';
    text[3] = '\n';
    text += 4;
    text += formatCoordinate(position[axis], text);
    text[0] = '\r';
    text[1] = '\n';
    text += 2;
  }
  return text;
}

// Starts loading the points of a face written soon: faces name points all over the model.
void prefetchCorners(const FaceModel& model, int32_t f) {
  if (f >= model.faceCount) return;
  const ModelFace& face = model.faces[f];
  for (int k = 0; k < cornersOf(face); ++k)
    __builtin_prefetch(&model.points[face.corners[k]]);
}

bool writeFace(ByteSink* sink, const FaceModel& model, int32_t f) {
  const ModelFace& face = model.faces[f];
  double positions[4][3];
  const double* corners[4];
  int n = face.cornerCount < 4 ? face.cornerCount : 4;
  for (int k = 0; k < n; ++k) {
    const ModelPoint& point = model.points[face.corners[k]];
    positions[k][0] = point.x, positions[k][1] = point.y, positions[k][2] = point.z;
    corners[k] = positions[k];
  }
  return writeFaceEntity(sink, outputLayer(face), corners, n);
}

// Chunk `index` of the faces: kFacesPerChunk of them from index * kFacesPerChunk.
bool writeFaceChunk(ByteSink* sink, int32_t index, const void* context) {
  constexpr int32_t kLookahead = 8;
  const FaceModel& model = *static_cast<const FaceModel*>(context);
  const int32_t first = index * kFacesPerChunk;
  const int32_t end =
      model.faceCount - first < kFacesPerChunk ? model.faceCount : first + kFacesPerChunk;
  for (int32_t f = first; f < end; ++f) {
    prefetchCorners(model, f + kLookahead);
    if (!writeFace(sink, model, f)) return false;
  }
  return true;
}

bool writeFaces(ByteSink* sink, const FaceModel& model) {
  const int32_t chunks = (model.faceCount + kFacesPerChunk - 1) / kFacesPerChunk;
  return writeChunksInOrder(sink, chunks, writeFaceChunk, &model);
}

// The whole output file: section head, the target's comments, its faces, the closing lines.
bool writeTargetDxf(ByteSink* sink, const void*) {
  return targetModel && writeEntitiesHead(sink, commentList) && writeFaces(sink, *targetModel) &&
         writeEntitiesEnd(sink);
}

// "%.5f" of a finite `value` below 2^63 / 10^5 in magnitude and not below 2^-60 (0 included),
// computed exactly in integers: value = m / 2^k, so value * 10^5 = m * 10^5 / 2^k, rounded to
// the nearest integer, ties to even (as printf rounds the exact value). Returns the length, or
// 0 for any other value (left to the general routine).
size_t formatCommonCoordinate(double value, char* text) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  const bool negative = bits >> 63;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  if (exponent == 0x7FF || (exponent == 0 && mantissa != 0)) return 0;  // inf, nan, denormal
  int shift = 0;  // value = mantissa / 2^shift
  if (exponent != 0) {
    mantissa |= uint64_t{1} << 52;
    shift = 1075 - exponent;
  }
  if (shift < 0 || shift > 112) return 0;
  const unsigned __int128 one = 1;
  unsigned __int128 whole = static_cast<unsigned __int128>(mantissa) * 100000u;
  if (shift > 0) {
    unsigned __int128 rest = whole & ((one << shift) - 1), half = one << (shift - 1);
    whole >>= shift;
    if (rest > half || (rest == half && (whole & 1))) ++whole;
  }
  if (whole >> 63) return 0;
  // The digits of `units` with the point before the last five and at least one digit before
  // it, written from the end two at a time (a pair only while two digits are left).
  uint64_t units = static_cast<uint64_t>(whole);
  char digits[32];
  char* end = digits + sizeof digits;
  char* at = end;
  static const char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  uint64_t fraction = units % 100000;
  units /= 100000;
  const uint32_t low = static_cast<uint32_t>(fraction);
  at -= 5;
  at[4] = static_cast<char>('0' + low % 10);
  std::memcpy(at + 2, kPairs + 2 * (low / 10 % 100), 2);
  std::memcpy(at, kPairs + 2 * (low / 1000), 2);
  *--at = '.';
  do {
    if (units >= 10) {
      at -= 2;
      std::memcpy(at, kPairs + 2 * (units % 100), 2);
      units /= 100;
    } else {
      *--at = static_cast<char>('0' + units);
      units = 0;
    }
  } while (units > 0);
  size_t length = 0;
  if (negative) text[length++] = '-';
  std::memcpy(text + length, at, static_cast<size_t>(end - at));
  length += static_cast<size_t>(end - at);
  return length;
}

}  // namespace

size_t formatCoordinate(double value, char* text) noexcept {
  size_t length = formatCommonCoordinate(value, text);
  if (length > 0) return length;
  std::to_chars_result r =
      std::to_chars(text, text + kCoordinateTextSize, value, std::chars_format::fixed, 5);
  return static_cast<size_t>(r.ptr - text);  // the buffer always fits a double
}

LineList* buildTargetDxf() noexcept {
  if (!targetModel) return nullptr;
  ByteSink sink{};
  sink.fd = -1;
  LineList* list = nullptr;
  if (writeTargetDxf(&sink, nullptr))
    list = splitTextLines(sink.data, sink.used, LineSplit::keepEmpty);
  gfree(sink.data);
  return list;
}

int saveTargetDxf(const char* path) noexcept {
  if (!path || !targetModel) return 0;
  return saveFileWith(path, writeTargetDxf, nullptr);
}

bool writeFaceEntity(ByteSink* sink, const char* layer, const double* const corners[4],
                     int cornerCount) noexcept {
  static const char kHead[] = "0\r\n3DFACE\r\n8\r\n";
  constexpr size_t kHeadLength = sizeof kHead - 1;
  constexpr size_t kLongestLayer = 256;  // longer names go to the sink on their own
  const size_t layerLength = std::strlen(layer);
  char text[kHeadLength + kLongestLayer + 2 + kCornerTextSize];
  char* end = text;
  if (layerLength <= kLongestLayer) {
    std::memcpy(end, kHead, kHeadLength);
    std::memcpy(end + kHeadLength, layer, layerLength);
    end += kHeadLength + layerLength;
    end[0] = '\r';
    end[1] = '\n';
    end += 2;
  } else if (!sinkText(sink, kHead) || !sinkLine(sink, layer)) {
    return false;
  }
  for (int k = 0; k < cornerCount; ++k)
    end = formatCorner(end, corners[k], k);
  // Every written face has four corners: a triangle repeats its third.
  if (cornerCount == 3) end = formatCorner(end, corners[2], 3);
  return sinkWrite(sink, text, static_cast<size_t>(end - text));
}

bool writeEntitiesHead(ByteSink* sink, const LineList* comments) noexcept {
  if (!writeLines(sink, {"0", "SECTION", "2", "ENTITIES"})) return false;
  for (int32_t i = 0; comments && i < comments->count; ++i) {
    // An empty value line would not be written and would shift every later group.
    const char* text = comments->items[i];
    if (!text || !*text) continue;
    if (!writeLines(sink, {"999", text})) return false;
  }
  return true;
}

bool writeEntitiesEnd(ByteSink* sink) noexcept {
  return writeLines(sink, {"0", "ENDSEC", "0", "EOF"});
}
