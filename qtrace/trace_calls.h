/*
 * trace_calls.h - what of each call of qal.h goes into a trace: its
 * arguments, the input buffers it passes and the output buffers the board
 * fills, as the table of api/qal_api.h gives them. The recorder and the
 * replay build a call the same way, so a call the program makes again
 * matches its record exactly.
 */
#ifndef ZORVANTIK_QTRACE_TRACE_CALLS_H
#define ZORVANTIK_QTRACE_TRACE_CALLS_H

#include "qal_api.h"
#include "trace_format.h"

#include <initializer_list>
#include <vector>

namespace qtrace {

/* One call: its record so far (arguments and inputs, kept inline up to
 * kInlineBytes, else by digest) and where its outputs lie. */
struct CallIo {
    struct Out {
        uint8_t arg;            /* the argument it belongs to */
        void *at;               /* the caller's memory */
        uint32_t capacity;      /* bytes there */
        const uint32_t *actual; /* when set, the bytes filled are min(*actual, capacity) after the call */

        /* The output as a buffer of the call once it has returned: its
         * argument and the bytes it filled, stored as yet in none of the
         * ways (the caller keeps them inline or in a blob). */
        Buffer filled() const;
        const uint8_t *bytes() const { return static_cast<const uint8_t *>(at); }
    };
    Call call;
    std::vector<Out> outs;

    CallIo(Function f, std::initializer_list<int32_t> args);
    CallIo &in(uint8_t arg, const void *at, uint32_t size);
    CallIo &out(uint8_t arg, void *at, uint32_t capacity, const uint32_t *actual = nullptr);
};

/* The call being made, as api/qal_api.h's table of its function says:
 * its arguments, the inputs it passes and where its outputs lie. */
CallIo callIo(const qalapi::CallArgs &args);

/* callIo<fReadRAM>(hBoard, node, address, buf, count, elementSize). */
template <uint32_t F, class... A> CallIo callIo(A... args) { return callIo(qalapi::callArgs<F>(args...)); }

} // namespace qtrace

#endif /* ZORVANTIK_QTRACE_TRACE_CALLS_H */
