// Finding every occurrence of many byte patterns in one text at once: the
// scan's search for match keys and member patterns in the upper-case source.
#pragma once

#include <string_view>
#include <vector>

namespace vorrel {

/// For each pattern, the offset of every occurrence in text read as if its
/// letters a-z were upper case, overlapping ones included, in ascending
/// order. Patterns must be upper case, distinct and not empty. Offset is
/// std::uint32_t, or std::uint64_t for texts over 4 GiB.
template <typename Offset>
std::vector<std::vector<Offset>> findEvery(std::string_view text, const std::vector<std::string_view>& patterns);

}  // namespace vorrel
