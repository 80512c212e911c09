// Finding every occurrence of many patterns at once in a text whose ASCII
// letters are compared without regard to case.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace vorrel {

/// Sorted 0-based offsets of the occurrences of one pattern.
using Occurrences = std::vector<std::uint64_t>;

/// Sorted offsets, in 16 bits each while they lie close together, else in
/// 32 where the text allows. Narrow: per 64 offsets in a row, the first in
/// four 16-bit units, then each offset's distance from that first, under
/// narrowSpan. Wide (once an offset lies farther): per offset its low bits,
/// and for the bits above them the indexes at which they go up by one, of
/// which a text under 4 GiB has none.
struct Offsets {
    static constexpr std::size_t run = 64, runUnits = run + 4;
    std::vector<std::uint16_t> narrow;
    std::vector<std::uint32_t> low;
    std::vector<std::uint32_t> raisedAt;  ///< raisedAt[k]: the first index whose upper bits exceed k
    unsigned lowBits = 32;
    std::uint32_t narrowSpan = 0;         ///< while narrow, more than any distance; 0 once wide

    /// Reads offsets by index, as std::lower_bound and range loops need.
    struct Iterator {
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::uint64_t;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::uint64_t;
        const Offsets* offsets;
        std::size_t index;
        std::uint64_t operator*() const { return (*offsets)[index]; }
        Iterator& operator++() { ++index; return *this; }
        Iterator& operator--() { --index; return *this; }
        Iterator& operator+=(difference_type n) { index += n; return *this; }
        difference_type operator-(const Iterator& other) const {
            return static_cast<difference_type>(index) - static_cast<difference_type>(other.index);
        }
        bool operator==(const Iterator& other) const { return index == other.index; }
        bool operator!=(const Iterator& other) const { return index != other.index; }
    };

    /// The first offset of the narrow run that begins at unit at.
    std::uint64_t runFirst(std::size_t at) const {
        std::uint64_t first;
        std::memcpy(&first, narrow.data() + at, sizeof first);
        return first;
    }
    std::uint64_t narrowAt(std::size_t i) const {
        const std::size_t at = i / run * runUnits;
        return runFirst(at) + narrow[at + 4 + i % run];
    }
    std::uint64_t operator[](std::size_t i) const {
        if (narrowSpan != 0) return narrowAt(i);
        if (raisedAt.empty()) return low[i];
        const auto high = std::upper_bound(raisedAt.begin(), raisedAt.end(), i) - raisedAt.begin();
        return std::uint64_t(high) << lowBits | low[i];
    }
    /// The low bits of offset i, without looking up the ones above them.
    std::uint32_t lowAt(std::size_t i) const { return narrowSpan != 0 ? static_cast<std::uint32_t>(narrowAt(i)) : low[i]; }
    std::size_t size() const {
        return narrowSpan != 0 ? narrow.size() - 4 * ((narrow.size() + runUnits - 1) / runUnits) : low.size();
    }
    bool empty() const { return size() == 0; }
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size()}; }
};

/// No offsets yet, room for count, kept narrow while each lies less than
/// narrowSpan (at most 65,536; 0 for never) past the first of its 64, if
/// count is 64 or more, then in lowBits bits each and the rest by index.
Offsets emptyOffsets(unsigned lowBits, std::size_t count, std::uint32_t narrowSpan);

/// Adds an offset no smaller than the last one.
void appendOffset(Offsets& offsets, std::uint64_t offset);

/// The first index whose offset is value or more (the size when none is):
/// galloping on from hint when the answer lies there or later, as it does
/// for values met in increasing order; else halving the whole list.
std::size_t firstAtLeast(const Offsets& offsets, std::uint64_t value, std::size_t hint);

/// How much one pass over the text may search for: pattern numbers and trie
/// nodes are packed into 24 bits, so more patterns, or longer ones, take
/// several passes. offsetLowBits (1 to 32) is the Offsets::lowBits of the
/// results; lower only to try the form that texts over 4 GiB take; lower
/// narrowSpan only to try the wide form with offsets close together.
struct SearchLimits {
    std::size_t patterns = (std::size_t(1) << 24) - 1;
    std::size_t bytes = (std::size_t(1) << 24) - 2;
    unsigned offsetLowBits = 32;
    std::uint32_t narrowSpan = 65536;  ///< Offsets::narrowSpan of the results, at first
};

/// For each pattern, every occurrence in toUpper(text), overlapping ones
/// included. Patterns are compared as given against the upper-cased text, so
/// a pattern holding a-z never matches; an empty pattern has no occurrences.
std::vector<Offsets> findOccurrences(std::string_view text, const std::vector<std::string>& patterns);

/// findOccurrences with the passes cut at the given limits.
std::vector<Offsets> findOccurrences(std::string_view text, const std::vector<std::string>& patterns,
                                     const SearchLimits& limits);

}  // namespace vorrel
