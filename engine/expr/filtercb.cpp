// Sample record-filter callbacks. The text printed is cut at 200 bytes.
#include "engine/expr/filtercb.h"

#include "zarvo/zarvo.h"

extern "C" {

int zvfiltercb_init(const char *text) {
    zvrt_printf(" zvfiltercb_init: %.200s\n", text ? text : "");
    return 1;
}

int zvfiltercb(const char *text, ...) {
    zvrt_printf(" zvfiltercb: %.200s\n", text ? text : "");
    return 1;
}

int zvfiltercb_uninit(const char *text) {
    zvrt_printf(" zvfiltercb_uninit: %.200s\n", text ? text : "");
    return 1;
}

}  // extern "C"
