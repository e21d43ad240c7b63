// station.h - a temporary station directory for one test, and the
// encodings the program's texts are checked in.
#ifndef ZORVANTIK_TEST_STATION_H
#define ZORVANTIK_TEST_STATION_H

#include <string>

// A fresh copy of the station template (dsp_app/, check1.cfg) in a
// temporary directory, removed afterwards. Without a board file the
// library gives every board number the built-in healthy board, unpaced.
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
std::string toCodePage(const std::string &utf8, const char *codePage); // throws when it lacks a character
std::string toCp866(const std::string &utf8);
std::string toCp1251(const std::string &utf8);
std::string asLog(const std::string &utf8);
// Bytes in a code page back to UTF-8, for readable failure messages.
std::string fromCodePage(const std::string &bytes, const char *codePage);

// A console's bytes (code page 866) as UTF-8.
std::string consoleText(const std::string &bytes);
// A log's bytes (Windows-1251, CR LF) as UTF-8 with "\n" line ends; a line
// end without its CR shows as "<LF>", so that comparisons catch it.
std::string logText(const std::string &bytes);
// The figures that differ from run to run, masked: every rate before
// " MB/c" becomes "R", and the DMA stream's status lines ("\rСостояние: ...")
// are taken out; `statusLines` (when given) receives how many there were.
std::string maskVariable(std::string text, std::size_t *statusLines = nullptr);

// How often `what` stands in `text`, and whether `text` ends with `end`.
std::size_t count(const std::string &text, const std::string &what);
bool endsWith(const std::string &text, const std::string &end);

// The pattern tests' spinner over `blocks` blocks: "\r|", "\r/", "\r-",
// "\r\\" over and over.
std::string spinner(int blocks);

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
