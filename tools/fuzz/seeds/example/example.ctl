# Example catchment: a small alpine valley of 20 x 15 cells of 100 m (208 of
# them in the catchment, nodata around) that drains south through three
# subbasins, one below the other: 1 the head of the valley, 2 its middle,
# 3 the lower part with the outlet. Meadows on the valley floor, forest on
# the slopes; two soils. Three stations (Alp, Ridge, Valley) give a month of
# hourly records, March 2000: snowfalls, frosty days, thaws with rain on the
# snow, sunny days that melt the cover and a warm storm near the end.
#
# The road of every hour: precipitation by inverse-distance weighting,
# temperature by Thiessen polygons with a lapse rate, humidity, wind and
# radiation by distance weighting; the radiation correction for slope and
# aspect (no shadows); Penman-Monteith; the snow model (degree-day), the
# canopy (interception of the snow cover's outflow), infiltration and the
# soil model; the real evapotranspiration; routing of the subbasins' runoff
# through two channels to the outlet, in m3/s, compared with an observed
# discharge (discharge/observed.txt, made by tools/make_observed.py). The
# outlet of subbasin 2 holds a small reservoir, from which an abstraction
# takes water out of the valley.
# tools/make_example.py writes the grids and station files.
$set $year = 2000

[output_interval]
24      progress messages every 24 hours
0       no warning about cells without a station
1       routing output in m3/s (0: mm per step)
0       minutes from the data time stamp to the end of the step
WriteAsciiGrids = 1
timestep = 60

[output_list]
3
1       subbasins named in the statistics tables that list subbasins,
2       one code per line, rising
3

[coordinates]
47.0    geographic latitude
8.5     geographic longitude
15.0    reference meridian
0.0     time shift of the data time to local time

[meteo_data_count]
5       meteorological variables

[meteo_names]
precipitation
temperature
air_humidity
wind_speed
global_radiation

[precipitation]
1       method: 1 [idw], 4 [thiessen], 9 [ReadGrid], 12 [Thiessen combines with elevation gradient]
meteo/precipitation.txt     station file
none    regression file (not used by idw)
precipitation.asc           result grid
15      write code: a date-stamped grid each day and the sum over the run
1.0     scaling factor
precipitation.stat 2001 statistics table: zone means every step
999     nodata value: station values beyond +-999 are missing
2       idw weight
1.0     fraction of idw (methods 3 and 11 only)
10000   maximum distance (m)
0       slope of the main axis of the anisotropy ellipse (degrees)
1       anisotropy b/a
0       lower limit of results
0       replacement below the lower limit
500     upper limit of results
500     replacement above the upper limit
0       no scenarios

[temperature]
12      method: Thiessen combines with elevation gradient
meteo/temperature.txt       station file
-0.0065 lapse rate (degrees C per m)
temperature.asc             result grid
85      write code: a date-stamped grid each day and the daily mean
1.0     scaling factor
temperature.stat 2024    statistics table: daily zone means
999     nodata value
2       idw weight (not used by method 12)
1.0     fraction of idw (not used)
10000   maximum distance (m, not used)
0       slope of the anisotropy ellipse (degrees)
1       anisotropy b/a
-60     lower limit of results
-60     replacement below the lower limit
50      upper limit of results
50      replacement above the upper limit
0       no scenarios

[air_humidity]
1       method: idw
meteo/air_humidity.txt     station file
none    regression file (not used by idw)
air_humidity.asc           result grid
0        write code
1.0     scaling factor
air_humidity.stat 0    no table
999     nodata value: station values beyond +-999 are missing
2       idw weight
1.0     fraction of idw (methods 3 and 11 only)
10000   maximum distance (m)
0       slope of the main axis of the anisotropy ellipse (degrees)
1       anisotropy b/a
0       lower limit of results
0       replacement below the lower limit
1     upper limit of results
1     replacement above the upper limit
0       no scenarios

[wind_speed]
1       method: idw
meteo/wind_speed.txt     station file
none    regression file (not used by idw)
wind_speed.asc           result grid
0        write code
1.0     scaling factor
wind_speed.stat 0      no table
999     nodata value: station values beyond +-999 are missing
2       idw weight
1.0     fraction of idw (methods 3 and 11 only)
10000   maximum distance (m)
0       slope of the main axis of the anisotropy ellipse (degrees)
1       anisotropy b/a
0       lower limit of results
0       replacement below the lower limit
60     upper limit of results
60     replacement above the upper limit
0       no scenarios

[global_radiation]
1       method: idw
meteo/global_radiation.txt     station file
none    regression file (not used by idw)
global_radiation.asc           result grid
0        write code
1.0     scaling factor
global_radiation.stat 2024    daily zone means
999     nodata value: station values beyond +-999 are missing
2       idw weight
1.0     fraction of idw (methods 3 and 11 only)
10000   maximum distance (m)
0       slope of the main axis of the anisotropy ellipse (degrees)
1       anisotropy b/a
0       lower limit of results
0       replacement below the lower limit
1500     upper limit of results
1500     replacement above the upper limit
0       no scenarios

[radiation_correction]
1       flow control parameter: on
60      time interval (minutes)
3       method: slope and aspect, no shadows, no corrected temperature
corr_temperature.asc    corrected temperature (not with method 3)
0       not written
1.0     scaling factor of the temperature correction
radiation_correction.asc    correction factor of the radiation
80      write code: the daily mean
shadow.asc      shadows of the terrain (not with method 3)
0       not written
1       recompute every step
4       sub-steps per step

[evapotranspiration]
1       flow control parameter: on
60      time interval (minutes)
1       method: Penman-Monteith
1 1 1 1 1 1 1 1 1 1 1 1
0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3
1.0     coast factor (Wendling only)
etp.asc         potential transpiration (with the soil evaporation in layer 0)
45      write code: a date-stamped grid each day and the daily sum
etp.stat 2001   zone means every step
etr.asc         real transpiration (layer 0: the whole real evapotranspiration)
13      written at the end, with the sum over the run
etr.stat 2001   zone means every step
evap.asc        potential soil evaporation
0       not written
evap.stat 0     no table
evar.asc        real soil evaporation
0
evar.stat 0
esnow.asc       snow evaporation (with a snow model)
0
esnow.stat 0
eip.asc         potential interception evaporation
0
eip.stat 0
rgex.stat 2024  corrected global radiation: daily zone means
0.23 0.29 0.28 0.2              a0..a3: radiation from relative sunshine
0.072 -0.808 1.749 -0.239       CS: relative sunshine from radiation
0.7 0.05                        transmissivity: mean and annual amplitude
1000                            m: elevation scale of the daily temperature amplitude
4 5 6 7 8 8 9 8 7 6 5 4        K: daily temperature amplitudes (daily steps only)
0.6 0.0                         day share of the amplitude, its annual variability

HamonCorrectionOpenWater = 1.0

[snow_model]
1       on
60      time interval in minutes
1       method: 1 degree-day, 2 temperature-wind index, 3 rain-on-snow index (8 to 14: with slides or snow drift)
0.5     transzone (K): half width of the rain/snow transition around T0R
0.0     T0R (degrees C): rain/snow threshold
0.0     T0 (degrees C): melt threshold
0.1     CWH: liquid water the cover holds, share of its solid storage
0.5     CRFR: refreezing coefficient (methods 3 and 4)
1.5 1.8 2.4 3.0 3.5 3.8 4.0 4.0 3.5 2.8 2.0 1.6     DDF (mm per degree C and day), January to December
2.0     c0 of the temperature-wind index (one value for all months)
0.5     c1 of the temperature-wind index (per m/s)
0.01    z0 (m)
1.0     RMFMIN (mm per degree C and day)
3.0     RMFMAX
0.4     ALBsnow_min: albedo of old snow
0.9     ALBsnow_max: albedo of fresh snow
rain.asc                    rain grid
0                           its write code
rain.stat 2024              rain statistics: daily zone sums
snowfall.asc                snowfall grid
0
snowfall.stat 2024
snowdays.asc                snow days grid
0
snowdays.stat 0
snowage.asc                 snow age grid
0
snowage.stat 0
albedo.stat 0               albedo statistics
snowoutflow.asc             outflow of the snow cover
13                          its sum over the run, written at the end
snowoutflow.stat 4024       daily zone sums
snowmelt.asc                outflow of steps with melt
0
snowmelt.stat 0
snowsolid.asc               solid storage
0
snowliquid.asc              liquid storage
0
snowstorage.stat 2001       statistics of the whole cover: zone means every step
snowtotal.asc               whole cover
4                           written at the end of each day
0       readgrid: 1 reads the initial cover from the grid files above

[RegionalSuperposition]
0       flow control parameter: no regional superposition (the precipitation correction then works on the stations)
60      time interval in minutes

[precipitation_correction]
0       do_it: 0 = precipitation is not corrected for the catch loss of the gauges
0.0     threshold temperature (degrees C): snow at or below it
1.0     rain constant
0.0     rain slope per unit of wind speed
1.0     snow constant
0.0     snow slope per unit of wind speed

[model_time]
startminute = 0
starthour = 1
startday = 1
startmonth = 3
startyear = $year
endminute = 0
endhour = 0
endday = 3
endmonth = 3
endyear = $year

[landuse_table]
2   number of land uses
1 meadow method VariableDayCount {
  RootDist = 1.0; TReduWet = 0.95; HReduDry = 3.45; IntercepCap = 0.2;
  JulDays = 1 120 240 366;
  Albedo = 0.23 0.23 0.23 0.23;
  LAI = 1.5 2.5 3.5 1.5;
  Z0 = 0.02 0.03 0.05 0.02;
  VCF = 0.6 0.8 0.9 0.6;
  RootDepth = 0.4 0.4 0.4 0.4;
  AltDep = 0 0 0 0;
  rsc = 60 50 40 60;
  rs_interception = 20 20 20 20;
  rs_evaporation = 250 250 250 250;
}
2 forest method VariableDayCount {
  RootDist = 1.0; TReduWet = 0.95; HReduDry = 3.45; IntercepCap = 0.35;
  JulDays = 1 120 240 366;
  Albedo = 0.12 0.12 0.12 0.12;
  LAI = 5 6 7 5;
  Z0 = 1.5 1.5 1.5 1.5;
  VCF = 0.9 0.9 0.9 0.9;
  RootDepth = 1.0 1.0 1.0 1.0;
  AltDep = 0 0 0 0;
  rsc = 90 80 70 90;
  rs_interception = 10 10 10 10;
  rs_evaporation = 300 300 300 300;
}

[soil_table]
2   number of soil types: code, name, field capacity and saturated water content (volume %), conductivity (m/s), suction (mm)
1 loam 25 35 0.00001 300
2 sandy_loam 18 32 0.00003 150

[zone_grid]
grids/subbasins.asc

[elevation_model]
grids/elevation.asc

[standard_grids]
7       further input grids
grids/subbasins.asc zonegrid_soilmodel fillcode = 0     subbasins of the soil model
grids/flow_times.asc flow_times fillcode = 0            travel time to the subbasin's outlet, s
grids/topo_index.asc topographic_faktor fillcode = 0    topographic index ln(a/tan b)
grids/landuse.asc landuse fillcode = 0                  1 meadow, 2 forest
grids/albedo.asc albedo fillcode = 0                    snow-free albedo of the land uses
grids/soil.asc soil_types fillcode = 0                  1 loam, 2 sandy loam
lakes.asc lake_codes fillcode = 0 readcode = 0 defaultValue = -9999   no lake

[variable_grids]
1       grids the modules change during the run
soil_storage.asc soil_storage 0 0.8    relative soil moisture, starts at 0.8
0       write code
0       read code: created from the default value

[region_transition_distance]
2000    m between regression regions

[substance_transport]
0       tracers

[special_output]
1       on
60      minutes per step
numfiles = 1;
file {
  filename = points.txt;
  header = valley_station;
  entity {
    ID = [elevation_model];
    Symbol = elev;
    Xcoords = 682150;
    Ycoords = 240150;
  }
  entity {
    ID = snow_storage_total;
    Symbol = snow;
    Xcoords = 682150;
    Ycoords = 240150;
  }
}

[soil_model]
1       flow control: on, runoff handed to routing
60      minutes per step
1       method: without delayed baseflow
sd.asc  saturation deficit
0       write code
suz.asc drainage storage
0       write code
sif.asc interflow storage
0       write code
sbia.asc inactive soil moisture
0       write code
nfkia.asc inactive field capacity
0       write code
ssp.asc saturated soil partition
0       write code
qd.asc  direct runoff
0       write code
qi.asc  interflow
0       write code
peakflow.asc    largest direct runoff of the run (written at its end)
qd.stat 2001    statistics file and code of every table: subbasin columns, each step
qi.stat 2001
qb.stat 2001
qbb.stat 2001
qges.stat 2001
sb.stat 2024
suz.stat 2024
sif.stat 2024
sd.stat 2024
1       2       3       subbasin codes
0.025   0.03    0.035   m: recession parameter, m
2e-8    3e-8    2.5e-8  Tkorr: transmissivity scaling
1.0     1.2     1.5     Kkorr: drainage scaling
2       3       4       k_ELS_QD: storage constant of direct runoff, h
5       5       4       SHmax: interflow storage capacity, mm
12      15      18      k_ELS_QI: storage constant of interflow, h
200     200     200     k_ELS_QBB: storage constant of delayed baseflow, h
0.05    0.05    0.05    alpha: delayed-baseflow recharge at saturation, mm/h
0       0       0       QBBini
2       2       2       SUZini: initial interflow storage, mm
0.3     0.3     0.3     SDini: initial deficit, share of the root zone
6       6       6       Pgrenz: macropore threshold, mm/h
0.6     0.6     0.6     Rrueck: reinfiltrating share
0.2     0.2     0.2     QDsnow: surface-runoff share of snowmelt
0       read mode of the stored state: none
state.ftz       state file

[infiltration_model]
1       infiltration on
60      minutes per step (as the soil model)
infex.asc       infiltration excess
0       write code
infex.stat 2001
infsat.asc      saturation marker
0       write code
0.2     share of the excess that enters through macropores

[lake_model]
0       no lakes in the soil model

[routing_model]
1       flow control: on
60      minutes per step
1 2000 30 2     qmin, qmax (l/s/km2), intervals and sub-intervals of the w-q tables
qrout.stat 2001 discharge table and its code
discharge/observed.txt  observed discharge
1       column descriptors
3 1     subbasin 3, the outlet: column 1 of the observed table
0       steps left out of the efficiency
TG 2 (AE = 1.43, AV = 1) OL 1 (kh = 1, kv = 4, Bm = 2, Bv = 12, Tm = 0.2, Mm = 25, Mv = 12, I = 0.015, L = 1500, AE = 0.64)
   AL 1 = extern abstraction_1.txt (Qmin = 0.01, f = 0.5, Qmax = 0.01 m3/s)
   SP 1 (file = reservoir_1.txt, V0 = 2e4, A0 = 1e4, W0 = 1250, C0 = 0, dTmin = 60)
TG 3 (AE = 2.08, AV = 1) SUMTRIB 2 (kh = 1.5, kv = 6, Bm = 3, Bv = 15, Tm = 0.25, Mm = 25, Mv = 12, I = 0.01, L = 1200, AE = 1.43)
end of the routing descriptions

[interception_model]
1       flow control parameter: on
60      time interval (minutes)
1       method: after the snow model (its outflow), evaporation limited by the potential transpiration
tf.asc  throughfall, the soil model's input
0       not written
tf.stat 2001    zone means every step
ei.asc  interception evaporation
0       not written
ei.stat 2024    daily zone means
si.asc  interception storage
0       not written
si.stat 2001    zone means every step
0.2     mm of water per unit of leaf area where the land use gives none
0       the stores start empty

[abstraction_rule_reservoir_1]
3       rows of stored volume [m3] and outflow [m3/s]
0       0
2e4     0.1
1e5     3
