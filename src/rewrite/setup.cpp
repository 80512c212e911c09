// The scan's set-up: what the catalogue lines ask for, where every pattern
// occurs, what each object declaration brings in, and which bytes the replay
// reads (the observed bytes).
#include <algorithm>
#include <set>

#include "catalogue/catalogue.h"
#include "rewrite/engine.h"
#include "rewrite/search.h"
#include "text/text.h"

namespace vorrel::engine {

namespace {

constexpr std::size_t earlyPart = 32;  // the first look reads the first 1/earlyPart of the text

bool hasLetter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

template <typename Offset>
std::uint32_t patternFor(Engine<Offset>& engine, const std::string& upper) {
    const auto [found, added] =
        engine.patternIds.try_emplace(upper, static_cast<std::uint32_t>(engine.patterns.size()));
    if (added) engine.patterns.emplace_back().upper = upper;
    return found->second;
}

// The pieces of a CR LF line list, the empty piece after a final CR LF
// included, as fieldAt numbers them.
std::vector<std::string_view> lineFields(std::string_view list) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t end = list.find(lineBreak, start);
        fields.push_back(list.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return fields;
        start = end + lineBreak.size();
    }
}

// Searches the source, as if upper-cased, for the patterns numbered from first on.
template <typename Offset>
void search(Engine<Offset>& engine, std::size_t first) {
    std::vector<std::string_view> wanted;
    for (std::size_t id = first; id < engine.patterns.size(); ++id) wanted.push_back(engine.patterns[id].upper);
    std::vector<std::vector<Offset>> hits = findEvery<Offset>(engine.state.sourceText, wanted);
    for (std::size_t i = 0; i < hits.size(); ++i) engine.patterns[first + i].at = std::move(hits[i]);
}

// The member list as the step-by-step description builds it from the first
// line of the module file, and the patterns and texts of its members.
template <typename Offset>
std::uint32_t moduleFor(Engine<Offset>& engine, const std::string& modulePath) {
    const auto [found, added] =
        engine.moduleIds.try_emplace(modulePath, static_cast<std::uint32_t>(engine.modules.size()));
    if (!added) return found->second;
    Module& module = engine.modules.emplace_back();
    const std::string moduleText = readModuleFile(engine.files, modulePath);
    addLine(module.memberList, replaceAll(fieldAt(moduleText, lineBreak, 1), ";", lineBreak));
    deleteLine(module.memberList, 0);
    insertLine(module.memberList, modulePath, 0);
    const std::vector<std::string_view> fields = lineFields(module.memberList);
    // Lines 1 to n - 1 of the n CR LF terminated lines.
    for (std::size_t k = 1; k + 1 < fields.size(); ++k) module.members.emplace_back(fields[k]);
    for (const std::string& member : module.members) {
        const std::string upperMember = toUpper(member);
        module.dotTexts.push_back(intern(engine.texts, "." + member));
        module.pointPatterns.push_back(patternFor(engine, "." + upperMember));
        for (const char* separator : {" ", "=", "("}) {
            module.sepPatterns.push_back(hasLetter(upperMember) ? patternFor(engine, upperMember + separator) : none);
            module.sepTexts.push_back(intern(engine.texts, member + separator));
        }
    }
    return found->second;
}

template <typename Offset>
std::uint32_t declaredFor(Engine<Offset>& engine, std::uint32_t moduleId, std::string_view upperName) {
    const std::uint32_t name = intern(engine.upperNames, upperName);
    const auto [found, added] = engine.declaredIds.try_emplace(std::uint64_t(moduleId) << 32 | name,
                                                               static_cast<std::uint32_t>(engine.declared.size()));
    if (added)
        engine.declared.push_back(
            {moduleId, name, std::vector<std::uint32_t>(engine.modules[moduleId].members.size(), none)});
    return found->second;
}

// Where each declared name begins (the byte after the nearest blank, CR or
// LF before the key), and the patterns its module and name bring in.
template <typename Offset>
void readDeclarations(Engine<Offset>& engine) {
    const std::string& text = engine.state.sourceText;
    for (Line<Offset>& line : engine.lines) {
        if (!line.hasTurns) continue;
        const std::vector<Offset>& keyAt = engine.patterns[line.key].at;
        for (std::size_t i = 0; i < keyAt.size(); ++i) {
            fetchAhead(text.data(), engine.observed, keyAt, i);
            const Offset at = keyAt[i];
            Offset start = at;
            while (start > 0 && text[start - 1] != ' ' && text[start - 1] != '\r' && text[start - 1] != '\n') --start;
            line.nameStart.push_back(start);
            line.declared.push_back(
                declaredFor(engine, line.module, toUpper(std::string_view(text).substr(start, at - start))));
        }
    }
}

// A hash of bytes upper-cased, the last first: NAME read back from the point
// of NAME.MEMBER.
std::uint64_t backwardHash(std::uint64_t hash, char byte) {
    return (hash ^ static_cast<unsigned char>(upperByte(byte))) * 0x100000001b3ull;
}

// Distinct declared names by the hash of their bytes, the last first, and
// which lengths they come in.
template <typename Offset>
void hashNamesBackwards(const Engine<Offset>& engine,
                        std::unordered_map<std::uint64_t, std::vector<std::uint32_t>>& names,
                        std::vector<bool>& lengths) {
    for (std::uint32_t id = 0; id < engine.upperNames.values.size(); ++id) {
        const std::string& name = engine.upperNames.values[id];
        std::uint64_t hash = 0xcbf29ce484222325ull;
        for (auto c = name.rbegin(); c != name.rend(); ++c) hash = backwardHash(hash, *c);
        names[hash].push_back(id);
        if (lengths.size() <= name.size()) lengths.resize(name.size() + 1, false);
        lengths[name.size()] = true;
    }
}

// The pattern NAME.MEMBER for a declared name and a point pattern .MEMBER,
// when some declaration of that name has a module with that member; none
// otherwise, or when it has no letter.
template <typename Offset>
std::uint32_t dotPatternFor(Engine<Offset>& engine, const std::vector<std::vector<std::uint32_t>>& declarationsOf,
                            std::uint32_t name, std::uint32_t point) {
    for (const std::uint32_t declared : declarationsOf[name]) {
        const std::vector<std::uint32_t>& points = engine.modules[engine.declared[declared].module].pointPatterns;
        if (std::find(points.begin(), points.end(), point) == points.end()) continue;
        const std::string upper = engine.upperNames.values[name] + engine.patterns[point].upper;
        return hasLetter(upper) ? patternFor(engine, upper) : none;
    }
    return none;
}

// Each declaration's patterns NAME.MEMBER, from those made by name and point.
template <typename Offset>
void fileDotPatterns(Engine<Offset>& engine, const std::unordered_map<std::uint64_t, std::uint32_t>& dotPatterns) {
    for (Declared& declared : engine.declared) {
        const std::vector<std::uint32_t>& points = engine.modules[declared.module].pointPatterns;
        for (std::size_t k = 0; k < points.size(); ++k) {
            const auto found = dotPatterns.find(std::uint64_t(declared.upperName) << 32 | points[k]);
            declared.dotPatterns[k] = found == dotPatterns.end() ? none : found->second;
            // An empty name, which no point has made a pattern with, makes .MEMBER itself the pattern.
            if (engine.upperNames.values[declared.upperName].empty())
                declared.dotPatterns[k] = hasLetter(engine.patterns[points[k]].upper) ? points[k] : none;
        }
    }
}

// The patterns NAME.MEMBER are not searched for: each occurrence is one of
// ".MEMBER" with a declared name in front. Reading back from every such
// point, one point pattern after another, over the bytes a name can hold (no
// blank, CR or LF), each length that some name has is looked up by hash.
// The patterns are made as they are first met; those made before derived
// were searched for already.
template <typename Offset>
void findNamesBeforePoints(Engine<Offset>& engine, std::size_t derived) {
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> names;
    std::vector<bool> lengths;
    hashNamesBackwards(engine, names, lengths);
    std::vector<std::vector<std::uint32_t>> declarationsOf(engine.upperNames.values.size());
    for (std::uint32_t d = 0; d < engine.declared.size(); ++d)
        declarationsOf[engine.declared[d].upperName].push_back(d);
    std::set<std::uint32_t> pointIds;
    for (const Module& module : engine.modules)
        pointIds.insert(module.pointPatterns.begin(), module.pointPatterns.end());
    std::unordered_map<std::uint64_t, std::uint32_t> dotPatterns;  // by name and point
    // For each name, the point last met after it and the pattern they make.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> lastDot(engine.upperNames.values.size(), {none, none});
    const std::string& text = engine.state.sourceText;
    for (const std::uint32_t point : pointIds) {
        // By index: making a pattern may move the list.
        for (std::size_t p = 0; p < engine.patterns[point].at.size(); ++p) {
            const std::vector<Offset>& points = engine.patterns[point].at;
            if (p + fetchDistance < points.size()) __builtin_prefetch(text.data() + points[p + fetchDistance] - 1);
            const Offset at = points[p];
            std::uint64_t hash = 0xcbf29ce484222325ull;
            for (std::size_t length = 1; length < lengths.size() && length <= at; ++length) {
                const char byte = text[at - length];
                if (byte == ' ' || byte == '\r' || byte == '\n') break;
                hash = backwardHash(hash, byte);
                if (!lengths[length]) continue;
                const auto found = names.find(hash);
                if (found == names.end()) continue;
                for (const std::uint32_t name : found->second) {
                    const std::string& upper = engine.upperNames.values[name];
                    const auto same = [](char u, char t) { return u == upperByte(t); };
                    if (upper.size() != length ||
                        !std::equal(upper.begin(), upper.end(), text.begin() + (at - length), same))
                        continue;
                    std::pair<std::uint32_t, std::uint32_t>& dot = lastDot[name];
                    if (dot.first != point) {
                        dot = {point, dotPatternFor(engine, declarationsOf, name, point)};
                        dotPatterns.emplace(std::uint64_t(name) << 32 | point, dot.second);
                    }
                    if (dot.second != none && dot.second >= derived)
                        engine.patterns[dot.second].at.push_back(static_cast<Offset>(at - length));
                }
            }
        }
    }
    // A pattern such as A.B.C may end at either point, as A.(B.C) and as (A.B).C.
    for (std::size_t id = derived; id < engine.patterns.size(); ++id) {
        std::vector<Offset>& at = engine.patterns[id].at;
        std::sort(at.begin(), at.end());
        at.erase(std::unique(at.begin(), at.end()), at.end());
    }
    fileDotPatterns(engine, dotPatterns);
}

void markObserved(Observed& observed, std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t word = from / 64; from < to && word <= (to - 1) / 64; ++word) {
        observed.bytes[word] |= bitsIn(word, from, to);
        observed.words[word / 64] |= std::uint64_t(1) << (word % 64);
    }
}

template <typename Offset>
void findGaps(Pattern<Offset>& pattern) {
    const Offset length = static_cast<Offset>(pattern.upper.size());
    for (std::size_t i = 1; i < pattern.at.size(); ++i) {
        const Offset gap = pattern.at[i] - pattern.at[i - 1];
        if (gap < length && std::find(pattern.gaps.begin(), pattern.gaps.end(), gap) == pattern.gaps.end())
            pattern.gaps.push_back(gap);
    }
}

// A member pattern that overlaps itself may meet a spelling that does not
// agree with itself across the overlap; such passes are replayed step by
// step. Pass 1 spells the declared name as it finds it, so any of its
// patterns that overlap themselves may.
template <typename Offset>
void findReplayable(Engine<Offset>& engine) {
    for (Pattern<Offset>& pattern : engine.patterns) findGaps(pattern);
    for (const Module& module : engine.modules)
        for (std::size_t i = 0; i < module.sepPatterns.size(); ++i) {
            if (module.sepPatterns[i] == none) continue;
            Pattern<Offset>& pattern = engine.patterns[module.sepPatterns[i]];
            if (!selfConsistent(engine.texts.values[module.sepTexts[i]], pattern.gaps)) pattern.replayable = true;
        }
    for (const Declared& declared : engine.declared)
        for (const std::uint32_t id : declared.dotPatterns)
            if (id != none && !engine.patterns[id].gaps.empty()) engine.patterns[id].replayable = true;
}

// The replay reads the declarations (each key occurrence and its name) and
// the occurrences of replayable patterns; every other occurrence that holds
// one of those bytes is written into them at once when painted.
template <typename Offset>
void findObserved(Engine<Offset>& engine) {
    const bool anyTurns =
        std::any_of(engine.lines.begin(), engine.lines.end(), [](const Line<Offset>& line) { return line.hasTurns; });
    const bool anyReplayable = std::any_of(engine.patterns.begin(), engine.patterns.end(),
                                           [](const Pattern<Offset>& pattern) { return pattern.replayable; });
    if (!anyTurns && !anyReplayable) return;
    Observed& observed = engine.observed;
    observed.bytes.assign(engine.state.sourceText.size() / 64 + 1, 0);
    observed.words.assign(observed.bytes.size() / 64 + 1, 0);
    for (const Line<Offset>& line : engine.lines) {
        if (!line.hasTurns) continue;
        const Pattern<Offset>& key = engine.patterns[line.key];
        for (std::size_t i = 0; i < line.nameStart.size(); ++i)
            markObserved(observed, line.nameStart[i], key.at[i] + key.upper.size());
    }
    for (const Pattern<Offset>& pattern : engine.patterns) {
        if (!pattern.replayable) continue;
        for (const Offset at : pattern.at) markObserved(observed, at, at + pattern.upper.size());
    }
    for (Pattern<Offset>& pattern : engine.patterns) {
        const std::vector<Offset>& at = pattern.at;
        for (std::size_t i = 0; i < at.size() && !pattern.replayable; ++i) {
            // Only the observed bits are read here.
            if (i + fetchDistance < at.size()) __builtin_prefetch(&observed.bytes[at[i + fetchDistance] / 64]);
            if (anyObserved(observed, at[i], at[i] + pattern.upper.size()))
                pattern.touching.push_back(static_cast<Offset>(i));
        }
        pattern.allTouch = pattern.replayable || (!at.empty() && pattern.touching.size() == at.size());
        if (pattern.allTouch) std::vector<Offset>().swap(pattern.touching);
        engine.mostTouching = std::max(engine.mostTouching, pattern.touching.size());
    }
}

// Whether an occurrence of pattern that touches observed bytes meets one of
// the stretches [at[i] + skip, at[i] + skip + length), at sorted.
template <typename Offset>
bool meetsAny(const Pattern<Offset>& pattern, const std::vector<Offset>& at, std::uint64_t skip, std::uint64_t length) {
    // The starts come in ascending order, so each search begins where the one before ended.
    auto first = at.begin();
    const auto meets = [&](Offset start) {
        // at[i] + skip + length > start and at[i] + skip < start + size
        const std::uint64_t low = start + 1 > skip + length ? start + 1 - skip - length : 0;
        first = std::lower_bound(first, at.end(), low);
        return first != at.end() && *first + skip < start + pattern.upper.size();
    };
    if (pattern.allTouch) return std::any_of(pattern.at.begin(), pattern.at.end(), meets);
    return std::any_of(pattern.touching.begin(), pattern.touching.end(),
                       [&](Offset i) { return meets(pattern.at[i]); });
}

// A line whose key never overlaps itself and whose members' patterns never meet its key's occurrences where
// they hold letters (a blank never changes) can have all its case fixes done before its member passes: a fix then
// leaves its occurrence in the key's spelling for good, as the fix at that occurrence would have before its own
// turn; a declared name that holds bytes of an earlier occurrence reads them fixed either way.
template <typename Offset>
void findKeysFirst(Engine<Offset>& engine) {
    std::vector<const Line<Offset>*> askedBy(engine.patterns.size(), nullptr);  // each member once per line
    for (Line<Offset>& line : engine.lines) {
        if (!line.hasTurns) continue;
        const Pattern<Offset>& key = engine.patterns[line.key];
        if (!key.gaps.empty()) continue;
        const std::size_t from = key.upper.find_first_not_of(" "), to = key.upper.find_last_not_of(" ") + 1;
        const auto meets = [&](std::uint32_t member) {
            if (member == none || askedBy[member] == &line) return false;
            askedBy[member] = &line;
            return meetsAny(engine.patterns[member], key.at, from, to - from);
        };
        const auto dotsMeet = [&](std::uint32_t declared) {
            return std::any_of(engine.declared[declared].dotPatterns.begin(),
                               engine.declared[declared].dotPatterns.end(), meets);
        };
        const std::vector<std::uint32_t>& sepPatterns = engine.modules[line.module].sepPatterns;
        line.keyFirst = std::none_of(sepPatterns.begin(), sepPatterns.end(), meets) &&
                        std::none_of(line.declared.begin(), line.declared.end(), dotsMeet);
    }
}

}  // namespace

std::uint32_t intern(Interned& pool, std::string_view value) {
    const auto [found, added] =
        pool.ids.try_emplace(std::string(value), static_cast<std::uint32_t>(pool.values.size()));
    if (added) pool.values.emplace_back(value);
    return found->second;
}

// An object line whose include block passes the folder gate gets its module.
template <typename Offset>
void addModule(Engine<Offset>& engine, Line<Offset>& line) {
    if (engine.patterns[line.key].upper.compare(0, 4, " AS ") != 0) return;
    if (findText(1, toLower(line.block), "vorrel\\") == 0) return;
    line.module = moduleFor(engine, engine.state.vorrelPrefix + textBeforeFirst(textAfterLast(line.block, "\\"), "\""));
    line.hasTurns = !engine.modules[line.module].members.empty();
}

template <typename Offset>
void findKeys(Engine<Offset>& engine) {
    intern(engine.names, "");
    for (const std::string_view line : lineFields(engine.state.catalogueList)) {
        Line<Offset>& added = engine.lines.emplace_back();
        const std::string key = fieldAt(toUpper(line), ";", 1);
        added.block = fieldAt(line, ";", 2);
        if (key.empty()) continue;
        added.key = patternFor(engine, key);
        added.keyText = intern(engine.texts, key);
    }
    // The first look: which object lines' keys occur in the text's first part.
    std::vector<std::string_view> keys;
    for (const Pattern<Offset>& key : engine.patterns) keys.push_back(key.upper);
    const std::string_view text = engine.state.sourceText;
    const std::vector<std::vector<Offset>> early = findEvery<Offset>(text.substr(0, text.size() / earlyPart), keys);
    for (Line<Offset>& line : engine.lines)
        if (line.key != none && !early[line.key].empty()) addModule(engine, line);
    search(engine, 0);
}

template <typename Offset>
void findMembers(Engine<Offset>& engine) {
    const std::size_t searched = engine.patterns.size();
    for (Line<Offset>& line : engine.lines)
        if (line.key != none && line.module == none && !engine.patterns[line.key].at.empty()) addModule(engine, line);
    search(engine, searched);
}

template <typename Offset>
void readUses(Engine<Offset>& engine) {
    const std::size_t derived = engine.patterns.size();
    readDeclarations(engine);
    findNamesBeforePoints(engine, derived);
    findReplayable(engine);
    findObserved(engine);
    findKeysFirst(engine);
}

template void findKeys(Engine<std::uint32_t>&);
template void findKeys(Engine<std::uint64_t>&);
template void findMembers(Engine<std::uint32_t>&);
template void findMembers(Engine<std::uint64_t>&);
template void readUses(Engine<std::uint32_t>&);
template void readUses(Engine<std::uint64_t>&);

}  // namespace vorrel::engine
