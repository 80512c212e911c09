#include "rewrite/matcher.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vorrel {

namespace {

constexpr std::uint32_t noNode = 0xffffffffu;

std::array<std::uint8_t, 256> makeFold() {
    std::array<std::uint8_t, 256> fold{};
    for (int c = 0; c < 256; ++c) fold[c] = static_cast<std::uint8_t>((c >= 'a' && c <= 'z') ? c - 32 : c);
    return fold;
}
const std::array<std::uint8_t, 256> fold = makeFold();

inline std::uint8_t foldedAt(std::string_view text, std::size_t at) {
    return fold[static_cast<std::uint8_t>(text[at])];
}

bool isLetter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A byte trie in compact form. Node 0 is the root. Most nodes have one or two
// children and keep them in a short sorted run; nodes with many children get
// a full 256-entry table, so that the busy top of the trie costs one lookup.
struct Trie {
    std::vector<std::uint32_t> edgeBegin;  // per node; the node's edges end where the next node's begin
    std::vector<std::uint32_t> edges;      // child << 8 | byte, sorted by byte
    std::vector<std::uint32_t> denseAt;    // per node: offset in dense, or noNode
    std::vector<std::uint32_t> dense;
    std::vector<std::int32_t> terminal;    // per node: the pattern spelled to here, or -1
};

inline std::uint32_t childOf(const Trie& trie, std::uint32_t node, std::uint8_t byte) {
    const std::uint32_t table = trie.denseAt[node];
    if (table != noNode) return trie.dense[table + byte];
    for (std::uint32_t e = trie.edgeBegin[node], end = trie.edgeBegin[node + 1]; e < end; ++e) {
        const std::uint32_t edge = trie.edges[e];
        const std::uint8_t edgeByte = static_cast<std::uint8_t>(edge);
        if (edgeByte == byte) return edge >> 8;
        if (edgeByte > byte) break;
    }
    return noNode;
}

// Builds the trie of keys, each tagged with its pattern index.
Trie buildTrie(const std::vector<std::pair<std::string, std::int32_t>>& keys) {
    std::vector<std::unordered_map<std::uint8_t, std::uint32_t>> children(1);
    std::vector<std::int32_t> terminal(1, -1);
    for (const auto& [key, index] : keys) {
        std::uint32_t node = 0;
        for (const char c : key) {
            const std::uint8_t byte = static_cast<std::uint8_t>(c);
            const auto found = children[node].find(byte);
            if (found != children[node].end()) {
                node = found->second;
                continue;
            }
            const auto next = static_cast<std::uint32_t>(children.size());
            children[node].emplace(byte, next);
            children.emplace_back();
            terminal.push_back(-1);
            node = next;
        }
        terminal[node] = index;
    }
    Trie trie;
    const std::size_t nodes = children.size();
    trie.edgeBegin.reserve(nodes + 1);
    trie.denseAt.assign(nodes, noNode);
    for (std::size_t node = 0; node < nodes; ++node) {
        trie.edgeBegin.push_back(static_cast<std::uint32_t>(trie.edges.size()));
        std::vector<std::pair<std::uint8_t, std::uint32_t>> edges(children[node].begin(), children[node].end());
        std::sort(edges.begin(), edges.end());
        for (const auto& [byte, child] : edges) trie.edges.push_back(child << 8 | byte);
        if (edges.size() >= 4) {
            trie.denseAt[node] = static_cast<std::uint32_t>(trie.dense.size());
            trie.dense.resize(trie.dense.size() + 256, noNode);
            for (const auto& [byte, child] : edges) trie.dense[trie.denseAt[node] + byte] = child;
        }
        std::unordered_map<std::uint8_t, std::uint32_t>().swap(children[node]);
    }
    trie.edgeBegin.push_back(static_cast<std::uint32_t>(trie.edges.size()));
    trie.terminal = std::move(terminal);
    return trie;
}

// Four bytes of text, ASCII letters upper-cased, as one word.
inline std::uint32_t foldedWindow(const char* at) {
    std::uint32_t word;
    std::memcpy(&word, at, 4);
    constexpr std::uint32_t ones = 0x01010101u, highs = 0x80808080u;
    const std::uint32_t low7 = word & ~highs;
    const std::uint32_t lower = (low7 + ones * (0x80 - 'a')) & ~(low7 + ones * (0x80 - 'z' - 1)) & ~word & highs;
    return word ^ (lower >> 2);
}

inline std::uint32_t windowSlot(std::uint32_t window, unsigned bits) { return (window * 0x9E3779B1u) >> (32 - bits); }

// Patterns searched from one end: forward from their first byte, or backward
// from their last byte (the trie then holds them reversed). Patterns of four
// bytes or more are only followed where the four text bytes at that end hash
// into a slot that one of them occupies, which skips most anchor positions.
struct Group {
    Trie trie;
    std::array<bool, 256> longAnchor{};   // anchor bytes of patterns of four bytes or more
    std::array<bool, 256> shortAnchor{};  // anchor bytes of shorter patterns
    std::vector<std::uint64_t> filter;
    unsigned filterBits = 0;
};

Group buildGroup(const std::vector<std::pair<std::string, std::int32_t>>& keys) {
    Group group;
    group.filterBits = 14;
    while (group.filterBits < 22 && (std::size_t(1) << group.filterBits) < keys.size() * 32) ++group.filterBits;
    group.filter.assign((std::size_t(1) << group.filterBits) / 64, 0);
    for (const auto& [key, index] : keys) {
        const auto anchor = static_cast<std::uint8_t>(key.front());
        if (key.size() < 4) {
            group.shortAnchor[anchor] = true;
            continue;
        }
        group.longAnchor[anchor] = true;
        std::uint32_t window;
        std::memcpy(&window, key.data(), 4);  // keys are upper-cased already
        const std::uint32_t slot = windowSlot(window, group.filterBits);
        group.filter[slot >> 6] |= std::uint64_t(1) << (slot & 63);
    }
    group.trie = buildTrie(keys);
    return group;
}

inline bool filterAdmits(const Group& group, std::uint32_t window) {
    const std::uint32_t slot = windowSlot(window, group.filterBits);
    return (group.filter[slot >> 6] >> (slot & 63)) & 1;
}

// The backward group's filter holds reversed windows: the last four bytes of
// a pattern read from the end.
inline std::uint32_t reversedWindow(std::uint32_t window) {
    return (window >> 24) | ((window >> 8) & 0xff00u) | ((window << 8) & 0xff0000u) | (window << 24);
}

constexpr std::string_view declarationOpening = " AS ";

struct Plan {
    Group forward, backward;
    Trie declaration;  // what follows " AS " in patterns that open with it
    bool declarations = false;
    std::array<std::uint8_t, 256> anchorBytes{};  // text bytes (either case) that may start a walk
};

// Byte frequencies of a sample of the text, to anchor each pattern at its
// rarer end.
std::array<std::uint64_t, 256> sampleFrequencies(std::string_view text) {
    std::array<std::uint64_t, 256> counts{};
    const std::size_t stride = text.size() > (1u << 22) ? text.size() / (1u << 20) : 1;
    for (std::size_t i = 0; i < text.size(); i += stride) ++counts[foldedAt(text, i)];
    return counts;
}

// Each pattern is searched from one of its ends. The cheapest plan is the one
// whose anchor bytes are rarest in the text as a whole, not pattern by
// pattern: two thousand member names anchored at their own first letters
// would make nearly every letter an anchor. Three plans are weighed.
std::vector<bool> chooseBackward(const std::vector<std::string>& patterns, const std::vector<std::size_t>& firstOf,
                                 const std::array<std::uint64_t, 256>& frequency) {
    const std::size_t count = patterns.size();
    std::vector<std::vector<bool>> plans(3, std::vector<bool>(count, false));
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& p = patterns[i];
        if (p.empty()) continue;
        const auto first = static_cast<std::uint8_t>(p.front()), last = static_cast<std::uint8_t>(p.back());
        plans[0][i] = frequency[last] < frequency[first];
        plans[1][i] = isLetter(first) && !isLetter(last) ? true : (isLetter(last) && !isLetter(first) ? false : plans[0][i]);
        plans[2][i] = true;
    }
    std::size_t best = 0;
    std::uint64_t bestCost = ~std::uint64_t(0);
    for (std::size_t plan = 0; plan < plans.size(); ++plan) {
        std::array<bool, 256> used{};
        std::uint64_t cost = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string& p = patterns[i];
            if (p.empty() || firstOf[i] != i || p.compare(0, declarationOpening.size(), declarationOpening) == 0) continue;
            const auto anchor = static_cast<std::uint8_t>(plans[plan][i] ? p.back() : p.front());
            if (!used[anchor]) cost += frequency[anchor] + 1;
            used[anchor] = true;
        }
        if (cost < bestCost) {
            bestCost = cost;
            best = plan;
        }
    }
    return plans[best];
}

Plan planSearch(std::string_view text, const std::vector<std::string>& patterns, const std::vector<std::size_t>& firstOf) {
    const std::vector<bool> backward = chooseBackward(patterns, firstOf, sampleFrequencies(text));
    std::vector<std::pair<std::string, std::int32_t>> forwardKeys, backwardKeys, declarationKeys;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        const std::string& pattern = patterns[i];
        if (pattern.empty() || firstOf[i] != i) continue;
        const auto index = static_cast<std::int32_t>(i);
        if (pattern.compare(0, declarationOpening.size(), declarationOpening) == 0) {
            declarationKeys.emplace_back(pattern.substr(declarationOpening.size()), index);
        } else if (backward[i]) {
            backwardKeys.emplace_back(std::string(pattern.rbegin(), pattern.rend()), index);
        } else {
            forwardKeys.emplace_back(pattern, index);
        }
    }
    Plan plan;
    plan.forward = buildGroup(forwardKeys);
    plan.backward = buildGroup(backwardKeys);
    plan.declaration = buildTrie(declarationKeys);
    plan.declarations = !declarationKeys.empty();
    for (int c = 0; c < 256; ++c) {
        const std::uint8_t folded = fold[c];
        if (plan.forward.longAnchor[folded] || plan.forward.shortAnchor[folded]) plan.anchorBytes[c] |= 1;
        if (plan.backward.longAnchor[folded] || plan.backward.shortAnchor[folded]) plan.anchorBytes[c] |= 2;
    }
    if (plan.declarations) plan.anchorBytes[' '] |= 4;
    return plan;
}

void walkForward(const Trie& trie, std::uint32_t node, std::string_view text, std::size_t from, std::size_t start,
                 std::vector<Occurrences>& found) {
    for (std::size_t at = from;; ++at) {
        if (trie.terminal[node] >= 0) found[trie.terminal[node]].push_back(start);
        if (at >= text.size()) return;
        node = childOf(trie, node, foldedAt(text, at));
        if (node == noNode) return;
    }
}

void walkBackward(const Trie& trie, std::string_view text, std::size_t anchor, std::vector<Occurrences>& found) {
    std::uint32_t node = childOf(trie, 0, foldedAt(text, anchor));
    for (std::size_t start = anchor; node != noNode; --start) {
        if (trie.terminal[node] >= 0) found[trie.terminal[node]].push_back(start);
        if (start == 0) return;
        node = childOf(trie, node, foldedAt(text, start - 1));
    }
}

bool opensDeclaration(std::string_view text, std::size_t at) {
    return text[at] == ' ' && at + 4 <= text.size() && foldedAt(text, at + 1) == 'A' && foldedAt(text, at + 2) == 'S' &&
           text[at + 3] == ' ';
}

// Follows every pattern that may occur at the anchor position at.
void searchAt(const Plan& plan, std::string_view text, std::size_t at, std::vector<Occurrences>& found) {
    const std::uint8_t byte = foldedAt(text, at);
    const std::uint8_t kind = plan.anchorBytes[static_cast<std::uint8_t>(text[at])];
    if (kind & 1) {
        const bool walk = plan.forward.shortAnchor[byte] ||
                          (plan.forward.longAnchor[byte] &&
                           (at + 4 > text.size() || filterAdmits(plan.forward, foldedWindow(text.data() + at))));
        if (walk) {
            const std::uint32_t node = childOf(plan.forward.trie, 0, byte);
            if (node != noNode) walkForward(plan.forward.trie, node, text, at + 1, at, found);
        }
    }
    if (kind & 2) {
        const bool walk = plan.backward.shortAnchor[byte] ||
                          (plan.backward.longAnchor[byte] &&
                           (at < 3 || filterAdmits(plan.backward, reversedWindow(foldedWindow(text.data() + at - 3)))));
        if (walk) walkBackward(plan.backward.trie, text, at, found);
    }
    if ((kind & 4) && opensDeclaration(text, at)) walkForward(plan.declaration, 0, text, at + 4, at, found);
}

// Distinct text bytes, either letter case counted, that may start a walk;
// more than this and the byte-by-byte loop is as quick as a vector compare.
constexpr std::size_t vectorAnchorLimit = 6;

#if defined(__SSE2__)
// Visits the anchor positions sixteen at a time: one compare per anchor byte
// tells which of sixteen bytes deserve a look.
void searchVectorised(const Plan& plan, std::string_view text, const std::vector<std::uint8_t>& anchors,
                      std::vector<Occurrences>& found) {
    __m128i wanted[vectorAnchorLimit];
    const std::size_t count = anchors.size();
    for (std::size_t i = 0; i < count; ++i) wanted[i] = _mm_set1_epi8(static_cast<char>(anchors[i]));
    const char* data = text.data();
    const std::size_t size = text.size();
    std::size_t at = 0;
    for (; at + 16 <= size; at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        __m128i hits = _mm_cmpeq_epi8(block, wanted[0]);
        for (std::size_t i = 1; i < count; ++i) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, wanted[i]));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        while (mask != 0) {
            searchAt(plan, text, at + static_cast<std::size_t>(__builtin_ctz(mask)), found);
            mask &= mask - 1;
        }
    }
    for (; at < size; ++at) {
        if (plan.anchorBytes[static_cast<std::uint8_t>(data[at])]) searchAt(plan, text, at, found);
    }
}
#endif

}  // namespace

std::vector<Occurrences> findOccurrences(std::string_view text, const std::vector<std::string>& patterns) {
    std::vector<Occurrences> found(patterns.size());
    std::vector<std::size_t> firstOf(patterns.size());
    std::unordered_map<std::string_view, std::size_t> seen;
    for (std::size_t i = 0; i < patterns.size(); ++i) firstOf[i] = seen.emplace(patterns[i], i).first->second;

    const Plan plan = planSearch(text, patterns, firstOf);
    std::vector<std::uint8_t> anchors;
    for (int c = 0; c < 256; ++c) {
        if (plan.anchorBytes[c]) anchors.push_back(static_cast<std::uint8_t>(c));
    }
#if defined(__SSE2__)
    if (!anchors.empty() && anchors.size() <= vectorAnchorLimit) {
        searchVectorised(plan, text, anchors, found);
    } else
#endif
    {
        for (std::size_t at = 0; at < text.size(); ++at) {
            if (plan.anchorBytes[static_cast<std::uint8_t>(text[at])]) searchAt(plan, text, at, found);
        }
    }
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        if (firstOf[i] != i) found[i] = found[firstOf[i]];
    }
    return found;
}

}  // namespace vorrel
