// The note of a swap of a data file made of several physical files, or of
// every file of a set: see swapnote.h.
//
// The single note (version 3; version 1, without the id, is still read):
//   "ZVSWAP" 3 0        magic and version (8 bytes)
//   u32 oldfiles        physical files of the original
//   u32 newfiles        physical files of the new file
//   3 x u32             the new file's id: its header's file id number,
//                       server id and creation time
//   3 x (u16 n, n bytes) the base names of the data file, the original's
//                       parked name and the new file's temporary name (the
//                       three lie in one directory)
//   u32                 FNV-1a of every byte before it
//
// A listed swap's note (version 4; version 2, without the ids, is still
// read):
//   "ZVSWAP" 4 0        magic and version
//   u32 count           entries, the data file's first
//   count x (3 x (u16 n, n bytes), 3 x u32)  per entry the paths, below
//                       the note's directory, of the original, its kept
//                       second name and the new file (the last two may be
//                       empty), then the new file's id (0s: none; a
//                       superfile member has none)
//   u32                 FNV-1a of every byte before it
//
// The check value tells a damaged note, not a planted one: whoever can
// write a note can compute it. What keeps a note to its own set is the
// finisher's look at the files themselves (invariant 5 of swapnote.h).
#include "engine/files/swapnote.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>

#include "engine/core/fcb.h"
#include "engine/core/filehdr.h"
#include "engine/core/filehold.h"
#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/files/fcbops.h"
#include "engine/files/open.h"
#include "engine/files/segments.h"
#include "engine/files/superfile.h"
#include "engine/isam/isam_services.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr char kMagic[6] = {'Z', 'V', 'S', 'W', 'A', 'P'};
constexpr uint8_t kSingleOld = 1, kListOld = 2, kSingle = 3, kList = 4;
constexpr size_t kNoteMax = 1024;
// A listed note: every file of a host and of its members.
constexpr size_t kListMax = size_t(1) << 22;
constexpr uint32_t kListEntries = 20000;
constexpr uint32_t kPhysicalMax = 10000;
constexpr const char *kSuffix = ".swap";
constexpr uint32_t kFlmode2Auto = 0x00200000;  // automatic segments

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

// Whether two directory parts name one directory as written ("" and "./"
// are the working directory).
bool same_dir(std::string a, std::string b) {
    if (a.empty()) a = "./";
    if (b.empty()) b = "./";
    return a == b;
}

// A status-log line and the name it is about.
void log_line(const char *what, const std::string &name) {
    zvrcvlog(what, kLogSingleTry);
    zvrcvlog(name.c_str(), kLogSingleTry);
}

bool note_name(const char *datafile, char (&out)[kSwapNoteName]) {
    return snprintf(out, sizeof out, "%s%s", datafile, kSuffix) < int(sizeof out);
}

// Physical file i of `path` (0: the file, else its segment i): empty when
// the name would be too long.
std::string physical(const std::string &path, uint32_t i) {
    char out[256];
    if (path.size() >= sizeof out || physical_name(path.c_str(), i, out)) return {};
    return out;
}

std::string magic(uint8_t version) {
    std::string m(kMagic, sizeof kMagic);
    m.push_back(char(version));
    m.push_back(0);
    return m;
}

void put_name(std::string *body, const std::string &name) {
    body->push_back(char(name.size() & 0xFF));
    body->push_back(char(name.size() >> 8));
    body->append(name);
}

// A kept name as temp_beside draws it: 'Z' and seven hexadecimal digits.
bool temp_form(const std::string &base) {
    if (base.size() != 8 || base[0] != 'Z') return false;
    for (size_t i = 1; i < base.size(); i++) {
        if (!strchr("0123456789ABCDEF", base[i]) || !base[i]) return false;
    }
    return true;
}

// Whether `kept` is a kept name drawn beside `own` (both paths below the
// note's directory).
bool kept_beside(const std::string &own, const std::string &kept) {
    return same_dir(dir_of(own.c_str()), dir_of(kept.c_str())) && temp_form(base_of(kept.c_str()));
}

// A kept member name as the swap of members draws it: the host, '!',
// "zvk" and eight hexadecimal digits.
bool kept_member(const std::string &hostpart, const std::string &kept) {
    if (kept.size() != hostpart.size() + 11 || kept.compare(0, hostpart.size(), hostpart) != 0) return false;
    if (kept.compare(hostpart.size(), 3, "zvk") != 0) return false;
    for (size_t i = hostpart.size() + 3; i < kept.size(); i++) {
        if (!strchr("0123456789ABCDEF", kept[i]) || !kept[i]) return false;
    }
    return true;
}

struct NoteEntry {
    std::string own, parked, fresh;
    uint32_t id[3] = {};
};

struct Note {
    bool listed = false;
    bool ids = false;  // the note keeps its new files' ids
    uint32_t oldfiles = 1, newfiles = 1;
    std::vector<NoteEntry> list;  // the single note: one entry
};

// A name in the note's own directory at b[*at] (empty only with `empty`):
// a base name, or with `below` a path below that directory. False when it
// is none.
bool read_name(const unsigned char *b, size_t end, size_t *at, bool empty, std::string *s, bool below) {
    if (*at + 2 > end) return false;
    const size_t len = size_t(b[*at]) | size_t(b[*at + 1]) << 8;
    *at += 2;
    if ((len == 0 && !empty) || *at + len > end) return false;
    s->assign(reinterpret_cast<const char *>(b + *at), len);
    *at += len;
    if (s->empty()) return true;
    return below ? path_below(*s) : s->find('/') == std::string::npos && path_below(*s);
}

bool read_id(const unsigned char *b, size_t end, size_t *at, uint32_t (&id)[3]) {
    if (*at + 12 > end) return false;
    for (int i = 0; i < 3; i++) id[i] = get32(b + *at + 4 * size_t(i));
    *at += 12;
    return true;
}

bool parse(const unsigned char *b, size_t n, Note *note) {
    if (n < 8 + 4 + 4 || memcmp(b, kMagic, sizeof kMagic) != 0 || b[7] != 0) return false;
    if (fnv(b, n - 4) != get32(b + n - 4)) return false;
    const uint8_t version = b[6];
    const size_t end = n - 4;
    size_t at = 8;
    if (version == kSingleOld || version == kSingle) {
        if (n >= kNoteMax || at + 8 > end) return false;
        note->oldfiles = get32(b + at);
        note->newfiles = get32(b + at + 4);
        at += 8;
        NoteEntry e;
        note->ids = version == kSingle;
        if (note->ids && !read_id(b, end, &at, e.id)) return false;
        for (std::string *s : {&e.own, &e.parked, &e.fresh}) {
            // Base names in the note's own directory, nothing else.
            if (!read_name(b, end, &at, false, s, false)) return false;
        }
        note->list.push_back(std::move(e));
        return at == end && note->oldfiles >= 1 && note->newfiles >= 1 && note->oldfiles <= kPhysicalMax &&
               note->newfiles <= kPhysicalMax;
    }
    if (version != kListOld && version != kList) return false;
    const uint32_t count = get32(b + at);
    at += 4;
    if (count == 0 || count > kListEntries) return false;
    note->listed = true;
    note->ids = version == kList;
    note->list.resize(count);
    for (NoteEntry &e : note->list) {
        if (!read_name(b, end, &at, false, &e.own, true) || !read_name(b, end, &at, true, &e.parked, true) ||
            !read_name(b, end, &at, true, &e.fresh, true))
            return false;
        if (note->ids && !read_id(b, end, &at, e.id)) return false;
    }
    // The data file's own entry moves a new file.
    return at == end && !note->list[0].fresh.empty();
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

// The note's directory, reached once by a descriptor (the path to it may
// hold links): every name the note acts on is reached from it one
// component at a time, and a symbolic link, or anything but a directory on
// the way, is refused rather than followed.
class Below {
public:
    enum class Is { Missing, File, Other };
    explicit Below(const std::string &dir)
        : fd_(plat_openat(kAtWorkingDir, dir.empty() ? "." : dir.c_str(), AtHow::DirectoryFollowed)) {}
    ~Below() {
        if (fd_ >= 0) plat_close(fd_);
    }
    Below(const Below &) = delete;
    Below &operator=(const Below &) = delete;
    bool ok() const { return fd_ >= 0; }
    // What the name rel holds: nothing, a regular file (its status into
    // *st), or anything else (a link, a directory, a FIFO, a link on the
    // way, a name that cannot be looked at).
    Is look(const std::string &rel, PlatStat *st = nullptr) {
        std::string leaf;
        const int at = reach(rel, &leaf);
        if (at < 0) return errno == ENOENT ? Is::Missing : Is::Other;
        PlatStat s{};
        const int rc = plat_fstatat(at, leaf.c_str(), &s);
        const int err = errno;
        let_go(at);
        if (rc != 0) return err == ENOENT ? Is::Missing : Is::Other;
        if (st) *st = s;
        return s.is_regular ? Is::File : Is::Other;
    }
    // The regular file rel opened read-write without blocking: its
    // descriptor, or -1 with errno (ENOENT: missing).
    int open(const std::string &rel) {
        std::string leaf;
        const int at = reach(rel, &leaf);
        if (at < 0) return -1;
        const int fd = plat_openat(at, leaf.c_str(), AtHow::Regular);
        const int err = errno;
        let_go(at);
        errno = err;
        return fd;
    }
    int rename(const std::string &from, const std::string &to) {
        std::string a, b;
        const int at = reach(from, &a);
        if (at < 0) return -1;
        const int bt = reach(to, &b);
        int rc = -1;
        if (bt >= 0) rc = plat_renameat(at, a.c_str(), bt, b.c_str());
        let_go(at);
        if (bt >= 0) let_go(bt);
        return rc;
    }
    int unlink(const std::string &rel) {
        std::string leaf;
        const int at = reach(rel, &leaf);
        if (at < 0) return -1;
        const int rc = plat_unlinkat(at, leaf.c_str());
        let_go(at);
        return rc;
    }

private:
    // The directory that holds rel's last component, opened down from the
    // note's directory without following a link, and that component: the
    // descriptor (let go by let_go), or -1 with errno.
    int reach(const std::string &rel, std::string *leaf) {
        if (fd_ < 0 || !path_below(rel)) {
            errno = EINVAL;
            return -1;
        }
        int at = fd_;
        for (size_t from = 0;;) {
            const size_t slash = rel.find('/', from);
            if (slash == std::string::npos) {
                *leaf = rel.substr(from);
                return at;
            }
            const int next = plat_openat(at, rel.substr(from, slash - from).c_str(), AtHow::Directory);
            const int err = errno;
            let_go(at);
            if (next < 0) {
                errno = err;
                return -1;
            }
            at = next;
            from = slash + 1;
        }
    }
    void let_go(int at) {
        if (at != fd_) plat_close(at);
    }
    int fd_;
};

bool same_id(const uint32_t (&a)[3], const uint32_t (&b)[3]) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

// A file the note names, as the finisher found it once it held it.
struct Seen {
    bool there = false;
    bool engine = false;  // its header is an engine file's
    HeaderFacts h;
    uint64_t dev = 0, ino = 0;
};

bool is_data(const Seen &s) { return s.engine && s.h.clstyp != kKindIndex && s.h.sfiltyp == kSfPlain; }
bool is_index(const Seen &s) { return s.engine && s.h.clstyp == kKindIndex && s.h.sfiltyp == kSfPlain; }
bool auto_segmented(const Seen &s) {
    return is_data(s) && (s.h.hdrflags & kHdrSegmented) && (s.h.flmode2 & kFlmode2Auto);
}
bool partition_host(const Seen &s) { return is_data(s) && (s.h.flmode2 & kFlmode2PartHost); }

// Why a note is refused.
constexpr const char *kNotSet = "Swap: the swap's note is refused, it names a file that is not its set's:";
constexpr const char *kNotFile = "Swap: the swap's note is refused, a name in it is a link or no file:";
constexpr const char *kHeld = "Swap: the swap's note is refused, another open holds a file it names:";
constexpr const char *kKind = "Swap: the swap's note is refused, its data file is not of its kind:";
constexpr const char *kNotNew =
    "Swap: the swap's note is refused, a new file it names is not the swap's (not marked, or another):";
constexpr const char *kNoteBad = "Swap: the swap's note is refused, it is damaged or no file of its own:";

// Finishes (or voids) the swap of one note: holds the file the note stands
// beside, reads the note, checks every name it holds and holds every file
// it names, then acts; any refusal changes nothing. The holds go when it
// ends.
class Finisher {
public:
    Finisher(const char *name, int filno) : name_(name), filno_(filno), member_(zvsname1(name) != 0) {
        // A member's note stands beside its host, in the host's directory.
        const std::string host = member_ ? std::string(name, size_t(zvsname1(name) - 1)) : std::string(name);
        dirpart_ = dir_of(host.c_str());
        base_ = name_.substr(dirpart_.size());
        below_ = new (std::nothrow) Below(dirpart_);
    }
    ~Finisher() {
        held_.release();
        // The opener's open shares its file again, as it did, unless a change
        // made meanwhile (a member renamed in a host) took it exclusively.
        const FCB *f = reshare_ >= 0 && zvWNGV->fcbtab ? zvWNGV->fcbtab[reshare_] : nullptr;
        if (f && f->fd >= 0 && f->wrlock == kLockShared)
            plat_lock(f->fd, LockCmd::Try, LockType::Shared, 0, 0, nullptr, true);
        if (notefd_ >= 0) plat_close(notefd_);
        delete below_;
    }
    Finisher(const Finisher &) = delete;
    Finisher &operator=(const Finisher &) = delete;
    bool run();

private:
    bool hold_beside();
    bool hold_open(int filno, const std::string &rel);
    bool take(const std::string &rel);
    bool refuse(const char *why, const std::string &rel) {
        log_line(why, dirpart_ + rel);
        return false;
    }
    bool there(const std::string &rel) { return below_->look(rel) == Below::Is::File; }
    // Whether rel and kept are two names of one file.
    bool one_file(const std::string &rel, const std::string &kept) {
        PlatStat a{}, b{};
        return below_->look(rel, &a) == Below::Is::File && below_->look(kept, &b) == Below::Is::File &&
               a.dev == b.dev && a.ino == b.ino;
    }
    void drop_unfinished();
    bool new_file(const Seen &f, const NoteEntry &e, bool ids, bool data) const;
    void read_set(const std::string &rel, const std::string &as, std::set<std::string> *index,
                  std::vector<std::string> *members);
    bool clear_mark(const NoteEntry &e, bool ids);
    bool finish_single(const Note &n);
    bool finish_list(const Note &n);
    bool finish_members(const Note &n);
    bool act_members(const Note &n);

    std::string name_;
    int filno_;
    bool member_;
    std::string dirpart_, base_, notebase_;
    Below *below_ = nullptr;
    HeldFiles held_;
    std::map<std::string, Seen> seen_;
    int notefd_ = -1;
    int reshare_ = -1;  // the opener's file number, to share its file again when done
};

bool Finisher::run() {
    if (!below_ || !below_->ok()) return false;
    if (member_ && base_.find('/') != std::string::npos) return false;
    if (!hold_beside()) return false;
    notebase_ = base_ + kSuffix;
    drop_unfinished();
    notefd_ = below_->open(notebase_);
    if (notefd_ < 0) return errno == ENOENT ? false : refuse(kNoteBad, notebase_);
    PlatStat st{};
    if (plat_fstat(notefd_, &st) != 0 || st.size > kListMax) return refuse(kNoteBad, notebase_);
    // A note locked by a description of its own belongs to a swap that runs.
    if (plat_lock(notefd_, LockCmd::Try, LockType::Exclusive, 0, 0, nullptr, true) != 0) return false;
    std::string text;
    Note note;
    if (!read_note(notefd_, &text) || !parse(reinterpret_cast<const unsigned char *>(text.data()), text.size(), &note))
        return refuse(kNoteBad, notebase_);
    // Another file's note.
    if (note.list[0].own != base_) return refuse(kNotSet, note.list[0].own);
    // Members and files are never swapped together.
    if (member_) return note.listed ? finish_members(note) : refuse(kKind, base_);
    return note.listed ? finish_list(note) : finish_single(note);
}

// The open holds exclusively the file the note stands beside (a member's:
// its host) before the note is read; the opener's own open of it serves.
bool Finisher::hold_beside() {
    if (member_) {
        const std::string hostrel = base_.substr(0, size_t(zvsname1(base_.c_str()) - 1));
        const int h = chkopnx((dirpart_ + hostrel).c_str());
        if (h >= 0) return hold_open(h, hostrel);
        // No host: nothing that a note of its members could change.
        return take(hostrel) && seen_[hostrel].there;
    }
    if (filno_ >= 0) return hold_open(filno_, base_);
    return take(base_);
}

// The file open as filno, the one under rel: held through the opener's
// own description. An open that shares the file (its description's lock,
// whole-file, is shared until its first change takes it exclusively) holds
// it exclusively while it acts on the note, when no other open shares it,
// and shares it again afterwards; an open that cannot (another shares the
// file, or it reads only) leaves the note to an open that can.
bool Finisher::hold_open(int filno, const std::string &rel) {
    const FCB *f = zvWNGV->fcbtab ? zvWNGV->fcbtab[filno] : nullptr;
    if (!f || f->fd < 0) return false;
    const bool shared = f->wrlock == kLockShared;
    if (shared && (f->hdr.base.flmode & kOpnReadOnly)) return false;
    PlatStat a{}, b{};
    if (below_->look(rel, &a) != Below::Is::File || plat_fstat(f->fd, &b) != 0 || a.dev != b.dev || a.ino != b.ino)
        return refuse(kNotFile, rel);
    // A file the instance holds already (a call of its own holds the set)
    // keeps that hold's lock as it is.
    const bool held = fd_held(f->fd);
    if (held_.take_fd(f->fd)) return shared ? false : refuse(kHeld, rel);
    if (shared && !held) reshare_ = filno;
    Seen s;
    s.there = true;
    s.dev = b.dev;
    s.ino = b.ino;
    s.engine = read_header_facts(f->fd, &s.h);
    seen_[rel] = s;
    return true;
}

// Holds the file rel names, when there is one, and looks at it: false
// (logged) when the name is a link, passes through one, or holds no
// regular file, or another open holds the file.
bool Finisher::take(const std::string &rel) {
    if (seen_.count(rel)) return true;
    Seen s;
    const int fd = below_->open(rel);
    if (fd < 0) {
        if (errno != ENOENT) return refuse(kNotFile, rel);
        seen_[rel] = s;
        return true;
    }
    PlatStat st{};
    const int rc = plat_fstat(fd, &st) == 0 ? held_.take_fd(fd) : 12;
    if (rc == 0) s.engine = read_header_facts(fd, &s.h);
    plat_close(fd);
    if (rc) return refuse(kHeld, rel);
    s.there = true;
    s.dev = st.dev;
    s.ino = st.ino;
    seen_[rel] = s;
    return true;
}

// A note begun under its working name by a process that ended before it
// was whole: its swap moved nothing, and the working file goes (unless a
// live swap holds it).
void Finisher::drop_unfinished() {
    const std::string work = notebase_ + ".new";
    const int fd = below_->open(work);
    if (fd < 0) return;
    if (plat_lock(fd, LockCmd::Try, LockType::Exclusive, 0, 0, nullptr, true) == 0) below_->unlink(work);
    plat_close(fd);
}

// Whether f (there) is the new file of e: an engine file of the kind it
// replaces (a data file, else an index file), carrying the swap's mark and
// the id the note keeps of it.
bool Finisher::new_file(const Seen &f, const NoteEntry &e, bool ids, bool data) const {
    if (!(data ? is_data(f) : is_index(f)) || f.h.updflg != kUpdRebuild) return false;
    return !ids || same_id(f.h.id, e.id);
}

// The files the set of the data file under rel names itself, read as if
// it had the name `as`: its index files into *index and (a partitioned
// host) its members' data files into *members, as paths below the note's
// directory. A file that does not open adds nothing.
void Finisher::read_set(const std::string &rel, const std::string &as, std::set<std::string> *index,
                        std::vector<std::string> *members) {
    INSTGV *g = zvWNGV;
    const uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
    std::vector<std::string> idx, mbr;
    int n = -1;
    bool mine = false;
    if (filno_ >= 0 && rel == base_) {
        n = filno_;
    } else if ((n = AVLFILNUM(1)) >= 0) {
        // Read only, nothing recorded in the file: the open's lock is the
        // finisher's hold.
        const uint8_t keep = g->nowrite;
        g->nowrite = 1;
        mine = iopnfilx(n, (dirpart_ + rel).c_str(), uint16_t(kOpenDamaged | kOpnReadOnly)) == 0;
        g->nowrite = keep;
        if (!mine) n = -1;
    }
    if (n >= 0 && g->fcbtab[n]->kind != kKindIndex) set_named_files(n, (dirpart_ + as).c_str(), &idx, &mbr);
    if (mine) iclsfilx(n, 0);
    g->uerr_cod = uerr;
    g->sysiocod = sys;
    for (const std::string &x : idx) {
        std::string r;
        if (name_below(dirpart_, x, &r)) index->insert(r);
    }
    if (members) members->insert(members->end(), mbr.begin(), mbr.end());
}

// Clears the swap's mark of e's new file, now under e's own name: only on
// the file the note named as new (the one held under its temporary name,
// or found under the original's name with the note's id), and only while
// it carries the mark.
bool Finisher::clear_mark(const NoteEntry &e, bool ids) {
    const Seen &f = seen_[e.fresh].there ? seen_[e.fresh] : seen_[e.own];
    const int fd = below_->open(e.own);
    if (fd < 0) return false;
    PlatStat st{};
    HeaderFacts h;
    bool ok = plat_fstat(fd, &st) == 0 && st.dev == f.dev && st.ino == f.ino && read_header_facts(fd, &h) &&
              (!ids || same_id(h.id, e.id));
    if (ok && h.updflg == kUpdRebuild) ok = putupdflg_fd(fd, 0) == 0;
    plat_close(fd);
    return ok;
}

bool Finisher::finish_single(const Note &n) {
    const NoteEntry &e = n.list[0];
    if (!temp_form(e.parked)) return refuse(kNotSet, e.parked);
    if (e.fresh == e.own || e.fresh == e.parked) return refuse(kNotSet, e.fresh);
    // Every physical file the note may move or delete, held: the original's
    // under its names, the new file's.
    for (uint32_t i = 0; i < n.oldfiles; i++) {
        const std::string o = physical(e.own, i), p = physical(e.parked, i);
        if (o.empty() || p.empty()) return refuse(kNotSet, e.own);
        if (!take(o) || !take(p)) return false;
    }
    for (uint32_t i = 0; i < n.newfiles; i++) {
        const std::string f = physical(e.fresh, i);
        if (f.empty()) return refuse(kNotSet, e.fresh);
        if (!take(f)) return false;
    }
    const Seen &o = seen_[e.own], &k = seen_[e.parked], &f = seen_[e.fresh];
    // The new file under the data file's name: by its id, or (an older
    // note) once its own name is gone, as the main file moves last.
    const bool ownnew = n.ids ? o.there && o.engine && same_id(o.h.id, e.id) : o.there && !f.there;
    if (f.there && !new_file(f, e, n.ids, true)) return refuse(kNotNew, e.fresh);
    if (n.ids && !f.there && !ownnew) return refuse(kNotNew, e.fresh);
    // The kind: the original (under its name, else its kept one) a data
    // file with automatic segments; with no original left, the new file.
    const Seen *orig = o.there && !ownnew ? &o : k.there ? &k : nullptr;
    if (orig ? !auto_segmented(*orig) : !(ownnew || f.there)) return refuse(kKind, e.own);

    const bool opened = filno_ >= 0;
    // The park is finished only while no file of the new one has moved.
    bool placing = false;
    for (uint32_t i = 0; i < n.newfiles && !placing; i++) placing = !there(physical(e.fresh, i));
    // A swap stopped before its first rename left the original whole under
    // its own name, and the open that followed took it as it was: what was
    // written to it since is not in the new file. Such a note is void.
    bool parking = false;
    for (uint32_t i = 0; i < n.oldfiles && !placing && !parking; i++) parking = there(physical(e.parked, i));
    if (!placing && (!parking || opened)) {
        // The original opened whole: a parked name that is only its second
        // name (a link) goes with the note.
        for (uint32_t i = 0; i < n.oldfiles; i++) {
            const std::string p = physical(e.parked, i);
            if (one_file(physical(e.own, i), p)) below_->unlink(p);
        }
        log_line("Swap: the original is whole under its name, the swap's note is dropped", name_);
        below_->unlink(notebase_);
        return false;
    }
    log_line("Swap: finishing the swap of", name_);
    bool ok = true;
    if (!placing) {
        for (uint32_t i = 0; i < n.oldfiles && ok; i++) {
            const std::string from = physical(e.own, i);
            if (there(from)) ok = below_->rename(from, physical(e.parked, i)) == 0;
        }
    }
    // Segments first, the file itself last.
    for (uint32_t k = 1; k <= n.newfiles && ok; k++) {
        const uint32_t i = k % n.newfiles;
        const std::string from = physical(e.fresh, i);
        if (there(from)) ok = below_->rename(from, physical(e.own, i)) == 0;
    }
    if (!ok) {
        zvrcvlog("Swap: could not finish the swap", kLogSingleTry);
        return false;
    }
    for (uint32_t i = 0; i < n.oldfiles; i++) {
        const std::string p = physical(e.parked, i);
        if (there(p)) below_->unlink(p);
    }
    below_->unlink(notebase_);
    return true;
}

bool Finisher::finish_list(const Note &n) {
    const std::vector<NoteEntry> &list = n.list;
    for (const NoteEntry &e : list) {
        for (const std::string *s : {&e.own, &e.parked, &e.fresh}) {
            if (zvsname1(s->c_str())) return refuse(kKind, *s);
        }
        if (!e.parked.empty() && !kept_beside(e.own, e.parked)) return refuse(kNotSet, e.parked);
        if (e.fresh == e.own || (!e.parked.empty() && e.fresh == e.parked)) return refuse(kNotSet, e.fresh);
    }
    for (const NoteEntry &e : list) {
        for (const std::string *s : {&e.own, &e.parked, &e.fresh}) {
            if (!s->empty() && !take(*s)) return false;
        }
    }
    // Whether e's new file has taken its original's name: by its id, or (an
    // older note) once its temporary name is gone.
    auto moved = [&](const NoteEntry &e) {
        const Seen &o = seen_[e.own];
        return n.ids ? o.there && o.engine && same_id(o.h.id, e.id) : o.there && !seen_[e.fresh].there;
    };
    // The kind: the original host (under its name, else its kept one) a
    // partitioned host's data file; with no original left, the new host.
    const NoteEntry &host = list[0];
    const bool hostmoved = moved(host);
    const Seen *orig = seen_[host.own].there && !hostmoved              ? &seen_[host.own]
                       : !host.parked.empty() && seen_[host.parked].there ? &seen_[host.parked]
                                                                            : nullptr;
    const Seen *neu = hostmoved ? &seen_[host.own] : seen_[host.fresh].there ? &seen_[host.fresh] : nullptr;
    if (!orig && !neu) return refuse(kKind, host.own);
    if (!partition_host(orig ? *orig : *neu)) return refuse(kKind, host.own);
    if (seen_[host.fresh].there && !new_file(seen_[host.fresh], host, n.ids, true))
        return refuse(kNotNew, host.fresh);
    // The set's own files: those the set under the opener's names names
    // itself, the host under its name or its kept name (the original, or
    // the new host once it has taken the name) and each member's data file
    // under its name or kept name naming their files; and, where no file
    // is, the names the host's naming rule gives its members (a member of
    // the new set that the old one had not, whose files have not moved).
    // Never as a file the note names as new names them: whoever planted
    // such a file could have it name any file below the directory.
    std::set<std::string> data{host.own}, index;
    std::vector<std::string> members;
    for (const std::string *v : {&host.own, &host.parked}) {
        if (!v->empty() && seen_[*v].there) read_set(*v, host.own, &index, &members);
    }
    std::set<std::string> hostside = index;
    hostside.insert(host.own);
    for (const std::string &m : members) {
        std::string rel;
        if (!name_below(dirpart_, m, &rel) || data.count(rel)) continue;
        data.insert(rel);
        if (below_->look(rel) == Below::Is::File) read_set(rel, rel, &index, nullptr);
        for (const NoteEntry &e : list) {
            if (e.own == rel && !e.parked.empty() && seen_[e.parked].there) read_set(e.parked, rel, &index, nullptr);
        }
    }
    // Whether e's original is a name the naming rule gives a member of the
    // host (*isdata: for its data file), with no file under it.
    auto by_rule = [&](const NoteEntry &e, bool *isdata) {
        if (seen_[e.own].there || (!e.parked.empty() && seen_[e.parked].there)) return false;
        const std::string name = dirpart_ + e.own;
        for (const std::string &h : hostside) {
            if (!part_member_named((dirpart_ + h).c_str(), name.c_str())) continue;
            *isdata = h == host.own;
            return true;
        }
        return false;
    };
    for (const NoteEntry &e : list) {
        bool isdata = data.count(e.own) != 0;
        if (!isdata && !index.count(e.own) && !by_rule(e, &isdata)) return refuse(kNotSet, e.own);
        if (e.fresh.empty()) continue;
        const Seen &f = seen_[e.fresh];
        if (f.there ? !new_file(f, e, n.ids, isdata) : n.ids && !moved(e)) return refuse(kNotNew, e.fresh);
    }

    const bool opened = filno_ >= 0;
    bool placing = false;
    for (const NoteEntry &e : list) placing = placing || (!e.fresh.empty() && !there(e.fresh));
    if (!placing) {
        // Nothing moved: every original is in place (one parked by a rename,
        // where links fail, goes back), and the new files, which carry the
        // originals' names inside, go with the note.
        for (const NoteEntry &e : list) {
            if (e.parked.empty() || !there(e.parked)) continue;
            if (there(e.own)) {
                if (one_file(e.own, e.parked)) below_->unlink(e.parked);
            } else if (below_->rename(e.parked, e.own) != 0) {
                // The original stays under its kept name: the note, which
                // names it, stays too.
                log_line("Swap: could not put the original back under its name, the swap's note stays",
                         dirpart_ + e.own);
                return false;
            }
        }
        for (const NoteEntry &e : list) {
            if (!e.fresh.empty()) below_->unlink(e.fresh);
        }
        log_line("Swap: the original is whole under its name, the swap's note is dropped", name_);
        below_->unlink(notebase_);
        return false;
    }
    log_line("Swap: finishing the swap of", name_);
    bool ok = true;
    for (const NoteEntry &e : list) {
        if (!e.fresh.empty() && there(e.fresh)) ok = ok && below_->rename(e.fresh, e.own) == 0;
    }
    // Every new file has its name: the marks go, the data file's last (an
    // open that found it whole keeps its own).
    for (size_t i = list.size(); ok && i-- > 0;) {
        if (list[i].fresh.empty() || (i == 0 && opened)) continue;
        ok = clear_mark(list[i], n.ids);
    }
    if (!ok) {
        zvrcvlog("Swap: could not finish the swap", kLogSingleTry);
        return false;
    }
    for (const NoteEntry &e : list) {
        if (!e.parked.empty() && there(e.parked)) below_->unlink(e.parked);
        if (e.fresh.empty() && there(e.own)) below_->unlink(e.own);
    }
    below_->unlink(notebase_);
    return true;
}

// ---- Superfile members ----------------------------------------------------------

// The most file numbers an open of one member takes: an index member binds
// the indexes it holds (at most 64) at the numbers after its own.
constexpr int kMemberRoom = 65;

// Opens the member `name` exclusively, as it stands (not read only: a host
// that this open opens serves the renames too), at free file numbers with
// room for the indexes an index member holds (tried with more room while
// the numbers after the first are taken, 46): its file number, or -1 with
// the open's code in *code.
int open_member(const std::string &name, int *code = nullptr) {
    for (int room = 1;; room = room * 4 < kMemberRoom ? room * 4 : kMemberRoom) {
        const int n = AVLFILNUM(room);
        const int rc = n < 0 ? 46 : OPNFIL(n, name.c_str(), kOpenDamaged);
        if (code) *code = rc;
        if (rc == 0) return n;
        if (rc != 46 || n < 0 || room == kMemberRoom) return -1;
    }
}

// Whether the member `name` is there: 1, 0 (12: no such member), -1 when
// it cannot be told (its host does not open).
int member_there(const std::string &name) {
    int rc = 0;
    const int n = open_member(name, &rc);
    if (n >= 0) {
        iclsfilx(n, 0);
        return 1;
    }
    return rc == 12 ? 0 : -1;
}

// A member's rename or delete changes its host through the page cache: the
// host's pages go to the file before the next step, so that a kill leaves
// the steps on disk in their order (the superfile rebuild finds each
// member under the name its own area holds).
int host_to_file() { return ZVFLUSH(-1); }

int rename_member(const std::string &from, const std::string &to) {
    int code = 0;
    const int n = open_member(from, &code);
    if (n < 0) return code ? code : 12;
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

// The note of a set of members in one host, which the finisher holds: the
// host is opened (not when a kill left it not closed cleanly: its superfile
// rebuild comes first), the note checked and acted on, and the host closed
// again when this open opened it.
bool Finisher::finish_members(const Note &n) {
    const std::string hostpart = base_.substr(0, size_t(zvsname1(base_.c_str())));  // "host!"
    for (const NoteEntry &e : n.list) {
        // Every name a member of the same host, reached by no path; kept
        // names as the swap of members draws them.
        for (const std::string *s : {&e.own, &e.parked, &e.fresh}) {
            if (s->empty()) continue;
            if (s->size() <= hostpart.size() || s->compare(0, hostpart.size(), hostpart) != 0 ||
                s->find('/') != std::string::npos)
                return refuse(kNotSet, *s);
        }
        if (!e.parked.empty() && !kept_member(hostpart, e.parked)) return refuse(kNotSet, e.parked);
        if (e.fresh == e.own || (!e.parked.empty() && e.fresh == e.parked)) return refuse(kNotSet, e.fresh);
    }
    // The host that finishing opens goes again: the open that called has
    // its file numbers chosen.
    const std::string host = dirpart_ + hostpart.substr(0, hostpart.size() - 1);
    const bool open = chkopnx(host.c_str()) >= 0;
    const int h0 = open ? 0 : AVLFILNUM(2);
    if (!open && (h0 < 0 || OPNFIL(h0, host.c_str(), 0) != 0)) return false;
    const bool done = act_members(n);
    const int h = open ? -1 : chkopnx(host.c_str());
    if (h >= 0 && open_members_of(zvWNGV->fcbtab[h]) == 0) iclsfilx(h, 0);
    return done;
}

bool Finisher::act_members(const Note &n) {
    // The set's own members: the data member and the index members its
    // definition names, read from the data member under its name, its kept
    // name or (the new set names the originals inside) the new one.
    const NoteEntry &data = n.list[0];
    std::set<std::string> index;
    bool kind = false, seen = false;
    for (const std::string *v : {&data.own, &data.parked, &data.fresh}) {
        if (v->empty()) continue;
        INSTGV *g = zvWNGV;
        const uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
        const int f = AVLFILNUM(1);
        const uint8_t keep = g->nowrite;
        g->nowrite = 1;
        const bool opened = f >= 0 && iopnfilx(f, (dirpart_ + *v).c_str(), uint16_t(kOpenDamaged | kOpnReadOnly)) == 0;
        g->nowrite = keep;
        if (opened) {
            // The kind, from the first member that opens.
            if (!seen) kind = g->fcbtab[f]->kind != kKindIndex;
            seen = true;
            std::vector<std::string> idx, none;
            if (g->fcbtab[f]->kind != kKindIndex) set_named_files(f, (dirpart_ + data.own).c_str(), &idx, &none);
            iclsfilx(f, 0);
            for (const std::string &x : idx) {
                std::string r;
                if (name_below(dirpart_, x, &r)) index.insert(r);
            }
        }
        g->uerr_cod = uerr;
        g->sysiocod = sys;
    }
    if (!kind) return refuse(kKind, data.own);
    for (const NoteEntry &e : n.list) {
        if (e.own != data.own && !index.count(e.own)) return refuse(kNotSet, e.own);
    }
    std::vector<SwapNote::Entry> list;
    for (const NoteEntry &e : n.list) {
        auto whole = [&](const std::string &rel) { return rel.empty() ? rel : dirpart_ + rel; };
        list.push_back({whole(e.own), whole(e.parked), whole(e.fresh)});
    }
    bool moved = false;
    for (const SwapNote::Entry &e : list) {
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
        log_line("Swap: the original is whole under its name, the swap's note is dropped", name_);
        below_->unlink(notebase_);
        return false;
    }
    log_line("Swap: finishing the swap of", name_);
    if (int rc = member_swap_advance(list)) {
        zvrcvlog("Swap: could not finish the swap", kLogSingleTry - rc);
        return false;
    }
    member_swap_drop_kept(list);
    below_->unlink(notebase_);
    return true;
}

// The new file's id, read from its header: 0, or 13 when it is no engine
// file, 12 when it does not open.
int new_file_id(const std::string &name, uint32_t (&id)[3]) {
    const int fd = plat_openat(kAtWorkingDir, name.c_str(), AtHow::Regular);
    if (fd < 0) return 12;
    HeaderFacts h;
    const bool ok = read_header_facts(fd, &h);
    plat_close(fd);
    if (!ok) return 13;
    memcpy(id, h.id, sizeof id);
    return 0;
}

void put_id(std::string *body, const uint32_t (&id)[3]) {
    for (uint32_t v : id) put32(body, v);
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

bool below_without_links(const std::string &dir, const std::string &rel) {
    Below b(dir);
    return b.ok() && b.look(rel) != Below::Is::Other;
}

int SwapNote::write(const char *own, uint32_t oldfiles, const char *parked, const char *fresh, uint32_t newfiles) {
    drop();
    if (!note_name(own, name_)) {
        name_[0] = 0;
        return 139;
    }
    // The note holds base names: the three in one directory, reached there
    // by no link, or no open could act on it.
    const std::string dir = dir_of(own);
    int rc = same_dir(dir, dir_of(parked)) && same_dir(dir, dir_of(fresh)) ? 0 : 454;
    for (const char *n : {own, parked, fresh}) {
        if (!rc && !below_without_links(dir, base_of(n))) rc = 454;
    }
    uint32_t id[3] = {};
    if (!rc) rc = new_file_id(fresh, id);
    if (rc) {
        name_[0] = 0;
        return rc;
    }
    std::string body = magic(kSingle);
    put32(&body, oldfiles);
    put32(&body, newfiles);
    put_id(&body, id);
    for (const char *n : {own, parked, fresh}) put_name(&body, base_of(n));
    return put(body);
}

int SwapNote::write_list(const char *datafile, const std::vector<Entry> &entries) {
    drop();
    if (entries.empty() || entries.size() > kListEntries || !note_name(datafile, name_)) {
        name_[0] = 0;
        return entries.empty() ? 540 : 139;
    }
    std::string body = magic(kList);
    put32(&body, uint32_t(entries.size()));
    const bool members = zvsname1(datafile) != 0;
    const std::string dir = dir_of(datafile);
    for (const Entry &e : entries) {
        for (const std::string *n : {&e.own, &e.parked, &e.fresh}) {
            std::string rel;
            // Below the data file's directory, reached by no link (members
            // lie inside their host).
            if (!n->empty() && (!name_below(dir, *n, &rel) || (!members && !below_without_links(dir, rel)))) {
                name_[0] = 0;
                return 454;
            }
            put_name(&body, rel);
        }
        uint32_t id[3] = {};
        if (!members && !e.fresh.empty()) {
            if (int rc = new_file_id(e.fresh, id)) {
                name_[0] = 0;
                return rc;
            }
        }
        put_id(&body, id);
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
    const int fd = plat_open(work, OpenHow::FoundCreateExclusive, 0644);
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
            log_line("Swap: could not restore original member name", e.own);
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

bool swapnote_finish(const char *name, int filno) {
    char path[kSwapNoteName];
    if (!name || !note_name(name, path)) return false;
    // No note and no note begun: nothing to do (the common case, two looks).
    PlatStat st{};
    char work[kSwapNoteName + 4];
    snprintf(work, sizeof work, "%s.new", path);
    if (plat_lstat(path, &st) != 0 && plat_lstat(work, &st) != 0) return false;
    INSTGV *g = zvWNGV;
    const uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
    bool done = false;
    try {
        Finisher f(name, filno);
        done = f.run();
    } catch (const std::bad_alloc &) {
        done = false;
    }
    if (!done) {
        g->uerr_cod = uerr;
        g->sysiocod = sys;
    }
    return done;
}

}  // namespace zv
