// The header of a classic netCDF file (CDF-1, CDF-2 and CDF-5), checked
// against the size of the file before the netCDF library opens it: the
// library trusts the counts and sizes a header claims, so that a damaged
// header can make it copy gigabytes or hang, and a file cut short returns
// zeros for the values past its end without an error.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace velmo {

// What is wrong with the classic netCDF file `in` of `file_size` bytes: a
// header that claims more than the file holds (a list of more entries than
// bytes left, a name or attribute running past the end, a dimension of a
// variable that does not exist, a header that ends early), or data that the
// header places beyond the end of the file (a variable's offset plus its
// size, for a record variable plus the records before its last one times the
// size of a record). Empty when nothing is wrong, and for a file that is not
// classic netCDF (netCDF-4 files are HDF5 files; the library checks them).
std::string ClassicNetcdfFault(std::istream& in, std::uint64_t file_size);

// The same for the file at `path`; empty when it cannot be opened (the
// library reports that).
std::string ClassicNetcdfFault(const std::string& path);

}  // namespace velmo
