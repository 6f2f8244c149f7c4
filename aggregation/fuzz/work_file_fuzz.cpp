// Work files. The input either is a work file itself (any bytes), or
// describes entries under changing layouts that are written, then read back
// whole, cut short, or with one byte changed. Properties: entries round-trip
// exactly (keys, hashes, identifier values, every digit, scale and sign of a
// value; date-times as numbers, which the writer compares to repeat them); a
// file cut inside a record is refused after the entries before the cut,
// one cut between records reads exactly those; a damaged file is read or
// refused with the library's exception, never read past.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "engine/work_file.h"
#include "fuzz_support.h"
#include "record/agg_error.h"

namespace {

using namespace quax::agg;
using fuzz::Require;

struct Entry {
  std::size_t Layout = 0;
  std::string Key;
  std::uint32_t KeyHash = 0;
  double Start = 0;
  double End = 0;
  std::vector<std::string> Values;
  std::vector<Decimal> Resources;
};

void RemoveScratchFile();

// One scratch file per fuzzing process, removed when the process ends.
const std::string& FilePath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("quax-work-fuzz-" + std::to_string(getpid()) + ".bin")).string();
  static const bool removedAtExit = std::atexit(RemoveScratchFile) == 0;
  (void)removedAtExit;
  return path;
}

void RemoveScratchFile() {
  std::error_code ignored;
  std::filesystem::remove(FilePath(), ignored);
}

void WriteBytes(const std::string& bytes) {
  std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Require(out.good(), "the scratch work file cannot be written");
}

std::string ReadBytes() {
  std::ifstream in(FilePath(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool SameNumber(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Reads the file through, buffered or not as `buffered` says, comparing
// each entry with `expected` while there are any; the entries read, or -1
// when reading threw the library's exception.
long ReadAll(const std::vector<Entry>& expected, const std::vector<WorkLayout>& layouts, std::uint64_t buffered,
             bool compare) {
  CWorkFile file;
  file.SetFileName(FilePath());
  std::string message;
  Require(file.OpenForReading(message), "the scratch work file cannot be opened", message);
  WorkEntry entry;
  long count = 0;
  std::uint64_t lastSerial = 0;
  try {
    for (;; ++count, buffered = buffered >> 1 | buffered << 63) {
      if (!((buffered & 1) != 0 && file.ReadBuffered(entry)) && !file.Read(entry)) break;
      if (!compare) continue;
      Require(static_cast<std::size_t>(count) < expected.size(), "more entries read than written");
      const Entry& want = expected[static_cast<std::size_t>(count)];
      const WorkLayout& layout = layouts[want.Layout];
      Require(entry.Layout->Header == layout.Header && entry.Layout->IdentifierNames == layout.IdentifierNames &&
                  entry.Layout->RateCodes == layout.RateCodes,
              "an entry's layout differs");
      const bool layoutChanged = count == 0 || want.Layout != expected[static_cast<std::size_t>(count) - 1].Layout;
      Require(layoutChanged == (entry.LayoutSerial != lastSerial), "the layout serial changes out of step");
      lastSerial = entry.LayoutSerial;
      Require(entry.Key == want.Key && entry.KeyHash == want.KeyHash, "an entry's key differs");
      Require(SameNumber(entry.Start, want.Start) && SameNumber(entry.End, want.End), "an entry's dates differ");
      Require(entry.IdentifierValues.size() == want.Values.size(), "an entry's identifier count differs");
      for (std::size_t i = 0; i < want.Values.size(); ++i) {
        Require(entry.IdentifierValues[i] == want.Values[i], "an identifier value differs");
      }
      Require(entry.ResourceValues.size() == want.Resources.size(), "an entry's value count differs");
      for (std::size_t j = 0; j < want.Resources.size(); ++j) {
        Require(entry.ResourceValues[j].IdenticalTo(want.Resources[j]), "a value differs",
                entry.ResourceValues[j].ToString() + " / " + want.Resources[j].ToString());
      }
    }
  } catch (const Error&) {
    return -1;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const int mode = in.ConsumeIntegralInRange(0, 3);
  const auto buffered = in.ConsumeIntegral<std::uint64_t>();
  if (mode == 0) {  // the input is the file
    WriteBytes(in.ConsumeRemainingBytesAsString());
    ReadAll({}, {}, buffered, false);
    return 0;
  }

  std::vector<WorkLayout> layouts;
  std::vector<Entry> entries;
  CWorkFile file;
  file.SetFileName(FilePath());
  std::string message;
  Require(file.OpenForWriting(message), "the scratch work file cannot be created", message);
  const int count = in.ConsumeIntegralInRange(0, 24);
  for (int e = 0; e < count && in.remaining_bytes() > 0; ++e) {
    if (layouts.empty() || in.ConsumeBool()) {
      WorkLayout layout;
      layout.Header = in.ConsumeRandomLengthString(12);
      for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n) layout.IdentifierNames.push_back(in.ConsumeRandomLengthString(8));
      for (int m = in.ConsumeIntegralInRange(0, 4); m > 0; --m) layout.RateCodes.push_back(in.ConsumeRandomLengthString(8));
      layouts.push_back(std::move(layout));
    }
    const std::size_t which = layouts.size() - 1;
    const WorkLayout& layout = layouts[which];
    Entry entry;
    entry.Layout = which;
    entry.Key = layout.Header;
    for (std::size_t i = 0; i < layout.IdentifierNames.size(); ++i) {
      entry.Values.push_back(in.ConsumeRandomLengthString(16));
      entry.Key += std::string("\0\0", 2) + entry.Values.back();
    }
    entry.Key += in.ConsumeRandomLengthString(8);
    entry.KeyHash = in.ConsumeIntegral<std::uint32_t>();
    const bool repeatStart = !entries.empty() && in.ConsumeBool();
    const bool repeatEnd = !entries.empty() && in.ConsumeBool();
    entry.Start = repeatStart ? entries.back().Start : in.ConsumeFloatingPoint<double>();
    entry.End = repeatEnd ? entries.back().End : in.ConsumeFloatingPoint<double>();
    for (std::size_t j = 0; j < layout.RateCodes.size(); ++j) {
      const auto lo = in.ConsumeIntegral<std::uint32_t>();
      const auto mid = in.ConsumeIntegral<std::uint32_t>();
      const auto hi = in.ConsumeIntegral<std::uint32_t>();
      entry.Resources.push_back(Decimal::FromParts(lo, mid, hi, in.ConsumeIntegralInRange(0, Decimal::kMaxScale),
                                                   in.ConsumeBool()));
    }
    const std::vector<std::string_view> values(entry.Values.begin(), entry.Values.end());
    const WorkLayoutView view{which + 1, layout.Header, layout.IdentifierNames, layout.RateCodes};
    Require(file.Write(view, entry.Key, entry.KeyHash, entry.Start, entry.End, values, entry.Resources, message),
            "an entry cannot be written", message);
    entries.push_back(std::move(entry));
  }
  Require(file.Close(message), "the work file cannot be closed", message);
  Require(ReadAll(entries, layouts, buffered, true) == static_cast<long>(entries.size()),
          "a work file does not read back whole");

  std::string bytes = ReadBytes();
  if (bytes.empty()) return 0;
  const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(0, bytes.size() - 1);
  if (mode == 2) {  // cut short at `at`
    // The record boundaries, and the entries wholly before the cut.
    bool boundary = false;
    long entriesBefore = 0;
    for (std::size_t record = 0; record <= at;) {
      if (record == at) boundary = true;
      std::uint32_t length = 0;
      std::memcpy(&length, bytes.data() + record, sizeof length);
      const std::size_t next = record + sizeof length + length;
      if (next <= at && static_cast<std::uint8_t>(bytes[record + sizeof length]) != 0x80) ++entriesBefore;
      record = next;
    }
    bytes.resize(at);
    WriteBytes(bytes);
    const long read = ReadAll(entries, layouts, buffered, true);
    Require(boundary ? read == entriesBefore : read == -1, "a work file cut short is not refused, or not read up to the cut",
            std::to_string(read) + " read, " + std::to_string(entriesBefore) + " before the cut");
  } else if (mode == 3) {  // one byte changed
    bytes[at] = static_cast<char>(bytes[at] ^ in.ConsumeIntegralInRange<int>(1, 255));
    WriteBytes(bytes);
    ReadAll(entries, layouts, buffered, false);
  }
  return 0;
}
