# The soil model with infiltration on a 4 x 3 catchment of two subbasins.
[output_interval]
24      progress messages every 24 hours
0       no warning about cells without a station
0       spare switch
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
0

[meteo_names]

[radiation_correction]
0       off
60      minutes

[evapotranspiration]
0       off
60      minutes

[snow_model]
0       snow model off
60    time interval in minutes
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
1 loam 25 35 0.000002 300

[zone_grid]
zones.asc

[elevation_model]
dem.asc

[standard_grids]
9
zones.asc zonegrid_soilmodel fillcode = 0
topo.asc topographic_faktor fillcode = 0
flow.asc flow_times fillcode = 0
none.asc landuse fillcode = 0 readcode = 0 defaultValue = 1
none.asc albedo fillcode = 0 readcode = 0 defaultValue = 0.2
none.asc soil_types fillcode = 0 readcode = 0 defaultValue = 1
none.asc lake_codes fillcode = 0 readcode = 0 defaultValue = -9999
none.asc snowstorage_solid fillcode = 0 readcode = 0 defaultValue = 0
none.asc precipitation fillcode = 0 readcode = 0 defaultValue = 30

[variable_grids]
1
none.asc soil_storage 0 0.5
0       write code
0       read code

[region_transition_distance]
1000    transition distance

[substance_transport]
0       no tracers

[soil_model]
1       flow control
60      minutes
2       method
sd.asc
1
suz.asc
1
sif.asc
1
sbia.asc
1
nfkia.asc
1
ssp.asc
1
qd.asc
1
qi.asc
1
peakflow.asc
qd.stat 2001
qi.stat 2001
qb.stat 2001
qbb.stat 2001
qges.stat 2001
sb.stat 2001
suz.stat 2001
sif.stat 2001
sd.stat 2001
1       2       codes
0.02    0.03    m
1e-5    2e-5    Tkorr
1       0.5     Kkorr
2       1       k_ELS_QD
20      10      SHmax
8       5       k_ELS_QI
100     60      k_ELS_QBB
0.05    0.1     alpha
0       0       QBBini
4       2       SUZini
0.4     0.6     SDini
6       5       Pgrenz
0.5     0.6     Rrueck
0.3     0.3     QDsnow
0       read mode
state.txt

[infiltration_model]
1       on
60      minutes
infex.asc
1
infex.stat 2001
infsat.asc
1
0.25    P

[lake_model]
0       lakes off

[routing_model]
0       routing model off
60      minutes

[interception_model]
0       flow control parameter: off
60      time interval (minutes)
