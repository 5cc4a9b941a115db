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
//
// A listed swap's note (version 2):
//   "ZVSWAP" 2 0        magic and version
//   u32 count           entries, the data file's first
//   count x 3 x (u16 n, n bytes)  per entry the paths, below the note's
//                       directory, of the original, its kept second name
//                       and the new file (the last two may be empty)
//   u32                 FNV-1a of every byte before it
#include "engine/files/swapnote.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/fcb.h"
#include "engine/core/filehdr.h"
#include "engine/core/instance.h"
#include "engine/core/fileops.h"
#include "engine/core/platform.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/files/fcbops.h"
#include "engine/files/segments.h"
#include "engine/files/superfile.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr char kMagic[8] = {'Z', 'V', 'S', 'W', 'A', 'P', 1, 0};
constexpr char kListMagic[8] = {'Z', 'V', 'S', 'W', 'A', 'P', 2, 0};
constexpr size_t kNoteMax = 1024;
// A listed note: every file of a host and of its members.
constexpr size_t kListMax = size_t(1) << 22;
constexpr uint32_t kListEntries = 20000;
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

// A status-log line and the name it is about.
void log_line(const char *what, const char *name) {
    zvrcvlog(what, kLogSingleTry);
    zvrcvlog(name, kLogSingleTry);
}

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

// A name in the note's own directory at b[*at] (empty only with `empty`):
// a base name, or with `below` a path below that directory. False when it
// is none.
bool read_name(const unsigned char *b, size_t end, size_t *at, bool empty, std::string *s, bool below = false) {
    if (*at + 2 > end) return false;
    const size_t len = size_t(b[*at]) | size_t(b[*at + 1]) << 8;
    *at += 2;
    if ((len == 0 && !empty) || *at + len > end) return false;
    s->assign(reinterpret_cast<const char *>(b + *at), len);
    *at += len;
    if (s->empty()) return true;
    return below ? path_below(*s) : s->find('/') == std::string::npos && path_below(*s);
}

void put_name(std::string *body, const std::string &name) {
    body->push_back(char(name.size() & 0xFF));
    body->push_back(char(name.size() >> 8));
    body->append(name);
}

bool parse(const unsigned char *b, size_t n, Note *note) {
    if (n < 8 + 8 + 6 + 4 || memcmp(b, kMagic, 8) != 0) return false;
    if (fnv(b, n - 4) != get32(b + n - 4)) return false;
    note->oldfiles = get32(b + 8);
    note->newfiles = get32(b + 12);
    size_t at = 16;
    std::string *names[3] = {&note->own, &note->parked, &note->fresh};
    for (std::string *s : names) {
        // Base names in the note's own directory, nothing else.
        if (!read_name(b, n - 4, &at, false, s)) return false;
    }
    return at == n - 4 && note->oldfiles >= 1 && note->newfiles >= 1 && note->oldfiles <= 10000 &&
           note->newfiles <= 10000;
}


// A note begun under its working name by a process that ended before it
// was whole: its swap moved nothing, and the working file goes (unless a
// live swap holds it).
void drop_unfinished(const char *path) {
    char work[kSwapNoteName];
    if (snprintf(work, sizeof work, "%s.new", path) >= int(sizeof work)) return;
    const int fd = plat_open(work, OpenHow::ReadWrite, 0);
    if (fd < 0) return;
    if (plat_lock(fd, LockCmd::Try, LockType::Exclusive, 0, 0, nullptr, true) == 0) plat_unlink(work);
    plat_close(fd);
}

// The whole note (at most kListMax bytes): false when it cannot be read.
bool read_note(int fd, std::string *out) {
    char buf[4096];
    for (;;) {
        const int64_t got = plat_read(fd, buf, sizeof buf);
        if (got < 0) return false;
        if (got == 0) return !out->empty();
        out->append(buf, size_t(got));
        if (out->size() > kListMax) return false;
    }
}

bool parse_list(const unsigned char *b, size_t n, std::vector<SwapNote::Entry> *out) {
    if (n < 8 + 4 + 4 || memcmp(b, kListMagic, 8) != 0) return false;
    if (fnv(b, n - 4) != get32(b + n - 4)) return false;
    const uint32_t count = get32(b + 8);
    if (count == 0 || count > kListEntries) return false;
    size_t at = 12;
    out->resize(count);
    for (SwapNote::Entry &e : *out) {
        if (!read_name(b, n - 4, &at, false, &e.own, true) || !read_name(b, n - 4, &at, true, &e.parked, true) ||
            !read_name(b, n - 4, &at, true, &e.fresh, true))
            return false;
    }
    // The data file's own entry moves a new file.
    return at == n - 4 && !(*out)[0].fresh.empty();
}

// ---- Superfile members ----------------------------------------------------------

// Whether the member `name` is there: 1, 0 (12: no such member), -1 when
// it cannot be told (its host does not open).
int member_there(const std::string &name) {
    const int n = AVLFILNUM(1);
    if (n < 0) return -1;
    // Not read only: a host that this open opens serves the renames too.
    const int rc = OPNFIL(n, name.c_str(), kOpenDamaged);
    if (rc == 0) {
        iclsfilx(n, 0);
        return 1;
    }
    return rc == 12 ? 0 : -1;
}

// Opens the member `name` exclusively, as it stands: its file number, or
// -1 with the error.
int open_member(const std::string &name) {
    const int n = AVLFILNUM(1);
    if (n < 0) return -1;
    return OPNFIL(n, name.c_str(), kOpenDamaged) == 0 ? n : -1;
}

// A member's rename or delete changes its host through the page cache: the
// host's pages go to the file before the next step, so that a kill leaves
// the steps on disk in their order (the superfile rebuild finds each
// member under the name its own area holds).
int host_to_file() { return ZVFLUSH(-1); }

int rename_member(const std::string &from, const std::string &to) {
    const int n = open_member(from);
    if (n < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 12;
    const int rc = zvRENFIL(n, to.c_str());
    const int cl = iclsfilx(n, 0);
    const int fl = host_to_file();
    return rc ? rc : cl ? cl : fl;
}

void delete_member(const std::string &name) {
    const int n = open_member(name);
    if (n >= 0 && DELFIL(n) != 0) iclsfilx(n, 0);
    host_to_file();
}

bool member_name(const std::string &n) { return zvsname1(n.c_str()) != 0; }

// Finishes (or, before its first move, voids) the listed swap of the
// superfile members whose data member is `name` (the note `path`): true
// when the swap was finished.
bool finish_members(const char *name, const char *path, std::vector<SwapNote::Entry> list) {
    const std::string dir = dir_of(name);
    bool moved = false;
    for (SwapNote::Entry &e : list) {
        for (std::string *n : {&e.own, &e.parked, &e.fresh}) {
            if (!n->empty()) *n = dir + *n;
            if (!n->empty() && !member_name(*n)) return false;
        }
        // A member that cannot be looked at (its host not open: a host left
        // not closed cleanly waits for its superfile rebuild) stops here.
        const int kept = e.parked.empty() ? 0 : member_there(e.parked);
        const int fresh = e.fresh.empty() ? 1 : member_there(e.fresh);
        const int own = member_there(e.own);
        if (kept < 0 || fresh < 0 || own < 0) return false;
        // Each name stands as the swap leaves it between two steps: not
        // begun (the original under its name, the new member under its
        // own), parked, placed (the original kept or already deleted).
        // Anything else is a host whose directory lost a step: it is left
        // to the superfile rebuild.
        const bool whole = e.parked.empty() ? own != fresh || e.fresh.empty()
                                            : (own && !kept && fresh) || (!own && kept && fresh) || (own && !fresh);
        if (!whole) return false;
        moved = moved || kept || !fresh;
    }
    if (!moved) {
        // Nothing moved: the new members, which already name the originals
        // inside, go with the note.
        for (const SwapNote::Entry &e : list) {
            if (!e.fresh.empty()) delete_member(e.fresh);
        }
        log_line("Swap: the original is whole under its name, the swap's note is dropped", name);
        plat_unlink(path);
        return false;
    }
    log_line("Swap: finishing the swap of", name);
    if (int rc = member_swap_advance(list)) {
        zvrcvlog("Swap: could not finish the swap", kLogSingleTry - rc);
        return false;
    }
    member_swap_drop_kept(list);
    plat_unlink(path);
    return true;
}

// Finishes (or, before its first move, voids) the listed swap of the data
// file `name` whose note is `path`: true when the swap was finished.
bool finish_list(const char *name, const char *path, const std::vector<SwapNote::Entry> &list, bool opened) {
    const std::string dir = dir_of(name);
    auto at = [&](const std::string &base) { return dir + base; };
    bool placing = false;
    for (const SwapNote::Entry &e : list) placing = placing || (!e.fresh.empty() && !exists(at(e.fresh)));
    if (!placing) {
        // Nothing moved: every original is in place (one parked by a rename,
        // where links fail, goes back), and the new files, which carry the
        // originals' names inside, go with the note.
        for (const SwapNote::Entry &e : list) {
            if (e.parked.empty() || !exists(at(e.parked))) continue;
            if (exists(at(e.own))) plat_unlink(at(e.parked).c_str());
            else plat_rename(at(e.parked).c_str(), at(e.own).c_str());
        }
        for (const SwapNote::Entry &e : list) {
            if (!e.fresh.empty()) plat_unlink(at(e.fresh).c_str());
        }
        log_line("Swap: the original is whole under its name, the swap's note is dropped", name);
        plat_unlink(path);
        return false;
    }
    log_line("Swap: finishing the swap of", name);
    bool ok = true;
    for (const SwapNote::Entry &e : list) {
        if (!e.fresh.empty() && exists(at(e.fresh))) ok = ok && plat_rename(at(e.fresh).c_str(), at(e.own).c_str()) == 0;
    }
    // Every new file has its name: the marks go, the data file's last (an
    // open that found it whole keeps its own).
    for (size_t i = list.size(); ok && i-- > 0;) {
        if (list[i].fresh.empty() || (i == 0 && opened)) continue;
        ok = putupdflg(at(list[i].own).c_str(), 0) == 0;
    }
    if (!ok) {
        zvrcvlog("Swap: could not finish the swap", kLogSingleTry);
        return false;
    }
    for (const SwapNote::Entry &e : list) {
        if (!e.parked.empty()) plat_unlink(at(e.parked).c_str());
        if (e.fresh.empty()) plat_unlink(at(e.own).c_str());
    }
    plat_unlink(path);
    return true;
}

}  // namespace

bool path_below(const std::string &rel) {
    if (rel.empty() || rel[0] == '/' || rel.find('\0') != std::string::npos) return false;
    for (size_t at = 0; at <= rel.size();) {
        size_t slash = rel.find('/', at);
        if (slash == std::string::npos) slash = rel.size();
        const std::string part = rel.substr(at, slash - at);
        if (part.empty() || part == "." || part == "..") return false;
        at = slash + 1;
    }
    return true;
}

bool name_below(const std::string &dir, const std::string &name, std::string *rel) {
    if (dir.empty() || dir == "./") {
        *rel = name.compare(0, 2, "./") == 0 ? name.substr(2) : name;
    } else if (name.compare(0, dir.size(), dir) == 0) {
        *rel = name.substr(dir.size());
    } else {
        return false;
    }
    return path_below(*rel);
}

int SwapNote::write(const char *own, uint32_t oldfiles, const char *parked, const char *fresh, uint32_t newfiles) {
    drop();
    if (!note_name(own, name_)) {
        name_[0] = 0;
        return 139;
    }
    std::string body(kMagic, sizeof kMagic);
    put32(&body, oldfiles);
    put32(&body, newfiles);
    for (const char *n : {own, parked, fresh}) put_name(&body, base_of(n));
    return put(body);
}

int SwapNote::write_list(const char *datafile, const std::vector<Entry> &entries) {
    drop();
    if (entries.empty() || entries.size() > kListEntries || !note_name(datafile, name_)) {
        name_[0] = 0;
        return entries.empty() ? 540 : 139;
    }
    std::string body(kListMagic, sizeof kListMagic);
    put32(&body, uint32_t(entries.size()));
    const std::string dir = dir_of(datafile);
    for (const Entry &e : entries) {
        for (const std::string *n : {&e.own, &e.parked, &e.fresh}) {
            std::string rel;
            if (!n->empty() && !name_below(dir, *n, &rel)) {
                name_[0] = 0;
                return 454;
            }
            put_name(&body, rel);
        }
    }
    if (body.size() + 4 > kListMax) {
        name_[0] = 0;
        return 139;
    }
    return put(body);
}

int SwapNote::put(const std::string &text) {
    char work[kSwapNoteName];
    if (snprintf(work, sizeof work, "%s.new", name_) >= int(sizeof work)) {
        name_[0] = 0;
        return 139;
    }
    std::string body = text;
    put32(&body, fnv(reinterpret_cast<const unsigned char *>(body.data()), body.size()));
    // Written whole under a working name, locked, then renamed into place:
    // a note under its own name is always whole and always locked while
    // its swap runs.
    plat_unlink(work);
    const int fd = plat_open(work, OpenHow::CreateExclusive, 0644);
    if (fd < 0) {
        name_[0] = 0;
        return 12;
    }
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
        log_line("Swap: could not delete the swap's note", name_);
    }
    plat_close(fd_);
    fd_ = -1;
    name_[0] = 0;
}

int member_swap_advance(const std::vector<SwapNote::Entry> &entries) {
    for (const SwapNote::Entry &e : entries) {
        if (e.parked.empty()) continue;
        const int own = member_there(e.own), kept = member_there(e.parked);
        const int fresh = e.fresh.empty() ? 1 : member_there(e.fresh);
        if (own < 0 || kept < 0 || fresh < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 413;
        // The name holds the original while the new member has not moved.
        if (own && !kept && fresh) {
            if (int rc = rename_member(e.own, e.parked)) return rc;
        }
    }
    for (const SwapNote::Entry &e : entries) {
        if (e.fresh.empty()) continue;
        const int own = member_there(e.own), fresh = member_there(e.fresh);
        if (own < 0 || fresh < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 413;
        if (fresh && !own) {
            if (int rc = rename_member(e.fresh, e.own)) return rc;
        } else if (fresh) {
            return 67;  // the name is held by a member the swap does not know
        }
    }
    return 0;
}

void member_swap_undo(const std::vector<SwapNote::Entry> &entries) {
    INSTGV *g = zvWNGV;
    const uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
    for (size_t i = entries.size(); i-- > 0;) {
        const SwapNote::Entry &e = entries[i];
        if (e.fresh.empty() || member_there(e.fresh) != 0 || member_there(e.own) != 1) continue;
        if (rename_member(e.own, e.fresh)) zvrcvlog("Swap: could not put a new member back", kLogSingleTry);
    }
    for (size_t i = entries.size(); i-- > 0;) {
        const SwapNote::Entry &e = entries[i];
        if (e.parked.empty() || member_there(e.parked) != 1 || member_there(e.own) != 0) continue;
        if (rename_member(e.parked, e.own)) {
            log_line("Swap: could not restore original member name", e.own.c_str());
        }
    }
    g->uerr_cod = uerr;
    g->sysiocod = sys;
}

void member_swap_drop_kept(const std::vector<SwapNote::Entry> &entries) {
    for (const SwapNote::Entry &e : entries) {
        if (!e.parked.empty() && member_there(e.parked) == 1) delete_member(e.parked);
        if (e.fresh.empty() && member_there(e.own) == 1) delete_member(e.own);
    }
}

bool swapnote_finish(const char *name, bool opened) {
    char path[kSwapNoteName];
    if (!name || !note_name(name, path)) return false;
    const int fd = plat_open(path, OpenHow::ReadWrite, 0);
    if (fd < 0) {
        drop_unfinished(path);
        return false;
    }
    // A note locked by a description of its own belongs to a swap that runs.
    if (plat_lock(fd, LockCmd::Try, LockType::Exclusive, 0, 0, nullptr, true) != 0) {
        plat_close(fd);
        return false;
    }
    std::string text;
    if (!read_note(fd, &text)) {
        plat_close(fd);
        return false;
    }
    const auto *b = reinterpret_cast<const unsigned char *>(text.data());
    if (text.size() >= 8 && memcmp(b, kListMagic, 8) == 0) {
        std::vector<SwapNote::Entry> list;
        if (!parse_list(b, text.size(), &list) || list[0].own != base_of(name)) {
            plat_close(fd);
            return false;
        }
        bool done = false;
        if (member_name(list[0].own) != (zvsname1(name) != 0)) {
            // Members and files are never swapped together.
            plat_close(fd);
            return false;
        }
        if (member_name(list[0].own)) {
            // The host that finishing opens goes again: the open that called
            // has its file numbers chosen.
            const std::string host(name, size_t(zvsname1(name) - 1));
            const bool open = chkopnx(host.c_str()) >= 0;
            // Only a host that opens as it should, not left unclean by the
            // kill (its superfile rebuild comes first), is looked into.
            const int h0 = open ? 0 : AVLFILNUM(2);
            if (!open && (h0 < 0 || OPNFIL(h0, host.c_str(), 0) != 0)) {
                plat_close(fd);
                return false;
            }
            done = finish_members(name, path, list);
            const int h = open ? -1 : chkopnx(host.c_str());
            if (h >= 0 && open_members_of(zvWNGV->fcbtab[h]) == 0) iclsfilx(h, 0);
        } else {
            done = finish_list(name, path, list, opened);
        }
        plat_close(fd);
        return done;
    }
    Note note;
    if (text.size() >= kNoteMax || !parse(b, text.size(), &note) || note.own != base_of(name)) {
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
        log_line("Swap: the original is whole under its name, the swap's note is dropped", name);
        plat_unlink(path);
        plat_close(fd);
        return false;
    }
    log_line("Swap: finishing the swap of", name);
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
