#include "system/command_line.h"

namespace vorrel {

std::vector<std::string> splitCommandLine(std::string_view commandLine) {
    std::vector<std::string> tokens;
    std::size_t at = 0;
    const std::size_t size = commandLine.size();
    for (;;) {
        while (at < size && commandLine[at] == ' ') ++at;
        if (at >= size) break;
        bool quoted = commandLine[at] == '"';
        if (quoted) ++at;
        const std::size_t first = at;
        std::size_t counted = 0;
        while (at < size) {
            const char c = commandLine[at];
            if (quoted) {
                if (c == '"')
                    quoted = false;
                else
                    ++counted;
            } else if (c == ' ') {
                break;
            } else {
                ++counted;
            }
            ++at;
        }
        tokens.emplace_back(commandLine.substr(first, counted));
    }
    return tokens;
}

std::string commandArgument(const std::vector<std::string>& tokens, int n) {
    if (n < 0 || static_cast<std::size_t>(n) >= tokens.size()) return {};
    return tokens[static_cast<std::size_t>(n)];
}

std::string folderOfProgram(const std::vector<std::string>& tokens, std::string_view separators) {
    std::string_view program = tokens.empty() ? std::string_view() : std::string_view(tokens[0]);
    while (!program.empty() && program.front() == '"') program.remove_prefix(1);
    const std::size_t last = program.find_last_of(separators);
    if (last == std::string_view::npos) return {};
    return std::string(program.substr(0, last + 1));
}

}  // namespace vorrel
