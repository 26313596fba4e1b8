#pragma once
// The DXF face writer: the run state's target model as an ENTITIES-only DXF file whose faces
// carry the layer names of the reference faces they matched.
#include "model/vectors.h"

struct LineList;

// The whole output file as a new list without path, built from targetModel, referenceModel
// and commentList. Null when memory failed or there is no target model.
LineList* buildTargetDxf() noexcept;
// Builds the file and writes it under `path`, whole or not at all (temporary file renamed over
// the destination, CR LF line ends). Returns 1 when written, 0 otherwise: nothing at `path`
// was changed then.
int saveTargetDxf(const char* path) noexcept;
// Appends the six lines of corner `corner` (0..3): "1k", x, "2k", y, "3k", z, each value as
// "%-10.5f" without trailing blanks, independent of the locale. Returns 1, 0 on memory failure.
int appendCorner(LineList* list, const Vec3& point, int corner) noexcept;
