// Large blocks (a picture's DIB, its file's bytes) on transparent huge pages.
//
// A 4096 x 4096 picture is 16 MiB; taken from the system in 4 KiB pages it
// costs four thousand page faults, which on a virtual machine outweigh
// reading the file. The kernel here only gives huge pages to memory that asks
// for them (MADV_HUGEPAGE), and the allocator does not ask, so the converter
// supplies the global operator new: blocks of 4 MiB and more get a 2 MiB
// aligned mapping of their own with that advice; everything else goes to
// malloc as before. Left out under the sanitizers, which supply their own.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define QUOLB_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUOLB_SANITIZED 1
#endif

#if defined(__linux__) && !defined(QUOLB_SANITIZED)

#include <sys/mman.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

constexpr std::size_t hugePage = std::size_t{2} << 20;
constexpr std::size_t bigBlock = std::size_t{4} << 20;

struct Mapping {
    void* start = nullptr;
    std::size_t length = 0;
};

// The converter holds a few big blocks at a time; when the table is full a
// block simply comes from malloc.
std::array<Mapping, 16> mappings;
std::atomic<int> mappingCount{0};
std::mutex mappingLock;

std::size_t roundUp(std::size_t value, std::size_t step) { return (value + step - 1) / step * step; }

void* mapBig(std::size_t size) {
    const std::size_t length = roundUp(size, hugePage);
    if (length < size) return nullptr;
    const std::lock_guard<std::mutex> guard(mappingLock);
    Mapping* slot = nullptr;
    for (Mapping& m : mappings)
        if (!m.start) {
            slot = &m;
            break;
        }
    if (!slot) return nullptr;
    // Map a huge page more than needed and trim, so the block starts on a
    // huge-page boundary.
    void* raw = mmap(nullptr, length + hugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto rawAddress = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t address = roundUp(rawAddress, hugePage);
    if (address > rawAddress) munmap(raw, address - rawAddress);
    if (address + length < rawAddress + length + hugePage)
        munmap(reinterpret_cast<void*>(address + length), rawAddress + hugePage - address);
    void* block = reinterpret_cast<void*>(address);
    // Only the whole huge pages the block fills: a huge page for its last
    // few bytes would count 2 MiB against the process for nothing.
    madvise(block, size / hugePage * hugePage, MADV_HUGEPAGE);
    *slot = {block, length};
    mappingCount.fetch_add(1, std::memory_order_relaxed);
    return block;
}

bool unmapBig(void* block) {
    if (mappingCount.load(std::memory_order_relaxed) == 0) return false;
    const std::lock_guard<std::mutex> guard(mappingLock);
    for (Mapping& m : mappings)
        if (m.start == block) {
            munmap(m.start, m.length);
            m = {};
            mappingCount.fetch_sub(1, std::memory_order_relaxed);
            return true;
        }
    return false;
}

}  // namespace

void* operator new(std::size_t size) {
    if (size >= bigBlock)
        if (void* block = mapBig(size)) return block;
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    if (block && !unmapBig(block)) std::free(block);
}

void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

#endif
