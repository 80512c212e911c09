// The program's own operator new and delete: malloc and free, as the standard
// library's, except that large blocks, and the heap as it grows, are offered
// large pages. The scan fills hundreds of megabytes once, and with 4 KiB
// pages a page fault per page took a third of its time. The large blocks are
// the source text, its copies and many lists that grow as the scan finds
// things; the heap holds thousands of smaller lists. They live in containers
// all over the scan: one hook here reaches them all.
// Left out of sanitizer builds, which track allocations with their own, and
// of the Windows build, which has no large pages to offer.
#include <cstdlib>
#include <limits>
#include <new>

#include "system/system.h"

namespace {

// Blocks this large start on a large page of 2 MiB, so that their first
// bytes get large pages too.
constexpr std::size_t largeBlockSize = std::size_t{4} << 20;
constexpr std::size_t largePage = std::size_t{2} << 20;

void* allocate(std::size_t size) {
    if (size < largeBlockSize) return std::malloc(size);
    if (size > std::numeric_limits<std::size_t>::max() - largePage) return nullptr;
    // aligned_alloc takes a whole number of alignments.
    return std::aligned_alloc(largePage, (size + largePage - 1) / largePage * largePage);
}

}  // namespace

void* operator new(std::size_t size) {
    if (size == 0) size = 1;
    for (;;) {
        if (void* block = allocate(size)) {
            if (size >= largeBlockSize) vorrel::adviseLargeBlock(block, size);
            vorrel::adviseHeapGrowth();
            return block;
        }
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void operator delete(void* block) noexcept { std::free(block); }

void operator delete(void* block, std::size_t) noexcept { std::free(block); }
