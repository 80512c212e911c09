// The scan engine's shared state and its three phases: set-up (setup.cpp),
// replay (replay.cpp) and the final text (final_text.cpp). DESIGN.md beside
// this file walks an example through every phase and defines the terms used
// here: pass, paint, replay, observed byte, turn, chain.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rewrite/module_files.h"
#include "rewrite/rewrite_state.h"

namespace vorrel::engine {

inline constexpr std::uint32_t none = 0xffffffffu;

/// A spelling a pass writes: a declared name (names.values[0] is the empty
/// one) followed by a fixed text.
struct Spelling {
    std::uint32_t name = 0;
    std::uint32_t text = none;
    bool operator==(const Spelling& other) const { return name == other.name && text == other.text; }
};

/// Texts kept once each and referred to by number.
struct Interned {
    std::vector<std::string> values;
    std::unordered_map<std::string, std::uint32_t> ids;
};

/// The number of value in pool, adding it when new.
std::uint32_t intern(Interned& pool, std::string_view value);

template <typename Offset>
struct Pattern {
    std::string upper;             // the bytes searched for in the upper-case source
    std::vector<Offset> at;        // every occurrence, ascending
    std::vector<Offset> gaps;      // distinct distances below the length between neighbouring occurrences
    std::vector<Offset> touching;  // indexes into at of the occurrences that hold an observed byte,
    bool allTouch = false;         //   unless all of them do
    bool replayable = false;       // a pass may need replaying, so every occurrence is observed
    std::uint64_t paintTime = 0;   // the last paint: when (0: never) and with which spelling
    Spelling painted;
    Spelling checked{none, none};  // a spelling every occurrence had while the source was unchanged
    Spelling clean{none, none};    // the touching occurrences held this paint's spelling after
    std::uint64_t cleanSince = 0;  //   this many changes (not kept for patterns that all touch)
};

/// An object module whose member list the scan uses.
struct Module {
    std::string memberList;  // module path, then the members, every line ended by CR LF
    std::vector<std::string> members;
    std::vector<std::uint32_t> dotTexts;       // per member: "." and the member, pass 1 after the name
    std::vector<std::uint32_t> pointPatterns;  // per member: "." and the member, where NAME.MEMBER ends
    std::vector<std::uint32_t> sepPatterns;    // per member three: the member then " ", "=", "("; none
    std::vector<std::uint32_t> sepTexts;       //   for patterns without a letter, which never change a byte
};

/// One module with one declared name: the patterns of pass 1, NAME.MEMBER.
struct Declared {
    std::uint32_t module = none;
    std::uint32_t upperName = none;          // in upperNames
    std::vector<std::uint32_t> dotPatterns;  // per member; none when it never occurs or has no letter
};

template <typename Offset>
struct Line {
    std::string block;                    // include block, in the catalogue's letter case
    std::uint32_t key = none;             // pattern of the match key; none when it is empty
    std::uint32_t keyText = none;         // the key as a spelling's text
    std::uint32_t module = none;          // an object line that passes the folder gate
    bool hasTurns = false;                // an object line whose module lists members
    bool keyFirst = false;                // its key's case fixes and its member passes never meet
    std::vector<Offset> nameStart;        // per key occurrence: where its declared name begins
    std::vector<std::uint32_t> declared;  // per key occurrence: its Declared
};

/// The observed bytes: a bit for each source byte, and a bit for each word
/// of those bits that has one set, which fits the caches when the first
/// does not. Empty when nothing is observed.
struct Observed {
    std::vector<std::uint64_t> bytes;
    std::vector<std::uint64_t> words;
};

template <typename Offset>
struct Engine {
    RewriteState& state;  // sourceText is re-cased in place
    ModuleFiles& files;
    std::vector<Pattern<Offset>> patterns{};
    std::unordered_map<std::string, std::uint32_t> patternIds{};  // by upper-case bytes
    Interned names{};                                             // declared names as spelled
    Interned upperNames{};                                        // declared names upper-cased
    Interned texts{};                                             // fixed texts of spellings
    std::vector<Line<Offset>> lines{};
    std::vector<Module> modules{};
    std::unordered_map<std::string, std::uint32_t> moduleIds{};  // by module path
    std::vector<Declared> declared{};
    std::unordered_map<std::uint64_t, std::uint32_t> declaredIds{};  // by module number and upper name
    Observed observed{};
    std::size_t mostTouching = 0;  // the longest touching list
    std::uint64_t clock = 0;       // counts passes, to order paints
};

/// Set-up, first step: the catalogue lines, and one search for their keys and the members of the object lines
/// whose keys occur in the text's first part (declarations tend to come early), so that most texts are read once.
template <typename Offset>
void findKeys(Engine<Offset>& engine);

/// Set-up, second step: the modules of the other object lines whose keys
/// occur, and a search for their members.
template <typename Offset>
void findMembers(Engine<Offset>& engine);

/// Set-up, last step: the declarations, NAME.MEMBER, the observed bytes and
/// what the replay may skip.
template <typename Offset>
void readUses(Engine<Offset>& engine);

/// The catalogue loop: paints, replays and turns, counting and collecting.
template <typename Offset>
void replayLines(Engine<Offset>& engine);

/// Writes every paint's last spelling into the bytes nothing observes.
template <typename Offset>
void paintFinalText(Engine<Offset>& engine);

/// The whole scan with offsets of this width: std::uint32_t below 4 GiB of
/// text, std::uint64_t beyond.
template <typename Offset>
void scanWith(RewriteState& state, ModuleFiles& files);

/// The bytes of spelling.
template <typename Offset>
std::string spell(const Engine<Offset>& engine, Spelling spelling) {
    return engine.names.values[spelling.name] + engine.texts.values[spelling.text];
}

/// Whether x agrees with itself at every distance in gaps, so that a pass
/// writing x leaves every occurrence spelled x whatever it meets.
template <typename Offset>
bool selfConsistent(std::string_view x, const std::vector<Offset>& gaps) {
    return std::all_of(gaps.begin(), gaps.end(),
                       [x](Offset gap) { return x.substr(gap) == x.substr(0, x.size() - gap); });
}

/// The bits of word (64 bytes) of an observed bitmap that lie in [from, to).
inline std::uint64_t bitsIn(std::uint64_t word, std::uint64_t from, std::uint64_t to) {
    std::uint64_t bits = ~std::uint64_t(0);
    if (word == from / 64) bits &= ~std::uint64_t(0) << (from % 64);
    if (word == (to - 1) / 64) bits &= ~std::uint64_t(0) >> (63 - (to - 1) % 64);
    return bits;
}

/// Whether any byte in [from, to) is observed.
inline bool anyObserved(const Observed& observed, std::uint64_t from, std::uint64_t to) {
    if (observed.bytes.empty()) return false;
    for (std::uint64_t word = from / 64; from < to && word <= (to - 1) / 64; ++word) {
        if ((observed.words[word / 64] >> (word % 64) & 1) == 0) continue;
        if ((observed.bytes[word] & bitsIn(word, from, to)) != 0) return true;
    }
    return false;
}

/// How many occurrences ahead of the one at hand their bytes are asked for.
inline constexpr std::size_t fetchDistance = 16;

/// Asks for the cache lines of occurrence at[i + fetchDistance] in text and
/// in the observed bits: a pattern's occurrences lie far apart in a large
/// text, and reading them in turn would wait for memory at each.
template <typename Offset>
inline void fetchAhead(const char* text, const Observed& observed, const std::vector<Offset>& at, std::size_t i) {
    if (i + fetchDistance >= at.size()) return;
    __builtin_prefetch(text + at[i + fetchDistance]);
    if (!observed.bytes.empty()) __builtin_prefetch(&observed.bytes[at[i + fetchDistance] / 64]);
}

/// Whether byte is observed.
inline bool isObserved(const Observed& observed, std::uint64_t byte) {
    return !observed.bytes.empty() && (observed.bytes[byte / 64] >> (byte % 64) & 1) != 0;
}

}  // namespace vorrel::engine
