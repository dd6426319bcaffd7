// Memory in whole huge pages, kept when given back. On these machines the system's clearing
// of a fresh page costs more than most of the work done in it: the pages c:unzip inflated a
// member into serve the host's cells next, without being cleared again. Under the address
// sanitizer every region is the allocator's, so that its bounds are checked.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>
#include <sys/mman.h>

#include "platform/platform.h"

namespace platform {

static size_t Whole(size_t size)
{
    return (size + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
}

#if defined(__SANITIZE_ADDRESS__)

void *TakeHugePages(size_t size)
{
    return size == 0 || size > SIZE_MAX - HUGE_PAGE ? nullptr : aligned_alloc(HUGE_PAGE, Whole(size));
}

void GiveHugePages(void *memory, size_t)
{
    free(memory);
}

size_t KeptHugePages()
{
    return 0;
}

void ReleaseHugePages()
{
}

#else

// Kept regions by address, neighbours merged; past KEPT_MOST bytes a region goes back.
static std::mutex               kept_lock;
static std::map<char *, size_t> kept;
static size_t                   kept_bytes;
static const size_t             KEPT_MOST = 128u << 20;

// A fresh region on a huge page's start: mapped one page longer, the ends cut off.
static char *Fresh(size_t size)
{
    char *at = (char *)mmap(nullptr, size + HUGE_PAGE, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == (char *)MAP_FAILED)
        return nullptr;
    size_t lead = (HUGE_PAGE - (size_t)((uintptr_t)at % HUGE_PAGE)) % HUGE_PAGE;
    if (lead != 0)
        munmap(at, lead);
    munmap(at + lead + size, HUGE_PAGE - lead);
    madvise(at + lead, size, MADV_HUGEPAGE);
    return at + lead;
}

// The smallest kept region that holds size bytes gives its front.
void *TakeHugePages(size_t size)
{
    if (size == 0 || size > SIZE_MAX - HUGE_PAGE * 2)
        return nullptr;
    size = Whole(size);
    {
        std::lock_guard<std::mutex> hold(kept_lock);
        auto best = kept.end();
        for (auto it = kept.begin(); it != kept.end(); ++it)
            if (it->second >= size && (best == kept.end() || it->second < best->second))
                best = it;
        if (best != kept.end()) {
            char *at = best->first;
            size_t rest = best->second - size;
            kept.erase(best);
            if (rest != 0)
                kept[at + size] = rest;
            kept_bytes -= size;
            return at;
        }
    }
    return Fresh(size);
}

void GiveHugePages(void *memory, size_t size)
{
    if (memory == nullptr)
        return;
    char *at = (char *)memory;
    size = Whole(size);
    std::lock_guard<std::mutex> hold(kept_lock);
    if (kept_bytes + size > KEPT_MOST) {
        munmap(at, size);
        return;
    }
    kept_bytes += size;
    auto after = kept.find(at + size);
    if (after != kept.end()) {
        size += after->second;
        kept.erase(after);
    }
    auto it = kept.emplace(at, size).first;
    if (it != kept.begin()) {
        auto before = std::prev(it);
        if (before->first + before->second == at) {
            before->second += it->second;
            kept.erase(it);
        }
    }
}

size_t KeptHugePages()
{
    std::lock_guard<std::mutex> hold(kept_lock);
    return kept_bytes;
}

void ReleaseHugePages()
{
    std::lock_guard<std::mutex> hold(kept_lock);
    for (auto [at, size] : kept)
        munmap(at, size);
    kept.clear();
    kept_bytes = 0;
}

#endif

}  // namespace platform
