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
  // Writes the preprocessed copy "<source_name>.intern" (comments cut, $set
  // symbols substituted, "//" joins removed) and leaves its name in intern_name.
  virtual void CompileSymbols(const std::string& source_name, std::string& intern_name);
  // Comment, references and joins of one line, in place; a fault is logged and
  // thrown with its code. defining_symbol (1-based, 0 for none) is the symbol
  // whose value `line` is: a reference back to it is a self-reference.
  virtual std::string& SubstituteSymbols(std::string& line, int line_number,
                                         const std::vector<std::string>& symbol_names,
                                         const std::vector<std::string>& symbol_values, int symbol_count,
                                         int defining_symbol);

  // ---- global sections, model settings, model time

  // ---- land-use, soil and multilayer tables

  // ---- stages, grids, partitioning, coupling
};

}  // namespace velmo
