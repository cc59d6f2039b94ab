// The entity count and the entity blocks of "[RegionalSuperposition]", read
// into their plain structs, and the entries of the region and weight lists.
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "framework/modelobject.h"
#include "framework/texthelpers.h"
#include "meteo/superposition.h"

namespace velmo {
namespace {

constexpr const char* kEntityCountKey = "NumberOfEntities";
constexpr const char* kInputKey = "entityinputgrid";
constexpr const char* kRegionsKey = "regions";
constexpr const char* kWeightsKey = "weights";
constexpr const char* kOutputGridKey = "outputgrid";
constexpr const char* kWriteCodeKey = "writecode";
constexpr const char* kOutputTableKey = "outputtable";
constexpr const char* kStatisticsCodeKey = "statcode";
// Lists split at these; a list may run over several lines.
constexpr const char* kListSeparators = "\t ;,\r\n";
constexpr const char* kBlanks = " \t\r\n";

std::string FirstWord(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_first_of(kBlanks, begin) - begin);
}

std::string ListPrefix(const char* what, const std::string& entity, const std::string& grid) {
  return std::string("\nerror reading ") + what + " in " + kSuperpositionModuleName + " entity: " + entity +
         ", inputgrid " + grid;
}

constexpr const char* kRegardless = "regardless of their actual weight for this superposition instance\n";

std::string NoRegionText(int position, const std::string& code_text) {
  return "\nregion on position " + std::to_string(position) + " was read as " + code_text +
         "\nThere is now region with this code in the region grid\n" +
         "\nOnly the region codes from the region grid must be listet in ascending order here\n" +
         kRegardless;
}

// Reads the keywords of one block's working text (between "{" and "}").
class block_reader {
 public:
  block_reader(const std::string& text, const std::string& entity, MessageStream* messages)
      : text_(text), entity_(entity), messages_(messages) {}

  [[noreturn]] void Fail(const std::string& what) const {
    RaiseFatal(messages_,
               std::string("FATAL: error in control file, [") + kSuperpositionModuleName + "] entity " +
                   entity_ + ": " + what,
               kControlFileErrorCode);
  }

  // Position of `key` at or after `from`; a missing key is fatal.
  std::size_t Find(const char* key, std::size_t from, const std::string& where = {}) const {
    const std::size_t at = FindKey(text_, key, from);
    if (at == std::string::npos) Fail(std::string("keyword \"") + key + "\"" + where + " not found");
    return at;
  }

  // The raw value of the key at `at`: from the "=" right after it (blanks
  // between) to the next ";".
  std::string Value(const char* key, std::size_t at) const {
    const std::size_t after = at + std::string_view(key).size();
    const std::size_t equals = text_.find_first_not_of(kBlanks, after);
    if (equals == std::string::npos || text_[equals] != '=')
      Fail(std::string("keyword \"") + key + "\" without \"=\" (" + key + " = value;)");
    return KeyValueText(text_.substr(at), key);
  }

  std::string Word(const char* key, std::size_t at) const {
    std::string word = FirstWord(Value(key, at));
    if (word.empty()) Fail(std::string("keyword \"") + key + "\" has no value");
    return word;
  }

  int Whole(const char* key, std::size_t at) const {
    const std::string word = Word(key, at);
    int value = 0;
    if (!ParseNumber(word, value))
      Fail(std::string("the value \"") + word + "\" of \"" + key + "\" is no whole number");
    return value;
  }

  std::vector<std::string> List(const char* key, std::size_t at) const {
    std::vector<std::string> tokens;
    SplitTokens(Value(key, at), kListSeparators, tokens);
    return tokens;
  }

 private:
  const std::string& text_;
  const std::string& entity_;
  MessageStream* messages_;
};

}  // namespace

bool ReadEntityCount(const std::string& line, int& count) {
  if (FindKey(line, kEntityCountKey) == std::string::npos) return false;
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  int parsed = 0;
  if (!ParseNumber(TrimSpace(KeyLineValue(line, equals)), parsed) || parsed < 0) return false;
  count = parsed;
  return true;
}

superposition_block ParseSuperpositionBlock(const std::string& text, int entity_number,
                                            MessageStream* messages) {
  superposition_block block;
  const std::size_t open = text.find('{');
  if (open != std::string::npos) block.entity = FirstWord(text.substr(0, open));
  if (block.entity.empty())
    RaiseFatal(messages,
               std::string("FATAL: error in control file, [") + kSuperpositionModuleName + "]: entity " +
                   std::to_string(entity_number) + " has no name before \"{\"",
               kControlFileErrorCode);
  std::string rest = text;
  std::string work = ExtractBraceBlock(rest);
  if (!work.empty() && work.back() == '}') work.pop_back();

  const block_reader reader(work, block.entity, messages);
  // Each keyword is searched after the one before; the parts of an input
  // must come in their order, before the next input begins.
  std::size_t from = 0;
  for (std::size_t at = FindKey(work, kInputKey); at != std::string::npos;
       at = FindKey(work, kInputKey, from)) {
    superposition_input input;
    input.grid = reader.Word(kInputKey, at);
    const std::string where = " of input grid " + input.grid;
    const std::size_t regions_at = reader.Find(kRegionsKey, at + std::string_view(kInputKey).size(), where);
    const std::size_t weights_at =
        reader.Find(kWeightsKey, regions_at + std::string_view(kRegionsKey).size(), where);
    const std::size_t next_input = FindKey(work, kInputKey, at + 1);
    if (next_input < weights_at)
      reader.Fail("input grid " + input.grid + " lacks a part, or its parts are not in the order " +
                  kInputKey + ", " + kRegionsKey + ", " + kWeightsKey);

    const std::vector<std::string> codes = reader.List(kRegionsKey, regions_at);
    for (std::size_t k = 0; k < codes.size(); ++k) {
      int code = 0;
      if (!ParseNumber(codes[k], code))
        RaiseFatal(messages,
                   "FATAL: " + ListPrefix("regions", block.entity, input.grid) +
                       NoRegionText(static_cast<int>(k) + 1, codes[k]),
                   kRegionListCode);
      input.regions.push_back(code);
    }
    const std::vector<std::string> weights = reader.List(kWeightsKey, weights_at);
    for (std::size_t k = 0; k < weights.size(); ++k) {
      double weight = 0.0;
      if (!ParseGridNumber(weights[k], weight))
        RaiseFatal(messages,
                   "FATAL: " + ListPrefix("weights for regions", block.entity, input.grid) +
                       "\nweight on position " + std::to_string(k + 1) + " is no number: " + weights[k] +
                       "\n",
                   kWeightListCode);
      input.weights.push_back(weight);
    }
    block.inputs.push_back(std::move(input));
    from = weights_at + std::string_view(kWeightsKey).size();
  }

  // Without an input the entity would hold 0 everywhere, whatever its name
  // stands for.
  if (block.inputs.empty())
    RaiseFatal(messages,
               std::string("FATAL: \nerror reading regions in ") + kSuperpositionModuleName + " entity: " +
                   block.entity + "\nThe entity has no input grid: each needs at least one \"" + kInputKey +
                   " = <grid>; " + kRegionsKey + " = <codes>; " + kWeightsKey + " = <weights>;\"\n",
               kRegionListCode);

  // The four values follow the last input, in any order.
  block.output_grid = reader.Word(kOutputGridKey, reader.Find(kOutputGridKey, from));
  block.write_code = reader.Whole(kWriteCodeKey, reader.Find(kWriteCodeKey, from));
  block.output_table = reader.Word(kOutputTableKey, reader.Find(kOutputTableKey, from));
  block.statistics_code = reader.Whole(kStatisticsCodeKey, reader.Find(kStatisticsCodeKey, from));
  return block;
}

std::string RegionListEntry(const std::string& entity, const std::string& grid,
                            const region_list_fault& fault, int listed_count, int region_count) {
  std::string text = ListPrefix("regions", entity, grid);
  switch (fault.kind) {
    case region_list_fault::kCount:
      return text + "\nThe number of regions here (" + std::to_string(listed_count) +
             ") does not equal the number of" + "\nregions in the regiongrid (" +
             std::to_string(region_count) + ")\n";
    case region_list_fault::kOrder:
      return text + "\nregion on position " + std::to_string(fault.position) +
             " in the region list should have value " + std::to_string(fault.expected_code) +
             "\nbut was read as " + std::to_string(fault.code_read) +
             "\nAll regions must be listet in ascending order here\n" + kRegardless;
    case region_list_fault::kNoRegion:
      return text + NoRegionText(fault.position, std::to_string(fault.code_read));
    case region_list_fault::kNone:
      break;
  }
  return {};
}

std::string WeightCountEntry(const std::string& entity, const std::string& grid, int region_count,
                             int weight_count) {
  return ListPrefix("weights for regions", entity, grid) + "\nThe number of regions (" +
         std::to_string(region_count) + ") does not equal the number of weights (" +
         std::to_string(weight_count) + ")\n";
}

}  // namespace velmo
