// Test helpers over a started engine: start and stop, and binding a file to
// a file number the way open does, before open and close exist.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct FCB;

namespace zvtest {

// Starts the engine of the current (or a new default) instance.
int start_engine(int bufs, int fils, int sect, int dbufs);
// Stops it: every open or bound file is closed first.
void stop_engine();

// Creates `path` with `size` bytes (byte i is i % 251) unless it exists,
// and binds it to file number `filno` as an open data or index file.
FCB *bind_file(int filno, const std::string &path, int kind = 0, uint16_t reclen = 100,
               bool wide = false);
// Writes back and drops its cached pages, then closes its descriptor.
void unbind_file(int filno);

// The byte pattern used by bind_file for fresh files.
std::string pattern(size_t size);

// Collects what the engine prints on its standard output while it lives
// (the stream is restored at its end).
class EngineOutput {
public:
    EngineOutput();
    ~EngineOutput();
    EngineOutput(const EngineOutput &) = delete;
    EngineOutput &operator=(const EngineOutput &) = delete;
    // Everything printed so far.
    std::string text();

private:
    FILE *saved_;
    FILE *out_;
};

}  // namespace zvtest
