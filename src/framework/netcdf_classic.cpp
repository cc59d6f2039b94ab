// The header of a classic netCDF file checked against the file's size.
#include "framework/netcdf_classic.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>
#include <vector>

namespace velmo {
namespace {

// Tags of the header's lists.
constexpr std::uint32_t kDimensionTag = 0x0A;
constexpr std::uint32_t kVariableTag = 0x0B;
constexpr std::uint32_t kAttributeTag = 0x0C;
// Versions: 32-bit offsets, 64-bit offsets, 64-bit data (CDF-5).
constexpr char kClassic = 1;
constexpr char kOffset64 = 2;
constexpr char kData64 = 5;
// Values are padded to whole words of this many bytes.
constexpr std::uint64_t kPadding = 4;
// Characters of a name kept for an entry.
constexpr std::uint64_t kNameShown = 256;
constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

// a * b and a + b, kNone when they overflow.
std::uint64_t Times(std::uint64_t a, std::uint64_t b) { return b != 0 && a > kNone / b ? kNone : a * b; }
std::uint64_t Plus(std::uint64_t a, std::uint64_t b) { return a > kNone - b ? kNone : a + b; }
std::uint64_t Padded(std::uint64_t bytes) {
  return bytes > kNone - kPadding ? kNone : (bytes + kPadding - 1) / kPadding * kPadding;
}

// Bytes of a value of an external type; 0 for no type of this version.
std::uint64_t TypeBytes(std::uint32_t type, char version) {
  static constexpr std::array<std::uint64_t, 12> kBytes = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
  const std::uint32_t last = version == kData64 ? 11 : 6;
  return type >= 1 && type <= last ? kBytes[type] : 0;
}

struct fault {
  std::string what;
};

class header_reader {
 public:
  header_reader(std::istream& in, std::uint64_t file_size, char version)
      : in_(in),
        size_(file_size),
        version_(version),
        wide_(version == kData64),
        long_offsets_(version != kClassic) {}

  std::uint64_t Position() const { return position_; }
  std::uint64_t Left() const { return size_ - position_; }

  // A big-endian whole number of `bytes` bytes.
  std::uint64_t Number(int bytes) {
    if (Left() < static_cast<std::uint64_t>(bytes)) throw fault{"the header ends early"};
    std::array<unsigned char, 8> raw{};
    in_.read(reinterpret_cast<char*>(raw.data()), bytes);
    if (!in_) throw fault{"the header ends early"};
    position_ += static_cast<std::uint64_t>(bytes);
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | raw[static_cast<std::size_t>(i)];
    return value;
  }
  std::uint32_t Word() { return static_cast<std::uint32_t>(Number(4)); }
  // A count or length: 4 bytes, 8 in CDF-5.
  std::uint64_t Count() { return Number(wide_ ? 8 : 4); }
  std::uint64_t Offset() { return Number(long_offsets_ ? 8 : 4); }
  int CountBytes() const { return wide_ ? 8 : 4; }

  void Skip(std::uint64_t bytes, const std::string& what) {
    if (bytes > Left()) throw fault{what + " runs past the end of the file"};
    in_.seekg(static_cast<std::streamoff>(bytes), std::ios::cur);
    position_ += bytes;
  }
  std::string Name(const std::string& what) {
    const std::uint64_t length = Count();
    const std::uint64_t padded = Padded(length);
    if (padded > Left()) throw fault{"the name of " + what + " runs past the end of the file"};
    std::string name(static_cast<std::size_t>(std::min(length, kNameShown)), '\0');
    in_.read(name.data(), static_cast<std::streamsize>(name.size()));
    position_ += name.size();
    Skip(padded - name.size(), "the name of " + what);
    return name;
  }
  // The list's entry count, each entry at least `least` bytes; 0 for an
  // absent list.
  std::uint64_t List(std::uint32_t tag, std::uint64_t least, const std::string& what) {
    const std::uint32_t found = Word();
    const std::uint64_t count = Count();
    if (found == 0 && count == 0) return 0;
    if (found != tag) throw fault{"the list of " + what + " has no tag of its own"};
    if (count > Left() / least)
      throw fault{"it claims " + std::to_string(count) + " " + what + ", more than the file holds"};
    return count;
  }
  void Attributes(const std::string& owner) {
    const std::uint64_t count = List(kAttributeTag, 2 * CountBytes() + 4, "attributes of " + owner);
    for (std::uint64_t a = 0; a < count; ++a) {
      const std::string name = Name("an attribute of " + owner);
      const std::uint64_t bytes = TypeBytes(Word(), version_);
      if (bytes == 0) throw fault{"the attribute \"" + name + "\" of " + owner + " is of no type"};
      const std::uint64_t values = Count();
      if (values > Left() / bytes)
        throw fault{"the attribute \"" + name + "\" of " + owner + " claims " + std::to_string(values) +
                    " values, more than the file holds"};
      Skip(Padded(values * bytes), "the attribute \"" + name + "\" of " + owner);
    }
  }

 private:
  std::istream& in_;
  std::uint64_t size_;
  char version_;
  std::uint64_t position_ = 4;  // after the magic number
  bool wide_;
  bool long_offsets_;
};

struct variable {
  std::string name;
  std::uint64_t bytes = 0;  // of the whole variable, or of one record
  bool record = false;
  std::uint64_t begin = 0;
};

std::string Check(std::istream& in, std::uint64_t file_size, char version) {
  header_reader header(in, file_size, version);
  const int w = header.CountBytes();
  const std::uint64_t records = header.Count();
  const bool streaming = records == (w == 8 ? kNone : 0xFFFFFFFFu);

  const std::uint64_t dimension_count = header.List(kDimensionTag, 2 * w, "dimensions");
  std::vector<std::uint64_t> lengths;
  for (std::uint64_t d = 0; d < dimension_count; ++d) {
    header.Name("a dimension");
    lengths.push_back(header.Count());
  }
  header.Attributes("the file");

  const std::uint64_t variable_count = header.List(kVariableTag, 3 * w + 8, "variables");
  std::vector<variable> variables;
  for (std::uint64_t v = 0; v < variable_count; ++v) {
    variable var;
    var.name = header.Name("a variable");
    const std::uint64_t rank = header.Count();
    if (rank > header.Left() / w)
      throw fault{"the variable \"" + var.name + "\" claims " + std::to_string(rank) + " dimensions"};
    std::uint64_t cells = 1;
    for (std::uint64_t k = 0; k < rank; ++k) {
      const std::uint64_t id = header.Count();
      if (id >= lengths.size())
        throw fault{"the variable \"" + var.name + "\" has a dimension that does not exist"};
      if (k == 0 && lengths[id] == 0) {
        var.record = true;
        continue;
      }
      cells = Times(cells, lengths[id]);
    }
    header.Attributes("the variable \"" + var.name + "\"");
    const std::uint64_t bytes = TypeBytes(header.Word(), version);
    if (bytes == 0) throw fault{"the variable \"" + var.name + "\" is of no type"};
    var.bytes = Times(cells, bytes);
    header.Count();  // its size as the header states it, not trusted beyond 4 GB
    var.begin = header.Offset();
    variables.push_back(var);
  }

  // Records hold every record variable in turn, each padded to whole words
  // unless it is the only one.
  const auto record_variables =
      std::count_if(variables.begin(), variables.end(), [](const variable& v) { return v.record; });
  std::uint64_t record_bytes = 0;
  for (const variable& v : variables)
    if (v.record) record_bytes = Plus(record_bytes, record_variables == 1 ? v.bytes : Padded(v.bytes));
  for (const variable& v : variables) {
    std::uint64_t end = Plus(v.begin, v.bytes);
    if (v.record) {
      if (streaming || records == 0) continue;
      end = Plus(Plus(v.begin, Times(records - 1, record_bytes)), v.bytes);
    }
    if (end > file_size)
      return "the file is cut short: its header places the values of \"" + v.name + "\"" +
             (v.record ? " (" + std::to_string(records) + " records)" : std::string()) + " up to byte " +
             (end == kNone ? std::string("beyond any size") : std::to_string(end)) + ", but it holds " +
             std::to_string(file_size) + " bytes";
  }
  return {};
}

}  // namespace

std::string ClassicNetcdfFault(std::istream& in, std::uint64_t file_size) {
  std::array<char, 4> magic{};
  if (file_size < magic.size() || !in.read(magic.data(), magic.size())) return {};
  const char version = magic[3];
  if (magic[0] != 'C' || magic[1] != 'D' || magic[2] != 'F' ||
      (version != kClassic && version != kOffset64 && version != kData64))
    return {};
  try {
    return Check(in, file_size, version);
  } catch (const fault& f) {
    return "the header claims more than the file of " + std::to_string(file_size) + " bytes holds: " + f.what;
  }
}

std::string ClassicNetcdfFault(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  const std::streamoff size = in.tellg();
  if (size < 0) return {};
  in.seekg(0);
  return ClassicNetcdfFault(in, static_cast<std::uint64_t>(size));
}

}  // namespace velmo
