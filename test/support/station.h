// station.h - a temporary station directory for one test, and the
// encodings the program's texts are checked in.
#ifndef ZORVANTIK_TEST_STATION_H
#define ZORVANTIK_TEST_STATION_H

#include <string>

// A fresh copy of the station template (dsp_app/, check1.cfg,
// virtual-board.ini) in a temporary directory, removed afterwards.
class TempStation {
public:
    explicit TempStation(bool fromTemplate = true);
    ~TempStation();
    TempStation(const TempStation &) = delete;
    TempStation &operator=(const TempStation &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    void write(const std::string &name, const std::string &content) const;
    std::string read(const std::string &name) const; // "" when missing
    bool exists(const std::string &name) const;
    void remove(const std::string &name) const;

private:
    std::string path_;
};

// The UTF-8 text as the console shows it (code page 866) and as the logs
// hold it (Windows-1251, every "\n" as CR LF). Converted with the C
// library's iconv, independently of the program's own tables.
std::string toCp866(const std::string &utf8);
std::string toCp1251(const std::string &utf8);
std::string asLog(const std::string &utf8);
// Bytes in a code page back to UTF-8, for readable failure messages.
std::string fromCodePage(const std::string &bytes, const char *codePage);

// Puts runState back to its start and names the logs of board 1, as the
// driver would before the first message.
void freshRunState();

// Switches the current directory for the lifetime of the object.
class ScopedDir {
public:
    explicit ScopedDir(const std::string &dir);
    ~ScopedDir();

private:
    std::string saved_;
};

#endif // ZORVANTIK_TEST_STATION_H
