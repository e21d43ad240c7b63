/*
 * qal_api.cpp - the table of qal_api.h as data, the sizes of a call's
 * buffers and its -V trace line.
 */
#include "qal_api.h"

#include <cstdio>
#include <cstring>

namespace qalapi {

namespace {

using namespace rules;

/* The sizes the table gives qal.h's structures. */
static_assert(QAL_BOARD_INFO_SIZE == 280 && sizeof(BoardInfo) == 280, "BoardInfo is 280 bytes");
static_assert(sizeof(ServiceEntry) == 20, "a ServiceEntry is 20 bytes");
static_assert(sizeof(StreamStartArg) == 4, "a StreamStartArg is a word");
static_assert(sizeof(StreamBufferState) == 20, "a StreamBufferState is 20 bytes");
static_assert(offsetof(StreamBufferSetup, blockAddrs) >= 16, "a stream set-up starts with four words");

#define QAL_API_INFO(Id, Result, Name, Shows, Failure, N, Params, Buffers)                                             \
    {#Name, {QAL_API_EACH(QAL_API_SHOWS, N, Params)}, Shows[0] == 'x', int64_t(Failure), {QAL_API_UNPAREN Buffers}},

const FunctionInfo kFunctions[fFunctions] = {{"?", {}, false, -1, {}}, QAL_API(QAL_API_INFO)};

#undef QAL_API_INFO

void appendArg(std::string &line, const CallArgs &c, size_t i, const char *shows) {
    char number[32];
    int32_t v = i < c.count ? c.value[i] : 0;
    if (!std::strcmp(shows, "d") || !std::strcmp(shows, "H") || !std::strcmp(shows, "S")) {
        std::snprintf(number, sizeof number, "%d", v);
    } else if (!std::strcmp(shows, "u") || !std::strcmp(shows, "*")) {
        std::snprintf(number, sizeof number, "%u", uint32_t(v));
    } else if (!std::strcmp(shows, "x")) {
        std::snprintf(number, sizeof number, "0x%08X", uint32_t(v));
    } else if (!std::strcmp(shows, "X")) {
        std::snprintf(number, sizeof number, "0x%X", uint32_t(v));
    } else if (!v) {
        line += "NULL";
        return;
    } else if (!std::strcmp(shows, "s")) {
        if (i < c.count && c.text[i]) {
            line += '"';
            line += c.text[i];
            line += '"';
        } else {
            line += "?";
        }
        return;
    } else {
        line += shows;
        return;
    }
    line += number;
}

} // namespace

const FunctionInfo &info(uint32_t f) { return kFunctions[f < fFunctions ? f : 0]; }

int64_t bufferBytes(const BufferRule &rule, const int32_t *values, size_t count) {
    const Size &s = rule.size;
    auto at = [&](size_t i) { return i < count ? uint32_t(values[i]) : 0u; };
    switch (s.sizer) {
    case Sizer::Bytes:
        return s.n;
    case Sizer::Argument:
    case Sizer::Pointee:
        return at(s.at);
    case Sizer::Entries:
        return int32_t(at(s.at)) > 0 ? int64_t(uint32_t(at(s.at) * s.n)) : 0;
    case Sizer::RamBlock: /* in 32 bits, as the adapters count */
        return at(s.at + 1) == 4 ? int64_t(uint32_t(at(s.at) * 4)) : at(s.at + 1) == 1 ? int64_t(at(s.at)) : 0;
    case Sizer::StreamCtrl:
        switch (at(s.at)) {
        case QALctrl_STREAM_CBUF_ALLOC: /* direction, channel, count, size in; the size the board chose out */
            return 16;
        case QALctrl_STREAM_CBUF_FREE:
            return rule.out ? -1 : 16;
        case QALctrl_STREAM_CBUF_START:
            return rule.out ? -1 : int64_t(sizeof(StreamStartArg));
        case QALctrl_STREAM_CBUF_STATE:
            return sizeof(StreamBufferState);
        default:
            return -1;
        }
    case Sizer::Text:
    case Sizer::Texts:
        break;
    }
    return -1;
}

std::string traceLine(const CallArgs &c, int32_t result, bool withResult) {
    const FunctionInfo &f = info(c.function);
    std::string line = std::string(f.name) + "(";
    for (size_t i = 0; i < f.args.size(); ++i) {
        if (i)
            line += ", ";
        appendArg(line, c, i, f.args[i]);
    }
    line += ")";
    if (withResult) {
        char text[32];
        if (f.hexResult)
            std::snprintf(text, sizeof text, " = 0x%08X", uint32_t(result));
        else
            std::snprintf(text, sizeof text, " = %d", result);
        line += text;
    }
    return line;
}

} // namespace qalapi
