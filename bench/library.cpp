#include "library.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <unordered_set>

#include "files.h"
#include "rng.h"
#include "vocabulary.h"

namespace vorrel_bench {

std::string upperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string keyOf(const Module& module) { return module.object ? " AS " + module.upper : module.upper + "("; }

void Library::add(Module module) {
    const auto index = static_cast<std::uint32_t>(modules.size());
    (module.object ? objects : ordinary).push_back(index);
    modules.push_back(std::move(module));
}

namespace {

// Sets of names and of all their suffixes (or prefixes), to reject a new
// name that would be found inside another one.
struct NameIndex {
    std::unordered_set<std::string> names;
    std::unordered_set<std::string> parts;  // every suffix (or prefix) of every name

    void add(const std::string& name, bool suffixes) {
        names.insert(name);
        for (std::size_t n = 1; n <= name.size(); ++n) {
            parts.insert(suffixes ? name.substr(name.size() - n) : name.substr(0, n));
        }
    }
    // Some name ends (or begins) the candidate, or the candidate ends (or begins) some name.
    bool clashes(const std::string& candidate, bool suffixes) const {
        if (parts.count(candidate) != 0) return true;
        for (std::size_t n = 1; n <= candidate.size(); ++n) {
            const std::string piece = suffixes ? candidate.substr(candidate.size() - n) : candidate.substr(0, n);
            if (names.count(piece) != 0) return true;
        }
        return false;
    }
};

// A module spelled so, object or not, without members yet.
Module namedModule(const std::string& spelled, const std::string& upper, bool object) {
    Module module;
    module.fileName = (object ? "O_" : "") + spelled + ".inc";
    module.spelled = spelled;
    module.upper = upper;
    module.object = object;
    return module;
}

std::vector<std::uint32_t> drawMembers(Rng& rng, std::size_t vocabulary) {
    // Half from the common head of the list, half from anywhere: libraries
    // share their members the way real ones share Count, Add and Clear.
    const std::uint32_t head = 40;
    std::vector<std::uint32_t> chosen;
    while (chosen.size() < 20) {
        const std::uint32_t pick =
            chosen.size() < 10 ? rng.below(head) : rng.below(static_cast<std::uint32_t>(vocabulary));
        if (std::find(chosen.begin(), chosen.end(), pick) == chosen.end()) chosen.push_back(pick);
    }
    return chosen;
}

}  // namespace

Library makeLibrary(int moduleCount, std::uint64_t seed) {
    Rng rng(seed);
    Library library;
    library.members = words::members();
    {
        std::unordered_set<std::string> seen;
        for (const std::string& member : library.members) {
            if (!seen.insert(upperCase(member)).second) throw std::logic_error("duplicate member word " + member);
        }
    }
    for (const std::string& name : words::builtinFunctions()) library.reservedCallNames.push_back(name);
    for (const std::string& name : words::arrays()) library.reservedCallNames.push_back(upperCase(name));

    const int objectCount = moduleCount >= 10 ? moduleCount / 10 : (moduleCount > 1 ? 1 : 0);
    const int ordinaryCount = moduleCount - objectCount;

    // Object names: a noun, or two; none may begin another or a built-in type.
    NameIndex objectNames;
    std::unordered_set<std::string> typePrefixes;
    for (const std::string& type : words::builtinTypes()) {
        for (std::size_t n = 1; n <= type.size(); ++n) typePrefixes.insert(type.substr(0, n));
    }
    std::vector<Module> objects;
    for (long attempt = 0; static_cast<int>(objects.size()) < objectCount; ++attempt) {
        if (attempt > 10000000) throw std::runtime_error("cannot find enough object module names");
        std::string spelled = rng.pick(words::nouns());
        if (rng.chance(0.75)) spelled += rng.pick(words::nouns());
        const std::string upper = upperCase(spelled);
        if (typePrefixes.count(upper) != 0 || objectNames.clashes(upper, false)) continue;
        objectNames.add(upper, false);
        Module module = namedModule(spelled, upper, true);
        module.members = drawMembers(rng, library.members.size());
        objects.push_back(std::move(module));
    }

    // Ordinary names: verb and noun, sometimes a qualifier. A name ending
    // another name, a member or a built-in called with "(" would be found
    // where no use of it was written.
    NameIndex ordinaryNames;
    NameIndex memberNames;
    for (const std::string& member : library.members) memberNames.add(upperCase(member), true);
    NameIndex reserved;
    for (const std::string& name : library.reservedCallNames) reserved.add(name, true);
    std::vector<Module> ordinary;
    for (long attempt = 0; static_cast<int>(ordinary.size()) < ordinaryCount; ++attempt) {
        if (attempt > 10000000) throw std::runtime_error("cannot find enough module names");
        std::string spelled;
        if (rng.chance(0.2)) {
            spelled = rng.pick(words::singleNames());
        } else {
            spelled = rng.pick(words::verbs()) + rng.pick(words::nouns());
            if (rng.chance(0.1)) spelled += rng.pick(words::qualifiers());
        }
        const std::string upper = upperCase(spelled);
        if (ordinaryNames.clashes(upper, true) || memberNames.clashes(upper, true) ||
            reserved.parts.count(upper) != 0) {
            continue;
        }
        ordinaryNames.add(upper, true);
        ordinary.push_back(namedModule(spelled, upper, false));
    }

    // Interleave the two kinds so the folder listing mixes them like a real one.
    std::size_t o = 0;
    for (std::size_t i = 0; i < ordinary.size(); ++i) {
        library.add(std::move(ordinary[i]));
        if ((i + 1) % 9 == 0 && o < objects.size()) library.add(std::move(objects[o++]));
    }
    while (o < objects.size()) library.add(std::move(objects[o++]));
    return library;
}

void writeLibrary(const Library& library, const std::string& folder) {
    makeFolders(folder);
    for (const Module& module : library.modules) {
        std::string text;
        if (module.object) {
            text += "' Members";
            for (std::uint32_t m : module.members) text += ";" + library.members[m];
            text += "\r\n' " + module.spelled + ": an object module of the benchmark library.\r\n";
            text += "TYPE " + module.spelled + "\r\n    handle AS LONG\r\nEND TYPE\r\n";
        } else {
            text += "' " + module.spelled + "(value): a module of the benchmark library.\r\n";
            text += "FUNCTION " + module.spelled + " (value AS LONG) AS LONG\r\n";
            text += "    Result = value\r\nEND FUNCTION\r\n";
        }
        writeWholeFile(folder + "/" + module.fileName, text);
    }
}

Library makeOverlapLibrary(OverlapPart part) {
    Library library;
    auto addObject = [&library](const std::string& fileName, const std::string& name,
                                const std::vector<std::string>& members) {
        Module module;
        module.fileName = fileName;
        module.spelled = name;
        module.upper = upperCase(name);
        module.object = true;
        for (const std::string& member : members) {
            module.members.push_back(static_cast<std::uint32_t>(library.members.size()));
            library.members.push_back(member);
        }
        library.add(std::move(module));
    };
    switch (part) {
    case OverlapPart::keys:
        for (const char* name : {"A", "A(A", "A(A(A", "AA", "A A"}) {
            Module module;
            module.fileName = std::string(name) + ".inc";
            module.spelled = name;
            module.upper = upperCase(name);
            library.add(std::move(module));
        }
        break;
    case OverlapPart::members:
        addObject("O_Ovl.inc", "Ovl",
                  {"a a", "a a a", "a(a", "a=a", "a", "aa", "a a(a", "A((A", "a=a=a", "aaa", "a (a", "a  a", "a(a(a",
                   "a= a", "a a=a", "aa aa", "a(", "a aa", "aa a", "a=a a"});
        break;
    case OverlapPart::declarations:
        addObject("O_S AS S.inc", "S AS S",
                  {"s", "S s", "As s", "s as", "AS", "S as S", "sa", "ss", "s s s", "a S", "S a", "as AS", "SaS", "s=s",
                   "S(s", "as(S", "s AS(", "ass", "s  s", "AS=s"});
        break;
    case OverlapPart::names:
        addObject("O_T.inc", "T", {"A"});
        break;
    case OverlapPart::respelled:
        addObject("O_T.inc", "T", {"A", "a"});
        break;
    }
    return library;
}

Library makeLongNameLibrary(std::uint64_t seed) {
    Rng rng(seed);
    Library library;
    // Members of two or three member words, at least 16 letters, shared by both objects.
    std::unordered_set<std::string> seenMembers;
    NameIndex memberNames;
    while (library.members.size() < 30) {
        std::string member = rng.pick(words::members());
        while (member.size() < 16) member += rng.pick(words::members());
        if (!seenMembers.insert(upperCase(member)).second) continue;
        memberNames.add(upperCase(member), true);
        library.members.push_back(member);
    }
    NameIndex names;
    std::vector<Module> ordinary;
    while (ordinary.size() < 8) {
        std::string spelled = rng.pick(words::verbs());
        while (spelled.size() < 32) spelled += rng.pick(words::nouns());
        spelled += rng.pick(words::qualifiers());
        const std::string upper = upperCase(spelled);
        if (names.clashes(upper, true) || memberNames.clashes(upper, true)) continue;
        names.add(upper, true);
        ordinary.push_back(namedModule(spelled, upper, false));
    }
    NameIndex objectNames;
    std::vector<Module> objects;
    while (objects.size() < 2) {
        std::string spelled = rng.pick(words::nouns());
        while (spelled.size() < 24) spelled += rng.pick(words::nouns());
        const std::string upper = upperCase(spelled);
        if (objectNames.clashes(upper, false)) continue;
        objectNames.add(upper, false);
        Module module = namedModule(spelled, upper, true);
        while (module.members.size() < 20) {
            const std::uint32_t pick = rng.below(static_cast<std::uint32_t>(library.members.size()));
            if (std::find(module.members.begin(), module.members.end(), pick) == module.members.end()) {
                module.members.push_back(pick);
            }
        }
        objects.push_back(std::move(module));
    }
    for (std::size_t i = 0; i < ordinary.size(); ++i) {
        library.add(std::move(ordinary[i]));
        if (i % 4 == 3) library.add(std::move(objects[i / 4]));
    }
    return library;
}

}  // namespace vorrel_bench
