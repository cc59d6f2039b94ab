// A warm start of the example: run A goes through March; run B1 through the
// first 15 days, leaving the state file (routing, soil and snow blocks in
// this order) and the state grids as binary doubles; run B2 goes on from
// there. The snow cover and the canopy store of B2 are those of A bit for
// bit, and its runoff and discharge those of A to round-off: the mean
// deficit comes back from the deficit grid, which holds the last step's
// groundwater fluxes. A state file that does
// not fit or is missing ends the run; one that cannot be written too, once
// everything is cleared.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "e2e/example_run.h"
#include "e2e/xml_check.h"
#include "landsurface/infilt.h"
#include "routing/abfluss.h"

namespace velmo {
namespace {

using test::example_run;
using test::GridOf;
using test::ReadFile;
using test::WarmStartConfiguration;
using test::WellFormed;

// T1: 383 hourly steps, to 16 March 23:00; T2: the 361 after them. The
// daily update gives the vegetation grids the values of a day at its last
// step, while a run that starts on a day takes that day's values from its
// first step: starting at 24:00 both runs take them at the same step.
constexpr int kFirstSteps = 383;
constexpr int kLastDay = 16;
constexpr int kSubbasins = 3;

// The run ends at `hour` of March `day`.
void EndAt(example_run& run, int day, int hour) {
  run.Change("endhour = 0\nendday = 1\nendmonth = 4",
             "endhour = " + std::to_string(hour) + "\nendday = " + std::to_string(day) + "\nendmonth = 3");
}

// The run starts at `hour` of March `day` from the state that an earlier
// run left in its directory.
void StartAt(example_run& run, int day, int hour) {
  run.Change("starthour = 1\nstartday = 1\n",
             "starthour = " + std::to_string(hour) + "\nstartday = " + std::to_string(day) + "\n");
  test::ReadStoredState(run);
}

// What the test compares of every step.
struct step_state {
  std::array<double, kSubbasins + 1> runoff{};  // row 0 of subbasin_runoff, mm
  double outlet = 0.0;                          // m3/s
  std::vector<double> snow_and_canopy;          // solid, liquid snow and canopy store of every cell
};

ModellApplication::pass_observer Recorder(std::vector<step_state>& steps) {
  return [&steps](ModellApplication& app) {
    step_state s;
    for (int i = 1; i <= kSubbasins; ++i)
      s.runoff[static_cast<size_t>(i)] = app.infiltration->subbasin_runoff[0][i];
    s.outlet = app.routing->SimulatedDischarge(kSubbasins);
    const bodenmodellklasse& soil = *app.infiltration;
    for (const char* name : {"snowstorage_solid", "snowstorage_liquid", "interception_storage0"}) {
      double** grid = GridOf(app, name);
      for (int r = 1; r <= soil.nrows; ++r)
        for (int c = 1; c <= soil.ncols; ++c)
          if (soil.CellSubbasin(r, c) != 0) s.snow_and_canopy.push_back(grid[r][c]);
    }
    steps.push_back(s);
  };
}

// Largest relative difference of B2 from A on each day of T2 (the first
// entry is its first step, 24:00 of 16 March), and over T2.
struct daily_differences {
  std::vector<double> runoff;  // any subbasin
  std::vector<double> outlet;
  std::array<double, kSubbasins + 1> subbasin{};
};

TEST(WarmStart, SnowAndCanopyGoOnExactlyRunoffAndDischargeToRoundOff) {
  example_run a;
  WarmStartConfiguration(a);
  std::vector<step_state> continuous;
  ASSERT_EQ(a.Run({}, Recorder(continuous)), 0) << a.transcript;
  ASSERT_EQ(continuous.size(), 744u);

  example_run b;
  WarmStartConfiguration(b);
  EndAt(b, kLastDay, 23);
  std::vector<step_state> first;
  ASSERT_EQ(b.Run({}, Recorder(first)), 0) << b.transcript;
  ASSERT_EQ(first.size(), static_cast<size_t>(kFirstSteps));
  // B1 is A up to its end.
  EXPECT_EQ(first.back().runoff, continuous[first.size() - 1].runoff);
  const std::string state = ReadFile(b.dir / "state.ftz");
  EXPECT_TRUE(
      state.starts_with("[routing_model_v2]\n60.000 (timestep in minutes)\n2 (routing subbasin with "
                        "tributaries 1)\n"))
      << state.substr(0, 200);
  const std::size_t soil = state.find("\n[soil_model]\n3 (number of subasins)\n1\t2\t3\t(code)\n");
  EXPECT_NE(soil, std::string::npos);
  // The summed channel of subbasin 3 names no tributary in its head line.
  EXPECT_NE(state.find("\n3 (routing subbasin with tributaries)\n"), std::string::npos);
  // The reservoir at the outlet of subbasin 2 keeps its volume in the block.
  EXPECT_LT(state.find("1 (number of reservoirs)\n"), soil);
  EXPECT_LT(state.find("0 (number of reservoirs)\n"), soil);
  EXPECT_LT(soil, state.find("\n[snow_model_v2]\n3 (number of subasins)\n"));
  EXPECT_EQ(state.find("[routing_model_v2]", 1), std::string::npos);

  StartAt(b, kLastDay, 24);
  b.Change("endhour = 23\nendday = 16\nendmonth = 3", "endhour = 0\nendday = 1\nendmonth = 4");
  std::vector<step_state> second;
  ASSERT_EQ(b.Run({}, Recorder(second)), 0) << b.transcript;
  ASSERT_EQ(first.size() + second.size(), continuous.size());

  daily_differences days;
  for (std::size_t s = 0; s < second.size(); ++s) {
    const step_state& warm = second[s];
    const step_state& expected = continuous[first.size() + s];
    // Bit for bit, every step.
    ASSERT_EQ(warm.snow_and_canopy.size(), expected.snow_and_canopy.size());
    ASSERT_EQ(std::memcmp(warm.snow_and_canopy.data(), expected.snow_and_canopy.data(),
                          warm.snow_and_canopy.size() * sizeof(double)),
              0)
        << "step " << s + 1 << " of B2";
    if (s % 24 == 1 || s == 0) {
      days.runoff.push_back(0.0);
      days.outlet.push_back(0.0);
    }
    for (int i = 1; i <= kSubbasins; ++i) {
      const double x = expected.runoff[static_cast<size_t>(i)];
      const double difference = std::abs(warm.runoff[static_cast<size_t>(i)] - x) / x;
      days.runoff.back() = std::max(days.runoff.back(), difference);
      days.subbasin[static_cast<size_t>(i)] = std::max(days.subbasin[static_cast<size_t>(i)], difference);
    }
    days.outlet.back() =
        std::max(days.outlet.back(), std::abs(warm.outlet - expected.outlet) / expected.outlet);
  }
  std::string fading = "largest relative difference of B2 from A over T2 in the runoff of subbasins 1, 2, 3:";
  for (int i = 1; i <= kSubbasins; ++i) fading += " " + std::to_string(days.subbasin[static_cast<size_t>(i)]);
  fading += "; per day of March (any subbasin's runoff / outlet discharge):";
  for (std::size_t d = 0; d < days.runoff.size(); ++d) {
    char text[64];
    std::snprintf(text, sizeof text, " %zu.: %.2g / %.2g", kLastDay + d, days.runoff[d], days.outlet[d]);
    fading += text;
  }
  std::printf("%s\n", fading.c_str());
  RecordProperty("fading", fading);
  // The mean deficit read back differs from A's by the rounding of the
  // grid's mean (4e-16 of the runoff measured); a deficit grid without the
  // last step's groundwater fluxes moved the runoff by 0.3 %.
  EXPECT_LT(*std::max_element(days.runoff.begin(), days.runoff.end()), 1e-12);
  EXPECT_LT(*std::max_element(days.outlet.begin(), days.outlet.end()), 1e-12);
}

// A first run that writes its state at the end of 2 March; the control file
// then starts on the next day from it.
void WriteStateOfTheFirstTwoDays(example_run& b) {
  WarmStartConfiguration(b);
  EndAt(b, 2, 23);
  ASSERT_EQ(b.Velmo(), 0) << ReadFile(b.dir / "out.txt");
  StartAt(b, 2, 24);
}

// A state grid holding more than any store would route 1e27 m3/s and more.
TEST(WarmStart, AStateGridBeyondAnyStoreIsRefused) {
  example_run b;
  ASSERT_NO_FATAL_FAILURE(WriteStateOfTheFirstTwoDays(b));
  const std::string grid = ReadFile(b.dir / "suz.asc");
  constexpr size_t kHeadBytes = 12 * sizeof(double);
  ASSERT_GT(grid.size(), kHeadBytes);
  double head[12];
  std::memcpy(head, grid.data(), sizeof head);
  const int ncols = static_cast<int>(head[0]);
  for (const auto& [stored, shown] :
       {std::pair{1e30, "1e+30"}, std::pair{1e308, "1e+308"}, std::pair{-1e7, "-1e+07"}}) {
    std::string damaged = grid;
    size_t k = 0;
    for (double value = head[5]; value == head[5]; ++k)
      std::memcpy(&value, damaged.data() + kHeadBytes + k * sizeof(double), sizeof(double));
    --k;
    std::memcpy(damaged.data() + kHeadBytes + k * sizeof(double), &stored, sizeof(double));
    test::WriteFile(b.dir / "suz.asc", damaged);
    EXPECT_EQ(b.Velmo(), 22) << shown;
    const std::string out = ReadFile(b.dir / "out.txt");
    EXPECT_NE(out.find("the state grid suz.asc holds " + std::string(shown) + " at row " +
                       std::to_string(k / ncols + 1) + ", column " + std::to_string(k % ncols + 1) +
                       ", more than any store of a cell"),
              std::string::npos)
        << out;
  }
}

TEST(WarmStart, AStateFileThatDoesNotFitOrIsMissingEndsTheRun) {
  example_run b;
  ASSERT_NO_FATAL_FAILURE(WriteStateOfTheFirstTwoDays(b));
  const std::string state = ReadFile(b.dir / "state.ftz");

  // A state file of a catchment with another number of subbasins.
  std::string other = state;
  test::Replace(other, "[soil_model]\n3 (number of subasins)", "[soil_model]\n4 (number of subasins)");
  test::WriteFile(b.dir / "state.ftz", other);
  EXPECT_EQ(b.Velmo(), 71);
  const std::string out = ReadFile(b.dir / "out.txt");
  EXPECT_NE(
      out.find("error in storage file content reading number of subbasins:\nvalue in actual control is:   3"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("Program aborted with exit code 71"), std::string::npos);

  // A line left out: the numbers of the line after it are not taken for its
  // own; the label of the line that is read names what went wrong.
  const struct {
    std::string line;  // the line left out, as a pattern
    std::string message;
  } left_out[] = {
      {"[^\n]*  \\(reservoir 1\\)\n",
       "error reading the volume of reservoir 1: the line ends in \" (useRunningAvg reservoir 1)\", not in "
       "\"(reservoir 1)\" in file state.ftz (position "},
      {"[^\n]* \\(QD\\[1\\]\\)\n",
       "error in storage file content reading QD:\nthe line ends in \" 3 (zone 2 and maxzeit)\", not in "
       "\"(QD[1])\" in storage file state.ftz (position "},
  };
  for (const auto& c : left_out) {
    const std::string damaged = std::regex_replace(state, std::regex(c.line), "");
    ASSERT_NE(damaged, state) << c.line;
    test::WriteFile(b.dir / "state.ftz", damaged);
    EXPECT_EQ(b.Velmo(), 71) << c.line;
    EXPECT_NE(ReadFile(b.dir / "out.txt").find(c.message), std::string::npos) << ReadFile(b.dir / "out.txt");
  }

  // No state file at all.
  std::filesystem::remove(b.dir / "state.ftz");
  EXPECT_EQ(b.Velmo(), 64);
  EXPECT_NE(ReadFile(b.dir / "out.txt").find("error opening storage content file state.ftz"),
            std::string::npos)
      << ReadFile(b.dir / "out.txt");
  EXPECT_TRUE(WellFormed(b.dir / "Velmo_Diag.xml"));
}

TEST(StateFileRun, AnUnwritableStateFileEndsTheRunWith16OnceEverythingIsCleared) {
  example_run run;
  EndAt(run, 1, 23);
  run.Change("state.ftz       state file",
             "missing/state.ftz       state file in a directory that is not there");
  EXPECT_EQ(run.Velmo(), 16);
  const std::string out = ReadFile(run.dir / "out.txt");
  // Both blocks are reported; the clearing goes on to its end.
  const std::string entry =
      "couldn't open file \"missing/state.ftz\" \n(model version doesn't support this feature or "
      "write access error)\n";
  const size_t routing = out.find(entry);
  ASSERT_NE(routing, std::string::npos) << out;
  EXPECT_NE(out.find(entry, routing + 1), std::string::npos);
  const size_t end = out.find("o.k.\n\nthe end.\n");
  EXPECT_LT(routing, end);
  EXPECT_LT(end, out.find("Exception in Modellapplication::ClearMemory() caught!"));
  EXPECT_NE(out.find("Program aborted with exit code 16"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(run.dir / "peakflow.asc"));  // written by the soil model's clean-up
  ASSERT_TRUE(WellFormed(run.dir / "Velmo_Diag.xml"));
  EXPECT_NE(
      ReadFile(run.dir / "Velmo_Diag.xml").find("<line level=\"1\" description= \"couldn&apos;t open file"),
      std::string::npos);
}

}  // namespace
}  // namespace velmo
