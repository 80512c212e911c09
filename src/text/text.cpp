#include "text/text.h"

#include <cstring>

namespace vorrel {

namespace {

std::size_t clampCount(std::int64_t n, std::size_t limit) {
    if (n <= 0) return 0;
    return static_cast<std::uint64_t>(n) < limit ? static_cast<std::size_t>(n) : limit;
}

void mapCaseInPlace(char* data, std::size_t size, unsigned char first, unsigned char last) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        word = switchCaseBytes(word, first, last);
        std::memcpy(data + i, &word, 8);
    }
    for (; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c >= first && c <= last) data[i] = static_cast<char>(c ^ 0x20);
    }
}

}  // namespace

std::int64_t findText(std::int64_t start, std::string_view text, std::string_view pattern) {
    if (start < 1 || static_cast<std::uint64_t>(start) > text.size()) return 0;
    const std::size_t from = static_cast<std::size_t>(start - 1);
    if (text.size() - from < pattern.size()) return 0;
    const std::size_t found = text.find(pattern, from);
    return found == std::string_view::npos ? 0 : static_cast<std::int64_t>(found) + 1;
}

std::int64_t countOccurrences(std::string_view text, std::string_view pattern) {
    if (pattern.empty()) return 0;
    std::int64_t count = 0;
    for (std::size_t at = text.find(pattern); at != std::string_view::npos;
         at = text.find(pattern, at + pattern.size())) {
        ++count;
    }
    return count;
}

std::string fieldAt(std::string_view text, std::string_view delimiter, std::int64_t n) {
    if (text.empty() || n < 1) return {};
    if (delimiter.empty()) return n == 1 ? std::string(text) : std::string();
    std::size_t start = 0;
    for (std::int64_t i = 1; i < n; ++i) {
        const std::size_t at = text.find(delimiter, start);
        if (at == std::string_view::npos) return {};
        start = at + delimiter.size();
    }
    const std::size_t end = text.find(delimiter, start);
    return std::string(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

std::string leftPart(std::string_view text, std::int64_t n) {
    return std::string(text.substr(0, clampCount(n, text.size())));
}

std::string rightPart(std::string_view text, std::int64_t n) {
    const std::size_t count = clampCount(n, text.size());
    return std::string(text.substr(text.size() - count));
}

std::string midPart(std::string_view text, std::int64_t offset, std::int64_t n) {
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= text.size()) return {};
    const std::size_t from = static_cast<std::size_t>(offset);
    return std::string(text.substr(from, clampCount(n, text.size() - from)));
}

std::string replaceAll(std::string_view text, std::string_view oldText, std::string_view newText) {
    if (oldText.empty()) return std::string(text);
    std::string result;
    std::size_t copied = 0;
    std::size_t at = text.find(oldText);
    if (at == std::string_view::npos) return std::string(text);
    result.reserve(text.size());
    for (; at != std::string_view::npos; at = text.find(oldText, copied)) {
        result.append(text.substr(copied, at - copied));
        result.append(newText);
        copied = at + oldText.size();
    }
    result.append(text.substr(copied));
    return result;
}

void upperInPlace(char* data, std::size_t size) { mapCaseInPlace(data, size, 'a', 'z'); }

std::string toUpper(std::string_view text) {
    std::string result(text);
    upperInPlace(result.data(), result.size());
    return result;
}

std::string toLower(std::string_view text) {
    std::string result(text);
    mapCaseInPlace(result.data(), result.size(), 'A', 'Z');
    return result;
}

std::string reversed(std::string_view text) { return std::string(text.rbegin(), text.rend()); }

int compareText(std::string_view a, std::string_view b) {
    const int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

void addLine(std::string& list, std::string_view line) {
    list.append(line);
    list.append(lineBreak);
}

std::int64_t findLine(std::string_view list, std::string_view line) {
    std::int64_t position = 1;
    for (;;) {
        const std::int64_t found = findText(position, list, line);
        if (found == 0) return -1;
        const std::size_t offset = static_cast<std::size_t>(found - 1);
        const std::size_t end = offset + line.size();
        if (end >= list.size()) return -1;
        if ((offset == 0 || list[offset - 1] == '\n') && list[end] == '\r') {
            return countOccurrences(list.substr(0, offset), lineBreak);
        }
        position = found + 1;
    }
}

namespace {

// Offset of the start of line index; when the list has fewer lines, the
// offset of the last line reached, with reached set to false.
std::size_t lineStart(std::string_view list, std::int64_t index, bool& reached) {
    std::size_t offset = 0;
    reached = true;
    for (std::int64_t i = 0; i < index; ++i) {
        const std::size_t at = list.find(lineBreak, offset);
        if (at == std::string_view::npos) {
            reached = false;
            break;
        }
        offset = at + lineBreak.size();
    }
    return offset;
}

}  // namespace

void insertLine(std::string& list, std::string_view line, std::int64_t index) {
    bool reached = false;
    const std::size_t offset = lineStart(list, index, reached);
    std::string inserted;
    inserted.reserve(line.size() + lineBreak.size());
    inserted.append(line);
    inserted.append(lineBreak);
    list.insert(offset, inserted);
}

void deleteLine(std::string& list, std::int64_t index) {
    if (list.empty() || index < 0) return;
    bool reached = false;
    const std::size_t offset = lineStart(list, index, reached);
    if (!reached) return;
    const std::size_t end = list.find(lineBreak, offset);
    if (end == std::string::npos) return;
    list.erase(offset, end - offset + lineBreak.size());
}

}  // namespace vorrel
