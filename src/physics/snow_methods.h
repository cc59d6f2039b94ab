// The snow model's method table: what each method number (1 to 14) does. The
// snow model runs its variants by it, and the evapotranspiration model asks it
// whether the snow cover melts by the energy balance.
#pragma once

namespace velmo {

// How a method melts snow above the melt threshold.
enum class snow_melt_kind {
  degree_day,             // DDF·(T − T0)
  temperature_wind,       // (c0 + c1·u)·(T − T0)
  rain_on_snow,           // seasonal or rain-on-snow index, ice saturation pressure at T
  rain_on_snow_humidity,  // the same with the air's vapour pressure
  energy_balance,
};

// What a method number means: its melt, whether it refreezes liquid water
// below the melt threshold, moves snow by slides and scales snowfall by the
// deposition index.
struct snow_method_kind {
  bool defined = false;  // methods 1..14
  snow_melt_kind melt = snow_melt_kind::degree_day;
  bool refreezes = false;
  bool slides = false;
  bool deposition_index = false;
  bool needs_wind = false;
};

// The one place where method numbers map to what they do.
snow_method_kind SnowMethodKind(int method);

}  // namespace velmo
