#include "source_gen.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "files.h"
#include "rng.h"
#include "vocabulary.h"

namespace vorrel_bench {

namespace {

char lowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char upperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string lowerCase(std::string text) {
    for (char& c : text) c = lowerChar(c);
    return text;
}

std::string randomCase(Rng& rng, std::string text) {
    for (char& c : text) c = rng.chance(0.5) ? upperChar(c) : lowerChar(c);
    return text;
}

// Some spelling of text other than avoid (text has a letter).
std::string differentFrom(std::string text, const std::string& avoid) {
    if (text != avoid) return text;
    for (char& c : text) {
        if (isLetter(c)) {
            c = (c == upperChar(c)) ? lowerChar(c) : upperChar(c);
            break;
        }
    }
    return text;
}

// The (counter)th spelling of text: multiplying by an odd constant is a
// bijection on the numbers below 2^letters, so no two counters below that
// give the same spelling.
std::string freshSpelling(const std::string& text, std::uint64_t counter) {
    std::size_t letters = 0;
    for (char c : text) letters += isLetter(c) ? 1 : 0;
    std::uint64_t bits = counter * 0x9E3779B97F4A7C15ull;
    if (letters < 64) bits &= (std::uint64_t{1} << letters) - 1;
    std::string out = text;
    std::size_t bit = 0;
    for (char& c : out) {
        if (!isLetter(c)) continue;
        const bool upper = bit < 64 ? ((bits >> bit) & 1) != 0 : ((bits >> (bit % 64)) & 1) == 0;
        c = upper ? upperChar(c) : lowerChar(c);
        ++bit;
    }
    return out;
}

class Generator {
public:
    Generator(const Library& library, const SourceSpec& spec, const std::string& sourcePath,
              const std::string& usesPath)
        : library_(library), spec_(spec), rng_(spec.seed), out_(sourcePath), usesOut_(usesPath),
          used_(library.modules.size(), false) {
        planned_ = static_cast<std::uint64_t>(static_cast<double>(spec.bytes) / spec.bytesPerUse + 0.5);
        // A call statement holds several uses when dense: choose the share of
        // declaration statements so that declarations make up
        // declarationShare of all uses.
        const double callsPerStatement = spec.dense ? 10 : 1.15;
        const double share = library.objects.empty() ? 0.0 : spec.declarationShare;
        declarationChance_ = share * callsPerStatement / (1.0 - share + share * callsPerStatement);
        if (spec.forcedDeclarations > 0) declarationChance_ = 0;
    }

    SourceStats run() {
        header();
        const std::uint64_t tailReserve = 400;
        while (out_.position() + tailReserve < spec_.bytes) procedure();
        mainProgram();
        out_.close();
        usesOut_.close();
        stats_.bytes = out_.position();
        for (bool u : used_) stats_.modulesUsed += u ? 1 : 0;
        return stats_;
    }

private:
    // ---- positions and targets
    std::uint64_t due() const {
        const std::uint64_t at = out_.position();
        const std::uint64_t target = static_cast<std::uint64_t>(
            static_cast<double>(planned_) * static_cast<double>(at) / static_cast<double>(spec_.bytes));
        return std::min(planned_, target);
    }
    std::uint64_t remaining() const { return planned_ - stats_.uses; }
    bool declarationDue() const {
        if (spec_.forcedDeclarations == 0 || stats_.declarations >= spec_.forcedDeclarations) return false;
        return static_cast<double>(stats_.declarations) <
               static_cast<double>(spec_.forcedDeclarations) * static_cast<double>(out_.position()) /
                   static_cast<double>(spec_.bytes);
    }

    // ---- writing
    void put(const std::string& text) { out_.put(text); }
    void put(const char* text) { out_.put(std::string_view(text)); }
    void endLine() { out_.put("\r\n"); }
    void indent() {
        const std::size_t width = (spec_.dense ? 2 : 4) * (1 + open_.size());
        out_.put(std::string(width, ' '));
    }
    void recordUse(std::size_t length) {
        const std::uint64_t at = out_.position();
        if (at > 0xffffffffu) throw std::runtime_error("source too large for the use list");
        const std::uint32_t pair[2] = {static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(length)};
        usesOut_.put(std::string_view(reinterpret_cast<const char*>(pair), sizeof pair));
    }

    bool rightCase() { return rng_.chance(spec_.rightCase); }

    std::string moduleSpelling(const Module& module, bool right) {
        if (spec_.freshSpellings) return freshSpelling(module.upper, ++fresh_[keyOf(module)]);
        if (right) return module.upper;
        const std::uint32_t style = rng_.below(10);
        std::string text = style < 5 ? module.spelled : (style < 8 ? lowerCase(module.upper) : randomCase(rng_, module.upper));
        return differentFrom(text, module.upper);
    }

    std::string memberSpelling(std::uint32_t member) {
        const std::string& listed = library_.members[member];
        if (spec_.freshSpellings) return freshSpelling(listed, ++fresh_["." + upperCase(listed)]);
        if (rightCase()) return listed;
        const std::uint32_t style = rng_.below(10);
        std::string text = style < 5 ? lowerCase(listed) : (style < 8 ? upperCase(listed) : randomCase(rng_, listed));
        return differentFrom(text, listed);
    }

    void markUse(std::uint32_t module, bool right) {
        used_[module] = true;
        ++stats_.uses;
        if (!right) ++stats_.miscased;
    }

    void call(std::uint32_t module) {
        const bool right = rightCase();
        const std::string spelling = moduleSpelling(library_.modules[module], right);
        recordUse(spelling.size() + 1);
        put(spelling);
        put("(");
        markUse(module, spelling == library_.modules[module].upper);
        ++stats_.calls;
    }

    void declarationKey(std::uint32_t module) {
        const Module& m = library_.modules[module];
        std::string text;
        const bool right = rightCase();
        if (spec_.freshSpellings) {
            text = " " + freshSpelling("AS " + m.upper, ++fresh_[keyOf(m)]);
        } else if (right) {
            text = " AS " + m.upper;
        } else {
            switch (rng_.below(5)) {
            case 0: text = " as " + m.spelled; break;
            case 1: text = " As " + lowerCase(m.upper); break;
            case 2: text = " AS " + m.spelled; break;
            case 3: text = " as " + lowerCase(m.upper); break;
            default: text = " " + randomCase(rng_, "AS " + m.upper); break;
            }
            text = differentFrom(text, " AS " + m.upper);
        }
        recordUse(text.size());
        put(text);
        markUse(module, text == " AS " + m.upper);
        ++stats_.declarations;
    }

    std::uint32_t anyOrdinary() { return rng_.pick(library_.ordinary); }
    std::uint32_t anyObject() { return rng_.pick(library_.objects); }

    // ---- pieces of statements
    std::string words(int low, int high, bool capitalise) {
        std::string text;
        const int n = rng_.range(low, high);
        for (int i = 0; i < n; ++i) {
            if (i > 0) text += (rng_.chance(0.05) ? ", " : " ");
            std::string word = rng_.pick(words::commentWords());
            if (i == 0 && capitalise) word[0] = upperChar(word[0]);
            text += word;
        }
        return text;
    }
    std::string stringLiteral() {
        std::string text = "\"" + words(1, 5, rng_.chance(0.6));
        if (rng_.chance(0.3)) text += rng_.chance(0.5) ? ": " : ".";
        return text + "\"";
    }
    std::string variable() { return rng_.pick(words::variables()); }
    void atom() {
        if (spec_.dense) {
            static const std::vector<std::string> shortAtoms = {"x", "i", "n", "s", "1", "0", "k", "w", "2"};
            put(rng_.pick(shortAtoms));
            return;
        }
        switch (rng_.below(6)) {
        case 0: put(std::to_string(rng_.range(0, 1000))); break;
        case 1: put(stringLiteral()); break;
        case 2: put(variable() + " + " + std::to_string(rng_.range(1, 9))); break;
        default: put(variable()); break;
        }
    }
    void arguments() {
        const int n = spec_.dense ? 1 : rng_.range(1, 3);
        for (int i = 0; i < n; ++i) {
            if (i > 0) put(", ");
            atom();
        }
    }
    // A call of a module with calls nested in its arguments, calls in all.
    void expression(int calls) {
        call(anyOrdinary());
        const int inner = calls - 1;
        if (inner == 0) {
            arguments();
        } else if (inner == 1 || rng_.chance(spec_.dense ? 0.75 : 0.6)) {
            expression(inner);
            if (!spec_.dense && rng_.chance(0.3)) {
                put(", ");
                atom();
            }
        } else {
            const int first = rng_.range(1, inner - 1);
            expression(first);
            put(", ");
            expression(inner - first);
        }
        put(")");
    }

    // ---- statements
    void statement() {
        if (declarationDue()) {
            declaration();
            return;
        }
        if (stats_.uses < due() && remaining() > 0) {
            useStatement();
        } else {
            filler();
        }
    }

    void useStatement() {
        if (rng_.chance(declarationChance_)) {
            declaration();
            return;
        }
        int calls = spec_.dense ? rng_.range(6, 14) : (rng_.chance(0.15) ? 2 : 1);
        calls = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(calls), remaining()));
        callStatement(calls);
    }

    void callStatement(int calls) {
        indent();
        if (spec_.dense) {
            put(variable());
            put(" = ");
            expression(calls);
            endLine();
            return;
        }
        switch (rng_.below(calls > 1 ? 7 : 6)) {
        case 0: put(variable() + " = "); expression(calls); break;
        case 1: put("PRINT "); expression(calls); break;
        case 2: put("IF "); expression(calls); put(" > " + std::to_string(rng_.range(0, 99)) + " THEN count = count + 1"); break;
        case 3: expression(calls); break;
        case 4: put("total = total + "); expression(calls); put(" * 2"); break;
        case 5: put("s = " + stringLiteral() + " + STR$("); expression(calls); put(")"); break;
        default:
            put(variable() + " = ");
            expression(calls / 2);
            put(" + ");
            expression(calls - calls / 2);
            break;
        }
        endLine();
    }

    std::string objectName() {
        if (spec_.forcedDeclarations > 0) {
            return rng_.pick(words::objectVariables()) + std::to_string(stats_.declarations + 1);
        }
        // Prefer a name not declared yet in this procedure.
        for (int attempt = 0; attempt < 4; ++attempt) {
            std::string name = rng_.pick(words::objectVariables());
            bool taken = false;
            for (const auto& s : scope_) taken = taken || s.name == name;
            if (!taken) return name;
        }
        return rng_.pick(words::objectVariables());
    }

    void declare(const std::string& name, std::uint32_t module) {
        for (auto& s : scope_) {
            if (s.name == name) {
                s.module = module;
                return;
            }
        }
        scope_.push_back({name, module});
    }

    void declaration() {
        indent();
        put("DIM ");
        const std::string name = objectName();
        const std::uint32_t module = anyObject();
        put(name);
        declarationKey(module);
        declare(name, module);
        if (spec_.forcedDeclarations == 0 && remaining() > 0 && rng_.chance(spec_.dense ? 0.3 : 0.1)) {
            const std::string second = objectName();
            const std::uint32_t other = anyObject();
            put(", " + second);
            declarationKey(other);
            declare(second, other);
        }
        endLine();
        const int members = rng_.range(spec_.membersMin, spec_.membersMax);
        for (int i = 0; i < members; ++i) memberStatement(scope_.back());
    }

    struct Scoped {
        std::string name;
        std::uint32_t module;
    };

    std::string member(const Scoped& object) {
        const Module& m = library_.modules[object.module];
        ++stats_.memberUses;
        return memberSpelling(m.members[rng_.below(static_cast<std::uint32_t>(m.members.size()))]);
    }

    void memberStatement(const Scoped& object) {
        indent();
        const std::string& o = object.name;
        switch (rng_.below(spec_.dense ? 3 : 7)) {
        case 0: put(o + "." + member(object) + " = "); atom(); break;
        case 1: put(o + "." + member(object)); break;
        case 2: put(o + "." + member(object) + "("); atom(); put(")"); break;
        case 3: put("PRINT " + o + "." + member(object)); break;
        case 4: put("IF " + o + "." + member(object) + " THEN " + o + "." + member(object)); break;
        case 5: put(variable() + " = " + o + "." + member(object) + " + 1"); break;
        default: put(o + "." + member(object) + " = " + o + "." + member(object) + " + 1"); break;
        }
        endLine();
    }

    void filler() {
        const std::uint32_t roll = rng_.below(100);
        if (!scope_.empty() && roll < 22) {
            memberStatement(scope_[rng_.below(static_cast<std::uint32_t>(scope_.size()))]);
        } else if (roll < 36) {
            indent();
            put("' " + words(3, 10, rng_.chance(0.5)));
            endLine();
        } else if (roll < 54) {
            indent();
            const std::string v = variable();
            switch (rng_.below(4)) {
            case 0: put(v + " = " + v + " + 1"); break;
            case 1: put("s = s + " + stringLiteral()); break;
            case 2: put(v + " = " + variable() + " * " + std::to_string(rng_.range(2, 64)) + " - " + variable()); break;
            default: put(v + " = " + std::to_string(rng_.range(0, 65535))); break;
            }
            endLine();
        } else if (roll < 62) {
            indent();
            put("PRINT " + stringLiteral());
            if (rng_.chance(0.5)) put("; " + variable());
            endLine();
        } else if (roll < 74) {
            indent();
            switch (rng_.below(5)) {
            case 0: put("n = LEN(s) + INSTR(s, " + stringLiteral() + ")"); break;
            case 1: put("s = MID$(s, " + std::to_string(rng_.range(1, 20)) + ", " + std::to_string(rng_.range(1, 20)) + ")"); break;
            case 2: put("s = UCASE$(LEFT$(s, " + std::to_string(rng_.range(1, 9)) + "))"); break;
            case 3: put("x = ABS(INT(RND(1) * " + std::to_string(rng_.range(2, 1000)) + "))"); break;
            default: put("msg = STR$(count) + SPACE$(2) + CHR$(" + std::to_string(rng_.range(32, 126)) + ")"); break;
            }
            endLine();
        } else if (roll < 82) {
            if (open_.size() < 3) openBlock();
            else closeBlock();
        } else if (roll < 88 && !open_.empty()) {
            closeBlock();
        } else if (roll < 95 && !procedures_.empty()) {
            indent();
            const std::string& p = procedures_[rng_.below(static_cast<std::uint32_t>(procedures_.size()))];
            if (rng_.chance(0.5)) put("CALL " + p + "(" + variable() + ", " + stringLiteral() + ")");
            else put(variable() + " = " + p + "(" + variable() + ", " + std::to_string(rng_.range(0, 9)) + ")");
            endLine();
        } else {
            indent();
            const std::string& a = rng_.pick(words::arrays());
            put(a + "(" + variable() + ") = " + a + "(" + variable() + " + 1)");
            endLine();
        }
    }

    void openBlock() {
        indent();
        switch (rng_.below(3)) {
        case 0: {
            const std::string v = rng_.pick(std::vector<std::string>{"i", "j", "k"});
            put("FOR " + v + " = 1 TO " + std::to_string(rng_.range(2, 500)));
            open_.push_back("NEXT " + v);
            break;
        }
        case 1:
            put("IF " + variable() + " > " + std::to_string(rng_.range(0, 100)) + " THEN");
            open_.push_back("END IF");
            break;
        default:
            put("DO WHILE " + variable() + " < " + std::to_string(rng_.range(1, 100)));
            open_.push_back("LOOP");
            break;
        }
        endLine();
    }

    void closeBlock() {
        const std::string closing = open_.back();
        open_.pop_back();
        indent();
        put(closing);
        endLine();
    }

    std::string procedureName() {
        return rng_.pick(words::verbs()) + rng_.pick(words::nouns()) + std::to_string(++procedureCount_);
    }

    void parameters() {
        const int n = rng_.range(0, 3);
        static const std::vector<std::string> names = {"value", "text", "index", "flags", "path", "w", "h"};
        for (int i = 0; i < n; ++i) {
            if (i > 0) put(", ");
            put(names[static_cast<std::size_t>(i) * 2 + rng_.below(2)] + " AS " + rng_.pick(words::builtinTypes()));
        }
    }

    void procedure() {
        scope_.clear();
        open_.clear();
        const bool function = rng_.chance(0.4);
        const std::string name = procedureName();
        put(function ? "FUNCTION " : "SUB ");
        put(name + "(");
        parameters();
        put(function ? ") AS " + rng_.pick(words::builtinTypes()) : std::string(")"));
        endLine();
        indent();
        put("DIM i AS LONG, j AS LONG, k AS LONG");
        endLine();
        indent();
        put("DIM s AS STRING");
        endLine();
        const int length = spec_.dense ? rng_.range(2000, 8000) : rng_.range(300, 4000);
        const std::uint64_t end = std::min(spec_.bytes - 200, out_.position() + static_cast<std::uint64_t>(length));
        while (out_.position() < end) statement();
        while (!open_.empty()) closeBlock();
        if (function) {
            indent();
            put(name + " = result");
            endLine();
        }
        put(function ? "END FUNCTION" : "END SUB");
        endLine();
        endLine();
        procedures_.push_back(name);
    }

    void header() {
        put("$APPTYPE CONSOLE\r\n$TYPECHECK ON\r\n$ESCAPECHARS ON\r\n");
        put("' ============================================================\r\n");
        put("' " + words(3, 6, true) + "\r\n");
        put("' ============================================================\r\n\r\n");
        put("CONST MAXITEMS = 1000\r\nCONST VERSION$ = \"2.4\"\r\n");
        put("DIM SHARED count AS LONG, total AS LONG, result AS LONG\r\n");
        put("DIM SHARED buf(1024) AS BYTE, scores(100) AS LONG, names$(100) AS STRING\r\n\r\n");
    }

    void mainProgram() {
        scope_.clear();
        open_.clear();
        put("' Main program\r\n");
        while (stats_.uses < planned_) {
            if (declarationDue()) {
                declaration();
            } else {
                int calls = spec_.dense ? rng_.range(6, 14) : 1;
                calls = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(calls), remaining()));
                callStatement(calls);
            }
        }
        while (declarationDue() || stats_.declarations < spec_.forcedDeclarations) declaration();
        if (!procedures_.empty()) put("CALL " + procedures_.front() + "(1, \"main\")\r\n");
        put("END\r\n");
    }

    const Library& library_;
    const SourceSpec& spec_;
    Rng rng_;
    Writer out_;
    Writer usesOut_;
    std::vector<bool> used_;
    std::uint64_t planned_ = 0;
    double declarationChance_ = 0;
    SourceStats stats_;
    std::vector<Scoped> scope_;
    std::vector<std::string> open_;
    std::vector<std::string> procedures_;
    int procedureCount_ = 0;
    std::unordered_map<std::string, std::uint64_t> fresh_;
};

}  // namespace

SourceStats writeSource(const Library& library, const SourceSpec& spec, const std::string& sourcePath,
                        const std::string& usesPath) {
    if (library.ordinary.empty()) throw std::logic_error("a library without ordinary modules");
    Generator generator(library, spec, sourcePath, usesPath);
    return generator.run();
}

}  // namespace vorrel_bench
