// What the text fields of a resource record line can hold: one rule for the
// callers of the writer and for strict reading. The format has no escape.
// Identifier names and values are written in double quotes, so a comma
// inside them is theirs; the header, the free-text field and the rate codes
// are written as they are, so they cannot hold a comma. No text can hold a
// double quote of its own, a line end (CR or LF) or a NUL (the engine keys
// values apart with NULs). A text the rule refuses would be written as a
// line that reads back as other fields, or not at all.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quax::agg {

enum class RecordText { Header, FreeText, IdentifierName, IdentifierValue, RateCode };

// "identifier value", "rate code", ... for messages.
const char* RecordTextName(RecordText kind) noexcept;

// Written in double quotes (identifier names and values).
constexpr bool IsQuotedText(RecordText kind) noexcept {
  return kind == RecordText::IdentifierName || kind == RecordText::IdentifierValue;
}

// Position of the first byte a text of the kind cannot hold, or npos.
std::size_t FindUnholdableByte(std::string_view text, RecordText kind) noexcept;

// Why `text` cannot be written as `kind` ("holds a double quote", ...), or
// nullopt. An identifier text may bring the quotes the writer puts around
// it, at its start, its end or both: they are not written twice, so they are
// not its own.
std::optional<std::string> UnwritableText(std::string_view text, RecordText kind);

// Why a field as it stands in a line (`raw`, its quotes included) holds no
// text the writer could have written as `kind`, or nullopt.
std::optional<std::string> UnreadableField(std::string_view raw, RecordText kind);

// The rule's verdict in a sentence: "the identifier value 'a"b' holds a
// double quote, which a resource record cannot hold"; `where` (" (field 9)")
// follows the text.
std::string RecordTextFaultText(RecordText kind, std::string_view text, const std::string& reason,
                                std::string_view where = {});

}  // namespace quax::agg
