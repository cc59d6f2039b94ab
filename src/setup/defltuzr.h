// The set-up object: preprocesses the control file and reads everything that
// belongs to no single module (global sections, model time, grids, tables).
#pragma once

#include <string>
#include <vector>

#include "framework/modelobject.h"

namespace velmo {

class defaultini : public modelobject {
 public:
  defaultini(MessageStream* stream, const std::string& control_file_name);
  ~defaultini() override = default;

  // ---- control-file preprocessing (.intern copy)

  // ---- global sections, model settings, model time

  // ---- land-use, soil and multilayer tables

  // ---- stages, grids, partitioning, coupling
};

}  // namespace velmo
