/*
 * ini.h - the small INI dialect of the adapters' settings files: the
 * virtual board's board file and the recorder's qal-record.ini.
 *
 * `[section]` headers, `key = value` lines, whole-line comments starting
 * with ';' or '#', trailing comments after a blank (` ; like this`), blank
 * lines, CR LF line ends and a UTF-8 byte-order mark are accepted. Section
 * names and keys are case-insensitive; values are kept as written.
 *
 * A malformed line does not stop the parse: it becomes the error of the
 * section it stands in, so a reader can skip sections it does not read.
 * Lines that belong to no known section (before the first header, or after
 * a broken one) form a section with an empty name, which concerns every
 * reader.
 */
#ifndef ZORVANTIK_API_INI_H
#define ZORVANTIK_API_INI_H

#include <cstddef>
#include <string>
#include <vector>

struct IniEntry {
    std::string key;   /* lower case */
    std::string value; /* trimmed, trailing comment removed */
    int line;          /* 1-based line in the file */
};

struct IniSection {
    std::string name; /* lower case, inner blanks collapsed: "board 1"; empty: unknown */
    int line;         /* line of the header, 0 before the first one */
    std::vector<IniEntry> entries;
    int errorLine = 0; /* first malformed line of the section, 0 if none */
    std::string error; /* its complaint, "path:line: why" */
};

struct IniFile {
    std::vector<IniSection> sections; /* in file order */
};

/* "path:line: why", the one shape of every board-file complaint. */
std::string iniError(const std::string &path, int line, const std::string &why);

/* Parses `text` to its end; `path` only names the file in complaints. */
void parseIni(const std::string &text, const std::string &path, IniFile &out);

/* How reading a whole file ended. */
enum class FileRead {
    Ok,         /* the text is there */
    Missing,    /* nothing of that name */
    Unreadable, /* a directory or another thing that is no file, or opening
                   or reading it failed; the complaint says which */
    TooLong,    /* larger than the limit, told from its size: nothing read */
};

/* "path: cannot be read (why)", the complaint about a file that is there
 * but gives no text. */
std::string unreadableError(const std::string &path, const std::string &why);

/* Reads the file at `path` whole, in binary mode so CR LF files parse the
 * same on every host. Only error codes, never an exception, tell what the
 * host's file system did (memory aside): a directory where the file
 * should be is a complaint like any other. A file larger than `limit`
 * bytes is refused from its size before any of it is read. On Unreadable
 * `error` holds the complaint. */
FileRead readTextFile(const std::string &path, std::size_t limit, std::string &text, std::string &error);

/* Reads and parses the file at `path`. Missing is for callers "nothing
 * configured"; Unreadable leaves the complaint in `error`. */
FileRead readIni(const std::string &path, IniFile &out, std::string &error);

#endif /* ZORVANTIK_SIM_INI_H */
