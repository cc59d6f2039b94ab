// Glaciers as records for the yearly geometry update of the dynamic glacier
// methods: every glacier (the cells of one "GlacierCodes" value) has an area,
// a volume and elevation bands. Once a year the volume changes by the mass
// balance, the volume-area relation V = c·A^γ gives the new area, and the
// difference is added to or taken from the glacier shares of its cells
// ("GlacierizedCells"), the lower bands taking the larger part, until it is
// placed or 31 iterations have passed.
//
// The functions work on the grids through `glacier_grids` (pointers into the
// snow model's grids); a band holds pointers to the shares and codes of its
// cells, which stay valid as long as those grids.
#pragma once

#include <map>
#include <vector>

#include "framework/types.h"

namespace velmo {

class MessageStream;

// A glacier in more than one subbasin.
inline constexpr int kGlacierSubbasinsCode = 84;

// Smallest area a glacier keeps.
inline constexpr double kMinimumGlacierArea = 0.0543;  // km²
// A glacier's first volume takes at least this area.
inline constexpr double kSmallestInitialGlacierArea = 0.01;  // km²
// Mass balance (mm of water) over this ratio is the change of ice.
inline constexpr double kIceToWaterDensity = 0.85;
// A change of fewer cells than this is placed.
inline constexpr double kPlacedCellChange = 1e-5;
// Iterations of one glacier's update and passes of one band series.
inline constexpr int kLastGeometryIteration = 30;  // 31 iterations
inline constexpr int kBandSeriesPasses = 5;
// Firn of a cell below this counts as none when a glacier grows onto its neighbour.
inline constexpr double kNoFirn = 1e-4;  // mm
// The code a cell takes when its share shrinks away.
inline constexpr double kLeftGlacierCode = -9999.0;

struct glacier_geometry_parameters {
  double VAscaling = 28.5;  // c: 10⁶ m³ per km²^γ
  double VAexponent = 1.36;
  int numElevBands = 1;
  int extraWeightFactorBand0 = 0;
  double relSizeNewGlacier = 0.25;
};

// The grids of the update; [row][col] from 1, every row 1..nrows present.
struct glacier_grids {
  int nrows = 0;
  int ncols = 0;
  const row_range* row_ranges = nullptr;  // null: every column
  double nodata = -9999.0;
  double cellsize = 100.0;       // m
  double** subbasins = nullptr;  // "zonegrid_soilmodel"
  double** elevation = nullptr;
  double** shares = nullptr;      // "GlacierizedCells"
  double** codes = nullptr;       // "GlacierCodes"
  double** old_shares = nullptr;  // "GlacierizedCellsOld"
  double** old_codes = nullptr;   // "GlacierCodesOld"
  double** firn_sum = nullptr;    // "firn_WE_stack"
  double*** firn = nullptr;       // levels 0..firn_levels per cell
  int firn_levels = 0;
  double** mass_balance = nullptr;      // "GlacierMassBalance"
  double** old_mass_balance = nullptr;  // "OldGlacierMassBalance"
};

// One elevation band of a glacier: its range and the cells whose share may change.
struct elevation_band {
  double lower = 0.0;  // m
  double upper = 0.0;
  double width = 0.0;
  int cell_count = 0;
  std::vector<double*> shares;
  std::vector<double*> codes;
  std::vector<unsigned char> marked;  // cannot change in the wanted direction

  // Counts the cells whose share can change by `change` (a loss needs a
  // share above 0, a gain one below 1) and marks the others.
  int CountChangeable(double change);
  // One series: the unmarked cells take `per_cell` each, a share clamped at
  // 0 (the cell leaves the glacier: code −9999) or 1 passing the rest on to
  // the others in up to five passes. Returns what could not be placed.
  double DistributeAreaChange(double per_cell, MessageStream* messages);
};

struct glacier_record {
  int code = 0;
  double cell_size = 100.0;  // m
  int cell_count = 0;
  double area = 0.0;    // km²
  double volume = 0.0;  // 10⁶ m³
  double old_area = 0.0;
  double old_volume = 0.0;
  double c = 28.5;
  double gamma = 1.36;
  double min_elevation = 10000.0;  // m
  double max_elevation = -10000.0;
  int band_count = 1;
  double cells_to_change = 0.0;
  int band_cell_count = 0;
  int extra_weight_band0 = 0;
  int subbasin = 0;  // "zonegrid_soilmodel" value of its first cell
  // Work sums of the balance redistribution.
  double removed_balance = 0.0;
  double new_share_sum = 0.0;
  double balance_per_share = 0.0;
  // A year's melt beyond its volume, with the glacier held at its minimum
  // area, has been reported.
  bool melt_beyond_volume_reported = false;
  std::vector<elevation_band> bands;  // lowest first

  // km² of one cell.
  double CellArea() const { return cell_size * cell_size / 1.0e6; }
  // Volume from the area (at least 0.01 km²).
  void InitialVolume();
  // The old area from the old volume; a volume below c·0.0543^γ is raised to it.
  void ClampMinimumArea();
  // Bands of equal width over the elevation range, lowest first, emptied.
  void BuildBands();
  void ClearBands();
  // Puts a cell into the band of its elevation (above the range: the last
  // band, below it: band 0).
  void AddBandCell(double* share, double* code, double elevation);
  // Band series for bands 0..m, band 0 running W0 more; returns what was not placed.
  double DistributeAreaChange(double per_cell, int m, MessageStream* messages);
  // Counts the first cell of the record or takes in another one's elevation.
  void TakeElevation(double elevation, bool extend);
  // Resets count, area and elevation range.
  void ResetCollection();
};

// The glacier list with its map from code to list position.
struct glacier_list {
  std::vector<glacier_record> records;
  std::map<int, int> positions;

  glacier_record* Find(int code);
  int LargestCode() const { return positions.empty() ? 0 : positions.rbegin()->first; }
};

// Builds the list from the cells with a subbasin and a code above 0, their
// volumes, old areas and bands, and assigns the band cells. A glacier in two
// subbasins is fatal (code 84).
void BuildGlacierList(const glacier_grids& g, const glacier_geometry_parameters& p, glacier_list& list,
                      MessageStream* messages);
// Counts the cells of glacier `code` (−1: every glacier) into count, area and
// elevation range; cells marked −1 join a neighbouring glacier or start a new
// one. With `extend` every cell widens the elevation range, otherwise only
// cells without firn do.
void CollectGlacierCells(const glacier_grids& g, const glacier_geometry_parameters& p, glacier_list& list,
                         int code, bool extend);
// Fills the bands of glacier `code` (−1: all) with its border cells and its
// partly covered cells without firn (with none, any such cells).
void AssignBandCells(const glacier_grids& g, glacier_list& list, int code);
// Adds the bare neighbours of the glacier's full cells (share 0 first, share
// at or below 0 after) to its bands, with share 0.
void GrowGlacier(const glacier_grids& g, glacier_list& list, int code);
// The yearly update of every glacier: volume by the mass balance, area by
// the volume-area relation, the change spread over the bands.
void UpdateGlacierGeometry(const glacier_grids& g, const glacier_geometry_parameters& p, glacier_list& list,
                           MessageStream* messages);
// Spreads the mass balance of lost glacier shares over the cells the glacier keeps.
void RedistributeGlacierBalance(const glacier_grids& g, glacier_list& list);

}  // namespace velmo
