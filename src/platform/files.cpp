// files.cpp - a file written whole or not at all. The one platform service
// zorvantik-report needs too, so it is built apart from the console and
// the breaks (into zt_report, which both programs link).
#include "platform/platform.h"
#include "platform/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#if ZT_PLATFORM_WIN32
#include <windows.h>
#endif

bool platformReplaceFile(const std::string &from, const std::string &to, std::string &why) {
#if ZT_PLATFORM_WIN32
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    why = "error " + std::to_string(GetLastError());
#else
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return true;
    why = std::strerror(errno);
#endif
    return false;
}

bool platformWriteWhole(const std::string &name, const std::string &text, std::string &why) {
    std::string temporary = name + ".tmp";
    std::FILE *file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        why = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (!ok)
        why = std::strerror(errno);
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (ok && !platformReplaceFile(temporary, name, why))
        ok = false;
    if (!ok)
        std::remove(temporary.c_str());
    return ok;
}

WholeFile::WholeFile(std::string name) : name_(std::move(name)), temporary_(name_ + ".tmp") {
    out_.open(temporary_, std::ios::binary | std::ios::trunc);
    opened_ = static_cast<bool>(out_);
    if (!opened_)
        why_ = std::strerror(errno);
}

WholeFile::~WholeFile() {
    if (done_)
        return;
    out_.close();
    std::remove(temporary_.c_str());
}

WholeFile::End WholeFile::finish(std::string &why) {
    done_ = true;
    if (!opened_) {
        why = why_;
        std::remove(temporary_.c_str());
        return End::WriteFailed;
    }
    out_.close();
    if (!out_) {
        why = std::strerror(errno);
        std::remove(temporary_.c_str());
        return End::WriteFailed;
    }
    if (!platformReplaceFile(temporary_, name_, why)) {
        std::remove(temporary_.c_str());
        return End::ReplaceFailed;
    }
    return End::Written;
}
