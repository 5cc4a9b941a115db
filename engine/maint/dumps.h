// Debug dumps (see dumps.cpp); the public calls are declared in zarvo.h.
#pragma once

struct NODEBUF;

namespace zv {

// The node buffer the last dump showed, for a debugger; null before one.
extern NODEBUF *buf;

}  // namespace zv
