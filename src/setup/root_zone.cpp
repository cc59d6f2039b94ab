// Moving a cell's root zone with its roots.
#include "setup/root_zone.h"

namespace velmo {

bool RootZoneStep(root_zone_state& s, double old_depth, double new_depth, double capacity_per_metre) {
  if (!(new_depth >= 0.0)) return false;
  const double before = s.available;
  // The root zone's capacity is proportional to its depth; one without
  // depth or capacity (frozen ground) grows back by its field capacity.
  double after = 0.0;
  if (old_depth > 0.0 && before > 0.0) {
    after = before * new_depth / old_depth;
  } else if (capacity_per_metre > 0.0 && new_depth > 0.0) {
    after = capacity_per_metre * new_depth;
  } else {
    return false;
  }
  if (after > before) {
    const double gained = after - before;
    if (s.inactive_capacity >= gained) {
      s.storage = (gained * s.inactive_moisture + s.storage * before) / after;
      s.inactive_capacity -= gained;
    } else {
      // More capacity than the inactive soil holds: the root zone takes all
      // of it with its water, and the rest of the new capacity starts empty.
      s.storage = (s.inactive_moisture * s.inactive_capacity + s.storage * before) / after;
      s.inactive_capacity = 0.0;
      s.inactive_moisture = 1.0;
    }
  } else if (after < before) {
    const double lost = before - after;
    s.inactive_moisture =
        (lost * s.storage + s.inactive_capacity * s.inactive_moisture) / (s.inactive_capacity + lost);
    s.inactive_capacity += lost;
  }
  // The unsaturated part of the capacity keeps its size.
  if (after > 0.0) s.saturated_partition = (s.saturated_partition - 1.0) * before / after + 1.0;
  s.available = after;
  return true;
}

void UpdateRootZone(const root_zone_grids& g, int r, int c, double old_depth, double new_depth,
                    double capacity_per_metre) {
  root_zone_state state{g.capacity[r][c], g.storage[r][c], g.inactive_capacity[r][c],
                        g.inactive_moisture[r][c], g.saturated_partition[r][c]};
  if (RootZoneStep(state, old_depth, new_depth, capacity_per_metre)) {
    g.capacity[r][c] = state.available;
    g.storage[r][c] = state.storage;
    g.inactive_capacity[r][c] = state.inactive_capacity;
    g.inactive_moisture[r][c] = state.inactive_moisture;
    g.saturated_partition[r][c] = state.saturated_partition;
  }
  g.storage_old[r][c] = g.storage[r][c];
}

}  // namespace velmo
