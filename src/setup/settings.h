// The model-wide values that the set-up object hands to the model application
// once every initialisation stage has run, and the values of the global
// sections of the control file.
#pragma once

#include <string>
#include <vector>

#include "framework/types.h"

namespace velmo {

struct landuse_table_entry;
struct soil_table_entry;
struct multilayer_landuse_entry;
class state_file_session;

// "[output_interval]" (positional values and "timestep"), "[meteo_data_count]",
// "[coordinates]", "[meteo_names]" and "[output_list]".
struct global_sections {
  int message_interval = 0;     // hours between progress messages
  int station_warning = 0;      // 0 or 1
  int routing_output_unit = 0;  // the routing model's output unit: 0 mm per step, 1 m3/s
  double min_to_int_end = 0.0;  // minutes from the data time stamp to the step end, >= 0
  int timestep = 0;             // minutes; 0 without the "timestep" key
  int meteo_count = 0;
  double latitude = 0.0;                 // degrees
  double longitude = 0.0;                // degrees
  double reference_meridian = 0.0;       // degrees
  double time_shift = 0.0;               // data time to local time
  std::vector<std::string> meteo_names;  // index 1..meteo_count, index 0 unused
  int output_list_count = 0;
  std::vector<int> output_list;  // subbasin codes, index 1..output_list_count; empty for a count <= 0
};

// The settings in the order the set-up object hands them out. Pointers refer
// to data the set-up object keeps and frees in its clean-up; the texts and
// lists of the global sections are copies.
struct model_settings {
  std::string control_file_name;  // the preprocessed ".intern" copy
  // (the second value of the hand-over carries nothing)
  int message_interval = 0;
  int station_warning = 0;
  int routing_output_unit = 0;
  double min_to_int_end = 0.0;
  int timestep = 0;
  int meteo_count = 0;
  double latitude = 0.0;
  double longitude = 0.0;
  double reference_meridian = 0.0;
  double time_shift = 0.0;
  std::vector<std::string> meteo_names;  // index 1..meteo_count
  int output_list_count = 0;
  std::vector<int> output_list;  // index 1..output_list_count; empty for a count <= 0
  int grid_count = 0;            // the set-up object's grids are table entries 3..grid_count+2
  int* zone_code_map = nullptr;
  zone_record* zone_table = nullptr;
  row_range* row_ranges = nullptr;
  int zone_count = 0;
  int max_zone_code = 0;
  region_record* region_table = nullptr;
  int region_count = 0;
  int max_region_code = 0;
  int* region_code_map = nullptr;
  int ncols = 0;
  int nrows = 0;
  int first_row = 0;
  int last_row = 0;
  double xllcorner = 0.0;
  double yllcorner = 0.0;
  double cellsize = 0.0;
  double nodata_value = 0.0;
  int startminute = 0;
  int starthour = 0;
  int startday = 0;
  int startmonth = 0;
  int startyear = 0;
  int endminute = 0;
  int endhour = 0;
  int endday = 0;
  int endmonth = 0;
  int endyear = 0;
  landuse_table_entry* landuse_table = nullptr;
  soil_table_entry* soil_table = nullptr;
  const void* irrigation_table = nullptr;                // no irrigation table exists: always null
  multilayer_landuse_entry* multilayer_table = nullptr;  // null without "[multilayer_landuse]"
  bool WriteAsciiGrids = false;
  bool WriteDoubleGrids = false;
  bool WriteNetcdfGrids = false;
  const std::string* InitialStateDirectory = nullptr;   // null when not given
  const std::string* DefaultOutputDirectory = nullptr;  // null when not given
  int* partition_cell_counts = nullptr;
  std::vector<int>* halo_send_list = nullptr;
  std::vector<int>* halo_receive_list = nullptr;
  // The state file of the run, held by the model application (null outside
  // a run): the modules' state blocks go through it.
  state_file_session* state_files = nullptr;

  model_date StartDate() const { return {startminute, starthour, startday, startmonth, startyear}; }
  model_date EndDate() const { return {endminute, endhour, endday, endmonth, endyear}; }
};

// The first word of the value of a key line, after its first "=" and up to
// the ";" that may end it (KeyLineValue): "key = 60; text" gives 60. False
// when there is none.
bool ReadKeyWord(const std::string& line, std::string& word);
// That word as a whole number ("key = 60 text" gives 60); false, with the
// word kept in `word`, when it is none ("60;x", "1,5", "12abc") or missing.
bool ReadKeyInteger(const std::string& line, int& value, std::string& word);

// Corrects obvious range errors of the model time: years below 1000 get 1900
// added, months are clamped to 1..12 and days to the length of their month in
// their own year. Hours and minutes stay as given.
void CorrectModelTime(model_date& start, model_date& end);

}  // namespace velmo
