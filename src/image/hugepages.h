#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>

// Gives `advice` to the whole `align`-sized stretches inside a buffer. A hint: errors are fine.
inline void adviseInside(void *buffer, std::size_t size, std::uintptr_t align, int advice)
{
    const auto start = reinterpret_cast<std::uintptr_t>(buffer);
    const std::uintptr_t begin = (start + align - 1) & ~(align - 1);
    const std::uintptr_t end = (start + size) & ~(align - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, advice);
}

// A large buffer written once from start to end spends most of its time in the kernel handing
// out and clearing 4 KiB pages (some 15 µs each in a virtual machine: 250 ms for a 64 MiB
// image). Asking for 2 MiB pages on it, where the system offers them, cuts that cost many
// times; nothing else changes. Only whole 2 MiB stretches inside the buffer are advised.
inline void adviseHugePages(void *buffer, std::size_t size)
{
#ifdef MADV_HUGEPAGE
    adviseInside(buffer, size, std::uintptr_t(2) << 20, MADV_HUGEPAGE);
#else
    (void)buffer;
    (void)size;
#endif
}

// Prepares a large buffer not yet touched: huge pages where the system grants them, and with
// `populate` every page mapped in one call. Touching fresh pages one by one costs a fault each,
// and for the hundreds of megabytes a 64 MiB image's HEX text takes, those faults cost more than
// the reading. Buffers under 256 KiB are left alone.
inline void prefault(void *buffer, std::size_t size, bool populate)
{
    if (size < (std::size_t(256) << 10))
        return;
    adviseHugePages(buffer, size);
#ifdef MADV_POPULATE_WRITE
    if (populate)
        adviseInside(buffer, size, 4096, MADV_POPULATE_WRITE);
#else
    (void)populate;
#endif
}

// A buffer of `size` bytes, not yet touched, about to be written whole; throws std::bad_alloc.
inline QByteArray freshBuffer(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    prefault(bytes.data(), std::size_t(size), true);
    return bytes;
}
