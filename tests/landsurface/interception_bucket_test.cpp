// Tests of the canopy bucket, the glacierised share and the tracer rules of
// the store against hand-computed numbers.
#include "landsurface/interception_bucket.h"

#include <gtest/gtest.h>

#include <cmath>

#include "physics/glacier_share.h"

namespace velmo {
namespace {

constexpr double kTol = 1e-12;

TEST(CanopyBucket, CapacityTakesTheLanduseThicknessOrTheSections) {
  EXPECT_NEAR(CanopyCapacity(4.0, 0.2, 1.0), 0.8, kTol);
  EXPECT_NEAR(CanopyCapacity(4.0, -1.0, 0.5), 2.0, kTol);  // negative: the section's
  EXPECT_NEAR(CanopyCapacity(4.0, 0.0, 0.5), 0.0, kTol);   // 0 is a value of its own
}

TEST(CanopyBucket, FillSpillsAboveTheCapacity) {
  struct Case {
    const char* label;
    double input, coverage, capacity, storage;
    double direct, caught, spill, throughfall, storage_after;
  };
  const Case cases[] = {
      {"empty store, 5 mm", 5.0, 0.8, 0.8, 0.0, 1.0, 4.0, 3.2, 4.2, 0.8},
      {"below capacity", 0.5, 0.8, 0.8, 0.2, 0.1, 0.4, 0.0, 0.1, 0.6},
      {"capacity fell under the store", 0.0, 0.8, 0.3, 0.5, 0.0, 0.0, 0.2, 0.2, 0.3},
      {"no canopy releases its store", 2.0, 0.0, 0.0, 0.4, 2.0, 0.0, 0.4, 2.4, 0.0},
  };
  for (const Case& k : cases) {
    const canopy_fill f = FillCanopy(k.input, k.coverage, k.capacity, k.storage);
    EXPECT_NEAR(f.direct, k.direct, kTol) << k.label;
    EXPECT_NEAR(f.caught, k.caught, kTol) << k.label;
    EXPECT_NEAR(f.spill, k.spill, kTol) << k.label;
    EXPECT_NEAR(f.throughfall, k.throughfall, kTol) << k.label;
    EXPECT_NEAR(f.storage, k.storage_after, kTol) << k.label;
    EXPECT_NEAR(k.input + k.storage, f.throughfall + f.storage, kTol) << k.label;
  }
}

TEST(CanopyBucket, EvaporationByEitherLimit) {
  using enum interception_limit;
  struct Case {
    const char* label;
    interception_limit limit;
    double storage, transpiration, interception;
    double evaporation, cut;
  };
  const Case cases[] = {
      {"b = 1, potential below the store", potential_transpiration, 0.8, 0.5, 9.0, 0.5, 0.5},
      {"b = 1, store below the potential", potential_transpiration, 0.3, 2.0, 0.0, 0.3, 0.3},
      {"b = 2, the store goes", potential_interception, 0.6, 0.2, 1.0, 0.6, 0.2},
      {"b = 2, the potential goes", potential_interception, 0.6, 0.2, 0.25, 0.25, 0.2},
      {"b = 2, transpiration above it", potential_interception, 0.6, 3.0, 0.25, 0.25, 0.25},
      {"missing potential", potential_transpiration, 0.6, -9999.0, -9999.0, 0.0, 0.0},
      {"missing potentials, b = 2", potential_interception, 0.6, -9999.0, -9999.0, 0.0, 0.0},
  };
  for (const Case& k : cases) {
    const canopy_evaporation e = EvaporateCanopy(k.limit, k.storage, k.transpiration, k.interception);
    EXPECT_NEAR(e.evaporation, k.evaporation, kTol) << k.label;
    EXPECT_NEAR(e.transpiration_cut, k.cut, kTol) << k.label;
  }
}

TEST(CanopyBucket, GlacierShareAndWhatTheCellPassesOn) {
  EXPECT_EQ(CellGlacierShare(-9999.0), 0.0);
  EXPECT_EQ(CellGlacierShare(0.5), 0.5);
  EXPECT_EQ(CellGlacierShare(0.999995), 0.999995);  // every module reads the same share
  EXPECT_EQ(CellGlacierShare(std::nan("")), 0.0);
  EXPECT_FALSE(FullyGlacierised(0.999995));
  EXPECT_TRUE(FullyGlacierised(1.0));
  EXPECT_EQ(CellGlacierShare(3.0), 1.0);
  EXPECT_NEAR(CellThroughfall(5.0, 0.5, 4.2), 4.6, kTol);
  EXPECT_NEAR(CellThroughfall(5.0, 1.0, 0.0), 5.0, kTol);
  EXPECT_NEAR(CellThroughfallConcentration(5.0, 2.0, 0.5, 4.2, 1.0), (2.1 * 1.0 + 2.5 * 2.0) / 4.6, kTol);
}

TEST(CanopyTracer, EvaporatingTracerMixesInTheStoreAndSpillsAtItsConcentration) {
  const canopy_tracer_rules rules{true, 1.0, 0.0};
  // 0.4 mm at 1.0 in the store, 5 mm at 3.0 reach the layer of capacity 0.8.
  const canopy_fill fill = FillCanopy(5.0, 0.8, 0.8, 0.4);
  const canopy_tracer t = CanopyTracerStep(rules, 1.0, 0.4, 3.0, fill);
  const double stored = (0.4 * 1.0 + 4.0 * 3.0) / 4.4;
  EXPECT_NEAR(t.stored, stored, kTol);
  EXPECT_NEAR(t.throughfall_concentration, (fill.spill * stored + fill.direct * 3.0) / fill.throughfall,
              kTol);
  // Without a spill the throughfall carries the input concentration.
  const canopy_tracer dry = CanopyTracerStep(rules, 1.0, 0.0, 3.0, FillCanopy(0.5, 0.8, 0.8, 0.0));
  EXPECT_NEAR(dry.stored, 3.0, kTol);
  EXPECT_NEAR(dry.throughfall_concentration, 3.0, kTol);
}

TEST(CanopyTracer, OtherTracersKeepTheirMass) {
  struct Case {
    const char* label;
    double max_concentration;
    double input, storage, stored_mass, input_concentration;
  };
  const Case cases[] = {
      {"spill carries its share", 100.0, 5.0, 0.4, 0.7, 3.0},
      {"spill bounded by the maximum concentration", 0.5, 5.0, 0.4, 0.7, 3.0},
      {"no spill", 100.0, 0.3, 0.0, 0.0, 2.0},
  };
  for (const Case& k : cases) {
    const canopy_tracer_rules rules{false, 1.0, k.max_concentration};
    const canopy_fill fill = FillCanopy(k.input, 0.8, 0.8, k.storage);
    const canopy_tracer t = CanopyTracerStep(rules, k.stored_mass, k.storage, k.input_concentration, fill);
    EXPECT_NEAR(k.stored_mass + k.input * k.input_concentration,
                t.stored + t.throughfall_concentration * fill.throughfall, 1e-12)
        << k.label;
  }
  // The bounded spill of 3.6 mm carries 0.5 per mm.
  const canopy_fill fill = FillCanopy(5.0, 0.8, 0.8, 0.4);
  const canopy_tracer t = CanopyTracerStep({false, 1.0, 0.5}, 0.7, 0.4, 3.0, fill);
  EXPECT_NEAR(t.throughfall_concentration * fill.throughfall, 1.0 * 3.0 + fill.spill * 0.5, kTol);
}

TEST(CanopyTracer, DecayActsOnTheStoreBeforeItFills) {
  const canopy_fill none = FillCanopy(0.0, 0.8, 0.8, 0.5);
  EXPECT_NEAR(CanopyTracerStep({true, 0.5, 0.0}, 2.0, 0.5, 7.0, none).stored, 1.0, kTol);
  EXPECT_NEAR(CanopyTracerStep({false, 0.5, 0.0}, 2.0, 0.5, 7.0, none).stored, 1.0, kTol);
}

}  // namespace
}  // namespace velmo
