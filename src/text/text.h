// Byte-string and CR LF line-list operations that all of vorrel's logic is
// written in. Texts are std::string holding raw bytes: no character-set
// conversion, and a zero byte is an ordinary byte. Positions are 1-based,
// offsets and line indexes 0-based, exactly as each operation states.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorrel {

/// The line break of line lists, console lines and inserted text.
inline constexpr std::string_view lineBreak = "\r\n";

/// 1-based position of the first occurrence of pattern in text at or after
/// start; 0 when there is none, when start is below 1 or beyond the text, or
/// when the pattern is empty.
std::int64_t findText(std::int64_t start, std::string_view text, std::string_view pattern);

/// Number of non-overlapping occurrences of pattern, taken left to right.
std::int64_t countOccurrences(std::string_view text, std::string_view pattern);

/// The n-th (1-based) piece of text between delimiters; empty past the last.
std::string fieldAt(std::string_view text, std::string_view delimiter, std::int64_t n);

/// The first n bytes (all of them when n exceeds the length; none when n <= 0).
std::string leftPart(std::string_view text, std::int64_t n);

/// The last n bytes (all of them when n exceeds the length; none when n <= 0).
std::string rightPart(std::string_view text, std::int64_t n);

/// Up to n bytes from the 0-based offset; empty at or past the end.
std::string midPart(std::string_view text, std::int64_t offset, std::int64_t n);

/// Every occurrence of oldText, found left to right without overlap in the
/// input, replaced by newText; inserted text is never searched again.
std::string replaceAll(std::string_view text, std::string_view oldText, std::string_view newText);

/// Copy with a-z mapped to A-Z; every other byte unchanged.
std::string toUpper(std::string_view text);

/// Copy with A-Z mapped to a-z; every other byte unchanged.
std::string toLower(std::string_view text);

/// c, upper-cased if it is one of a-z.
inline char upperByte(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

/// Upper-cases the bytes of data in place (a-z only).
void upperInPlace(char* data, std::size_t size);

/// The eight bytes packed in word with those from first to last (letters
/// of one case) switched to the other case; bytes of 128 and above never are.
inline std::uint64_t switchCaseBytes(std::uint64_t word, unsigned char first, unsigned char last) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    const std::uint64_t low7 = word & ~highs;
    const std::uint64_t atLeastFirst = low7 + ones * (0x80 - first);
    const std::uint64_t aboveLast = low7 + ones * (0x80 - last - 1);
    const std::uint64_t inRange = atLeastFirst & ~aboveLast & ~word & highs;
    return word ^ (inRange >> 2);
}

/// The eight bytes packed in word with a-z upper-cased.
inline std::uint64_t upperBytes(std::uint64_t word) { return switchCaseBytes(word, 'a', 'z'); }

/// The bytes in reverse order.
std::string reversed(std::string_view text);

/// -1, 0 or 1, comparing bytes as unsigned values; a proper prefix is smaller.
int compareText(std::string_view a, std::string_view b);

/// Appends line and CR LF to the list.
void addLine(std::string& list, std::string_view line);

/// 0-based index of the first CR LF terminated line equal to line, or -1.
std::int64_t findLine(std::string_view list, std::string_view line);

/// Inserts line and CR LF before line index (appending past the end).
void insertLine(std::string& list, std::string_view line, std::int64_t index);

/// Removes line index and its CR LF; an absent or unterminated line stays.
void deleteLine(std::string& list, std::int64_t index);

}  // namespace vorrel
