// Reading "[routing_model]" after its head into routing_parameters, checked as it is read.
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"
#include "routing/abfluss.h"
#include "setup/section_reader.h"

namespace velmo {

void abflussmodellklasse::ReadSection(section_reader& in) {
  routing_parameters& p = parameters_;
  std::string line;

  // Line 3: qmin, qmax, n, S.
  in.Line(line);
  std::istringstream values(line);
  std::string tokens[4];
  const bool complete = (values >> tokens[0] >> tokens[1] >> tokens[2] >> tokens[3]) &&
                        ParseNumber(tokens[0], p.wq.qmin) && ParseNumber(tokens[1], p.wq.qmax) &&
                        ParseNumber(tokens[2], p.wq.intervals) && ParseNumber(tokens[3], p.wq.subintervals);
  if (!complete || !ValidWqSettings(p.wq)) {
    *messages
        << "FATAL: values for min/max specific discharge and/or discharge and time interval splitting   \n"
           "not found in control file"
        << "\n(qmin > 0, qmax >= qmin, 1 <= intervals <= " << kMaxWqIntervals
        << ", 1 <= sub-intervals <= " << kMaxSubintervals << "; line read: " << line << ")"
        << "[end-entry]";
    throw ErrorCode{kControlFileErrorCode};
  }

  p.statistics = in.Statistics("name of the Qstatfiles for ");
  p.observed_file = in.Word("name of spec.discharge files for ");
  const std::string count_prompt = "number column descriptors for ";
  const int count = in.Integer(count_prompt);
  if (count < 0) RaiseControlFileError(count_prompt + section_buffer, name);
  if (count > zone_count) {
    *messages << "FATAL: too much column descriptors (" << count
              << ") in routing model (more than sub basins: " << zone_count << ")"
              << "[end-entry]";
    throw ErrorCode{kControlFileErrorCode};
  }
  ReadColumnDescriptors(in, count);
  p.efficiency_offset = in.Integer("Zeitoffset fuer Beginn der R-square-Berechnung fuer ");
  ReadDescriptions(in);
}

// Pairs of subbasin code and column, read value by value.
void abflussmodellklasse::ReadColumnDescriptors(section_reader& in, int count) {
  std::string token;
  for (int i = 0; i < count; ++i) {
    column_descriptor descriptor;
    if (!in.Token(token) || !ParseNumber(token, descriptor.code) || ZoneIndex(descriptor.code) == 0) {
      *messages << "FATAL: error reading a subbasin index for column indexing in routing model"
                << " (read: \"" << token << "\", which is no subbasin code)"
                << "[end-entry]";
      throw ErrorCode{kControlFileErrorCode};
    }
    if (!in.Token(token) || !ParseNumber(token, descriptor.column)) {
      *messages << "FATAL: error reading a column number for column indexing in routing model"
                << " (read: \"" << token << "\" for subbasin " << descriptor.code << ")"
                << "[end-entry]";
      throw ErrorCode{kControlFileErrorCode};
    }
    parameters_.columns.push_back(descriptor);
    column_map_[static_cast<size_t>(ZoneIndex(descriptor.code))] = descriptor.column;
  }
  std::string rest;
  if (count > 0) in.Line(rest);
}

// The description lines after the offset line, blank lines passed over, up
// to the first line that holds none of the keywords. A description is a line
// with "TG" and the keyword lines after it without "TG", joined with a blank.
// A description line later in the section would be lost, so it is refused.
// Each description is parsed, and the inflows of all are checked.
void abflussmodellklasse::ReadDescriptions(section_reader& in) {
  std::vector<std::string> texts;
  std::string line;
  if (!in.Line(line)) {
    *messages << "FATAL: error reading a routing description from control file! (eof reached)."
              << "[end-entry]";
    throw ErrorCode{kDescriptionReadCode};
  }
  // The end of the file ends the descriptions as a line of no keyword does.
  bool more = true;
  for (; more; more = in.Line(line)) {
    if (IsBlankLine(line)) continue;
    if (!IsDescriptionLine(line)) break;
    parameters_.totals += CountKeywords(line);
    if (FindKeyword(line, kOutletKeyword) != std::string::npos) {
      texts.push_back(line);
    } else if (texts.empty()) {
      // It would belong to no outlet.
      *messages << "FATAL: routing description line without a \"TG\" line before it in " << section_buffer
                << ":\n"
                << line << "[end-entry]";
      throw ErrorCode{kDescriptionReadCode};
    } else {
      texts.back() += " " + line;
    }
  }
  const std::string end = line;
  if (more && !IsSectionHeader(end) && in.LaterLine(IsDescriptionLine, line)) {
    *messages << "FATAL: the routing descriptions of " << section_buffer << " end at the line\n"
              << end << "\nbut the description line\n"
              << line << "\nfollows it (between descriptions only blank lines may stand)"
              << "[end-entry]";
    throw ErrorCode{kDescriptionReadCode};
  }

  try {
    for (std::size_t i = 0; i < texts.size(); ++i) {
      try {
        parameters_.descriptions.push_back(ParseRoutingDescription(texts[i]));
      } catch (const description_error& error) {
        *messages << "FATAL: error reading routing description " << i + 1 << " of " << section_buffer << ": "
                  << error.what << " not found in:\n"
                  << texts[i] << "[end-entry]";
        throw ErrorCode{kDescriptionReadCode};
      }
    }
    CheckInflows(parameters_.descriptions, parameters_.totals.inflows, name);
  } catch (const part_error& error) {
    *messages << "FATAL: " << error.message << "[end-entry]";
    throw ErrorCode{error.code};
  }
}

void abflussmodellklasse::LogCounts() const {
  const keyword_counts& t = parameters_.totals;
  *messages << "number inbetween areas (routings)    : " << t.outlets << "[end-entry]";
  *messages << "number tributaries  total      (OL)  : " << t.summed + t.tributaries + t.joins
            << "[end-entry]";
  *messages << " - flowing into another at the end   : " << t.tributaries << "[end-entry]";
  *messages << " - flowing into another at the start : " << t.summed + t.joins << "[end-entry]";
  *messages << "so the total of routingchannels is   : " << t.summed + t.tributaries << "[end-entry]";
  *messages << "number of inflows              (ZL)  : " << t.inflows << "[end-entry]";
  *messages << "number of abstractions         (AL)  : " << t.abstractions << "[end-entry]";
  *messages << "number reservoirs              (SP)  : " << t.reservoirs << "[end-entry]";
}

}  // namespace velmo
