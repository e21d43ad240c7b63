// key_bytes.h - the keys of an input that is not a console keyboard (a
// terminal on POSIX, a pipe or a file on either system): one key a byte,
// read ahead by one when the program asks whether a key is waiting, and
// the end of the input once the input has none left.
#ifndef ZORVANTIK_KEY_BYTES_H
#define ZORVANTIK_KEY_BYTES_H

class KeyBytes {
public:
    enum class Ready { Yes, No, Ended };
    // Whether a byte can be read without waiting (Ended: never again).
    using ReadyFn = Ready (*)();
    // Reads one byte, waiting for it; false at the end of the input.
    using ReadFn = bool (*)(unsigned char &byte);

    KeyBytes(ReadyFn ready, ReadFn read) : ready_(ready), read_(read) {}

    // True when a key can be taken at once. Never true once the input has
    // ended.
    bool waiting() { return fetch(false); }

    // The next key, waiting for it; kKeyEndOfInput once the input has
    // ended.
    int take();

private:
    bool fetch(bool wait);

    ReadyFn ready_;
    ReadFn read_;
    int pending_ = -1;
    bool ended_ = false;
};

#endif
