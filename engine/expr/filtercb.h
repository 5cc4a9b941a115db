// Sample record-filter callbacks of callback filters (texts beginning with
// "@"): each reports its call with the callback text on the engine's
// standard output and lets every record pass.
#pragma once

extern "C" {
// " zvfiltercb_init: <text>"; 1.
int zvfiltercb_init(const char *text);
// " zvfiltercb: <text>"; 1 (the record passes). The further arguments are
// the record and its layout, which the sample does not read.
int zvfiltercb(const char *text, ...);
// " zvfiltercb_uninit: <text>"; 1.
int zvfiltercb_uninit(const char *text);
}
