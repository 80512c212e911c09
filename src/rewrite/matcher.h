// Finding every occurrence of many patterns at once in a text whose ASCII
// letters are compared without regard to case.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace vorrel {

/// Sorted 0-based offsets of the occurrences of one pattern.
using Occurrences = std::vector<std::uint64_t>;

/// Sorted offsets, in 32 bits each where the text allows: per offset its
/// low bits, and for the bits above them the indexes at which they go up by
/// one, of which a text under 4 GiB has none.
struct Offsets {
    std::vector<std::uint32_t> low;
    std::vector<std::uint32_t> raisedAt;  ///< raisedAt[k]: the first index whose upper bits exceed k
    unsigned lowBits = 32;

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

    std::uint64_t operator[](std::size_t i) const {
        if (raisedAt.empty()) return low[i];
        const auto high = std::upper_bound(raisedAt.begin(), raisedAt.end(), i) - raisedAt.begin();
        return std::uint64_t(high) << lowBits | low[i];
    }
    std::size_t size() const { return low.size(); }
    bool empty() const { return low.empty(); }
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, low.size()}; }
};

/// No offsets yet, room for count, kept in lowBits bits each and the rest by index.
Offsets emptyOffsets(unsigned lowBits, std::size_t count);

/// Adds an offset no smaller than the last one.
void appendOffset(Offsets& offsets, std::uint64_t offset);

/// The first index whose offset is value or more (the size when none is):
/// galloping on from hint when the answer lies there or later, as it does
/// for values met in increasing order; else halving the whole list.
std::size_t firstAtLeast(const Offsets& offsets, std::uint64_t value, std::size_t hint);

/// How much one pass over the text may search for: pattern numbers and trie
/// nodes are packed into 24 bits, so more patterns, or longer ones, take
/// several passes. offsetLowBits (1 to 32) is the Offsets::lowBits of the
/// results; lower only to try the form that texts over 4 GiB take.
struct SearchLimits {
    std::size_t patterns = (std::size_t(1) << 24) - 1;
    std::size_t bytes = (std::size_t(1) << 24) - 2;
    unsigned offsetLowBits = 32;
};

/// For each pattern, every occurrence in toUpper(text), overlapping ones
/// included. Patterns are compared as given against the upper-cased text, so
/// a pattern holding a-z never matches; an empty pattern has no occurrences.
std::vector<Offsets> findOccurrences(std::string_view text, const std::vector<std::string>& patterns);

/// findOccurrences with the passes cut at the given limits.
std::vector<Offsets> findOccurrences(std::string_view text, const std::vector<std::string>& patterns,
                                     const SearchLimits& limits);

}  // namespace vorrel
