#pragma once
// The per-face report: one CSV row per target face saying which layer it is written under and
// how that layer was found, for scripts that check many models.
#include <cstddef>

#include "output/outputLayer.h"

struct LineList;

// The report of the run state as a new list without path: the header
// "face,layer,how,reference_face,part,guess", then one row per target face in target order:
// its index from 0, the layer the output gives it (by `rule`: the DXF writer's outputLayer, or
// the kept target's keptTargetLayer), howMatchedName, the
// matched reference face's index (empty when none), its part number, and 1 when its layer is a
// guess else 0. Fields are quoted as RFC 4180 says. Null when memory failed or there is no
// target model.
LineList* buildFaceReport(LayerRule rule = LayerRule::written) noexcept;
// Builds the report and writes it under `path` whole or not at all, lines ending in CR LF.
// Returns 1 when written, 0 otherwise (nothing at `path` changed then).
int saveFaceReport(const char* path, LayerRule rule = LayerRule::written) noexcept;

// Writes `text` as one CSV field into `out` (room for `room` bytes, NUL included): as it is, or
// between double quotes with every quote doubled when it holds a comma, a quote, a blank, CR or
// LF. Returns the length written, or the room it would need (plus one) when it does not fit.
size_t formatCsvField(const char* text, char* out, size_t room) noexcept;
