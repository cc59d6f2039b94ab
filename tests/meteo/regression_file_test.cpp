// Regression files: both formats give the same records, the start-date
// search, blocks, the end of the data and the refusals of broken files.
#include "meteo/regression_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "framework/modelobject.h"
#include "meteo/station_files.h"
#include "support/test_support.h"

namespace velmo {
namespace {

constexpr double kNodata = 9999.0;

struct raw_record {
  int year, month, day, hour;
  std::array<double, kRegressionRecordValues> values;
};

std::string TextFile(const std::vector<raw_record>& records) {
  std::ostringstream out;
  out.precision(17);
  out << "jr mo dy hr a1 b1 h1 a2 b2 h2 a3 b3 e f g\n";
  for (const raw_record& r : records) {
    out << r.year << " " << r.month << " " << r.day << " " << r.hour;
    for (double v : r.values) out << " " << v;
    out << "\n";
  }
  return out.str();
}

std::string BinaryFile(const std::vector<raw_record>& records) {
  std::string bytes;
  for (const raw_record& r : records) {
    unsigned char record[kRegressionRecordBytes];
    const int date[4] = {r.year, r.month, r.day, r.hour};
    for (int k = 0; k < 4; ++k) StoreLittleEndian<std::int32_t>(date[k], record + 4 * k);
    for (size_t k = 0; k < r.values.size(); ++k) StoreLittleEndian<double>(r.values[k], record + 16 + 8 * k);
    bytes.append(reinterpret_cast<const char*>(record), sizeof record);
  }
  return bytes;
}

// Hourly records from 1 January 2000, 00:00, with a1 = the record number
// (28 days in every month will do here).
std::vector<raw_record> Hourly(int count) {
  std::vector<raw_record> records;
  for (int k = 0; k < count; ++k) {
    const int day = k / 24;
    records.push_back({2000 + day / 336,
                       1 + day % 336 / 28,
                       1 + day % 28,
                       k % 24,
                       {double(k), -0.005, 800, 12, -0.004, 1500, 16, -0.006, -10000, 0, 0}});
  }
  return records;
}

class RegressionFile : public test::MessagesTest {
 public:
  regression_file Open(const std::string& name, const std::string& content) {
    test::WriteFile(dir / name, content);
    return regression_file(&ms, dir / name, kNodata);
  }
};

TEST_F(RegressionFile, TextAndBinaryRecordsAreTheSameAcrossBlocks) {
  std::vector<raw_record> records = Hourly(kRegressionBlockRecords + 30);
  records[5].values = {10.25, -1e-3, 0, 1.0 / 3.0, 2, 3, 4, 5, 6, 7, 8};
  regression_file text = Open("r.txt", TextFile(records));
  regression_file binary = Open("r.bin", BinaryFile(records));
  text.FindStart({0, 3, 1, 1, 2000}, "temperature");
  binary.FindStart({0, 3, 1, 1, 2000}, "temperature");
  EXPECT_EQ(text.Format(), regression_format::kText);
  EXPECT_EQ(binary.Format(), regression_format::kBinary);
  EXPECT_NE(console.str().find("looking for starting date 1.1.2000 for temperature in "), std::string::npos);
  int read = 0;
  for (int k = 3;; ++k) {
    ASSERT_EQ(text.Current().values, binary.Current().values) << k;
    ASSERT_EQ(text.Current().values[0], records[static_cast<size_t>(k)].values[0]);
    ASSERT_EQ(text.Current().date.hour, records[static_cast<size_t>(k)].hour);
    const bool more = text.Next();
    ASSERT_EQ(binary.Next(), more);
    if (!more) break;
    ++read;
  }
  EXPECT_EQ(read, kRegressionBlockRecords + 30 - 4);
  EXPECT_EQ(text.Next(), false);

  binary.Rewind();
  EXPECT_EQ(binary.Current().values[0], 3.0);
  ASSERT_TRUE(binary.Next());
  EXPECT_EQ(binary.Current().values[0], 4.0);
}

TEST_F(RegressionFile, YearRuleEndMarkAndShortLines) {
  const std::string text =
      "jr mo dy hr\n"
      "95 1 1 0 1 2 3 4 5 6 7 8 9 10 11\n"
      "\n"
      "995 1 1 0 1 2 3\n"
      "0 0 0 0\n"
      "2001 1 1 0 1 2 3 4 5 6 7 8 9 10 11\n";
  regression_file file = Open("r.txt", text);
  file.FindStart({0, 0, 1, 1, 1995}, "t");
  EXPECT_EQ(file.Current().date.year, 1995);
  ASSERT_TRUE(file.Next());
  EXPECT_EQ(file.Current().date.year, 2895);
  EXPECT_EQ(file.Current().values[2], 3.0);
  EXPECT_EQ(file.Current().values[3], -kNodata - 1);  // not in the line
  EXPECT_FALSE(file.Next());                          // the end mark
}

TEST_F(RegressionFile, BrokenFilesAreRefused) {
  const std::vector<raw_record> two = Hourly(2);
  struct Case {
    const char* label;
    std::string content;
    model_date start;
    int code;
    std::string entry;
  };
  std::string cut = BinaryFile(two);
  cut.resize(cut.size() - 10);
  const Case cases[] = {
      {"start date missing",
       TextFile(two),
       {0, 5, 1, 1, 2000},
       kStartDateMissingCode,
       "EOF reached: " + dir / "r" + ", date 1.1.2000, 5. h not found!"},
      {"unreadable date",
       "jr mo\n2000 1 x 0 1\n",
       {0, 0, 1, 1, 2000},
       kReadErrorCode,
       "line 2: the date (year, month, day, hour) cannot be read"},
      {"record cut off", cut, {0, 1, 1, 1, 2000}, kReadErrorCode, "record 2: cut off after 94 of 104 bytes"},
  };
  for (const Case& c : cases) {
    regression_file file = Open("r", c.content);
    const std::string out = ExpectCode(
        c.code, [&] { file.FindStart(c.start, "t"); }, c.label);
    EXPECT_NE(out.find(c.entry), std::string::npos) << c.label << ": " << out;
  }

  regression_file missing(&ms, dir / "none", kNodata);
  EXPECT_EQ(test::ThrownCode([&] { missing.FindStart({0, 0, 1, 1, 2000}, "t"); }), kInputFileOpenCode);
}

}  // namespace
}  // namespace velmo
