// Control-file preprocessing: symbol definitions, references, comments and
// joins, written into the copy the readers use.
#include "setup/preprocess.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"
#include "setup/defltuzr.h"

namespace velmo {
namespace {

constexpr const char* kWordEnd = " \t\r\n";
constexpr const char* kRule = "-----------------------------------------------------------";

// Text that a symbol expansion has put into the line: [start, end) of the line,
// kept up to date while later expansions shift or swallow its end.
struct ActiveExpansion {
  int symbol;  // 0-based
  std::size_t end;
};

// Reads one physical line of any length without its line end (LF or CR LF).
// `had_line_end` tells whether a line feed closed it.
bool ReadControlLine(std::istream& in, std::string& line, bool& had_line_end) {
  if (!std::getline(in, line)) return false;
  had_line_end = !in.eof();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace

void CutComment(std::string& line) {
  const std::size_t hash = line.find('#');
  if (hash == std::string::npos || hash == 0) return;
  line.resize(hash - 1);
  line.push_back('\n');
}

std::string ReferenceAt(const std::string& line, std::size_t pos) {
  const std::size_t end = line.find_first_of(kWordEnd, pos);
  std::string word = line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
  const std::size_t join = word.find("//");
  if (join != std::string::npos) word.resize(join);
  const std::size_t semicolon = word.find(';');
  if (semicolon != std::string::npos) word.resize(semicolon);
  return word;
}

void RemoveJoins(std::string& line) {
  for (std::size_t join = line.find("//"); join != std::string::npos; join = line.find("//", join)) {
    line.erase(join, 2);
  }
}

SubstitutionOutcome SubstituteLine(std::string& line, const std::vector<std::string>& symbol_names,
                                   const std::vector<std::string>& symbol_values, int symbol_count,
                                   int defining_symbol) {
  CutComment(line);
  if (line.find("$set") != std::string::npos) return {};

  // Each pass replaces the first reference of the line, so a value that holds
  // references is expanded in turn. A symbol met again inside its own
  // expansion would never end.
  std::vector<ActiveExpansion> active;
  if (defining_symbol > 0) active.push_back({defining_symbol - 1, std::string::npos});
  for (std::size_t pos = line.find('$'); pos != std::string::npos; pos = line.find('$')) {
    const std::string reference = ReferenceAt(line, pos);
    int found = -1;
    for (int i = 0; i < symbol_count; ++i) {
      if (symbol_names[i] == reference) {
        found = i;
        break;
      }
    }
    if (found < 0) return {SubstitutionFault::kUndefinedSymbol, 0};

    while (!active.empty() && active.back().end <= pos) active.pop_back();
    for (const ActiveExpansion& expansion : active) {
      if (expansion.symbol == found) return {SubstitutionFault::kSelfReference, found + 1};
    }
    const std::string& value = symbol_values[found];
    const std::size_t name_end = pos + reference.size();
    if (value.size() > reference.size() &&
        line.size() - reference.size() + value.size() > kMaxSubstitutedLength) {
      return {SubstitutionFault::kLineTooLong, found + 1};
    }
    for (ActiveExpansion& expansion : active) {
      if (expansion.end == std::string::npos) continue;
      // A reference that runs past the end of an expansion belongs to it whole.
      expansion.end =
          expansion.end >= name_end ? expansion.end - reference.size() + value.size() : pos + value.size();
    }
    line.replace(pos, reference.size(), value);
    active.push_back({found, pos + value.size()});
  }
  RemoveJoins(line);
  return {};
}

std::array<std::string, 4> DefinitionWords(const std::string& line) {
  std::array<std::string, 4> words;
  std::istringstream stream(line);
  for (std::string& word : words) {
    if (!(stream >> word)) break;
  }
  return words;
}

bool IsNumericSymbolValue(const std::string& value) {
  for (const char* special : {"inf", "nan", "INF", "NAN", "Inf", "Nan"}) {
    if (value.find(special) != std::string::npos) return true;
  }
  char* end = nullptr;
  std::strtod(value.c_str(), &end);
  return *end == '\0';
}

std::string& defaultini::SubstituteSymbols(std::string& line, int line_number,
                                           const std::vector<std::string>& symbol_names,
                                           const std::vector<std::string>& symbol_values, int symbol_count,
                                           int defining_symbol) {
  const SubstitutionOutcome outcome =
      SubstituteLine(line, symbol_names, symbol_values, symbol_count, defining_symbol);
  switch (outcome.fault) {
    case SubstitutionFault::kNone:
      return line;
    case SubstitutionFault::kUndefinedSymbol:
      *messages << "FATAL: \n"
                << kRule << "\npossible error in control file!\n"
                << "undefined symbol at line " << line_number << ":\n"
                << line << "\n\n"
                << kRule << "\n"
                << "[end-entry]";
      throw ErrorCode{kUndefinedSymbolCode};
    case SubstitutionFault::kSelfReference:
      *messages << "FATAL: \n"
                << kRule << "\npossible error in control file!\n"
                << "symbol " << symbol_names[outcome.symbol - 1] << " refers to itself at line "
                << line_number << ":\n"
                << line << "\n\n"
                << kRule << "\n"
                << "[end-entry]";
      throw ErrorCode{kSelfReferenceCode};
    case SubstitutionFault::kLineTooLong:
      *messages << "FATAL: \n"
                << kRule << "\npossible error in control file!\n"
                << "substituting symbol " << symbol_names[outcome.symbol - 1] << " makes line " << line_number
                << " longer than " << static_cast<long long>(kMaxSubstitutedLength) << " characters:\n"
                << line << "\n\n"
                << kRule << "\n"
                << "[end-entry]";
      throw ErrorCode{kSubstitutedLineTooLongCode};
  }
  return line;
}

void defaultini::CompileSymbols(const std::string& source_name, std::string& intern_name) {
  *messages << "compiling symbols in control file " << source_name << "[end-entry]";
  intern_name = source_name + ".intern";

  std::ifstream source;
  std::error_code ignored;
  if (!std::filesystem::is_directory(source_name, ignored)) source.open(source_name);
  if (!source.is_open()) {
    *messages << "FATAL: error opening " << source_name << "[end-entry]";
    throw ErrorCode{kControlFileOpenErrorCode};
  }

  // Pass 1: the symbol table. A value may use the symbols of earlier lines.
  std::vector<std::string> symbol_names;
  std::vector<std::string> symbol_values;
  std::string line;
  bool had_line_end = false;
  int line_number = 0;
  while (ReadControlLine(source, line, had_line_end)) {
    ++line_number;
    if (line.starts_with('#') || line.find("$set") == std::string::npos) continue;
    const std::array<std::string, 4> words = DefinitionWords(line);
    symbol_names.push_back(words[1]);
    symbol_values.push_back(words[3]);
    const int count = static_cast<int>(symbol_names.size());
    std::string value = words[3];
    SubstituteSymbols(value, line_number, symbol_names, symbol_values, count, count);
    symbol_values.back() = value;
    if (IsNumericSymbolValue(value)) continue;
    // One notice per new symbol, naming the first that holds the same value:
    // naming every pair would give about n*n/2 entries for n aliases.
    const auto earlier_end = symbol_values.end() - 1;
    const auto same = std::find(symbol_values.begin(), earlier_end, value);
    if (same != earlier_end) {
      const auto earlier = same - symbol_values.begin();
      *messages << "INFO: \n------------------------ WARNING --------------------------"
                << "\npossible error in control file!\n"
                << "content of symbol " << symbol_names[earlier] << " is the same as symbol "
                << symbol_names.back() << ", \n (which is: " << symbol_values[earlier] << ").\n"
                << "this may lead to collusions!"
                << "\n"
                << kRule << "\n"
                << "[end-entry]";
    }
  }

  source.clear();
  source.seekg(0);
  if (source.fail()) {
    *messages << "FATAL: error rewinding " << source_name << "[end-entry]";
    throw ErrorCode{kControlFileOpenErrorCode};
  }
  // The copy is written under a name of this process and then renamed, so
  // that a run started at the same moment never reads a half-written copy.
  // Messages name the copy the user knows.
  const std::string partial_name = intern_name + "." + std::to_string(static_cast<long>(getpid()));
  const auto fail_opening = [&] {
    *messages << "FATAL: error opening " << intern_name << "[end-entry]";
    throw ErrorCode{kControlFileOpenErrorCode};
  };
  std::ofstream copy(partial_name, std::ios::out | std::ios::trunc);
  if (!copy.is_open()) fail_opening();
  // A copy that is not completed does not stay behind.
  struct partial_copy {
    const std::string& name;
    bool done = false;
    ~partial_copy() {
      if (!done) std::remove(name.c_str());
    }
  } partial{partial_name};

  // Pass 2: the copy. The blank in front keeps a "#" or "$" of the first
  // column off position 0; definitions (now starting with "$") are left out.
  const int symbol_count = static_cast<int>(symbol_names.size());
  line_number = 0;
  while (ReadControlLine(source, line, had_line_end)) {
    ++line_number;
    std::string work = " " + line;
    if (had_line_end) work.push_back('\n');
    SubstituteSymbols(work, line_number, symbol_names, symbol_values, symbol_count, 0);
    if (work.size() > 1 && work[1] == '$') continue;
    // Paths written on other systems: a backslash in the copy, which the
    // modules read, is a folder separator.
    UseSlashes(work);
    copy << std::string_view(work).substr(1);
  }

  source.clear();
  source.close();
  if (source.fail()) {
    *messages << "FATAL: error closing " << source_name << "[end-entry]";
    throw ErrorCode{kControlFileCloseErrorCode};
  }
  // A failed write shows here too: the copy would be incomplete.
  copy.close();
  if (copy.fail()) {
    *messages << "FATAL: error closing " << intern_name << "[end-entry]";
    throw ErrorCode{kControlFileCloseErrorCode};
  }
  // A copy that cannot take its name (a folder of that name) is one that
  // cannot be created.
  if (std::rename(partial_name.c_str(), intern_name.c_str()) != 0) fail_opening();
  partial.done = true;
}

}  // namespace velmo
