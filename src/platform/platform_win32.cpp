// platform_win32.cpp - the platform layer on Windows.
#include "platform/platform.h"
#include "platform/key_bytes.h"
#include "platform/write_all.h"

#if ZT_PLATFORM_WIN32 /* This file is used on Windows only. */

#include <atomic>
#include <conio.h>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <string>
#include <thread>
#include <windows.h>

namespace {

bool gKeyboardIsConsole = false;                    // stdin is the console keyboard, not a pipe or file

// The system calls this on a thread of its own for Ctrl-C and Ctrl-Break,
// and when the console window is closed; each event on a new thread.
BOOL WINAPI consoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    // When the run's own end, or an earlier break, is under way and ends
    // the process, this event is taken as handled all the same.
    platformTakeBreak();
    return TRUE;
}

// A redirected stdin: one key per byte. A pipe is asked how much it holds
// (a failure: the writer closed it); a file always has its next byte or
// its end.
KeyBytes &redirectedKeys() {
    static KeyBytes keys(
        [] {
            HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
            if (GetFileType(input) != FILE_TYPE_PIPE)
                return KeyBytes::Ready::Yes;
            DWORD available = 0;
            if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr))
                return KeyBytes::Ready::Ended;
            return available > 0 ? KeyBytes::Ready::Yes : KeyBytes::Ready::No;
        },
        [](unsigned char &c) {
            DWORD read = 0;
            return ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &read, nullptr) && read == 1;
        });
    return keys;
}

FileIdentity identityOf(int fd) {
    FileIdentity id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &info)) {
        id.device = info.dwVolumeSerialNumber;
        id.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    return id;
}

bool writeAll(int fd, const std::string &data) {
    return writeAllThrough([fd](const char *p, std::size_t n) { return _write(fd, p, static_cast<unsigned>(n)); },
                           data.data(), data.size());
}

} // namespace

bool platformCreateFile(const char *name, const std::string &data, FileIdentity &identity, std::string &why) {
    int fd = _open(name, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    bool ok = writeAll(fd, data);
    if (!ok)
        why = std::strerror(errno);
    identity = identityOf(fd);
    if (_close(fd) != 0 && ok) {
        why = std::strerror(errno);
        ok = false;
    }
    return ok;
}

AppendResult platformAppendFile(const char *name, const std::string &data, FileIdentity &identity, std::string &why) {
    int fd = _open(name, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        why = std::strerror(errno);
        return AppendResult::kFailed;
    }
    long long size = _lseeki64(fd, 0, SEEK_END);
    if (!writeAll(fd, data)) {
        why = std::strerror(errno);
        if (size >= 0)
            _chsize_s(fd, size); // what did get in comes out again
        _close(fd);
        return AppendResult::kFailed;
    }
    FileIdentity now = identityOf(fd);
    if (_close(fd) != 0) {
        why = std::strerror(errno);
        return AppendResult::kFailed;
    }
    bool known = identity.device != 0 || identity.file != 0;
    bool same = now.device == identity.device && now.file == identity.file;
    identity = now;
    return !known || same ? AppendResult::kAppended : AppendResult::kReplaced;
}

void platformHoldBreaks() {
    // Installed once: the system would call a handler added twice twice.
    static std::atomic<bool> installed{false};
    if (!installed.exchange(true))
        SetConsoleCtrlHandler(consoleControl, TRUE);
}

void platformInit() {
    DWORD mode = 0;
    gKeyboardIsConsole = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
    platformHoldBreaks();
}

void platformRestoreConsole() { std::fflush(stdout); }

void platformConsoleWrite(const char *cp1251, std::size_t length) {
    std::string text(cp1251, length);
    if (!text.empty())
        CharToOemBuffA(text.data(), &text[0], static_cast<DWORD>(text.size()));
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool platformKeyWaiting() {
    if (gKeyboardIsConsole)
        return _kbhit() != 0;
    return redirectedKeys().waiting();
}

int platformReadKey() {
    if (gKeyboardIsConsole) {
        int key = _getch();
        if (key == 0 || key == 0xE0)
            key = 0x100 | _getch(); // function and arrow keys: never Escape
        return key;
    }
    return redirectedKeys().take();
}

bool platformChangeDir(const std::string &path) { return _chdir(path.c_str()) == 0; }

const char *platformDspProgramDir() { return ".\\dsp_app"; }

void platformSleepMs(unsigned milliseconds) { Sleep(milliseconds); }

std::tm platformLocalTimeAt(std::time_t t) {
    std::tm local{};
    localtime_s(&local, &t);
    return local;
}

int platformUtcOffsetMinutes(std::time_t t) {
    std::tm local = platformLocalTimeAt(t);
    return static_cast<int>((_mkgmtime(&local) - t) / 60);
}

std::string platformHostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

void platformWarn(const char *cp1251, std::size_t length) {
    std::string text(cp1251, length);
    if (!text.empty())
        CharToOemBuffA(text.data(), &text[0], static_cast<DWORD>(text.size()));
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void platformExit(int status) {
    platformRestoreConsole();
    _exit(status);
}

#include "board/qal.h"

// The function is looked up in the module that holds QAL_init: the board
// library the program was linked with. Without dllimport, QAL_init's
// address may be the program's own import stub; the library is then
// found by its name.
const char *platformBoardOrigin(std::int32_t boardLid) {
    using Origin = const char *(*)(std::int32_t);
    HMODULE library = nullptr;
    FARPROC symbol = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&QAL_init), &library))
        symbol = GetProcAddress(library, "ZT_boardOrigin");
    if (!symbol && (library = GetModuleHandleA("qal.dll")) != nullptr)
        symbol = GetProcAddress(library, "ZT_boardOrigin");
    const char *origin = symbol ? reinterpret_cast<Origin>(reinterpret_cast<void *>(symbol))(boardLid) : nullptr;
    return origin ? origin : "adapter";
}

#endif // ZT_PLATFORM_WIN32
