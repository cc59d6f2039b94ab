// Tracer descriptions: the section "[substance_transport]" of the control
// file, one line per dissolved substance carried with the water.
#pragma once

#include <string>
#include <vector>

#include "framework/modelobject.h"

namespace velmo {

// Most tracers a run may carry.
inline constexpr int kMaxTracers = 9;
// Longest path or file extension of a tracer's output files.
inline constexpr std::size_t kMaxTracerTextLength = 299;
// Half-life of a tracer that does not decay.
inline constexpr double kNoHalfTime = -9999.0;

// Codes of the section's fatal errors.
inline constexpr int kTracerParameterErrorCode = 56;
inline constexpr int kTooManyTracersCode = 58;
inline constexpr int kDuplicateTracerNameCode = 59;

// One tracer as described by its line. The factor by which a decaying tracer
// shrinks per step depends on each module's own time interval, so it is not
// held here: every module derives it with TracerDecayFactor.
struct tracer_description {
  std::string name;     // first three characters of the line's first word, lower case, "_"-filled
  int radioactive = 0;  // 1 for a decaying tracer
  int evaporating = 0;  // 1 when the tracer leaves with evaporating water
  double min_conc = 0.0;
  double max_conc = 0.0;   // its unit word is checked, the value is not converted
  double half_time = 0.0;  // days; kNoHalfTime when not radioactive
  double gwini = 0.0;      // initial concentration in the groundwater
  double soilini = 0.0;    // initial concentration in the soil
  std::string path;        // directory or prefix of the tracer's output files
  std::string statext;     // extension of its statistics files
  std::string gridext;     // extension of its grid files
  int statcode = 0;        // statistics code of its concentration tables
  int gridcode = 0;        // write code of its concentration grids
};

// Factor by which a radioactive tracer's concentration shrinks in one time
// step: 0.5 ^ (step / half-life).
double TracerDecayFactor(double half_time_days, double time_step_minutes);

// Short name of a tracer line: the first three characters of its first word,
// filled up with "_" and turned to lower case.
std::string TracerShortName(const std::string& line);

// Reads every keyword of tracer `tracer` (of `tracer_count`) from its line into
// `description` (all but the name). Returns the text of the FATAL entry that
// names what is wrong, or an empty text when the line is good.
std::string ParseTracerKeywords(const std::string& line, int tracer, int tracer_count,
                                tracer_description& description);

class tracer_ini_class : public modelobject {
 public:
  // Reads "[substance_transport]" from the preprocessed control file. Never
  // throws: a fatal code lands in `error` (0 when all went well).
  tracer_ini_class(int& error, MessageStream* stream, const std::string& control_file_name,
                   bool write_ascii_grids = true, bool write_double_grids = false,
                   bool write_netcdf_grids = false, const std::string* initial_state_directory = nullptr,
                   const std::string* default_output_directory = nullptr);

  // Frees the descriptions, then the base.
  void CleanUp() override;

  int tracer_count = 0;
  // Records 1 .. tracer_count (record 0 is not used); empty without tracers.
  std::vector<tracer_description> tracer_descriptions;

 private:
  void ReadSection();
};

}  // namespace velmo
