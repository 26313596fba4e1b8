#pragma once
// The layer a target face is written under, shared by the DXF writer and the per-face report
// so that both always name the same layer.

struct ModelFace;

// Layer written for target face `face` of the run state: the layer of its matched face in
// referenceModel when that face exists, else the face's own; "Obj1" when that text is empty.
// Borrowed from the models; valid while they live.
const char* outputLayer(const ModelFace& face) noexcept;

// Layer the target written back whole (--keep-target) gives target face `face`: the layer of its
// matched face in referenceModel when that face exists and its layer is not empty, else the
// face's own, which may be empty (an entity without group 8 stays without). Borrowed likewise.
const char* keptTargetLayer(const ModelFace& face) noexcept;

// The rule a file written beside the output follows for a face's layer.
enum class LayerRule { written, keptTarget };
// outputLayer or keptTargetLayer, by `rule`.
inline const char* layerByRule(LayerRule rule, const ModelFace& face) noexcept {
  return rule == LayerRule::keptTarget ? keptTargetLayer(face) : outputLayer(face);
}
