// write_all.h - all of a buffer through a system's write call, which may
// take only part of it at a time.
#ifndef ZORVANTIK_WRITE_ALL_H
#define ZORVANTIK_WRITE_ALL_H

#include <cerrno>
#include <cstddef>

// Writes the `size` bytes at `data` through `writeSome(p, n)`, which
// returns how many of the n bytes at p it wrote, or -1 with errno set;
// again after an interrupted call. False with errno set at the first
// failure (ENOSPC for a write that took nothing).
template <class WriteSome> bool writeAllThrough(WriteSome writeSome, const char *data, std::size_t size) {
    while (size > 0) {
        auto n = writeSome(data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

#endif
