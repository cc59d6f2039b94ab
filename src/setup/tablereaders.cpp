// Reading of the sections "[multilayer_landuse]", "[landuse_table]" and
// "[soil_table]" into the set-up object's tables.
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"
#include "setup/defltuzr.h"

namespace velmo {
namespace {

// Keywords of the land-use key block form, tried in this order.
constexpr const char* kLanduseKeywords[] = {"VariableDayCount", "DynamicPhenology_1", "DynamicPhenology_2",
                                            "DynamicPhenology_3", "DynamicPhenology_4"};

// The lines of one table section, read from the line after its header; the
// end of the file or the next section header ends the section.
class table_section_lines {
 public:
  table_section_lines(MessageStream* messages, std::FILE* file, std::string section)
      : messages_(messages), file_(file), section_(std::move(section)) {}

  // The record count of the section's first line.
  int ReadCount() {
    std::string line;
    if (!NextNonBlank(line)) Fail("the number of records is missing");
    const std::size_t begin = line.find_first_not_of(" \t");
    const std::string token = line.substr(begin, line.find_first_of(" \t", begin) - begin);
    std::size_t used = 0;
    int count = -1;
    try {
      count = std::stoi(token, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != token.size() || count < 0) {
      Fail("the number of records must be a whole number of 0 or more, not \"" + token + "\"");
    }
    return count;
  }

  // The first line of record `record` of `count`.
  std::string RecordLine(int record, int count) {
    std::string line;
    if (!NextNonBlank(line)) {
      Fail("the section ends after " + std::to_string(record - 1) + " of " + std::to_string(count) +
           " records (record " + std::to_string(record) + " is missing)");
    }
    return line;
  }

  // Appends the following lines, each after a line end, until `text` holds
  // the closing "}" of a block.
  void CompleteBlock(int record, std::string& text) {
    std::string line;
    while (text.find('}') == std::string::npos) {
      if (!NextLine(line)) {
        Fail("record " + std::to_string(record) + " has no closing \"}\" before the end of the section\n" +
             text);
      }
      text += "\n" + line;
    }
  }

  [[noreturn]] void Fail(const std::string& what) const {
    if (messages_) *messages_ << "FATAL: " << section_ << ": " << what << "[end-entry]";
    throw ErrorCode{kTableReadErrorCode};
  }

 private:
  bool NextLine(std::string& line) { return file_ && ReadWholeLine(file_, line) && !IsSectionHeader(line); }
  bool NextNonBlank(std::string& line) {
    while (NextLine(line)) {
      if (!IsBlankLine(line)) return true;
    }
    return false;
  }

  MessageStream* messages_;
  std::FILE* file_;
  std::string section_;
};

// The method keyword of a land-use key block's first line; empty for the
// positional form.
std::string LanduseKeyBlockKeyword(const std::string& line) {
  if (line.find("method") == std::string::npos || line.find('{') == std::string::npos) return {};
  for (const char* keyword : kLanduseKeywords) {
    if (line.find(keyword) != std::string::npos) return keyword;
  }
  return {};
}

// Records reserved before the first is read. The count line is only a
// claim: the tables grow as records arrive, so that a huge count in a short
// section ends in the count error instead of an allocation of its size.
constexpr int kRecordsReservedUpFront = 64;

// Starts a table of `count` records: the header record 0 (its code holds the
// count) and room for a few records.
template <typename Entry>
void StartTable(std::vector<Entry>& table, int count) {
  table.clear();
  table.reserve(static_cast<std::size_t>(std::min(count, kRecordsReservedUpFront)) + 1);
  table.emplace_back().code = count;
}

// Appends record `record`, its code preset to its number.
template <typename Entry>
Entry& AppendRecord(std::vector<Entry>& table, int record) {
  Entry& entry = table.emplace_back();
  entry.code = record;
  return entry;
}

// A soil record of the horizon form names its method or opens a block.
bool IsSoilHorizonRecord(const std::string& line) {
  return line.find("MultipleHorizons") != std::string::npos || line.find("method") != std::string::npos ||
         line.find('{') != std::string::npos;
}

}  // namespace

void defaultini::ReadMultilayerLanduse(int /*table_mode*/) {
  static const std::string section = "[multilayer_landuse]";
  multilayer_table.clear();
  if (!FindSection(section, false)) return;
  table_section_lines lines(messages, control_file, section);
  const int count = lines.ReadCount();
  if (count == 0) {
    // The layer count of the model is that of the first record.
    if (messages) {
      *messages << "FATAL: " << section
                << ": the table holds no multilayer-landuse type, so the number of vegetation layers is not "
                   "defined"
                << "[end-entry]";
    }
    throw ErrorCode{kMultilayerCountErrorCode};
  }
  StartTable(multilayer_table, count);

  for (int i = 1; i <= count; ++i) {
    std::string text = lines.RecordLine(i, count);
    multilayer_landuse_entry& record = AppendRecord(multilayer_table, i);
    // A record is one line with its layer list, or a block in braces that may
    // hold the list on a later line.
    if (text.find("Landuse_Layers") != std::string::npos || text.find('{') != std::string::npos) {
      lines.CompleteBlock(i, text);
    }
    if (text.find("Landuse_Layers") == std::string::npos) {
      lines.Fail("record " + std::to_string(i) + " holds no \"Landuse_Layers\"\n" + text);
    }
    record.Parse(messages, text);
    if (i > 1) {
      const multilayer_landuse_entry& previous = multilayer_table[static_cast<std::size_t>(i) - 1];
      if (record.LayerCount() != previous.LayerCount()) {
        if (messages) {
          *messages
              << "FATAL: \nThe numbers of landuse layers has to be equal for all multilayer-landuse types\n"
              << "(here: multilayer-landuse type " << record.code << ": " << record.LayerCount()
              << " layers, but multilayer-landuse type " << previous.code << ": " << previous.LayerCount()
              << " layers)\n\n"
              << "[end-entry]";
        }
        throw ErrorCode{kMultilayerCountErrorCode};
      }
    }
  }
}

void defaultini::ReadLanduseTable(int /*table_mode*/) {
  static const std::string section = "[landuse_table]";
  FindSection(section, true);
  table_section_lines lines(messages, control_file, section);
  const int count = lines.ReadCount();
  StartTable(landuse_table, count);

  for (int i = 1; i <= count; ++i) {
    std::string text = lines.RecordLine(i, count);
    landuse_table_entry& record = AppendRecord(landuse_table, i);
    const std::string keyword = LanduseKeyBlockKeyword(text);
    if (keyword.empty()) {
      record.ParsePositional(messages, text);
    } else {
      lines.CompleteBlock(i, text);
      record.ParseKeyBlock(messages, text, keyword);
    }
  }

  // The header carries the days of the first record that gives them.
  constexpr int kDefaultResetDay = 1;
  constexpr int kDefaultWriteDay = 365;
  auto first_given = [&](int landuse_table_entry::*day, int fallback) {
    for (int i = 1; i <= count; ++i) {
      const int value = landuse_table[static_cast<std::size_t>(i)].*day;
      if (value > 0) return value;
    }
    return fallback;
  };
  landuse_table_entry& header = landuse_table[0];
  header.veg_reset_day = first_given(&landuse_table_entry::veg_reset_day, kDefaultResetDay);
  header.veg_write_day = first_given(&landuse_table_entry::veg_write_day, kDefaultWriteDay);
}

void defaultini::ReadSoilTable(int /*table_mode*/) {
  static const std::string section = "[soil_table]";
  FindSection(section, true);
  table_section_lines lines(messages, control_file, section);
  const int count = lines.ReadCount();
  StartTable(soil_table, count);

  for (int i = 1; i <= count; ++i) {
    std::string text = lines.RecordLine(i, count);
    soil_table_entry& record = AppendRecord(soil_table, i);
    if (IsSoilHorizonRecord(text)) {
      lines.CompleteBlock(i, text);
      record.ParseHorizons(messages, text);
    } else {
      record.ParseSingleLine(messages, text);
    }
    if (i > 1) {
      const soil_table_entry& previous = soil_table[static_cast<std::size_t>(i) - 1];
      if (record.LayerCount() != previous.LayerCount()) {
        if (messages) {
          *messages
              << "FATAL: the numbers of soil layers has to be equal for all soil types\n(here: soil type "
              << record.code << ": " << record.LayerCount() << " layers, but soil type " << previous.code
              << ": " << previous.LayerCount() << " layers)\n\n"
              << "[end-entry]";
        }
        throw ErrorCode{kSoilLayerCountErrorCode};
      }
    }
  }
}

}  // namespace velmo
