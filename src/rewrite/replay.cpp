// The catalogue loop, replayed: a paint for every pass that leaves all of its
// occurrences in its own spelling, step by step replays for those that may
// not, and a turn (the key's case fix and the member passes) for every
// object declaration. Only observed bytes are kept current as it goes; see
// DESIGN.md.
#include <algorithm>
#include <unordered_set>

#include "rewrite/chains.h"
#include "rewrite/engine.h"
#include "text/text.h"

namespace vorrel::engine {

namespace {

// Changes of observed bytes this near one another are noted as one.
constexpr std::uint64_t joinChanges = 64;

bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }

std::uint64_t hashBytes(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull ^ bytes.size();
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    return hash;
}

template <typename Offset>
struct Replay {
    Engine<Offset>& engine;
    std::string& text;
    // For telling whether the current turn left the observed bytes as it
    // found them: the 64-byte words of the text it wrote to, each with its
    // upper-case bytes before the turn. Only letter case ever changes, and
    // nothing else writes while a turn runs.
    bool logging = false;
    std::vector<std::uint64_t> written{};                             // a bit per 64-byte word of the text
    std::vector<std::pair<std::uint64_t, std::uint64_t>> wasUpper{};  // word, a bit per upper-case byte
    const Pattern<Offset>* key = nullptr;  // the key of the line being turned, and its occurrences
    std::unordered_map<std::uint64_t, std::vector<Offset>> bySpelling{};  // not spelled as the key, by hash
    std::size_t filed = 0;
    std::vector<Offset> stale{};  // key occurrences written since they were last filed
    std::vector<bool> isStale{};
    // The observed stretches changed, in order, the first of them the change
    // numbered forgotten; older ones are forgotten when no paint could want
    // them. A change within joinChanges bytes of the last one joins it (the
    // bytes between count as changed too, which only costs a paint a write),
    // unless a paint has marked its cleanliness since (at sealed).
    std::vector<std::pair<Offset, Offset>> changes{};
    std::uint64_t forgotten = 0;
    std::uint64_t sealed = 0;
};

// A bit for each upper-case byte of the 64-byte word of text numbered word.
std::uint64_t upperBytesOf(std::string_view text, std::uint64_t word) {
    std::uint64_t bits = 0;
    for (std::uint64_t byte = word * 64; byte < std::min<std::uint64_t>(text.size(), word * 64 + 64); ++byte)
        bits |= std::uint64_t(isUpper(text[byte])) << (byte % 64);
    return bits;
}

template <typename Offset>
void fileKey(Replay<Offset>& replay, std::size_t i) {
    const Pattern<Offset>& key = *replay.key;
    const std::string_view spelling = std::string_view(replay.text).substr(key.at[i], key.upper.size());
    if (spelling == key.upper) return;  // never looked up
    replay.bySpelling[hashBytes(spelling)].push_back(static_cast<Offset>(i));
    ++replay.filed;
}

template <typename Offset>
void fileAllKeys(Replay<Offset>& replay) {
    replay.bySpelling.clear();
    replay.filed = 0;
    for (std::size_t i = 0; i < replay.key->at.size(); ++i) {
        fetchAhead(replay.text.data(), replay.engine.observed, replay.key->at, i);
        fileKey(replay, i);
    }
}

// Marks the key occurrences that overlap [from, to) to be filed again under
// their new spelling before the next lookup; stale entries are dropped when
// their spelling is looked up.
template <typename Offset>
void markKeysStale(Replay<Offset>& replay, std::uint64_t from, std::uint64_t to) {
    if (replay.key == nullptr) return;
    const std::vector<Offset>& at = replay.key->at;
    const std::uint64_t length = replay.key->upper.size();
    const std::uint64_t low = from + 1 > length ? from + 1 - length : 0;
    for (auto it = std::lower_bound(at.begin(), at.end(), low); it != at.end() && *it < to; ++it) {
        const std::size_t i = static_cast<std::size_t>(it - at.begin());
        if (replay.isStale[i]) continue;
        replay.isStale[i] = true;
        replay.stale.push_back(static_cast<Offset>(i));
    }
}

template <typename Offset>
void fileStaleKeys(Replay<Offset>& replay) {
    for (const Offset i : replay.stale) {
        replay.isStale[i] = false;
        fileKey(replay, i);
    }
    replay.stale.clear();
    if (replay.filed > 2 * replay.key->at.size() + 1024) fileAllKeys(replay);
}

// Notes that the observed stretch [from, to) changed.
template <typename Offset>
void noteChange(Replay<Offset>& replay, std::uint64_t from, std::uint64_t to) {
    if (!replay.changes.empty() && replay.forgotten + replay.changes.size() > replay.sealed) {
        auto& last = replay.changes.back();
        if (from <= last.second + joinChanges && to + joinChanges >= last.first) {
            last = {std::min<Offset>(last.first, static_cast<Offset>(from)),
                    std::max<Offset>(last.second, static_cast<Offset>(to))};
            return;
        }
    }
    replay.changes.emplace_back(static_cast<Offset>(from), static_cast<Offset>(to));
    // A paint compares no more changes than it has touching occurrences.
    const std::size_t keep = replay.engine.mostTouching;
    if (replay.changes.size() < 2 * keep + 1024) return;
    const std::size_t forget = replay.changes.size() - keep;
    replay.changes.erase(replay.changes.begin(), replay.changes.begin() + static_cast<std::ptrdiff_t>(forget));
    replay.forgotten += forget;
}

// Whether the touching occurrences of pattern still hold spelling: it wrote
// them last with it, and no change since reached them. Looking through more
// changes than it has touching occurrences would cost more than writing.
template <typename Offset>
bool stillClean(const Replay<Offset>& replay, const Pattern<Offset>& pattern, Spelling spelling) {
    if (!(pattern.clean == spelling) || pattern.cleanSince < replay.forgotten) return false;
    if (replay.forgotten + replay.changes.size() - pattern.cleanSince > pattern.touching.size()) return false;
    const std::uint64_t length = pattern.upper.size();
    const auto startsBefore = [&pattern](Offset i, std::uint64_t start) { return pattern.at[i] < start; };
    for (std::size_t k = pattern.cleanSince - replay.forgotten; k < replay.changes.size(); ++k) {
        const auto [from, to] = replay.changes[k];
        const std::uint64_t low = from + 1 > length ? from + 1 - length : 0;
        const auto first = std::lower_bound(pattern.touching.begin(), pattern.touching.end(), low, startsBefore);
        if (first != pattern.touching.end() && pattern.at[*first] < to) return false;
    }
    return true;
}

// Writes the observed bytes of x at offset at.
template <typename Offset>
void writeObserved(Replay<Offset>& replay, std::uint64_t at, std::string_view x) {
    bool changed = false;
    for (std::size_t j = 0; j < x.size(); ++j) {
        const std::uint64_t byte = at + j;
        if (replay.text[byte] == x[j] || !isObserved(replay.engine.observed, byte)) continue;
        const std::uint64_t word = byte / 64, bit = std::uint64_t(1) << (word % 64);
        if (replay.logging && (replay.written[word / 64] & bit) == 0) {
            replay.written[word / 64] |= bit;
            replay.wasUpper.emplace_back(word, upperBytesOf(replay.text, word));
        }
        replay.text[byte] = x[j];
        changed = true;
    }
    if (!changed) return;
    replay.engine.state.sourceChanged = true;
    markKeysStale(replay, at, at + x.size());
    noteChange(replay, at, at + x.size());
}

// A pass that leaves every occurrence spelled as it writes: only its time
// and spelling are kept, and its occurrences on observed bytes are written.
template <typename Offset>
void paint(Replay<Offset>& replay, Pattern<Offset>& pattern, Spelling spelling) {
    if (!replay.engine.state.sourceChanged && !(pattern.checked == spelling)) {
        const std::string x = spell(replay.engine, spelling);
        const auto differs = [&](Offset at) { return replay.text.compare(at, x.size(), x) != 0; };
        if (std::any_of(pattern.at.begin(), pattern.at.end(), differs)) replay.engine.state.sourceChanged = true;
        pattern.checked = spelling;
    }
    pattern.paintTime = ++replay.engine.clock;
    pattern.painted = spelling;
    // Most paints write nothing now, and need not spell what they paint.
    if (!pattern.allTouch && (pattern.touching.empty() || stillClean(replay, pattern, spelling))) return;
    const std::string x = spell(replay.engine, spelling);
    if (pattern.allTouch) {
        for (std::size_t i = 0; i < pattern.at.size(); ++i) {
            fetchAhead(replay.text.data(), replay.engine.observed, pattern.at, i);
            writeObserved(replay, pattern.at[i], x);
        }
        return;
    }
    for (const Offset i : pattern.touching) writeObserved(replay, pattern.at[i], x);
    pattern.clean = spelling;
    pattern.cleanSince = replay.sealed = replay.forgotten + replay.changes.size();
}

// A pass whose spelling disagrees with itself where its occurrences overlap,
// replayed step by step, and what it leaves in its chains written.
template <typename Offset>
void replayPass(Replay<Offset>& replay, const Pattern<Offset>& pattern, std::string_view x) {
    const ReplayedChains chains = replayChains(replay.text, pattern.at, x);
    if (!chains.replaced) return;
    replay.engine.state.sourceChanged = true;
    for (std::size_t chain = 0; chain + 1 < chains.first.size(); ++chain)
        writeObserved(replay, pattern.at[chains.first[chain]], chains.content[chains.groupOfChain[chain]]);
}

template <typename Offset>
void runPass(Replay<Offset>& replay, std::uint32_t id, Spelling spelling) {
    if (id == none) return;
    Pattern<Offset>& pattern = replay.engine.patterns[id];
    if (pattern.at.empty()) return;
    if (pattern.gaps.empty()) return paint(replay, pattern, spelling);
    const std::string x = spell(replay.engine, spelling);
    if (selfConsistent(x, pattern.gaps)) return paint(replay, pattern, spelling);
    replayPass(replay, pattern, x);
}

template <typename Offset>
void runMembers(Replay<Offset>& replay, std::uint32_t module, std::uint32_t declared, std::uint32_t name) {
    const Module& passes = replay.engine.modules[module];
    const std::vector<std::uint32_t>& dotPatterns = replay.engine.declared[declared].dotPatterns;
    for (std::size_t k = 0; k < passes.members.size(); ++k) {
        runPass(replay, dotPatterns[k], Spelling{name, passes.dotTexts[k]});
        for (std::size_t s = 3 * k; s < 3 * k + 3; ++s)
            runPass(replay, passes.sepPatterns[s], Spelling{0, passes.sepTexts[s]});
    }
}

template <typename Offset>
bool keySpelledAs(const Replay<Offset>& replay, std::size_t i, std::string_view h) {
    return std::string_view(replay.text).substr(replay.key->at[i], h.size()) == h;
}

// The key's case fix at a declaration spelled h: one text-wide replace of
// h by the key, over the key occurrences filed under h.
template <typename Offset>
void keyStep(Replay<Offset>& replay, std::string_view h) {
    const Pattern<Offset>& key = *replay.key;
    fileStaleKeys(replay);
    // Writing only marks occurrences to be filed again, so spelled stays valid.
    std::vector<Offset>& spelled = replay.bySpelling[hashBytes(h)];
    spelled.erase(std::remove_if(spelled.begin(), spelled.end(), [&](Offset i) { return !keySpelledAs(replay, i, h); }),
                  spelled.end());
    std::sort(spelled.begin(), spelled.end());
    spelled.erase(std::unique(spelled.begin(), spelled.end()), spelled.end());
    std::uint64_t end = 0;
    for (const Offset i : spelled) {
        if (key.at[i] < end) continue;
        writeObserved(replay, key.at[i], key.upper);
        end = key.at[i] + h.size();
    }
}

// Whether the replace of h would change the key occurrence j, spelled h:
// from the first occurrence spelled h in the run of overlapping ones that
// leads to j, which nothing before it can shadow, left to right.
template <typename Offset>
bool chosenByReplace(const Replay<Offset>& replay, std::size_t j, std::string_view h) {
    const std::vector<Offset>& at = replay.key->at;
    std::size_t first = j;
    for (std::size_t k = first; k > 0 && at[k - 1] + h.size() > at[first]; --k)
        if (keySpelledAs(replay, k - 1, h)) first = k - 1;
    std::uint64_t end = 0;
    for (std::size_t k = first; k < j; ++k)
        if (at[k] >= end && keySpelledAs(replay, k, h)) end = at[k] + h.size();
    return at[j] >= end;
}

// The declared name of key occurrence i as its case fix, the replace of h,
// will leave it, worked out without writing.
template <typename Offset>
std::string nameAfterStep(const Replay<Offset>& replay, const Line<Offset>& line, std::size_t i, std::string_view h) {
    const Pattern<Offset>& key = *replay.key;
    const std::uint64_t start = line.nameStart[i], end = key.at[i];
    std::string name = replay.text.substr(start, end - start);
    if (h == key.upper || name.empty()) return name;
    const std::uint64_t low = start + 1 > h.size() ? start + 1 - h.size() : 0;
    for (std::size_t j = std::lower_bound(key.at.begin(), key.at.end(), low) - key.at.begin(); key.at[j] < end; ++j) {
        if (!keySpelledAs(replay, j, h) || !chosenByReplace(replay, j, h)) continue;
        for (std::uint64_t byte = std::max<std::uint64_t>(key.at[j], start);
             byte < std::min<std::uint64_t>(key.at[j] + h.size(), end); ++byte)
            name[byte - start] = key.upper[byte - key.at[j]];
    }
    return name;
}

// Whether every observed byte the turn changed is back in its case from
// before; forgets the changes.
template <typename Offset>
bool leftAsFound(Replay<Offset>& replay) {
    bool same = true;
    for (const auto& [word, bits] : replay.wasUpper) {
        same = same && upperBytesOf(replay.text, word) == bits;
        replay.written[word / 64] &= ~(std::uint64_t(1) << (word % 64));
    }
    replay.wasUpper.clear();
    return same;
}

// The turns of one object line: signatures (the key's spelling, then the
// name its case fix leaves) of turns that left every observed byte as they
// found it since the last turn that did not, and the clock before the last
// skipped turn of each declaration and name.
struct Turns {
    std::unordered_set<std::string> fixed;
    std::unordered_map<std::uint64_t, std::uint64_t> skipped;
};

template <typename Offset>
void turn(Replay<Offset>& replay, const Line<Offset>& line, std::size_t i, Turns& turns) {
    Engine<Offset>& engine = replay.engine;
    const Pattern<Offset>& key = *replay.key;
    const std::string h = replay.text.substr(key.at[i], key.upper.size());
    const std::string name = nameAfterStep(replay, line, i, h);
    const std::uint32_t nameId = intern(engine.names, name);
    const std::string signature = h + name;
    if (turns.fixed.count(signature) != 0) {
        turns.skipped[std::uint64_t(line.declared[i]) << 32 | nameId] = engine.clock;
        engine.clock += 4 * engine.modules[line.module].members.size();
        return;
    }
    replay.logging = true;
    if (h != key.upper) keyStep(replay, h);
    runMembers(replay, line.module, line.declared[i], nameId);
    replay.logging = false;
    if (leftAsFound(replay))
        turns.fixed.insert(signature);
    else
        turns.fixed.clear();
}

template <typename Offset>
void timePaint(Engine<Offset>& engine, std::uint32_t id, Spelling spelling, std::uint64_t time) {
    if (id == none) return;
    Pattern<Offset>& pattern = engine.patterns[id];
    if (pattern.at.empty() || time < pattern.paintTime) return;
    if (!pattern.gaps.empty() && !selfConsistent(spell(engine, spelling), pattern.gaps)) return;
    pattern.paintTime = time;
    pattern.painted = spelling;
}

// The paints of the skipped turns, at the times their passes would have had.
template <typename Offset>
void timeSkippedTurns(Engine<Offset>& engine, const Turns& turns) {
    for (const auto& [declaredAndName, clock] : turns.skipped) {
        const Declared& declared = engine.declared[declaredAndName >> 32];
        const Module& module = engine.modules[declared.module];
        const auto name = static_cast<std::uint32_t>(declaredAndName);
        std::uint64_t time = clock;
        for (std::size_t k = 0; k < module.members.size(); ++k) {
            timePaint(engine, declared.dotPatterns[k], Spelling{name, module.dotTexts[k]}, ++time);
            for (std::size_t s = 3 * k; s < 3 * k + 3; ++s)
                timePaint(engine, module.sepPatterns[s], Spelling{0, module.sepTexts[s]}, ++time);
        }
    }
}

template <typename Offset>
void turnLine(Replay<Offset>& replay, const Line<Offset>& line) {
    if (line.keyFirst) paint(replay, replay.engine.patterns[line.key], Spelling{0, line.keyText});
    replay.key = &replay.engine.patterns[line.key];
    replay.isStale.assign(replay.key->at.size(), false);
    fileAllKeys(replay);
    Turns turns;
    for (std::size_t i = 0; i < replay.key->at.size(); ++i) turn(replay, line, i, turns);
    timeSkippedTurns(replay.engine, turns);
    replay.key = nullptr;
    replay.stale.clear();
}

// Counts the line and collects its block unless the list holds it. Blocks
// without CR or LF bytes are compared whole, as the line list would; any
// other block takes the list's own search from then on.
struct Collected {
    std::unordered_set<std::string> blocks;
    bool plain = true;
};

void collect(RewriteState& state, const std::string& block, Collected& collected) {
    state.addedCount += 1;
    const bool plainBlock = !block.empty() && block.find_first_of("\r\n") == std::string::npos;
    const bool known = collected.plain && plainBlock ? !collected.blocks.insert(block).second
                                                     : findLine(state.foundBlocks, block) != -1;
    if (known) return;
    addLine(state.foundBlocks, block);
    state.foundBlockCount += 1;
    collected.plain = collected.plain && plainBlock;
}

}  // namespace

template <typename Offset>
void replayLines(Engine<Offset>& engine) {
    Replay<Offset> replay{engine, engine.state.sourceText};
    replay.written.assign(engine.observed.words.size(), 0);
    Collected collected;
    collected.plain = engine.state.foundBlocks.empty();
    for (const Line<Offset>& line : engine.lines) {
        if (line.key == none || engine.patterns[line.key].at.empty()) continue;
        if (line.hasTurns)
            turnLine(replay, line);
        else
            paint(replay, engine.patterns[line.key], Spelling{0, line.keyText});
        if (line.module != none) engine.state.memberList = engine.modules[line.module].memberList;
        collect(engine.state, line.block, collected);
    }
}

template void replayLines(Engine<std::uint32_t>&);
template void replayLines(Engine<std::uint64_t>&);

}  // namespace vorrel::engine
