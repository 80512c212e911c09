// A replace changes a chain by what the chain holds alone, so chains that
// start alike stay alike and are kept once, as a group; groups that come to
// be alike merge. Thousands of equal runs then cost what one does.
#include "rewrite/chains.h"

#include <algorithm>
#include <unordered_map>

namespace vorrel::engine {

namespace {

template <typename Offset>
struct Chains {
    const std::vector<Offset>& at;
    std::size_t length;  // of the pattern
    ReplayedChains result{};
    std::vector<std::size_t> sample{};    // per group: a chain spelled so, for where its occurrences lie
    std::vector<std::uint32_t> parent{};  // a merged group points at the group it joined
    std::vector<std::uint32_t> live{};
    std::unordered_map<std::string_view, std::uint32_t> byContent{};
};

template <typename Offset>
std::uint32_t groupOf(Chains<Offset>& chains, std::size_t chain) {
    std::uint32_t group = chains.result.groupOfChain[chain];
    while (chains.parent[group] != group) group = chains.parent[group] = chains.parent[chains.parent[group]];
    return chains.result.groupOfChain[chain] = group;
}

template <typename Offset>
void groupChains(Chains<Offset>& chains, std::string_view text) {
    const std::vector<Offset>& at = chains.at;
    ReplayedChains& result = chains.result;
    for (std::size_t i = 0; i < at.size();) {
        std::size_t end = i + 1;
        while (end < at.size() && at[end] < at[end - 1] + chains.length) ++end;
        result.first.push_back(i);
        i = end;
    }
    result.first.push_back(at.size());
    result.content.reserve(result.first.size());  // the views in byContent point into these strings
    for (std::size_t chain = 0; chain + 1 < result.first.size(); ++chain) {
        const std::size_t begin = at[result.first[chain]], end = at[result.first[chain + 1] - 1] + chains.length;
        const std::string_view spelled = text.substr(begin, end - begin);
        auto found = chains.byContent.find(spelled);
        if (found == chains.byContent.end()) {
            const auto group = static_cast<std::uint32_t>(result.content.size());
            result.content.emplace_back(spelled);
            chains.sample.push_back(chain);
            chains.parent.push_back(group);
            chains.live.push_back(group);
            found = chains.byContent.emplace(result.content.back(), group).first;
        }
        result.groupOfChain.push_back(found->second);
    }
}

// One text-wide replace of h by x: in each chain, left to right, the
// occurrences spelled h that do not overlap one already replaced.
template <typename Offset>
void replaceInGroups(Chains<Offset>& chains, std::string_view h, std::string_view x) {
    std::vector<std::uint32_t> changed;
    for (const std::uint32_t group : chains.live) {
        std::string& content = chains.result.content[group];
        const std::size_t chain = chains.sample[group];
        const std::size_t first = chains.result.first[chain], start = chains.at[first];
        std::size_t end = 0;
        for (std::size_t i = first; i < chains.result.first[chain + 1]; ++i) {
            const std::size_t offset = chains.at[i] - start;
            if (offset < end || content.compare(offset, h.size(), h) != 0) continue;
            if (end == 0) chains.byContent.erase(content);
            content.replace(offset, x.size(), x);
            end = offset + x.size();
        }
        if (end != 0) changed.push_back(group);
    }
    // Only now, when every group has its new bytes, can alike ones be told.
    for (const std::uint32_t group : changed) {
        const auto [found, added] = chains.byContent.try_emplace(chains.result.content[group], group);
        if (added) continue;
        chains.parent[group] = found->second;
        std::string().swap(chains.result.content[group]);
    }
    chains.live.erase(std::remove_if(chains.live.begin(), chains.live.end(),
                                     [&chains](std::uint32_t group) { return chains.parent[group] != group; }),
                      chains.live.end());
}

}  // namespace

template <typename Offset>
ReplayedChains replayChains(std::string_view text, const std::vector<Offset>& at, std::string_view x) {
    Chains<Offset> chains{at, x.size()};
    groupChains(chains, text);
    const std::vector<std::size_t>& first = chains.result.first;
    for (std::size_t chain = 0; chain + 1 < first.size(); ++chain)
        for (std::size_t i = first[chain]; i < first[chain + 1]; ++i) {
            const std::string& content = chains.result.content[groupOf(chains, chain)];
            const std::size_t offset = at[i] - at[first[chain]];
            if (content.compare(offset, x.size(), x) == 0) continue;
            replaceInGroups(chains, std::string(content, offset, x.size()), x);
            chains.result.replaced = true;
        }
    for (std::size_t chain = 0; chain + 1 < first.size(); ++chain) groupOf(chains, chain);
    return std::move(chains.result);
}

template ReplayedChains replayChains(std::string_view, const std::vector<std::uint32_t>&, std::string_view);
template ReplayedChains replayChains(std::string_view, const std::vector<std::uint64_t>&, std::string_view);

}  // namespace vorrel::engine
