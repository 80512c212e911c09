// Finding every occurrence of many patterns at once in a text whose ASCII
// letters are compared without regard to case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorrel {

/// Sorted 0-based offsets of the occurrences of one pattern.
using Occurrences = std::vector<std::uint64_t>;

/// For each pattern, every occurrence in toUpper(text), overlapping ones
/// included. Patterns are compared as given against the upper-cased text, so
/// a pattern holding a-z never matches; an empty pattern has no occurrences.
std::vector<Occurrences> findOccurrences(std::string_view text, const std::vector<std::string>& patterns);

/// How much one pass over the text may search for: pattern numbers and trie
/// nodes are packed into 24 bits, so more patterns, or longer ones, take
/// several passes.
struct SearchLimits {
    std::size_t patterns = (std::size_t(1) << 24) - 1;
    std::size_t bytes = (std::size_t(1) << 24) - 2;
};

/// findOccurrences with the passes cut at the given limits.
std::vector<Occurrences> findOccurrences(std::string_view text, const std::vector<std::string>& patterns,
                                         const SearchLimits& limits);

}  // namespace vorrel
