// whole_file.h - a file written through a stream and put in its place only
// when it is whole: the text goes to `name`.tmp, and finish() puts that in
// the place of `name` (platformReplaceFile), so the old file stays whole
// until the new one is. A WholeFile never finished leaves no trace: its
// temporary file is removed.
#ifndef ZORVANTIK_WHOLE_FILE_H
#define ZORVANTIK_WHOLE_FILE_H

#include <fstream>
#include <string>

class WholeFile {
public:
    enum class End { Written, WriteFailed, ReplaceFailed };

    // Opens `name`.tmp; opened() tells whether it could, why() why not.
    explicit WholeFile(std::string name);
    ~WholeFile();
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;

    bool opened() const { return opened_; }
    const std::string &why() const { return why_; }
    std::ostream &stream() { return out_; }

    // Closes the temporary file and puts it in the place of the file.
    // WriteFailed when it could not be opened or written (the system's
    // reason in `why`), ReplaceFailed when it could not take the file's
    // place; on either the temporary file is gone.
    End finish(std::string &why);

private:
    std::string name_, temporary_, why_;
    std::ofstream out_;
    bool opened_ = false, done_ = false;
};

#endif
