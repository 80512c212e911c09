#include "rewrite/matcher.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/text.h"

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

// A byte trie in compact form. Node 0 is the root. A chain of nodes with one
// child each is kept as one node with a label: the bytes that must follow
// the edge into it, compared in a tight loop. Nodes with many children get
// a full 256-entry table, so that the busy top of the trie costs one lookup;
// the others keep their few edges in a short sorted run.
struct TrieNode {
    std::uint32_t labelBegin = 0, labelLength = 0;  // into Trie::labels
    std::uint32_t edgeBegin = 0, edgeEnd = 0;       // into Trie::edges
    std::uint32_t dense = noNode;                   // into Trie::dense, or noNode
    std::int32_t terminal = -1;                     // the pattern spelled to here, or -1
};

struct Trie {
    std::vector<TrieNode> nodes;
    std::string labels;
    std::vector<std::uint32_t> edges;  // child << 8 | byte, sorted by byte
    std::vector<std::uint32_t> dense;
};

inline std::uint32_t childOf(const Trie& trie, std::uint32_t node, std::uint8_t byte) {
    const TrieNode& n = trie.nodes[node];
    if (n.dense != noNode) return trie.dense[n.dense + byte];
    for (std::uint32_t e = n.edgeBegin; e < n.edgeEnd; ++e) {
        const std::uint32_t edge = trie.edges[e];
        const std::uint8_t edgeByte = static_cast<std::uint8_t>(edge);
        if (edgeByte == byte) return edge >> 8;
        if (edgeByte > byte) break;
    }
    return noNode;
}

// Builds the trie of keys, each tagged with its pattern index.
Trie buildTrie(const std::vector<std::pair<std::string, std::int32_t>>& keys) {
    // First one node per byte, then chains folded into labels.
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
    std::vector<std::uint32_t> original(1, 0);  // per compact node: the node at its decision point
    trie.nodes.emplace_back();
    trie.nodes[0].terminal = terminal[0];
    for (std::uint32_t node = 0; node < original.size(); ++node) {
        const auto edgeBegin = static_cast<std::uint32_t>(trie.edges.size());
        std::vector<std::pair<std::uint8_t, std::uint32_t>> edges(children[original[node]].begin(),
                                                                  children[original[node]].end());
        std::sort(edges.begin(), edges.end());
        for (const auto& [byte, child] : edges) {
            std::uint32_t end = child;
            TrieNode compact;
            compact.labelBegin = static_cast<std::uint32_t>(trie.labels.size());
            while (terminal[end] < 0 && children[end].size() == 1) {
                trie.labels.push_back(static_cast<char>(children[end].begin()->first));
                end = children[end].begin()->second;
            }
            compact.labelLength = static_cast<std::uint32_t>(trie.labels.size()) - compact.labelBegin;
            compact.terminal = terminal[end];
            trie.edges.push_back(static_cast<std::uint32_t>(trie.nodes.size()) << 8 | byte);
            original.push_back(end);
            trie.nodes.push_back(compact);
        }
        trie.nodes[node].edgeBegin = edgeBegin;
        trie.nodes[node].edgeEnd = static_cast<std::uint32_t>(trie.edges.size());
        if (edges.size() >= 4) {
            trie.nodes[node].dense = static_cast<std::uint32_t>(trie.dense.size());
            trie.dense.resize(trie.dense.size() + 256, noNode);
            for (std::uint32_t e = edgeBegin; e < trie.edges.size(); ++e) {
                trie.dense[trie.nodes[node].dense + (trie.edges[e] & 0xff)] = trie.edges[e] >> 8;
            }
        }
    }
    trie.labels.append(8, '\0');  // so that a label's last bytes can be read eight at a time
    return trie;
}

// Patterns searched from one end: forward from their first byte, or backward
// from their last byte (the trie then holds them reversed, so that a key's
// first byte is always its anchor). Before a walk, the key bytes that would
// follow the anchor are checked against small tables of what the keys hold
// there: most anchors are turned away after one or two lookups.
struct Group {
    Trie trie;
    std::array<bool, 256> anchor{};   // first key bytes
    std::array<bool, 256> single{};   // keys of one byte
    std::array<bool, 256> second{};   // second bytes of longer keys
    std::array<bool, 256> endsAt2{};  // second bytes of two-byte keys
    std::vector<std::uint64_t> pair;  // second and third bytes of keys of three bytes or more
    std::vector<std::uint64_t> endsAt3;  // same, for three-byte keys
    std::vector<std::uint64_t> window;   // hashed first four bytes of longer keys
    bool secondByteIsWordByte = true;    // every longer key's second byte is a letter, digit or "_"
};

constexpr unsigned windowBits = 16;

inline std::uint32_t windowSlot(std::uint32_t window) { return (window * 0x9E3779B1u) >> (32 - windowBits); }

inline bool bitSet(const std::vector<std::uint64_t>& bits, std::uint32_t slot) { return (bits[slot >> 6] >> (slot & 63)) & 1; }

inline void setBit(std::vector<std::uint64_t>& bits, std::uint32_t slot) { bits[slot >> 6] |= std::uint64_t(1) << (slot & 63); }

bool isWordByte(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

Group buildGroup(const std::vector<std::pair<std::string, std::int32_t>>& keys) {
    Group group;
    group.pair.assign(65536 / 64, 0);
    group.endsAt3.assign(65536 / 64, 0);
    group.window.assign((std::size_t(1) << windowBits) / 64, 0);
    for (const auto& entry : keys) {
        const std::string& key = entry.first;
        const auto byteAt = [&key](std::size_t i) { return static_cast<std::uint8_t>(key[i]); };
        group.anchor[byteAt(0)] = true;
        if (key.size() == 1) {
            group.single[byteAt(0)] = true;
            continue;
        }
        group.second[byteAt(1)] = true;
        if (!isWordByte(byteAt(1))) group.secondByteIsWordByte = false;
        if (key.size() == 2) {
            group.endsAt2[byteAt(1)] = true;
            continue;
        }
        const std::uint32_t pair = std::uint32_t(byteAt(1)) | std::uint32_t(byteAt(2)) << 8;
        setBit(group.pair, pair);
        if (key.size() == 3) {
            setBit(group.endsAt3, pair);
            continue;
        }
        std::uint32_t window;
        std::memcpy(&window, key.data(), 4);
        setBit(group.window, windowSlot(window));
    }
    group.trie = buildTrie(keys);
    return group;
}

// True when some key may start at the window: up to four text bytes in key
// order, upper-cased, packed low byte first; available counts the real ones.
// Computed without branches: whether an anchor passes is too irregular for
// branch prediction, and most do not.
inline bool groupAdmits(const Group& group, std::uint32_t window, unsigned available) {
    const std::uint32_t second = (window >> 8) & 0xff;
    const std::uint32_t pair = (window >> 8) & 0xffff;
    const unsigned twoBytes = available >= 2, threeBytes = available >= 3;
    const unsigned longer = unsigned(available < 4) | unsigned(bitSet(group.window, windowSlot(window)));
    const unsigned viaThird = threeBytes & unsigned(bitSet(group.pair, pair)) & (unsigned(bitSet(group.endsAt3, pair)) | longer);
    return (unsigned(group.single[window & 0xff]) |
            (twoBytes & unsigned(group.second[second]) & (unsigned(group.endsAt2[second]) | viaThird))) != 0;
}

constexpr std::string_view declarationOpening = " AS ";

struct Plan {
    Group forward, backward;
    Trie declaration;  // what follows " AS " in patterns that open with it
    bool declarations = false;
    std::array<std::uint8_t, 256> anchorBytes{};  // text bytes (either case) that may start a walk
    std::vector<std::uint64_t> anchorDistance;    // per pattern: from its occurrences' starts to their anchors
};

// Byte frequencies of a sample of the text, to anchor each pattern at its
// rarer end.
std::array<std::uint64_t, 256> sampleFrequencies(std::string_view text) {
    std::array<std::uint64_t, 256> counts{};
    const std::size_t stride = text.size() > (1u << 16) ? text.size() / (1u << 16) : 1;
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
    plan.anchorDistance.assign(patterns.size(), 0);
    for (const auto& key : backwardKeys) plan.anchorDistance[static_cast<std::size_t>(key.second)] = key.first.size() - 1;
    plan.forward = buildGroup(forwardKeys);
    plan.backward = buildGroup(backwardKeys);
    plan.declaration = buildTrie(declarationKeys);
    plan.declarations = !declarationKeys.empty();
    for (int c = 0; c < 256; ++c) {
        const std::uint8_t folded = fold[c];
        if (plan.forward.anchor[folded]) plan.anchorBytes[c] |= 1;
        if (plan.backward.anchor[folded]) plan.anchorBytes[c] |= 2;
    }
    if (plan.declarations) plan.anchorBytes[' '] |= 4;
    return plan;
}

// Eight bytes, ASCII letters upper-cased, as one word (first byte lowest).
inline std::uint64_t foldedEight(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    return upperBytes(word);
}

inline std::uint64_t byteSwapped(std::uint64_t word) {
    word = ((word & 0x00ff00ff00ff00ffull) << 8) | ((word >> 8) & 0x00ff00ff00ff00ffull);
    word = ((word & 0x0000ffff0000ffffull) << 16) | ((word >> 16) & 0x0000ffff0000ffffull);
    return (word << 32) | (word >> 32);
}

inline std::uint64_t labelEight(const char* label) {
    std::uint64_t word;
    std::memcpy(&word, label, 8);
    return word;
}

// Whether the text from at on, upper-cased, starts with the label: whole
// words of eight bytes while they fit, the rest one by one.
inline bool labelFollows(std::string_view text, std::size_t at, const char* label, std::uint32_t length) {
    std::uint32_t k = 0;
    for (; k + 8 <= length; k += 8) {
        if (foldedEight(text.data() + at + k) != labelEight(label + k)) return false;
    }
    for (; k < length; ++k) {
        if (foldedAt(text, at + k) != static_cast<std::uint8_t>(label[k])) return false;
    }
    return true;
}

// Whether the text before end, read backwards and upper-cased, starts with
// the label.
inline bool labelPrecedes(std::string_view text, std::size_t end, const char* label, std::uint32_t length) {
    std::uint32_t k = 0;
    for (; k + 8 <= length; k += 8) {
        if (byteSwapped(foldedEight(text.data() + end - k - 8)) != labelEight(label + k)) return false;
    }
    for (; k < length; ++k) {
        if (foldedAt(text, end - 1 - k) != static_cast<std::uint8_t>(label[k])) return false;
    }
    return true;
}

// Occurrences as they are found, only ever appended; sorted out per
// pattern at the end. One 32-bit word each: the pattern, and where its
// anchor lies past a base, which a marker word and the two words after it
// set whenever an anchor lies before the base or 256 bytes or more past
// it. Anchors come in text order but within the 64 bytes of one vectorised
// step, which all lie within the 256 bytes from the base that the step's
// first one sets, 64 to 127 bytes before it. A pattern's anchors lie at
// one distance from its occurrences' starts (Plan::anchorDistance).
// Kept in pieces, each freed once sorted out, so that the words and the
// lists they go to are never both held whole, nor a whole array moved to
// grow. A piece is 32 MiB: blocks that large are mapped apart from the
// heap by the C runtimes, so a freed piece goes straight back to the
// system instead of staying in the process as a hole the lists may not fit.
struct Found {
    static constexpr unsigned anchorBits = 8;
    static constexpr std::uint32_t marker = (std::uint32_t(1) << 24) - 1;  // a pattern number never given
    static constexpr std::size_t pieceWords = std::size_t(1) << 23;
    std::vector<std::vector<std::uint32_t>> pieces;
    std::uint64_t base = ~std::uint64_t(0) - 1023;  // so that the first anchor sets one
    void add(std::int32_t index, std::uint64_t anchor) {
        // Below the base, the distance wraps around to more than 256 too.
        const bool rebase = anchor - base >= (std::uint64_t(1) << anchorBits);
        if (pieces.empty() || pieces.back().size() + 4 > pieceWords) {
            // The first piece grows as needed, as most searches find few
            // matches; past it, each piece takes its whole room at once
            // rather than being copied over and over into fresh pages.
            pieces.emplace_back();
            if (pieces.size() > 1) pieces.back().reserve(pieceWords);
        }
        std::vector<std::uint32_t>& piece = pieces.back();
        if (rebase) {
            base = anchor >= 64 ? (anchor & ~std::uint64_t(63)) - 64 : 0;
            piece.push_back(marker << anchorBits);
            piece.push_back(static_cast<std::uint32_t>(base));
            piece.push_back(static_cast<std::uint32_t>(base >> 32));
        }
        piece.push_back(static_cast<std::uint32_t>(index) << anchorBits | static_cast<std::uint32_t>(anchor - base));
    }
};

// Reads the word at w of a log piece: a marker sets base, and w moves on
// over the two words after it; an occurrence gives its pattern and start.
// Returns whether it was an occurrence.
bool readLogWord(const std::vector<std::uint32_t>& piece, std::size_t& w, const Plan& plan, std::uint64_t& base,
                 std::uint32_t& pattern, std::uint64_t& start) {
    const std::uint32_t word = piece[w];
    pattern = word >> Found::anchorBits;
    if (pattern == Found::marker) {
        base = piece[w + 1] | std::uint64_t(piece[w + 2]) << 32;
        w += 2;
        return false;
    }
    start = base + (word & ((std::uint32_t(1) << Found::anchorBits) - 1)) - plan.anchorDistance[pattern];
    return true;
}

// Follows the trie from node, which was entered by the byte before from;
// start is where the occurrences found begin.
void walkForward(const Trie& trie, std::uint32_t node, std::string_view text, std::size_t from, std::size_t start,
                 Found& found) {
    const std::size_t size = text.size();
    for (std::size_t at = from;;) {
        const TrieNode& current = trie.nodes[node];
        const std::uint32_t length = current.labelLength;
        if (length != 0) {
            if (at + length > size) return;
            if (!labelFollows(text, at, trie.labels.data() + current.labelBegin, length)) return;
            at += length;
        }
        if (current.terminal >= 0) found.add(current.terminal, start);
        if (at >= size) return;
        node = childOf(trie, node, foldedAt(text, at));
        if (node == noNode) return;
        ++at;
    }
}

// Follows the trie of reversed keys back from the anchor, the last byte of
// the occurrences found.
void walkBackward(const Trie& trie, std::string_view text, std::size_t anchor, Found& found) {
    std::uint32_t node = childOf(trie, 0, foldedAt(text, anchor));
    if (node == noNode) return;
    std::size_t start = anchor;  // the first byte matched so far
    for (;;) {
        const TrieNode& current = trie.nodes[node];
        const std::uint32_t length = current.labelLength;
        if (length != 0) {
            if (start < length) return;
            if (!labelPrecedes(text, start, trie.labels.data() + current.labelBegin, length)) return;
            start -= length;
        }
        if (current.terminal >= 0) found.add(current.terminal, anchor);
        if (start == 0) return;
        node = childOf(trie, node, foldedAt(text, start - 1));
        if (node == noNode) return;
        --start;
    }
}

bool opensDeclaration(std::string_view text, std::size_t at) {
    return text[at] == ' ' && at + 4 <= text.size() && foldedAt(text, at + 1) == 'A' && foldedAt(text, at + 2) == 'S' &&
           text[at + 3] == ' ';
}

// Four bytes of text, ASCII letters upper-cased, as one word.
inline std::uint32_t foldedWord(const char* at) {
    std::uint32_t word;
    std::memcpy(&word, at, 4);
    return static_cast<std::uint32_t>(upperBytes(word));
}

void searchForwardAt(const Plan& plan, std::string_view text, std::size_t at, Found& found) {
    const std::size_t available = std::min<std::size_t>(4, text.size() - at);
    std::uint32_t window = 0;
    if (available == 4) {
        window = foldedWord(text.data() + at);
    } else {
        for (std::size_t k = 0; k < available; ++k) window |= std::uint32_t(foldedAt(text, at + k)) << (8 * k);
    }
    if (!groupAdmits(plan.forward, window, static_cast<unsigned>(available))) return;
    const std::uint32_t node = childOf(plan.forward.trie, 0, static_cast<std::uint8_t>(window));
    if (node != noNode) walkForward(plan.forward.trie, node, text, at + 1, at, found);
}

void searchBackwardAt(const Plan& plan, std::string_view text, std::size_t at, Found& found) {
    const std::size_t available = std::min<std::size_t>(4, at + 1);
    std::uint32_t window = 0;
    if (available == 4) {
        const std::uint32_t word = foldedWord(text.data() + at - 3);
        window = (word >> 24) | ((word >> 8) & 0xff00u) | ((word << 8) & 0xff0000u) | (word << 24);
    } else {
        for (std::size_t k = 0; k < available; ++k) window |= std::uint32_t(foldedAt(text, at - k)) << (8 * k);
    }
    if (!groupAdmits(plan.backward, window, static_cast<unsigned>(available))) return;
    walkBackward(plan.backward.trie, text, at, found);
}

// Follows every pattern that may occur at the anchor position at.
void searchAt(const Plan& plan, std::string_view text, std::size_t at, Found& found) {
    const std::uint8_t kind = plan.anchorBytes[static_cast<std::uint8_t>(text[at])];
    if (kind & 1) searchForwardAt(plan, text, at, found);
    if (kind & 2) searchBackwardAt(plan, text, at, found);
    if ((kind & 4) && opensDeclaration(text, at)) walkForward(plan.declaration, 0, text, at + 4, at, found);
}

void searchEveryByte(const Plan& plan, std::string_view text, std::size_t from, std::size_t to,
                     Found& found) {
    for (std::size_t at = from; at < to; ++at) {
        if (plan.anchorBytes[static_cast<std::uint8_t>(text[at])]) searchAt(plan, text, at, found);
    }
}

#if defined(__SSE2__)
// The anchor bytes of one group as vector compares: letters in either case
// through their lower-case form, other bytes as they are.
struct VectorAnchors {
    __m128i exact[8], letters[8];
    std::size_t exactCount = 0, letterCount = 0;
    bool usable = true;
};

VectorAnchors vectorAnchors(const Group& group) {
    VectorAnchors anchors;
    for (int c = 0; c < 256; ++c) {
        if (!group.anchor[c]) continue;  // anchors are upper-cased key bytes
        if (c >= 'A' && c <= 'Z') {
            if (anchors.letterCount == 8) anchors.usable = false;
            else anchors.letters[anchors.letterCount++] = _mm_set1_epi8(static_cast<char>(c | 0x20));
        } else {
            if (anchors.exactCount == 8) anchors.usable = false;
            else anchors.exact[anchors.exactCount++] = _mm_set1_epi8(static_cast<char>(c));
        }
    }
    if (anchors.exactCount + anchors.letterCount > 6) anchors.usable = false;
    return anchors;
}

inline __m128i anchorMask(const VectorAnchors& anchors, __m128i block) {
    __m128i hits = _mm_setzero_si128();
    for (std::size_t i = 0; i < anchors.exactCount; ++i) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, anchors.exact[i]));
    if (anchors.letterCount != 0) {
        const __m128i lower = _mm_or_si128(block, _mm_set1_epi8(0x20));
        for (std::size_t i = 0; i < anchors.letterCount; ++i) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(lower, anchors.letters[i]));
    }
    return hits;
}

inline __m128i inRange(__m128i block, char low, char high) {
    const __m128i shifted = _mm_sub_epi8(block, _mm_set1_epi8(low));
    return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(static_cast<char>(high - low))), shifted);
}

// Letters, digits and "_": the bytes identifiers are made of.
inline __m128i wordBytes(__m128i block) {
    const __m128i lower = _mm_or_si128(block, _mm_set1_epi8(0x20));
    return _mm_or_si128(_mm_or_si128(inRange(lower, 'a', 'z'), inRange(block, '0', '9')),
                        _mm_cmpeq_epi8(block, _mm_set1_epi8('_')));
}

// The bits of a 64-byte stretch, one per byte, from four 16-byte masks.
inline std::uint64_t bits64(__m128i a, __m128i b, __m128i c, __m128i d) {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(a))) |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(b))) << 16 |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(c))) << 32 |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(d))) << 48;
}

inline __m128i loadAt(const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// Visits the candidate positions 64 at a time: vector compares find the
// anchor bytes, " AS " openings, and (where every longer key's second byte is
// an identifier byte) only anchors next to one.
bool searchVectorised(const Plan& plan, std::string_view text, Found& found) {
    const VectorAnchors forward = vectorAnchors(plan.forward), backward = vectorAnchors(plan.backward);
    if (!forward.usable || !backward.usable) return false;
    bool forwardSingles = false, backwardSingles = false;
    for (int c = 0; c < 256; ++c) {
        forwardSingles = forwardSingles || plan.forward.single[c];
        backwardSingles = backwardSingles || plan.backward.single[c];
    }
    const bool forwardNeedsWord = plan.forward.secondByteIsWordByte && !forwardSingles;
    const bool backwardNeedsWord = plan.backward.secondByteIsWordByte && !backwardSingles;
    const bool anyForward = forward.exactCount + forward.letterCount != 0;
    const bool anyBackward = backward.exactCount + backward.letterCount != 0;
    const char* data = text.data();
    const std::size_t size = text.size();
    if (size < 128) return false;
    searchEveryByte(plan, text, 0, 16, found);
    const __m128i blank = _mm_set1_epi8(' '), a = _mm_set1_epi8('a'), s = _mm_set1_epi8('s'), caseBit = _mm_set1_epi8(0x20);
    std::size_t at = 16;
    for (; at + 68 <= size; at += 64) {
        std::uint64_t forwardMask = 0, backwardMask = 0, declarationMask = 0;
        __m128i block[4], before[4], after[4];
        for (int q = 0; q < 4; ++q) {
            block[q] = loadAt(data + at + 16 * q);
            before[q] = loadAt(data + at + 16 * q - 1);
            after[q] = loadAt(data + at + 16 * q + 1);
        }
        if (anyForward) {
            __m128i hits[4];
            for (int q = 0; q < 4; ++q) {
                hits[q] = anchorMask(forward, block[q]);
                if (forwardNeedsWord) hits[q] = _mm_and_si128(hits[q], wordBytes(after[q]));
            }
            forwardMask = bits64(hits[0], hits[1], hits[2], hits[3]);
        }
        if (anyBackward) {
            __m128i hits[4];
            for (int q = 0; q < 4; ++q) {
                hits[q] = anchorMask(backward, block[q]);
                if (backwardNeedsWord) hits[q] = _mm_and_si128(hits[q], wordBytes(before[q]));
            }
            backwardMask = bits64(hits[0], hits[1], hits[2], hits[3]);
        }
        if (plan.declarations) {
            __m128i hits[4];
            for (int q = 0; q < 4; ++q) {
                const __m128i after2 = loadAt(data + at + 16 * q + 2), after3 = loadAt(data + at + 16 * q + 3);
                hits[q] = _mm_and_si128(
                    _mm_and_si128(_mm_cmpeq_epi8(block[q], blank), _mm_cmpeq_epi8(_mm_or_si128(after[q], caseBit), a)),
                    _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(after2, caseBit), s), _mm_cmpeq_epi8(after3, blank)));
            }
            declarationMask = bits64(hits[0], hits[1], hits[2], hits[3]);
        }
        while (forwardMask != 0) {
            searchForwardAt(plan, text, at + static_cast<std::size_t>(__builtin_ctzll(forwardMask)), found);
            forwardMask &= forwardMask - 1;
        }
        while (backwardMask != 0) {
            searchBackwardAt(plan, text, at + static_cast<std::size_t>(__builtin_ctzll(backwardMask)), found);
            backwardMask &= backwardMask - 1;
        }
        while (declarationMask != 0) {
            const std::size_t opening = at + static_cast<std::size_t>(__builtin_ctzll(declarationMask));
            walkForward(plan.declaration, 0, text, opening + 4, opening, found);
            declarationMask &= declarationMask - 1;
        }
    }
    searchEveryByte(plan, text, at, size, found);
    return true;
}
#endif

}  // namespace

Offsets emptyOffsets(unsigned lowBits, std::size_t count, std::uint32_t narrowSpan) {
    Offsets offsets;
    offsets.lowBits = lowBits;
    // Below 64 offsets the second list would cost more than it saves: many
    // patterns have only a few matches.
    offsets.narrowSpan = count < 64 ? 0 : std::min<std::uint32_t>(narrowSpan, 65536);
    if (offsets.narrowSpan != 0) {
        offsets.narrow.reserve(count + 4 * ((count + Offsets::run - 1) / Offsets::run));
    } else {
        offsets.low.reserve(count);
    }
    return offsets;
}

namespace {

// Moves narrow offsets to the wide form, keeping the room asked for.
void widen(Offsets& offsets) {
    Offsets wide = emptyOffsets(offsets.lowBits, offsets.narrow.capacity() / Offsets::runUnits * Offsets::run + Offsets::run, 0);
    for (std::size_t i = 0; i < offsets.size(); ++i) appendOffset(wide, offsets[i]);
    offsets = std::move(wide);
}

}  // namespace

void appendOffset(Offsets& offsets, std::uint64_t offset) {
    if (offsets.narrowSpan != 0) {
        const std::size_t count = offsets.size();
        if (count % Offsets::run == 0) {
            std::uint16_t units[4];
            std::memcpy(units, &offset, sizeof units);
            offsets.narrow.insert(offsets.narrow.end(), units, units + 4);
            offsets.narrow.push_back(0);
            return;
        }
        const std::uint64_t distance = offset - offsets.runFirst(count / Offsets::run * Offsets::runUnits);
        if (distance < offsets.narrowSpan) {
            offsets.narrow.push_back(static_cast<std::uint16_t>(distance));
            return;
        }
        widen(offsets);
    }
    while (offsets.raisedAt.size() < (offset >> offsets.lowBits)) {
        offsets.raisedAt.push_back(static_cast<std::uint32_t>(offsets.low.size()));
    }
    offsets.low.push_back(static_cast<std::uint32_t>(offset & ((std::uint64_t(1) << offsets.lowBits) - 1)));
}

std::size_t firstAtLeast(const Offsets& offsets, std::uint64_t value, std::size_t hint) {
    const std::size_t count = offsets.size();
    std::size_t from = 0, to = count;  // the answer lies in from..to
    if (hint <= count && (hint == 0 || offsets[hint - 1] < value)) {
        from = to = hint;
        for (std::size_t step = 1; to < count && offsets[to] < value; step *= 2) {
            from = to + 1;
            to = std::min(count, from + step);
        }
    }
    auto first = offsets.begin(), last = offsets.begin();
    first += static_cast<std::ptrdiff_t>(from);
    last += static_cast<std::ptrdiff_t>(to);
    return static_cast<std::size_t>(std::lower_bound(first, last, value) - offsets.begin());
}

namespace {

// One pass over the text for the patterns listed in chosen, all different
// and not empty; their occurrences go to found at the same indexes.
void searchOnePass(std::string_view text, const std::vector<std::string>& patterns,
                   const std::vector<std::size_t>& chosen, const SearchLimits& limits, std::vector<Offsets>& found) {
    std::vector<std::string> local;
    local.reserve(chosen.size());
    for (const std::size_t i : chosen) local.push_back(patterns[i]);
    std::vector<std::size_t> firstOf(local.size());
    for (std::size_t i = 0; i < local.size(); ++i) firstOf[i] = i;

    const Plan plan = planSearch(text, local, firstOf);
    Found log;
    bool searched = false;
#if defined(__SSE2__)
    searched = searchVectorised(plan, text, log);
#endif
    if (!searched) searchEveryByte(plan, text, 0, text.size(), log);

    // Each pattern's anchors, and so its occurrences, come out of the log
    // in order. They are counted first, with whether every 64 in a row lie
    // close enough to be kept narrow, so that each list is made in its final
    // form and size.
    std::vector<std::size_t> counts(local.size(), 0);
    std::vector<std::uint64_t> firstOfRun(local.size(), 0);
    std::vector<bool> wide(local.size(), limits.narrowSpan == 0);
    const std::uint64_t span = std::min<std::uint64_t>(limits.narrowSpan, 65536);
    std::uint64_t base = 0, start = 0;
    std::uint32_t p = 0;
    for (const std::vector<std::uint32_t>& piece : log.pieces) {
        for (std::size_t w = 0; w < piece.size(); ++w) {
            if (!readLogWord(piece, w, plan, base, p, start)) continue;
            if (counts[p]++ % 64 == 0) {
                firstOfRun[p] = start;
            } else if (start - firstOfRun[p] >= span) {
                wide[p] = true;
            }
        }
    }
    for (std::size_t i = 0; i < local.size(); ++i) {
        found[chosen[i]] = emptyOffsets(limits.offsetLowBits, counts[i], wide[i] ? 0 : limits.narrowSpan);
    }
    for (std::vector<std::uint32_t>& piece : log.pieces) {
        for (std::size_t w = 0; w < piece.size(); ++w) {
            if (readLogWord(piece, w, plan, base, p, start)) appendOffset(found[chosen[p]], start);
        }
        std::vector<std::uint32_t>().swap(piece);
    }
}

}  // namespace

std::vector<Offsets> findOccurrences(std::string_view text, const std::vector<std::string>& patterns) {
    return findOccurrences(text, patterns, SearchLimits());
}

std::vector<Offsets> findOccurrences(std::string_view text, const std::vector<std::string>& patterns,
                                     const SearchLimits& limits) {
    std::vector<std::size_t> firstOf(patterns.size());
    std::unordered_map<std::string_view, std::size_t> seen;
    for (std::size_t i = 0; i < patterns.size(); ++i) firstOf[i] = seen.emplace(patterns[i], i).first->second;

    std::vector<Offsets> found(patterns.size(), emptyOffsets(limits.offsetLowBits, 0, limits.narrowSpan));
    std::vector<std::size_t> chosen;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i <= patterns.size(); ++i) {
        const bool last = i == patterns.size();
        if (!last && (firstOf[i] != i || patterns[i].empty())) continue;
        // A pattern alone is one chain of trie nodes, whatever its length.
        const bool full = !chosen.empty() && !last &&
                          (chosen.size() >= limits.patterns || bytes + patterns[i].size() > limits.bytes);
        if ((last && !chosen.empty()) || full) {
            searchOnePass(text, patterns, chosen, limits, found);
            chosen.clear();
            bytes = 0;
        }
        if (last) break;
        chosen.push_back(i);
        bytes += patterns[i].size();
    }
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        if (firstOf[i] != i) found[i] = found[firstOf[i]];
    }
    return found;
}

}  // namespace vorrel
