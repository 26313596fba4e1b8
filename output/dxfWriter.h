#pragma once
// The DXF face writer: the run state's target model as an ENTITIES-only DXF file whose faces
// carry the layer names of the reference faces they matched.

struct LineList;

// The whole output file as a new list without path, built from targetModel, referenceModel
// and commentList. Null when memory failed or there is no target model.
LineList* buildTargetDxf() noexcept;
// Builds the file and writes it under `path`, whole or not at all (temporary file renamed over
// the destination, CR LF line ends). Returns 1 when written, 0 otherwise: nothing at `path`
// was changed then.
int saveTargetDxf(const char* path) noexcept;
