// Numbers as printf's "%g" writes them, fast enough for grids of millions of
// cells: six significant digits, fixed notation for decimal exponents -4 .. 5
// and d.ddddde+XX beyond, trailing zeros of the fraction dropped. Most values
// of a grid (nodata, zero, anything from 1.8e-15 to 1.1e15 not within 1e-6 of
// a rounding tie of its sixth digit) take an inline path; the others take
// the library's exact conversion. Both give the same bytes.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace velmo {

// Formats `value` by std::to_chars (general, six digits): printf's "%g".
char* FormatGeneralExactly(char* out, char* end, double value);

namespace general_format {

inline constexpr int kPrecision = 6;
inline constexpr int kFixedExponentMin = -4;
inline constexpr std::uint32_t kSixDigitsStart = 100000;
inline constexpr std::uint32_t kSixDigitsEnd = 1000000;
// Bits of an IEEE double.
inline constexpr int kSignShift = 63;
inline constexpr int kMantissaBits = 52;
inline constexpr std::uint64_t kExponentMask = 0x7ff;
inline constexpr int kExponentBias = 1023;
// The inline path takes magnitudes of 2^-49 (1.8e-15) up to 2^50 (1.1e15):
// the powers of ten that scale them stay exact doubles (at most 1e20).
inline constexpr int kFastBinaryExponent = 49;
// floor(e * log10(2)) as (e * 78913) >> 18, exact for |e| < 1650.
inline constexpr int kLog10Of2Times2To18 = 78913;
inline constexpr int kLog10Shift = 18;
// The scaled value (below 10^6) is off by at most 10^6 * 2^-53 = 1.1e-10
// from the exact product; a fraction closer than this to one half is left to
// the exact conversion.
inline constexpr double kTieMargin = 1e-6;
// The inline path stores its text (at most "-1.23457e-15") in blocks of eight
// bytes, up to 16 bytes from its start.
inline constexpr std::ptrdiff_t kRoom = 24;

// Powers of ten that doubles hold exactly.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// The doubles nearest to 10^-16 .. 10^16. A magnitude within one unit of the
// last place of a power whose double is inexact may get the lower exponent;
// its six digits then round up to 1000000, which moves it to the right one.
inline constexpr std::array<double, 33> kNearestPowersOfTen = {
    1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6,
    1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,  1e3,  1e4,  1e5,
    1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13, 1e14, 1e15, 1e16};
inline constexpr int kNearestPowersOffset = 16;

inline constexpr int kBitsPerChar = 8;
// Six characters fill the low 48 bits of a 64-bit word.
inline constexpr int kUnusedDigitBits = 16;
inline constexpr std::uint64_t kSixZeroCharacters = 0x303030303030;
// "0.00000" and a zero byte, as stored from the lowest byte.
inline constexpr std::uint64_t kLeadingZeros = 0x0030303030302e30;

// The decimal digits of 100000 .. 999999 as byte values, the first in the
// lowest byte.
inline std::uint64_t SixDigitValues(std::uint32_t digits) {
  const std::uint32_t high = digits / 10000;
  const std::uint32_t rest = digits - high * 10000;
  const std::uint32_t middle = rest / 100;
  const std::uint32_t low = rest - middle * 100;
  auto pair = [](std::uint32_t two) {
    return static_cast<std::uint64_t>(two / 10 | (two % 10) << kBitsPerChar);
  };
  return pair(high) | pair(middle) << (2 * kBitsPerChar) | pair(low) << (4 * kBitsPerChar);
}

// The characters with a "." after the first `whole` of them.
inline std::uint64_t WithPoint(std::uint64_t text, int whole) {
  const int shift = whole * kBitsPerChar;
  const std::uint64_t head = text & ((std::uint64_t{1} << shift) - 1);
  return head | std::uint64_t{'.'} << shift | (text ^ head) << kBitsPerChar;
}

// Stores the eight bytes of `text`, the lowest first. The text is built in a
// register: bytes put in memory one by one and read back wider would stall.
inline void StoreCharacters(char* out, std::uint64_t text) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &text, sizeof text);
  } else {
    for (size_t i = 0; i < sizeof text; ++i) out[i] = static_cast<char>(text >> (i * kBitsPerChar));
  }
}

}  // namespace general_format

// Formats `value` as printf's "%g" would, into `out`; returns the end.
inline char* FormatGeneral(char* out, char* end, double value) {
  using namespace general_format;
  if (end - out < kRoom) return FormatGeneralExactly(out, end, value);
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = (bits >> kSignShift) != 0;
  const int binary_exponent = static_cast<int>((bits >> kMantissaBits) & kExponentMask) - kExponentBias;
  const double magnitude = std::fabs(value);
  if (magnitude == 0.0) {
    if (negative) *out++ = '-';
    *out++ = '0';
    return out;
  }
  if (binary_exponent < -kFastBinaryExponent || binary_exponent > kFastBinaryExponent)
    return FormatGeneralExactly(out, end, value);

  // The decimal exponent: floor(binary_exponent * log10(2)) or one more.
  int exponent = (binary_exponent * kLog10Of2Times2To18) >> kLog10Shift;
  if (magnitude >= kNearestPowersOfTen[static_cast<size_t>(exponent + 1 + kNearestPowersOffset)]) ++exponent;
  // The six significant digits as an integer, by one correctly rounded
  // multiplication or division by an exact power of ten.
  const int shift = kPrecision - 1 - exponent;
  const double scaled =
      shift >= 0 ? magnitude * kExactPowersOfTen[shift] : magnitude / kExactPowersOfTen[-shift];
  const auto below = static_cast<std::uint32_t>(scaled);
  const double fraction = scaled - static_cast<double>(below);
  if (std::fabs(fraction - 0.5) < kTieMargin) return FormatGeneralExactly(out, end, value);
  std::uint32_t digits = below + (fraction > 0.5 ? 1u : 0u);
  if (digits == kSixDigitsEnd) {
    digits = kSixDigitsStart;
    ++exponent;
  }
  if (digits < kSixDigitsStart || digits >= kSixDigitsEnd) return FormatGeneralExactly(out, end, value);

  const std::uint64_t values = SixDigitValues(digits);
  // The digits after the last non-zero one are dropped (the first is never 0).
  const int length = kPrecision - std::countl_zero(values << kUnusedDigitBits) / kBitsPerChar;
  const std::uint64_t text = values | kSixZeroCharacters;

  if (negative) *out++ = '-';
  if (exponent < kFixedExponentMin || exponent >= kPrecision) {
    // d[.ddddd]e+XX; the exponents of this path have two digits.
    const int size = length > 1 ? length + 1 : 1;
    StoreCharacters(out, WithPoint(text, 1));
    const int power = std::abs(exponent);
    const std::uint64_t tail = 'e' | static_cast<std::uint64_t>(exponent < 0 ? '-' : '+') << kBitsPerChar |
                               static_cast<std::uint64_t>('0' + power / 10) << (2 * kBitsPerChar) |
                               static_cast<std::uint64_t>('0' + power % 10) << (3 * kBitsPerChar);
    StoreCharacters(out + size, tail);
    return out + size + 4;
  }
  if (exponent < 0) {
    // 0.000ddd: the leading zeros, then the digits over their end.
    StoreCharacters(out, kLeadingZeros);
    StoreCharacters(out + 1 - exponent, text);
    return out + 1 - exponent + length;
  }
  // ddd[.ddd]
  const int whole = exponent + 1;
  StoreCharacters(out, WithPoint(text, whole));
  return out + (length > whole ? length + 1 : whole);
}

}  // namespace velmo
