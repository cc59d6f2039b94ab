#include "framework/netcdfgrid.h"

#include <netcdf>

namespace velmo {

// Reports the netCDF library version; keeps the library linked from the start.
const char* NetcdfLibraryVersion() { return nc_inq_libvers(); }

}  // namespace velmo
