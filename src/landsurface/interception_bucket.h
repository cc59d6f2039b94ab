// The canopy bucket of one vegetation layer and one cell: filling from the
// water that reaches the layer, the spill above its capacity, evaporation
// from the store, the glacierised share of a cell, and what a dissolved
// tracer does on the way. Numbers in, numbers out; depths in mm per step.
#pragma once

#include <algorithm>

namespace velmo {

// What limits the evaporation from the canopy store.
enum class interception_limit {
  potential_transpiration,  // the layer's "pot_transpiration"
  potential_interception,   // the layer's "potential_InterceptionEvap"
};

// They run for every cell of every step, so they are inline.

// Capacity of a layer's store (mm): the leaf area index times the water
// layer a unit of leaf area holds, the land use's own (`landuse_thickness`)
// or, when that is negative, the section's; never below 0.
inline double CanopyCapacity(double leaf_area_index, double landuse_thickness, double section_thickness) {
  const double thickness = landuse_thickness < 0.0 ? section_thickness : landuse_thickness;
  return std::max(leaf_area_index * thickness, 0.0);
}

// A layer after the water of the step reached it and the store spilled.
struct canopy_fill {
  double direct = 0.0;       // the uncovered part, falling straight through
  double caught = 0.0;       // caught by the covered part
  double spill = 0.0;        // what the store could not hold
  double throughfall = 0.0;  // direct + spill
  double storage = 0.0;      // the store afterwards, at most the capacity
};

// `coverage` (0..1) of `input` is caught; the store keeps up to `capacity`.
// A store above its capacity (the capacity fell) spills the excess as well.
inline canopy_fill FillCanopy(double input, double coverage, double capacity, double storage) {
  canopy_fill fill;
  fill.direct = (1.0 - coverage) * input;
  fill.caught = coverage * input;
  fill.storage = storage + fill.caught;
  if (fill.storage > capacity) {
    fill.spill = fill.storage - capacity;
    fill.storage = capacity;
  }
  fill.throughfall = fill.direct + fill.spill;
  return fill;
}

// Evaporation from the store of `storage`.
struct canopy_evaporation {
  double evaporation = 0.0;
  double transpiration_cut = 0.0;  // what the potential transpiration loses
};

// The store evaporates what the limit allows, never below empty; a negative
// or missing potential evaporates nothing. Limited by the potential
// transpiration, that potential loses the whole evaporation; limited by the
// potential interception evaporation, it loses as much as it has.
inline canopy_evaporation EvaporateCanopy(interception_limit limit, double storage,
                                          double potential_transpiration, double potential_interception) {
  const double transpiration = std::max(potential_transpiration, 0.0);
  canopy_evaporation result;
  switch (limit) {
    case interception_limit::potential_transpiration:
      result.evaporation = std::min(storage, transpiration);
      result.transpiration_cut = result.evaporation;
      break;
    case interception_limit::potential_interception:
      result.evaporation = std::min(storage, std::max(potential_interception, 0.0));
      result.transpiration_cut = std::min(transpiration, result.evaporation);
      break;
  }
  // An empty store evaporates nothing.
  result.evaporation = std::max(result.evaporation, 0.0);
  result.transpiration_cut = std::max(result.transpiration_cut, 0.0);
  return result;
}

// Water a cell passes on when the share `glacier_share` of it is glacierised:
// that share passes its input straight on, the rest the canopy throughfall.
inline double CellThroughfall(double input, double glacier_share, double canopy_throughfall) {
  return input * glacier_share + (1.0 - glacier_share) * canopy_throughfall;
}

// ---------------------------------------------------------------- tracers

// A dissolved tracer in one layer's store. An evaporating tracer leaves with
// the evaporating water, so its store keeps a concentration; any other stays
// behind when water evaporates, so its store keeps the tracer mass.
struct canopy_tracer_rules {
  bool evaporating = false;
  double decay_factor = 1.0;       // per step; 1 for a tracer that does not decay
  double max_concentration = 0.0;  // bounds what a spill carries of a non-evaporating tracer
};

struct canopy_tracer {
  double stored = 0.0;                     // concentration (evaporating) or mass in the store
  double throughfall_concentration = 0.0;  // of the layer's throughfall
};

// The tracer through one fill and spill of `fill`: `stored` before the step,
// `storage_before` the store's water before it, `input_concentration` that of
// the water reaching the layer. Evaporation afterwards changes nothing.
canopy_tracer CanopyTracerStep(const canopy_tracer_rules& rules, double stored, double storage_before,
                               double input_concentration, const canopy_fill& fill);

// Concentration of what a partly glacierised cell passes on: the canopy
// throughfall of the rest of the cell mixed with the input of the share.
double CellThroughfallConcentration(double input, double input_concentration, double glacier_share,
                                    double canopy_throughfall, double canopy_concentration);

}  // namespace velmo
