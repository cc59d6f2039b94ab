# Precipitation by distance weighting and temperature by Thiessen with a
# lapse rate, from three stations, hourly from 01:00 to 10:00.
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
2

[meteo_names]
rain
temperature

[rain]
1       idw
rain.txt        station file
none            regression file
rain.asc        result grid
2               write code: a date-stamped grid every step
1.0             scaling factor
rain.stat 2001  statistics: zone means every step
999             nodata value
2               idw weight
1               fraction of idw
1000            maximum distance (m)
0               anisotropy slope
1               anisotropy ratio
0               lower limit
0               replacement below it
500             upper limit
500             replacement above it
0               no scenarios

[temperature]
12              Thiessen with lapse rate
temperature.txt station file
-0.0065 400 0.002       lapse rate, inversion height and the lapse rate above it
temperature.asc         result grid
3               write code: at the end of the run
1.0             scaling factor
temperature.stat 2002   statistics: zone means every two steps
999             nodata value
2               idw weight
1               fraction of idw
1000            maximum distance
0               anisotropy slope
1               anisotropy ratio
-60             lower limit
-60             replacement below it
50              upper limit
50              replacement above it
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
startmonth = 1
startyear = 2000
endminute = 0
endhour = 10
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
