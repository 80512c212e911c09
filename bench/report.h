// The report's pieces: numbers as the report writes them, a plain text
// table, and the figures drawn from a measurement.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "measure.h"

namespace vorrel_bench {

/// value with decimals digits after the point; "-" for NaN.
std::string fixed(double value, int decimals);

/// n with a comma between every three digits.
std::string withCommas(std::uint64_t n);

/// A plain text table: columns right-aligned but for the first, a rule
/// below the header.
struct Table {
    std::vector<std::vector<std::string>> rows;  // the header first
    explicit Table(std::vector<std::string> header) { rows.push_back(std::move(header)); }
    void add(std::vector<std::string> row) { rows.push_back(std::move(row)); }
    void print(std::ostream& out) const;
};

/// The lowest and highest seconds of s.
std::string spread(const Sample& s);

/// The median seconds of s with the pause taken off.
double net(const Sample& s);

/// 4 x the input + 64 MiB.
double memoryLimitMiB(const Dataset& d);

/// "ok", or "FAIL" when a check of m failed.
std::string status(const Measurement& m);

/// A row of the timing tables, and their header.
std::vector<std::string> timingRow(const std::string& first, const Measurement& m);
extern const std::vector<std::string> timingHeader;

/// The median, over the rounds both ran, of the ratio of b's net time to a's in the same round.
double pairedRatio(const Sample& a, const Sample& b);

/// Growth of a quantity over a ratio of sizes, stated per tenfold.
double perTenfold(double small, double large, double sizeRatio);

/// seconds as "M min SS s".
std::string formatSeconds(double seconds);

}  // namespace vorrel_bench
