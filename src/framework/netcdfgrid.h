// netCDF grid reader and writer owned by every model object. The file layouts
// and operations are filled in with netCDF grid support.
#pragma once

namespace velmo {

class MessageStream;

class NetcdfGridWriter {
 public:
  explicit NetcdfGridWriter(MessageStream* messages) : messages_(messages) {}

 private:
  [[maybe_unused]] MessageStream* messages_;
};

class NetcdfGridReader {
 public:
  explicit NetcdfGridReader(MessageStream* messages) : messages_(messages) {}
  // Closes every netCDF file still held open.
  void CloseAll() {}

 private:
  [[maybe_unused]] MessageStream* messages_;
};

}  // namespace velmo
