// Character references and escaping of element text and attribute values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvexan {

// The code point of a named character reference (HTML 4 names plus "apos"), case as written.
std::optional<uint32_t> EntityCodePoint(std::string_view name);
// How many names the set holds.
size_t EntityCount();

// Appends text with its character references replaced, in the given code page; widths are the
// code page's character widths, so multi-byte characters are copied whole.
void AppendDecoded(std::string_view text, uint32_t codePage, const uint8_t* widths,
                   std::string& out);

// Appends text with "<", "&", ">" escaped, and for attribute values also "'" and '"'.
void AppendEscaped(std::string_view text, bool attribute, std::string& out);

}  // namespace torvexan
