// The infiltration model: Green-Ampt infiltration excess per cell before the
// soil model's step. It derives from the soil model, so that one object is
// both models; its step ends with the soil step, which adds the excess to
// the cell's direct runoff.
#pragma once

#include <memory>
#include <string>

#include "landsurface/bodenmod.h"
#include "landsurface/soil_section.h"

namespace velmo {

inline constexpr int kInfiltrationWithoutSoilCode = 47;  // infiltration on while the soil model is off
inline constexpr int kIntervalMismatchCode = 67;         // the two sections give different intervals
inline constexpr int kInfiltrationOn = 1;
inline constexpr const char* kInfiltrationModelName = "infiltration_model";

class infiltrationsmodellklasse : public bodenmodellklasse {
 public:
  // Builds the soil model from "[soil_model]", then reads the section named
  // `module_name`. Failures throw their code after their entry.
  infiltrationsmodellklasse(MessageStream* stream, const model_settings& settings, grid_table* shared_grids,
                            const std::string& module_name = kInfiltrationModelName);
  ~infiltrationsmodellklasse() override;

  // The infiltration step (switch 1), then the soil step.
  void RunTimeStep(int minute, int hour, int day, int month, int year) override;
  void FlushBuffers() override;
  void CleanUp() override;

  std::string second_name;  // the infiltration model's own name
  infiltration_section infiltration;
  double** fillable_porosity = nullptr;
  owned_matrix excess_grid;      // "infiltration_excess", mm per step
  owned_matrix saturation_grid;  // "infiltration_saturation": 1 once the front reached the surface
  int excess_index = 0;
  int saturation_index = 0;
  std::unique_ptr<zonalstatistic> excess_table;

 private:
  void BuildInfiltration();
  int RegisterInfiltrationGrid(owned_matrix& data, const output_grid& setting, const char* grid_name);
};

}  // namespace velmo
