// The prices of a bill: "RateCode,Price,Per" lines, each pricing one rate
// code of the resource records ("CPUSEC,0.12,3600" is 0.12 per 3600 CPU
// seconds, that is per CPU hour). Costs are exact decimals: usage times
// price divided by per, rounded to cents only where a bill shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record/decimal.h"

namespace quax::agg::tools {

struct Rate {
  std::string Code;
  Decimal Price;
  Decimal Per;
  std::int64_t Line = 0;  // where the file prices it
};

class RateTable {
 public:
  static constexpr int kCentPlaces = 2;

  // Reads the file (ReadCsvFile, "RateCode,Price,Per" as an optional first
  // line): the message naming the first line not understood, or of a file
  // that cannot be read.
  std::optional<std::string> Load(const std::string& fileName);
  // The same over the file's text.
  std::optional<std::string> LoadText(std::string_view text, std::string_view fileName);

  const std::vector<Rate>& Rates() const noexcept { return rates_; }
  bool Empty() const noexcept { return rates_.empty(); }
  // The rate of a code (ignoring case), or nothing.
  const Rate* Find(std::string_view code) const noexcept;

  // `usage` x price / per, exact to the decimal's 28 digits.
  static Decimal ExactCost(const Rate& rate, const Decimal& usage);
  // A cost rounded once to cents, halves away from zero.
  static Decimal Cents(const Decimal& exactCost) { return exactCost.RoundHalfAwayFromZero(kCentPlaces); }

  // The message naming the line of the first rate whose code is not among
  // `codesInInput` (ignoring case), or nothing.
  std::optional<std::string> CheckCodesUsed(const std::vector<std::string>& codesInInput) const;

 private:
  std::optional<std::string> Add(const std::vector<std::string>& fields, std::int64_t lineNumber);

  std::string fileName_;
  std::vector<Rate> rates_;
};

}  // namespace quax::agg::tools
