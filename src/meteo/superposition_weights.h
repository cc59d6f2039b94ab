// Weights of the regional superposition: every input grid carries one weight
// per regression region, and a cell blends the weights of up to three regions
// by the set-up's layer weights. Numbers in, numbers out.
#pragma once

#include <vector>

namespace velmo {

// Region layers a cell can belong to (own region, second, third).
inline constexpr int kMaxRegionLayers = 3;

// Rank (1..region count) of a cell's region value: its truncation looked up
// in `code_map` (codes 0..max_code); 0 for a value that is no ranked code,
// also for 0, a negative value or one beyond max_code.
inline int RegionRank(double value, const int* code_map, int max_code) {
  if (!(value >= 0.0 && value < max_code + 1.0)) return 0;
  return code_map[static_cast<int>(value)];
}

// An input's weights indexed by region rank: element 0 (no region) is 0,
// element k the weight listed at position k.
std::vector<double> WeightsByRank(const std::vector<double>& listed_weights);

// Weight of one input in a cell: over the cell's layers, the input's weight
// for the layer's region rank times the layer weight. Rank 0 adds nothing.
inline double CellInputWeight(const double* weights_by_rank, const int* ranks, const double* layer_weights,
                              int layer_count) {
  double weight = 0.0;
  for (int l = 0; l < layer_count; ++l)
    if (ranks[l] > 0) weight += weights_by_rank[ranks[l]] * layer_weights[l];
  return weight;
}

// A run of cells: out[k] = sum over the inputs g of values[g][k] ×
// weights[g][k], k = 0..count-1; `nodata` where any input holds `nodata`.
void SuperposeCells(const double* const* values, const double* const* weights, int input_count, int count,
                    double nodata, double* out);

// What is wrong with an input's list of region codes. Position p (from 1)
// must hold the code of rank p, and every ranked code must be listed.
struct region_list_fault {
  enum kind_t { kNone, kCount, kOrder, kNoRegion } kind = kNone;
  int position = 0;       // of the first wrong code
  int code_read = 0;      // the code found there
  int expected_code = 0;  // the code of rank `position` (kOrder)
};
region_list_fault CheckRegionList(const std::vector<int>& codes, int region_count, const int* code_map,
                                  int max_code);

}  // namespace velmo
