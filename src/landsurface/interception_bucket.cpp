// The tracer rules of the canopy store.
#include "landsurface/interception_bucket.h"

#include <algorithm>

#include "setup/tracerstorage.h"

namespace velmo {

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
