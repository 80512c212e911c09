#include "rewrite/scan.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <queue>
#include <stdexcept>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "catalogue/catalogue.h"
#include "rewrite/ascending.h"
#include "rewrite/matcher.h"
#include "text/text.h"

// How the replay stays exact. Re-casing a pattern's occurrences one spelling
// at a time leaves, when no two occurrences share bytes, every occurrence in
// the pattern's own spelling; nothing else can tell the steps apart. Such a
// rewrite is deferred: the pattern records when it was last rewritten and to
// what, and a final pass applies every pattern's last rewrite in time order,
// so each byte ends as its last writer left it.
//
// Only a few stretches of bytes are read while the replay runs: the object
// declarations, the names in front of them, and the occurrences of patterns
// whose occurrences overlap one another. These "observed" stretches are
// written at once when they are written themselves, and each byte of them
// keeps the time of that write; a read puts together the bytes from those
// writes and from the deferred rewrites of the occurrences that cover the
// stretch (listed up front, by the 16 bytes they reach), the latest writer
// winning. The final pass settles observed bytes by such a read, so a
// deferred pattern needs to keep only its occurrences elsewhere once nothing
// compares them with the source as loaded. Patterns that overlap themselves,
// and object declarations that the members' rewrites can reach, are
// replayed one spelling at a time over a table of their occurrences by
// spelling, as a text-wide replace would; a pattern's chains of overlapping
// occurrences, once many are spelled alike, over one copy of each distinct
// chain.

namespace vorrel {

namespace {

constexpr std::uint32_t none = 0xffffffffu;

Offsets packOffsets(const Occurrences& sorted, const ScanLimits& limits) {
    // Kept narrow only when all of them can be, so that none is moved.
    const std::uint64_t span = std::min<std::uint64_t>(limits.narrowSpan, 65536);
    bool narrow = span != 0;
    for (std::size_t i = 0; i < sorted.size() && narrow; ++i) narrow = sorted[i] - sorted[i & ~std::size_t(63)] < span;
    Offsets packed = emptyOffsets(limits.offsetLowBits, sorted.size(), narrow ? limits.narrowSpan : 0);
    for (const std::uint64_t offset : sorted) appendOffset(packed, offset);
    return packed;
}

// Numbers below 2^32 in as few bytes as the largest takes (1, 2 or 4): the
// hash each occurrence of a walk is filed under (those of a short pattern's
// spellings, told exactly by a bit a byte, take one), and the declaration
// of each occurrence of an object line's key (mostly a few distinct ones).
struct Packed {
    std::vector<std::uint8_t> bytes;
    unsigned width = 4;
};

std::size_t packedCount(const Packed& packed) { return packed.bytes.size() / packed.width; }

std::uint32_t packedAt(const Packed& packed, std::size_t i) {
    const std::uint8_t* at = packed.bytes.data() + i * packed.width;
    if (packed.width == 1) return *at;
    if (packed.width == 2) return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8;
    std::uint32_t number;
    std::memcpy(&number, at, 4);
    return number;
}

void setPacked(Packed& packed, std::size_t i, std::uint32_t number) {
    std::uint8_t* at = packed.bytes.data() + i * packed.width;
    if (packed.width == 1) {
        *at = static_cast<std::uint8_t>(number);
    } else if (packed.width == 2) {
        at[0] = static_cast<std::uint8_t>(number);
        at[1] = static_cast<std::uint8_t>(number >> 8);
    } else {
        std::memcpy(at, &number, 4);
    }
}

// Room for count numbers below 2^bits, all 0.
void resetPacked(Packed& packed, std::size_t count, unsigned bits) {
    packed.width = bits <= 8 ? 1 : bits <= 16 ? 2 : 4;
    packed.bytes.assign(count * packed.width, 0);
}

struct Pattern {
    std::string upper;
    Offsets hits;                          // once the source has changed, maybe only those outside observed bytes
    std::size_t count = 0;                 // occurrences, which hits may no longer all hold
    std::size_t hitsObserved = 0;          // occurrences wholly in observed bytes
    bool hitsKnown = false;
    bool keepsHits = false;                // stretches lie over its occurrences
    bool hasLetters = false;
    bool overlapping = false;              // two occurrences share bytes
    std::uint64_t lastTime = 0;            // deferred rewrite: when (0 for never) and to what
    std::string_view lastX;                // into ownX or a spelling that outlives the replay
    std::string ownX;
    std::uint32_t firstStretch = 0;        // patterns replayed exactly: stretch of occurrence i
    bool walkedClean = false;              // its last exact replay changed nothing, nor has anything since
    std::string walkedX;                   // the spelling of that replay
    std::string checkedX;                  // the last spelling compared with the source as loaded
    bool checkedDiffers = false;
};

struct Member {
    std::string name;
    std::string spaceX, equalsX, parenX;      // the spellings "M ", "M=", "M("
    std::uint32_t dot, space, equals, paren;  // their patterns, and that of ".M", upper-cased
};

struct Module {
    std::string memberList;
    std::vector<Member> members;
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> membersByDot;  // ".M" pattern -> member indexes
};

struct Line {
    std::string key;
    std::string block;
    std::uint32_t pattern = none;
    bool object = false;
    std::uint32_t module = none;             // object lines whose block passes the gate
    Offsets nameStart;                       // per occurrence: where its declared name begins
    std::vector<std::uint32_t> declaration;  // per occurrence: its declared name, while they are collected
    Packed declarationOf;                    // per occurrence: index into Engine::declarations
    std::uint32_t firstKeyStretch = 0;       // object lines: stretch of occurrence i
    std::uint32_t firstNameStretch = 0;      // object lines with a module: stretch of the name before occurrence i
};

// A declared name with the module it is declared as: the pass-one patterns
// ("NAME.MEMBER") of the members that occur after that name, by member index.
struct Declaration {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> passOne;
};

// Which occurrences each pattern's occurrences cover, by pattern.
using ReachedBy = std::unordered_map<std::uint32_t, Ascending>;

// The occurrences filed under one hash. A chunked list: a bucket can hold
// most occurrences of a pattern and grows and shrinks a great deal, and a
// growing array would, while moving, need its room two and three times.
using Bucket = std::deque<std::uint32_t>;

// One replay that goes spelling by spelling, with the pattern's occurrences
// filed by the hash of their current bytes. Filing is lazy: an occurrence
// whose bytes change is filed again under its new hash, and entries left
// behind are recognised by their stale hash. Occurrences spelled x are
// never looked for, so they go unfiled when x is short enough that its
// hash tells exactly whether an occurrence is spelled x.
struct ExactWalk {
    std::uint32_t pattern = none;
    std::uint32_t firstStretch = 0;
    std::string x;
    std::uint32_t xHash = 0;
    bool xUnfiled = false;  // whether occurrences hashed as x are left unfiled
    unsigned hashBits = 32;
    std::unordered_map<std::uint32_t, Bucket> filed;
    Packed spelling;
    std::vector<std::uint32_t> touched;
    bool touchedSpilled = false;  // touched stopped listing them, past a word's worth of isTouched each
    std::vector<std::uint64_t> isTouched;  // a bit per occurrence
    std::size_t filedEntries = 0;  // live and stale, to know when to file afresh
    ReachedBy reachedBy;
    std::vector<std::uint64_t> marks;  // a bit per occurrence, all clear between uses
    std::pair<std::uint32_t, Bucket*> recent[16] = {};  // recently used buckets by hash
    std::size_t changedFrom = 0;  // the first occurrence the last change told of could reach
};

// A stretch of observed bytes: where it lies, and the pattern written there
// at once, if any.
struct Stretch {
    std::uint64_t start, end;
    std::uint32_t owner;
};

// Stretches come in runs, one stretch per occurrence of a pattern, or one
// per name in front of the occurrences of an object line's key, so where a
// stretch lies follows from its run and its place in it. Stretches are
// looked up all through the replay: a run points straight at the offsets,
// which stay put once all occurrences are found.
struct StretchRun {
    std::uint32_t first;                  // its first stretch
    std::uint32_t owner;                  // the pattern written there at once, none for names
    const Offsets* hits;                  // the pattern's occurrences
    const Offsets* nameStarts;            // for names: where each begins, ending where its occurrence does
    std::uint64_t length;                 // else: the pattern's length
};

// An occurrence of a deferred pattern over observed bytes: its pattern,
// and where it ends, counted from a place given with it.
struct CoverEntry {
    std::uint32_t writer;
    std::uint64_t end;
};

// The occurrences that cover some bytes read: entries up to count, and how
// many entries of the cover lists were looked at to find them. Reads are
// many and short: the entries are kept for the next one.
struct Covering {
    std::vector<CoverEntry> entries;
    std::size_t count = 0;
    std::uint64_t looked = 0;
};

// A pattern replayed exactly whose occurrences a writer's occurrences
// overlap, offset being the writer's start minus the other's.
struct Reach {
    std::uint32_t pattern;
    std::int64_t offset;
    bool operator<(const Reach& other) const {
        return pattern != other.pattern ? pattern < other.pattern : offset < other.offset;
    }
    bool operator==(const Reach& other) const { return pattern == other.pattern && offset == other.offset; }
};

struct Engine {
    ToolState* tool = nullptr;
    ScanLimits limits;
    std::string* text = nullptr;
    std::vector<Pattern> patterns;
    std::unordered_map<std::string, std::uint32_t> patternIds;
    std::vector<Line> lines;
    std::vector<Module> modules;
    std::vector<Declaration> declarations;
    std::vector<StretchRun> stretchRuns;
    std::vector<std::uint32_t> runFirst;   // per run: its first stretch, to find a stretch's run by halving
    std::uint32_t stretchCount = 0;
    // The cover lists: per 16 bytes of the 64-byte blocks that hold observed
    // bytes, the observed occurrences of deferred patterns that reach them.
    // Per entry, writer << coverEndBits | end, where end is where the
    // writer's occurrence ends from the list's first byte; coverWidth 16-bit
    // units an entry, low unit first. The list of index i (coverListOf)
    // runs from coverBegin[i] to coverBegin[i + 1].
    std::vector<std::uint16_t> cover;
    unsigned coverEndBits = 0;
    unsigned coverWidth = 1;
    std::uint64_t coverLongest = 0;  // the longest occurrence listed
    std::vector<std::uint32_t> coverBegin;
    std::vector<std::uint64_t> blockRank;  // per word of blockMask: blocks holding observed bytes before it
    Covering covering;                     // scratch for reads
    std::vector<std::vector<Reach>> reaches;  // per writing pattern
    std::vector<std::uint64_t> observedMask;
    std::vector<std::uint64_t> blockMask;  // per 64-byte block: whether it holds an observed byte
    std::vector<std::uint64_t> rankBase;   // observed bytes before each mask word
    // The clock counts deferred rewrites: an immediate write takes the time
    // of the last one, which is all that tells whether a deferred rewrite
    // came after it. Per observed byte, the time of its last immediate
    // write, timeBytes bytes each (1, 2, 4 or 8: as few as the clock needs),
    // in chunks of 2^limits.timeChunkBits bytes' times, widened one at a
    // time.
    std::vector<std::vector<std::uint8_t>> writtenAt;
    unsigned timeBytes = 1;
    std::uint64_t latest = 0;  // the latest time they hold
    std::uint64_t clock = 0;
    std::uint64_t work = 0;                // bytes and stretches read so far, a measure of replay cost
    std::uint64_t deferredVolume = 0;      // bytes the deferred rewrites cover, a measure of settling cost
    std::vector<ExactWalk*> active;
    bool observedHitsDropped = false;
    std::uint32_t lastModule = none;
    std::string current;                   // scratch for reads
    std::vector<std::uint64_t> currentTime;
};

// ---- small helpers ---------------------------------------------------------

bool holdsLetter(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

bool isSeparator(char c) { return c == ' ' || c == '\n' || c == '\r'; }

bool isLowerLetter(char c) { return c >= 'a' && c <= 'z'; }

std::uint8_t foldByte(char c) {
    const auto b = static_cast<std::uint8_t>(c);
    return (b >= 'a' && b <= 'z') ? static_cast<std::uint8_t>(b - 32) : b;
}

// Every occurrence of a pattern reads as the pattern but for the case of
// its letters: a re-casing never changes which letter a byte is. So a
// spelling of up to bits bytes is told exactly by which of its bytes are
// lower-case letters, one bit each; a longer one by a hash of that many
// bits, which spellings may share.
std::uint32_t spellingHash(const char* at, std::size_t length, unsigned bits) {
    if (length <= bits) {
        std::uint32_t lower = 0;
        for (std::size_t i = 0; i < length; ++i) lower |= std::uint32_t(isLowerLetter(at[i])) << i;
        return lower;
    }
    std::uint64_t hash = 1469598103934665603ull;
    for (std::size_t i = 0; i < length; ++i) hash = (hash ^ static_cast<std::uint8_t>(at[i])) * 1099511628211ull;
    const auto folded = static_cast<std::uint32_t>(hash ^ hash >> 32);
    return bits >= 32 ? folded : folded >> (32 - bits);
}

void markRange(std::vector<std::uint64_t>& mask, std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t i = from; i < to; ++i) mask[i >> 6] |= std::uint64_t(1) << (i & 63);
}

bool isMarked(const std::vector<std::uint64_t>& mask, std::uint64_t i) { return (mask[i >> 6] >> (i & 63)) & 1; }

void clearMark(std::vector<std::uint64_t>& mask, std::uint64_t i) { mask[i >> 6] &= ~(std::uint64_t(1) << (i & 63)); }

// Appends the numbers of the bits set in word w of a mask, lowest first.
void appendMarked(const std::vector<std::uint64_t>& mask, std::size_t w, std::vector<std::uint32_t>& out) {
    for (std::uint64_t bits = mask[w]; bits != 0; bits &= bits - 1) {
        out.push_back(static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits))));
    }
}

// Which bytes are lower-case letters, a bit each. Bytes that a re-casing
// writes differ from what they were in nothing else, so this is all it
// takes to tell whether they changed, in an eighth of the room.
std::vector<std::uint64_t> lowerCaseBits(const std::string& bytes) {
    std::vector<std::uint64_t> bits(bytes.size() / 64 + 1, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i) bits[i >> 6] |= std::uint64_t(isLowerLetter(bytes[i])) << (i & 63);
    return bits;
}

// Whether the length bytes at offset at differ from the bytes that bits
// were taken from, both re-casings of the same.
bool caseDiffers(const std::vector<std::uint64_t>& bits, const std::string& bytes, std::size_t at, std::size_t length) {
    for (std::size_t i = at; i < at + length; ++i) {
        if (isLowerLetter(bytes[i]) != isMarked(bits, i)) return true;
    }
    return false;
}

// Set bits in a word, without relying on a processor instruction that the
// baseline x86-64 target lacks.
unsigned bitCount(std::uint64_t word) {
    word = word - ((word >> 1) & 0x5555555555555555ull);
    word = (word & 0x3333333333333333ull) + ((word >> 2) & 0x3333333333333333ull);
    word = (word + (word >> 4)) & 0x0f0f0f0f0f0f0f0full;
    return static_cast<unsigned>((word * 0x0101010101010101ull) >> 56);
}

bool anyMarked(const std::vector<std::uint64_t>& mask, std::uint64_t from, std::uint64_t to) {
    while (from < to) {
        const std::uint64_t word = mask[from >> 6] >> (from & 63);
        const std::uint64_t span = std::min<std::uint64_t>(64 - (from & 63), to - from);
        const std::uint64_t bits = span == 64 ? word : word & ((std::uint64_t(1) << span) - 1);
        if (bits != 0) return true;
        from += span;
    }
    return false;
}

// The first bit at or after from that is set, or with set false clear;
// size when there is none before it.
std::uint64_t nextMarked(const std::vector<std::uint64_t>& mask, std::uint64_t from, std::uint64_t size, bool set) {
    while (from < size) {
        const std::uint64_t word = (set ? mask[from >> 6] : ~mask[from >> 6]) >> (from & 63);
        if (word != 0) return std::min(size, from + bitCount((word & (~word + 1)) - 1));
        from = (from | 63) + 1;
    }
    return size;
}

// Whether every bit from from to to is set.
bool allMarked(const std::vector<std::uint64_t>& mask, std::uint64_t from, std::uint64_t to) {
    return nextMarked(mask, from, to, false) == to;
}

// A pattern's occurrences, and an object line's declarations, lie far apart
// once there are many patterns: what each one reads is mostly a cache miss.
// Asking for it some occurrences ahead overlaps the waits.
constexpr std::size_t prefetchAhead = 16;

void prefetch(const void* at) {
#if defined(__GNUC__)
    __builtin_prefetch(at);
#else
    (void)at;
#endif
}

// It may be given only the low bits of the offset: past 4 GiB the guess is
// then wrong, which costs a wasted request and nothing else.
void prefetchObserved(const Engine& engine, std::uint64_t lowOffset) {
    const std::uint64_t word = lowOffset >> 6;
    if (word < engine.observedMask.size()) prefetch(engine.observedMask.data() + word);
}

// Patterns, occurrences and stretches are numbered in 32 bits: a text with
// more of them than that cannot be held anyway, and ends the run the same way.
void fitsIndex(std::size_t count) {
    if (count >= none) throw std::length_error("more matches than can be numbered");
}

std::uint32_t patternId(Engine& engine, const std::string& upper) {
    const auto found = engine.patternIds.find(upper);
    if (found != engine.patternIds.end()) return found->second;
    fitsIndex(engine.patterns.size());
    const auto id = static_cast<std::uint32_t>(engine.patterns.size());
    engine.patterns.emplace_back();
    engine.patterns.back().upper = upper;
    engine.patternIds.emplace(upper, id);
    return id;
}

// Finds the occurrences of every pattern whose occurrences are not known yet.
void findPendingOccurrences(Engine& engine) {
    std::vector<std::uint32_t> pending;
    std::vector<std::string> uppers;
    for (std::uint32_t id = 0; id < engine.patterns.size(); ++id) {
        if (engine.patterns[id].hitsKnown) continue;
        pending.push_back(id);
        uppers.push_back(engine.patterns[id].upper);
    }
    SearchLimits limits;
    limits.offsetLowBits = engine.limits.offsetLowBits;
    limits.narrowSpan = engine.limits.narrowSpan;
    std::vector<Offsets> found = findOccurrences(*engine.text, uppers, limits);
    for (std::size_t i = 0; i < pending.size(); ++i) {
        fitsIndex(found[i].size());
        engine.patterns[pending[i]].hits = std::move(found[i]);
        engine.patterns[pending[i]].hitsKnown = true;
    }
}

// ---- set-up: catalogue, modules, declared names, members -------------------

void readCatalogue(Engine& engine) {
    const std::string_view list = engine.tool->catalogueList;
    for (std::size_t start = 0;;) {
        const std::size_t end = list.find(lineBreak, start);
        const std::string_view line = list.substr(start, end == std::string_view::npos ? end : end - start);
        std::string key = toUpper(line.substr(0, line.find(';')));
        if (!key.empty()) {
            Line entry;
            entry.block = fieldAt(line, ";", 2);
            entry.object = leftPart(key, 4) == " AS ";
            entry.pattern = patternId(engine, key);
            entry.key = std::move(key);
            engine.lines.push_back(std::move(entry));
        }
        if (end == std::string_view::npos) break;
        start = end + lineBreak.size();
    }
    findPendingOccurrences(engine);
}

// The member list as a one-entry cache keyed by module path would hold it:
// the module path, then the pieces of the module file's first line after the
// first ";".
std::string memberListOf(ModuleFiles& files, const std::string& modulePath) {
    std::string memberList;
    const std::string moduleText = readModuleFile(files, modulePath);
    addLine(memberList, replaceAll(fieldAt(moduleText, lineBreak, 1), ";", lineBreak));
    deleteLine(memberList, 0);
    insertLine(memberList, modulePath, 0);
    return memberList;
}

// Reads the module file at modulePath once and lists its members.
std::uint32_t moduleAt(Engine& engine, ModuleFiles& files, std::unordered_map<std::string, std::uint32_t>& moduleIds,
                       const std::string& modulePath) {
    const auto found = moduleIds.find(modulePath);
    if (found != moduleIds.end()) return found->second;
    const auto id = static_cast<std::uint32_t>(engine.modules.size());
    moduleIds.emplace(modulePath, id);
    Module module;
    module.memberList = memberListOf(files, modulePath);
    const std::string_view list = module.memberList;
    const std::size_t pathEnd = list.find(lineBreak);
    for (std::size_t start = pathEnd + lineBreak.size(), end = list.find(lineBreak, start);
         pathEnd != std::string_view::npos && end != std::string_view::npos;
         start = end + lineBreak.size(), end = list.find(lineBreak, start)) {
        Member member;
        member.name = std::string(list.substr(start, end - start));
        member.spaceX = member.name + " ";
        member.equalsX = member.name + "=";
        member.parenX = member.name + "(";
        member.dot = patternId(engine, "." + toUpper(member.name));
        member.space = patternId(engine, toUpper(member.spaceX));
        member.equals = patternId(engine, toUpper(member.equalsX));
        member.paren = patternId(engine, toUpper(member.parenX));
        module.membersByDot[member.dot].push_back(static_cast<std::uint32_t>(module.members.size()));
        module.members.push_back(std::move(member));
    }
    engine.modules.push_back(std::move(module));
    return id;
}

// Which member list each object line's declarations use. The list is kept
// from one declaration to the next while its first line names the module
// path asked for, so a line normally uses its own module's list; a library
// path holding CR LF makes that first line only part of the path.
void loadModules(Engine& engine, ModuleFiles& files) {
    std::unordered_map<std::string, std::uint32_t> moduleIds;
    std::uint32_t current = none;
    for (Line& line : engine.lines) {
        if (!line.object || engine.patterns[line.pattern].hits.empty()) continue;
        if (findText(1, toLower(line.block), "vorrel\\") == 0) continue;
        const std::string modulePath =
            engine.tool->vorrelPrefix + textBeforeFirst(textAfterLast(line.block, "\\"), "\"");
        const std::string_view currentList = current == none ? std::string_view() : engine.modules[current].memberList;
        if (fieldAt(currentList, lineBreak, 1) != modulePath) current = moduleAt(engine, files, moduleIds, modulePath);
        line.module = current;  // stays none only while the empty list stands for an empty path
    }
}

// Names declared in front of object keys, as upper-case text, with a lookup
// by the hash of their bytes read from the end.
struct NameTable {
    std::vector<std::string> names;
    std::unordered_map<std::string, std::uint32_t> ids;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> byHash;  // hash of (length, bytes)
    std::vector<bool> lengthUsed;
};

constexpr std::uint64_t nameBase = 0x100000001b3ull;

// Hash of a name read backwards, last byte first, so that it grows byte by
// byte while a search walks back from a point.
std::uint64_t extendBackward(std::uint64_t hash, std::uint8_t byte, std::uint64_t& power) {
    hash += (std::uint64_t(byte) + 1) * power;
    power *= nameBase;
    return hash;
}

std::uint32_t nameId(NameTable& table, std::string upper) {
    const auto found = table.ids.find(upper);
    if (found != table.ids.end()) return found->second;
    const auto id = static_cast<std::uint32_t>(table.names.size());
    std::uint64_t hash = 0, power = 1;
    for (auto c = upper.rbegin(); c != upper.rend(); ++c) hash = extendBackward(hash, static_cast<std::uint8_t>(*c), power);
    table.byHash[hash ^ upper.size()].push_back(id);
    if (table.lengthUsed.size() <= upper.size()) table.lengthUsed.resize(upper.size() + 1, false);
    table.lengthUsed[upper.size()] = true;
    table.ids.emplace(upper, id);
    table.names.push_back(std::move(upper));
    return id;
}

// Where the declared name of every object declaration begins, and which
// name it is; also the modules each name is declared as.
void collectNames(Engine& engine, NameTable& names, std::vector<std::vector<std::uint32_t>>& modulesOfName) {
    const std::string& text = *engine.text;
    for (Line& line : engine.lines) {
        if (line.module == none) continue;
        // In order, as the occurrences are: a name ends at its occurrence,
        // and begins after any blank, LF or CR between it and the one before.
        line.nameStart = emptyOffsets(engine.limits.offsetLowBits, engine.patterns[line.pattern].hits.size(),
                                      engine.limits.narrowSpan);
        const Offsets& hits = engine.patterns[line.pattern].hits;
        line.declaration.reserve(hits.size());  // without growth room: there can be one per few bytes
        for (std::size_t i = 0; i < hits.size(); ++i) {
            if (i + prefetchAhead < hits.size()) {
                const std::uint64_t ahead = hits[i + prefetchAhead];
                prefetch(text.data() + (ahead > 0 ? ahead - 1 : 0));  // the name ends there
            }
            const std::uint64_t at = hits[i];
            const std::string_view declared = declaredNameAt(text, at);
            appendOffset(line.nameStart, at - declared.size());
            const std::uint32_t name = nameId(names, toUpper(declared));
            if (modulesOfName.size() <= name) modulesOfName.resize(name + 1);
            std::vector<std::uint32_t>& modules = modulesOfName[name];
            if (std::find(modules.begin(), modules.end(), line.module) == modules.end()) modules.push_back(line.module);
            line.declaration.push_back(name);  // a name for now; a declaration once they are known
        }
    }
}

std::uint64_t pairKey(std::uint32_t a, std::uint32_t b) { return std::uint64_t(a) << 32 | b; }

// The occurrences of "NAME.MEMBER" are the occurrences of ".MEMBER" with the
// name right in front. Walking back from each point, the declared names that
// end there are found by hash, however many there are; only pairs of a name
// and a member of a module it is declared as become patterns.
void findNameMemberOccurrences(Engine& engine, const NameTable& names,
                               const std::vector<std::vector<std::uint32_t>>& modulesOfName,
                               std::unordered_map<std::uint64_t, std::uint32_t>& passOneOf) {
    std::vector<std::uint32_t> dots;
    for (const Module& module : engine.modules) {
        for (const auto& entry : module.membersByDot) dots.push_back(entry.first);
    }
    std::sort(dots.begin(), dots.end());
    dots.erase(std::unique(dots.begin(), dots.end()), dots.end());
    std::vector<bool> found(engine.patterns.size(), false);
    const std::string& text = *engine.text;
    if (names.lengthUsed.empty()) return;
    const std::size_t longest = names.lengthUsed.size() - 1;

    // The ".member" points are met in text order, so that the bytes before
    // each are read in one forward sweep rather than one sweep per member;
    // they are merged a batch at a time, each then gone through: the merge
    // runs faster on its own, and all of them at once can take much room.
    using Cursor = std::pair<std::uint64_t, std::pair<std::uint32_t, std::size_t>>;  // point, (dot, index)
    std::priority_queue<Cursor, std::vector<Cursor>, std::greater<Cursor>> next;
    for (const std::uint32_t dot : dots) {
        if (!engine.patterns[dot].hits.empty()) next.push({engine.patterns[dot].hits[0], {dot, 0}});
    }
    // What a declared name before a ".member" point stands for, worked out
    // once per pair: no pass-one pattern (the name is not declared as a type
    // with that member), or its pattern and whether its occurrences are
    // being collected here.
    constexpr std::uint32_t notDeclared = none;
    std::unordered_map<std::uint64_t, std::pair<std::uint32_t, bool>> pairs;
    std::vector<Occurrences> hitsOf;  // by pattern, as collected
    std::vector<std::pair<std::uint64_t, std::uint32_t>> points;  // point, ".member" pattern
    constexpr std::size_t batch = std::size_t(1) << 16;
    while (!next.empty()) {
        points.clear();
        while (!next.empty() && points.size() < batch) {
            const auto [point, where] = next.top();
            next.pop();
            points.emplace_back(point, where.first);
            // Looked up anew each time: the patterns made below may move them.
            const Offsets& hits = engine.patterns[where.first].hits;
            if (where.second + 1 < hits.size()) next.push({hits[where.second + 1], {where.first, where.second + 1}});
        }
        for (const auto& [point, dot] : points) {
            std::uint64_t hash = 0, power = 1;
            for (std::size_t length = 0;; ++length) {
                const auto candidates = names.lengthUsed[length] ? names.byHash.find(hash ^ length) : names.byHash.end();
                if (candidates != names.byHash.end()) {
                    for (const std::uint32_t name : candidates->second) {
                        const std::string& upper = names.names[name];
                        if (upper.size() != length) continue;
                        auto pair = pairs.find(pairKey(name, dot));
                        if (pair == pairs.end()) {
                            bool declared = false;
                            for (const std::uint32_t module : modulesOfName[name]) {
                                declared = declared || engine.modules[module].membersByDot.count(dot) != 0;
                            }
                            std::pair<std::uint32_t, bool> meaning(notDeclared, false);
                            if (declared) {
                                const std::uint32_t id = patternId(engine, upper + engine.patterns[dot].upper);
                                passOneOf.emplace(pairKey(name, dot), id);
                                meaning = {id, !engine.patterns[id].hitsKnown};
                            }
                            pair = pairs.emplace(pairKey(name, dot), meaning).first;
                        }
                        if (pair->second.first == notDeclared || !pair->second.second) continue;
                        bool same = true;
                        for (std::size_t i = 0; i < length && same; ++i) {
                            same = foldByte(text[point - length + i]) == static_cast<std::uint8_t>(upper[i]);
                        }
                        if (!same) continue;
                        if (hitsOf.size() <= pair->second.first) hitsOf.resize(pair->second.first + 1);
                        hitsOf[pair->second.first].push_back(point - length);
                    }
                }
                if (length >= longest || length >= point || isSeparator(text[point - length - 1])) break;
                hash = extendBackward(hash, foldByte(text[point - length - 1]), power);
            }
        }
    }
    found.assign(engine.patterns.size(), false);
    for (const auto& entry : pairs) {
        if (entry.second.second) found[entry.second.first] = true;
    }
    hitsOf.resize(found.size());
    for (std::uint32_t id = 0; id < found.size(); ++id) {
        if (!found[id]) continue;
        Occurrences& hits = hitsOf[id];
        if (!std::is_sorted(hits.begin(), hits.end())) std::sort(hits.begin(), hits.end());
        hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
        fitsIndex(hits.size());
        engine.patterns[id].hits = packOffsets(hits, engine.limits);
        Occurrences().swap(hits);
        engine.patterns[id].hitsKnown = true;
    }
}

unsigned bitsFor(std::uint64_t value) {
    unsigned bits = 0;
    while (value >> bits != 0) ++bits;
    return bits;
}

// Turns every declaration's name into the declaration of that name as the
// line's module, with the pass-one patterns of the members used after it.
void collectDeclarations(Engine& engine, const std::unordered_map<std::uint64_t, std::uint32_t>& passOneOf) {
    std::unordered_map<std::uint64_t, std::uint32_t> declarationIds;
    for (Line& line : engine.lines) {
        if (line.module == none) continue;
        const Module& module = engine.modules[line.module];
        for (std::uint32_t& entry : line.declaration) {
            const std::uint32_t name = entry;
            auto found = declarationIds.find(pairKey(name, line.module));
            if (found == declarationIds.end()) {
                Declaration declaration;
                for (std::uint32_t k = 0; k < module.members.size(); ++k) {
                    const auto passOne = passOneOf.find(pairKey(name, module.members[k].dot));
                    if (passOne != passOneOf.end()) declaration.passOne.emplace_back(k, passOne->second);
                }
                found = declarationIds.emplace(pairKey(name, line.module), engine.declarations.size()).first;
                engine.declarations.push_back(std::move(declaration));
            }
            entry = found->second;
        }
    }
    // Kept all through the replay: as narrow as the number of declarations allows.
    const unsigned bits = bitsFor(engine.declarations.empty() ? 0 : engine.declarations.size() - 1);
    for (Line& line : engine.lines) {
        if (line.module == none) continue;
        resetPacked(line.declarationOf, line.declaration.size(), bits);
        for (std::size_t i = 0; i < line.declaration.size(); ++i) setPacked(line.declarationOf, i, line.declaration[i]);
        std::vector<std::uint32_t>().swap(line.declaration);
    }
}

// Entry c of the cover lists, its end counted from its list's first byte.
// There can be more entries than source bytes, so each takes as few 16-bit
// units as its fields need.
CoverEntry coverAt(const Engine& engine, std::uint32_t c) {
    const std::uint16_t* units = engine.cover.data() + std::size_t(c) * engine.coverWidth;
    std::uint64_t value = units[0];
    for (unsigned i = 1; i < engine.coverWidth; ++i) value |= std::uint64_t(units[i]) << (16 * i);
    return {static_cast<std::uint32_t>(value >> engine.coverEndBits), value & ((std::uint64_t(1) << engine.coverEndBits) - 1)};
}

void putCover(Engine& engine, std::uint32_t c, std::uint32_t writer, std::uint64_t end) {
    const std::uint64_t value = std::uint64_t(writer) << engine.coverEndBits | end;
    std::uint16_t* units = engine.cover.data() + std::size_t(c) * engine.coverWidth;
    for (unsigned i = 0; i < engine.coverWidth; ++i) units[i] = static_cast<std::uint16_t>(value >> (16 * i));
}

std::size_t runSize(const StretchRun& run) { return run.nameStarts != nullptr ? run.nameStarts->size() : run.hits->size(); }

Stretch stretchInRun(const StretchRun& run, std::size_t i) {
    const std::uint64_t hit = (*run.hits)[i];
    if (run.nameStarts != nullptr) return {(*run.nameStarts)[i], hit, run.owner};
    return {hit, hit + run.length, run.owner};
}

// There can be a stretch per byte but are few runs: a stretch's run is the
// last to begin at or before it (one without stretches begins where the
// next one does, so it is never the last).
Stretch stretchAt(const Engine& engine, std::uint32_t id) {
    const auto run = std::upper_bound(engine.runFirst.begin(), engine.runFirst.end(), id) - engine.runFirst.begin() - 1;
    return stretchInRun(engine.stretchRuns[static_cast<std::size_t>(run)], id - engine.runFirst[static_cast<std::size_t>(run)]);
}

// Adds a stretch for each occurrence of pattern or, given an object line,
// for each name in front of them; returns the first.
std::uint32_t addStretchRun(Engine& engine, std::uint32_t pattern, std::uint32_t names) {
    const std::uint32_t first = engine.stretchCount;
    const Offsets& hits = engine.patterns[pattern].hits;
    if (names == none) {
        engine.stretchRuns.push_back({first, pattern, &hits, nullptr, engine.patterns[pattern].upper.size()});
    } else {
        engine.stretchRuns.push_back({first, none, &hits, &engine.lines[names].nameStart, 0});
    }
    engine.runFirst.push_back(first);
    const StretchRun& run = engine.stretchRuns.back();
    const std::size_t count = runSize(run);
    fitsIndex(first + count);
    engine.stretchCount = static_cast<std::uint32_t>(first + count);
    for (std::size_t i = 0; i < count; ++i) {
        const Stretch stretch = stretchInRun(run, i);
        markRange(engine.observedMask, stretch.start, stretch.end);
    }
    return first;
}

// Whether any of the bytes from to to are observed, asking first the mask
// of blocks, which stays cached.
bool touchesObserved(const Engine& engine, std::uint64_t from, std::uint64_t to) {
    return anyMarked(engine.blockMask, from >> 6, ((to - 1) >> 6) + 1) && anyMarked(engine.observedMask, from, to);
}

// The cover lists are kept per 16 bytes: few enough entries to look
// through for a short stretch, few enough lists for an index.
constexpr unsigned coverListBits = 4;
constexpr std::uint64_t noList = ~std::uint64_t(0);

// The index of the cover list of the 16 bytes at q << coverListBits, or
// noList when their 64-byte block holds no observed byte.
std::uint64_t coverListOf(const Engine& engine, std::uint64_t q) {
    const std::uint64_t block = q >> (6 - coverListBits);
    const std::uint64_t word = engine.blockMask[block >> 6], bit = std::uint64_t(1) << (block & 63);
    if ((word & bit) == 0) return noList;
    const std::uint64_t rank = engine.blockRank[block >> 6] + bitCount(word & (bit - 1));
    return rank << (6 - coverListBits) | (q & ((std::uint64_t(1) << (6 - coverListBits)) - 1));
}

// Puts each cover list in the order of the ends of its entries, so that a
// read can stop at the first that ends too late to cover what it reads.
void sortCoverLists(Engine& engine) {
    std::vector<CoverEntry> list;
    for (std::size_t i = 0; i + 1 < engine.coverBegin.size(); ++i) {
        const std::uint32_t first = engine.coverBegin[i], last = engine.coverBegin[i + 1];
        if (last - first < 2) continue;
        list.clear();
        for (std::uint32_t c = first; c < last; ++c) list.push_back(coverAt(engine, c));
        std::sort(list.begin(), list.end(), [](const CoverEntry& a, const CoverEntry& b) { return a.end < b.end; });
        for (std::uint32_t c = first; c < last; ++c) putCover(engine, c, list[c - first].writer, list[c - first].end);
    }
}

// Lists every observed occurrence of a deferred pattern under each 16
// bytes of observed blocks it reaches: counted into next, the largest end
// into maxEnd, or, with fill, written at next into Engine::cover.
void coverPairs(Engine& engine, std::vector<std::uint32_t>& next, std::uint64_t& maxEnd, bool fill) {
    for (std::uint32_t id = 0; id < engine.patterns.size(); ++id) {
        const Pattern& pattern = engine.patterns[id];
        if (pattern.overlapping || !pattern.hasLetters) continue;
        const std::uint64_t length = pattern.upper.size();
        const std::size_t count = pattern.hits.size();
        for (std::size_t index = 0; index < count; ++index) {
            if (index + prefetchAhead < count) {
                const std::uint64_t ahead = pattern.hits[index + prefetchAhead];
                prefetchObserved(engine, ahead);
                const std::uint64_t list = coverListOf(engine, ahead >> coverListBits);
                if (list != noList) prefetch(next.data() + list);
            }
            const std::uint64_t from = pattern.hits[index], to = from + length;
            if (!touchesObserved(engine, from, to)) continue;
            if (!fill && allMarked(engine.observedMask, from, to)) ++engine.patterns[id].hitsObserved;
            for (std::uint64_t q = from >> coverListBits; q <= (to - 1) >> coverListBits; ++q) {
                const std::uint64_t list = coverListOf(engine, q);
                if (list == noList) continue;
                const std::uint64_t end = to - (q << coverListBits);
                if (fill) {
                    putCover(engine, next[list]++, id, end);
                } else {
                    fitsIndex(++next[list]);
                    maxEnd = std::max(maxEnd, end);
                    engine.coverLongest = std::max(engine.coverLongest, length);
                }
            }
        }
    }
}

// findCovering for one list, q's, with entries of a known width.
template <unsigned width>
void collectCovering(const Engine& engine, std::uint64_t q, std::uint64_t list, std::uint64_t from, std::uint64_t to,
                     Covering& covering) {
    const std::uint64_t base = q << coverListBits, endMask = (std::uint64_t(1) << engine.coverEndBits) - 1;
    const std::uint16_t* units = engine.cover.data() + std::size_t(engine.coverBegin[list]) * width;
    const std::uint16_t* last = engine.cover.data() + std::size_t(engine.coverBegin[list + 1]) * width;
    CoverEntry* out = covering.entries.data() + covering.count;
    for (; units != last; units += width) {
        std::uint64_t value = units[0];
        for (unsigned i = 1; i < width; ++i) value |= std::uint64_t(units[i]) << (16 * i);
        const auto writer = static_cast<std::uint32_t>(value >> engine.coverEndBits);
        const std::uint64_t end = base + (value & endMask), start = end - engine.patterns[writer].upper.size();
        if (end <= from) continue;
        if (end >= to + engine.coverLongest) break;  // so this one and all after start at to or later
        if (start >= to) continue;
        if ((std::max(start, from) >> coverListBits) != q) continue;  // taken in the first list both reach
        *out++ = {writer, end - from};
    }
    covering.count = static_cast<std::size_t>(out - covering.entries.data());
}

// The occurrences of deferred patterns that cover some of the observed
// bytes from to to, each with its end counted from from, into covering.
void findCovering(const Engine& engine, std::uint64_t from, std::uint64_t to, Covering& covering) {
    covering.count = 0;
    covering.looked = 0;
    for (std::uint64_t q = from >> coverListBits; from < to && q <= (to - 1) >> coverListBits; ++q) {
        const std::uint64_t list = coverListOf(engine, q);
        if (list == noList) continue;
        const std::uint32_t entries = engine.coverBegin[list + 1] - engine.coverBegin[list];
        covering.looked += entries;
        if (covering.entries.size() < covering.count + entries) covering.entries.resize(2 * (covering.count + entries));
        switch (engine.coverWidth) {
        case 1: collectCovering<1>(engine, q, list, from, to, covering); break;
        case 2: collectCovering<2>(engine, q, list, from, to, covering); break;
        default: collectCovering<4>(engine, q, list, from, to, covering); break;
        }
    }
}

// The latest time that write times of this many bytes hold.
std::uint64_t latestTime(const Engine& engine, unsigned bytes) {
    if (bytes >= 8) return ~std::uint64_t(0);
    const std::uint64_t most = (std::uint64_t(1) << (8 * bytes)) - 1;
    return std::min(most, std::min(engine.limits.narrowTimes, most) * bytes);
}

// The write times of 2^this observed bytes are kept together.
unsigned timeChunkBits(const Engine& engine) { return std::min(engine.limits.timeChunkBits, 24u); }

// Marks the stretches read during the replay, and lists, by the 16 bytes of
// them they reach, the occurrences of deferred patterns over them.
void markObservedBytes(Engine& engine) {
    const std::uint64_t size = engine.text->size();
    engine.observedMask.assign(size / 64 + 1, 0);
    // Sized exactly up front: a growing list would, while moving, briefly
    // need three times the room, and there can be a stretch per byte.
    std::uint64_t count = 0;
    for (Pattern& pattern : engine.patterns) {
        pattern.hasLetters = holdsLetter(pattern.upper);
        pattern.count = pattern.hits.size();
        const std::uint64_t length = pattern.upper.size();
        for (std::size_t i = 1; i < pattern.hits.size() && !pattern.overlapping; ++i) {
            pattern.overlapping = pattern.hits[i] - pattern.hits[i - 1] < length;
        }
        if (pattern.overlapping && pattern.hasLetters) count += pattern.hits.size();
    }
    for (const Line& line : engine.lines) {
        if (!line.object) continue;
        count += engine.patterns[line.pattern].hits.size() + line.nameStart.size();
        engine.patterns[line.pattern].keepsHits = true;
    }
    fitsIndex(count);
    for (Pattern& pattern : engine.patterns) {
        if (!pattern.overlapping || !pattern.hasLetters) continue;
        pattern.firstStretch = addStretchRun(engine, static_cast<std::uint32_t>(&pattern - engine.patterns.data()), none);
    }
    for (Line& line : engine.lines) {
        if (!line.object) continue;
        line.firstKeyStretch = addStretchRun(engine, line.pattern, none);
        line.firstNameStretch =
            addStretchRun(engine, line.pattern, static_cast<std::uint32_t>(&line - engine.lines.data()));
    }

    engine.rankBase.assign(engine.observedMask.size() + 1, 0);
    for (std::size_t w = 0; w < engine.observedMask.size(); ++w) {
        engine.rankBase[w + 1] = engine.rankBase[w] + bitCount(engine.observedMask[w]);
    }
    engine.timeBytes = 1;  // the clock has not moved yet
    engine.latest = latestTime(engine, 1);
    const std::uint64_t chunk = std::uint64_t(1) << timeChunkBits(engine);
    engine.writtenAt.clear();
    for (std::uint64_t rank = 0; rank < engine.rankBase.back(); rank += chunk) {
        engine.writtenAt.emplace_back(std::min(chunk, engine.rankBase.back() - rank), 0);
    }
    // The byte mask is an eighth of the text: looking up every occurrence in
    // it would miss the cache nearly every time. Most blocks hold no observed
    // byte, which this mask, small enough to stay cached, tells first.
    engine.blockMask.assign(engine.observedMask.size() / 64 + 1, 0);
    for (std::size_t w = 0; w < engine.observedMask.size(); ++w) {
        if (engine.observedMask[w] != 0) engine.blockMask[w >> 6] |= std::uint64_t(1) << (w & 63);
    }
    engine.blockRank.assign(engine.blockMask.size() + 1, 0);
    for (std::size_t w = 0; w < engine.blockMask.size(); ++w) {
        engine.blockRank[w + 1] = engine.blockRank[w] + bitCount(engine.blockMask[w]);
    }

    // Two passes over the same occurrences, counting and then filling, so
    // that the cover lists are grouped without holding their entries twice.
    const std::uint64_t lists = engine.blockRank.back() << (6 - coverListBits);
    std::uint64_t maxEnd = 0;
    std::vector<std::uint32_t> next(lists + 1, 0);
    coverPairs(engine, next, maxEnd, false);
    std::uint64_t total = 0;
    for (std::size_t list = 0; list <= lists; ++list) {
        const std::uint64_t count = next[list];
        next[list] = static_cast<std::uint32_t>(total);
        total += count;
        fitsIndex(total);
    }
    engine.coverBegin = next;
    engine.coverEndBits = bitsFor(maxEnd);
    const unsigned entryBits = std::max(engine.coverEndBits + bitsFor(engine.patterns.size()), engine.limits.coverEntryBits);
    // Only billions of patterns and a match of a terabyte together need more.
    if (entryBits > 64) throw std::length_error("more matches than can be numbered");
    engine.coverWidth = entryBits <= 16 ? 1 : entryBits <= 32 ? 2 : 4;
    engine.cover.resize(total * engine.coverWidth);
    coverPairs(engine, next, maxEnd, true);
    std::vector<std::uint32_t>().swap(next);
    sortCoverLists(engine);

    // Which writers reach the occurrences of patterns replayed exactly: the
    // deferred ones through the lists above, the immediate ones (other such
    // patterns, object declarations) through overlapping stretches.
    struct Reached {
        std::uint32_t writer;
        Reach reach;
        bool operator==(const Reached& o) const { return writer == o.writer && reach == o.reach; }
    };
    struct ReachedHash {
        std::size_t operator()(const Reached& r) const {
            return std::hash<std::uint64_t>()((std::uint64_t(r.writer) << 32 | r.reach.pattern) ^
                                              static_cast<std::uint64_t>(r.reach.offset) * 0x9E3779B97F4A7C15ull);
        }
    };
    std::unordered_set<Reached, ReachedHash> reached;  // few distinct ones, however many overlaps
    // The same few are met again and again: a small table of recent ones
    // spares most look-ups in the set.
    std::vector<Reached> recent(1024, Reached{none, {none, 0}});
    auto note = [&reached, &recent](const Reached& r) {
        Reached& slot = recent[(ReachedHash()(r) * 0x9E3779B97F4A7C15ull) >> 54];  // the top 10 bits
        if (slot == r) return;
        slot = r;
        reached.insert(r);
    };
    for (const StretchRun& run : engine.stretchRuns) {
        if (run.owner == none || !engine.patterns[run.owner].overlapping) continue;
        for (std::size_t i = 0; i < runSize(run); ++i) {
            const Stretch stretch = stretchInRun(run, i);
            findCovering(engine, stretch.start, stretch.end, engine.covering);
            for (std::size_t k = 0; k < engine.covering.count; ++k) {
                const auto [writer, end] = engine.covering.entries[k];
                const auto start = static_cast<std::int64_t>(end) - static_cast<std::int64_t>(engine.patterns[writer].upper.size());
                note({writer, {stretch.owner, start}});
            }
        }
    }

    // The stretches written at once, by the 64-byte blocks they reach: two
    // that overlap are met in the block where the later one starts. Each
    // block's stretches are looked up once and paired up locally, as the
    // stretches of one block come from runs all over memory. There can be
    // a stretch per byte: the blocks are gone through a window at a time.
    const std::size_t blocks = engine.observedMask.size();
    const std::size_t window = std::max<std::size_t>(1, engine.limits.pairBlocks);
    std::vector<std::size_t> firstOfRun(engine.stretchRuns.size(), 0);  // the first that may reach the window
    std::vector<std::uint32_t> blockBegin, byBlock;
    std::vector<Stretch> block;
    for (std::size_t b0 = 0; b0 < blocks; b0 += window) {
        const std::size_t b1 = std::min(blocks, b0 + window);
        for (std::size_t r = 0; r < engine.stretchRuns.size(); ++r) {
            const StretchRun& run = engine.stretchRuns[r];
            if (run.owner == none) continue;
            const std::uint64_t from = std::uint64_t(b0) << 6;
            firstOfRun[r] = firstAtLeast(*run.hits, from >= run.length ? from - run.length + 1 : 0, firstOfRun[r]);
        }
        blockBegin.assign(b1 - b0 + 1, 0);
        for (int fill = 0; fill < 2; ++fill) {
            std::vector<std::uint32_t> next(blockBegin.begin(), blockBegin.end() - 1);
            for (std::size_t r = 0; r < engine.stretchRuns.size(); ++r) {
                const StretchRun& run = engine.stretchRuns[r];
                if (run.owner == none) continue;
                for (std::size_t i = firstOfRun[r]; i < runSize(run); ++i) {
                    const Stretch stretch = stretchInRun(run, i);
                    if (stretch.start >> 6 >= b1) break;
                    if (stretch.end <= stretch.start) continue;
                    const std::uint64_t last = std::min<std::uint64_t>((stretch.end - 1) >> 6, b1 - 1);
                    for (std::uint64_t b = std::max<std::uint64_t>(stretch.start >> 6, b0); b <= last; ++b) {
                        if (fill != 0) byBlock[next[b - b0]++] = static_cast<std::uint32_t>(run.first + i);
                        else ++blockBegin[b - b0 + 1];
                    }
                }
            }
            if (fill != 0) break;
            for (std::size_t b = 0; b < b1 - b0; ++b) blockBegin[b + 1] += blockBegin[b];
            byBlock.resize(blockBegin[b1 - b0]);
        }
        for (std::size_t b = b0; b < b1; ++b) {
            if (blockBegin[b - b0 + 1] - blockBegin[b - b0] < 2) continue;
            block.clear();
            for (std::uint32_t e = blockBegin[b - b0]; e < blockBegin[b - b0 + 1]; ++e) {
                block.push_back(stretchAt(engine, byBlock[e]));
            }
            std::sort(block.begin(), block.end(), [](const Stretch& x, const Stretch& y) { return x.start < y.start; });
            for (const Stretch& stretch : block) {
                if (!engine.patterns[stretch.owner].overlapping) continue;
                for (const Stretch& other : block) {
                    if (other.start >= stretch.end) break;
                    if (other.owner == stretch.owner || other.end <= stretch.start) continue;
                    if ((std::max(other.start, stretch.start) >> 6) != b) continue;
                    const auto offset = static_cast<std::int64_t>(other.start) - static_cast<std::int64_t>(stretch.start);
                    note({other.owner, {stretch.owner, offset}});
                }
            }
        }
    }
    engine.reaches.assign(engine.patterns.size(), {});
    for (const Reached& r : reached) engine.reaches[r.writer].push_back(r.reach);
}

// ---- the replay ------------------------------------------------------------

std::uint64_t rankOf(const Engine& engine, std::uint64_t at) {
    const std::uint64_t word = engine.observedMask[at >> 6] & ((std::uint64_t(1) << (at & 63)) - 1);
    return engine.rankBase[at >> 6] + bitCount(word);
}

template <typename T>
void copyTimesAs(const std::uint8_t* from, std::size_t count, std::uint64_t* to) {
    for (std::size_t i = 0; i < count; ++i) {
        T time;
        std::memcpy(&time, from + i * sizeof(T), sizeof(T));
        to[i] = time;
    }
}

// Reads count write times kept in bytes bytes each.
void copyTimes(const std::uint8_t* from, unsigned bytes, std::size_t count, std::uint64_t* to) {
    switch (bytes) {
    case 1: return copyTimesAs<std::uint8_t>(from, count, to);
    case 2: return copyTimesAs<std::uint16_t>(from, count, to);
    case 4: return copyTimesAs<std::uint32_t>(from, count, to);
    default: return copyTimesAs<std::uint64_t>(from, count, to);
    }
}

template <typename T>
void storeTimesAs(std::uint8_t* to, const std::uint64_t* from, std::size_t step, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const auto narrowed = static_cast<T>(from[i * step]);
        std::memcpy(to + i * sizeof(T), &narrowed, sizeof(T));
    }
}

// Writes count write times, each in bytes bytes, taking every step-th of
// from (a step of 0 writes the first count times over).
void storeTimes(std::uint8_t* to, unsigned bytes, const std::uint64_t* from, std::size_t step, std::size_t count) {
    switch (bytes) {
    case 1: return storeTimesAs<std::uint8_t>(to, from, step, count);
    case 2: return storeTimesAs<std::uint16_t>(to, from, step, count);
    case 4: return storeTimesAs<std::uint32_t>(to, from, step, count);
    default: return storeTimesAs<std::uint64_t>(to, from, step, count);
    }
}

// Widens the write times of observed bytes until they hold the clock, a
// chunk at a time.
void widenTimes(Engine& engine) {
    const unsigned before = engine.timeBytes;
    while (engine.clock > latestTime(engine, engine.timeBytes)) engine.timeBytes *= 2;
    engine.latest = latestTime(engine, engine.timeBytes);
    std::vector<std::uint64_t> times;
    for (std::vector<std::uint8_t>& chunk : engine.writtenAt) {
        const std::size_t count = chunk.size() / before;
        times.resize(count);
        copyTimes(chunk.data(), before, count, times.data());
        std::vector<std::uint8_t> wider(count * engine.timeBytes);
        storeTimes(wider.data(), engine.timeBytes, times.data(), 1, count);
        chunk.swap(wider);
    }
}

// Moves the clock on.
std::uint64_t tick(Engine& engine) {
    if (++engine.clock > engine.latest) widenTimes(engine);
    return engine.clock;
}

// Where the write times of count observed bytes from the one of this rank
// on begin: the chunk, the offset in it, and how many of them it holds.
struct TimesPiece {
    std::size_t chunk, offset, count;
};

TimesPiece timesPiece(const Engine& engine, std::uint64_t rank, std::size_t count) {
    const unsigned bits = timeChunkBits(engine);
    const std::uint64_t within = rank & ((std::uint64_t(1) << bits) - 1);
    const auto inChunk = static_cast<std::size_t>(std::min<std::uint64_t>(count, (std::uint64_t(1) << bits) - within));
    return {static_cast<std::size_t>(rank >> bits), static_cast<std::size_t>(within * engine.timeBytes), inChunk};
}

// The write times of count observed bytes from the one of this rank on.
void readTimes(const Engine& engine, std::uint64_t rank, std::size_t count, std::uint64_t* to) {
    while (count > 0) {
        const TimesPiece piece = timesPiece(engine, rank, count);
        copyTimes(engine.writtenAt[piece.chunk].data() + piece.offset, engine.timeBytes, piece.count, to);
        rank += piece.count;
        to += piece.count;
        count -= piece.count;
    }
}

// Sets the write times of count observed bytes from the one of this rank on.
void writeTimes(Engine& engine, std::uint64_t rank, std::size_t count, std::uint64_t time) {
    while (count > 0) {
        const TimesPiece piece = timesPiece(engine, rank, count);
        storeTimes(engine.writtenAt[piece.chunk].data() + piece.offset, engine.timeBytes, &time, 0, piece.count);
        rank += piece.count;
        count -= piece.count;
    }
}

// What reading the observed bytes from an offset on will look up, asked for
// a step at a time, each step some occurrences nearer than the one before:
// at step 0 what the offset alone locates (the bytes, their masks, the
// bounds of their cover list), at step 1 what those locate (the list's
// entries, the bytes' write times).
void prefetchRead(const Engine& engine, std::uint64_t from, unsigned step) {
    const std::uint64_t list = coverListOf(engine, from >> coverListBits);
    if (step == 0) {
        prefetch(engine.text->data() + from);
        prefetch(engine.observedMask.data() + (from >> 6));
        prefetch(engine.rankBase.data() + (from >> 6));
        if (list != noList) prefetch(engine.coverBegin.data() + list);
    } else if (step == 1) {
        if (list != noList) prefetch(engine.cover.data() + std::size_t(engine.coverBegin[list]) * engine.coverWidth);
        const std::uint64_t rank = rankOf(engine, from);
        if (rank < engine.rankBase.back()) {
            const TimesPiece piece = timesPiece(engine, rank, 1);
            prefetch(engine.writtenAt[piece.chunk].data() + piece.offset);
        }
    }
}

// The same for declaration i of an object line, and for the patterns of
// the members used after it: at step 0 the declaration, at step 1 its list
// of those patterns, at step 2 the patterns themselves.
void prefetchDeclaration(const Engine& engine, const Line& line, std::size_t i, unsigned step) {
    prefetchRead(engine, engine.patterns[line.pattern].hits[i], step);
    if (line.module == none) return;
    prefetchRead(engine, line.nameStart[i], step);
    const Declaration& declaration = engine.declarations[packedAt(line.declarationOf, i)];
    if (step == 0) {
        prefetch(&declaration);
    } else if (step == 1) {
        prefetch(declaration.passOne.data());
    } else {
        for (const auto& entry : declaration.passOne) {
            const auto* pattern = reinterpret_cast<const char*>(&engine.patterns[entry.second]);
            for (std::size_t at = 0; at < sizeof(Pattern); at += 64) prefetch(pattern + at);
            prefetch(&engine.reaches[entry.second]);
        }
    }
}

// Asks for what the declarations a few ahead of i will read, each step of
// prefetchDeclaration one declaration nearer.
void prefetchDeclarations(const Engine& engine, const Line& line, std::size_t i) {
    const std::size_t count = engine.patterns[line.pattern].hits.size();
    for (unsigned step = 0; step < 3; ++step) {
        if (i + 3 - step < count) prefetchDeclaration(engine, line, i + 3 - step, step);
    }
}

// The observed bytes from..to as they stand now, into engine.current: from
// the last immediate writes, overruled byte by byte by later deferred
// rewrites.
const std::string& readObserved(Engine& engine, std::uint64_t from, std::uint64_t to) {
    const std::uint64_t length = to - from;
    findCovering(engine, from, to, engine.covering);
    engine.work += 32 + length + engine.covering.looked;
    engine.current.assign(*engine.text, from, length);
    if (engine.covering.count == 0) return engine.current;
    engine.currentTime.resize(length);
    // The bytes are all observed, so their ranks are consecutive.
    const std::uint64_t first = rankOf(engine, from);
    readTimes(engine, first, length, engine.currentTime.data());
    // A rewrite no later than every byte's last write changes none of them.
    const std::uint64_t oldest = *std::min_element(engine.currentTime.begin(), engine.currentTime.begin() + length);
    for (std::size_t c = 0; c < engine.covering.count; ++c) {
        const CoverEntry& entry = engine.covering.entries[c];
        const Pattern& writer = engine.patterns[entry.writer];
        const std::uint64_t time = writer.lastTime;
        if (time <= oldest) continue;
        // Offsets from the stretch's start; the occurrence may begin before it.
        const auto end = static_cast<std::int64_t>(entry.end);
        const std::int64_t at = end - static_cast<std::int64_t>(writer.upper.size());
        const std::int64_t to = std::min<std::int64_t>(end, static_cast<std::int64_t>(length));
        for (std::int64_t k = std::max<std::int64_t>(at, 0); k < to; ++k) {
            // Without branches: which writer is later is as good as random.
            const bool later = time > engine.currentTime[k];
            engine.currentTime[k] = later ? time : engine.currentTime[k];
            engine.current[k] = later ? writer.lastX[k - at] : engine.current[k];
        }
    }
    return engine.current;
}

// The bytes of a stretch as they stand now, into engine.current.
const std::string& readStretch(Engine& engine, std::uint32_t id) {
    const Stretch stretch = stretchAt(engine, id);
    return readObserved(engine, stretch.start, stretch.end);
}

// Notes that occurrence index was written over and must be filed again.
// The list of such occurrences is kept while it is shorter than their bits:
// a replace can touch most occurrences.
void touch(ExactWalk& walk, std::uint32_t index) {
    if (isMarked(walk.isTouched, index)) return;
    markRange(walk.isTouched, index, index + 1);
    if (walk.touchedSpilled) return;
    if (walk.touched.size() < walk.isTouched.size()) {
        walk.touched.push_back(index);
        return;
    }
    walk.touchedSpilled = true;
    std::vector<std::uint32_t>().swap(walk.touched);
}

// Lists the touched occurrences again, in order, once their list has spilled.
void listTouched(ExactWalk& walk) {
    if (!walk.touchedSpilled) return;
    walk.touchedSpilled = false;
    for (std::size_t w = 0; w < walk.isTouched.size(); ++w) appendMarked(walk.isTouched, w, walk.touched);
}

// Tells every exact walk under way that the bytes from..to were written.
void noteChange(Engine& engine, std::uint64_t from, std::uint64_t to) {
    for (ExactWalk* walk : engine.active) {
        const Offsets& hits = engine.patterns[walk->pattern].hits;
        const std::uint64_t length = engine.patterns[walk->pattern].upper.size();
        // Changes mostly come in text order: the search goes on from the last.
        walk->changedFrom = firstAtLeast(hits, from >= length ? from - length + 1 : 0, walk->changedFrom);
        for (std::size_t i = walk->changedFrom; i < hits.size() && hits[i] < to; ++i) {
            touch(*walk, static_cast<std::uint32_t>(i));
        }
    }
}

// After writer wrote x over its occurrences: a pattern replayed exactly
// whose occurrences hold their spelling stays so only where x agrees with
// that spelling on every overlap.
void noteWriter(Engine& engine, std::uint32_t writer, std::string_view x) {
    if (writer == none) return;
    for (const Reach& reach : engine.reaches[writer]) {
        Pattern& reached = engine.patterns[reach.pattern];
        if (!reached.walkedClean) continue;
        const std::string_view spelling = reached.walkedX;
        const std::int64_t from = std::max<std::int64_t>(0, reach.offset);
        const std::int64_t to = std::min<std::int64_t>(static_cast<std::int64_t>(spelling.size()),
                                                        reach.offset + static_cast<std::int64_t>(x.size()));
        for (std::int64_t k = from; k < to && reached.walkedClean; ++k) {
            reached.walkedClean = spelling[static_cast<std::size_t>(k)] == x[static_cast<std::size_t>(k - reach.offset)];
        }
    }
}

// Writes x over a stretch now, told whether that changes its bytes.
void putStretch(Engine& engine, std::uint32_t id, std::string_view x, bool changed) {
    const Stretch stretch = stretchAt(engine, id);
    std::memcpy(engine.text->data() + stretch.start, x.data(), x.size());
    const std::uint64_t first = rankOf(engine, stretch.start);
    writeTimes(engine, first, x.size(), engine.clock);
    if (changed) {
        engine.tool->sourceChanged = true;
        noteChange(engine, stretch.start, stretch.end);
        noteWriter(engine, stretch.owner, x);
    }
}

std::uint32_t stretchOf(const ExactWalk& walk, std::uint32_t index) { return walk.firstStretch + index; }

// Whether spellings of this length are filed under keys that tell them
// apart exactly.
bool isExact(const ExactWalk& walk, std::size_t length) { return length <= walk.hashBits; }

// How many bits the hashes of spellings of this length take.
unsigned hashWidth(const ExactWalk& walk, std::size_t length) {
    return isExact(walk, length) ? static_cast<unsigned>(length) : walk.hashBits;
}

std::uint32_t hashOf(const ExactWalk& walk, const char* at, std::size_t length) {
    return spellingHash(at, length, walk.hashBits);
}

void setTarget(ExactWalk& walk, const Engine& engine, std::string_view x) {
    walk.hashBits = std::clamp(engine.limits.spellingHashBits, 1u, 32u);
    walk.x = std::string(x);
    walk.xHash = hashOf(walk, x.data(), x.size());
    walk.xUnfiled = isExact(walk, x.size());
}

bool isFiledUnder(const ExactWalk& walk, std::uint32_t hash) { return !walk.xUnfiled || hash != walk.xHash; }

// Lets go of the lists of occurrences by hash, room and all; fileAll makes
// them again, from the spellings.
void dropFiling(ExactWalk& walk) {
    for (auto& entry : walk.recent) entry = {0, nullptr};
    decltype(walk.filed)().swap(walk.filed);
    walk.filedEntries = 0;
}

// Files every occurrence afresh under the hash of its spelling.
void fileAll(ExactWalk& walk) {
    dropFiling(walk);
    for (std::uint32_t i = 0; i < packedCount(walk.spelling); ++i) {
        const std::uint32_t hash = packedAt(walk.spelling, i);
        if (!isFiledUnder(walk, hash)) continue;
        walk.filed[hash].push_back(i);
        ++walk.filedEntries;
    }
}

// Drops stale entries once they number a quarter of the occurrences and
// 1,024 more: spellings that change back and forth would otherwise pile up
// entries without end, and they are the largest part of a long walk's room.
void compactFiling(ExactWalk& walk) {
    const std::size_t count = packedCount(walk.spelling);
    if (walk.filedEntries >= count + count / 4 + 1024) fileAll(walk);
}

// The bucket of a hash; a spelling is mostly filed under one of a few.
Bucket& bucketOf(ExactWalk& walk, std::uint32_t hash) {
    auto& entry = walk.recent[(hash * 0x9E3779B97F4A7C15ull) >> 60];
    if (entry.second == nullptr || entry.first != hash) entry = {hash, &walk.filed[hash]};  // map values stay put
    return *entry.second;
}

// Puts occurrence numbers in increasing order without repeats: through a
// bit per occurrence when there are many of them, else by sorting.
void orderOccurrences(ExactWalk& walk, std::vector<std::uint32_t>& list) {
    if (std::is_sorted(list.begin(), list.end())) {
        list.erase(std::unique(list.begin(), list.end()), list.end());
        return;
    }
    const std::size_t count = packedCount(walk.spelling);
    if (count > 640 * list.size()) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        return;
    }
    walk.marks.resize(count / 64 + 1);
    for (const std::uint32_t i : list) walk.marks[i >> 6] |= std::uint64_t(1) << (i & 63);
    list.clear();
    for (std::size_t w = 0; w < walk.marks.size(); ++w) {
        appendMarked(walk.marks, w, list);
        walk.marks[w] = 0;
    }
}

// Files occurrence index under the hash of its bytes, unless it is filed
// there already.
void fileUnder(ExactWalk& walk, std::uint32_t index, std::uint32_t hash) {
    if (hash == packedAt(walk.spelling, index)) return;
    setPacked(walk.spelling, index, hash);
    if (!isFiledUnder(walk, hash)) return;
    bucketOf(walk, hash).push_back(index);
    ++walk.filedEntries;
}

// After a replace of the spelling filed under hash: the occurrences of it
// not written stay filed there, with those filed alike but spelled
// otherwise; the ones written now hold x, filed under its hash (which may be
// this one) or, for x whose hash tells it exactly, not at all.
void keepUnwritten(ExactWalk& walk, std::uint32_t hash, Bucket& bucket, std::vector<std::uint32_t>& same,
                   const std::vector<std::uint32_t>& others) {
    const auto refiled = [&](std::uint32_t i) { return packedAt(walk.spelling, i) != hash; };
    same.erase(std::remove_if(same.begin(), same.end(), refiled), same.end());
    walk.filedEntries = walk.filedEntries - bucket.size() + same.size() + others.size();
    bucket.assign(same.begin(), same.end());
    bucket.insert(bucket.end(), others.begin(), others.end());
}

// Occurrences numbered 0 to size - 1, for readRun.
struct AllOccurrences {
    std::size_t count;
    std::uint32_t operator[](std::size_t i) const { return static_cast<std::uint32_t>(i); }
    std::size_t size() const { return count; }
};

// Reads into engine.current, in one go, the occurrences listed (in text
// order) from indexes[r] on that overlap or touch one another, as many as
// a read piece holds and one at least; from receives where the bytes read
// begin. Returns where the list goes on.
template <typename Indexes>
std::size_t readRun(Engine& engine, const Offsets& hits, std::uint64_t length, const Indexes& indexes, std::size_t r,
                    std::uint64_t& from) {
    const std::uint64_t piece = std::max<std::uint64_t>(1, engine.limits.readPiece);
    from = hits[indexes[r]];
    std::uint64_t to = from + length;
    std::size_t next = r + 1;
    for (; next < indexes.size(); ++next) {
        const std::uint64_t at = hits[indexes[next]];
        if (at > to || at + length - from > piece) break;
        to = at + length;
    }
    readObserved(engine, from, to);
    return next;
}

void refile(ExactWalk& walk, Engine& engine) {
    listTouched(walk);
    std::vector<std::uint32_t>& touched = walk.touched;
    // Those filed since they were touched are left out; the rest are read
    // in text order, neighbours together.
    const auto filedSince = [&](std::uint32_t i) { return !isMarked(walk.isTouched, i); };
    touched.erase(std::remove_if(touched.begin(), touched.end(), filedSince), touched.end());
    if (!std::is_sorted(touched.begin(), touched.end())) std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    const Offsets& hits = engine.patterns[walk.pattern].hits;
    const std::uint64_t length = engine.patterns[walk.pattern].upper.size();
    for (std::size_t r = 0, next = 0; r < touched.size(); r = next) {
        std::uint64_t from = 0;
        next = readRun(engine, hits, length, touched, r, from);
        for (std::size_t k = r; k < next; ++k) {
            const std::uint32_t index = touched[k];
            clearMark(walk.isTouched, index);
            fileUnder(walk, index, hashOf(walk, engine.current.data() + (hits[index] - from), length));
        }
    }
    touched.clear();
    compactFiling(walk);
}

// Starts a walk over the pattern's occurrences, whose stretches, from
// firstStretch on, are the occurrences themselves.
void beginWalk(ExactWalk& walk, Engine& engine, std::uint32_t pattern, std::uint32_t firstStretch, std::string_view x) {
    walk.pattern = pattern;
    walk.firstStretch = firstStretch;
    setTarget(walk, engine, x);
    const Offsets& hits = engine.patterns[pattern].hits;
    const std::uint64_t length = engine.patterns[pattern].upper.size();
    const AllOccurrences all{hits.size()};
    resetPacked(walk.spelling, all.size(), hashWidth(walk, length));
    walk.isTouched.assign(all.size() / 64 + 1, 0);
    walk.touched.clear();
    walk.touchedSpilled = false;
    for (std::size_t r = 0, next = 0; r < all.size(); r = next) {
        std::uint64_t from = 0;
        next = readRun(engine, hits, length, all, r, from);
        for (std::size_t i = r; i < next; ++i) {
            setPacked(walk.spelling, i, hashOf(walk, engine.current.data() + (hits[i] - from), length));
        }
    }
    fileAll(walk);
    engine.active.push_back(&walk);
}

void endWalk(Engine& engine) { engine.active.pop_back(); }

// Replaces every occurrence whose bytes equal old, those of occurrence
// index, left to right and never overlapping, as a text-wide replace would.
void replaceSpelling(ExactWalk& walk, Engine& engine, std::uint32_t index, const std::string& old,
                     std::vector<std::uint32_t>* written) {
    const Pattern& pattern = engine.patterns[walk.pattern];
    const std::uint32_t hash = packedAt(walk.spelling, index);
    std::vector<std::uint32_t> same, others;
    const bool exactKey = isExact(walk, pattern.upper.size());
    Bucket& bucket = bucketOf(walk, hash);
    if (exactKey) same.reserve(bucket.size());  // all but stale entries: grown, it could take twice that
    for (const std::uint32_t other : bucket) {
        if (packedAt(walk.spelling, other) != hash) continue;
        (exactKey || readStretch(engine, stretchOf(walk, other)) == old ? same : others).push_back(other);
    }
    orderOccurrences(walk, same);
    orderOccurrences(walk, others);
    // The occurrences written do not overlap, so each holds the old
    // spelling until it is written and x after: neither needs reading.
    std::uint64_t free = 0;
    for (const std::uint32_t other : same) {
        if (pattern.hits[other] < free) continue;
        putStretch(engine, stretchOf(walk, other), walk.x, true);
        clearMark(walk.isTouched, other);
        fileUnder(walk, other, walk.xHash);
        if (written != nullptr) written->push_back(other);
        free = pattern.hits[other] + pattern.upper.size();
    }
    keepUnwritten(walk, hash, bucket, same, others);
    refile(walk, engine);
}

// Puts occurrence index, whose bytes as they read now are given in now (a
// copy: the replace reads other stretches), right as a text-wide replace of
// its spelling would; written receives the occurrences that replace writes.
void visit(ExactWalk& walk, Engine& engine, std::uint32_t index, const std::string& now,
           std::vector<std::uint32_t>* written) {
    refile(walk, engine);
    if (now != walk.x) replaceSpelling(walk, engine, index, now, written);
}

// While one pattern is replayed spelling by spelling nothing else writes,
// so its occurrences are copied out once, replayed in the copy, and written
// back where they ended up different.
struct LocalCopy {
    std::string bytes;  // the occurrences' bytes; overlapping ones share theirs
    Offsets offset;     // where occurrence i begins in bytes
};

// One past the last occurrence of the chain (a run of occurrences each
// sharing bytes with the next) that begins with occurrence i.
std::uint32_t chainEnd(const Offsets& hits, std::uint64_t length, std::uint32_t i) {
    std::uint32_t next = i + 1;
    while (next < hits.size() && hits[next] < hits[next - 1] + length) ++next;
    return next;
}

LocalCopy copyOccurrences(Engine& engine, const Pattern& pattern) {
    LocalCopy copy;
    const std::uint64_t length = pattern.upper.size();
    const auto count = static_cast<std::uint32_t>(pattern.hits.size());
    copy.offset = emptyOffsets(engine.limits.offsetLowBits, count, engine.limits.narrowSpan);
    std::uint64_t size = 0;  // of the occurrences' union, which can be most of the text
    for (std::uint32_t i = 0, next = 0; i < count; i = next) {
        next = chainEnd(pattern.hits, length, i);
        size += pattern.hits[next - 1] + length - pattern.hits[i];
    }
    copy.bytes.reserve(size);
    // Chain by chain: the bytes that overlapping occurrences share are read
    // once, a piece at a time so that the scratch of a read stays small.
    const std::uint64_t piece = std::max<std::uint64_t>(1, engine.limits.readPiece);
    for (std::uint32_t i = 0, next = 0; i < count; i = next) {
        next = chainEnd(pattern.hits, length, i);
        const std::uint64_t from = pattern.hits[i];
        const std::uint64_t to = pattern.hits[next - 1] + length;
        for (std::uint32_t k = i; k < next; ++k) appendOffset(copy.offset, copy.bytes.size() + (pattern.hits[k] - from));
        for (std::uint64_t at = from; at < to; at += piece) copy.bytes += readObserved(engine, at, std::min(to, at + piece));
    }
    return copy;
}

void refileCopy(ExactWalk& walk, const LocalCopy& copy, std::size_t length) {
    if (walk.touchedSpilled) {
        // A word of the bits at a time, so that they are not listed whole.
        for (std::size_t w = 0; w < walk.isTouched.size(); ++w) {
            appendMarked(walk.isTouched, w, walk.touched);
            walk.isTouched[w] = 0;
            for (const std::uint32_t index : walk.touched) {
                fileUnder(walk, index, hashOf(walk, copy.bytes.data() + copy.offset[index], length));
            }
            walk.touched.clear();
        }
        walk.touchedSpilled = false;
    }
    for (const std::uint32_t index : walk.touched) {
        if (!isMarked(walk.isTouched, index)) continue;
        clearMark(walk.isTouched, index);
        fileUnder(walk, index, hashOf(walk, copy.bytes.data() + copy.offset[index], length));
    }
    walk.touched.clear();
    compactFiling(walk);
}

// Writes x, in the copy, over the occurrences listed (in text order, after
// those of earlier calls for the same replace) that overlap none written
// before them, free being where the last one written ends; the others, and
// the ones written when x is filed under their hash, go back in the bucket
// of that hash. The list is emptied.
void writeSpelled(ExactWalk& walk, LocalCopy& copy, const Offsets& hits, std::uint32_t hash, Bucket& bucket,
                  std::vector<std::uint32_t>& list, std::uint64_t& free) {
    const std::size_t length = walk.x.size();
    for (const std::uint32_t other : list) {
        const bool written = hits[other] >= free;
        if (written) {
            std::memcpy(copy.bytes.data() + copy.offset[other], walk.x.data(), length);
            clearMark(walk.isTouched, other);
            // The neighbours sharing its bytes; none of them is written here.
            for (std::uint32_t k = other; k > 0 && hits[k - 1] + length > hits[other]; --k) touch(walk, k - 1);
            for (std::uint32_t k = other + 1; k < hits.size() && hits[k] < hits[other] + length; ++k) touch(walk, k);
            free = hits[other] + length;
        }
        if (!written || walk.xHash == hash) {
            bucket.push_back(other);
            ++walk.filedEntries;
        } else {
            fileUnder(walk, other, walk.xHash);
        }
    }
    list.clear();
}

// Replaces, in the copy, every occurrence spelled as occurrence index is,
// left to right and never overlapping, as a text-wide replace would; returns
// how many filed occurrences it looked at, those of the spelling twice
// (found, then written or passed over).
std::size_t replaceInCopy(ExactWalk& walk, LocalCopy& copy, const Offsets& hits, std::uint32_t index) {
    const std::size_t length = walk.x.size();
    const std::uint32_t hash = packedAt(walk.spelling, index);
    const std::string old(copy.bytes, copy.offset[index], length);
    const bool exactKey = isExact(walk, length);
    Bucket& bucket = bucketOf(walk, hash);
    const std::size_t filed = bucket.size();
    // Those spelled old, in text order without repeats, through a bit per
    // occurrence when they may be many (orderOccurrences): the bucket is
    // then emptied as they are taken, and refilled with those not written,
    // rather than held twice.
    const bool many = packedCount(walk.spelling) <= 640 * filed;
    std::vector<std::uint32_t> same, others;
    if (many) walk.marks.resize(packedCount(walk.spelling) / 64 + 1);
    std::size_t sameCount = 0;
    for (const std::uint32_t other : bucket) {
        if (packedAt(walk.spelling, other) != hash) continue;
        if (!exactKey && copy.bytes.compare(copy.offset[other], length, old) != 0) {
            others.push_back(other);
        } else if (!many) {
            same.push_back(other);
        } else if (!isMarked(walk.marks, other)) {
            markRange(walk.marks, other, other + 1);
            ++sameCount;
        }
    }
    orderOccurrences(walk, same);
    std::uint64_t free = 0;
    if (many) {
        bucket.clear();
        walk.filedEntries -= filed;
        for (std::size_t w = 0; w < walk.marks.size(); ++w) {
            appendMarked(walk.marks, w, same);
            walk.marks[w] = 0;
            writeSpelled(walk, copy, hits, hash, bucket, same, free);
        }
    } else {
        sameCount = same.size();
        walk.filedEntries -= filed;
        bucket.clear();
        writeSpelled(walk, copy, hits, hash, bucket, same, free);
    }
    orderOccurrences(walk, others);  // which may take the bits used above
    bucket.insert(bucket.end(), others.begin(), others.end());
    walk.filedEntries += others.size();
    return filed + sameCount;
}

// Chains: runs of occurrences each sharing bytes with the next. A text-wide
// replace treats every chain by its bytes alone (no match crosses from one
// chain into another), so chains spelled alike stay alike, and replaces
// often make them so. Such chains are kept as one group: the replay then
// goes on group by group instead of occurrence by occurrence.
struct ChainGroups {
    std::vector<std::uint32_t> firstOf;  // per chain: its first occurrence, and one past the last chain's last
    std::vector<std::string> bytes;      // per group not merged; group c starts as chain c alone
    std::vector<std::uint32_t> into;     // per group: the group it merged into, or itself
    std::vector<std::uint32_t> chains;   // per group not merged: how many chains it stands for
    std::vector<std::uint32_t> live;     // the groups not merged
    std::uint64_t liveBytes = 0;
    std::uint64_t allBytes = 0;          // of every chain
};

std::uint32_t rootOf(ChainGroups& groups, std::uint32_t group) {
    while (groups.into[group] != group) {
        groups.into[group] = groups.into[groups.into[group]];
        group = groups.into[group];
    }
    return group;
}

// Merges the live groups spelled alike.
void mergeGroups(ChainGroups& groups) {
    std::unordered_map<std::string_view, std::uint32_t> bySpelling;
    bySpelling.reserve(groups.live.size());
    std::vector<std::uint32_t> kept;
    groups.liveBytes = 0;
    for (const std::uint32_t g : groups.live) {
        const auto [found, added] = bySpelling.emplace(groups.bytes[g], g);
        if (added) {
            kept.push_back(g);
            groups.liveBytes += groups.bytes[g].size();
            continue;
        }
        groups.into[g] = found->second;
        groups.chains[found->second] += groups.chains[g];
        std::string().swap(groups.bytes[g]);
    }
    groups.live.swap(kept);
}

ChainGroups groupChains(const LocalCopy& copy, const Offsets& hits, std::size_t length) {
    ChainGroups groups;
    const auto count = static_cast<std::uint32_t>(hits.size());
    for (std::uint32_t i = 0; i < count; i = chainEnd(hits, length, i)) groups.firstOf.push_back(i);
    const auto chains = static_cast<std::uint32_t>(groups.firstOf.size());
    groups.firstOf.push_back(count);
    groups.bytes.resize(chains);
    groups.into.resize(chains);
    groups.chains.assign(chains, 1);
    for (std::uint32_t c = 0; c < chains; ++c) {
        const std::uint64_t from = copy.offset[groups.firstOf[c]];
        const std::uint64_t to = copy.offset[groups.firstOf[c + 1] - 1] + length;
        groups.bytes[c].assign(copy.bytes, from, to - from);
        groups.allBytes += to - from;
        groups.into[c] = c;
        groups.live.push_back(c);
    }
    mergeGroups(groups);
    return groups;
}

// Whether going on group by group pays: whether a replace reading every
// distinct chain once costs no more than the replaces have lately cost on
// average (each filed occurrence looked at counting as bytesPerLook bytes
// read).
bool groupsPay(const ChainGroups& groups, std::uint64_t looked, std::uint64_t replaces, std::uint64_t bytesPerLook) {
    return replaces == 0 || (bytesPerLook != 0 && groups.liveBytes / bytesPerLook <= looked / replaces);
}

// Replaces old by x in every group, left to right and never overlapping,
// as a text-wide replace would; returns how many occurrences that replaced.
std::uint64_t replaceInGroups(ChainGroups& groups, std::string_view old, std::string_view x) {
    std::uint64_t replaced = 0;
    for (const std::uint32_t g : groups.live) {
        std::string& bytes = groups.bytes[g];
        for (std::size_t at = bytes.find(old); at != std::string::npos; at = bytes.find(old, at + old.size())) {
            std::memcpy(bytes.data() + at, x.data(), x.size());
            replaced += groups.chains[g];
        }
    }
    if (replaced != 0) mergeGroups(groups);
    return replaced;
}

void writeGroupsBack(ChainGroups& groups, LocalCopy& copy) {
    for (std::uint32_t c = 0; c + 1 < groups.firstOf.size(); ++c) {
        const std::string& bytes = groups.bytes[rootOf(groups, c)];
        std::memcpy(copy.bytes.data() + copy.offset[groups.firstOf[c]], bytes.data(), bytes.size());
    }
}

// Replays occurrences from i on, group by group, while that costs no more
// than the payback times what replacing occurrence by occurrence, and four
// passes over the chains, would; returns where it stopped (the number of
// occurrences when it got through).
std::uint32_t replayGroups(Engine& engine, ChainGroups& groups, const LocalCopy& copy, std::uint32_t i,
                           std::string_view x, bool& replaced) {
    std::uint64_t groupWork = 0, occurrenceWork = 0;
    const auto count = static_cast<std::uint32_t>(copy.offset.size());
    // The chain of occurrence i, the last to begin at or before it; later
    // occurrences meet the chains in order.
    auto chain = static_cast<std::uint32_t>(std::upper_bound(groups.firstOf.begin(), groups.firstOf.end(), i) -
                                            groups.firstOf.begin() - 1);
    for (; i < count; ++i) {
        if (groups.firstOf[chain + 1] == i) ++chain;
        const std::string& bytes = groups.bytes[rootOf(groups, chain)];
        const std::uint64_t at = copy.offset[i] - copy.offset[groups.firstOf[chain]];
        if (bytes.compare(at, x.size(), x) == 0) continue;
        if (groupWork > engine.limits.groupPayback * (occurrenceWork + 4 * groups.allBytes)) break;
        const std::string old = bytes.substr(at, x.size());
        groupWork += groups.liveBytes;
        engine.work += groups.liveBytes;
        occurrenceWork += 16 * replaceInGroups(groups, old, x);  // each with its neighbours, filed again
        replaced = true;
    }
    return i;
}

// Files every occurrence of the copy under the hash of its bytes.
void fileCopy(ExactWalk& walk, const LocalCopy& copy, std::size_t length) {
    const auto count = static_cast<std::uint32_t>(copy.offset.size());
    resetPacked(walk.spelling, count, hashWidth(walk, length));
    walk.isTouched.assign(count / 64 + 1, 0);
    walk.touched.clear();
    walk.touchedSpilled = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        setPacked(walk.spelling, i, hashOf(walk, copy.bytes.data() + copy.offset[i], length));
    }
    fileAll(walk);
}

// Once the source has changed, a deferred pattern's occurrences are no
// longer compared with the source as loaded, and those lying wholly in
// observed bytes are settled through the cover lists, which list them too:
// a pattern with many of them keeps only the others. That pays only when
// such occurrences are common in the text.
bool dropsObservedHits(const Pattern& pattern, std::uint64_t share) {
    return share != 0 && !pattern.overlapping && !pattern.keepsHits && pattern.hitsObserved != 0 &&
           pattern.hitsObserved * share >= pattern.count;
}

void dropObservedHits(Engine& engine) {
    if (!engine.tool->sourceChanged || engine.observedHitsDropped) return;
    engine.observedHitsDropped = true;
    const std::uint64_t share = engine.limits.observedHitShare;
    std::uint64_t dropped = 0;
    for (const Pattern& pattern : engine.patterns) {
        if (dropsObservedHits(pattern, share)) dropped += pattern.hitsObserved;
    }
    if (dropped * 64 < engine.text->size()) return;
    for (Pattern& pattern : engine.patterns) {
        if (!dropsObservedHits(pattern, share)) continue;
        const std::uint64_t length = pattern.upper.size();
        Offsets kept = emptyOffsets(engine.limits.offsetLowBits, pattern.count - pattern.hitsObserved,
                                    engine.limits.narrowSpan);
        for (const std::uint64_t at : pattern.hits) {
            if (!allMarked(engine.observedMask, at, at + length)) appendOffset(kept, at);
        }
        pattern.hits = std::move(kept);
    }
}

// Replays the pattern spelling by spelling, unless its last such replay, to
// the same spelling, changed nothing and nothing has changed its
// occurrences since: it would change nothing again.
void rewriteExactly(Engine& engine, std::uint32_t id, std::string_view x) {
    Pattern& pattern = engine.patterns[id];
    if (pattern.walkedClean && pattern.walkedX == x) return;
    dropObservedHits(engine);
    const std::size_t length = x.size();
    const auto count = static_cast<std::uint32_t>(pattern.hits.size());
    LocalCopy copy = copyOccurrences(engine, pattern);
    const std::vector<std::uint64_t> before = lowerCaseBits(copy.bytes);
    ExactWalk walk;
    setTarget(walk, engine, x);
    fileCopy(walk, copy, length);
    bool replaced = false;
    // Once the replaces have looked at this many filed occurrences, it is
    // worth finding out whether replacing in one copy of each distinct chain
    // would cost less; each time it would not, or it stops paying, after
    // twice as many.
    const std::uint64_t every = engine.limits.groupChainsAfter;
    std::uint64_t looked = 0, check = every > ~std::uint64_t(0) / (count + 1) ? ~std::uint64_t(0) : every * count;
    std::uint64_t lately = 0, replaces = 0;  // since the last check
    for (std::uint32_t i = 0; i < count; ++i) {
        refileCopy(walk, copy, length);
        if (copy.bytes.compare(copy.offset[i], length, x) == 0) continue;
        if (looked >= check) {
            check = check > (~std::uint64_t(0) - count) / 2 ? ~std::uint64_t(0) : 2 * check + count;
            // Nothing is touched now, and every occurrence is filed under its
            // spelling: the lists of both, as large as there are occurrences,
            // are let go while the chains are grouped, and made again after.
            std::vector<std::uint32_t>().swap(walk.touched);
            dropFiling(walk);
            bool grouped = false;
            std::uint32_t stop = i;
            {
                ChainGroups groups = groupChains(copy, pattern.hits, length);
                engine.work += groups.allBytes;
                grouped = every == 0 || groupsPay(groups, lately, replaces, engine.limits.groupBytesPerLook);
                if (grouped) {
                    stop = replayGroups(engine, groups, copy, i, x, replaced);
                    writeGroupsBack(groups, copy);
                }
            }
            lately = replaces = 0;
            if (!grouped) {
                fileAll(walk);
            } else {
                if (stop == count) break;
                fileCopy(walk, copy, length);
                i = stop;  // found spelled otherwise than x there
            }
        }
        const std::size_t l = replaceInCopy(walk, copy, pattern.hits, i);
        looked += l;
        lately += l;
        ++replaces;
        engine.work += 16 * l;  // as reading them would count
        replaced = true;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!caseDiffers(before, copy.bytes, copy.offset[i], length)) continue;
        putStretch(engine, pattern.firstStretch + i, std::string_view(copy.bytes.data() + copy.offset[i], length), true);
    }
    if (replaced) engine.tool->sourceChanged = true;
    pattern.walkedX.assign(x.data(), x.size());
    pattern.walkedClean = !replaced;
}

bool differsSomewhere(const Engine& engine, const Pattern& pattern, std::string_view x) {
    for (const std::uint64_t at : pattern.hits) {
        if (engine.text->compare(at, x.size(), x) != 0) return true;
    }
    return false;
}

// x must outlive the replay unless copy is set.
void rewriteDeferred(Engine& engine, std::uint32_t id, std::string_view x, bool copy) {
    Pattern& pattern = engine.patterns[id];
    if (!engine.tool->sourceChanged) {
        // Until something changes, the text in memory is the source as loaded.
        if (pattern.checkedX != x) {
            pattern.checkedX = std::string(x);
            pattern.checkedDiffers = differsSomewhere(engine, pattern, x);
        }
        if (pattern.checkedDiffers) engine.tool->sourceChanged = true;
    }
    noteWriter(engine, id, x);
    if (!engine.observedHitsDropped) dropObservedHits(engine);
    if (pattern.lastTime == 0) engine.deferredVolume += pattern.count * pattern.upper.size();
    pattern.lastTime = tick(engine);
    if (copy) {
        pattern.ownX.assign(x.data(), x.size());
        pattern.lastX = pattern.ownX;
    } else {
        pattern.lastX = x;
    }
    for (ExactWalk* walk : engine.active) {
        const auto reached = walk->reachedBy.find(id);
        if (reached == walk->reachedBy.end()) continue;
        std::uint32_t index = 0;
        for (std::size_t at = 0; at < reached->second.bytes.size();) {
            index = nextAscending(reached->second, at, index);
            touch(*walk, index);
        }
    }
}

// Brings every occurrence of the pattern to the spelling x, which must
// outlive the replay unless copy is set.
void rewritePattern(Engine& engine, std::uint32_t id, std::string_view x, bool copy = false) {
    const Pattern& pattern = engine.patterns[id];
    if (pattern.count == 0 || !pattern.hasLetters) return;
    if (pattern.overlapping) {
        rewriteExactly(engine, id, x);
    } else {
        rewriteDeferred(engine, id, x, copy);
    }
}

// Re-cases the members used after the declaration of the given occurrence,
// whose declared name reads declaredName after the declaration's own case
// fix: the member rewrites may re-case the name's bytes, but not this copy.
void normaliseMemberCase(Engine& engine, const Line& line, std::size_t occurrence, const std::string& declaredName,
                         std::string& scratch) {
    if (line.module == none) return;
    engine.lastModule = line.module;
    const auto& passOne = engine.declarations[packedAt(line.declarationOf, occurrence)].passOne;
    const std::vector<Member>& members = engine.modules[line.module].members;
    auto next = passOne.begin();
    for (std::uint32_t k = 0; k < members.size(); ++k) {
        const Member& member = members[k];
        if (next != passOne.end() && next->first == k) {
            scratch.assign(declaredName);
            scratch += '.';
            scratch += member.name;
            rewritePattern(engine, next->second, scratch, true);
            ++next;
        }
        rewritePattern(engine, member.space, member.spaceX);
        rewritePattern(engine, member.equals, member.equalsX);
        rewritePattern(engine, member.paren, member.parenX);
    }
}

// The patterns that the member rewrites of this line's declarations use.
std::vector<std::uint32_t> memberPatternsOf(const Engine& engine, const Line& line) {
    std::vector<std::uint32_t> used;
    if (line.module == none) return used;
    for (const Member& member : engine.modules[line.module].members) {
        used.insert(used.end(), {member.space, member.equals, member.paren});
    }
    std::vector<bool> seen(engine.declarations.size(), false);
    for (std::size_t i = 0; i < packedCount(line.declarationOf); ++i) {
        const std::uint32_t d = packedAt(line.declarationOf, i);
        if (seen[d]) continue;
        seen[d] = true;
        for (const auto& entry : engine.declarations[d].passOne) used.push_back(entry.second);
    }
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    return used;
}

bool overlapsAny(const Offsets& hits, std::uint64_t length, std::uint64_t from, std::uint64_t to) {
    auto it = std::lower_bound(hits.begin(), hits.end(), from >= length ? from - length + 1 : 0);
    return it != hits.end() && *it < to;
}

// Which declarations of the line each member pattern reaches.
ReachedBy declarationsReached(const Engine& engine, const Line& line) {
    ReachedBy reached;
    Covering covering;
    const Pattern& key = engine.patterns[line.pattern];
    const std::vector<std::uint32_t> used = memberPatternsOf(engine, line);
    std::vector<bool> isUsed(engine.patterns.size(), false);
    for (const std::uint32_t id : used) isUsed[id] = true;
    for (std::uint32_t i = 0; i < key.hits.size(); ++i) {
        for (unsigned step = 0; step < 2; ++step) {
            if (i + 2 - step < key.hits.size()) prefetchRead(engine, key.hits[i + 2 - step], step);
        }
        const Stretch stretch = stretchAt(engine, line.firstKeyStretch + i);
        findCovering(engine, stretch.start, stretch.end, covering);
        for (std::size_t c = 0; c < covering.count; ++c) {
            const std::uint32_t writer = covering.entries[c].writer;
            if (!isUsed[writer]) continue;
            appendAscending(reached[writer], i);  // once, though it may cover the declaration more than once
        }
    }
    for (const std::uint32_t id : used) {
        const Pattern& p = engine.patterns[id];
        if (!p.overlapping || !p.hasLetters) continue;
        for (const std::uint64_t at : p.hits) {
            if (overlapsAny(key.hits, key.upper.size(), at, at + p.upper.size())) reached[id];
        }
    }
    // Kept through the whole replay of the line: without their growth room.
    for (auto& entry : reached) entry.second.bytes.shrink_to_fit();
    return reached;
}

// Whether the declarations may simply be put right one at a time, each in
// its turn, instead of one spelling at a time. Putting a spelling right
// everywhere at once differs from that only in declarations not visited
// yet, and in visited ones that a member rewrite has changed again; the end
// result is the same when every pattern reaching a declaration is rewritten
// at every declaration (each declaration's rewrites then end on the same
// bytes) and nothing reads a declaration in between: no declared name runs
// into the declaration before it, and the key cannot overlap itself.
bool visitedOneByOne(const Engine& engine, const Line& line,
                     const ReachedBy& reached) {
    const Pattern& key = engine.patterns[line.pattern];
    if (key.overlapping) return false;
    if (reached.empty()) return true;
    std::vector<std::uint32_t> everyTime;
    for (const Member& member : engine.modules[line.module].members) {
        everyTime.insert(everyTime.end(), {member.space, member.equals, member.paren});
    }
    for (const auto& entry : reached) {
        const Pattern& p = engine.patterns[entry.first];
        if (p.overlapping || std::find(everyTime.begin(), everyTime.end(), entry.first) == everyTime.end()) return false;
    }
    for (std::size_t i = 1; i < line.nameStart.size(); ++i) {
        if (key.hits[i - 1] + key.upper.size() > line.nameStart[i]) return false;
    }
    return true;
}

// Puts the observed bytes into text as a read finds them: each with the
// latest of its last immediate write and the deferred rewrites over it.
void settleObserved(Engine& engine, char* text) {
    const std::uint64_t work = engine.work;  // settling is not replay work
    const std::uint64_t size = engine.text->size();
    const std::uint64_t piece = std::max<std::uint64_t>(1, engine.limits.readPiece);
    for (std::uint64_t from = 0; from < size;) {
        // Whole 4 KiB blocks without observed bytes are passed over at once.
        if (engine.blockMask[from >> 12] >> ((from >> 6) & 63) == 0) {
            from = (from | 4095) + 1;
            continue;
        }
        from = nextMarked(engine.observedMask, from, std::min(size, (from | 4095) + 1), true);
        if (from == size || !isMarked(engine.observedMask, from)) continue;
        const std::uint64_t to = nextMarked(engine.observedMask, from, size, false);
        for (std::uint64_t at = from; at < to; at += piece) {
            const std::string& bytes = readObserved(engine, at, std::min(to, at + piece));
            std::memcpy(text + at, bytes.data(), bytes.size());
        }
        from = to;
    }
    engine.work = work;
}

// Applies every deferred rewrite's last spelling to text, oldest first,
// outside the observed bytes, then settles those.
void applyDeferred(Engine& engine, char* text) {
    std::vector<std::uint32_t> order;
    for (std::uint32_t id = 0; id < engine.patterns.size(); ++id) {
        if (engine.patterns[id].lastTime != 0) order.push_back(id);
    }
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return engine.patterns[a].lastTime < engine.patterns[b].lastTime; });
    for (const std::uint32_t id : order) {
        const Pattern& pattern = engine.patterns[id];
        const std::string_view x = pattern.lastX;
        const std::size_t count = pattern.hits.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (i + prefetchAhead < count) prefetchObserved(engine, pattern.hits.lowAt(i + prefetchAhead));
            const std::uint64_t at = pattern.hits[i];
            if (touchesObserved(engine, at, at + x.size())) {
                for (std::size_t k = 0; k < x.size(); ++k) {
                    if (!isMarked(engine.observedMask, at + k)) text[at + k] = x[k];
                }
            } else {
                std::memcpy(text + at, x.data(), x.size());
            }
        }
    }
    settleObserved(engine, text);
}

// Declarations whose whole step (the key put right, then the members)
// leaves the text as it found it. From the same text, the key fix of a
// spelling writes the same occurrences and the members are rewritten the
// same way for the same declared name, so such a step, met again before
// anything has changed, can be skipped: self-overlapping declarations tend
// to settle into a text that every further declaration turns back to.
// Comparing texts costs a settling of the whole text, so it is done only
// while the steps replayed (and the ones skipped) have paid for it.
struct StepMemo {
    bool textKnown = false;
    std::vector<std::uint64_t> text;  // the text as the last compared step left it, by lowerCaseBits
    std::int64_t budget = 0;
    std::unordered_map<std::string, std::vector<std::uint32_t>> fixes;  // spelling -> occurrences its fix writes
    std::unordered_map<std::string, std::uint64_t> unchanged;           // spelling + declared name -> the step's cost
};

// Adds payback times work to the budget, saturating rather than overflowing.
void earn(StepMemo& memo, std::int64_t payback, std::uint64_t work) {
    constexpr std::int64_t most = std::int64_t(1) << 62;
    if (payback <= 0) return;
    const std::uint64_t room = static_cast<std::uint64_t>(most - std::min(memo.budget, most));
    memo.budget = work >= room / static_cast<std::uint64_t>(payback)
                      ? most
                      : memo.budget + payback * static_cast<std::int64_t>(work);
}

void forgetSteps(StepMemo& memo) {
    memo.textKnown = false;
    memo.fixes.clear();
    memo.unchanged.clear();
}

// Whether declaration i would leave the text as it is: its spelling and its
// declared name after the key fix make a step known to do so.
bool skipsUnchanged(Engine& engine, const Line& line, std::uint32_t i, StepMemo& memo) {
    if (memo.unchanged.empty()) return false;
    std::string step = readStretch(engine, line.firstKeyStretch + i);
    const auto fix = memo.fixes.find(step);
    if (fix == memo.fixes.end()) return false;
    std::string declared;
    if (line.module != none) {
        const Stretch name = stretchAt(engine, line.firstNameStretch + i);
        declared = readStretch(engine, line.firstNameStretch + i);
        const Offsets& hits = engine.patterns[line.pattern].hits;
        const std::uint64_t length = line.key.size();
        for (auto it = std::lower_bound(hits.begin(), hits.end(), name.start >= length ? name.start - length + 1 : 0);
             it != hits.end() && *it < name.end; ++it) {
            const auto index = static_cast<std::uint32_t>(it - hits.begin());
            if (!std::binary_search(fix->second.begin(), fix->second.end(), index)) continue;
            for (std::uint64_t k = std::max(*it, name.start); k < std::min(*it + length, name.end); ++k) {
                declared[k - name.start] = line.key[k - *it];
            }
        }
    }
    step += declared;
    const auto known = memo.unchanged.find(step);
    if (known == memo.unchanged.end()) return false;
    earn(memo, engine.limits.comparePayback, known->second);
    return true;
}

// After a declaration's step was replayed: whether it left the text as it
// found it, when the work so far pays for finding out.
void noteStep(Engine& engine, StepMemo& memo, std::string step, const std::string& declared,
              std::vector<std::uint32_t>& fixed, std::uint64_t work) {
    earn(memo, engine.limits.comparePayback, work);
    const auto cost = static_cast<std::int64_t>(engine.text->size() + engine.deferredVolume);
    if (memo.budget < cost) {
        forgetSteps(memo);
        return;
    }
    memo.budget -= cost;
    // The text as settled is needed only for the case of its letters: a
    // whole copy of it is held just while they are taken.
    std::vector<std::uint64_t> now;
    {
        std::string settled(*engine.text);
        applyDeferred(engine, settled.data());
        now = lowerCaseBits(settled);
    }
    if (memo.textKnown && now == memo.text) {
        std::sort(fixed.begin(), fixed.end());
        memo.fixes.emplace(step, std::move(fixed));
        step += declared;
        memo.unchanged.emplace(std::move(step), work);
        return;
    }
    forgetSteps(memo);
    memo.textKnown = true;
    memo.text.swap(now);
}

// The declared name of the line's declaration i as it reads now.
std::string declaredNow(Engine& engine, const Line& line, std::uint32_t i) {
    return line.module == none ? std::string() : readStretch(engine, line.firstNameStretch + i);
}

void replayObjectLine(Engine& engine, const Line& line) {
    Pattern& key = engine.patterns[line.pattern];
    key.walkedClean = false;  // its occurrences are written below, as declarations
    dropObservedHits(engine);
    std::string scratch;
    ReachedBy reached = declarationsReached(engine, line);
    if (visitedOneByOne(engine, line, reached)) {
        for (std::uint32_t i = 0; i < key.hits.size(); ++i) {
            prefetchDeclarations(engine, line, i);
            if (readStretch(engine, line.firstKeyStretch + i) != line.key) putStretch(engine, line.firstKeyStretch + i, line.key, true);
            normaliseMemberCase(engine, line, i, declaredNow(engine, line, i), scratch);
        }
        return;
    }
    ExactWalk walk;
    walk.reachedBy = std::move(reached);
    beginWalk(walk, engine, line.pattern, line.firstKeyStretch, line.key);
    StepMemo memo;
    std::vector<std::uint32_t> fixed;
    for (std::uint32_t i = 0; i < key.hits.size(); ++i) {
        if (skipsUnchanged(engine, line, i, memo)) continue;
        const std::uint64_t before = engine.work;
        std::string spelling = readStretch(engine, line.firstKeyStretch + i);
        fixed.clear();
        visit(walk, engine, i, spelling, &fixed);
        const std::string declared = declaredNow(engine, line, i);
        normaliseMemberCase(engine, line, i, declared, scratch);
        noteStep(engine, memo, std::move(spelling), declared, fixed, engine.work - before);
    }
    endWalk(engine);
}

void settleDeferred(Engine& engine) { applyDeferred(engine, engine.text->data()); }

// ---- counting and collecting -----------------------------------------------

void collectBlocks(Engine& engine) {
    ToolState& tool = *engine.tool;
    std::unordered_map<std::string, bool> seen;
    bool plain = true;  // no collected block holds a lone CR or LF
    for (const Line& line : engine.lines) {
        if (engine.patterns[line.pattern].count == 0) continue;
        ++tool.addedCount;
        const bool known = plain ? seen.count(line.block) != 0 : findLine(tool.foundBlocks, line.block) != -1;
        if (known) continue;
        addLine(tool.foundBlocks, line.block);
        ++tool.foundBlockCount;
        if (line.block.find_first_of("\r\n") != std::string::npos) plain = false;
        if (plain) seen.emplace(line.block, true);
    }
}

}  // namespace

std::string_view declaredNameAt(std::string_view text, std::size_t offset) {
    std::size_t start = offset;
    while (start > 0 && !isSeparator(text[start - 1])) --start;
    return text.substr(start, offset - start);
}

void scanText(ToolState& tool, ModuleFiles& modules) { scanText(tool, modules, ScanLimits()); }

void scanText(ToolState& tool, ModuleFiles& modules, const ScanLimits& limits) {
    ScanFindings findings;
    scanText(tool, modules, limits, findings);
}

void scanText(ToolState& tool, ModuleFiles& modules, const ScanLimits& limits, ScanFindings& findings) {
    Engine engine;
    engine.limits = limits;
    engine.tool = &tool;
    engine.text = &tool.sourceText;
    tool.sourceChanged = false;

    readCatalogue(engine);
    loadModules(engine, modules);
    findPendingOccurrences(engine);
    {
        // Needed only to find the declarations: gone before the replay.
        NameTable names;
        std::vector<std::vector<std::uint32_t>> modulesOfName;
        collectNames(engine, names, modulesOfName);
        std::unordered_map<std::uint64_t, std::uint32_t> passOneOf;
        findNameMemberOccurrences(engine, names, modulesOfName, passOneOf);
        collectDeclarations(engine, passOneOf);
    }
    markObservedBytes(engine);
    findings.reaches.clear();
    for (std::uint32_t writer = 0; writer < engine.reaches.size(); ++writer) {
        for (const Reach& reach : engine.reaches[writer]) {
            findings.reaches.push_back({writer, reach.pattern, reach.offset});
        }
    }
    std::sort(findings.reaches.begin(), findings.reaches.end(), [](const ScanReach& x, const ScanReach& y) {
        return std::tie(x.writer, x.pattern, x.offset) < std::tie(y.writer, y.pattern, y.offset);
    });

    for (const Line& line : engine.lines) {
        if (engine.patterns[line.pattern].count == 0) continue;
        if (line.object) {
            replayObjectLine(engine, line);
        } else {
            rewritePattern(engine, line.pattern, line.key);
        }
    }
    settleDeferred(engine);
    if (engine.lastModule != none) tool.memberList = engine.modules[engine.lastModule].memberList;
    collectBlocks(engine);
}

}  // namespace vorrel
