// The program's own operator new and delete: malloc and free, as the standard
// library's, except that memory is offered large pages (allocateBlock). The
// scan fills hundreds of megabytes once, and with 4 KiB pages a page fault
// per page took a third of its time. The memory is the source text, its
// copies and thousands of lists that grow as the scan finds things, in
// containers all over the scan: one hook here reaches them all.
// Left out of sanitizer builds, which track allocations with their own, and
// of the Windows build, which has no large pages to offer.
#include <cstdlib>
#include <new>

#include "system/system.h"

void* operator new(std::size_t size) {
    if (size == 0) size = 1;
    for (;;) {
        if (void* block = vorrel::allocateBlock(size)) return block;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void operator delete(void* block) noexcept { std::free(block); }

void operator delete(void* block, std::size_t) noexcept { std::free(block); }
