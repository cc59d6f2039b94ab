// GIF grids of 1000 x 1000 cells: decoding a radar-like image into palette
// indices, and converting indices into values.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <unordered_map>
#include <vector>

#include "bench_support.h"
#include "framework/gifreader.h"

namespace velmo {
namespace {

constexpr int kSide = 1000;
constexpr double kCells = static_cast<double>(kSide) * kSide;
constexpr int kMaxCodes = 4096;

// LZW code stream of 8-bit pixels as GIF encoders write it: variable width,
// a clear code when the table is full.
std::vector<std::uint8_t> LzwEncode(const std::vector<std::uint8_t>& pixels) {
  constexpr int kClear = 256;
  constexpr int kEnd = 257;
  std::vector<std::uint8_t> out;
  std::uint32_t bits = 0;
  int count = 0;
  int width = 9;
  auto put = [&](int code) {
    bits |= static_cast<std::uint32_t>(code) << count;
    for (count += width; count >= 8; count -= 8, bits >>= 8) out.push_back(static_cast<std::uint8_t>(bits));
  };
  std::unordered_map<int, int> table;  // (prefix << 8 | pixel) -> code
  int next = kEnd + 1;
  put(kClear);
  int prefix = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    const int key = prefix << 8 | pixels[i];
    if (const auto found = table.find(key); found != table.end()) {
      prefix = found->second;
      continue;
    }
    put(prefix);
    if (next == kMaxCodes) {
      put(kClear);
      table.clear();
      next = kEnd + 1;
      width = 9;
    } else {
      table.emplace(key, next++);
      if (next > (1 << width) && width < 12) ++width;
    }
    prefix = pixels[i];
  }
  put(prefix);
  put(kEnd);
  if (count > 0) out.push_back(static_cast<std::uint8_t>(bits));
  return out;
}

// A radar-like image: dry areas (0), rain cells of rising indices, and a
// sector without data (255).
std::vector<std::uint8_t> RadarImage() {
  std::vector<std::uint8_t> pixels(static_cast<size_t>(kCells));
  for (int r = 0; r < kSide; ++r)
    for (int c = 0; c < kSide; ++c) {
      const double rain =
          140.0 * std::sin(r / 90.0) * std::cos(c / 70.0) + 20.0 * std::sin((r + 2 * c) / 13.0);
      std::uint8_t index = rain > 0.0 ? static_cast<std::uint8_t>(std::min(rain, 250.0)) : 0;
      if (r + c > 1800) index = 255;
      pixels[static_cast<size_t>(r) * kSide + c] = index;
    }
  return pixels;
}

std::vector<std::uint8_t> GifFile(const std::vector<std::uint8_t>& pixels) {
  std::vector<std::uint8_t> gif = {
      'G', 'I',  'F', '8', '9', 'a', kSide & 0xff, kSide >> 8, kSide & 0xff, kSide >> 8, 0, 0,
      0,   0x2c, 0,   0,   0,   0,   kSide & 0xff, kSide >> 8, kSide & 0xff, kSide >> 8, 0, 8};
  const std::vector<std::uint8_t> data = LzwEncode(pixels);
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t size = std::min<size_t>(255, data.size() - at);
    gif.push_back(static_cast<std::uint8_t>(size));
    gif.insert(gif.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(at + size));
  }
  gif.push_back(0);
  gif.push_back(0x3b);
  return gif;
}

struct Setup {
  std::filesystem::path file = bench::ScratchPath("gif").replace_extension(".gif");
  std::vector<std::uint8_t> pixels = RadarImage();
  std::vector<double> cells = std::vector<double>(static_cast<size_t>(kSide + 1) * (kSide + 1));
  std::vector<double*> rows = std::vector<double*>(kSide + 1);

  Setup() {
    const std::vector<std::uint8_t> gif = GifFile(pixels);
    std::FILE* out = std::fopen(file.c_str(), "wb");
    std::fwrite(gif.data(), 1, gif.size(), out);
    std::fclose(out);
    for (int r = 1; r <= kSide; ++r)
      rows[static_cast<size_t>(r)] = cells.data() + static_cast<size_t>(r) * (kSide + 1);
  }
  ~Setup() { std::filesystem::remove(file); }
  double** grid() { return rows.data(); }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void CountCells(benchmark::State& state) { bench::CountPerCell(state, kCells); }

void BM_DecodeGif(benchmark::State& state) {
  Setup& s = Shared();
  for (auto _ : state) {
    GifReader reader(s.file.string());
    int width = 0, height = 0;
    reader.ReadSize(width, height);
    reader.Decode(s.grid());
    benchmark::DoNotOptimize(s.grid()[kSide][kSide]);
  }
  CountCells(state);
}

// Indices as decoding leaves them (whole numbers), or as resampling onto
// another raster leaves them (fractions).
void Convert(benchmark::State& state, double shift) {
  Setup& s = Shared();
  const gif_conversion d;
  for (auto _ : state) {
    state.PauseTiming();
    for (int r = 1; r <= kSide; ++r)
      for (int c = 1; c <= kSide; ++c) {
        const std::uint8_t index = s.pixels[static_cast<size_t>(r - 1) * kSide + c - 1];
        s.grid()[r][c] = index == 255 ? -9999.0 : index + (index > 0 ? shift : 0.0);
      }
    state.ResumeTiming();
    GifReader::ConvertPaletteIndices(s.grid(), kSide, kSide, d.factor1, d.exponent1, d.threshold, d.factor2,
                                     d.exponent2);
    benchmark::DoNotOptimize(s.grid()[kSide][kSide]);
  }
  CountCells(state);
}

void BM_ConvertWholeIndices(benchmark::State& state) { Convert(state, 0.0); }
void BM_ConvertResampledIndices(benchmark::State& state) { Convert(state, 0.37); }

BENCHMARK(BM_DecodeGif)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertWholeIndices)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertResampledIndices)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmo
