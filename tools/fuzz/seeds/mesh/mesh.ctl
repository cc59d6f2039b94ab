# The regression and mesh methods on 25 x 35 cells of 100 m: a mesh of 3 x 4
# stations 1000 m apart interpolated bilinearly and with splines, an elevation
# regression fitted to three stations, and one read from a text and a binary
# regression file with the same records; hourly from 01:00 to 02:00.
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
6

[meteo_names]
bilinear
spline
square
fitted
regress_text
regress_binary

[bilinear]
5       bilinear
mesh.txt        station file
none            regression file
bilinear.asc      result grid
2               write code: a date-stamped grid every step
1.0             scaling factor
bilinear.stat 0   no statistics
9999            nodata value
2               idw weight
0.5             fraction of idw
100000          maximum distance (m)
0               anisotropy slope
1               anisotropy ratio
-1e9            lower limit
-1e9            replacement below it
1e9             upper limit
1e9             replacement above it
0               no scenarios

[spline]
7       bicubic spline
mesh.txt        station file
none            regression file
spline.asc      result grid
2               write code: a date-stamped grid every step
1.0             scaling factor
spline.stat 0   no statistics
9999            nodata value
2               idw weight
0.5             fraction of idw
100000          maximum distance (m)
0               anisotropy slope
1               anisotropy ratio
-1e9            lower limit
-1e9            replacement below it
1e9             upper limit
1e9             replacement above it
0               no scenarios

[square]
7       bicubic spline
mesh_square.txt station file
none            regression file
square.asc      result grid
2               write code: a date-stamped grid every step
1.0             scaling factor
square.stat 0   no statistics
9999            nodata value
2               idw weight
0.5             fraction of idw
100000          maximum distance (m)
0               anisotropy slope
1               anisotropy ratio
-1e9            lower limit
-1e9            replacement below it
1e9             upper limit
1e9             replacement above it
0               no scenarios

[fitted]
10      EDR from station data
low.txt         station file
800 1500 100 0 50       lower and upper inversion, tolerance, overlap, cluster range
fitted.asc      result grid
2               write code: a date-stamped grid every step
1.0             scaling factor
fitted.stat 0   no statistics
9999            nodata value
2               idw weight
0.5             fraction of idw
100000          maximum distance (m)
0               anisotropy slope
1               anisotropy ratio
-1e9            lower limit
-1e9            replacement below it
1e9             upper limit
1e9             replacement above it
0               no scenarios

[regress_text]
2       regress
unused          station file
regression.txt  regression file
regress_text.asc      result grid
2               write code: a date-stamped grid every step
1.0             scaling factor
regress_text.stat 0   no statistics
9999            nodata value
2               idw weight
0.5             fraction of idw
100000          maximum distance (m)
0               anisotropy slope
1               anisotropy ratio
-1e9            lower limit
-1e9            replacement below it
1e9             upper limit
1e9             replacement above it
0               no scenarios

[regress_binary]
2       regress
unused          station file
regression.bin  regression file
regress_binary.asc      result grid
2               write code: a date-stamped grid every step
1.0             scaling factor
regress_binary.stat 0   no statistics
9999            nodata value
2               idw weight
0.5             fraction of idw
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
mesh_zones.asc

[elevation_model]
mesh_dem.asc

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

[snow_model]
0       snow model off
60      time interval in minutes

[routing_model]
0       routing model off
60      minutes

[interception_model]
0       flow control parameter: off
60      time interval (minutes)
