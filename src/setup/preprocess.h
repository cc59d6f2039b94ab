// Control-file preprocessing: the line-level rules (comments, $set symbol
// references, "//" joins) as pure functions, apart from the file passes of
// defaultini::CompileSymbols.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace velmo {

// Longest line (or symbol value) that substitution may produce, line end and
// the leading blank of a file line included.
inline constexpr std::size_t kMaxSubstitutedLength = 2400;

// Failing to open, rewind, write or close a file gives kControlFileOpenErrorCode
// or kControlFileCloseErrorCode (framework/modelobject.h).
inline constexpr int kUndefinedSymbolCode = 17;          // reference to no defined name
inline constexpr int kSelfReferenceCode = 117;           // symbol that expands into itself
inline constexpr int kSubstitutedLineTooLongCode = 118;  // expansion beyond kMaxSubstitutedLength

enum class SubstitutionFault { kNone, kUndefinedSymbol, kSelfReference, kLineTooLong };

struct SubstitutionOutcome {
  SubstitutionFault fault = SubstitutionFault::kNone;
  int symbol = 0;  // 1-based symbol behind a self-reference or an overlong line
};

// Cuts the line at its first "#" when that lies after position 0: the
// character in front of it becomes a line feed and the rest goes.
void CutComment(std::string& line);

// The reference that starts at the "$" at `pos`: the word up to the next blank,
// tab or line end, cut at its first "//" and then at its first ";".
std::string ReferenceAt(const std::string& line, std::size_t pos);

// Deletes every "//", joining the text on both sides.
void RemoveJoins(std::string& line);

// Comment, references and joins of one line, in place; a line that holds
// "$set" only loses its comment. The first `symbol_count` names are searched
// in order. On a fault the line holds the substitutions made so far.
SubstitutionOutcome SubstituteLine(std::string& line, const std::vector<std::string>& symbol_names,
                                   const std::vector<std::string>& symbol_values, int symbol_count,
                                   int defining_symbol = 0);

// The first four words (blank, tab or line end separated) of a definition
// line; missing words are empty.
std::array<std::string, 4> DefinitionWords(const std::string& line);

// Values that may repeat without a warning: numbers read in full, and any text
// holding "inf" or "nan" in one of its spellings.
bool IsNumericSymbolValue(const std::string& value);

}  // namespace velmo
