// A small deterministic random generator (splitmix64). The benchmark inputs
// must come out byte for byte the same on every machine and standard
// library, so no <random> distributions are used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorrel_bench {

class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    /// A number in [0, n); n > 0.
    std::uint32_t below(std::uint32_t n) {
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(next() >> 32) * n) >> 32);
    }

    /// A number in [low, high].
    int range(int low, int high) { return low + static_cast<int>(below(static_cast<std::uint32_t>(high - low + 1))); }

    /// True with probability p.
    bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }

    template <class T>
    const T& pick(const std::vector<T>& items) {
        return items[below(static_cast<std::uint32_t>(items.size()))];
    }

private:
    std::uint64_t state_;
};

}  // namespace vorrel_bench
