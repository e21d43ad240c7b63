// platform_win32.cpp - the platform layer on Windows.
#include "platform/platform.h"

#if ZT_PLATFORM_WIN32 /* This file is used on Windows only. */

#include <atomic>
#include <conio.h>
#include <cstdio>
#include <direct.h>
#include <io.h>
#include <string>
#include <thread>
#include <windows.h>

namespace {

std::atomic<void (*)()> gInterruptHandler{nullptr}; // onCtrlC once installed
bool gKeyboardIsConsole = false;                    // stdin is the console keyboard, not a pipe or file
int gPendingKey = -1;                               // byte read ahead from a redirected stdin
bool gInputEnded = false;                           // redirected stdin has ended

// The system calls this on a thread of its own for Ctrl-C and Ctrl-Break.
BOOL WINAPI consoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (void (*handler)() = gInterruptHandler.load())
        handler();
    return FALSE; // no handler yet: the default action ends the process
}

// A redirected stdin: one key per byte. Without `wait`, only when a byte
// is already there (a pipe is asked how much it holds; a file always has
// its next byte or its end).
bool fetchRedirectedKey(bool wait) {
    if (gPendingKey >= 0)
        return true;
    if (gInputEnded)
        return false;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!wait && GetFileType(input) == FILE_TYPE_PIPE) {
        DWORD available = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
            gInputEnded = true; // the writer closed the pipe
            return false;
        }
        if (available == 0)
            return false;
    }
    unsigned char c = 0;
    DWORD read = 0;
    if (ReadFile(input, &c, 1, &read, nullptr) && read == 1) {
        gPendingKey = c;
        return true;
    }
    gInputEnded = true;
    return false;
}

} // namespace

void platformInit() {
    DWORD mode = 0;
    gKeyboardIsConsole = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
    SetConsoleCtrlHandler(consoleControl, TRUE);
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
    return fetchRedirectedKey(false);
}

int platformReadKey() {
    if (gKeyboardIsConsole) {
        int key = _getch();
        if (key == 0 || key == 0xE0)
            key = 0x100 | _getch(); // function and arrow keys: never Escape
        return key;
    }
    if (!fetchRedirectedKey(true))
        return kKeyEndOfInput;
    int key = gPendingKey;
    gPendingKey = -1;
    return key;
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

bool platformReplaceFile(const std::string &from, const std::string &to, std::string &why) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    why = "error " + std::to_string(GetLastError());
    return false;
}

void platformWarn(const char *cp1251, std::size_t length) {
    std::string text(cp1251, length);
    if (!text.empty())
        CharToOemBuffA(text.data(), &text[0], static_cast<DWORD>(text.size()));
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void platformSetInterruptHandler(void (*handler)()) { gInterruptHandler.store(handler); }

void platformExit(int status) {
    platformRestoreConsole();
    _exit(status);
}

#endif // ZT_PLATFORM_WIN32
