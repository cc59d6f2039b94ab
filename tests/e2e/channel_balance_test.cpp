// The channels of the example keep the water the subbasins hand them: the
// runoff volumes of the subbasins equal the volume leaving the outlet and
// the volume the abstraction takes out of the valley plus the change of what
// the channels (their delay lines and linear stores) and the reservoir hold,
// step by step and after a tail of 500 steps without runoff that empties
// the channels. With one fixed discharge class this closes to round-off;
// with the example's log-spaced classes a change of class moves water into
// or out of the compensation volumes, which no step gives back, and the
// test measures how much.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "e2e/example_run.h"
#include "landsurface/infilt.h"
#include "routing/abfluss.h"
#include "routing/reservoir.h"

namespace velmo {
namespace {

using test::example_run;

constexpr int kOutlet = 3;  // zone index of the outlet's subbasin
constexpr int kTailSteps = 500;
constexpr double kCubicMetresPerMillimetreSquareKilometre = 1000.0;

// Water in the channels, m3: per row the delay line's entries still to come
// out and the linear stores of its sub-channels, each a depth per step over
// the area its water comes from, a sub-interval being 1/S of a step.
double ChannelContent(const abflussmodellklasse& routing) {
  const area_table& areas = routing.Areas();
  const double total_area = areas.fraction[0];
  double content = 0.0;
  for (int e = 1; e <= routing.ElementCount(); ++e) {
    for (const channel_row& row : routing.Element(e).Rows()) {
      const auto area_of = [&](int p) {
        return areas.fraction[static_cast<size_t>(p)] / areas.divisor[static_cast<size_t>(p)];
      };
      double area = area_of(row.position);
      for (int p : row.joined_positions) area += area_of(p);
      const int S = row.settings.subintervals;
      const int length = row.SegmentLength();
      double depth = 0.0;
      for (int k = 1; k <= row.table.sub_channels; ++k) {
        const int base = (k - 1) * length;
        for (int i = base + S + 1; i <= row.segment_end[static_cast<size_t>(k)]; ++i)
          depth += row.delay_line[static_cast<size_t>(i)] / S;
        const double share = row.outflow_share[static_cast<size_t>(k)];
        const double r = (1.0 - share) * row.recession_main + share * row.recession_flood;
        for (int j = 1; j <= S; ++j) depth += row.Outflow(k, j) * r / (1.0 - r) / S;
      }
      content += depth * area * total_area * kCubicMetresPerMillimetreSquareKilometre;
    }
  }
  return content;
}

// Volumes of one step, m3.
struct channel_step {
  double runoff = 0.0;      // handed by the subbasins
  double outlet = 0.0;      // leaving the outlet
  double abstracted = 0.0;  // taken out of the valley
  double channels = 0.0;
  double content = 0.0;  // channels and reservoirs
  double with_compensation = 0.0;
};

// Water in the reservoirs, m3, and what the abstractions took out of them or
// out of an outlet in the last step.
void AddReservoirs(const abflussmodellklasse& routing, channel_step& step) {
  for (int e = 1; e <= routing.ElementCount(); ++e) {
    const routingclass& element = routing.Element(e);
    if (element.ReservoirCount() == 0) {
      step.abstracted += element.GetAbstractedDepth() * element.Area() / element.Divisor() *
                         kCubicMetresPerMillimetreSquareKilometre;
      continue;
    }
    for (int j = 1; j <= element.ReservoirCount(); ++j) {
      step.content += element.Reservoir(j).volume;
      step.abstracted += element.Reservoir(j).Term(kAbstractionTerm).volume;
    }
  }
}

channel_step Measure(ModellApplication& app) {
  const abflussmodellklasse& routing = *app.routing;
  const bodenmodellklasse& soil = *app.infiltration;
  const double total_area = routing.Areas().fraction[0];
  channel_step step;
  for (int i = 1; i <= soil.subbasin_count; ++i)
    step.runoff += soil.subbasin_runoff[0][i] * soil.subbasin_zones[static_cast<size_t>(i)].area_fraction *
                   total_area * kCubicMetresPerMillimetreSquareKilometre;
  step.outlet = routing.Flows().step[kOutlet] * routing.Areas().fraction[kOutlet] /
                routing.Areas().divisor[kOutlet] * total_area * kCubicMetresPerMillimetreSquareKilometre;
  step.channels = ChannelContent(routing);
  step.content = step.channels;
  AddReservoirs(routing, step);
  step.with_compensation = step.content;
  for (int e = 1; e <= routing.ElementCount(); ++e)
    step.with_compensation += routing.Element(e).CompensationVolume();
  return step;
}

// Runs the example and then 500 steps without runoff; the volumes of every
// step, the first entry being the channels after construction.
std::vector<channel_step> RunWithTail(example_run& run) {
  std::vector<channel_step> steps;
  const auto measure = [&](ModellApplication& app) { steps.push_back(Measure(app)); };
  const auto tail = [&](ModellApplication& app) {
    bodenmodellklasse& soil = *app.infiltration;
    for (int t = 0; t < kTailSteps; ++t) {
      for (int i = 1; i <= soil.subbasin_count; ++i) soil.subbasin_runoff[0][i] = 0.0;
      app.routing->RunTimeStep(0, t % 24 + 1, 1 + t / 24, 4, 2000);
      measure(app);
    }
  };
  EXPECT_EQ(run.Run(measure, measure, tail), 0) << run.transcript;
  return steps;
}

struct channel_totals {
  double runoff = 0.0, outlet = 0.0, abstracted = 0.0, largest_step_error = 0.0;
};

channel_totals Totals(const std::vector<channel_step>& steps) {
  channel_totals totals;
  for (std::size_t s = 1; s < steps.size(); ++s) {
    totals.runoff += steps[s].runoff;
    totals.outlet += steps[s].outlet;
    totals.abstracted += steps[s].abstracted;
    const double error =
        steps[s].runoff - steps[s].outlet - steps[s].abstracted - (steps[s].content - steps[s - 1].content);
    totals.largest_step_error =
        std::max(totals.largest_step_error, std::abs(error) / (steps[s].runoff + steps[s - 1].content));
  }
  return totals;
}

TEST(ChannelBalance, OneFixedClassKeepsEveryCubicMetre) {
  example_run run;
  run.Change("1 2000 30 2     qmin, qmax", "100 100 30 2     qmin, qmax");
  const std::vector<channel_step> steps = RunWithTail(run);
  ASSERT_EQ(steps.size(), 1u + 744u + kTailSteps);
  const channel_totals totals = Totals(steps);
  // Every step closes, and after the tail the channels are empty but for
  // the trickle the reservoir still lets go.
  EXPECT_LT(totals.largest_step_error, 1e-12);
  EXPECT_LT(steps.back().channels, 1e-7 * totals.runoff);
  EXPECT_GT(steps.front().channels, 100.0);
  const double residual =
      totals.runoff - totals.outlet - totals.abstracted - (steps.back().content - steps.front().content);
  EXPECT_LT(std::abs(residual), 1e-9 * totals.runoff) << residual << " m3 of " << totals.runoff;
  EXPECT_GT(totals.runoff, 2.0e5);
  EXPECT_GT(totals.abstracted, 1.0e4);
}

TEST(ChannelBalance, LogSpacedClassesLoseOrGainThroughTheCompensationVolumes) {
  example_run run;
  const std::vector<channel_step> steps = RunWithTail(run);
  ASSERT_EQ(steps.size(), 1u + 744u + kTailSteps);
  const channel_totals totals = Totals(steps);
  const double change = steps.back().content - steps.front().content;
  const double residual = totals.runoff - totals.outlet - totals.abstracted - change;
  const double compensation = steps.back().with_compensation - steps.back().content -
                              (steps.front().with_compensation - steps.front().content);
  // Measured: 3.5e-4 of the runoff over the month and the tail (the water
  // that filled longer delay lines), the largest step 1.7e-2 of what it
  // moved; the compensation volumes record every cubic metre of it.
  RecordProperty("relative_error", std::to_string(residual / totals.runoff));
  RecordProperty("largest_step_error", std::to_string(totals.largest_step_error));
  std::printf(
      "channels with log-spaced classes: %.6g m3 of %.6g m3 (%.3g) not accounted for, largest step %.3g, "
      "compensation volumes %.6g m3\n",
      residual, totals.runoff, residual / totals.runoff, totals.largest_step_error, compensation);
  EXPECT_LT(std::abs(residual), 1e-3 * totals.runoff);
  EXPECT_GT(std::abs(residual), 1e-5 * totals.runoff);
  EXPECT_NEAR(residual, compensation, 1e-9 * totals.runoff);

  // The end of the run reports what each element's compensation volumes hold.
  const std::string marker = "the compensation volume of its channels' changes of discharge class holds ";
  double reported = 0.0;
  int elements = 0;
  for (std::size_t at = run.transcript.find(marker); at != std::string::npos;
       at = run.transcript.find(marker, at + 1)) {
    reported += std::stod(run.transcript.substr(at + marker.size()));
    ++elements;
  }
  EXPECT_EQ(elements, 2) << run.transcript;
  const double held = steps.back().with_compensation - steps.back().content;
  EXPECT_NEAR(reported, held, 1e-5 * std::abs(held));
}

}  // namespace
}  // namespace velmo
