// The optional section "[ExternalCoupling]": a file-based coupling with an
// external model (semaphore files, grids to take over and to hand over,
// statistics to hand over). It is read and checked at set-up; no data are
// exchanged during a run.
#pragma once

#include <string>
#include <vector>

#include "framework/memory.h"

namespace velmo {

// Code of a malformed coupling group or exchange unit.
inline constexpr int kCouplingFormatErrorCode = 10;
// Code of a control-file copy that cannot be opened again.
inline constexpr int kCouplingOpenErrorCode = 14;

// A grid to take over from the external model.
struct external_read_grid {
  std::string grid_name;
  std::string entity;
  int fill_code = 0;
  int rename_code = 0;
};

// A grid to hand to the external model; period words accumulate it.
struct external_write_grid {
  std::string grid_name;
  std::string entity;
  std::string write_code_word;
  owned_matrix accumulation;  // empty unless the word asks for a sum or mean
};

// A statistics file to hand to the external model.
struct external_statistic {
  std::string file_name;
  std::string entity;
  std::string write_code_word;
};

struct external_coupling {
  int coupling_mode = 0;  // 0: no coupling
  std::string semaphore_file;
  long scan_wait_interval = 0;
  char exchange_unit = 'I';    // I, H, D, M or Y
  int external_time_step = 0;  // minutes
  std::vector<external_read_grid> read_grids;
  std::vector<external_write_grid> write_grids;
  std::vector<external_statistic> statistics;
  std::string inform_semaphore_file;
  std::string inform_semaphore_content;
};

// The units the external grids can be exchanged in.
constexpr bool IsExchangeUnit(char unit) {
  return unit == 'I' || unit == 'H' || unit == 'D' || unit == 'M' || unit == 'Y';
}

// Write code words "Mean", "Sum" and "SumTotal..." accumulate their grid.
bool NeedsAccumulationGrid(const std::string& write_code_word);

// Sets rows first_row..last_row of `accumulation` to 0 inside the catchment
// and to nodata outside; without a zone grid every cell is inside.
void ClearAccumulationGrid(double** accumulation, double** zone, int first_row, int last_row, int ncols,
                           double nodata);

}  // namespace velmo
