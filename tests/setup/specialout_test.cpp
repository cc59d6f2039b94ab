// Special output: points placed on the domain, values per step, the files'
// headers and rows, buffering, and the section's faults.
#include "setup/specialout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>

#include "app/module_builder.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;

constexpr double kNodata = -9999.0;

TEST(SpecialOutputPoints, CoordinatesFallIntoTheirCells) {
  struct {
    double x, y;
    int column, row;
  } cases[] = {{150, 250, 2, 48}, {0, 0, 0, 50}, {0.01, 4999.99, 1, 1}, {300, 5000, 3, 0}, {-1, 10, 0, 50}};
  for (const auto& c : cases) {
    EXPECT_EQ(PointColumn(c.x, 0.0, 100.0, 50), c.column) << c.x;
    EXPECT_EQ(PointRow(c.y, 0.0, 100.0, 50), c.row) << c.y;
  }
  EXPECT_EQ(SpecialOutputRowCapacity(30), 7943);
  EXPECT_EQ(SpecialOutputRowCapacity(0), 87381);
  EXPECT_EQ(SpecialOutputRowCapacity(1000000), 1);
}

// A domain of 3 columns and 2 rows (corner 1000/2000, 100 m cells) with
// the grids "MPIRegions" (the south-east cell outside the catchment),
// "elev" and the stacked "firn" of two layers.
class SpecialOutputTest : public test::ModuleSettingsTest {
 protected:
  SpecialOutputTest() : memory_(&stream_) {
    std::filesystem::current_path(dir_.path());
    settings_.ncols = 3;
    settings_.nrows = settings_.last_row = 2;
    settings_.first_row = 1;
    settings_.xllcorner = 1000.0;
    settings_.yllcorner = 2000.0;
    settings_.cellsize = 100.0;
    settings_.nodata_value = kNodata;
    settings_.timestep = 60;
    Register(1, "[zone_grid]", Grid({1, 1, 1, 1, 1, kNodata}));
    Register(2, "MPIRegions", Grid({0, 0, 0, 0, 0, kNodata}));
    Register(3, "elev", Grid({1, 2, 3, 4, 5, 6}));
    Register(4, "firn", Grid({0, 0, 0, 0, 0, 0}));
    layers_ = memory_.Matrix3D(1, 2, 1, 3, 2, 2);
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c)
        for (int l = 0; l <= 2; ++l) layers_[r][c][l] = r * 100 + c * 10 + l;
    grids_[4].layers = layers_;
    grids_[4].layer_count = 2;
  }
  ~SpecialOutputTest() override {
    module_.reset();
    memory_.Free3DMatrix(layers_);
    std::filesystem::current_path(old_directory_);
  }

  // Two rows of three cells.
  double** Grid(const std::vector<double>& cells) {
    owned_.push_back(test::MatrixOf({{cells.begin(), cells.begin() + 3}, {cells.begin() + 3, cells.end()}}));
    return owned_.back().get();
  }
  void Register(int index, const std::string& name, double** data) {
    grids_[index].name = name;
    grids_[index].data = data;
  }
  // Builds the module from the section text; returns its error code.
  int Make(const std::string& section) {
    WriteFile(settings_.control_file_name, "[other]\n1\n" + section);
    try {
      BuildModule(module_, [&] { return std::make_unique<SpecialOutputClass>(&stream_, settings_, &grids_); },
                  {.other_failure = kSpecialOutputErrorCode, .set_ready = false});
    } catch (ErrorCode code) {
      return code;
    }
    return 0;
  }
  void Steps(int count) {
    for (int k = 0; k < count; ++k)
      for (auto& file : module_->output_files) file->RecordStep(15 * k, 4, 3, 2, 2001);
  }

  memory_handling memory_;
  std::vector<owned_matrix> owned_;
  double*** layers_ = nullptr;
  std::unique_ptr<SpecialOutputClass> module_;
  std::filesystem::path old_directory_ = std::filesystem::current_path();
};

const std::string kTwoFiles =
    "[special_output]\n1 flow control\n60 minutes\nnumfiles = 2;\n"
    "file {\n"
    "  filename = points.txt;\n"
    "  header = first;\n"
    "  entity {\n"
    "    ID = elev;\n"
    "    Symbol = h;\n"
    "    Xcoords = 1050, 1250;\n"
    "    Ycoords = 2150 2050;\n"
    "  }\n"
    "  entity { ID = firn; Symbol = f; Xcoords = 1050 1150 1250 1250; Ycoords = 2150 2150 2150 2150;\n"
    "           Level = 1 2 1 3; }\n"
    "}\n"
    "file\n"
    "{\n"
    "  filename = other.txt; header = second;\n"
    "  entity {\n    ID = nothing; Symbol = n; Xcoords = 1150; Ycoords = 2050;\n  }\n"
    "}\n";

TEST_F(SpecialOutputTest, EveryStepWritesOneRowOfThePointValues) {
  ASSERT_EQ(Make(kTwoFiles), 0) << console_.str();
  ASSERT_EQ(module_->output_files.size(), 2u);
  const std::string points_header =
      "YY\tMM\tDD\tHH\th/1/1\th/3/2\tf/1/1/1\tf/2/1/2\tf/3/1/1\tf/3/1/3\n"
      "first\n"
      "YY\tMM\tDD\tHH\th/1050/2150\th/1250/2050\tf/1050/2150/1\tf/1150/2150/2\tf/1250/2150/1\tf/1250/2150/"
      "3\n";
  EXPECT_EQ(ReadFile("points.txt"), points_header);

  Steps(1);
  grids_[3].data[1][1] = 1.5;
  Steps(1);
  // Buffered until flushed.
  EXPECT_EQ(ReadFile("points.txt"), points_header);
  module_->FlushAll();
  // A cell outside the catchment, a level beyond the stack and a grid that
  // does not exist give -9999.
  EXPECT_EQ(ReadFile("points.txt"), points_header +
                                        "2001\t2\t3\t4\t1\t-9999\t111\t122\t131\t-9999\n"
                                        "2001\t2\t3\t4\t1.5\t-9999\t111\t122\t131\t-9999\n");
  EXPECT_EQ(ReadFile("other.txt"),
            "YY\tMM\tDD\tHH\tn/2/2\nsecond\nYY\tMM\tDD\tHH\tn/1150/2050\n2001\t2\t3\t4\t-9999\n"
            "2001\t2\t3\t4\t-9999\n");
  EXPECT_THAT(console_.str(), HasSubstr("write points.txt\n(128 of 2097152 buffer-bytes)\n"));

  // Clean-up writes what is left.
  Steps(1);
  module_->CleanUp();
  EXPECT_TRUE(module_->output_files.empty());
  EXPECT_THAT(ReadFile("other.txt"), ::testing::EndsWith("-9999\n2001\t2\t3\t4\t-9999\n"));
}

TEST_F(SpecialOutputTest, StepsShorterThanAnHourCarryTheMinute) {
  settings_.timestep = 15;
  ASSERT_EQ(
      Make("[special_output]\n1\n15\nnumfiles = 1;\n"
           "file { filename = q.txt; header = h; entity { ID = elev; Symbol = e; Xcoords = 1150; Ycoords = "
           "2150; } }\n"),
      0);
  Steps(2);
  module_->FlushAll();
  EXPECT_EQ(ReadFile("q.txt"),
            "YY\tMM\tDD\tHH\tmm\te/2/1\nh\nYY\tMM\tDD\tHH\tmm\te/1150/2150\n2001\t2\t3\t4\t0\t2\n"
            "2001\t2\t3\t4\t15\t2\n");
}

TEST_F(SpecialOutputTest, AFullBufferIsWrittenAtOnce) {
  // 30 points: 2097152 / (30 * 8 + 24) = 7943 rows.
  std::string xs, ys;
  for (int k = 0; k < 30; ++k) {
    xs += " 1150";
    ys += " 2150";
  }
  ASSERT_EQ(Make("[special_output]\n1\n60\nnumfiles = 1;\nfile {\nfilename = many.txt;\nheader = h;\n"
                 "entity {\nID = elev; Symbol = e; Xcoords =" +
                 xs + ";\nYcoords =" + ys + ";\n}\n}\n"),
            0);
  auto lines = [] {
    const std::string text = ReadFile("many.txt");
    return std::count(text.begin(), text.end(), '\n');
  };
  Steps(7942);
  EXPECT_EQ(lines(), 3);
  Steps(1);
  EXPECT_EQ(lines(), 3 + 7943);
}

TEST_F(SpecialOutputTest, OutputGoesToTheOutputDirectory) {
  std::filesystem::create_directory("out");
  const std::string directory = "out/";
  settings_.DefaultOutputDirectory = &directory;
  ASSERT_EQ(Make("[special_output]\n1\n60\nnumfiles = 1;\nfile { filename = p.txt; header = h;\n"
                 "  entity { ID = elev; Symbol = e; Xcoords = 1050; Ycoords = 2150; }\n}\n"),
            0);
  EXPECT_EQ(ReadFile("out/p.txt"), "YY\tMM\tDD\tHH\te/1/1\nh\nYY\tMM\tDD\tHH\te/1050/2150\n");
}

TEST_F(SpecialOutputTest, AModuleThatIsOffWritesNothing) {
  for (const char* control :
       {"[special_output]\n0\n60\nnumfiles = 1;\nfile { filename = p.txt; header = h; }\n", "",
        "[special_output]\n1\n60\nnumfiles = 0;\n"}) {
    EXPECT_EQ(Make(control), 0) << control;
    EXPECT_TRUE(module_->output_files.empty()) << control;
    EXPECT_FALSE(std::filesystem::exists("p.txt")) << control;
  }
}

TEST_F(SpecialOutputTest, FaultsOfTheSectionEndTheConstruction) {
  const std::string head = "[special_output]\n1\n60\nnumfiles = 1;\n";
  auto entity = [&](const std::string& keys) {
    return head + "file { filename = p.txt; header = h;\n entity { ID = elev; Symbol = e; " + keys +
           " }\n}\n";
  };
  struct {
    std::string control;
    int code;
    std::string message;
  } cases[] = {
      {entity("Xcoords = 1000; Ycoords = 2150;"), 1008,
       "Error in section [special_output]: x-coordinate 1000, defined as point 0 for entity elev, is located "
       "outside the actual grid."},
      {entity("Xcoords = 1050 1150; Ycoords = 2150 1999;"), 1008, "y-coordinate 1999, defined as point 1"},
      {entity("Xcoords = 1050 1150; Ycoords = 2150;"), 1006,
       "count of X coordinates dos not match the number of Y coordinates for entity elev"},
      {entity("Xcoords = 1050 1150; Ycoords = 2150 2150; Level = 1;"), 1007,
       "number of levels dos not match the number of X and Y coordinates for entity elev. EIther each point "
       "has a level or none has."},
      {entity("Xcoords = 1050x; Ycoords = 2150;"), 104,
       "Error in section [special_output]: the value \"1050x\" of Xcoords for entity elev is no number"},
      {entity("Xcoords = 1050; Ycoords = 2150; Level = 1.5;"), 104, "the value \"1.5\" of Level"},
      {head + "file { header = h; }\n", 104, "key filename not found in the block of output file 1"},
      {head + "file { filename = p.txt; header = h;\n entity { Symbol = e; }\n}\n", 104, "key ID not found"},
      {"[special_output]\n1\n60\nfiles = 1;\n", 104, "key numfiles not found"},
      // What would be left out without a word: a file without points, a
      // count that is no whole number, blocks beyond the count.
      {head + "file { filename = p.txt; header = h; }\n", 104,
       "Error in section [special_output]: no entity in the block of output file 1 (p.txt)"},
      {"[special_output]\n1\n60\nnumfiles = 1.5;\n", 104,
       "numfiles = 1.5 is no whole number of files (0 or more)"},
      {"[special_output]\n1\n60\nnumfiles = -1;\n", 104, "numfiles = -1 is no whole number"},
      {std::string(kTwoFiles).replace(kTwoFiles.find("numfiles = 2"), 12, "numfiles = 1"), 104,
       "the line \"file\" follows the block of the last output file (numfiles = 1)"},
      // Two faults whose braces still balance: one block would take in another.
      {head + "f\n filename = p.txt; header = h;\n entity { ID = elev; Symbol = e;\n entity { ID = elev; "
              "Symbol = "
              "g; }\n}\n",
       104, "the block of output file 1 does not open with \"file {\" (its first line: \"f\")"},
      {head +
           "file {\n filename = p.txt; header = h;\n entity { ID = elev; Symbol = e;\n entity { ID = elev; "
           "Symbol = g; }\n}\n}\n",
       104, "an entity block stands inside the block of another entity in the block of output file 1"},
      {head + "file {\n filename = p.txt; header = h;\n entity {\n", 104,
       "the control file ends inside the block of output file 1"},
      {head + "file { filename = no/such/p.txt; header = h;\n entity { ID = elev; Symbol = e; }\n}\n", 1007,
       "error opening file for special output of file\nno/such/p.txt\n-> check file name, disk space or user "
       "rights"},
  };
  for (const auto& c : cases) {
    console_.str("");
    EXPECT_EQ(Make(c.control), c.code) << c.control;
    EXPECT_THAT(console_.str(), HasSubstr(c.message)) << c.control;
  }
}

TEST_F(SpecialOutputTest, RowsThatCannotBeAppendedEndTheRun) {
  std::filesystem::create_directory("gone");
  ASSERT_EQ(Make("[special_output]\n1\n60\nnumfiles = 1;\nfile { filename = gone/p.txt; header = h;\n"
                 "  entity { ID = elev; Symbol = e; Xcoords = 1050; Ycoords = 2150; }\n}\n"),
            0);
  std::filesystem::remove_all("gone");
  Steps(1);
  EXPECT_THAT(test::ExpectCode(console_, 65, [&] { module_->FlushAll(); }),
              HasSubstr("\nerror opening file gone/p.txt"));
  // The rows are not written twice.
  EXPECT_EQ(test::ThrownCode([&] { module_->FlushAll(); }), 0);
}

}  // namespace
}  // namespace velmo
