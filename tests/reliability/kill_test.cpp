// Seeded kill campaign. Each run forks a writer child that works on a fresh
// directory and ends it at a seeded call of the platform seam, as a SIGKILL
// would (zv::fault_exit: the nth write, sync, rename, unlink or link from
// the moment the work starts, so that a seed replays the same kill). The
// child's work is one of:
//  - adds, rewrites, deletes and flushes on a set of fixed-length records,
//    of variable-length records whose rewrites grow (so that they move), on
//    a set in force-to-disk mode (0x0040), on a set in a superfile host, on
//    a record-level table of a database, and on a table in a superfile host
//    of its own (a table path "db/kh!") beside another table of that host,
//    written and closed before the work; and a first start: the README's
//    start-up code (tests/support/firststart.h) makes the session
//    dictionary, the database and the table, which the work then writes
//    and flushes by the table's file numbers (ZVFLUSH of its data file and
//    of each index), the kill counted from the start-up's first call;
//  - a set or table built and closed cleanly, then killed inside its
//    repair (RBLIFIL), compaction (CMPIFIL), table rebuild
//    (zvdbRebuildTable), alteration by copy (zvdbAlterTable action 3) or
//    superfile rebuild (ZVSBLDX); one compaction is of a set whose data
//    file has automatic segments of 1 MB, filled past its first segment
//    (and, as the seed chooses, mostly deleted again, so that the compacted
//    file has fewer segment files): its swap renames file by file, with a
//    note beside the data file that the open finishes it from.
// The child appends one line per call it starts and per call that answered
// 0 to a log of its own (write(2), O_APPEND), so the parent knows what was
// acknowledged and what the last flush that answered 0 (or the clean close)
// covered. A first child with the same seed runs the work to its end and
// counts the calls, so that the kill falls inside it.
//
// A writer flushes with ZVFLUSH(-1) or with ZVFLUSH of each file of its set
// (the seed chooses; a superfile member takes only the former).
//
// The parent then recovers as documented: a first start by running the same
// start-up code (which makes again what the kill left absent, adds back
// what it left whole without its entry, and repairs the table on 14; after
// the checks the code runs once more and takes no branch); else it opens
// the set or table, and on 14 repairs it (RBLIFIL for a set; ZVSBLDX for a
// host, then RBLIFIL for its set, whose index members the superfile rebuild
// leaves empty;
// zvdbRebuildTable mode 1 for a table opened with open bit 4, which a
// table in a host of its own also takes when it answers 413, its host not
// closed cleanly, and which then rebuilds the host first; where the
// set repair answers 652, a moved record left twice, once more with the
// purge of rejected records, which answers 650), and checks:
//  1. it opens, zvVerifyFile and zvVERIFYidx find it sound, the set checker
//     finds every index agreeing with the data file, and every index walks
//     the same records; the other table of a host of its own holds
//     exactly its records;
//  2. every record acknowledged before the last flush that answered 0 (in
//     force-to-disk mode: every acknowledged record; after a clean close:
//     every record) is there in that version or in a later written one;
//  3. every record present is a version that was written (records carry
//     their key, version and a check sum of their bytes, so that a torn or
//     zeroed record shows), none deleted before the last flush is back;
//  4. the repair answers 0 (650 for the purge), and a set killed inside its
//     maintenance, written on after its recovery by a process that adds a
//     record, flushes and ends without a close, comes back through the same
//     repair with exactly its records and that one (nothing the first kill
//     left behind takes their place).
// One limit holds without a log (kRewriteAfterFlushMayBeDropped): outside
// force-to-disk mode a record rewritten after the last flush may be torn by
// the kill, and the repair may then drop it; it is never delivered torn.
//
// The suite runs kRuns runs (the kinds in turn, kind_of); ZV_KILL_RUNS asks for more
// and ZV_KILL_SEED for another seed. Every finding names its seed and run:
// ZV_KILL_SEED=<seed> ZV_KILL_RUN=<run> replays that run alone;
// ZV_KILL_VERBOSE=1 prints each run's recovery, ZV_KILL_KEEP=<dir> keeps a
// copy of the last run's directory.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "tests/support/child.h"
#include "tests/support/firststart.h"
#include "tests/support/fixture.h"
#include "tests/support/setcheck.h"
#include "tests/support/verifyset.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

namespace fs = std::filesystem;
using zv::IoKind;

constexpr long kRuns = 30;
constexpr int kKillStatus = 77;  // the exit status of a planned kill
constexpr uint32_t kKeys = 40;   // keys 1..kKeys
constexpr int kWriterOps = 90;   // calls of a writer kind after its first flush
constexpr int kBuildOps = 50;    // calls that build the subject of a maintenance kind
constexpr int kProfile = 32;     // targets in record-field form, integers in host order
constexpr int16_t kPurge = int16_t(-(0x4000 + 0x004));  // RBLIFIL: purge the records it rejects
// The segmented set: a data file with automatic segments of 1 MB, filled
// past its first segment by kBulk records of kBulkLength bytes.
constexpr uint32_t kBulk = 270;
constexpr uint32_t kBulkLength = 4096;
constexpr uint32_t kOther = 24;  // records of the other table of a host of its own

// Outside force-to-disk mode a record rewritten after the last flush that
// answered 0 may be torn by a kill (its bytes lie in more than one cache
// page, written at different moments); the repair may drop it. It is never
// delivered torn, and no other record may be missing.
constexpr bool kRewriteAfterFlushMayBeDropped = true;

enum class Kind : int {
    Fixed, Variable, Force, Host, Table, HostTable, FirstStart,        // writers
    Repair, Compact, SegCompact, TableRebuild, AlterCopy, HostRebuild,  // kills inside maintenance
    Count
};
constexpr int kKinds = int(Kind::Count);
const char *const kKindNames[kKinds] = {
    "fixed-length set", "variable-length set", "force-to-disk set", "set in a superfile host",
    "record-level table", "record-level table in a superfile host of its own",
    "first start (session, database and table made by the start-up code)", "kill inside RBLIFIL",
    "kill inside CMPIFIL", "kill inside CMPIFIL of a segmented set", "kill inside zvdbRebuildTable",
    "kill inside an alteration by copy", "kill inside ZVSBLDX"};

// The kinds in turn; the compaction of the segmented set, a few times
// slower than the others, takes every second of its turns only.
Kind kind_of(long run) {
    static const std::vector<Kind> turns = [] {
        std::vector<Kind> t;
        for (int round = 0; round < 2; round++)
            for (int k = 0; k < kKinds; k++)
                if (round == 0 || Kind(k) != Kind::SegCompact) t.push_back(Kind(k));
        return t;
    }();
    return turns[size_t(run) % turns.size()];
}

bool is_table(Kind k) {
    return k == Kind::Table || k == Kind::HostTable || k == Kind::FirstStart || k == Kind::TableRebuild ||
           k == Kind::AlterCopy;
}
bool in_host(Kind k) { return k == Kind::Host || k == Kind::HostRebuild; }
bool is_maintenance(Kind k) { return int(k) >= int(Kind::Repair); }

// What one run does; the parent and both children share it (fork).
struct Plan {
    Kind kind = Kind::Fixed;
    bool variable = false;  // variable-length records (ISAM kinds)
    bool force = false;     // force-to-disk mode
    bool flush_each = false;  // ZVFLUSH on each file of the set, else ZVFLUSH(-1)
    unsigned seed = 0;      // of the work
    bool kill = false;
    IoKind killkind = IoKind::Write;
    long nth = 0;
    std::string log;  // the acknowledgement log (absolute path)
    // The segmented set: records of kBulkLength bytes, keys kKeys+1..keys
    // added in bulk after the seeded work, and, when thin, two in three of
    // them deleted again (so that the compacted file needs no segment file).
    uint32_t keys = kKeys;
    bool thin = false;
    // The table in a host of its own: whether the recovery brings back the
    // other table of the host first.
    bool other_first = false;
    uint32_t reclen() const { return kind == Kind::SegCompact ? kBulkLength : 64; }
};

long env_long(const char *name, long dflt) {
    const char *v = getenv(name);
    return v && *v ? strtol(v, nullptr, 10) : dflt;
}

// ---- Records ---------------------------------------------------------------

// A record: 64 bytes and, in a variable-length set, a tail of `tail` bytes.
// The name is the key's (unique), the city changes with the version (so
// that rewrites move the record in the index of cities). The sum covers the
// first 60 bytes and the tail.
struct KRec {
    char tag[4];
    uint32_t key;    // index 0: unique
    char city[20];   // index 1: duplicates
    char name[24];   // index 2: unique, a file of its own
    uint32_t version;
    uint32_t tail;
    uint32_t sum;
};
static_assert(sizeof(KRec) == 64, "a record is 64 bytes");

const char *const kCities[] = {"Bern", "Rome", "Oslo", "Lima", "Kyiv", "Riga", "Nice", "Graz"};

uint32_t fnv(const void *p, size_t n, uint32_t h = 2166136261u) {
    const auto *b = static_cast<const unsigned char *>(p);
    for (size_t i = 0; i < n; i++) h = (h ^ b[i]) * 16777619u;
    return h;
}

std::string image(uint32_t key, uint32_t version, uint32_t tail) {
    KRec r;
    memset(&r, 0, sizeof r);
    memcpy(r.tag, "KREC", 4);
    r.key = key;
    const char *c = kCities[(key + version) % 8];
    memcpy(r.city, c, strlen(c));
    snprintf(r.name, sizeof r.name, "key-%u", key);
    r.version = version;
    r.tail = tail;
    std::string s(reinterpret_cast<const char *>(&r), sizeof r);
    for (uint32_t i = 0; i < tail; i++) s.push_back(char('a' + (key * 7 + version + i) % 26));
    KRec *w = reinterpret_cast<KRec *>(s.data());
    w->sum = fnv(s.data(), 60);
    w->sum = fnv(s.data() + 64, tail, w->sum);
    return s;
}

// The key and version of a whole record, or false for bytes that are not
// one (torn, zeroed, a wrong length).
bool decode(const std::string &b, uint32_t *key, uint32_t *version) {
    if (b.size() < sizeof(KRec)) return false;
    KRec r;
    memcpy(&r, b.data(), sizeof r);
    if (memcmp(r.tag, "KREC", 4) != 0 || b.size() != sizeof r + r.tail) return false;
    if (fnv(b.data() + 64, r.tail, fnv(b.data(), 60)) != r.sum) return false;
    if (image(r.key, r.version, r.tail) != b) return false;
    *key = r.key;
    *version = r.version;
    return true;
}

std::string key_target(uint32_t key) { return std::string(reinterpret_cast<const char *>(&key), 4); }

// The set `name`: <name>.dat, indexes 0 and 1 in <name>.idx, index 2 in
// <name>_nm.idx. Fixed-length records are `reclen` bytes (a record image
// with a tail of reclen - 64). A segmented set's data file takes automatic
// segments of 1 MB (create()).
struct KSet {
    ISEG s0[1] = {{4, 4, 1}};
    ISEG s1[1] = {{8, 20, 0}};
    ISEG s2[1] = {{28, 24, 0}};
    IIDX idx[3] = {};
    IFIL ifil = {};
    XCREblk x[3] = {};
    bool segmented = false;
    std::string name, aidx;
    KSet(const std::string &n, bool variable, bool force, uint32_t reclen = 64, bool segs = false)
        : segmented(segs), name(n), aidx(n + "_nm.idx") {
        idx[0] = IIDX{4, 0, 0, 0, 0, 1, s0, "ByKey", nullptr, nullptr, nullptr};
        idx[1] = IIDX{24, 0, 1, 0, 0, 1, s1, "ByCity", nullptr, nullptr, nullptr};
        idx[2] = IIDX{24, 0, 0, 0, 0, 1, s2, "ByName", aidx.c_str(), nullptr, nullptr};
        const int16_t mode = int16_t((variable ? 0x4 : 0) | (force ? 0x40 : 0));
        ifil = IFIL{name.c_str(), -1, uint16_t(variable ? 64 : reclen), 0, mode, 3, 0, int16_t(force ? 0x40 : 0),
                    idx, nullptr, nullptr, 0};
        for (XCREblk &b : x) b.mode = 0x02;
        if (segmented) {
            x[0].mode = 0x02 | 0x08 | 0x200000;
            x[0].segsize = 1;
            x[0].nsegs = 8;
        }
    }
    int create() { return segmented ? CREIFILX8(&ifil, nullptr, nullptr, 0, nullptr, nullptr, x) : CREIFIL(&ifil); }
    KSet(const KSet &) = delete;
    KSet &operator=(const KSet &) = delete;
    std::string dat() const { return name + ".dat"; }
};

std::string set_name(const Plan &p) { return in_host(p.kind) ? "h!kset" : "kset"; }

// ---- The child's side --------------------------------------------------------

// The acknowledgement log: one line per call started ("try ...") and per
// call that answered 0, each with a single write(2), outside the seam.
class AckLog {
public:
    explicit AckLog(const std::string &path) : fd_(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644)) {}
    ~AckLog() {
        if (fd_ >= 0) close(fd_);
    }
    void line(const char *fmt, ...) __attribute__((format(printf, 2, 3))) {
        char buf[160];
        va_list ap;
        va_start(ap, fmt);
        int n = vsnprintf(buf, sizeof buf - 1, fmt, ap);
        va_end(ap);
        buf[n] = '\n';
        ssize_t w = write(fd_, buf, size_t(n) + 1);
        (void)w;
    }

private:
    int fd_;
};

// The calls a writer makes: each answers 0 or an error code.
class Writer {
public:
    virtual ~Writer() = default;
    virtual int put(uint32_t key, uint32_t version, uint32_t tail, bool exists) = 0;
    virtual int del(uint32_t key) = 0;
    virtual int flush() = 0;
};

class IsamWriter : public Writer {
public:
    IsamWriter(int datno, bool variable, bool each, uint32_t reclen = 64)
        : d_(datno), variable_(variable), each_(each), fixed_tail_(reclen - 64) {}
    int put(uint32_t key, uint32_t version, uint32_t tail, bool exists) override {
        std::string img = image(key, version, variable_ ? tail : fixed_tail_);
        if (!exists) return variable_ ? ADDVREC(d_, img.data(), int32_t(img.size())) : ADDREC(d_, img.data());
        if (int rc = current(key)) return rc;
        return variable_ ? RWTVREC(d_, img.data(), int32_t(img.size())) : RWTREC(d_, img.data());
    }
    int del(uint32_t key) override {
        if (int rc = current(key)) return rc;
        return variable_ ? DELVREC(d_) : DELREC(d_);
    }
    // Every file of the instance, or the data file and its two index files
    // one by one.
    int flush() override {
        if (!each_) return ZVFLUSH(-1);
        for (int f : {d_, d_ + 1, d_ + 3})
            if (int rc = ZVFLUSH(f)) return rc;
        return 0;
    }

private:
    int current(uint32_t key) {
        std::string t = key_target(key);
        char buf[8192];
        int32_t len = int32_t(sizeof buf);
        return variable_ ? EQLVREC(d_ + 1, t.data(), buf, &len) : EQLREC(d_ + 1, t.data(), buf);
    }
    int d_;
    bool variable_, each_;
    uint32_t fixed_tail_;
};

// The table "kt" of the database "Sales" (directory "db"): fields key,
// version (ZV_INT4), city (ZV_FSTRING 20) and sum (ZV_INT4, a sum of the
// three); index "bykey" unique on key, "bycity" with duplicates on city.
uint32_t table_sum(int32_t key, int32_t version, const std::string &city) {
    uint32_t h = fnv(&key, 4);
    h = fnv(&version, 4, h);
    return fnv(city.data(), city.size(), h);
}

std::string table_city(uint32_t key, uint32_t version) { return kCities[(key + version) % 8]; }

struct TableSession {
    ZVHANDLE session = nullptr, db = nullptr, table = nullptr, rec = nullptr;
    ~TableSession() {
        if (rec) zvdbFreeRecord(rec);
        if (table) zvdbFreeTable(table);
        if (db) zvdbFreeDatabase(db);
        if (session) zvdbFreeSession(session);
    }
    int32_t field(const char *name) const { return zvdbGetFieldNumberByName(rec, name); }
};

class TableWriter : public Writer {
public:
    // each: ZVFLUSH of the table's data file and of each index's file
    // number, as the README flushes a table; else ZVFLUSH(-1).
    explicit TableWriter(TableSession &s, bool each = false) : s_(s), each_(each) {}
    int put(uint32_t key, uint32_t version, uint32_t, bool exists) override {
        ZVHANDLE r = s_.rec;
        if (exists) {
            if (int rc = find(key)) return rc;
        } else {
            zvdbClearRecord(r);
            zvdbSetFieldAsSigned(r, s_.field("key"), int32_t(key));
        }
        const std::string city = table_city(key, version);
        zvdbSetFieldAsSigned(r, s_.field("version"), int32_t(version));
        zvdbSetFieldAsString(r, s_.field("city"), city.c_str());
        zvdbSetFieldAsSigned(r, s_.field("sum"), int32_t(table_sum(int32_t(key), int32_t(version), city)));
        return zvdbWriteRecord(r);
    }
    int del(uint32_t key) override {
        if (int rc = find(key)) return rc;
        return zvdbDeleteRecord(s_.rec);
    }
    int flush() override {
        if (!each_) return ZVFLUSH(-1);
        int rc = ZVFLUSH(zvdbGetDatno(s_.table));
        for (int32_t k = 0; rc == 0 && k < 2; k++) rc = ZVFLUSH(zvdbGetIdxnoByNumber(s_.table, k));
        return rc;
    }

private:
    int find(uint32_t key) {
        ZVHANDLE r = s_.rec;
        zvdbClearRecord(r);
        zvdbSetDefaultIndexByName(r, "bykey");
        zvdbSetFieldAsSigned(r, s_.field("key"), int32_t(key));
        return zvdbFindRecord(r, 0);
    }
    TableSession &s_;
    bool each_;
};

// The seeded work: kInitial adds and a flush, then `ops` calls (adds,
// rewrites that grow a variable-length record, deletes, flushes). A call
// that fails without a kill is logged ("error ...") and ends the work.
bool work(Writer &w, AckLog &log, unsigned seed, int ops) {
    std::mt19937 rng(seed);
    std::map<uint32_t, uint32_t> puts;  // key -> puts so far (present when in `present`)
    std::set<uint32_t> present;
    uint32_t version = 0;
    auto put = [&](uint32_t key) {
        const bool exists = present.count(key) != 0;
        const uint32_t v = ++version, tail = 8 + 56 * puts[key];
        log.line("try put %u %u", key, v);
        if (int rc = w.put(key, v, tail, exists)) {
            log.line("error put %u %u %d", key, v, rc);
            return false;
        }
        log.line("put %u %u", key, v);
        puts[key]++;
        present.insert(key);
        return true;
    };
    auto flush = [&] {
        log.line("try flush");
        if (int rc = w.flush()) {
            log.line("error flush %d", rc);
            return false;
        }
        log.line("flush");
        return true;
    };
    for (int i = 0; i < 16; i++)
        if (!put(1 + rng() % kKeys)) return false;
    if (!flush()) return false;
    for (int i = 0; i < ops; i++) {
        const uint32_t key = 1 + rng() % kKeys, pick = rng() % 100;
        if (pick < 8) {
            if (!flush()) return false;
        } else if (pick < 28 && present.count(key)) {
            log.line("try del %u", key);
            if (int rc = w.del(key)) {
                log.line("error del %u %d", key, rc);
                return false;
            }
            log.line("del %u", key);
            present.erase(key);
        } else if (!put(key)) {
            return false;
        }
    }
    return true;
}

// The bulk of the segmented set: keys kKeys+1..p.keys added once (records
// of kBulkLength bytes), and, for a thin set, two in three deleted again.
bool bulk(Writer &w, AckLog &log, const Plan &p) {
    for (uint32_t key = kKeys + 1; key <= p.keys; key++) {
        log.line("try put %u 1", key);
        if (int rc = w.put(key, 1, kBulkLength - 64, false)) {
            log.line("error put %u 1 %d", key, rc);
            return false;
        }
        log.line("put %u 1", key);
    }
    for (uint32_t key = kKeys + 1; p.thin && key <= p.keys; key++) {
        if (key % 3 == 0) continue;
        log.line("try del %u", key);
        if (int rc = w.del(key)) {
            log.line("error del %u %d", key, rc);
            return false;
        }
        log.line("del %u", key);
    }
    return true;
}

const IoKind kCounted[] = {IoKind::Write, IoKind::Sync, IoKind::Rename, IoKind::Unlink, IoKind::Link};
constexpr int kCountedKinds = 5;

// From here on the calls are counted, and the kill planned.
void arm(const Plan &p) {
    zv::fault_reset();
    if (p.kill) zv::fault_exit(p.killkind, p.nth, kKillStatus);
}

void finish(AckLog &log) {
    log.line("calls %ld %ld %ld %ld %ld", zv::io_calls(kCounted[0]), zv::io_calls(kCounted[1]),
             zv::io_calls(kCounted[2]), zv::io_calls(kCounted[3]), zv::io_calls(kCounted[4]));
}

// The ISAM kinds in the child: the engine started with caches of three
// buffers, so that writes fall inside the calls.
void child_isam(const Plan &p, AckLog &log) {
    // The segmented set's build is not killed: it takes larger caches.
    const int32_t bufs = p.kind == Kind::SegCompact ? 64 : 3;
    if (INTISAMX(bufs, 30, 4, bufs, kProfile) != 0) return log.line("error start");
    if (in_host(p.kind) && CREDAT(1, "h", 0, 0, 0x200) != 0) return log.line("error host");
    KSet s(set_name(p), p.variable, p.force, p.reclen(), p.kind == Kind::SegCompact);
    if (int rc = s.create()) return log.line("error create %d", rc);
    IsamWriter w(s.ifil.tfilno, p.variable, p.flush_each, p.reclen());
    if (!is_maintenance(p.kind)) {
        arm(p);
        if (work(w, log, p.seed, kWriterOps)) finish(log);
        return;  // ends without a close, as a kill at the end would
    }
    if (!work(w, log, p.seed, kBuildOps)) return;
    if (p.kind == Kind::SegCompact && !bulk(w, log, p)) return;
    log.line("try flush");
    if (int rc = CLIFIL(&s.ifil)) return log.line("error close %d", rc);
    if (in_host(p.kind) && CLSFIL(1, 0) != 0) return log.line("error close host");
    if (p.kind == Kind::SegCompact && !fs::exists(s.dat() + ".001")) return log.line("error no second segment file");
    log.line("flush");
    arm(p);
    int rc = 0;
    switch (p.kind) {
    case Kind::Repair: rc = RBLIFIL(&s.ifil); break;
    case Kind::Compact:
    case Kind::SegCompact: rc = CMPIFIL(&s.ifil); break;
    default: rc = ZVSBLDX("h", nullptr); break;
    }
    log.line("maintenance %d", rc);
    finish(log);
}

// The fields and indexes of a table, its indexes on key and city named
// <keys> and <cities>.
int define_table(ZVHANDLE t, const char *keys, const char *cities) {
    ZVHANDLE key = zvdbAddField(t, "key", ZV_INT4, 0);
    zvdbAddField(t, "version", ZV_INT4, 0);
    ZVHANDLE city = zvdbAddField(t, "city", ZV_FSTRING, 20);
    zvdbAddField(t, "sum", ZV_INT4, 0);
    if (!key || !city) return -1;
    ZVHANDLE bykey = zvdbAddIndex(t, keys, 0, 0, 0), bycity = zvdbAddIndex(t, cities, 0, 1, 0);
    if (!bykey || !bycity || !zvdbAddSegment(bykey, key, 12) || !zvdbAddSegment(bycity, city, 12)) return -2;
    return 0;
}

// The table `name` so defined, in the superfile host "db/kh" when `host`.
int make_table(ZVHANDLE t, const char *name, const char *keys, const char *cities, bool host) {
    if (int rc = define_table(t, keys, cities)) return rc;
    if (host)
        if (int rc = zvdbSetTablePath(t, "db/kh!")) return rc;
    return zvdbCreateTable(t, name, 0);
}

// The start-up code of the first-start kind (tests/support/firststart.h):
// the database "Sales" in "db", its table "kt" defined as above, caches of
// `buffers`.
void first_start_plan(zvtest::StartUp &s, int32_t buffers) {
    s.database = "Sales";
    s.dbpath = "db";
    s.table = "kt";
    s.buffers = buffers;
    s.define = [](ZVHANDLE t) { return define_table(t, "bykey", "bycity"); };
}

// Moves the handles of a start-up into a table session.
void take_handles(zvtest::StartUp &from, TableSession &to) {
    to.session = from.session;
    to.db = from.db;
    to.table = from.handle;
    from.session = from.db = from.handle = nullptr;
}

// The first start in the child: the kill planned from its first call, the
// start-up code makes the session dictionary, the database and the table
// (caches of three buffers), then the seeded work writes and flushes the
// table by its file numbers.
void child_first_start(const Plan &p, AckLog &log) {
    fs::create_directories("db");
    TableSession s;
    arm(p);
    {
        zvtest::StartUp start;
        first_start_plan(start, 3);
        if (int rc = start.run()) return log.line("error start-up %d: %s", rc, start.trail.c_str());
        take_handles(start, s);
    }
    s.rec = zvdbAllocRecord(s.table);
    TableWriter w(s, true);
    if (work(w, log, p.seed, kWriterOps)) finish(log);
}

// The other table of the host: "ko", indexes "ko_key" and "ko_city",
// records 1..kOther in version 1, written and closed before the work.
int make_other(ZVHANDLE db) {
    ZVHANDLE t = zvdbAllocTable(db);
    int rc = make_table(t, "ko", "ko_key", "ko_city", true);
    if (!rc) rc = zvdbOpenTable(t, "ko", 0);
    ZVHANDLE r = rc ? nullptr : zvdbAllocRecord(t);
    for (uint32_t k = 1; r && !rc && k <= kOther; k++) {
        const std::string city = table_city(k, 1);
        zvdbClearRecord(r);
        zvdbSetFieldAsSigned(r, zvdbGetFieldNumberByName(r, "key"), int32_t(k));
        zvdbSetFieldAsSigned(r, zvdbGetFieldNumberByName(r, "version"), 1);
        zvdbSetFieldAsString(r, zvdbGetFieldNumberByName(r, "city"), city.c_str());
        zvdbSetFieldAsSigned(r, zvdbGetFieldNumberByName(r, "sum"), int32_t(table_sum(int32_t(k), 1, city)));
        rc = zvdbWriteRecord(r);
    }
    if (r) zvdbFreeRecord(r);
    if (int c = zvdbCloseTable(t); !rc) rc = c;
    zvdbFreeTable(t);
    return rc;
}

// Logs the session on (caches of `buffers`) and connects the database
// "Sales": 0 or the first failing code.
int table_logon(TableSession &s, int32_t buffers) {
    if (!s.session) s.session = zvdbAllocSession(0);
    if (!s.session) return -1;
    zvdbSetSessionParams(s.session, 1, buffers);
    zvdbSetSessionParams(s.session, 4, buffers);
    if (int rc = zvdbLogon(s.session, nullptr, "tester", nullptr)) return rc;
    if (!s.db) s.db = zvdbAllocDatabase(s.session);
    if (!s.db) return -2;
    return zvdbConnect(s.db, "Sales");
}

void child_table(const Plan &p, AckLog &log) {
    if (p.kind == Kind::FirstStart) return child_first_start(p, log);
    TableSession s;
    s.session = zvdbAllocSession(0);
    if (!s.session || zvdbCreateSession(s.session, nullptr, nullptr, nullptr) != 0) return log.line("error session");
    if (int rc = zvdbLogon(s.session, nullptr, "tester", nullptr)) return log.line("error logon %d", rc);
    fs::create_directories("db");
    if (int rc = zvdbCreateDatabase(s.session, "Sales", "db")) return log.line("error database %d", rc);
    s.db = zvdbAllocDatabase(s.session);
    if (int rc = zvdbConnect(s.db, "Sales")) return log.line("error connect %d", rc);
    s.table = zvdbAllocTable(s.db);
    const bool host = p.kind == Kind::HostTable;
    if (int rc = make_table(s.table, "kt", "bykey", "bycity", host)) return log.line("error table %d", rc);
    if (host)
        if (int rc = make_other(s.db)) return log.line("error other table %d", rc);
    // Logged out and on again: the dictionaries closed cleanly.
    zvdbFreeTable(s.table);
    s.table = nullptr;
    zvdbFreeDatabase(s.db);
    s.db = nullptr;
    if (int rc = zvdbLogout(s.session)) return log.line("error logout %d", rc);
    if (int rc = table_logon(s, 3)) return log.line("error logon %d", rc);
    s.table = zvdbAllocTable(s.db);
    if (int rc = zvdbOpenTable(s.table, "kt", 0)) return log.line("error open %d", rc);
    s.rec = zvdbAllocRecord(s.table);
    TableWriter w(s);
    if (!is_maintenance(p.kind)) {
        arm(p);
        if (work(w, log, p.seed, kWriterOps)) finish(log);
        return;
    }
    if (!work(w, log, p.seed, kBuildOps)) return;
    log.line("try flush");
    zvdbFreeRecord(s.rec);
    s.rec = nullptr;
    if (int rc = zvdbCloseTable(s.table)) return log.line("error close %d", rc);
    if (int rc = zvdbOpenTable(s.table, "kt", 0)) return log.line("error open %d", rc);
    log.line("flush");
    arm(p);
    const int rc = p.kind == Kind::TableRebuild ? zvdbRebuildTable(s.table, 0) : zvdbAlterTable(s.table, 3);
    log.line("maintenance %d", rc);
    finish(log);
}

// The child: ends with 0 after its work, with kKillStatus at the kill. Its
// wait status.
int run_child(const Plan &p) {
    zvtest::ChildResult r = zvtest::run_in_child([&p] {
        AckLog log(p.log);
        if (chdir("run") != 0) {
            log.line("error chdir");
            return zvtest::ChildResult{};
        }
        if (is_table(p.kind))
            child_table(p, log);
        else
            child_isam(p, log);
        log.line("end");
        return zvtest::ChildResult{};
    });
    return r.status;
}

// ---- The parent's side -------------------------------------------------------

// What the log says.
struct Event {
    enum Type { Put, Del, Flush } type;
    uint32_t key = 0, version = 0;
    bool acked = false;
};
struct Acks {
    std::vector<Event> events;
    std::vector<std::string> errors;  // "error ..." lines
    long calls[kCountedKinds] = {};
    bool ended = false;               // the child reached its end
    bool maintenance_done = false;
    int maintenance_rc = 0;
};

Acks read_acks(const std::string &path) {
    Acks a;
    for (const std::string &l : zvtest::lines_of(zvtest::read_file(path))) {
        unsigned k = 0, v = 0;
        int rc = 0;
        if (sscanf(l.c_str(), "try put %u %u", &k, &v) == 2) {
            a.events.push_back({Event::Put, k, v, false});
        } else if (sscanf(l.c_str(), "try del %u", &k) == 1) {
            a.events.push_back({Event::Del, k, 0, false});
        } else if (l == "try flush") {
            a.events.push_back({Event::Flush, 0, 0, false});
        } else if (l.rfind("put ", 0) == 0 || l.rfind("del ", 0) == 0 || l == "flush") {
            if (!a.events.empty()) a.events.back().acked = true;
        } else if (sscanf(l.c_str(), "maintenance %d", &rc) == 1) {
            a.maintenance_done = true;
            a.maintenance_rc = rc;
        } else if (l.rfind("calls ", 0) == 0) {
            sscanf(l.c_str(), "calls %ld %ld %ld %ld %ld", &a.calls[0], &a.calls[1], &a.calls[2], &a.calls[3],
                   &a.calls[4]);
        } else if (l == "end") {
            a.ended = true;
        } else if (l.rfind("error", 0) == 0) {
            a.errors.push_back(l);
        }
    }
    return a;
}

// The states a key may be found in after the recovery: -1 absent, else a
// version.
struct Allowed {
    std::map<uint32_t, std::set<int64_t>> states;
    std::set<uint32_t> rewritten_after;  // present at the guarantee point, rewritten after it
    std::string describe(uint32_t key) const {
        std::string s;
        for (int64_t v : states.at(key))
            s += (s.empty() ? "" : ", ") + (v < 0 ? std::string("absent") : std::to_string(v));
        return "{" + s + "}";
    }
};

// The guarantee point: after the last flush that answered 0, or, in
// force-to-disk mode, after the last acknowledged call. Keys 1..keys.
Allowed allowed_states(const Acks &a, bool force, uint32_t keys) {
    size_t g = 0;
    for (size_t i = 0; i < a.events.size(); i++) {
        const Event &e = a.events[i];
        if (e.acked && (force || e.type == Event::Flush)) g = i + 1;
    }
    std::map<uint32_t, int64_t> state;
    for (uint32_t k = 1; k <= keys; k++) state[k] = -1;
    for (size_t i = 0; i < g; i++) {
        const Event &e = a.events[i];
        if (e.type == Event::Put) state[e.key] = e.version;
        if (e.type == Event::Del) state[e.key] = -1;
    }
    Allowed out;
    for (uint32_t k = 1; k <= keys; k++) out.states[k].insert(state[k]);
    std::map<uint32_t, int64_t> now = state;
    for (size_t i = g; i < a.events.size(); i++) {
        const Event &e = a.events[i];
        if (e.type == Event::Flush) continue;
        if (e.type == Event::Put && now[e.key] >= 0 && state[e.key] >= 0) out.rewritten_after.insert(e.key);
        now[e.key] = e.type == Event::Put ? int64_t(e.version) : -1;
        out.states[e.key].insert(now[e.key]);
    }
    return out;
}

struct Findings {
    std::vector<std::string> list;
    std::string trail;   // the recovery's steps and what it found
    void step(const std::string &s) { trail += (trail.empty() ? "" : ", ") + s; }
    long tolerated = 0;  // records dropped under kRewriteAfterFlushMayBeDropped
    void add(const std::string &f) { list.push_back(f); }
};

// Checks the records found (key -> version; bytes that are no record are
// findings of their own) against what may be there.
void check_contents(const std::map<uint32_t, uint32_t> &found, const Allowed &allowed, bool force, bool maintenance,
                    Findings &f) {
    for (const auto &[k, states] : allowed.states) {
        auto it = found.find(k);
        const int64_t st = it == found.end() ? -1 : int64_t(it->second);
        if (states.count(st)) continue;
        if (st < 0 && kRewriteAfterFlushMayBeDropped && !force && !maintenance && allowed.rewritten_after.count(k)) {
            f.tolerated++;
            continue;
        }
        f.add("key " + std::to_string(k) + ": " + (st < 0 ? std::string("missing") : "version " + std::to_string(st)) +
              ", may be " + allowed.describe(k));
    }
    for (const auto &[k, v] : found)
        if (!allowed.states.count(k)) f.add("a record of key " + std::to_string(k) + " that was never written");
}

// Walks index f from its first key: the bytes of each record (at most
// `most` and one more).
std::vector<std::string> walk_isam(int f, bool variable, uint32_t reclen, size_t most, Findings &out,
                                   const char *what) {
    std::vector<std::string> recs;
    std::string buf(8192, '\0');
    int32_t len = int32_t(buf.size());
    int rc = variable ? FRSVREC(f, buf.data(), &len) : FRSREC(f, buf.data());
    while (rc == 0 && recs.size() <= most) {
        recs.emplace_back(buf.data(), variable ? size_t(len) : reclen);
        len = int32_t(buf.size());
        rc = variable ? NXTVREC(f, buf.data(), &len) : NXTREC(f, buf.data());
    }
    if (rc != 101) out.add(std::string(what) + ": the walk ended with " + std::to_string(rc));
    return recs;
}

// Decodes the records of a walk; torn ones are findings.
std::map<uint32_t, uint32_t> decode_all(const std::vector<std::string> &recs, Findings &f) {
    std::map<uint32_t, uint32_t> found;
    for (const std::string &b : recs) {
        uint32_t k = 0, v = 0;
        if (!decode(b, &k, &v)) {
            KRec r{};
            memcpy(&r, b.data(), std::min(b.size(), sizeof r));
            f.add("a record delivered torn (" + std::to_string(b.size()) + " bytes, key field " +
                  std::to_string(r.key) + ", version field " + std::to_string(r.version) + ")");
            continue;
        }
        if (!found.emplace(k, v).second) f.add("key " + std::to_string(k) + " found twice");
    }
    return found;
}

class KillTest : public zvtest::ZvTest {
protected:
    void TearDown() override {
        zv::fault_reset();
        ZvTest::TearDown();
    }

    // Starts the ISAM layer of the parent again (closing whatever is open).
    static int restart() {
        CLISAM();
        return INTISAMX(10, 40, 4, 10, kProfile);  // the children's sector count: a host keeps its node size
    }

    // Opens the set as documented (its host first), repairing what answers
    // 14: true when it is open (s.ifil.tfilno), else a finding was added.
    static bool open_repaired(const Plan &p, KSet &s, Findings &f) {
        const size_t from = f.trail.size();
        bool rebuilt_host = false;
        if (in_host(p.kind)) {
            int rc = OPNFIL(1, "h", 0);
            f.step("host open " + std::to_string(rc));
            if (rc == 14) {
                f.step("ZVSBLDX");
                restart();
                if ((rc = ZVSBLDX("h", nullptr)) != 0) {
                    f.add("ZVSBLDX answered " + std::to_string(rc));
                    return false;
                }
                rebuilt_host = true;
                rc = OPNFIL(1, "h", 0);
            }
            if (rc != 0) {
                f.add("the host opens with " + std::to_string(rc));
                return false;
            }
            restart();
        }
        s.ifil.tfilno = -1;
        // The superfile rebuild leaves the index members empty for the
        // rebuild of their set.
        int rc = rebuilt_host ? 14 : OPNIFIL(&s.ifil);
        if (!rebuilt_host) f.step("open " + std::to_string(rc));
        if (rc == 14) {
            f.step("RBLIFIL");
            restart();
            s.ifil.tfilno = -1;
            rc = RBLIFIL(&s.ifil);
            if (rc == 652) {
                // A moved variable-length record left twice: the purge of
                // rejected records keeps one copy.
                f.step("RBLIFIL purging");
                restart();
                s.ifil.tfilno = kPurge;
                if ((rc = RBLIFIL(&s.ifil)) == 650) rc = 0;
            }
            if (rc != 0) {
                f.add("RBLIFIL answered " + std::to_string(rc) + " (system error " +
                      std::to_string(zvGetSystemErrorCode()) + ")");
                return false;
            }
            s.ifil.tfilno = -1;
            rc = OPNIFIL(&s.ifil);
        }
        if (rc != 0) {
            // Not a code the recovery knows: whether the repair would take
            // it anyway tells the two faults apart.
            const bool repaired = f.trail.find("RBLIFIL", from) != std::string::npos;
            std::string more;
            if (!repaired) {
                restart();
                s.ifil.tfilno = -1;
                more = "; RBLIFIL would answer " + std::to_string(RBLIFIL(&s.ifil));
            }
            f.add("the set opens with " + std::to_string(rc) + " (" + f.trail + more + ")");
            return false;
        }
        return true;
    }

    // After its recovery the set is written on by a process that adds a
    // record, flushes and ends without a close: the same repair brings it
    // back with exactly the records it had and that one (nothing left by
    // the first kill takes its place). The records it had: `had`.
    void written_on(const Plan &p, KSet &s, std::multiset<std::string> had, Findings &f) {
        const uint32_t key = p.keys + 2, tail = p.variable ? 8 : p.reclen() - 64;
        CLISAM();
        const zvtest::ChildResult c = zvtest::run_in_child([&] {
            zvtest::ChildResult r;
            if ((r.rc = INTISAMX(3, 30, 4, 3, kProfile))) return r;
            s.ifil.tfilno = -1;
            if ((r.rc = OPNIFIL(&s.ifil))) return r;
            IsamWriter w(s.ifil.tfilno, p.variable, false, p.reclen());
            if ((r.rc = w.put(key, 1, tail, false)) || (r.rc = ZVFLUSH(-1))) return r;
            _exit(0);
        });
        if (c.ok) return f.add("the recovered set is not written on: " + std::to_string(c.rc));
        had.insert(image(key, 1, tail));
        f.step("written on");
        if (int rc = restart()) return f.add("the engine does not start: " + std::to_string(rc));
        if (!open_repaired(p, s, f)) return;
        const std::vector<std::string> got =
            walk_isam(s.ifil.tfilno + 1, p.variable, p.reclen(), 4 * p.keys, f, "index walk after the second repair");
        if (std::multiset<std::string>(got.begin(), got.end()) != had)
            f.add("written on after its recovery and killed, the set comes back with " + std::to_string(got.size()) +
                  " records, not its " + std::to_string(had.size()));
        if (int rc = CLIFIL(&s.ifil)) f.add("the set closes with " + std::to_string(rc));
    }

    // Recovers a set as documented and checks it.
    void recover_set(const Plan &p, const Allowed &allowed, Findings &f) {
        if (int rc = restart()) return f.add("the engine does not start: " + std::to_string(rc));
        KSet s(set_name(p), p.variable, p.force, p.reclen(), p.kind == Kind::SegCompact);
        if (!open_repaired(p, s, f)) return;
        const int d = s.ifil.tfilno;
        if (!in_host(p.kind)) {
            const std::string verdict = zvtest::check_set(d);
            if (!verdict.empty()) f.add("the set checker: " + verdict);
        }
        std::vector<std::string> by[3];
        for (int k = 0; k < 3; k++) by[k] = walk_isam(d + 1 + k, p.variable, p.reclen(), 4 * p.keys, f, "index walk");
        for (int k = 1; k < 3; k++) {
            std::multiset<std::string> a(by[0].begin(), by[0].end()), b(by[k].begin(), by[k].end());
            if (a != b) f.add("index " + std::to_string(k) + " does not walk the records of index 0");
        }
        if (!p.variable && DATENT(d) != by[0].size())
            f.add("the data file counts " + std::to_string(DATENT(d)) + " records, its index " +
                  std::to_string(by[0].size()));
        const std::map<uint32_t, uint32_t> found = decode_all(by[0], f);
        f.step(std::to_string(found.size()) + " records");
        check_contents(found, allowed, p.force, is_maintenance(p.kind), f);
        // The set takes a record again.
        IsamWriter w(d, p.variable, false, p.reclen());
        std::multiset<std::string> had(by[0].begin(), by[0].end());
        if (int c = w.put(p.keys + 1, 1, 8, false))
            f.add("a record added after the recovery answers " + std::to_string(c));
        else
            had.insert(image(p.keys + 1, 1, p.variable ? 8 : p.reclen() - 64));
        if (int c = CLIFIL(&s.ifil)) f.add("the set closes with " + std::to_string(c));
        restart();
        if (!zvtest::verify_set(s.dat())) f.add("zvVerifyFile or zvVERIFYidx found faults");
        if (is_maintenance(p.kind)) written_on(p, s, had, f);
        CLISAM();
    }

    // Opens the table `name` as documented: on 14 (or, in a host of its own,
    // 413: the host not closed cleanly) opened for rebuild (open bit 4,
    // which rebuilds such a host first) and rebuilt. True when it is open.
    static bool bring_back(ZVHANDLE t, const char *name, bool host, Findings &f) {
        int rc = zvdbOpenTable(t, name, 0);
        f.step(std::string("open ") + name + " " + std::to_string(rc));
        if (rc == 14 || (host && rc == 413)) {
            f.step("zvdbRebuildTable");
            const int plain = rc;
            if ((rc = zvdbOpenTable(t, name, 4)) != 0) {
                f.add(std::string("the table ") + name + " opens with " + std::to_string(plain) +
                      ", and with open bit 4 with " + std::to_string(rc));
                return false;
            }
            // Mode 1 purges the second copy of a moved record (650).
            if ((rc = zvdbRebuildTable(t, 1)) == 650) rc = 0;
            if (rc != 0) {
                f.add("zvdbRebuildTable of " + std::string(name) + " answered " + std::to_string(rc));
                return false;
            }
            if (!zvdbIsActiveTable(t)) {
                f.add(std::string("the table ") + name + " is not open after its rebuild");
                return false;
            }
        } else if (rc != 0) {
            f.add(std::string("the table ") + name + " opens with " + std::to_string(rc));
            return false;
        }
        return true;
    }

    // The records of an open table through its index on key (orders[0]),
    // its index on city (orders[1]) and its data file, which must hold the
    // same records: key -> version. Torn records and keys found twice are
    // findings.
    static std::map<uint32_t, uint32_t> read_table(ZVHANDLE r, const char *const orders[2], size_t most,
                                                   Findings &f) {
        std::multiset<std::string> walks[3];
        std::map<uint32_t, uint32_t> found;
        const int32_t fkey = zvdbGetFieldNumberByName(r, "key"), fversion = zvdbGetFieldNumberByName(r, "version"),
                      fcity = zvdbGetFieldNumberByName(r, "city"), fsum = zvdbGetFieldNumberByName(r, "sum");
        for (int o = 0; o < 3; o++) {
            int c = o < 2 ? zvdbSetDefaultIndexByName(r, orders[o]) : zvdbSetDefaultIndex(r, 10002);
            size_t n = 0;
            for (c = c ? c : zvdbFirstRecord(r); c == 0 && n <= most; c = zvdbNextRecord(r), n++) {
                int32_t key = 0, version = 0, sum = 0;
                char city[32] = {};
                zvdbGetFieldAsSigned(r, fkey, &key);
                zvdbGetFieldAsSigned(r, fversion, &version);
                zvdbGetFieldAsString(r, fcity, city, int32_t(sizeof city));
                zvdbGetFieldAsSigned(r, fsum, &sum);
                walks[o].insert(std::to_string(key) + "/" + std::to_string(version) + "/" + city + "/" +
                                std::to_string(sum));
                if (o) continue;
                if (uint32_t(sum) != table_sum(key, version, city) ||
                    city != table_city(uint32_t(key), uint32_t(version))) {
                    f.add("a record delivered torn (key field " + std::to_string(key) + ", version field " +
                          std::to_string(version) + ")");
                } else if (!found.emplace(uint32_t(key), uint32_t(version)).second) {
                    f.add("key " + std::to_string(key) + " found twice");
                }
            }
            if (c != 101)
                f.add(std::string("the walk of ") + (o < 2 ? orders[o] : "the data file") + " ended with " +
                      std::to_string(c));
        }
        if (walks[1] != walks[0] || walks[2] != walks[0]) f.add("the indexes and the data file hold other records");
        return found;
    }

    // Closes an open table and verifies its files through the engine.
    static void close_and_verify(ZVHANDLE t, const char *name, Findings &f) {
        char datname[512] = {};
        GETNAM(zvdbGetDatno(t), datname, int32_t(sizeof datname));
        if (int c = zvdbCloseTable(t)) f.add(std::string("the table ") + name + " closes with " + std::to_string(c));
        if (!zvtest::verify_set(datname)) f.add(std::string("zvVerifyFile or zvVERIFYidx found faults in ") + name);
    }

    // The other table of the host of its own comes back with exactly the
    // records it was given before the work.
    static void recover_other(TableSession &s, Findings &f) {
        ZVHANDLE t = zvdbAllocTable(s.db);
        if (bring_back(t, "ko", true, f)) {
            ZVHANDLE r = zvdbAllocRecord(t);
            static const char *const kOrders[2] = {"ko_key", "ko_city"};
            const std::map<uint32_t, uint32_t> found = read_table(r, kOrders, 4 * kOther, f);
            zvdbFreeRecord(r);
            std::map<uint32_t, uint32_t> want;
            for (uint32_t k = 1; k <= kOther; k++) want[k] = 1;
            if (found != want)
                f.add("the other table of the host holds " + std::to_string(found.size()) + " records, not its " +
                      std::to_string(kOther));
            close_and_verify(t, "ko", f);
        }
        zvdbFreeTable(t);
    }

    // The first-start kind comes back through the same start-up code: it
    // logs on or makes the session dictionary, connects or makes (or adds)
    // the database, opens or makes (or adds) the table, repairing it on 14.
    // True when the table is open.
    static bool start_again(TableSession &s, Findings &f) {
        zvtest::StartUp start;
        first_start_plan(start, 10);
        const int rc = start.run();
        f.step("start-up " + std::to_string(rc) + (start.trail.empty() ? "" : " (" + start.trail + ")"));
        if (rc) f.add("the start-up code answers " + std::to_string(rc) + " (" + start.trail + ")");
        take_handles(start, s);
        return rc == 0;
    }

    // After the checks of a first start, the start-up code runs to its end
    // once more and takes no branch: the files and entries it made are
    // whole.
    static void start_once_more(Findings &f) {
        zvtest::StartUp start;
        first_start_plan(start, 10);
        if (int rc = start.run()) return f.add("the next start answers " + std::to_string(rc) + " (" + start.trail + ")");
        if (!start.trail.empty()) f.add("the next start takes branches: " + start.trail);
        if (int rc = zvdbCloseTable(start.handle)) f.add("the next start's close answers " + std::to_string(rc));
        if (int rc = zvdbLogout(start.session)) f.add("the next start's logout answers " + std::to_string(rc));
    }

    // Recovers the table as documented and checks it (and, for a table in
    // a host of its own, the other table of the host, before or after it).
    void recover_table(const Plan &p, const Allowed &allowed, Findings &f) {
        TableSession s;
        const bool host = p.kind == Kind::HostTable;
        if (p.kind == Kind::FirstStart) {
            if (!start_again(s, f)) return;
        } else {
            if (int rc = table_logon(s, 10)) return f.add("the database does not connect: " + std::to_string(rc));
            if (host && p.other_first) recover_other(s, f);
            s.table = zvdbAllocTable(s.db);
            if (!bring_back(s.table, "kt", host, f)) return;
        }
        const int d = zvdbGetDatno(s.table);
        if (!host) {
            // The set checker does not read superfile members.
            const std::string verdict = zvtest::check_set(d);
            if (!verdict.empty()) f.add("the set checker: " + verdict);
        }
        s.rec = zvdbAllocRecord(s.table);
        static const char *const kOrders[2] = {"bykey", "bycity"};
        const std::map<uint32_t, uint32_t> found = read_table(s.rec, kOrders, 4 * kKeys, f);
        f.step(std::to_string(found.size()) + " records");
        check_contents(found, allowed, false, is_maintenance(p.kind), f);
        TableWriter w(s);
        if (int c = w.put(kKeys + 1, 1, 0, false))
            f.add("a record added after the recovery answers " + std::to_string(c));
        zvdbFreeRecord(s.rec);
        s.rec = nullptr;
        close_and_verify(s.table, "kt", f);
        if (host && !p.other_first) recover_other(s, f);
        if (p.kind == Kind::FirstStart) {
            if (int rc = zvdbLogout(s.session)) f.add("the logout answers " + std::to_string(rc));
            start_once_more(f);
        }
    }

    // One run: the counting child, the killed child, the recovery.
    void run_one(unsigned seed, long run, Findings &f, std::string &what) {
        std::mt19937 rng(seed * 7919u + unsigned(run));
        Plan p;
        p.kind = kind_of(run);
        p.variable = p.kind == Kind::Variable ||
                     ((p.kind == Kind::Repair || p.kind == Kind::Compact || p.kind == Kind::SegCompact ||
                       p.kind == Kind::Host || p.kind == Kind::HostRebuild) &&
                      (rng() & 1));
        p.force = p.kind == Kind::Force;
        if (p.force) p.variable = rng() & 1;
        p.flush_each = p.kind == Kind::FirstStart || (!in_host(p.kind) && !is_table(p.kind) && (rng() & 1));
        p.seed = rng();
        if (p.kind == Kind::SegCompact) {
            p.keys = kKeys + kBulk;
            p.thin = rng() & 1;
        }
        p.other_first = p.kind == Kind::HostTable && (rng() & 1);
        p.log = fs::absolute("acks.log").string();
        what = "seed " + std::to_string(seed) + " run " + std::to_string(run) + ": " + kKindNames[int(p.kind)] +
               (is_table(p.kind) ? "" : p.variable ? ", variable-length" : ", fixed-length") +
               (p.kind != Kind::SegCompact ? "" : p.thin ? ", two in three bulk records deleted" : "") +
               (p.other_first ? ", the other table recovered first" : "") +
               (is_maintenance(p.kind) ? "" : p.flush_each ? ", ZVFLUSH of each file" : ", ZVFLUSH(-1)");
        // The count.
        fresh(p);
        const int counting = run_child(p);
        Acks counted = read_acks(p.log);
        if (!WIFEXITED(counting) || WEXITSTATUS(counting) != 0)
            f.add(what + ": the counting child ended with wait status " + std::to_string(counting));
        if (!counted.ended || !counted.errors.empty() || counted.calls[0] == 0) {
            f.add(what + ": the work does not run to its end without a kill: " +
                  (counted.errors.empty() ? std::string("no end") : counted.errors[0]));
            return;
        }
        if (is_maintenance(p.kind) && counted.maintenance_rc != 0)
            f.add(what + ": the maintenance call answers " + std::to_string(counted.maintenance_rc) +
                  " without a kill");
        // The kill: a write most often, else a sync, rename, unlink or link
        // the work makes.
        int k = 0;
        const unsigned pick = rng() % 12;
        if (pick >= 8 && counted.calls[pick - 7] > 0) k = int(pick - 7);
        p.kill = true;
        p.killkind = kCounted[k];
        p.nth = 1 + long(rng() % unsigned(counted.calls[k]));
        static const char *const kKillNames[kCountedKinds] = {"write", "sync", "rename", "unlink", "link"};
        what += ", killed at " + std::string(kKillNames[k]) + " " + std::to_string(p.nth) + " of " +
                std::to_string(counted.calls[k]);
        fresh(p);
        const int killed = run_child(p);
        Acks acks = read_acks(p.log);
        if (acks.ended) f.add(what + ": the child was not killed");
        else if (!WIFEXITED(killed) || WEXITSTATUS(killed) != kKillStatus)
            f.add(what + ": the child ended with wait status " + std::to_string(killed) + " before its kill");
        for (const std::string &e : acks.errors) f.add(what + ": the writer met " + e);
        const Allowed allowed = allowed_states(acks, p.force, p.keys);
        SCOPED_TRACE(what);  // for the verifiers' own reports
        fs::current_path("run");
        Findings here;
        if (is_table(p.kind))
            recover_table(p, allowed, here);
        else
            recover_set(p, allowed, here);
        fs::current_path("..");
        if (const char *keep = getenv("ZV_KILL_KEEP"); keep && *keep) {
            // The directory as the recovery left it, for a closer look.
            std::error_code ec;
            fs::remove_all(keep, ec);
            fs::copy("run", keep, fs::copy_options::recursive, ec);
        }
        for (const std::string &x : here.list) f.add(what + ": " + x);
        f.tolerated += here.tolerated;
        if (here.tolerated) here.step(std::to_string(here.tolerated) + " rewritten records dropped");
        if (verbose_)
            fprintf(stderr, "%s: %s%s\n", what.c_str(), here.trail.c_str(), here.list.empty() ? "" : " FAILED");
    }

    bool verbose_ = env_long("ZV_KILL_VERBOSE", 0) != 0;

    // An empty run directory (the child works in it) and an empty log.
    static void fresh(const Plan &p) {
        std::error_code ec;
        fs::remove_all("run", ec);
        fs::create_directory("run");
        fs::remove(p.log, ec);
    }
};

TEST_F(KillTest, KilledWritersLeaveFlushedRecordsRecoverable) {
    const long runs = env_long("ZV_KILL_RUNS", kRuns);
    const unsigned seed = unsigned(env_long("ZV_KILL_SEED", 20));
    const long only = env_long("ZV_KILL_RUN", -1);
    Findings all;
    std::map<int, long> failing;  // kind -> runs with findings
    for (long run = only >= 0 ? only : 0; run < (only >= 0 ? only + 1 : runs); run++) {
        Findings f;
        std::string what;
        run_one(seed, run, f, what);
        if (!f.list.empty()) failing[int(kind_of(run))]++;
        for (const std::string &x : f.list) ADD_FAILURE() << x;
        all.tolerated += f.tolerated;
    }
    for (const auto &[kind, n] : failing)
        fprintf(stderr, "kill campaign (seed %u): %s: %ld failing runs\n", seed, kKindNames[kind], n);
    RecordProperty("runs", int(runs));
    RecordProperty("rewrites dropped under the tolerance", int(all.tolerated));
}

}  // namespace
