#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vorrel_bench {

std::string fixed(double value, int decimals) {
    if (std::isnan(value)) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string withCommas(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

void Table::print(std::ostream& out) const {
    std::vector<std::size_t> width;
    for (const auto& row : rows) {
        if (width.size() < row.size()) width.resize(row.size(), 0);
        for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (std::size_t i = 0; i < rows[r].size(); ++i) {
            const std::string& cell = rows[r][i];
            const std::string pad(width[i] - cell.size(), ' ');
            line += (i == 0 ? cell + pad : pad + cell);
            if (i + 1 < rows[r].size()) line += "  ";
        }
        out << "  " << line << "\n";
        if (r == 0) {
            std::size_t total = 0;
            for (std::size_t w : width) total += w + 2;
            out << "  " << std::string(total - 2, '-') << "\n";
        }
    }
}

std::string spread(const Sample& s) {
    if (s.empty()) return "-";
    return fixed(lowest(s), 3) + "-" + fixed(highest(s), 3);
}

double net(const Sample& s) { return median(s) - pauseSeconds; }

double memoryLimitMiB(const Dataset& d) { return 4.0 * static_cast<double>(d.stats.bytes) / MiB + 64; }

std::string status(const Measurement& m) { return m.failures.empty() ? "ok" : "FAIL"; }

std::vector<std::string> timingRow(const std::string& first, const Measurement& m) {
    const double limit = memoryLimitMiB(m.data);
    const double peak = peakMiB(m.vorrel);
    return {first,
            fixed(static_cast<double>(m.data.stats.bytes) / MiB, 1),
            std::to_string(m.data.moduleCount),
            withCommas(m.data.stats.uses),
            fixed(median(m.vorrel), 3),
            spread(m.vorrel),
            fixed(median(m.vorrel.cpu), 3),
            fixed(net(m.vorrel), 3),
            fixed(median(m.copy), 3),
            fixed(net(m.vorrel) / median(m.copy), 1),
            m.floor.empty() ? "-" : fixed(median(m.floor), 3),
            m.floor.empty() ? "-" : fixed(net(m.vorrel) / net(m.floor), 1),
            fixed(peak, 1),
            fixed(limit, 0),
            peak <= limit ? "yes" : "NO",
            status(m)};
}

const std::vector<std::string> timingHeader = {"input", "MiB",  "K",    "uses",   "vorrel s", "min-max",   "cpu s",
                                               "net s", "cp s", "net/cp", "files s", "net/files",
                                               "peak MiB", "limit MiB", "within", "check"};

// The median, over the rounds both ran, of the ratio of b's net time to
// a's in the same round: inputs measured together (measureTogether) ran
// side by side in each round, so a slower spell of the machine cancels out.
double pairedRatio(const Sample& a, const Sample& b) {
    std::vector<double> ratios;
    for (std::size_t r = 0; r < std::min(a.seconds.size(), b.seconds.size()); ++r) {
        ratios.push_back((b.seconds[r] - pauseSeconds) / (a.seconds[r] - pauseSeconds));
    }
    return median(ratios);
}

// Growth of a quantity over a ratio of sizes, stated per tenfold.
double perTenfold(double small, double large, double sizeRatio) {
    return std::pow(large / small, 1.0 / std::log10(sizeRatio));
}

std::string formatSeconds(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    return text;
}

}  // namespace vorrel_bench
