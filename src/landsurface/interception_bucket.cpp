// The canopy bucket of one layer and cell, the glacierised share and the
// tracer rules of the store.
#include "landsurface/interception_bucket.h"

#include <algorithm>

#include "setup/tracerstorage.h"

namespace velmo {

double CanopyCapacity(double leaf_area_index, double landuse_thickness, double section_thickness) {
  const double thickness = landuse_thickness < 0.0 ? section_thickness : landuse_thickness;
  return leaf_area_index * thickness;
}

canopy_fill FillCanopy(double input, double coverage, double capacity, double storage) {
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

canopy_evaporation EvaporateCanopy(interception_limit limit, double storage, double potential_transpiration,
                                   double potential_interception) {
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
  // An empty (or, after a fall of capacity, negative) store evaporates nothing.
  result.evaporation = std::max(result.evaporation, 0.0);
  result.transpiration_cut = std::max(result.transpiration_cut, 0.0);
  return result;
}

double GlacierShare(double value) {
  if (value >= kFullyGlacierised) return 1.0;
  return std::clamp(value, 0.0, 1.0);
}

double CellThroughfall(double input, double glacier_share, double canopy_throughfall) {
  return input * glacier_share + (1.0 - glacier_share) * canopy_throughfall;
}

canopy_tracer CanopyTracerStep(const canopy_tracer_rules& rules, double stored, double storage_before,
                               double input_concentration, const canopy_fill& fill) {
  canopy_tracer result;
  stored *= rules.decay_factor;
  if (rules.evaporating) {
    result.stored = MixedConcentration(stored, input_concentration, storage_before, fill.caught);
    result.throughfall_concentration = input_concentration;
    if (fill.spill > 0.0)
      result.throughfall_concentration =
          MixedConcentration(result.stored, input_concentration, fill.spill, fill.direct);
    return result;
  }
  // Mass, carried as such until the throughfall is known.
  double throughfall_mass = input_concentration * fill.direct;
  double mass = stored + input_concentration * fill.caught;
  if (fill.spill > 0.0) {
    const double water = fill.storage + fill.spill;
    const double moved = std::min(fill.spill * rules.max_concentration, fill.spill / water * mass);
    mass -= moved;
    throughfall_mass += moved;
  }
  result.stored = mass;
  result.throughfall_concentration = fill.throughfall > 0.0 ? throughfall_mass / fill.throughfall : 0.0;
  return result;
}

double CellThroughfallConcentration(double input, double input_concentration, double glacier_share,
                                    double canopy_throughfall, double canopy_concentration) {
  return MixedConcentration(canopy_concentration, input_concentration,
                            (1.0 - glacier_share) * canopy_throughfall, glacier_share * input);
}

}  // namespace velmo
