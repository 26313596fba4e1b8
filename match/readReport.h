#pragma once
// The progress lines that tell what reading a DXF file found besides its 3DFACE entities.
struct DialogPort;
struct DxfReadReport;

// Adds, for the file `path`: one line per note of the read ("PATH: ENTITY HANDLE: what") and
// one for the notes left out; "PATH: N faces: a 3DFACE, b polyface mesh, c polygon mesh, d MESH,
// e of them placed by INSERT" when any face came from another form than 3DFACE or from a block;
// "PATH holds N
// 3D solids or surfaces and no mesh: save them as a mesh" when it holds such entities and no
// face; "PATH: N faces could not be read" when faces were lost. Nothing for a file whose faces
// are all 3DFACE entities read without a note.
void addReadLines(DialogPort* dialog, const char* path, const DxfReadReport& report) noexcept;
// The line for a binary DXF: "binary DXF is not read: save PATH as ASCII DXF".
void addBinaryLine(DialogPort* dialog, const char* path) noexcept;
