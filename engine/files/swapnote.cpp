// The note of a swap of a data file made of several physical files: see
// swapnote.h.
//
// Note layout (integers little-endian):
//   "ZVSWAP" 1 0        magic and version (8 bytes)
//   u32 oldfiles        physical files of the original
//   u32 newfiles        physical files of the new file
//   3 x (u16 n, n bytes) the base names of the data file, the original's
//                       parked name and the new file's temporary name (the
//                       three lie in one directory)
//   u32                 FNV-1a of every byte before it
#include "engine/files/swapnote.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/platform.h"
#include "engine/core/statuslog.h"
#include "engine/files/segments.h"

namespace zv {

namespace {

constexpr char kMagic[8] = {'Z', 'V', 'S', 'W', 'A', 'P', 1, 0};
constexpr size_t kNoteMax = 1024;
constexpr const char *kSuffix = ".swap";

uint32_t fnv(const unsigned char *p, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * 16777619u;
    return h;
}

void put32(std::string *s, uint32_t v) {
    for (int i = 0; i < 4; i++) s->push_back(char(v >> (8 * i)));
}

uint32_t get32(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

const char *base_of(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// The directory part of path, with its '/' ("" for a bare name).
std::string dir_of(const char *path) { return std::string(path, size_t(base_of(path) - path)); }

bool note_name(const char *datafile, char (&out)[kSwapNoteName]) {
    return snprintf(out, sizeof out, "%s%s", datafile, kSuffix) < int(sizeof out);
}

bool exists(const std::string &path) {
    PlatStat st{};
    return plat_stat(path.c_str(), &st) == 0;
}

// Physical file i of `path` (0: the file, else its segment i): empty when
// the name would be too long.
std::string physical(const std::string &path, uint32_t i) {
    char out[256];
    if (path.size() >= sizeof out || physical_name(path.c_str(), i, out)) return {};
    return out;
}

struct Note {
    uint32_t oldfiles = 0, newfiles = 0;
    std::string own, parked, fresh;  // base names
};

bool parse(const unsigned char *b, size_t n, Note *note) {
    if (n < 8 + 8 + 6 + 4 || memcmp(b, kMagic, 8) != 0) return false;
    if (fnv(b, n - 4) != get32(b + n - 4)) return false;
    note->oldfiles = get32(b + 8);
    note->newfiles = get32(b + 12);
    size_t at = 16;
    std::string *names[3] = {&note->own, &note->parked, &note->fresh};
    for (std::string *s : names) {
        if (at + 2 > n - 4) return false;
        const size_t len = size_t(b[at]) | size_t(b[at + 1]) << 8;
        at += 2;
        if (len == 0 || at + len > n - 4) return false;
        s->assign(reinterpret_cast<const char *>(b + at), len);
        // Base names in the note's own directory, nothing else.
        if (s->find('/') != std::string::npos || s->find('\0') != std::string::npos || *s == "." || *s == "..")
            return false;
        at += len;
    }
    return at == n - 4 && note->oldfiles >= 1 && note->newfiles >= 1 && note->oldfiles <= 10000 &&
           note->newfiles <= 10000;
}

}  // namespace

int SwapNote::write(const char *own, uint32_t oldfiles, const char *parked, const char *fresh, uint32_t newfiles) {
    drop();
    char work[kSwapNoteName];
    if (!note_name(own, name_) || snprintf(work, sizeof work, "%s.new", name_) >= int(sizeof work)) {
        name_[0] = 0;
        return 139;
    }
    std::string body(kMagic, sizeof kMagic);
    put32(&body, oldfiles);
    put32(&body, newfiles);
    for (const char *n : {own, parked, fresh}) {
        const char *b = base_of(n);
        const size_t len = strlen(b);
        body.push_back(char(len & 0xFF));
        body.push_back(char(len >> 8));
        body.append(b, len);
    }
    put32(&body, fnv(reinterpret_cast<const unsigned char *>(body.data()), body.size()));
    // Written whole under a working name, locked, then renamed into place:
    // a note under its own name is always whole and always locked while
    // its swap runs.
    plat_unlink(work);
    const int fd = plat_open(work, OpenHow::CreateExclusive, 0644);
    if (fd < 0) return 12;
    int rc = 0;
    if (plat_lock(fd, LockCmd::Try, LockType::Exclusive, 0, 0, nullptr, true) != 0) rc = 12;
    if (!rc && plat_write(fd, body.data(), body.size()) != int64_t(body.size())) rc = 37;
    if (!rc && plat_rename(work, name_) != 0) rc = 37;
    if (rc) {
        plat_close(fd);
        plat_unlink(work);
        name_[0] = 0;
        return rc;
    }
    fd_ = fd;
    return 0;
}

void SwapNote::drop() {
    if (fd_ < 0) return;
    // A note left behind is harmless (finishing a finished swap moves
    // nothing), but it is not left lightly: a failed delete is tried again.
    if (plat_unlink(name_) != 0 && plat_unlink(name_) != 0) {
        zvrcvlog("Swap: could not delete the swap's note", kLogSingleTry);
        zvrcvlog(name_, kLogSingleTry);
    }
    plat_close(fd_);
    fd_ = -1;
    name_[0] = 0;
}

bool swapnote_finish(const char *name, bool opened) {
    char path[kSwapNoteName];
    if (!name || !note_name(name, path)) return false;
    const int fd = plat_open(path, OpenHow::ReadWrite, 0);
    if (fd < 0) return false;
    // A note locked by a description of its own belongs to a swap that runs.
    if (plat_lock(fd, LockCmd::Try, LockType::Exclusive, 0, 0, nullptr, true) != 0) {
        plat_close(fd);
        return false;
    }
    unsigned char b[kNoteMax];
    const int64_t got = plat_read(fd, b, sizeof b);
    Note note;
    if (got <= 0 || size_t(got) >= sizeof b || !parse(b, size_t(got), &note) || note.own != base_of(name)) {
        // Not a note of this file's swap: one begun but never written whole
        // (the swap then renamed nothing), or of another file.
        plat_close(fd);
        return false;
    }
    const std::string dir = dir_of(name);
    const std::string own = dir + note.own, parked = dir + note.parked, fresh = dir + note.fresh;
    // The park is finished only while no file of the new one has moved.
    bool placing = false;
    for (uint32_t i = 0; i < note.newfiles && !placing; i++) placing = !exists(physical(fresh, i));
    // A swap stopped before its first rename left the original whole under
    // its own name, and the open that followed took it as it was: what was
    // written to it since is not in the new file. Such a note is void.
    bool parking = false;
    for (uint32_t i = 0; i < note.oldfiles && !placing && !parking; i++) {
        const std::string p = physical(parked, i);
        parking = !p.empty() && exists(p);
    }
    if (!placing && (!parking || opened)) {
        // The original opened whole: a parked name that is only its second
        // name (a link) goes with the note.
        for (uint32_t i = 0; i < note.oldfiles; i++) {
            const std::string o = physical(own, i), p = physical(parked, i);
            if (!o.empty() && !p.empty() && exists(o) && exists(p)) plat_unlink(p.c_str());
        }
        zvrcvlog("Swap: the original is whole under its name, the swap's note is dropped", kLogSingleTry);
        zvrcvlog(name, kLogSingleTry);
        plat_unlink(path);
        plat_close(fd);
        return false;
    }
    zvrcvlog("Swap: finishing the swap of", kLogSingleTry);
    zvrcvlog(name, kLogSingleTry);
    bool ok = true;
    if (!placing) {
        for (uint32_t i = 0; i < note.oldfiles && ok; i++) {
            const std::string from = physical(own, i), to = physical(parked, i);
            if (from.empty() || to.empty()) ok = false;
            else if (exists(from)) ok = plat_rename(from.c_str(), to.c_str()) == 0;
        }
    }
    // Segments first, the file itself last.
    for (uint32_t k = 1; k <= note.newfiles && ok; k++) {
        const uint32_t i = k % note.newfiles;
        const std::string from = physical(fresh, i), to = physical(own, i);
        if (from.empty() || to.empty()) ok = false;
        else if (exists(from)) ok = plat_rename(from.c_str(), to.c_str()) == 0;
    }
    if (!ok) {
        zvrcvlog("Swap: could not finish the swap", kLogSingleTry);
        plat_close(fd);
        return false;
    }
    for (uint32_t i = 0; i < note.oldfiles; i++) {
        const std::string p = physical(parked, i);
        if (!p.empty()) plat_unlink(p.c_str());
    }
    plat_unlink(path);
    plat_close(fd);
    return true;
}

}  // namespace zv
