// The recovery log of a master-key change: its writer, and its replay at
// start-up (see recovlog.cpp for the entry layout).
#pragma once

#include <cstdint>

namespace zv {

// Entry types.
enum : int8_t {
    kRecOldImage = 1,   // intermediate: only the old image is set
    kRecKeyBlock = 2,   // old and new image of a key block
    kRecFiles = 3,      // two files: the named one and its replacement
    kRecTranno = 4,     // first entry: "undo" or "redo" and the transaction number
    kRecDelete = 5,     // a file to delete when the change is undone
    kRecKeyStore = 6,   // a key-store change (not supported)
};

// Bytes of an entry before its data, and of its name field.
constexpr uint32_t kRecHeader = 268;
constexpr uint32_t kRecName = 255;
// A-word of a type-2 entry that marks a transaction-log image.
constexpr uint32_t kRecTranLogImage = 0xFFFFFFFFu;

// The log's name.
constexpr const char *kRecovLog = "CMPRECOV.QVS";

struct RecovCtx;

// Each returns 0 or an error code, with a message naming the routine in
// the context's message buffer.
int zvcmprecovInit(RecovCtx **out, char *msg, int32_t size);
int zvcmprecovResetBuffer(RecovCtx *ctx);
int zvcmprecovSetFileName(RecovCtx *ctx, const char *name);
int zvcmprecovSetOffset(RecovCtx *ctx, uint32_t a, uint32_t b);
// which 0: the old image (type 1); which 1: the new image, of the same
// length, behind it (type 2).
int zvcmprecovSetImage(RecovCtx *ctx, const void *image, uint32_t len, int which);
int zvcmprecovAppendData(RecovCtx *ctx, const void *data, uint32_t len);
// Appends the entry to the log (opened, and truncated, on first use),
// forces it to disk, and resets the buffer.
int zvcmprecovWriteLog(RecovCtx *ctx);
int zvcmprecovSaveTranno(RecovCtx *ctx, uint64_t tranno);
// A type-6 entry after writing the new verification file "CMPRECOVA.QVS".
int zvcmprecovSaveKeyChange(RecovCtx *ctx, const char *pw, int32_t len);
// A type-3 entry: the contents of both files, so that the named file
// (first) can be put back or replaced by the second. With `missing_ok` a
// first file that does not exist is saved as empty, which an undo turns
// back into no file.
int zvcmprecovSaveFile(RecovCtx *ctx, const char *first, const char *second, bool missing_ok = false);
// A type-5 entry: the file is deleted (mode 2 when flag is 1) by an undo.
int zvcmprecovSaveDelete(RecovCtx *ctx, int flag, const char *name);
// Rewrites the first entry's name ("undo" or "redo") in place and forces
// it to disk: the change's commit point.
int zvcmprecovSetStatus(RecovCtx *ctx, const char *status);
// Closes the log (forced to disk first unless it is to go), frees the
// context and clears *ctx; with del and a log written, marks the log files
// for deletion.
void zvcmprecovFree(RecovCtx **ctx, int del);
// Deletes the marked log files and clears the mark.
void zvcmprecovFinish();

// Replays a pending log at start-up: 0 (nothing pending, or replayed and
// deleted), or an error code with a message in msg.
int zvcmprecovReplay(char *msg, int32_t size);

// Writes len bytes of an image at offset `at` of the named file, forced to
// disk (the key blocks lie in the file's clear part). 0, or 749 with a
// message naming `who`.
int recov_put_image(const char *name, uint64_t at, const void *image, uint32_t len, char *msg, int32_t size);

// The log's name and its companion's after the instance's name conversion
// (room for 256 bytes each).
void recov_names(char *log, char *newmaster);

// ---- Test support (not exported) -----------------------------------------
// Whether a key change writes its recovery log (on by default).
void recov_set_logging(bool on);
bool recov_logging();

}  // namespace zv
