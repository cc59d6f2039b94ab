# Gauge catch loss on three cells at 500, 1250 and 2000 m: precipitation of
# 10 mm at a valley and a summit gauge (Thiessen), temperature 10 - 0.0065 z
# fitted to three stations, 3 m/s of wind from one mast; hourly, 01:00 and
# 02:00. Rain factors 1.05 + 0.02 u, snow 1.2 + 0.1 u at or below 0 degrees C.
[output_interval]
24      progress messages every 24 hours
0       no warning about cells without a station
0       routing output in mm per step (1: m3/s)
0       minutes from the data time stamp to the end of the step
WriteAsciiGrids = 1
timestep = 60

[output_list]
0       no subbasins listed

[coordinates]
47.0    geographic latitude
8.0     geographic longitude
15.0    reference meridian
0.0     time shift of the data time to local time

[meteo_data_count]
3

[meteo_names]
precipitation
temperature
wind_speed

[precipitation]
4       thiessen
precipitation.txt       station file
none            regression file
precipitation.asc  result grid
2               write code: a date-stamped grid every step
1.0             scaling factor
precipitation.stat 0   no statistics
9999            nodata value
2               idw weight
1               fraction of idw
100000          maximum distance (m)
0               anisotropy slope
1               anisotropy ratio
-1e9            lower limit
-1e9            replacement below it
1e9             upper limit
1e9             replacement above it
0               no scenarios

[temperature]
10      elevation regression from station data
temperature.txt station file
1500 2000 100 0 50      lower and upper inversion, tolerance, overlap, cluster range
temperature.asc  result grid
2               write code: a date-stamped grid every step
1.0             scaling factor
temperature.stat 0   no statistics
9999            nodata value
2               idw weight
1               fraction of idw
100000          maximum distance (m)
0               anisotropy slope
1               anisotropy ratio
-1e9            lower limit
-1e9            replacement below it
1e9             upper limit
1e9             replacement above it
0               no scenarios

[wind_speed]
4       thiessen
wind.txt        station file
none            regression file
wind_speed.asc  result grid
2               write code: a date-stamped grid every step
1.0             scaling factor
wind_speed.stat 0   no statistics
9999            nodata value
2               idw weight
1               fraction of idw
100000          maximum distance (m)
0               anisotropy slope
1               anisotropy ratio
-1e9            lower limit
-1e9            replacement below it
1e9             upper limit
1e9             replacement above it
0               no scenarios

[radiation_correction]
0       flow control parameter: off
60      time interval (minutes)

[evapotranspiration]
0       flow control parameter: off
60      time interval (minutes)

[snow_model]
0       snow model off
60      time interval in minutes

[RegionalSuperposition]
0       flow control parameter: no regional superposition (the precipitation correction then works on the stations)
60      time interval in minutes

[precipitation_correction]
1       do_it
0.0     threshold temperature (degrees C): snow at or below it
1.05    rain constant
0.02    rain slope per m/s of wind speed
1.2     snow constant
0.1     snow slope per m/s of wind speed

[model_time]
startminute = 0
starthour = 1
startday = 1
startmonth = 1
startyear = 2000
endminute = 0
endhour = 2
endday = 1
endmonth = 1
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
0       no standard grids

[variable_grids]
0       no variable grids

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
0       flow control parameter: off
60      time interval (minutes)
