// Error setters, the status log "ZVSTATUS.QVS" and the fatal path.
#pragma once

#include <cstdio>

#include "zarvo/zarvo.h"

namespace zv {

// Name of the status log, opened in the current directory.
constexpr const char *kStatusLogName = "ZVSTATUS.QVS";
// Codes with a special meaning to the log writer.
constexpr int kLogBareMessage = 30987;  // write the message alone
constexpr int kLogTouchOnly = 30988;    // create the log, write nothing
constexpr int kLogSingleTry = -199;     // codes <= this: single open attempt

// Opens a text stream for appending, retrying `retries` times after freeing a
// descriptor (a negative count gives up at once). Null on failure.
FILE *zvgetstream(const char *name, const char *mode, int retries);
// Opens the status log for appending, as a name the engine makes up (see
// statuslog.cpp), retrying `retries` times after freeing a descriptor while
// descriptors run short (a negative count gives up at once). Null when it
// does not open.
FILE *open_status_log(int retries);

// The shutdown signal (async-signal-safe): sets the engine's shutdown flag
// and leaves the signal to be logged by the next status-log entry as
// "shutdown loop signal received = " with the signal number as code.
void note_shutdown_signal(int sig);
// True once a shutdown signal arrived (cleared by the fatal path).
bool shutdown_flag();
// Test support: clears the flag and any signal not yet logged.
void clear_shutdown_flag();

// Sets uerr_cod and sysiocod of the current instance together; returns code.
int set_error(int code, int syscode);

}  // namespace zv
