#include "tools/rates.h"

#include <algorithm>

#include "tools/csv_text.h"
#include "tools/tool_support.h"

namespace quax::agg::tools {

namespace {

const std::vector<std::string_view> kHeader = {"RateCode", "Price", "Per"};

// A plain decimal number: digits with at most one point, nothing else (no
// sign, exponent or grouping, which a price never needs).
bool ParsePlainDecimal(std::string_view text, Decimal& out) {
  if (text.empty() || text == "." || std::ranges::count(text, '.') > 1) return false;
  if (!std::ranges::all_of(text, [](char c) { return (c >= '0' && c <= '9') || c == '.'; })) return false;
  return Decimal::TryParse(text, out);
}

}  // namespace

std::optional<std::string> RateTable::Add(const std::vector<std::string>& fields, std::int64_t lineNumber) {
  const auto refuse = [&](std::string_view what) { return FileLineMessage(fileName_, lineNumber, what); };
  if (fields.size() != 3) return refuse("wants RateCode,Price,Per, found " + std::to_string(fields.size()) + " fields");
  Rate rate{fields[0], Decimal(), Decimal(), lineNumber};
  if (rate.Code.empty() || rate.Code.find_first_of(",\" \t") != std::string::npos) {
    return refuse("the rate code '" + rate.Code + "' is empty or holds a comma, quote or blank");
  }
  if (!ParsePlainDecimal(fields[1], rate.Price)) return refuse("the price '" + fields[1] + "' is not a number such as 0.12");
  if (!ParsePlainDecimal(fields[2], rate.Per) || rate.Per.IsZero()) {
    return refuse("the per '" + fields[2] + "' is not a number above 0 such as 3600");
  }
  if (const Rate* priced = Find(rate.Code)) {
    return refuse(rate.Code + " is priced on line " + std::to_string(priced->Line) + " already");
  }
  rates_.push_back(std::move(rate));
  return std::nullopt;
}

std::optional<std::string> RateTable::Load(const std::string& fileName) {
  fileName_ = fileName;
  return ReadCsvFile(fileName, kHeader, [this](const std::vector<std::string>& fields, std::int64_t lineNumber) {
    return Add(fields, lineNumber);
  });
}

std::optional<std::string> RateTable::LoadText(std::string_view text, std::string_view fileName) {
  fileName_ = fileName;
  return ReadCsvText(text, fileName, kHeader, [this](const std::vector<std::string>& fields, std::int64_t lineNumber) {
    return Add(fields, lineNumber);
  });
}

const Rate* RateTable::Find(std::string_view code) const noexcept {
  const auto found = std::ranges::find_if(rates_, [code](const Rate& rate) { return SameNameIgnoringCase(rate.Code, code); });
  return found == rates_.end() ? nullptr : &*found;
}

Decimal RateTable::ExactCost(const Rate& rate, const Decimal& usage) { return usage * rate.Price / rate.Per; }

std::optional<std::string> RateTable::CheckCodesUsed(const std::vector<std::string>& codesInInput) const {
  for (const Rate& rate : rates_) {
    const bool used =
        std::ranges::any_of(codesInInput, [&](const std::string& code) { return SameNameIgnoringCase(code, rate.Code); });
    if (!used) {
      return FileLineMessage(fileName_, rate.Line,
                             "the rate code " + rate.Code + " is in no input record (a misspelt code would bill nothing)");
    }
  }
  return std::nullopt;
}

}  // namespace quax::agg::tools
