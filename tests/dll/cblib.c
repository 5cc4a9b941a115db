/* A callback library for the session tests: its three entries count their
 * calls in a block that the test hands to the set entry as its argument,
 * so the counts outlive the library's unloading. */
#define ZVTEST_EXPORT __attribute__((visibility("default")))

struct cblib_calls {
    int set, end, loaded;
    void *sethandle, *setargument, *endsession;
    int endreserved;
    int answer; /* what the set entry returns */
};

static struct cblib_calls *calls;

ZVTEST_EXPORT int zvsqlSetCallback(void *handle, void *argument) {
    calls = argument;
    if (!calls) return 0;
    calls->set++;
    calls->sethandle = handle;
    calls->setargument = argument;
    return calls->answer;
}

ZVTEST_EXPORT int zvsqlEndCallback(void *session, int reserved) {
    if (!calls) return 0;
    calls->end++;
    calls->endsession = session;
    calls->endreserved = reserved;
    return 0;
}

ZVTEST_EXPORT int zvsqlCallbackLoaded(void) {
    if (calls) calls->loaded++;
    return 0;
}
