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

}  // namespace vorrel
