#include "verify.h"

#include <cstring>
#include <string_view>

#include "files.h"

namespace vorrel_bench {

namespace {

char upperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Where the tool inserts its blocks: the start of the first line that does
// not begin with "$"; npos when every line does and the last has no CR LF.
std::size_t insertionOffset(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && text[start] == '$') {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) return std::string_view::npos;
        start = end + 2;
    }
    return start;
}

// Equal but for the letter case of A-Z; counts the bytes that differ.
bool sameIgnoringCase(std::string_view a, std::string_view b, std::uint64_t& differing, std::size_t& where) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        if (upperChar(a[i]) != upperChar(b[i])) {
            where = i;
            return false;
        }
        ++differing;
    }
    return true;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

OutputCheck checkOutput(const std::string& inputPath, const std::string& outputPath, const std::string& usesPath,
                        bool checkUses) {
    OutputCheck check;
    auto failed = [&check](std::string problem) {
        check.ok = false;
        check.problem = std::move(problem);
        return check;
    };
    MappedFile inputFile(inputPath);
    MappedFile outputFile(outputPath);
    const std::string_view in = inputFile.text();
    const std::string_view out = outputFile.text();
    if (out.size() < in.size()) return failed("output shorter than input");
    const std::size_t added = out.size() - in.size();
    const std::size_t at = insertionOffset(in);
    if (at == std::string_view::npos) {
        if (added != 0) return failed("output grew but the source has no line to insert above");
    }
    const std::size_t split = at == std::string_view::npos ? in.size() : at;
    std::size_t where = 0;
    if (!sameIgnoringCase(in.substr(0, split), out.substr(0, split), check.recasedBytes, where)) {
        return failed("output differs from input (beyond letter case) at byte " + std::to_string(where));
    }
    if (!sameIgnoringCase(in.substr(split), out.substr(split + added), check.recasedBytes, where)) {
        return failed("output differs from input (beyond letter case) at input byte " + std::to_string(split + where));
    }
    // The inserted text: whole four-line blocks.
    std::string_view blocks = out.substr(split, added);
    static const char* const heads[4] = {"$IFNDEF ", "$DEFINE ", "$include \"", "$ENDIF"};
    for (std::size_t line = 0; !blocks.empty(); ++line) {
        const std::size_t end = blocks.find("\r\n");
        if (end == std::string_view::npos) return failed("inserted text does not end in CR LF");
        if (!startsWith(blocks.substr(0, end), heads[line % 4])) {
            return failed("inserted line " + std::to_string(line + 1) + " is not part of an include block");
        }
        if (line % 4 == 3) ++check.blocks;
        blocks.remove_prefix(end + 2);
    }
    if (checkUses) {
        MappedFile usesFile(usesPath);
        const std::string_view uses = usesFile.text();
        for (std::size_t i = 0; i + 8 <= uses.size(); i += 8) {
            std::uint32_t pair[2];
            std::memcpy(pair, uses.data() + i, sizeof pair);
            const std::size_t offset = pair[0] < split ? pair[0] : pair[0] + added;
            if (offset + pair[1] > out.size()) return failed("a recorded use lies beyond the output");
            for (std::size_t k = 0; k < pair[1]; ++k) {
                const char c = out[offset + k];
                if (c >= 'a' && c <= 'z') {
                    return failed("use at input byte " + std::to_string(pair[0]) + " not upper-cased: " +
                                  std::string(out.substr(offset, pair[1])));
                }
            }
            ++check.usesChecked;
        }
    }
    return check;
}

long addedCount(const std::string& consoleOutput) {
    std::string_view text = consoleOutput;
    std::string_view lines[3];
    for (auto& line : lines) {
        const std::size_t end = text.find("\r\n");
        if (end == std::string_view::npos) return -1;
        line = text.substr(0, end);
        text.remove_prefix(end + 2);
    }
    if (!text.empty() || lines[2] != " ") return -1;
    const std::string_view head = "Added ";
    const std::string_view tail = " vorrels to your Hotbasic application";
    std::string_view middle = lines[1];
    if (!startsWith(middle, head) || middle.size() <= head.size() + tail.size() ||
        middle.substr(middle.size() - tail.size()) != tail) {
        return -1;
    }
    middle = middle.substr(head.size(), middle.size() - head.size() - tail.size());
    long n = 0;
    for (char c : middle) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace vorrel_bench
