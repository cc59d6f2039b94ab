# Example catchment: a tiny valley of two subbasins on a 6 x 5 raster of
# 500 m cells. The control file holds what every run needs (global settings,
# model time, parameter tables, zone grid and elevation model) and the
# meteorological input: hourly precipitation, temperature, air humidity,
# wind speed and global radiation at three stations (meteo/), interpolated
# onto the grid. The radiation correction and Penman-Monteith give the
# potential evapotranspiration. Module sections are added as the modules
# arrive.
$set $year = 2000

[output_interval]
24      progress messages every 24 hours
0       no warning about cells without a station
0       routing output in mm per step (1: m3/s)
0       minutes from the data time stamp to the end of the step
WriteAsciiGrids = 1
timestep = 60

[output_list]
2
1       subbasins named in the statistics tables that list subbasins,
2       one code per line, rising

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
global_radiation.stat 2001    zone means every step
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
2       method: shadows and an exposure-corrected temperature
corr_temperature.asc    corrected temperature
0       not written
1.0     scaling factor of the temperature correction
radiation_correction.asc    correction factor of the radiation
80      write code: the daily mean
shadow.asc      shadows of the terrain
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
etr.asc         real transpiration (a later step)
0       not written
etr.stat 0      no table
evap.asc        potential soil evaporation
45      write code: a date-stamped grid each day and the daily sum
evap.stat 0     no table
evar.asc        real soil evaporation (a later step)
0
evar.stat 0
esnow.asc       snow evaporation (a later step)
0
esnow.stat 0
eip.asc         potential interception evaporation
0
eip.stat 0
rgex.stat 2001  corrected global radiation: zone means every step
0.23 0.29 0.28 0.2              a0..a3: radiation from relative sunshine
0.072 -0.808 1.749 -0.239       CS: relative sunshine from radiation
0.7 0.05                        transmissivity: mean and annual amplitude
1000                            m: elevation scale of the daily temperature amplitude
4 5 6 7 8 8 9 8 7 6 5 4        K: daily temperature amplitudes (daily steps only)
0.6 0.0                         day share of the amplitude, its annual variability

HamonCorrectionOpenWater = 1.0

[model_time]
startminute = 0
starthour = 1
startday = 1
startmonth = 1
startyear = $year
endminute = 0
endhour = 0
endday = 2
endmonth = 1
endyear = $year

[landuse_table]
1   number of land uses
1 meadow 0.2 50 50 50 60 70 70 70 70 60 50 50 50 1 120 240 366 1 2 3 1 0.01 0.02 0.03 0.01 0.5 0.8 0.9 0.5 0.1 0.2 0.3 0.1

[soil_table]
1   number of soil types
1 loam 25 35 0.00001 300

[zone_grid]
grids/subbasins.asc

[elevation_model]
grids/elevation.asc

[standard_grids]
4       further input grids, made of one value here
landuse.asc landuse fillcode = 0 readcode = 0 defaultValue = 1 writecode = 0
soil.asc soil_types fillcode = 0 readcode = 0 defaultValue = 1 writecode = 0
albedo.asc albedo fillcode = 0 readcode = 0 defaultValue = 0.2 writecode = 0
soil_storage.asc soil_storage fillcode = 0 readcode = 0 defaultValue = 0.5 writecode = 0

[variable_grids]
0       grids the modules change during the run

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
  header = elevation;
  entity {
    ID = [elevation_model];
    Symbol = elev;
    Xcoords = 681250;
    Ycoords = 241750;
  }
}
