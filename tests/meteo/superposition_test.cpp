// The regional superposition on a 3 x 2 domain: its section and entity
// blocks, the output grid under the entity's name, the step over the region
// layers, the statistics table, and the entries of every failure.
#include "meteo/superposition.h"

#include <gtest/gtest.h>

#include "framework/zonalstat.h"
#include "meteo/meteo_fixture.h"

namespace velmo {
namespace {

using test::cell_values;
using test::kColumns;
using test::kRows;
using test::MeteoDomain;
using test::ReadFile;
using test::ThrownCode;

constexpr double kNodata = -9999.0;

class Superposition : public MeteoDomain {
 public:
  // Regions ranked from the ascending `codes`.
  void Rank(const std::vector<int>& codes) {
    code_map.assign(static_cast<size_t>(codes.back()) + 1, 0);
    for (size_t k = 0; k < codes.size(); ++k)
      code_map[static_cast<size_t>(codes[k])] = static_cast<int>(k) + 1;
    settings.region_count = static_cast<int>(codes.size());
    settings.max_region_code = codes.back();
    settings.region_code_map = code_map.data();
  }
  // One region (code 1) with the given own-region weights.
  void OneRegion(const cell_values& weight = [](int, int) { return 1.0; }) {
    Rank({1});
    AddGrid("regression_regions", [](int, int) { return 1.0; });
    AddGrid("regression_weights1", weight);
  }
  static std::string Section(int count, const std::string& blocks, int flow = 1) {
    return "[RegionalSuperposition]\n" + std::to_string(flow) + "    flow control\n60   minutes\n" +
           "NumberOfEntities = " + std::to_string(count) + ";\n" + blocks;
  }
  // An entity block with the given inputs ("entityinputgrid = ..." lines).
  static std::string Entity(const std::string& entity, const std::string& inputs,
                            const std::string& tail =
                                "outputgrid = out.asc; writecode = 0;\n"
                                "outputtable = out.stat; statcode = 0;\n") {
    return entity + " {\n" + inputs + tail + "}\n";
  }
  std::unique_ptr<RegionalSuperposition> Build(const std::string& section) {
    WriteControlFile(section);
    return std::make_unique<RegionalSuperposition>(&ms, settings, &table);
  }
  static void Step(RegionalSuperposition& s) { s.RunTimeStep(0, 1, 1, 1, 2000); }

  std::vector<int> code_map;
};

TEST_F(Superposition, OneRegionSumsTheInputsTimesTheOwnWeight) {
  OneRegion([](int r, int c) { return 0.25 * (r + c); });
  AddGrid("a", [](int r, int c) { return 10.0 * r + c; });
  AddGrid("b", [](int r, int c) { return r == 1 && c == 3 ? kNodata : 2.0; });
  AddGrid("MPIRegions", [](int r, int c) { return r == 2 && c == 2 ? 1.0 : 0.0; });
  table[1].data[2][1] = kNodata;  // outside the catchment
  // Lists run over lines; the four values stand in any order.
  const auto s = Build(Section(1,
                               "sum {\n"
                               "  entityinputgrid = a; regions = 1; weights = 1;\n"
                               "  entityinputgrid = b;\n  regions =\n 1;\n weights = 1,\n;\n"
                               "  statcode = 2001; outputtable = " +
                                   dir / "sum.stat" +
                                   ";\n"
                                   "  writecode = 0; outputgrid = sum.asc;\n"
                                   "}\n"));
  ASSERT_EQ(s->entities.size(), 1u);
  const cSuperposition& entity = *s->entities[0];
  EXPECT_EQ(table[entity.OutputEntry()].name, "sum");
  EXPECT_EQ(table[entity.OutputEntry()].file_name, "sum.asc");
  EXPECT_EQ(table[entity.OutputEntry()].data, entity.OutputGrid());

  Step(*s);
  double** out = entity.OutputGrid();
  EXPECT_DOUBLE_EQ(out[1][1], (11.0 + 2.0) * 0.5);
  EXPECT_DOUBLE_EQ(out[1][2], (12.0 + 2.0) * 0.75);
  EXPECT_EQ(out[1][3], kNodata);  // an input without value
  EXPECT_EQ(out[2][1], kNodata);  // outside the catchment
  EXPECT_EQ(out[2][2], 0.0);      // another process's cell keeps its value
  EXPECT_DOUBLE_EQ(out[2][3], (23.0 + 2.0) * 1.25);

  s->WriteOutputs();
  s->FlushBuffers();
  const int entry = entity.OutputEntry();
  s->CleanUp();  // deletes the entity
  EXPECT_FALSE(table[entry].in_use());
  const std::string stat = ReadFile(dir / "sum.stat");
  EXPECT_NE(stat.find("\nsum_submodel:RegionalSuperposition\n"), std::string::npos) << stat;
  // Zone 1: the mean of the computed cells that hold a value, (6.5 + 10.5 +
  // 31.25) / 3.
  EXPECT_TRUE(stat.ends_with("\t16.0833\t16.0833\n")) << stat;
}

TEST_F(Superposition, LayersBlendTheRegionsOfACell) {
  // Row 1: region 7 (0.8) with region 3 (0.2); regions 3, 7 and 9; own code
  // 5, which is no region.
  const double r1[] = {7, 3, 5}, w1[] = {0.8, 0.6, 1.0};
  const double r2[] = {3, 7, 0}, w2[] = {0.2, 0.3, 0.0};
  const double r3[] = {0, 9, 0}, w3[] = {0.0, 0.1, 0.0};
  auto row1 = [](const double* v) { return [v](int, int c) { return v[c - 1]; }; };
  AddGrid("regression_regions", row1(r1));
  AddGrid("regression_weights1", row1(w1));
  AddGrid("regression_regions2", row1(r2));
  AddGrid("regression_weights2", row1(w2));
  AddGrid("regression_regions3", row1(r3));
  AddGrid("regression_weights3", row1(w3));
  AddGrid("ten", [](int, int) { return 10.0; });
  AddGrid("two", [](int, int) { return 2.0; });
  struct layout {
    const char* what;
    std::vector<int> ranked;
    std::string regions, first_weights, second_weights;
    double expected[3];
  };
  const layout layouts[] = {
      {"three regions", {3, 7, 9}, "3, 7, 9", "1, 0.5, 4", "0 2 1", {9.2, 12.9, 0.0}},
      {"two regions: layer 3 is never used", {3, 7}, "3 7", "1\t0.5", "0,2", {9.2, 8.7, 0.0}},
  };
  for (const layout& l : layouts) {
    Rank(l.ranked);
    const auto s = Build(Section(1, Entity("blend", "entityinputgrid = ten; regions = " + l.regions +
                                                        "; weights = " + l.first_weights +
                                                        ";\nentityinputgrid = two; regions = " + l.regions +
                                                        "; weights = " + l.second_weights + ";\n")));
    Step(*s);
    for (int c = 1; c <= 3; ++c)
      EXPECT_NEAR(s->entities[0]->OutputGrid()[1][c], l.expected[c - 1], 1e-12) << l.what << ", column " << c;
    s->CleanUp();
  }
}

TEST_F(Superposition, SwitchedOffReadsNothingMore) {
  OneRegion();
  const int free_entry = table.FirstFreeEntry();
  const auto s = Build(Section(3, "not a block at all\n", 0));
  EXPECT_TRUE(s->entities.empty());
  EXPECT_EQ(table.FirstFreeEntry(), free_entry);
  Step(*s);
  s->WriteOutputs();
  s->CleanUp();
}

TEST_F(Superposition, FailuresNameWhatIsWrong) {
  OneRegion();
  AddGrid("regression_regions2", [](int, int) { return 0.0; });
  AddGrid("regression_weights2", [](int, int) { return 0.0; });
  AddGrid("a", [](int, int) { return 1.0; });
  Rank({1, 2});  // the region grid holds codes 1 and 2
  const std::string ok_input = "entityinputgrid = a; regions = 1, 2; weights = 1, 1;\n";
  struct failure {
    std::string what, section;
    int code;
    std::string text;
  };
  const failure failures[] = {
      {"no entity count", "[RegionalSuperposition]\n1\n60\nentities = 1;\n", kEntityCountCode,
       "could not read \"NumberOfEntities\" keyword in section [RegionalSuperposition]\n\n"},
      {"entity count no number", "[RegionalSuperposition]\n1\n60\nNumberOfEntities = x;\n", kEntityCountCode,
       "could not read \"NumberOfEntities\""},
      {"regions out of order",
       Section(1, Entity("e", "entityinputgrid = a; regions = 2, 1; weights = 1, 1;\n")), kRegionListCode,
       "\nerror reading regions in RegionalSuperposition entity: e, inputgrid a\nregion on position 1 in "
       "the region list should have value 1\nbut was read as 2\nAll regions must be listet in ascending "
       "order here\nregardless of their actual weight for this superposition instance\n"},
      {"a code that is no region",
       Section(1, Entity("e", "entityinputgrid = a; regions = 1, 5; weights = 1, 1;\n")), kRegionListCode,
       "region on position 2 was read as 5\nThere is now region with this code in the region grid\n"},
      {"too few regions", Section(1, Entity("e", "entityinputgrid = a; regions = 1; weights = 1;\n")),
       kRegionListCode,
       "\nThe number of regions here (1) does not equal the number of\nregions in the regiongrid (2)\n"},
      {"a region code that is no whole number",
       Section(1, Entity("e", "entityinputgrid = a; regions = 1, 2.5; weights = 1, 1;\n")), kRegionListCode,
       "region on position 2 was read as 2.5\nThere is now region"},
      {"three weights for two regions",
       Section(1, Entity("e", "entityinputgrid = a; regions = 1, 2; weights = 1, 1, 1;\n")), kWeightListCode,
       "\nerror reading weights for regions in RegionalSuperposition entity: e, inputgrid a\nThe number of "
       "regions (2) does not equal the number of weights (3)\n"},
      {"a weight that is no number",
       Section(1, Entity("e", "entityinputgrid = a; regions = 1, 2; weights = 1, x;\n")), kWeightListCode,
       "weight on position 2 is no number: x"},
      {"unknown input grid",
       Section(1, Entity("e", "entityinputgrid = b; regions = 1, 2; weights = 1, 1;\n")), kMissingGridCode,
       "b not found in memory"},
      {"input without weights", Section(1, Entity("e", "entityinputgrid = a; regions = 1, 2;\n" + ok_input)),
       kControlFileErrorCode, "[RegionalSuperposition] entity e: input grid a lacks a part"},
      {"no output grid", Section(1, Entity("e", ok_input, "writecode = 0; outputtable = t; statcode = 0;\n")),
       kControlFileErrorCode, "[RegionalSuperposition] entity e: keyword \"outputgrid\" not found"},
      {"write code no whole number",
       Section(1, Entity("e", ok_input, "outputgrid = o; writecode = x; outputtable = t; statcode = 0;\n")),
       kControlFileErrorCode, "entity e: the value \"x\" of \"writecode\" is no whole number"},
      {"a keyword without its value",
       Section(1, Entity("e", ok_input, "outputgrid; writecode = 1; outputtable = t; statcode = 0;\n")),
       kControlFileErrorCode, "entity e: keyword \"outputgrid\" without \"=\""},
      {"fewer blocks than entities", Section(2, Entity("e", ok_input)) + "[next_section]\n1\n",
       kControlFileErrorCode, "the section ends before entity 2 of NumberOfEntities = 2 is complete"},
      {"an entity without a name", Section(1, Entity("", ok_input)), kControlFileErrorCode,
       "entity 1 has no name before \"{\""},
      {"an entity named like a grid", Section(1, Entity("a", ok_input)), kNoFreeGridCode,
       "entity a has the name of a grid that exists already"},
  };
  for (const failure& f : failures) {
    const std::string console_text = ExpectCode(
        f.code, [&] { Build(f.section); }, f.what);
    EXPECT_NE(console_text.find(f.text), std::string::npos) << f.what << "\n" << console_text;
  }
}

}  // namespace
}  // namespace velmo
