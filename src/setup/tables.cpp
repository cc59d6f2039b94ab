// Reading the records of the land-use, soil and multilayer tables: both record forms and the fix-point days.
#include "setup/tables.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"
#include "framework/types.h"

namespace velmo {
namespace {

constexpr const char* kWordSeparators = "\t \r\n";

// Key block defaults.
constexpr double kDefaultInterceptionResistance = 20.0;  // s/m
constexpr double kDefaultEvaporationResistance = 200.0;  // s/m
constexpr double kDefaultStemDiameter = 0.01;
constexpr double kDefaultResidueCoverage = 0.01;
constexpr double kNotGiven = -9999.9;
constexpr double kDefaultDP2Offset1 = -3.4;  // degC
constexpr double kDefaultDP2Offset2 = 12.0;  // degC
constexpr int kNoTillageDay = -9999;

// Positional form.
constexpr int kPositionalFixPoints = 4;
constexpr int kPositionalValueCount = 35;
constexpr double kPositionalTReduWet = 0.95;
constexpr double kPositionalAltDepRise = 0.025;   // days/m, fix points 1 and 2
constexpr double kPositionalAltDepFall = -0.025;  // days/m, fix points 3 and 4

// Soil table.
constexpr double kPercent = 0.01;
constexpr double kMacroporeRateDivisor = 3600000.0;  // mm/h to m/s
constexpr double kLogOfNonPositiveKMin = -27.631;
constexpr double kGrainSumTolerance = 0.0001;
// Most computational layers a soil profile may have (all horizons together):
// far beyond any real profile, and small enough that the per-layer arrays
// of every cell stay affordable.
constexpr int kMaxSoilLayers = 1000;
constexpr int kGrainSand = 0;

// ---- strict conversions

bool ParseDouble(const std::string& token, double& value) {
  if (token.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double parsed = std::strtod(token.c_str(), &end);
  if (end != token.c_str() + token.size() || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

bool ParseInt(const std::string& token, int& value) {
  if (token.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long parsed = std::strtol(token.c_str(), &end, 10);
  if (end != token.c_str() + token.size() || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
    return false;
  }
  value = static_cast<int>(parsed);
  return true;
}

std::vector<std::string> Tokens(const std::string& text, const char* separators) {
  std::vector<std::string> tokens;
  SplitTokens(text, separators, tokens);
  return tokens;
}

std::string FirstWord(const std::string& text) {
  const std::vector<std::string> words = Tokens(text, kWordSeparators);
  return words.empty() ? std::string() : words.front();
}

// The value text of `key` in `block`, ending at ";" or at the block's "}";
// nothing when the key does not occur as a whole word.
std::optional<std::string> ValueOf(const std::string& block, const std::string& key) {
  if (FindKey(block, key) == std::string::npos) return std::nullopt;
  std::string value = KeyValueText(block, key);
  const std::size_t brace = value.find('}');
  if (brace != std::string::npos) value.erase(brace);
  return value;
}

std::string Trimmed(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(kWordSeparators);
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(kWordSeparators) - begin + 1);
}

// A value as the messages show it.
std::string Quoted(const std::string& text) { return "\"" + Trimmed(text) + "\""; }

const char* MethodKeyword(int method) {
  switch (method) {
    case kMethodMonthly:
      return "positional";
    case kMethodVariableDayCount:
      return "VariableDayCount";
    case kMethodDynamicPhenology1:
      return "DynamicPhenology_1";
    case kMethodDynamicPhenology2:
      return "DynamicPhenology_2";
    case kMethodDynamicPhenology3:
      return "DynamicPhenology_3";
    case kMethodDynamicPhenology4:
      return "DynamicPhenology_4";
    default:
      return "unknown";
  }
}

int MethodOfKeyword(const std::string& keyword) {
  for (int method = kMethodVariableDayCount; method <= kMethodDynamicPhenology4; ++method) {
    if (keyword == MethodKeyword(method)) return method;
  }
  return 0;
}

// Reads the keys of one land-use key block; every failure ends with the
// record's generic entry and code 29.
class landuse_key_reader {
 public:
  landuse_key_reader(landuse_table_entry& record, MessageStream* messages, const std::string& block)
      : record_(record), messages_(messages), block_(block) {}

  [[noreturn]] void Fail(const std::string& specific) const {
    record_.RaiseReadFailure(messages_, block_, specific);
  }
  [[noreturn]] void Missing(const std::string& key) const {
    Fail("parameter " + Quoted(key) + " not found for land use " + std::to_string(record_.code));
  }
  [[noreturn]] void NotANumber(const std::string& key, const std::string& value) const {
    Fail("parameter " + Quoted(key) + " for land use " + std::to_string(record_.code) +
         " is not a number: " + Quoted(value));
  }

  std::optional<double> Double(const std::string& key) const {
    const std::optional<std::string> value = ValueOf(block_, key);
    if (!value) return std::nullopt;
    const std::string word = FirstWord(*value);
    double number = 0.0;
    if (!ParseDouble(word, number)) NotANumber(key, *value);
    return number;
  }
  std::optional<int> Int(const std::string& key) const {
    const std::optional<std::string> value = ValueOf(block_, key);
    if (!value) return std::nullopt;
    const std::string word = FirstWord(*value);
    int number = 0;
    if (!ParseInt(word, number)) NotANumber(key, *value);
    return number;
  }
  double RequiredDouble(const std::string& key) const {
    const std::optional<double> value = Double(key);
    if (!value) Missing(key);
    return *value;
  }
  int RequiredInt(const std::string& key) const {
    const std::optional<int> value = Int(key);
    if (!value) Missing(key);
    return *value;
  }
  double OptionalDouble(const std::string& key, double fallback) const {
    return Double(key).value_or(fallback);
  }
  int OptionalInt(const std::string& key, int fallback) const { return Int(key).value_or(fallback); }

  // A fix-point number: 0 (not used) or 1..n.
  int FixPointNumber(const std::string& key, std::optional<int> fallback) const {
    const std::optional<int> value = Int(key);
    if (!value && !fallback) Missing(key);
    const int number = value.value_or(fallback.value_or(0));
    const bool zero_allowed = fallback.has_value();
    if (number > record_.fix_point_count || number < (zero_allowed ? 0 : 1)) {
      Fail("parameter " + Quoted(key) + " for land use " + std::to_string(record_.code) + " is " +
           std::to_string(number) + ", but it must be a fix point " + (zero_allowed ? "0.." : "1..") +
           std::to_string(record_.fix_point_count));
    }
    return number;
  }

  // A list of `count` numbers; `fallback` fills entries 0..count when the key
  // is absent, else the key is required.
  void List(const std::string& key, std::vector<double>& list, int count,
            std::optional<double> fallback) const {
    if (record_.ReadValueList(messages_, block_, key, list, count)) return;
    if (!fallback) Missing(key);
    list.assign(static_cast<std::size_t>(count) + 1, *fallback);
  }

 private:
  landuse_table_entry& record_;
  MessageStream* messages_;
  const std::string& block_;
};

}  // namespace

// ======================================================================
// landuse_table_entry: reading

void landuse_table_entry::RaiseReadFailure(MessageStream* messages, const std::string& block,
                                           const std::string& specific) const {
  if (messages) {
    if (!specific.empty()) *messages << "FATAL: " << specific << "[end-entry]";
    *messages << "FATAL: landuse table code " << code << ": some values could not be read\n"
              << block << "[end-entry]";
  }
  throw ErrorCode{kTableReadErrorCode};
}

bool landuse_table_entry::ReadValueList(MessageStream* messages, const std::string& block,
                                        const std::string& key, std::vector<double>& list, int count) {
  const std::optional<std::string> value = ValueOf(block, key);
  if (!value) return false;
  const std::vector<std::string> tokens = Tokens(*value, kListSeparators);
  std::vector<double> numbers;
  for (const std::string& token : tokens) {
    double number = 0.0;
    if (!ParseDouble(token, number)) {
      RaiseReadFailure(messages, block,
                       "parameter " + Quoted(key) + " for land use " + std::to_string(code) +
                           " holds a value that is not a number: " + Quoted(token));
    }
    numbers.push_back(number);
  }
  if (static_cast<int>(numbers.size()) < count) {
    RaiseReadFailure(messages, block,
                     "parameter " + Quoted(key) + " for land use " + std::to_string(code) + " holds " +
                         std::to_string(numbers.size()) + " values, but " + std::to_string(count) +
                         " are needed");
  }
  list.assign(static_cast<std::size_t>(count) + 1, 0.0);
  for (int i = 1; i <= count; ++i)
    list[static_cast<std::size_t>(i)] = numbers[static_cast<std::size_t>(i) - 1];
  list[0] = list[static_cast<std::size_t>(count)];
  return true;
}

namespace {

// Day list of `key`: the days as whole numbers; nothing when the key is absent.
std::optional<std::vector<int>> ReadDayList(const landuse_table_entry& record, MessageStream* messages,
                                            const std::string& block, const std::string& key) {
  const std::optional<std::string> value = ValueOf(block, key);
  if (!value) return std::nullopt;
  std::vector<int> days;
  for (const std::string& token : Tokens(*value, kListSeparators)) {
    int day = 0;
    if (!ParseInt(token, day)) {
      record.RaiseReadFailure(messages, block,
                              "parameter " + Quoted(key) + " for land use " + std::to_string(record.code) +
                                  " holds a day that is not a whole number: " + Quoted(token));
    }
    days.push_back(day);
  }
  return days;
}

// Entries 1..n from `days`, entry 0 = the last day one year earlier.
std::vector<int> DaysWithPreviousYear(const std::vector<int>& days) {
  std::vector<int> result(days.size() + 1);
  for (std::size_t i = 0; i < days.size(); ++i) result[i + 1] = days[i];
  result[0] = days.back() - kDaysPerYearWrap;
  return result;
}

}  // namespace

void landuse_table_entry::ReadFixPointDays(MessageStream* messages, const std::string& block) {
  const std::optional<std::vector<int>> days = ReadDayList(*this, messages, block, "JulDays");
  if (!days) {
    RaiseReadFailure(messages, block, "parameter \"JulDays\" not found for land use " + std::to_string(code));
  }
  if (days->empty()) {
    RaiseReadFailure(
        messages, block,
        "parameter \"JulDays\" for land use " + std::to_string(code) + " holds no fix-point day");
  }
  fix_point_count = static_cast<int>(days->size());
  fix_days = DaysWithPreviousYear(*days);
  if (method == kMethodDynamicPhenology3) {
    const int first = fix_days[1];
    const int last = fix_days[static_cast<std::size_t>(fix_point_count)];
    if (first != 1) {
      RaiseReadFailure(
          messages, block,
          "Error in Landuse Table (Code: " + std::to_string(code) +
              "): for Method DynamicPhenology_3 the first sample day (JulDay) must be 1 and not " +
              std::to_string(first));
    }
    if (last != kLastValidDay) {
      RaiseReadFailure(
          messages, block,
          "Error in Landuse Table (Code: " + std::to_string(code) +
              "): for Method DynamicPhenology_3 the last sample day (JulDay) must be 366 and not " +
              std::to_string(last));
    }
  }
}

void landuse_table_entry::ReadTillageDays(MessageStream* messages, const std::string& block) {
  const std::optional<std::vector<int>> days = ReadDayList(*this, messages, block, "SoilTillage");
  if (!days || days->empty()) {
    tillage_day_count = 0;
    tillage_days.assign(1, kNoTillageDay);
    return;
  }
  tillage_day_count = static_cast<int>(days->size());
  tillage_days = DaysWithPreviousYear(*days);
}

void landuse_table_entry::ParseKeyBlock(MessageStream* messages, const std::string& entry_text,
                                        const std::string& method_keyword) {
  method = MethodOfKeyword(method_keyword);
  forcing_active = false;
  start_offset = -1;

  const std::size_t brace = entry_text.find('{');
  const std::string block = brace == std::string::npos ? entry_text : entry_text.substr(brace);
  const std::vector<std::string> head = Tokens(entry_text.substr(0, brace), kWordSeparators);
  if (head.empty() || !ParseInt(head[0], code)) {
    RaiseReadFailure(messages, block,
                     "the land-use code of record " + std::to_string(code) +
                         " is not a whole number: " + Quoted(head.empty() ? std::string() : head[0]));
  }
  if (head.size() < 2) RaiseReadFailure(messages, block, "land use " + std::to_string(code) + " has no name");
  name = head[1];

  const landuse_key_reader keys(*this, messages, block);
  RootDist = keys.RequiredDouble("RootDist");
  TReduWet = keys.RequiredDouble("TReduWet");

  if (const std::optional<std::string> mask = ValueOf(block, "useInternalParameters")) {
    const std::size_t first = mask->find_first_of("01");
    const std::string text = first == std::string::npos ? std::string() : FirstWord(mask->substr(first));
    if (text.empty() || text.find_first_not_of("01") != std::string::npos) {
      keys.Fail("parameter \"useInternalParameters\" for land use " + std::to_string(code) +
                " must be a mask of the digits 0 and 1, not " + Quoted(*mask));
    }
    internal_mask_text = text;
    internal_mask = 0;
    constexpr int kMaskBits = 8;
    for (std::size_t i = 0; i < text.size() && i < static_cast<std::size_t>(kMaskBits); ++i) {
      if (text[i] == '1') internal_mask += 128 >> i;
    }
  } else {
    internal_mask_text = "11111111";
    internal_mask = 255;
  }

  LimitReduWet = keys.OptionalDouble("LimitReduWet", 0.0);
  ETPHamonFactor = keys.OptionalDouble("ETPHamonFactor", 1.0);
  HReduDry = keys.RequiredDouble("HReduDry");
  const std::optional<int> start_key = keys.Int("StartVegetationPeriodForBalance");
  const std::optional<int> stop_key = keys.Int("StopVegetationPeriodForBalance");
  veg_reset_day = keys.OptionalInt("JDVegetationResetForBalance", -1);
  veg_write_day = keys.OptionalInt("JDVegetationWriteForBalance", -1);
  IntercepCap = keys.OptionalDouble("IntercepCap", -1.0);
  StressFactorDynPhen = keys.OptionalDouble("StressFactorDynPhen", 0.0);

  ReadFixPointDays(messages, block);
  const int n = fix_point_count;
  // The balance period's fix points index the fix-point days.
  veg_start_point = start_key ? keys.FixPointNumber("StartVegetationPeriodForBalance", 0) : 0;
  veg_stop_point = stop_key ? keys.FixPointNumber("StopVegetationPeriodForBalance", 0) : 0;

  const bool phenology = method >= kMethodDynamicPhenology1;
  if (UsesStartHold()) {
    start_offset = -1;
    start_point = -1;
    F_star = keys.RequiredDouble("F*");
  }
  if (phenology) {
    DP1_t1_dorm = keys.RequiredInt("DP1_t1_dorm");
    DP1_T_Bf = keys.RequiredDouble("DP1_T_Bf");
    JDReset_TStart = keys.RequiredInt("JDReset_TStart");
    maxStartJDforDP1 = keys.RequiredInt("maxStartJDforDP1");
  }
  if (UsesStartHold()) {
    for (int i = 1; i <= n - 1; ++i) {
      if (fix_days[static_cast<std::size_t>(i)] < 0) {
        start_point = i;
        break;
      }
    }
    if (start_point < 1) {
      keys.Fail("Error in Landuse Table (Code: " + std::to_string(code) + "): for Method " +
                MethodKeyword(method) +
                " one of the sample days (JulDays) before the last must be negative to mark the vegetation "
                "start");
    }
  }
  if (method == kMethodDynamicPhenology2) {
    DP2_t0_dorm = keys.RequiredInt("DP2_t0_dorm");
    DP2_t1_dorm = keys.RequiredInt("DP2_t1_dorm");
    DP2_T_Bf = keys.RequiredDouble("DP2_T_Bf");
    DP2_T_Bc = keys.RequiredDouble("DP2_T_Bc");
    DP2_Par_a = keys.RequiredDouble("DP2_Par_a");
    DP2_Par_b = keys.RequiredDouble("DP2_Par_b");
    const auto offset = [&](const char* key, double fallback) {
      const std::optional<double> value = keys.Double(key);
      if (value) return *value;
      if (messages) {
        *messages << "INFO: parameter \"" << key << "\" not found for land use " << code
                  << "; Using default of " << fallback << "[end-entry]";
      }
      return fallback;
    };
    DP2_Offset_1 = offset("DP2_Offset_1", kDefaultDP2Offset1);
    DP2_Offset_2 = offset("DP2_Offset_2", kDefaultDP2Offset2);
  }
  if (method == kMethodDynamicPhenology4) {
    DP4_t0_dorm = keys.RequiredInt("DP4_t0_dorm");
    DP4_t1_dorm = keys.RequiredInt("DP4_t1_dorm");
    DP4_T0 = keys.RequiredDouble("DP4_T0");
    DP4_T1 = keys.RequiredDouble("DP4_T1");
    DP4_Par_a = keys.RequiredDouble("DP4_Par_a");
    DP4_Par_b = keys.RequiredDouble("DP4_Par_b");
    DP4_T_xylstop = keys.RequiredDouble("DP4_T_xylstop");
    DP4_t_xs1 = keys.RequiredInt("DP4_t_xs1");
    DP4_SPSLF = keys.FixPointNumber("DP4_SPSLF", std::nullopt);
  }
  if (method == kMethodDynamicPhenology3)
    keys.List("ForcingThreshold", lists.ForcingThreshold, n, std::nullopt);
  else
    lists.ForcingThreshold.clear();

  keys.List("Albedo", lists.Albedo, n, std::nullopt);
  keys.List("rsc", lists.rsc, n, std::nullopt);
  keys.List("LAI", lists.LAI, n, std::nullopt);
  keys.List("Z0", lists.Z0, n, std::nullopt);
  keys.List("VCF", lists.VCF, n, std::nullopt);
  keys.List("RootDepth", lists.RootDepth, n, std::nullopt);
  keys.List("AltDep", lists.AltDep, n, std::nullopt);
  keys.List("rs_interception", lists.rs_interception, n, kDefaultInterceptionResistance);
  keys.List("rs_evaporation", lists.rs_evaporation, n, kDefaultEvaporationResistance);

  ReadTillageDays(messages, block);
  if (const std::optional<std::string> value = ValueOf(block, "SR_cultivation")) {
    if (value->find("other") != std::string::npos)
      cultivation = 3;
    else if (value->find("nonconserving") != std::string::npos)
      cultivation = 2;
    else if (value->find("conserving") != std::string::npos)
      cultivation = 1;
    else
      keys.Fail("no valid value for parameter \"SR_cultivation\" for land use " + std::to_string(code));
  } else {
    cultivation = 0;
  }
  SR_CropDistX = keys.OptionalDouble("SR_CropDistX", 0.3);
  SR_CropDistY = keys.OptionalDouble("SR_CropDistY", 0.3);
  SR_K_ST = keys.OptionalDouble("SR_K_ST", 10.0);
  SR_C_WR = keys.OptionalDouble("SR_C_WR", 1.5);
  const auto coefficients = [&](const char* key, std::array<double, 4>& target) {
    constexpr int kCoefficientCount = 3;
    std::vector<double> values;
    if (!ReadValueList(messages, block, key, values, kCoefficientCount)) return;
    target = {0.0, values[1], values[2], values[3]};
  };
  coefficients("SR_rough_coeff1", SR_rough_coeff1);
  coefficients("SR_rough_coeff2", SR_rough_coeff2);
  keys.List("SR_StemDiameter", lists.SR_StemDiameter, n, kDefaultStemDiameter);
  keys.List("SR_ResidCovrg", lists.SR_ResidCovrg, n, kDefaultResidueCoverage);
  keys.List("n-factor", lists.n_factor, n, kNotGiven);
  nf_freezing = keys.OptionalDouble("nf_freezing", kNotGiven);
  nf_thawing = keys.OptionalDouble("nf_thawing", kNotGiven);
}

void landuse_table_entry::ParsePositional(MessageStream* messages, const std::string& line) {
  method = kMethodMonthly;
  fix_point_count = kPositionalFixPoints;
  const std::vector<std::string> tokens = Tokens(line, kWordSeparators);

  // Names of the values in line order, for the messages.
  const auto label = [](int index) -> std::string {
    if (index == 0) return "code";
    if (index == 1) return "name";
    if (index == 2) return "albedo";
    if (index < 15) return "canopy resistance of month " + std::to_string(index - 2);
    static const char* const groups[] = {"fix-point day", "LAI", "Z0", "VCF", "RootDepth"};
    const int group = (index - 15) / kPositionalFixPoints;
    return std::string(groups[group]) + " of fix point " +
           std::to_string((index - 15) % kPositionalFixPoints + 1);
  };
  const auto fail = [&](int index, const std::string& what) {
    RaiseReadFailure(messages, line,
                     "value " + std::to_string(index + 1) + " (" + label(index) + ") of land use " +
                         std::to_string(code) + " " + what);
  };
  std::vector<double> numbers(kPositionalValueCount, 0.0);
  for (int index = 0; index < kPositionalValueCount; ++index) {
    if (index >= static_cast<int>(tokens.size())) fail(index, "is missing");
    const std::string& token = tokens[static_cast<std::size_t>(index)];
    if (index == 0) {
      if (!ParseInt(token, code)) fail(index, "is not a whole number: " + Quoted(token));
    } else if (index == 1) {
      name = token;
    } else if (index >= 15 && index < 19) {
      int day = 0;
      if (!ParseInt(token, day)) fail(index, "is not a whole number: " + Quoted(token));
      numbers[static_cast<std::size_t>(index)] = day;
    } else if (!ParseDouble(token, numbers[static_cast<std::size_t>(index)])) {
      fail(index, "is not a number: " + Quoted(token));
    }
  }

  const std::size_t n = kPositionalFixPoints;
  lists.Albedo.assign(n + 1, numbers[2]);
  lists.rsc.assign(kMonthlyListSize, 0.0);
  for (std::size_t month = 1; month <= 12; ++month) lists.rsc[month] = numbers[2 + month];
  lists.rsc[0] = lists.rsc[12];
  lists.rsc[13] = lists.rsc[1];
  lists.rs_evaporation = lists.rsc;
  lists.rs_interception.assign(kMonthlyListSize, kDefaultInterceptionResistance);

  std::vector<int> days(n);
  for (std::size_t i = 0; i < n; ++i) days[i] = static_cast<int>(numbers[15 + i]);
  fix_days = DaysWithPreviousYear(days);

  const auto fix_point_list = [&](std::vector<double>& list, std::size_t first) {
    list.assign(n + 1, 0.0);
    for (std::size_t i = 1; i <= n; ++i) list[i] = numbers[first + i - 1];
    list[0] = list[n];
  };
  fix_point_list(lists.LAI, 19);
  fix_point_list(lists.Z0, 23);
  fix_point_list(lists.VCF, 27);
  fix_point_list(lists.RootDepth, 31);

  TReduWet = kPositionalTReduWet;
  LimitReduWet = 0.0;
  lists.AltDep = {kPositionalAltDepFall, kPositionalAltDepRise, kPositionalAltDepRise, kPositionalAltDepFall,
                  kPositionalAltDepFall};
  // Values the positional form does not give take the key block's defaults.
  ETPHamonFactor = 1.0;
  lists.ForcingThreshold.clear();
  lists.SR_StemDiameter.assign(n + 1, kDefaultStemDiameter);
  lists.SR_ResidCovrg.assign(n + 1, kDefaultResidueCoverage);
  lists.n_factor.assign(n + 1, kNotGiven);
  tillage_day_count = 0;
  tillage_days.assign(1, kNoTillageDay);
}

void landuse_table_entry::Release() {
  name.clear();
  internal_mask_text.clear();
  fix_days.clear();
  lists = landuse_fix_point_lists{};
  tillage_days.clear();
  start_time_lists = nullptr;
  pheno_start_grids = fstar_grids = forcing_sum_grids = nullptr;
}

// ======================================================================
// landuse_table_entry: look-ups

int landuse_table_entry::FixPointDay(int i) const {
  if (i < 0 || i > fix_point_count || static_cast<std::size_t>(i) >= fix_days.size()) return -1;
  return fix_days[static_cast<std::size_t>(i)];
}

double landuse_table_entry::AltitudeDependence(int i) const {
  if (i < 0 || i > fix_point_count || static_cast<std::size_t>(i) >= lists.AltDep.size()) return 0.0;
  return lists.AltDep[static_cast<std::size_t>(i)];
}

double landuse_table_entry::ForcingThresholdAt(int i) const {
  if (method != kMethodDynamicPhenology3 || i < 0 || i > fix_point_count ||
      static_cast<std::size_t>(i) >= lists.ForcingThreshold.size()) {
    return -1.0;
  }
  return lists.ForcingThreshold[static_cast<std::size_t>(i)];
}

bool landuse_table_entry::UsesStartHold() const {
  return method == kMethodDynamicPhenology1 || method == kMethodDynamicPhenology2 ||
         method == kMethodDynamicPhenology4;
}

void landuse_table_entry::SetStartTimeLists(const layer_stack_list* lists_by_layer, int levels) {
  start_time_lists = lists_by_layer;
  start_time_levels = levels;
}

// ======================================================================
// soil_table_entry

bool ReadSoilScalar(const std::string& block, const std::string& key, double& target) {
  const std::optional<std::string> value = ValueOf(block, key);
  if (!value) return false;
  double number = 0.0;
  if (!ParseDouble(FirstWord(*value), number)) throw std::invalid_argument(*value);
  target = number;
  return true;
}

void soil_table_entry::RaiseReadFailure(MessageStream* messages, const std::string& text,
                                        const std::string& specific) const {
  if (messages) {
    if (!specific.empty()) *messages << "FATAL: " << specific << "[end-entry]";
    *messages << "FATAL: Soil table code " << code << ": some values could not be read\n"
              << text << "[end-entry]";
  }
  throw ErrorCode{kTableReadErrorCode};
}

void soil_table_entry::ParseSingleLine(MessageStream* messages, const std::string& line) {
  static const char* const labels[] = {"code", "name", "FCap", "mSB", "ksat_topmodel", "suction"};
  const std::vector<std::string> tokens = Tokens(line, kWordSeparators);
  double* const targets[] = {nullptr, nullptr, &FCap, &mSB, &ksat_topmodel, &suction};
  for (std::size_t index = 0; index < std::size(labels); ++index) {
    const std::string what =
        std::string("value ") + Quoted(labels[index]) + " of soil type " + std::to_string(code);
    if (index >= tokens.size()) RaiseReadFailure(messages, line, what + " is missing");
    const std::string& token = tokens[index];
    if (index == 0) {
      if (!ParseInt(token, code))
        RaiseReadFailure(messages, line, what + " is not a whole number: " + Quoted(token));
    } else if (index == 1) {
      name = token;
    } else if (!ParseDouble(token, *targets[index])) {
      RaiseReadFailure(messages, line, what + " is not a number: " + Quoted(token));
    }
  }
  drainable_porosity = (mSB - FCap) * kPercent;
}

int soil_table_entry::ReadHorizonValues(MessageStream* messages, const std::string& block,
                                        const std::string& key, std::vector<double>& target, int horizons) {
  const std::optional<std::string> value = ValueOf(block, key);
  if (!value) return -1;
  const std::vector<std::string> tokens = Tokens(*value, kListSeparators);
  const std::string what = "parameter " + Quoted(key) + " of soil type " + std::to_string(code);
  if (tokens.empty()) RaiseReadFailure(messages, block, what + " holds no value");

  if (key == "layers") {
    horizon_layers.assign(tokens.size() + 1, 0);
    int layers = 0;
    for (std::size_t h = 1; h <= tokens.size(); ++h) {
      int count = 0;
      if (!ParseInt(tokens[h - 1], count) || count < 1) {
        RaiseReadFailure(messages, block,
                         what + ": the layer count of horizon " + std::to_string(h) +
                             " must be a whole number of 1 or more, not " + Quoted(tokens[h - 1]));
      }
      if (count > kMaxSoilLayers - layers) {
        RaiseReadFailure(messages, block,
                         what + ": more than " + std::to_string(kMaxSoilLayers) + " layers in all (horizon " +
                             std::to_string(h) + " adds " + Quoted(tokens[h - 1]) + ")");
      }
      horizon_layers[h] = count;
      layers += count;
    }
    horizon_count = static_cast<int>(tokens.size());
    total_layers = layers;
    horizon_layers[0] = layers;
    return layers;
  }

  std::vector<double> numbers;
  for (const std::string& token : tokens) {
    double number = 0.0;
    if (!ParseDouble(token, number))
      RaiseReadFailure(messages, block, what + " is not a number: " + Quoted(token));
    numbers.push_back(number);
  }
  target.assign(static_cast<std::size_t>(total_layers) + 1, 0.0);
  std::size_t layer = 1;
  for (int h = 1; h <= horizons && h < static_cast<int>(horizon_layers.size()); ++h) {
    const double horizon_value = numbers[std::min(static_cast<std::size_t>(h), numbers.size()) - 1];
    for (int k = 0; k < horizon_layers[static_cast<std::size_t>(h)]; ++k) target[layer++] = horizon_value;
  }
  if (target.size() > 1) target[0] = target[1];
  return static_cast<int>(numbers.size());
}

void soil_table_entry::ReadGrainSizes(MessageStream* messages, const std::string& block) {
  const std::optional<std::string> value = ValueOf(block, "GrainSizeDist");
  if (!value) return;
  const std::vector<std::string> tokens = Tokens(*value, kListSeparators);
  const std::string what = "parameter \"GrainSizeDist\" of soil type " + std::to_string(code);
  if (tokens.size() < static_cast<std::size_t>(kGrainFractionCount)) {
    RaiseReadFailure(messages, block,
                     what + " holds " + std::to_string(tokens.size()) +
                         " values, but the seven fractions sand, silt, clay, stones1..4 are needed");
  }
  std::array<double, kGrainFractionCount> fractions{};
  for (std::size_t i = 0; i < fractions.size(); ++i) {
    if (!ParseDouble(tokens[i], fractions[i])) {
      RaiseReadFailure(messages, block, what + " is not a number: " + Quoted(tokens[i]));
    }
  }
  const auto fail = [&](const std::string& text) {
    if (messages) *messages << text << code << "\n" << block << "[end-entry]";
    throw ErrorCode{kGrainSizeErrorCode};
  };
  if (!(fractions[kGrainSand] > 0.0)) {
    fail("FATAL: Grainsize distribution: fraction of sand must be > 0 \nsoil type: ");
  }
  double sum = 0.0;
  for (std::size_t i = 0; i < fractions.size(); ++i) {
    if (i != kGrainSand && fractions[i] < 0.0) {
      fail(
          "FATAL: Grainsize distribution: all grain size fractions must be >= 0 (sand must be >0)\nsoil "
          "type: ");
    }
    sum += fractions[i];
  }
  if (std::abs(sum - 1.0) > kGrainSumTolerance) {
    fail(
        "FATAL: Grainsize distribution: sum of all fractions (sand, silt, clay, stones1..4) must be 1.0\n "
        "soil "
        "type: ");
  }
  grain_fractions = fractions;
}

void soil_table_entry::ParseHorizons(MessageStream* messages, const std::string& record_text) {
  if (record_text.find("MultipleHorizons") == std::string::npos) {
    if (messages) *messages << "FATAL: soil table definition method unknown " << record_text << "[end-entry]";
    throw ErrorCode{kTableReadErrorCode};
  }
  const std::size_t brace = record_text.find('{');
  const std::vector<std::string> head = Tokens(record_text.substr(0, brace), kWordSeparators);
  if (head.empty() || !ParseInt(head[0], code)) {
    RaiseReadFailure(messages, record_text,
                     "the soil code of record " + std::to_string(code) +
                         " is not a whole number: " + Quoted(head.empty() ? std::string() : head[0]));
  }
  if (head.size() >= 2) name = head[1];
  if (brace == std::string::npos) {
    RaiseReadFailure(messages, record_text, "soil type " + std::to_string(code) + " has no block in braces");
  }
  const std::string block = record_text.substr(brace);
  const auto missing = [&](const std::string& key) {
    RaiseReadFailure(messages, block,
                     "parameter " + Quoted(key) + " not found for soil type " + std::to_string(code));
  };

  std::vector<double> unused;
  if (ReadHorizonValues(messages, block, "layers", unused, 0) < 0) missing("layers");
  const std::size_t size = static_cast<std::size_t>(total_layers) + 1;
  const auto per_horizon = [&](const std::string& key, std::vector<double>& target,
                               std::optional<double> fallback) {
    if (ReadHorizonValues(messages, block, key, target, horizon_count) >= 0) return;
    if (!fallback) missing(key);
    target.assign(size, *fallback);
  };
  const auto scalar = [&](const std::string& key, double fallback) {
    double value = fallback;
    try {
      ReadSoilScalar(block, key, value);
    } catch (const std::invalid_argument& bad) {
      RaiseReadFailure(messages, block,
                       "parameter " + Quoted(key) + " of soil type " + std::to_string(code) +
                           " is not a number: " + Quoted(bad.what()));
    }
    return value;
  };
  const auto positive = [&](const std::string& key, double value) {
    if (!(value > 0.0)) {
      RaiseReadFailure(messages, block,
                       "parameter " + Quoted(key) + " of soil type " + std::to_string(code) +
                           " must be greater than 0, not " + std::to_string(value));
    }
  };

  per_horizon("ksat", ksat, std::nullopt);
  per_horizon("theta_sat", theta_sat, std::nullopt);
  per_horizon("theta_res", theta_res, std::nullopt);
  per_horizon("alpha", alpha, std::nullopt);
  per_horizon("Par_n", Par_n, std::nullopt);
  per_horizon("thickness", thickness, std::nullopt);
  for (std::size_t layer = 1; layer < size; ++layer) positive("thickness", thickness[layer]);
  EvapMaxDepth = scalar("EvapMaxDepth", thickness[1]);

  const bool scaling_given = ValueOf(block, "ThicknessScaling").has_value();
  ThicknessScaling = scalar("ThicknessScaling", 1.0);
  positive("ThicknessScaling", ThicknessScaling);
  if (scaling_given && ThicknessScaling != 1.0 && messages) {
    *messages << "INFO: Soil layers for soil type " << code << " will be scaled by a factor of "
              << ThicknessScaling << "[end-entry]";
  }
  total_depth = 0.0;
  for (std::size_t layer = 0; layer < size; ++layer) {
    thickness[layer] *= ThicknessScaling;
    if (layer >= 1) total_depth += thickness[layer];
  }

  ReadGrainSizes(messages, block);
  for (int i = 0; i < kSuParCount; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "SU_PAR%.02d", i);
    SU_PAR[static_cast<std::size_t>(i)] = scalar(key, 0.0);
  }
  per_horizon("Par_tau", Par_tau, 0.5);
  per_horizon("k_recession", k_recession, 1.0);
  PMacroThresh = scalar("PMacroThresh", 1000.0);
  MacroCapacity = scalar("MacroCapacity", 0.0);
  CapacityRedu = scalar("CapacityRedu", 1.0);
  MacroDepth = scalar("MacroDepth", 1.0);
  per_horizon("DryHeatCapacity", DryHeatCapacity, -1.0);
  per_horizon("DryDensity", DryDensity, -1.0);
  per_horizon("DryThermalConduct", DryThermalConduct, -1.0);
  if (ValueOf(block, "KMinFrozenSoil")) {
    KMinFrozenSoil = scalar("KMinFrozenSoil", KMinFrozenSoil);
    log_KMinFrozenSoil = KMinFrozenSoil > 0.0 ? std::log(KMinFrozenSoil) : kLogOfNonPositiveKMin;
  }
  PMacroThresh /= kMacroporeRateDivisor;
  MacroCapacity /= kMacroporeRateDivisor;
  maxratio = scalar("maxratio", 1000.0);
  FCap = scalar("FCap", 25.0);
  mSB = scalar("mSB", 35.0);
  ksat_topmodel = scalar("ksat_topmodel", 0.00001);
  suction = scalar("suction", 300.0);
  drainable_porosity = (mSB - FCap) * kPercent;
  if (ReadHorizonValues(messages, block, "Par_m", Par_m, horizon_count) < 0) {
    Par_m.assign(size, 0.0);
    for (std::size_t layer = 0; layer < size; ++layer) {
      Par_m[layer] = Par_n[layer] == 0.0 ? 0.0 : 1.0 - 1.0 / Par_n[layer];
    }
  }
  MaxInterflowDepth = scalar("MaxInterflowDepth", 2.0);
}

// ======================================================================
// multilayer_landuse_entry

int ReadLayerCodes(const std::string& record_text, const std::string& key, std::vector<int>& target,
                   int& target_count) {
  const std::optional<std::string> value = ValueOf(record_text, key);
  if (!value) return -1;
  std::vector<int> codes;
  for (const std::string& token : Tokens(*value, kListSeparators)) {
    int layer_code = 0;
    if (!ParseInt(token, layer_code)) throw std::invalid_argument(token);
    codes.push_back(layer_code);
  }
  target.assign(codes.size() + 1, 0);
  for (std::size_t i = 0; i < codes.size(); ++i) target[i + 1] = codes[i];
  target_count = static_cast<int>(codes.size());
  target[0] = target_count;
  return target_count;
}

void multilayer_landuse_entry::Parse(MessageStream* messages, const std::string& record_text) {
  const auto fail = [&](const std::string& what) {
    if (messages) {
      *messages << "FATAL: multilayer-landuse type " << code << ": " << what << "\n"
                << record_text << "[end-entry]";
    }
    throw ErrorCode{kTableReadErrorCode};
  };
  const std::vector<std::string> head = Tokens(record_text.substr(0, record_text.find('{')), kWordSeparators);
  if (head.empty() || !ParseInt(head[0], code)) {
    fail("the code is not a whole number: " + Quoted(head.empty() ? std::string() : head[0]));
  }
  if (head.size() >= 2) name = head[1];

  try {
    if (ReadLayerCodes(record_text, "Landuse_Layers", layer_codes, layer_code_count) < 1) {
      fail("\"Landuse_Layers\" lists no land-use code");
    }
  } catch (const std::invalid_argument& bad) {
    fail("\"Landuse_Layers\" holds an item that is no whole number: " + Quoted(bad.what()));
  }
  layer_codes_read = layer_codes;

  const auto number = [&](const std::string& key, double fallback) {
    const std::optional<std::string> value = ValueOf(record_text, key);
    if (!value) return fallback;
    double parsed = 0.0;
    if (!ParseDouble(FirstWord(*value), parsed)) fail(Quoted(key) + " is not a number: " + Quoted(*value));
    return parsed;
  };
  k_extinct = number("k_extinct", 0.3);
  LAI_scale = number("LAI_scale", 10.0);
}

int multilayer_landuse_entry::LayerCode(int layer) const {
  if (layer < 1 || layer > layer_code_count || static_cast<std::size_t>(layer) >= layer_codes.size()) {
    return kNoLayerCode;
  }
  return layer_codes[static_cast<std::size_t>(layer)];
}

}  // namespace velmo
