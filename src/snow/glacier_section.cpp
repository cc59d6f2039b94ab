// Reading "[ice_firn]" into the glacier parameters, each value checked as it is read.
#include <string>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"
#include "setup/section_reader.h"
#include "snow/glacier.h"

namespace velmo {
namespace {

constexpr const char* kSection = "[ice_firn]";
constexpr int kLongestMonth = 31;
constexpr int kLastMonth = 12;
constexpr int kFebruary = 2;
constexpr int kLongestFebruary = 29;
constexpr int kShortMonths[] = {4, 6, 9, 11};

// The next numbers of the section, wherever their lines end ('i' a whole
// number, 'd' a decimal, in the order of `kinds`), each a whole token; the
// rest of the line of the last is skipped. False as soon as one is missing or
// no number, with that token (empty at the end of the file) in `token`.
bool ReadFreeNumbers(section_reader& in, const std::string& kinds, int* whole, double* decimal,
                     std::string& token) {
  int w = 0;
  int d = 0;
  for (char kind : kinds) {
    if (!in.Token(token)) return false;
    if (kind == 'i' ? !ParseNumber(token, whole[w++]) : !ParseNumber(token, decimal[d++])) return false;
  }
  in.Line(token);
  return true;
}

// The tail of the entry of free numbers that cannot be read: the token that
// is no number.
std::string TokenNote(const std::string& token) {
  return token.empty() ? std::string() : "\n(\"" + token + "\" is no number as a whole)";
}

bool IsDate(int day, int month) {
  if (month < 1 || month > kLastMonth || day < 1 || day > kLongestMonth) return false;
  if (month == kFebruary) return day <= kLongestFebruary;
  for (int short_month : kShortMonths)
    if (month == short_month) return day <= kLongestMonth - 1;
  return true;
}

// The entry of a value that cannot work, and its code.
[[noreturn]] void RaiseGlacierValue(MessageStream* messages, const std::string& text) {
  RaiseFatal(messages, "FATAL: " + std::string(kSection) + ": " + text, kGlacierSetUpCode);
}

void ReadDynamicValues(section_reader& in, glacier_parameters& p) {
  MessageStream* messages = in.Module().messages;
  p.snow_melt_statistics = in.Statistics("name of the qSnowOnGlac-statistic-file for ");
  p.readgrid = in.Integer("read grid parameter for glacier model ");

  int whole[2] = {};
  double decimal[4] = {};
  std::string token;
  if (!ReadFreeNumbers(in, "idd", whole, decimal, token)) {
    RaiseFatal(messages,
               std::string("FATAL: \n------------- Fatal Error: -------------\n") +
                   "Could not read the three parameters firn_levels (int),\n" +
                   "firn_base (double), and deltafirnper100m (double)  \n" +
                   "for dynamic glacier modelling " + TokenNote(token),
               kGlacierSetUpCode);
  }
  p.firn_levels = whole[0];
  p.firn_base = decimal[0];
  p.deltafirnper100m = decimal[1];
  if (p.firn_levels < 1)
    RaiseGlacierValue(messages, "firn_levels must be at least 1. Here: " + std::to_string(p.firn_levels));

  if (!ReadFreeNumbers(in, "ii", whole, decimal, token)) {
    RaiseFatal(messages,
               std::string("FATAL: \n------------- Fatal Error: -------------\n") +
                   "Could not read the two parameters GMBEvalDay (int 1...31)\n" +
                   "and GMBEvalMonth (int 1..12) for dynamic glacier modelling " + TokenNote(token),
               kGlacierSetUpCode);
  }
  p.GMBEvalDay = whole[0];
  p.GMBEvalMonth = whole[1];
  if (!IsDate(p.GMBEvalDay, p.GMBEvalMonth)) {
    RaiseGlacierValue(messages, "GMBEvalDay " + std::to_string(p.GMBEvalDay) + " and GMBEvalMonth " +
                                    std::to_string(p.GMBEvalMonth) +
                                    " name no day of the year, so the glacier mass balance would never be "
                                    "evaluated");
  }

  if (!ReadFreeNumbers(in, "ddii", whole, decimal, token)) {
    RaiseFatal(messages,
               std::string("FATAL: \n------------- Fatal Error: -------------\n") +
                   "Could not read the four parameters VAscaling, VAexponent, numElevBands and "
                   "extraWeightFactorBand0\n" +
                   "for Volume-Area-Relation in dynamic glacier modelling " + TokenNote(token),
               kGlacierSetUpCode);
  }
  p.VAscaling = decimal[0];
  p.VAexponent = decimal[1];
  p.numElevBands = whole[0];
  p.extraWeightFactorBand0 = whole[1];
  auto check = [&](bool works, const std::string& text, double value) {
    if (works) return;
    *messages << "FATAL: " << kSection << ": " << text << " Here: " << value << "[end-entry]";
    throw ErrorCode{kGlacierSetUpCode};
  };
  check(p.VAscaling > 0.0, "VAscaling must be above 0.", p.VAscaling);
  check(p.VAexponent > 0.0, "VAexponent must be above 0.", p.VAexponent);
  check(p.numElevBands >= 1, "numElevBands must be at least 1.", p.numElevBands);
  check(p.extraWeightFactorBand0 >= 0, "extraWeightFactorBand0 must not be below 0.",
        p.extraWeightFactorBand0);

  p.firn_stack = in.Grid("name of the firn stack for ", "write code for the firn stack in ");
  p.firn_statistics = in.Statistics("name of the firn-statistic-file for ");
  p.mass_balance_grid =
      in.Grid("name of the glacier mass balance grid for ", "write code for glacier mass balance grid in ");
  p.old_mass_balance_grid = in.Grid("name of the glacier mass balance grid (old reference) for ",
                                    "write code for glacier mass balance grid (old reference) in ");
  p.mass_balance_statistics = in.Statistics("name of the glacier mass balance statistics file (1) for ");
  p.glacier_mass_balance_statistics =
      in.Statistics("name of the glacier mass balance statistics file (2) for ");
  p.debris_scaling =
      in.Number("global debris scaling factor (requirede when using a debris_on_glaciers grid) ");
  p.snow_storage_statistics = in.Statistics("name of the snow statistics for snow on glacier for ");
  p.solid_on_glacier_grid =
      in.Grid("name of the snow storage grid (solid fraction of WE, glacierized fraction of cell) for ",
              "write code for snow storage grid (solid fraction of WE, glacierized fraction of cell) in ");
  p.liquid_on_glacier_grid =
      in.Grid("name of the snow storage grid (liquid fraction of WE, glacierized fraction of cell) for ",
              "write code for snow storage grid (liquid fraction of WE, glacierized fraction of cell) in ");
  p.total_on_glacier_grid =
      in.Grid("name of the snow storage grid (total on glacierized fraction of cell) for ",
              "write code for snow storage grid (total on glacierized fraction of cell) in ");
  p.snow_melt_on_glacier_grid =
      in.Grid("name of the snow snow melt grid (incl. rain, total on glacierized fraction of cell) for ",
              "write code for snow melt grid (incl. rain, total on glacierized fraction of cell) in ");
  p.surface_temperature_on_glacier_grid = in.Grid(
      "name of the snow surface temperature grid (incl. rain, total on glacierized fraction of cell) for ",
      "write code for snow surface temperature  (incl. rain, total on glacierized fraction of cell) in ");
  p.snow_temperature_on_glacier_grid =
      in.Grid("name of the snow temperature grid (incl. rain, total on glacierized fraction of cell) for ",
              "write code for snow temperature grid (incl. rain, total on glacierized fraction of cell) in ");
  p.snow_evaporation_on_glacier_grid =
      in.Grid("name of the snow evaporation grid (incl. rain, total on glacierized fraction of cell) for ",
              "write code for snow evaporation grid (incl. rain, total on glacierized fraction of cell) in ");

  if (ReadFreeNumbers(in, "dd", whole, decimal, token)) {
    p.maxSnowPackToCreateGlacier = decimal[0];
    p.relSizeNewGlacier = decimal[1];
  } else if (StartsAsNumber(token)) {
    // A number that is none as a whole is no missing pair.
    RaiseGlacierValue(messages,
                      "maxSnowPackToCreateGlacier and relSizeNewGlacier cannot be read" + TokenNote(token));
  } else {
    *messages
        << "WARNING: \n------------- warning: -------------\n"
        << "Could not read the two optional parameters maxSnowPackToCreateGlacier (double),\n"
        << "and relSizeNewGlacier (double) for dynamic glacier modelling that will be used for creating "
           "new glaciers\n"
        << "Setting default values of 1000 and 0.25, i.e. 1000 mm SWE will rmain on a cell that is partly "
           "glacierized already, the rest is put into the glacier.\n"
        << "For cells with no existing glacier, the amount > 1000 will be used to create a glacier that "
           "encompasses 25% of the cell"
        << "[end-entry]";
  }
  check(p.relSizeNewGlacier > 0.0 && p.relSizeNewGlacier <= 1.0, "relSizeNewGlacier must lie in (0, 1].",
        p.relSizeNewGlacier);
}

}  // namespace

void ReadGlacierMethod(section_reader& in, glacier_parameters& p) {
  p.method = in.Integer("Glacier-Method for ");
  p.kind = GlacierMethodKind(p.method);
  if (!p.kind.defined) {
    RaiseFatal(
        in.Module().messages,
        "FATAL: \n-----------Fatal Error:----------\nMethod for glacier melt must be 1(resp 11 for dynamic "
        "model; t-index)\n or 2 (resp. 12 for dynamic model; t-index with correction by radiation) or 13 "
        "(dynamic glaciers with T-Index for ice and firn and the melt method used for snow as in the snow "
        "model)",
        kGlacierSetUpCode);
  }
}

void ReadGlacierValues(section_reader& in, glacier_parameters& p) {
  p.DDFice = in.Number("DDFice  for ");
  p.DDFfirn = in.Number("DDFfirn for ");
  p.DDFsnow = in.Number("DDFsnow for ");
  p.MF = in.Number("MF  for ");
  p.Aice_min = in.Number("Aice_min for ");
  p.Aice_max = in.Number("Aice_max for ");
  p.Asnow_min = in.Number("Asnow_min for ");
  p.Asnow_max = in.Number("Asnow_max for ");
  p.kice_els = in.Number("kice_els for ");
  p.kfirn_els = in.Number("kfirn_els ");
  p.ksnow_els = in.Number("ksnow_els for ");
  for (const auto& [k, prompt] : {std::pair{p.kice_els, "kice_els"}, std::pair{p.kfirn_els, "kfirn_els"},
                                  std::pair{p.ksnow_els, "ksnow_els"}}) {
    if (k < 0.0) {
      *in.Module().messages << "FATAL: " << kSection << ": the storage constant " << prompt
                            << " must not be below 0 (0: no delay). Here: " << k << "[end-entry]";
      throw ErrorCode{kGlacierSetUpCode};
    }
  }
  p.initial_Qice = in.Number("initial Qice_els for ");
  p.initial_Qfirn = in.Number("initial Qfirn_els ");
  p.initial_Qsnow = in.Number("initial Qsnow_els for ");
  p.firn_melt_grid = in.Grid("name of the firn grid for ", "write code for firn grid for ");
  p.firn_melt_statistics = in.Statistics("name of the qfirn-statistic-file for ");
  p.ice_melt_grid = in.Grid("name of the ice grid for ", "write code for ice grid for ");
  p.ice_melt_statistics = in.Statistics("name of the qice-statistic-file for ");
  p.total_melt_statistics = in.Statistics("name of the qglac-statistic-file for ");
  if (p.kind.dynamic) {
    ReadDynamicValues(in, p);
  } else {
    p.snow_melt_statistics = {SnowOnGlacierTableName(p.total_melt_statistics.file),
                              p.total_melt_statistics.code};
  }
}

}  // namespace velmo
