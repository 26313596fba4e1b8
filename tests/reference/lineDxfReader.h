#pragma once
// The DXF face reader stated over a line list (the file split with empty lines kept), one group
// of two lines at a time: the reading rules as they were before the reader walked the bytes.
// readDxfBytes is proven equal to it on random and hostile texts.
struct FaceModel;
struct LineList;

// The model readDxfBytes gives for the same text (null when memory failed).
FaceModel* readDxfLines(const LineList* lines, const char* source, LineList* comments,
                        int rotation) noexcept;
