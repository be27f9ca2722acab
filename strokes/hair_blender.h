#pragma once
#include <Eigen/Core>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quillax.pb.h"

class BufferUndoer;
class EGrider;
class ModelRender;
class Operatable;

// Flag bit of a reference strand's stroke that makes it a key strand: only key strands are
// candidates in the first matching pass.
constexpr int kKeyStrandBit = 15;

// The shape space of one reference strand: vector 0 is its base shape, vectors 1 to K are
// variations added to it with weights. Each holds D floats, 3 per control point, root first, in
// the stored frame (the layout of a stroke's control points).
struct StrandRecord {
  std::vector<std::vector<float>> m_vectors;  // K + 1
  int32_t m_variationCount = 0;               // K
  int32_t m_size = 0;                         // D
};

// A hint stroke (its index in the hint list) and the reference strand it was matched to.
struct BlendMatch {
  int32_t m_stroke = -1;
  int32_t m_strand = -1;
  bool operator==(const BlendMatch& o) const {
    return m_stroke == o.m_stroke && m_strand == o.m_strand;
  }
};

// A fitted blend: the hairstyle, its K x G weights and the matches they were fitted to.
struct BlendRecord {
  std::string m_name;
  std::vector<float> m_weights;
  std::vector<BlendMatch> m_matches;
};

// Where prediction requests go. It lies outside this program: nothing here creates one, so
// g_requestClient stays null and a request does nothing.
struct HairstyleRequest {
  quillax::DataBatch m_batch;
  int32_t m_state = 0;  // 3: a batch of hint strokes waits
};
extern HairstyleRequest* g_requestClient;

// The brush tool's hairstyle suggestion. From the hint strokes (brush shape 4) it takes the
// reference hairstyle selected among the predicted ones, matches each hint stroke to its nearest
// reference strand, fits blend weights of the strands' variations by L-BFGS, bends every
// reference strand by them and by the hint strokes' residuals, and hides strands where the
// user's own strokes already are. Fits are cached by the newest hint stroke's id.
// Reference data is handed in with addReferenceHairstyle; the program attaches no blender.
class HairBlender {
 public:
  HairBlender();
  virtual ~HairBlender();
  HairBlender(const HairBlender&) = delete;
  HairBlender& operator=(const HairBlender&) = delete;

  // Forgets the matches, the hint strokes and the current hairstyle (no suggestion shown). The
  // reference data and the cache stay.
  virtual void reset();

  // Takes a reference hairstyle: `model` holds strand j as history entry j (pushed with
  // pushList, so entry j of its buffer too), `strands` one record per strand with the same
  // counts as the first (D a positive multiple of 3), `affinity` one row of closeness values in
  // [0, 1) per strand, one per strand. Each stroke's control points and target become its base
  // shape, so the stroke deforms away from how it was handed in; the model's buffers draw in the
  // suggestion colours. A name already held is replaced, its cached fits dropped. False, with a
  // line naming the fault, when the data do not fit together; nothing is kept then.
  bool addReferenceHairstyle(const std::string& name, std::unique_ptr<BufferUndoer> model,
                             std::vector<StrandRecord> strands,
                             std::vector<std::vector<float>> affinity);
  // The grid whose cell occupancy hides covered strands (not owned; null: none). The blender
  // lets go of it when its head frees it.
  void attachHairGrid(EGrider* grid);

  // Entry point: the trailing hint strokes of the brush history, oldest first (not owned).
  void updateSuggestion(const std::vector<Operatable*>& strokes);
  // Hands the hint strokes, packed, to the request target; nothing without one.
  void requestPrediction();
  // Matches, fits and applies one reference hairstyle; nothing shown when it is not held or
  // the fit fails.
  void parseHairstyle(const std::string& name);
  // The L-BFGS fit from 1/K everywhere: K x G weights (G = 1, or the matches per match). False
  // for no weights or a final value that is not a number; a solver failure keeps the best
  // finite point it reached.
  bool fitBlendWeights(std::vector<float>& weights);
  // The objective at w with its gradient (g resized to w's size): sum to one per group, range
  // [0, 1], smoothness between groups, and the matched hint strokes' compared control floats.
  // Counts and prints each evaluation. Float for the solver, double to check the gradient.
  template <typename Scalar>
  Scalar blendObjective(const Eigen::Matrix<Scalar, Eigen::Dynamic, 1>& w,
                        Eigen::Matrix<Scalar, Eigen::Dynamic, 1>& g);
  // Bends the current hairstyle's strands (all but the attach shape) by the weights and the
  // residuals, recolours them in the brush colour and hides the covered ones.
  void applyBlend(const std::vector<float>& weights);
  // inout (made D zeros when it does not hold D) += sum of the variations times the K weights.
  void blendStrand(const StrandRecord& strand, const float* weights,
                   std::vector<float>& inout) const;
  // Strand `strand`'s K weights in per-match mode: the match groups weighted by its affinity to
  // each matched strand.
  void strandWeights(const std::vector<float>& weights, int32_t strand,
                     std::vector<float>& out) const;
  // inout += the residuals (one per match) weighted by strand `strand`'s affinity to each match's
  // strand, scaled by the largest; made zeros of a residual's length when its length differs.
  void propagateResiduals(const std::vector<std::vector<float>>& residuals, int32_t strand,
                          std::vector<float>& inout) const;
  // Hides each strand whose ring positions lie on average above 0.6 occupancy in the hair grid.
  void hideCoveredStrands();
  // The reference model of the current hairstyle; null when none is shown.
  BufferUndoer* currentModel() const;

  std::string m_hairstyleName;
  std::vector<Operatable*> m_strokes;  // not owned
  std::vector<BlendMatch> m_matches;
  std::map<int64_t, BlendRecord> m_cache;
  ModelRender* m_preview = nullptr;  // not owned; drawn with the suggestion
  std::vector<std::string> m_predictions;
  EGrider* m_hairGrid = nullptr;  // not owned; set through attachHairGrid
  int32_t m_comparePoints = 20;
  bool m_perMatchWeights = false;
  std::map<std::string, std::unique_ptr<BufferUndoer>> m_referenceModels;
  std::map<std::string, std::vector<StrandRecord>> m_referenceStrands;
  std::map<std::string, std::vector<std::vector<float>>> m_strandAffinity;

 private:
  void releaseHairGrid();
  // Row `strand` of the current hairstyle's affinity table; null outside it.
  const std::vector<float>* affinityRow(int32_t strand) const;
  // x = the row's value at each match's strand; false when a match lies outside the row.
  bool matchAffinities(const std::vector<float>& row, std::vector<float>& x) const;
  // The weights of strand j's group: per-match weights through its affinity, else the vector.
  const float* groupWeights(const std::vector<float>& weights, int32_t strand,
                            std::vector<float>& scratch) const;

  int m_gridReleaseHandle = -1;
};

// The suggestion's drawing opacity into VALUE_SUGGESTION_OPACITY, by the current tool (and for the hair
// brush the drawing hand's distance from the head's centre). Nothing without a head.
void updateSuggestionOpacity();

// One guid_strokes entry per stroke, in order, appended to batch: the stroke at 20 evenly spaced
// fractional sample indices, x, y, z each (60 values).
void packHintStrokes(const std::vector<Operatable*>& strokes, quillax::DataBatch& batch);
