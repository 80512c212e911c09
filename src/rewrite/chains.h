// One replayed pass of a pattern over its chains of overlapping occurrences,
// each distinct spelling of a chain kept once. See DESIGN.md, "Replays".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorrel::engine {

/// What a replayed pass leaves in each chain.
struct ReplayedChains {
    std::vector<std::size_t> first;  // chain c holds the occurrences [first[c], first[c + 1])
    std::vector<std::uint32_t> groupOfChain;
    std::vector<std::string> content;  // per group: the bytes its chains end with
    bool replaced = false;             // whether any replace happened, changing the text
};

/// The pass that writes x over the occurrences at of a pattern of x's
/// length in text: at each occurrence, left to right, a differing spelling
/// h is replaced, text-wide and left to right without overlap, by x.
template <typename Offset>
ReplayedChains replayChains(std::string_view text, const std::vector<Offset>& at, std::string_view x);

}  // namespace vorrel::engine
