// The snow model's method table.
#include "physics/snow_methods.h"

namespace velmo {

snow_method_kind SnowMethodKind(int method) {
  using enum snow_melt_kind;
  snow_method_kind kind;
  kind.defined = true;
  switch (method) {
    case 1:
      kind.melt = degree_day;
      break;
    case 2:
      kind.melt = temperature_wind;
      break;
    case 3:
      kind.melt = rain_on_snow;
      kind.refreezes = true;
      break;
    case 4:
      kind.melt = rain_on_snow_humidity;
      kind.refreezes = true;
      break;
    case 5:
      kind.melt = energy_balance;
      break;
    case 6:
      kind.melt = energy_balance;
      kind.slides = true;
      break;
    case 7:
      kind.melt = energy_balance;
      kind.slides = kind.deposition_index = true;
      break;
    case 8:
      kind.melt = degree_day;
      kind.slides = true;
      break;
    case 9:
      kind.melt = degree_day;
      kind.slides = kind.deposition_index = true;
      break;
    case 10:
      kind.melt = degree_day;
      kind.deposition_index = true;
      break;
    case 11:
      kind.melt = energy_balance;
      kind.deposition_index = true;
      break;
    case 12:
      kind.melt = temperature_wind;
      kind.slides = true;
      break;
    case 13:
      kind.melt = temperature_wind;
      kind.deposition_index = true;
      break;
    case 14:
      kind.melt = temperature_wind;
      kind.slides = kind.deposition_index = true;
      break;
    default:
      return snow_method_kind{};
  }
  kind.needs_wind = kind.melt != degree_day;
  return kind;
}

}  // namespace velmo
