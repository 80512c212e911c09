#include "rewrite/ascending.h"

namespace vorrel {

void appendAscending(Ascending& list, std::uint32_t value) {
    if (!list.bytes.empty() && value == list.last) return;
    std::uint32_t distance = value - list.last;
    for (; distance >= 0x80; distance >>= 7) list.bytes.push_back(static_cast<std::uint8_t>(distance | 0x80));
    list.bytes.push_back(static_cast<std::uint8_t>(distance));
    list.last = value;
}

std::uint32_t nextAscending(const Ascending& list, std::size_t& at, std::uint32_t previous) {
    std::uint32_t distance = 0;
    for (unsigned shift = 0;; shift += 7) {
        const std::uint8_t byte = list.bytes[at++];
        distance |= std::uint32_t(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) return previous + distance;
    }
}

}  // namespace vorrel
