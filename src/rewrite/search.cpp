// How the search works. Every pattern of four bytes or more is filed under its anchor: four of its bytes in a row,
// chosen where they are rare in a sample of the text and shared by few other patterns (the patterns of one member
// share their first four bytes, but hardly ever their last four). The text is read as it stands: an anchor is folded
// by setting the bit that tells a lower-case letter from an upper-case one in each byte, which maps every pair of
// letters to one value (and a few other bytes with them), so the filter needs no upper-case copy of the text; the
// patterns are compared letter case aside only where the filter says so.
//
// At every offset a filter byte is read at the hash of the four folded bytes there (a pattern of three bytes is filed
// under each value of a fourth byte), and, for shorter patterns, a byte of a table indexed by the two bytes there.
// When nearly every pattern has five bytes or more, each is filed under two anchors in a row, and the filter is read
// at even offsets only, half as often: one of the two lies there. WIDGET( under IDGE and DGET, say, is met in
// "x = widget(1)" at offset 6, DGET, and begins two bytes before. The bits of 64 offsets in a row are gathered
// without a branch; the offsets marked are checked in batches, where each pattern filed in the filter's cell is
// compared whole, its hit written and counted only if it occurs: a branch on that would often be mispredicted.
#include "rewrite/search.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <unordered_map>

#include "text/text.h"

namespace vorrel {

namespace {

constexpr std::size_t anchorLength = 4;
// The text sample that anchors are chosen by: this many pieces of this many bytes.
constexpr std::size_t samplePieces = 64;
constexpr std::size_t samplePiece = 4096;
constexpr unsigned sampleBits = 16;
// Filter bytes for each anchor, up to 2^maxFilterBits: the more, the fewer false alarms, but the fewer fit in caches.
constexpr std::size_t filterBytesPerAnchor = 64;
constexpr unsigned maxFilterBits = 20;
// The case bit of every byte of an anchor and of a pair.
constexpr std::uint32_t foldAnchor = 0x20202020u;
constexpr std::uint32_t foldPair = 0x2020u;
// Room for a hit per this many bytes of text is made before the search. Should the hits fill it, it grows by an
// eighth and by what their rate so far would fill in the rest of the text: doubling could leave it twice too big.
constexpr std::size_t expectedBytesPerHit = 8;
// The offsets marked are checked this many at a time, or more.
constexpr std::size_t batchSize = 1024;
// Reading the text at even offsets only halves the filter's reads, but a
// pattern under five bytes then has an anchor filed under 128 cells (or is
// looked up by its pair at every offset): when over one pattern in this many
// is that short, the false marks cost more than the reads saved.
constexpr std::size_t shortShareForStride = 64;

std::uint64_t wordAt(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// The eight bytes at at; past end, zeros.
std::uint64_t wordBefore(const char* at, const char* end) {
    if (end - at >= 8) return wordAt(at);
    char bytes[8] = {};
    std::memcpy(bytes, at, static_cast<std::size_t>(end - at));
    return wordAt(bytes);
}

// The folded anchor of the first four bytes packed in word (as they stand
// in memory, on a little-endian processor as every x86-64 is).
std::uint32_t anchorOf(std::uint64_t word) { return static_cast<std::uint32_t>(word) | foldAnchor; }
std::uint32_t anchorIn(std::string_view bytes, std::size_t at) {
    return anchorOf(wordBefore(bytes.data() + at, bytes.data() + bytes.size()));
}
std::uint32_t anchorHash(std::uint32_t anchor) { return anchor * 0x9E3779B1u; }

// A pattern filed under its anchor, or under its first two bytes when short.
struct Entry {
    std::uint32_t pattern;
    std::int32_t anchorAt;  // where its anchor begins in it: -1 a byte before it
    std::uint32_t size;
    std::uint32_t bytes;  // where its bytes begin in the arena
};

// The bits of the first n bytes of a word, n taken from 0 to 8, without a branch.
std::uint64_t firstBytes(std::int64_t n) {
    const auto half = static_cast<unsigned>(4 * std::clamp<std::int64_t>(n, 0, 8));
    return ((std::uint64_t(1) << half) << half) - 1;
}

// Patterns long enough are filed in the filter's cell of their anchor.
struct Matcher {
    std::int32_t stride = 1;  // 2: anchors are read at even offsets only
    unsigned filterShift = 0;
    std::vector<std::uint8_t> filter;      // 1 for each cell that holds patterns
    std::vector<std::uint32_t> cellStart;  // cell c holds entries[cellStart[c], cellStart[c + 1])
    std::vector<Entry> entries;
    std::string arena;  // the patterns' bytes, and sixteen more
    // The patterns too short for anchors, by their first two bytes folded (a
    // one-byte pattern under every pair it begins), pairs ascending.
    std::vector<std::uint8_t> shortPairs;  // 1 for each two bytes whose folded pair some of them begin with
    std::vector<std::pair<std::uint32_t, Entry>> shortEntries;
};

// The filter's cell of an anchor: the top bits of its hash.
std::uint32_t cellOf(const Matcher& matcher, std::uint32_t anchor) { return anchorHash(anchor) >> matcher.filterShift; }

// For each pattern, where its first anchor begins: at the window of four
// bytes (at stride 2, two in a row) whose count in a sample of the text (by
// the top sampleBits bits of its hash), times the number of patterns that
// contain it, is least (summed); the last of equals.
std::vector<std::int32_t> chooseAnchors(const std::vector<std::string_view>& patterns, std::string_view text,
                                        std::size_t stride) {
    std::vector<std::uint32_t> seen(std::size_t(1) << sampleBits, 0);
    const std::size_t step = std::max(samplePiece, text.size() / samplePieces);
    for (std::size_t start = 0; start + anchorLength <= text.size(); start += step)
        for (std::size_t at = start; at < start + samplePiece && at + anchorLength <= text.size(); ++at)
            ++seen[anchorHash(anchorIn(text, at)) >> (32 - sampleBits)];
    std::unordered_map<std::uint32_t, std::uint32_t> sharing;
    for (const std::string_view pattern : patterns) {
        std::vector<std::uint32_t> windows;
        for (std::size_t at = 0; at + anchorLength <= pattern.size(); ++at) windows.push_back(anchorIn(pattern, at));
        std::sort(windows.begin(), windows.end());
        windows.erase(std::unique(windows.begin(), windows.end()), windows.end());
        for (const std::uint32_t window : windows) ++sharing[window];
    }
    std::vector<std::int32_t> chosen(patterns.size(), 0);
    for (std::size_t id = 0; id < patterns.size(); ++id) {
        std::uint64_t least = ~std::uint64_t(0);
        const auto costAt = [&](std::size_t at) {
            const std::uint32_t window = anchorIn(patterns[id], at);
            return (seen[anchorHash(window) >> (32 - sampleBits)] + std::uint64_t(1)) * sharing[window];
        };
        // Too short for whole anchors: the first anchor of three bytes at stride 2 opens a byte before them.
        if (stride == 2 && patterns[id].size() < anchorLength) chosen[id] = -1;
        for (std::size_t at = 0; at + anchorLength + stride - 1 <= patterns[id].size(); ++at) {
            const std::uint64_t cost = costAt(at) + (stride == 2 ? costAt(at + 1) : 0);
            if (cost > least) continue;
            least = cost;
            chosen[id] = static_cast<std::int32_t>(at);
        }
    }
    return chosen;
}

Entry entryFor(Matcher& matcher, std::string_view pattern, std::uint32_t id, std::int32_t anchorAt) {
    const Entry entry{id, anchorAt, static_cast<std::uint32_t>(pattern.size()),
                      static_cast<std::uint32_t>(matcher.arena.size())};
    matcher.arena += pattern;
    return entry;
}

// Patterns of least bytes or more are filed under anchors, as many in a row
// as the stride; an anchor's byte that lies outside its pattern may be any,
// and the anchor is filed under each value of it.
void fileAnchors(Matcher& matcher, const std::vector<std::string_view>& patterns, std::string_view text,
                 std::size_t least) {
    const std::vector<std::int32_t> first = chooseAnchors(patterns, text, matcher.stride);
    unsigned bits = 12;
    while (bits < maxFilterBits && (std::size_t(1) << bits) < patterns.size() * matcher.stride * filterBytesPerAnchor)
        ++bits;
    matcher.filterShift = 32 - bits;
    // Each cell and pattern, with minus where the anchor begins: of a pattern's two anchors in one cell, the
    // later is checked first, as its occurrence begins first.
    std::vector<std::pair<std::uint64_t, std::int32_t>> filed;
    for (std::uint32_t id = 0; id < patterns.size(); ++id) {
        const std::string_view pattern = patterns[id];
        for (std::int32_t at = first[id]; pattern.size() >= least && at < first[id] + matcher.stride; ++at) {
            const bool whole = at >= 0 && at + anchorLength <= pattern.size();
            const std::uint32_t open = at < 0 ? anchorIn(pattern, 0) << 8 : anchorIn(pattern, at) & 0xffffffu;
            for (std::uint32_t any = 0x20; any < 0x100; any = whole ? 0x100 : (any + 1) | 0x20) {
                const std::uint32_t anchor = whole ? anchorIn(pattern, at) : open | (at < 0 ? any : any << 24);
                filed.emplace_back(std::uint64_t(cellOf(matcher, anchor)) << 32 | id, -at);
            }
        }
    }
    std::sort(filed.begin(), filed.end());
    filed.erase(std::unique(filed.begin(), filed.end()), filed.end());
    matcher.filter.assign(std::size_t(1) << bits, 0);
    matcher.cellStart.assign((std::size_t(1) << bits) + 1, 0);
    for (const auto& [key, minusAt] : filed) {
        const auto cell = static_cast<std::uint32_t>(key >> 32), id = static_cast<std::uint32_t>(key);
        matcher.entries.push_back(entryFor(matcher, patterns[id], id, -minusAt));
        matcher.filter[cell] = 1;
        ++matcher.cellStart[cell + 1];
    }
    std::partial_sum(matcher.cellStart.begin(), matcher.cellStart.end(), matcher.cellStart.begin());
}

void fileShortPatterns(Matcher& matcher, const std::vector<std::string_view>& patterns, std::size_t least) {
    std::vector<std::pair<std::uint32_t, Entry>>& byPair = matcher.shortEntries;
    for (std::uint32_t id = 0; id < patterns.size(); ++id) {
        if (patterns[id].size() >= least) continue;
        const Entry entry = entryFor(matcher, patterns[id], id, 0);
        const unsigned first = static_cast<unsigned char>(patterns[id][0]) | 0x20u;
        for (unsigned second = 0; second < 256; ++second)
            if (patterns[id].size() == 1 || (static_cast<unsigned char>(patterns[id][1]) | 0x20u) == second)
                byPair.push_back({first | second << 8, entry});
    }
    if (byPair.empty()) return;
    std::stable_sort(byPair.begin(), byPair.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    matcher.shortPairs.assign(std::size_t(1) << 16, 0);
    for (const auto& filed : byPair)
        for (const unsigned unfold : {0u, 0x20u, 0x2000u, 0x2020u}) matcher.shortPairs[filed.first & ~unfold] = 1;
}

// Whether the entry whose anchor the text has at offset occurs there whole;
// up to sixteen bytes away from the text's end are compared without a branch.
bool occursAround(const Matcher& matcher, std::string_view text, std::size_t offset, const Entry& entry) {
    const std::int64_t start = static_cast<std::int64_t>(offset) - entry.anchorAt;
    if (start < 0 || entry.size > text.size() - static_cast<std::size_t>(start)) return false;
    const char* at = text.data() + start;
    const char* upper = matcher.arena.data() + entry.bytes;
    if (entry.size > 16 || text.size() - start < 16)
        return std::equal(upper, upper + entry.size, at, [](char u, char t) { return u == upperByte(t); });
    const auto differ = [&](std::int64_t from) {
        return (upperBytes(wordAt(at + from)) ^ wordAt(upper + from)) & firstBytes(std::int64_t(entry.size) - from);
    };
    return (differ(0) | differ(8)) == 0;
}

// The occurrences found, in the order the text has them.
template <typename Offset>
struct Found {
    struct Hit {
        Hit() {}  // left as allocated: room the search does not fill is never touched
        std::uint32_t pattern;
        Offset start;
    };
    std::vector<Hit> hits;  // the first count are kept
    std::size_t count = 0;
};

// Writes the hit of entry at offset after those counted, and counts it if
// the pattern occurs there.
template <typename Offset>
void record(const Matcher& matcher, std::string_view text, std::size_t offset, const Entry& entry,
            Found<Offset>& found) {
    if (found.hits.size() == found.count)
        found.hits.resize(found.count * 9 / 8 + std::size_t((text.size() - offset) / (offset + 1.0) * found.count) + 1);
    found.hits[found.count].pattern = entry.pattern;
    found.hits[found.count].start = static_cast<Offset>(static_cast<std::int64_t>(offset) - entry.anchorAt);
    found.count += occursAround(matcher, text, offset, entry);
}

// Records every short pattern that occurs at offset, whose first two bytes
// folded (the second 0 past the end) make pair.
template <typename Offset>
void checkShort(const Matcher& matcher, std::string_view text, std::size_t offset, std::size_t pair,
                Found<Offset>& found) {
    const auto& entries = matcher.shortEntries;
    auto e = std::lower_bound(entries.begin(), entries.end(), pair,
                              [](const auto& a, std::size_t b) { return a.first < b; });
    for (; e != entries.end() && e->first == pair; ++e) record(matcher, text, offset, e->second, found);
}

// Records the patterns that occur at the offsets marked: those filed in the
// cell of the anchor there, and those short ones that begin with the pair there.
template <bool withShort, int stride, typename Offset>
void checkMarked(const Matcher& matcher, std::string_view text, const std::size_t* marked, std::size_t count,
                 Found<Offset>& found) {
    for (const std::size_t* at = marked; at != marked + count; ++at) {
        const std::uint64_t word = wordBefore(text.data() + *at, text.data() + text.size());
        const std::uint32_t cell = cellOf(matcher, anchorOf(word));
        for (std::uint32_t e = matcher.cellStart[cell]; e < matcher.cellStart[cell + 1 - *at % stride]; ++e)
            record(matcher, text, *at, matcher.entries[e], found);
        if (withShort && matcher.shortPairs[word & 0xffffu] != 0)
            checkShort(matcher, text, *at, (word | foldPair) & 0xffffu, found);
    }
}

// Searches the text 64 offsets at a time while 64 + 8 bytes lie in it, the
// filters' bits for them gathered into a word first; the last offsets are
// all checked, reading zeros past the end.
template <bool withShort, int stride, typename Offset>
void search(const Matcher& matcher, std::string_view text, Found<Offset>& found) {
    const char* bytes = text.data();
    // A block adds up to 64 offsets to a batch not yet full, the end of the text up to 64 + 7.
    std::size_t offset = 0, batch[batchSize + 64 + 7], inBatch = 0;
    for (; offset + 64 + 8 <= text.size(); offset += 64) {
        std::uint64_t marked = 0;
        // Eight at a time, so that the shifts are constants.
        for (unsigned k = 0; k < 64; k += 8) {
            const char* at = bytes + offset + k;
            // 1 if the filters mark offset + k + j, else 0: their bytes as they stand (comparing them
            // with 0 slowed the search by a sixth); at stride 2, odd offsets have short patterns only.
            const auto bit = [&](unsigned j) {
                const std::uint64_t word = wordAt(at + j);
                const std::uint64_t pair = withShort ? matcher.shortPairs[word & 0xffffu] : 0;
                const std::uint64_t anchor = j % stride == 0 ? matcher.filter[cellOf(matcher, anchorOf(word))] : 0;
                return (anchor | pair) << j;
            };
            marked |= (bit(0) | bit(1) | bit(2) | bit(3) | bit(4) | bit(5) | bit(6) | bit(7)) << k;
        }
        for (; marked != 0; marked &= marked - 1)
            batch[inBatch++] = offset + static_cast<std::size_t>(__builtin_ctzll(marked));
        if (inBatch < batchSize) continue;
        checkMarked<withShort, stride>(matcher, text, batch, inBatch, found);
        inBatch = 0;
    }
    for (; offset < text.size(); ++offset) batch[inBatch++] = offset;
    checkMarked<withShort, stride>(matcher, text, batch, inBatch, found);
}

}  // namespace

template <typename Offset>
std::vector<std::vector<Offset>> findEvery(std::string_view text, const std::vector<std::string_view>& patterns) {
    std::vector<std::vector<Offset>> hits(patterns.size());
    if (patterns.empty()) return hits;
    Matcher matcher;
    const auto shorter = [](std::string_view pattern) { return pattern.size() + 1 < anchorLength; };
    const std::size_t least = std::any_of(patterns.begin(), patterns.end(), shorter) ? anchorLength : anchorLength - 1;
    const auto underFive = [](std::string_view pattern) { return pattern.size() <= anchorLength; };
    matcher.stride =
        std::count_if(patterns.begin(), patterns.end(), underFive) * shortShareForStride > patterns.size() ? 1 : 2;
    fileAnchors(matcher, patterns, text, least);
    fileShortPatterns(matcher, patterns, least);
    matcher.arena.append(16, '\0');  // for the last pattern's reads of sixteen bytes
    // Found in one list first, then put in their patterns' lists, each made
    // once at its size: appending to thousands of growing lists costs more.
    Found<Offset> found;
    found.hits.resize(text.size() / expectedBytesPerHit);
    void (*const passes[2][2])(const Matcher&, std::string_view, Found<Offset>&) = {
        {search<false, 1, Offset>, search<false, 2, Offset>}, {search<true, 1, Offset>, search<true, 2, Offset>}};
    passes[!matcher.shortEntries.empty()][matcher.stride - 1](matcher, text, found);
    std::vector<std::size_t> counts(patterns.size(), 0);
    for (std::size_t i = 0; i < found.count; ++i) ++counts[found.hits[i].pattern];
    for (std::size_t i = 0; i < patterns.size(); ++i) hits[i].reserve(counts[i]);
    for (std::size_t i = 0; i < found.count; ++i) hits[found.hits[i].pattern].push_back(found.hits[i].start);
    return hits;
}

template std::vector<std::vector<std::uint32_t>> findEvery(std::string_view, const std::vector<std::string_view>&);
template std::vector<std::vector<std::uint64_t>> findEvery(std::string_view, const std::vector<std::string_view>&);

}  // namespace vorrel
