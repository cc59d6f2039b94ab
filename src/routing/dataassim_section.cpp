// The section of the data assimilation: the rule count, the rule blocks and the keys of each rule.
#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"
#include "routing/dataassim.h"
#include "routing/snow_split.h"
#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr const char* kRuleCountPrompt = "number of data-assimilation rules ";
constexpr const char* kBlanks = " \t\r\n";
constexpr const char* kOptionsKey = "options";
constexpr const char* kTrue = "true";
// The keys of the rules, and of their options.
constexpr const char* kGridIdKey = "grid-ID";
constexpr const char* kListFileKey = "listfilename";
constexpr const char* kSplitKey = "split-into-liquid-and-solid";
constexpr const char* kGlacierKey = "weighing-by-glacierized-fraction";
constexpr const char* kLiquidPercentageKey = "default-liquid-percentage";
constexpr const char* kLakeIdKey = "lake-ID";
constexpr const char* kAverageLevelKey = "AverageWaterTable";
constexpr const char* kFormatKey = "format";
constexpr const char* kSkipRowsKey = "skiprows";

// Reads the keys of one rule and reports what is wrong with them.
class rule_keys {
 public:
  rule_keys(const std::string& block, int number, MessageStream* messages)
      : body_(RuleBody(block)),
        name_("rule " + std::to_string(number) + " of [data_assimilation]"),
        messages_(messages) {
    // "options" before a block in braces; the word alone may stand in a
    // file name.
    for (std::size_t at = FindKey(body_, kOptionsKey); at != std::string::npos;
         at = FindKey(body_, kOptionsKey, at + 1)) {
      const std::size_t next = body_.find_first_not_of(kBlanks, at + std::string(kOptionsKey).size());
      if (next == std::string::npos || body_[next] != '{') continue;
      std::string rest = body_.substr(next);
      options_ = ExtractBraceBlock(rest);
      has_options_ = true;
      options_at_ = at;
      options_end_ = body_.size() - rest.size();
      break;
    }
  }

  // A key the rule does not know is read by nothing: an "options {" line
  // lost or misspelt would leave its keys without effect.
  void WarnUnknownKeys(std::initializer_list<std::string_view> rule_keys,
                       std::initializer_list<std::string_view> option_keys, const std::string& what) const {
    std::string outside = body_;
    if (has_options_) outside.erase(options_at_, options_end_ - options_at_);
    WarnUnknownKeys(outside, rule_keys, what, "");
    if (has_options_) WarnUnknownKeys(options_, option_keys, what, " in its options");
  }

  bool HasOptions() const { return has_options_; }
  const std::string& Name() const { return name_; }

  // The first word of the value of `key` in the rule or in its options.
  std::string Word(const std::string& key, bool in_options) const {
    const std::string& text = in_options ? options_ : body_;
    std::string word;
    try {
      ReadKeyString(text, key, word);
    } catch (const std::out_of_range&) {
      Fail("key \"" + key + "\" not found " + (in_options ? "in the options of " : "in ") + name_);
    }
    if (word.empty()) Fail("key \"" + key + "\" of " + name_ + " has no value (\"" + key + " = value;\")");
    return word;
  }
  double Number(const std::string& key, bool in_options) const {
    const std::string word = Word(key, in_options);
    double value = 0.0;
    if (!ParseDecimalNumber(word, value)) Fail(key + " = " + word + " of " + name_ + " is no number");
    return value;
  }
  int WholeNumber(const std::string& key, bool in_options) const {
    const std::string word = Word(key, in_options);
    int value = 0;
    if (!ParseWholeNumber(word, value)) Fail(key + " = " + word + " of " + name_ + " is no whole number");
    return value;
  }
  [[noreturn]] void Fail(const std::string& text, int code = kAssimilationRuleCode) const {
    RaiseAssimilationError(messages_, text, code);
  }

 private:
  // Each "key = value" of `text`: the key is the last word before the "=".
  void WarnUnknownKeys(const std::string& text, std::initializer_list<std::string_view> known,
                       const std::string& what, const char* where) const {
    std::vector<std::string> statements;
    SplitTokens(text, ";{}", statements);
    for (const std::string& statement : statements) {
      const std::size_t equals = statement.find('=');
      if (equals == std::string::npos) continue;
      const std::string_view before = TrimSpace(std::string_view(statement).substr(0, equals));
      const std::size_t word = before.find_last_of(kBlanks);
      const std::string_view key = word == std::string_view::npos ? before : before.substr(word + 1);
      if (std::find(known.begin(), known.end(), key) != known.end()) continue;
      *messages_ << "WARNING: " << name_ << " (" << what << ") does not know the key \"" << std::string(key)
                 << "\"" << where << ", which is ignored: \"" << std::string(TrimSpace(statement))
                 << "\"[end-entry]";
    }
  }

  std::string body_;
  std::string options_;
  bool has_options_ = false;
  std::size_t options_at_ = 0;   // where "options" stands in the body
  std::size_t options_end_ = 0;  // after the "}" of its block
  std::string name_;
  MessageStream* messages_;
};

}  // namespace

std::string RuleBody(const std::string& block) {
  const std::size_t open = block.find('{');
  if (open == std::string::npos) return {};
  int depth = 0;
  for (std::size_t i = open; i < block.size(); ++i) {
    if (block[i] == '{') {
      ++depth;
    } else if (block[i] == '}' && --depth == 0) {
      return block.substr(open + 1, i - open - 1);
    }
  }
  return block.substr(open + 1);
}

grid_rule ParseGridRule(const std::string& block, int number, MessageStream* messages) {
  const rule_keys keys(block, number, messages);
  grid_rule rule;
  rule.grid = keys.Word(kGridIdKey, false);
  rule.list_file = keys.Word(kListFileKey, false);
  keys.WarnUnknownKeys({kGridIdKey, kListFileKey}, {kSplitKey, kGlacierKey, kLiquidPercentageKey},
                       "grid " + rule.grid);
  if (!keys.HasOptions()) return rule;
  rule.split = keys.Word(kSplitKey, true) == kTrue;
  rule.glacier = keys.Word(kGlacierKey, true) == kTrue;
  if (rule.split) {
    rule.liquid_percentage = keys.Number(kLiquidPercentageKey, true);
    if (rule.liquid_percentage < 0.0 || rule.liquid_percentage > kWholePercentage)
      keys.Fail("default-liquid-percentage = " + keys.Word(kLiquidPercentageKey, true) + " of " +
                keys.Name() + " (grid " + rule.grid + ") lies outside 0 to 100");
  }
  return rule;
}

reservoir_rule ParseReservoirRule(const std::string& block, int number, MessageStream* messages) {
  const rule_keys keys(block, number, messages);
  reservoir_rule rule;
  rule.reservoir = keys.WholeNumber(kLakeIdKey, false);
  rule.average_water_table = keys.Number(kAverageLevelKey, false);
  rule.list_file = keys.Word(kListFileKey, false);
  keys.WarnUnknownKeys({kLakeIdKey, kAverageLevelKey, kListFileKey}, {kFormatKey, kSkipRowsKey},
                       "reservoir " + std::to_string(rule.reservoir));
  if (!keys.HasOptions()) return rule;
  rule.format_name = keys.Word(kFormatKey, true);
  if (rule.format_name.find("bafu") != std::string::npos) {
    rule.format = level_format::bafu;
  } else if (rule.format_name.find("velmo") == std::string::npos) {
    keys.Fail(
        "for reservoir " + std::to_string(rule.reservoir) + ": format " + rule.format_name + "not defined ",
        kAssimilationReservoirCode);
  }
  rule.skip_rows = keys.WholeNumber(kSkipRowsKey, true);
  if (rule.skip_rows < 0)
    keys.Fail("skiprows = " + std::to_string(rule.skip_rows) + " of " + keys.Name() + " is negative");
  return rule;
}

void data_assimilation::ReadRules(section_reader& in) {
  rule_count = in.Integer(kRuleCountPrompt);
  if (rule_count < 0)
    RaiseControlFileError(std::string(kRuleCountPrompt) + "(at least 0) for " + section_buffer, name);

  std::string line;
  for (int k = 1; k <= rule_count; ++k) {
    const std::string which = "rule " + std::to_string(k) + " of " + std::to_string(rule_count);
    if (!in.FilledLine(line) || IsSectionHeader(line))
      RaiseAssimilationError(messages, "the section " + section_buffer + " ends before " + which,
                             kAssimilationRuleCode);
    BraceBlockCollector block;
    block.AddLine(line);
    if (!in.Block(block))
      RaiseAssimilationError(
          messages,
          "the section " + section_buffer + " ends inside " + which + ", whose braces do not close: " + line,
          kAssimilationRuleCode);
    BuildRule(block.text(), k);
  }
  // A rule beyond the count would never be read.
  if (in.LaterLine(HoldsBlock, line))
    RaiseAssimilationError(messages,
                           "more rules than the count (" + std::to_string(rule_count) + "): \"" + line +
                               "\" follows the last rule in " + section_buffer +
                               "; the line after the time interval holds the number of rules",
                           kAssimilationRuleCode);
}

}  // namespace velmo
