// Reports over the engine's files (see reports.cpp).
#pragma once

#include <cstdint>

struct FCB;

// The name of a file as messages show it, written only when it fits in
// size bytes with its NUL; otherwise the buffer gets an empty text. A
// superfile member shows as its host's name, " M#" and its member number
// (at least two digits); an index without a name of its own, whose host
// link is its data file, as that file's name and " DI". Nothing happens
// for a null block or buffer or a size below 1.
void izvGetFileNameFromFCB(const FCB *fcb, char *buffer, int32_t size);
