# Daily Hamon evapotranspiration on the small e2e domain (zones.asc, dem.asc),
# with the radiation correction of slope and aspect correcting the
# temperature. Temperature and soil moisture are standard grids of one value;
# the test gives the dates of the steps.
[output_interval]
24      progress messages every 24 hours
0       no warning about cells without a station
0       routing output in mm
0       minutes from the data time stamp to the end of the step
WriteAsciiGrids = 1
timestep = 1440

[output_list]
0       no subbasins listed

[coordinates]
47.0    geographic latitude
8.0     geographic longitude
15.0    reference meridian
0.0     time shift of the data time to local time

[meteo_data_count]
0

[meteo_names]

[radiation_correction]
1       flow control parameter
1440    time interval (minutes)
2       method: shadows and corrected temperature
tkorr.asc       corrected temperature
3       written at the end of the run
1.0     scaling of the temperature correction
exkorr.asc      correction factor
3       written at the end of the run
shadow.asc      shadows
0       not written
1       computed every step
24      sub-steps per step

[evapotranspiration]
1       flow control parameter
1440    time interval (minutes)
2       method: Hamon
1 1 1 1 1 1 1 1 1 1 1 1
0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3
1.0     coast factor (Wendling)
etp.asc         potential transpiration
3       written at the end of the run
etp.stat 1001   daily table
etr.asc
0
etr.stat 0
evap.asc        potential soil evaporation
3
evap.stat 0
evar.asc
0
evar.stat 0
esnow.asc
0
esnow.stat 0
eip.asc
0
eip.stat 0
rgex.stat 0
0.23 0.29 0.28 0.2              radiation from sunshine: a0..a3
0.072 -0.808 1.749 -0.239       sunshine from radiation: CS
0.7 0.05                        transmissivity: mean and annual amplitude
1000                            m: elevation scale of the temperature amplitude
10 10 10 10 10 10 10 10 10 10 10 10
0.6 0.0                         day share of the amplitude, its variability

HamonCorrectionOpenWater = 1.0

[snow_model]
0       snow model off
1440    time interval in minutes
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
startmonth = 1
startyear = 2000
endminute = 0
endhour = 24
endday = 3
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
5
albedo.asc albedo fillcode = 0 readcode = 0 defaultValue = 0.2 writecode = 0
landuse.asc landuse fillcode = 0 readcode = 0 defaultValue = 1 writecode = 0
soil.asc soil_types fillcode = 0 readcode = 0 defaultValue = 1 writecode = 0
temperature.asc temperature fillcode = 0 readcode = 0 defaultValue = 10 writecode = 0
soil_storage.asc soil_storage fillcode = 0 readcode = 0 defaultValue = 0.5 writecode = 0

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
1440    minutes

[routing_model]
0       routing model off
1440    minutes

[interception_model]
0       flow control parameter: off
60      time interval (minutes)
