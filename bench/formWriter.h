#pragma once
// Writing generated faces in the other forms a modeller uses: POLYLINE polyface meshes, MESH
// entities, blocks placed by INSERT, or a mix of all of them with other entities and a layer
// table. The reader meets the faces in the order given, so a file in any form reads as the
// same faces as the 3DFACE file.
#include <string>
#include <vector>

#include "bench/modelGenerator.h"

namespace benchgen {

enum class FileForm { faces, polyface, mesh, blocks, mix };

// "3dface", "polyface", "mesh", "blocks", "mix"; false for an unknown name.
bool parseFileForm(const std::string& name, FileForm* form);

struct FormFace {
  std::string layer;
  GridPoint corners[4];  // a triangle repeats its third corner
};

// Writes `faces` in `form` after the 999 `comments`, CR LF line ends; temporary file, renamed.
bool writeFormDxf(const std::vector<FormFace>& faces, const std::vector<std::string>& comments,
                  FileForm form, const std::string& path);

// The reference's and the target's faces of a pair, in file order.
std::vector<FormFace> referenceFormFaces(const GeneratedPair& pair);
std::vector<FormFace> targetFormFaces(const GeneratedPair& pair);

}  // namespace benchgen
