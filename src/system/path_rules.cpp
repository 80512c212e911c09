#include "system/path_rules.h"

#include "text/text.h"

namespace vorrel {

std::string posixPath(std::string_view path) {
    std::string result(path);
    for (char& c : result) {
        if (c == '\\') c = '/';
    }
    return result;
}

bool matchesWildcard(std::string_view pattern, std::string_view name) {
    // Greedy matching with one back-track point: linear for the patterns
    // this tool uses, and never worse than quadratic.
    std::size_t p = 0, n = 0;
    std::size_t starAt = std::string_view::npos, resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || upperByte(pattern[p]) == upperByte(name[n]))) {
            ++p;
            ++n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool listsBefore(std::string_view a, std::string_view b) {
    const int byUpper = compareText(toUpper(a), toUpper(b));
    if (byUpper != 0) return byUpper < 0;
    return compareText(a, b) < 0;
}

}  // namespace vorrel
