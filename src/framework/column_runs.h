// Runs of neighbouring columns that pass a test, along one row: how the grid
// output and the meteorological modules find the cells they work on once,
// so that their steps run along contiguous memory without a test per cell.
#pragma once

namespace velmo {

// Calls emit(first, last) for each maximal run of columns first..last within
// from..to for which valid(column) holds, from left to right.
template <typename Valid, typename Emit>
void ForEachColumnRun(int from, int to, Valid valid, Emit emit) {
  for (int c = from; c <= to;) {
    if (!valid(c)) {
      ++c;
      continue;
    }
    const int start = c;
    while (c <= to && valid(c)) ++c;
    emit(start, c - 1);
  }
}

}  // namespace velmo
