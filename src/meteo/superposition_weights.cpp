// Weights of the regional superposition: weights by region rank, the sum of a
// run of cells and the check of an input's region list.
#include "meteo/superposition_weights.h"

namespace velmo {

std::vector<double> WeightsByRank(const std::vector<double>& listed_weights) {
  std::vector<double> by_rank(listed_weights.size() + 1, 0.0);
  for (std::size_t k = 0; k < listed_weights.size(); ++k) by_rank[k + 1] = listed_weights[k];
  return by_rank;
}

void SuperposeCells(const double* const* values, const double* const* weights, int input_count, int count,
                    double nodata, double* out) {
  // Input by input along the run, so that each pass is a plain vector loop;
  // the missing cells are marked in a last pass over the values, still in
  // cache.
  double* __restrict sum = out;
  for (int k = 0; k < count; ++k) sum[k] = 0.0;
  for (int g = 0; g < input_count; ++g) {
    const double* __restrict v = values[g];
    const double* __restrict w = weights[g];
    for (int k = 0; k < count; ++k) sum[k] += v[k] * w[k];
  }
  for (int g = 0; g < input_count; ++g) {
    const double* __restrict v = values[g];
    for (int k = 0; k < count; ++k) sum[k] = v[k] == nodata ? nodata : sum[k];
  }
}

region_list_fault CheckRegionList(const std::vector<int>& codes, int region_count, const int* code_map,
                                  int max_code) {
  region_list_fault fault;
  if (static_cast<int>(codes.size()) != region_count) {
    fault.kind = region_list_fault::kCount;
    return fault;
  }
  auto rank_of = [&](int code) { return code >= 0 && code <= max_code ? code_map[code] : 0; };
  for (int p = 1; p <= region_count; ++p) {
    const int code = codes[static_cast<std::size_t>(p) - 1];
    const int rank = rank_of(code);
    if (rank == p) continue;
    fault.position = p;
    fault.code_read = code;
    if (rank == 0) {
      fault.kind = region_list_fault::kNoRegion;
      return fault;
    }
    fault.kind = region_list_fault::kOrder;
    for (int c = 0; c <= max_code; ++c) {
      if (code_map[c] != p) continue;
      fault.expected_code = c;
      break;
    }
    return fault;
  }
  return fault;
}

}  // namespace velmo
