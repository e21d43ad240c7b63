// slow_share.cpp - a share that stops answering, for the archive's tests.
//
// Preloaded into the program (LD_PRELOAD), it holds every mkdir and
// rename of a path that contains ZT_SLOW_SHARE_MARK for
// ZT_SLOW_SHARE_SECONDS (300 by default) before doing it: what a network
// share that has gone away does to the calls that touch it. Every other
// path goes straight through.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

void holdIfSlow(const char *path) {
    const char *mark = std::getenv("ZT_SLOW_SHARE_MARK");
    if (!mark || !*mark || !path || !std::strstr(path, mark))
        return;
    const char *seconds = std::getenv("ZT_SLOW_SHARE_SECONDS");
    sleep(seconds ? static_cast<unsigned>(std::atoi(seconds)) : 300u);
}

} // namespace

extern "C" int mkdir(const char *path, mode_t mode) {
    holdIfSlow(path);
    auto real = reinterpret_cast<int (*)(const char *, mode_t)>(dlsym(RTLD_NEXT, "mkdir"));
    return real(path, mode);
}

extern "C" int rename(const char *from, const char *to) {
    holdIfSlow(to);
    auto real = reinterpret_cast<int (*)(const char *, const char *)>(dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}
