// The root zone of a cell and the inactive soil below it: when the roots
// deepen or shallow (the land use's day, the permafrost's thaw depth) the
// root zone's capacity follows them and water moves between the two.
#pragma once

namespace velmo {

// Water moved between the root zone and the inactive soil below it when the
// root depth changes from `old_depth` to `new_depth`.
struct root_zone_state {
  double available = 0.0;            // "available_soil_moisture" (A)
  double storage = 0.0;              // "soil_storage" (Y), relative
  double inactive_capacity = 0.0;    // "inaktive_field_capacity" (IC)
  double inactive_moisture = 0.0;    // "inaktive_soil_moisture" (IM), relative
  double saturated_partition = 0.0;  // "saturated_soil_partition" (SP)
};
// The capacity follows the root depth (A' = A * new / old), down to 0 when
// the roots lose all depth (frozen ground). A root zone without depth or
// capacity grows back to `capacity_per_metre` (mm per metre of roots) times
// the new depth. Returns false, with the state unchanged, when it can do
// neither (or a depth is negative or missing).
bool RootZoneStep(root_zone_state& state, double old_depth, double new_depth,
                  double capacity_per_metre = 0.0);

// The soil model's grids of the root zone and the inactive soil (null: not
// present).
struct root_zone_grids {
  double** capacity = nullptr;             // "available_soil_moisture"
  double** storage = nullptr;              // "soil_storage"
  double** storage_old = nullptr;          // "soil_storage_old"
  double** inactive_capacity = nullptr;    // "inaktive_field_capacity"
  double** inactive_moisture = nullptr;    // "inaktive_soil_moisture"
  double** saturated_partition = nullptr;  // "saturated_soil_partition"

  bool Complete() const {
    return capacity && storage && storage_old && inactive_capacity && inactive_moisture &&
           saturated_partition;
  }
};

// The root zone of cell (r, c) of complete grids follows its roots from
// `old_depth` to `new_depth` (RootZoneStep). The soil moisture after the last
// input takes the new moisture, so that the soil step sees no capillary flow
// in what the roots moved.
void UpdateRootZone(const root_zone_grids& grids, int r, int c, double old_depth, double new_depth,
                    double capacity_per_metre = 0.0);

}  // namespace velmo
