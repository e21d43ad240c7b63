/*
 * trace_calls.cpp - the calls of qal.h as traces keep them (see
 * trace_calls.h).
 */
#include "trace_calls.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace qtrace {

CallIo::CallIo(Function f, std::initializer_list<int32_t> args) {
    call.function = f;
    call.args = args;
}

CallIo &CallIo::in(uint8_t arg, const void *at, uint32_t size) {
    if (!at)
        return *this;
    Buffer b;
    b.arg = arg;
    b.size = size;
    if (size <= kInlineBytes) {
        const uint8_t *p = static_cast<const uint8_t *>(at);
        b.bytes = std::make_shared<const std::vector<uint8_t>>(p, p + size);
    } else {
        b.storage = Storage::Digest;
        b.digest = digest(at, size);
    }
    call.buffers.push_back(std::move(b));
    return *this;
}

CallIo &CallIo::out(uint8_t arg, void *at, uint32_t capacity, const uint32_t *actual) {
    if (at)
        outs.push_back({arg, at, capacity, actual});
    return *this;
}

Buffer CallIo::Out::filled() const {
    Buffer b;
    b.arg = arg;
    b.out = true;
    b.size = actual ? std::min(*actual, capacity) : capacity;
    return b;
}

namespace {

/* The strings of an argv as one input, each with its NUL. */
std::string joined(int32_t argc, const void *argv) {
    std::string all;
    char *const *strings = static_cast<char *const *>(argv);
    for (int32_t i = 0; i < argc; ++i)
        all += std::string(strings[i] ? strings[i] : "") + '\0';
    return all;
}

} // namespace

CallIo callIo(const qalapi::CallArgs &a) {
    CallIo io(Function(a.function), {});
    io.call.args.assign(a.value, a.value + a.count);
    for (const qalapi::BufferRule &rule : shape(a.function).buffers) {
        const void *at = rule.arg < a.count ? a.pointer[rule.arg] : nullptr;
        if (!at)
            continue;
        if (rule.size.sizer == qalapi::Sizer::Text) {
            io.in(rule.arg, at, uint32_t(std::strlen(static_cast<const char *>(at)) + 1));
            continue;
        }
        if (rule.size.sizer == qalapi::Sizer::Texts) {
            std::string all = joined(rule.size.at < a.count ? a.value[rule.size.at] : 0, at);
            io.in(rule.arg, all.data(), uint32_t(all.size()));
            continue;
        }
        int64_t bytes = qalapi::bufferBytes(rule, a.value, a.count);
        if (bytes < 0)
            continue;
        if (!rule.out) {
            io.in(rule.arg, at, uint32_t(bytes));
        } else {
            const uint32_t *filled = rule.size.sizer == qalapi::Sizer::Pointee
                                         ? static_cast<const uint32_t *>(a.pointer[rule.size.at])
                                         : nullptr;
            io.out(rule.arg, const_cast<void *>(at), uint32_t(bytes), filled);
        }
    }
    return io;
}

} // namespace qtrace
