#pragma once
// Writing the target back whole: the target file itself with only the layers of its faces
// changed to those of the reference faces they matched.

// What writing the target back changed besides layer names.
struct KeptTargetSummary {
  int written;          // 1 when the file was written
  int layersAdded;      // LAYER table entries added for new layer names
  int meshesSplit;      // MESH entities written as one MESH per layer
  int insertsExploded;  // INSERTs whose block's faces needed other layers: written as 3DFACEs
  int entitiesDropped;  // entities of those blocks that hold no face: not carried over there
};

// Writes the target file the run read (targetModel with its kept bytes, kDxfKeepSource) under
// `path`, whole or not at all, with only layers changed: a face matched to a reference face
// takes that face's layer (when it has one), every other byte stays as in the target file. A
// 3DFACE's or face record's group 8 is replaced (inserted after the entity name when it has
// none); a MESH or polygon mesh whose faces need one layer gets it, a MESH whose faces need
// several becomes one MESH per layer (copies without the handle), a polygon mesh becomes
// 3DFACEs; an INSERT whose faces all take its layer gets the new one, else it is exploded: its
// faces become 3DFACE entities and the INSERT (with its attributes) is left out. New layer
// names get LAYER table entries, with the colour and linetype of the name's entry in the LAYER
// table of the file `referencePath` (may be null) when it has one, else 7 and CONTINUOUS.
// Returns the summary; `written` 0 when nothing was written (no target kept, memory, the file
// system), and then nothing at `path` changed.
KeptTargetSummary saveKeptTarget(const char* path, const char* referencePath) noexcept;
