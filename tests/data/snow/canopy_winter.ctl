# A winter of hourly steps, 1 December to 31 March, on a slope of two
# subbasins, under a canopy: precipitation, temperature, air humidity, wind
# speed and global radiation from three stations (their files written by the
# test), the potential evapotranspiration for the cloudiness and the corrected
# radiation, the interception model with the snow canopy and its energy
# balance (method 31) before the snow model with the energy balance
# (method 5). The grids written are what the water balance of the run needs.
[output_interval]
0       no progress messages
0       no warning about cells without a station
0       routing output in mm per step
0       minutes from the data time stamp to the end of the step
WriteDoubleGrids = 1
timestep = 60

[output_list]
0       no subbasins listed

[coordinates]
47.0    geographic latitude
8.5     geographic longitude
15.0    reference meridian
0.0     time shift of the data time to local time

[meteo_data_count]
5

[meteo_names]
precipitation
temperature
air_humidity
wind_speed
global_radiation

[precipitation]
1       idw
precipitation.txt              station file
none                    regression file
precipitation.asc              result grid
10      write code: the sum over the run
1.0     scaling factor
precipitation.stat 0           no table
999     nodata value
2       idw weight
1.0     fraction of idw
10000   maximum distance (m)
0       anisotropy slope
1       anisotropy ratio
0      lower limit
0      replacement below it
500     upper limit
500     replacement above it
0       no scenarios

[temperature]
12      Thiessen with a lapse rate
temperature.txt              station file
-0.0065                 lapse rate (degrees C per m)
temperature.asc              result grid
0       not written
1.0     scaling factor
temperature.stat 0           no table
999     nodata value
2       idw weight
1.0     fraction of idw
10000   maximum distance (m)
0       anisotropy slope
1       anisotropy ratio
-60      lower limit
-60      replacement below it
50     upper limit
50     replacement above it
0       no scenarios

[air_humidity]
1       idw
air_humidity.txt              station file
none                    regression file
air_humidity.asc              result grid
0       not written
1.0     scaling factor
air_humidity.stat 0           no table
999     nodata value
2       idw weight
1.0     fraction of idw
10000   maximum distance (m)
0       anisotropy slope
1       anisotropy ratio
0      lower limit
0      replacement below it
1     upper limit
1     replacement above it
0       no scenarios

[wind_speed]
1       idw
wind_speed.txt              station file
none                    regression file
wind_speed.asc              result grid
0       not written
1.0     scaling factor
wind_speed.stat 0           no table
999     nodata value
2       idw weight
1.0     fraction of idw
10000   maximum distance (m)
0       anisotropy slope
1       anisotropy ratio
0      lower limit
0      replacement below it
60     upper limit
60     replacement above it
0       no scenarios

[global_radiation]
1       idw
global_radiation.txt              station file
none                    regression file
global_radiation.asc              result grid
0       not written
1.0     scaling factor
global_radiation.stat 0           no table
999     nodata value
2       idw weight
1.0     fraction of idw
10000   maximum distance (m)
0       anisotropy slope
1       anisotropy ratio
0      lower limit
0      replacement below it
1500     upper limit
1500     replacement above it
0       no scenarios

[radiation_correction]
0       off
60      time interval in minutes

[evapotranspiration]
1       flow control parameter: on
60      time interval (minutes)
1       method: Penman-Monteith
1 1 1 1 1 1 1 1 1 1 1 1
0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3
1.0     coast factor (Wendling only)
etp.asc         potential transpiration (with the soil evaporation in layer 0)
0
etp.stat 0
etr.asc         real transpiration (layer 0: the whole real evapotranspiration)
10      the sum over the run
etr.stat 0
evap.asc        potential soil evaporation
0
evap.stat 0     no table
evar.asc        real soil evaporation
0
evar.stat 0
esnow.asc       snow evaporation (with a snow model)
10      the sum over the run
esnow.stat 0
eip.asc         potential interception evaporation
0
eip.stat 0
rgex.stat 0     corrected global radiation: no table
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
5       method: energy balance
1.0     transzone
0.5     T0R
0.0     T0
0.1     CWH
0.5     CRFR
1.5 1.8 2.4 3.0 3.5 3.8 4.0 4.0 3.5 2.8 2.0 1.6     DDF, January to December
2.0     c0
0.5     c1
0.01    z0
1.0     RMFMIN
3.0     RMFMAX
0.5     ALBsnow_min
0.9     ALBsnow_max
rain.asc
0
rain.stat 0
snowfall.asc
0
snowfall.stat 0
snowdays.asc
0
snowdays.stat 0
snowage.asc
0
snowage.stat 0
albedo.stat 0
snowoutflow.asc
10      the sum over the run
snowoutflow.stat 0
snowmelt.asc
0
snowmelt.stat 0
snowsolid.asc
0
snowliquid.asc
0
snowstorage.stat 2024   daily zone means of the whole cover
snowtotal.asc
3       at the end of the run
0       readgrid
snowtemp.asc            pack temperature
3       at the end of the run
snowtemp.stat 2024      daily zone means
surftemp.asc            surface temperature
0
surftemp.stat 2024
input_mass.asc
0
input_mass.stat 0
mobile_mass.asc
0
mobile_mass.stat 0
deposition.asc
0
deposition.stat 0
55      maximum slope for deposition
1       maximum deposition factor
30      minimum slope for slides
0.01    slide mass fraction
1.0     LWINcorr
1.0     LWOUTcorr
1.0     EnBalScaling

[RegionalSuperposition]
0       flow control parameter: no regional superposition
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
startmonth = 12
startyear = 1999
endminute = 0
endhour = 24
endday = 31
endmonth = 3
endyear = 2000

[landuse_table]
1   number of land uses
1 meadow 0.2 50 50 50 60 70 70 70 70 60 50 50 50 1 120 240 366 1 2 3 1 0.01 0.02 0.03 0.01 0.5 0.8 0.9 0.5 0.1 0.2 0.3 0.1

[soil_table]
1   number of soil types
1 loam 25 35 0.00001 300

[zone_grid]
zones.asc

[elevation_model]
dem.asc

[standard_grids]
4       the subbasins of the snow model, land use, albedo and soil
zones.asc zonegrid_soilmodel fillcode = 0
landuse.asc landuse fillcode = 0 readcode = 0 defaultValue = 1
albedo.asc albedo fillcode = 0 readcode = 0 defaultValue = 0.2
soil.asc soil_types fillcode = 0 readcode = 0 defaultValue = 1

[variable_grids]
1       the relative soil moisture the evapotranspiration needs
soil_storage.asc soil_storage 0 0.0     a dry soil: the real evapotranspiration takes nothing from it
0       write code
0       read code: created from the default value

[region_transition_distance]
1000    transition distance

[substance_transport]
0       no tracers

[soil_model]
0       soil model off
60      minutes

[infiltration_model]
0       infiltration off

[routing_model]
0       routing model off
60      minutes

[interception_model]
1       flow control parameter: on
60      time interval (minutes)
31      method: snow canopy with its energy balance, before the snow model
tf.asc  throughfall
0
tf.stat 0
ei.asc  interception evaporation
10      the sum over the run
ei.stat 0
si.asc  interception storage
3       at the end of the run
si.stat 0
0.2     mm of water per unit of leaf area where the land use gives none
0       the stores start empty
scn_temperature.asc     sub-canopy temperature
0
scn_temperature.stat 2024
scn_rh.asc              sub-canopy relative humidity
0
scn_rh.stat 0
scn_rad.asc             sub-canopy shortwave radiation
0
scn_rad.stat 0
scn_wind.asc            sub-canopy wind speed
0
scn_wind.stat 0
scn_load.asc            snow held in the canopy
3       at the end of the run
scn_load.stat 2024      daily zone means
scn_age.asc             age of the canopy snow
0
scn_age.stat 0
scn_albedo.asc          albedo of the canopy snow
0
scn_albedo.stat 0
scn_sublim.asc          sublimation from the canopy
10      the sum over the run
scn_sublim.stat 2024
scn_unload_solid.asc    snow leaving the canopy
10      the sum over the run
scn_unload_solid.stat 0
scn_unload_liquid.asc   water leaving the canopy
0
scn_unload_liquid.stat 0
0.5     minimum leaf area index of a snow canopy
0.005   minimum roughness length (m) of a snow canopy
2.0     leaf area index scaling: the meadow's leaves count twice
ceb_balance.asc         residual of the canopy energy balance
0
ceb_balance.stat 0
ceb_temperature.asc     canopy temperature
3       at the end of the run
ceb_temperature.stat 2024
ceb_temperature_old.asc canopy temperature of the last step
0
ceb_temperature_old.stat 0
ceb_dummy.asc           canopy temperature above the air's
0
ceb_dummy.stat 0
