#pragma once
// The layer a target face is written under, shared by the DXF writer and the per-face report
// so that both always name the same layer.

struct ModelFace;

// Layer written for target face `face` of the run state: the layer of its matched face in
// referenceModel when that face exists, else the face's own; "Obj1" when that text is empty.
// Borrowed from the models; valid while they live.
const char* outputLayer(const ModelFace& face) noexcept;
