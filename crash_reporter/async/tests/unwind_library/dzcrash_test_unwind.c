/* A chain of five calls, each with a frame of its own and work after the call, so that none is
 * inlined or turned into a jump; the innermost hands control to the test. */
#include <stdlib.h>

typedef void (*dzcrash_test_unwind_callback)(void* context);

volatile int dzcrash_test_unwind_sink;

#define LINK(name, next)                                                                                  \
    __attribute__((noinline)) int name(int value, dzcrash_test_unwind_callback callback, void* context) { \
        volatile int scratch[6];                                                                          \
        scratch[value % 6] = value;                                                                       \
        int result = next(value + 1, callback, context);                                                  \
        return result * 3 + scratch[value % 6];                                                           \
    }

__attribute__((noinline)) int dzcrash_test_unwind_5(int value, dzcrash_test_unwind_callback callback,
                                                    void* context) {
    volatile int scratch[10];
    scratch[value % 10] = value;
    callback(context);
    return scratch[value % 10] + 1;
}
LINK(dzcrash_test_unwind_4, dzcrash_test_unwind_5)
LINK(dzcrash_test_unwind_3, dzcrash_test_unwind_4)
LINK(dzcrash_test_unwind_2, dzcrash_test_unwind_3)
LINK(dzcrash_test_unwind_1, dzcrash_test_unwind_2)

/* Ends in the call to abort: its return address lies past the function's last byte. */
__attribute__((noinline)) void dzcrash_test_unwind_abort_here(int value) {
    dzcrash_test_unwind_sink = value;
    abort();
}

__attribute__((noinline)) int dzcrash_test_unwind_call_abort(int value) {
    volatile int scratch[4];
    scratch[value % 4] = value;
    dzcrash_test_unwind_abort_here(value + 1);
    return scratch[value % 4];
}
