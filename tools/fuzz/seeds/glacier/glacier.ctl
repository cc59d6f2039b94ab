# Two glacier years of daily steps, 1 October 1999 to 30 September 2001, on
# an alpine slope of two subbasins, each with a glacier (codes 1 and 2) on its
# upper cells: precipitation, day and night temperatures from three stations
# (their files written by the test), the snow model with the degree-day
# method and dynamic glaciers (method 11) whose mass balance is evaluated at
# the end of each 30 September.
[output_interval]
0       no progress messages
0       no warning about cells without a station
0       routing output in mm per step
0       minutes from the data time stamp to the end of the step
WriteDoubleGrids = 1
timestep = 1440

[output_list]
0       no subbasins listed

[coordinates]
47.0    geographic latitude
8.5     geographic longitude
15.0    reference meridian
0.0     time shift of the data time to local time

[meteo_data_count]
3

[meteo_names]
precipitation
temperature
temperature_night

[precipitation]
1       idw
precipitation.txt       station file
none                    regression file
precipitation.asc       result grid
10      write code: the sum over the run
1.0     scaling factor
precipitation.stat 0    no table
999     nodata value
2       idw weight
1.0     fraction of idw
10000   maximum distance (m)
0       anisotropy slope
1       anisotropy ratio
0       lower limit
0       replacement below it
500     upper limit
500     replacement above it
0       no scenarios

[temperature]
12      Thiessen with a lapse rate
temperature.txt         station file
-0.0065                 lapse rate (degrees C per m)
temperature.asc         result grid
0       not written
1.0     scaling factor
temperature.stat 0      no table
999     nodata value
2       idw weight
1.0     fraction of idw
10000   maximum distance (m)
0       anisotropy slope
1       anisotropy ratio
-60     lower limit
-60     replacement below it
50      upper limit
50      replacement above it
0       no scenarios

[temperature_night]
12      Thiessen with a lapse rate
night.txt               station file
-0.0065                 lapse rate (degrees C per m)
night.asc               result grid
0       not written
1.0     scaling factor
night.stat 0            no table
999     nodata value
2       idw weight
1.0     fraction of idw
10000   maximum distance (m)
0       anisotropy slope
1       anisotropy ratio
-60     lower limit
-60     replacement below it
50      upper limit
50      replacement above it
0       no scenarios

[radiation_correction]
0       off
1440    time interval in minutes

[evapotranspiration]
0       off
1440    time interval in minutes

[snow_model]
1       on
1440    time interval in minutes: a night and a day part per step
1       method: degree-day
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
0.4     ALBsnow_min
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
snowstorage.stat 2001   daily zone means of the whole cover
snowtotal.asc
3       at the end of the run
0       readgrid

[ice_firn]
11      dynamic glaciers, degree-day
6.0     DDFice  (mm per degree C and day)
4.5     DDFfirn
3.0     DDFsnow
2.0     MF
0.0005  Aice_min
0.001   Aice_max
0.0003  Asnow_min
0.0006  Asnow_max
100     kice_els (hours)
200     kfirn_els
50      ksnow_els
0       initial Qice_els
0       initial Qfirn_els
0       initial Qsnow_els
firnmelt.asc
10      the sum over the run
qfirn.stat 2001
icemelt.asc
10      the sum over the run
qice.stat 2001
qglac.stat 2001
qsnowglac.stat 2001
0       readgrid: the firn stack is computed
3 2700 0.5              firn_levels firn_base deltafirnper100m
30 9                    GMBEvalDay GMBEvalMonth
28.5 1.36 2 0           VAscaling VAexponent numElevBands extraWeightFactorBand0
firn.stack
3       at the end of the run
firn.stat 2001
balance.asc
3       at the end of the run
balance_old.asc
0
balance1.stat 2001
balance2.stat 2001
1.0     global debris scaling factor
snow_without_glaciers.stat 2001
gsolid.asc
0
gliquid.asc
0
gtotal.asc
3       at the end of the run
gmelt.asc
10      the sum over the run
gsurf.asc
0
gtemp.asc
0
gevap.asc
0
1000 0.25               maxSnowPackToCreateGlacier relSizeNewGlacier

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
starthour = 24
startday = 1
startmonth = 10
startyear = 1999
endminute = 0
endhour = 24
endday = 2
endmonth = 10
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
glacier_dem.asc

[standard_grids]
8       the subbasins of the snow model, its land use and albedo, the glaciers, the permafrost
thaw.asc ThawCoeffPermaFrost fillcode = 0 readcode = 0 defaultValue = 0.02
depth.asc PermafrostThawDepth fillcode = 0 readcode = 0 defaultValue = 0
roots.asc root_depth1 fillcode = 0 readcode = 0 defaultValue = 1
zones.asc zonegrid_soilmodel fillcode = 0
glacier_shares.asc GlacierizedCells fillcode = 0
glacier_codes.asc GlacierCodes fillcode = 0
landuse.asc landuse fillcode = 0 readcode = 0 defaultValue = 1
albedo.asc albedo fillcode = 0 readcode = 0 defaultValue = 0.2

[variable_grids]
0       no variable grids

[region_transition_distance]
1000    transition distance

[substance_transport]
0       no tracers

[soil_model]
0       soil model off
1440    minutes

[infiltration_model]
0       infiltration off

[routing_model]
0       routing model off
1440    minutes

[interception_model]
0       flow control parameter: off
1440    time interval (minutes)

[permafrost]
1       method
10      Min_Snow_Age_Refreeze
5       Max_SWE_SnowFree
thaw.stat 2001  statistics of the thaw depth
1e-7    reduced k_sat
