// Lists of increasing numbers kept small: each number as its distance from
// the one before, seven bits a byte. A pattern that reaches many of another's
// occurrences mostly reaches ones close together, so most take one byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorrel {

/// Increasing numbers, each stored as its distance from the one before.
struct Ascending {
    std::vector<std::uint8_t> bytes;
    std::uint32_t last = 0;  ///< the last number added
};

/// Adds value, which must be no less than the last number added; one equal
/// to it is not added again.
void appendAscending(Ascending& list, std::uint32_t value);

/// The number after previous (0 before the first), read from at on; at moves
/// past it. Read while at < list.bytes.size().
std::uint32_t nextAscending(const Ascending& list, std::size_t& at, std::uint32_t previous);

}  // namespace vorrel
