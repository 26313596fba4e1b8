#include "match/readReport.h"

#include "model/dxfReader.h"
#include "textfiles/dialogPort.h"
#include "textfiles/lineList.h"

void addReadLines(DialogPort* dialog, const char* path, const DxfReadReport& report) noexcept {
  for (int32_t i = 0; report.notes && i < report.notes->count; ++i)
    addProgressLine(dialog, "%s: %s", path, report.notes->items[i]);
  if (report.moreNotes > 0)
    addProgressLine(dialog, "%s: %d more like these", path, report.moreNotes);
  int64_t total = 0;
  for (int32_t count : report.faces)
    total += count;
  if (total > report.faces[kForm3dFace] || report.placedFaces > 0) {
    addProgressLine(dialog,
                    "%s: %lld faces: %d 3DFACE, %d polyface mesh, %d polygon mesh, %d MESH, %d of "
                    "them placed by INSERT",
                    path, static_cast<long long>(total), report.faces[kForm3dFace],
                    report.faces[kFormPolyface], report.faces[kFormPolygonMesh],
                    report.faces[kFormMesh], report.placedFaces);
  }
  if (total == 0 && report.solids > 0) {
    addProgressLine(dialog, "%s holds %d 3D solids or surfaces and no mesh: save them as a mesh",
                    path, report.solids);
  }
  if (report.lostFaces > 0)
    addProgressLine(dialog, "%s: %d faces could not be read", path, report.lostFaces);
}

void addBinaryLine(DialogPort* dialog, const char* path) noexcept {
  addProgressLine(dialog, "binary DXF is not read: save %s as ASCII DXF", path);
}
