// The set rebuild, the compaction and the data-file rebuild of a set whose
// files another process holds open: the whole set opened shared or
// exclusively, or one of its index files opened alone. The run refuses with 12 and the lock's system
// error before any byte of the set changes or any of its files is
// replaced, the holder reads on as before, and once the holder has closed
// the run succeeds. So do they, the swap of two sets and the superfile
// rebuild, on a file they cannot hold because its open for the hold is
// refused (the caller may read the file but not write it).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/files/fcbops.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/child.h"

namespace {

using namespace rbltest;

// Steps of the holder: open, read, close.
enum Step { kOpen = 1, kRead = 2, kClose = 3 };

constexpr uint16_t kShared = 0x0001;
constexpr int kIndexNo = 40;  // the holder's open of an index file alone

enum class Hold { SetShared, SetExclusive, IndexShared, IndexExclusive };

class RblSetHoldTest : public RblTest {
protected:
    // One step of the holder in the peer process. The set holders open the
    // set and read its records through its first index; the index holders
    // open the file of index 2 alone and count its keys. The read answers 0
    // when it finds exactly `expected` (their count in extra), 1 otherwise.
    static zvtest::ChildResult hold_step(RblSet &s, Hold how, const std::multiset<std::string> &expected,
                                         int step) {
        zvtest::ChildResult r;
        if (!zvWNGV || !zvWNGV->started) {
            if ((r.rc = INTISAMX(16, 60, 4, 32, kProfile)) != 0) return r;
        }
        const bool whole = how == Hold::SetShared || how == Hold::SetExclusive;
        const bool shared = how == Hold::SetShared || how == Hold::IndexShared;
        switch (step) {
        case kOpen:
            if (whole) {
                s.ifil.tfilno = -1;
                s.ifil.dfilmod = int16_t(shared ? (s.ifil.dfilmod | kShared) : (s.ifil.dfilmod & ~kShared));
                r.rc = OPNIFIL(&s.ifil);
            } else {
                r.rc = OPNFIL(kIndexNo, s.nm().c_str(), shared ? kShared : 0);
            }
            break;
        case kRead:
            if (whole) {
                const std::multiset<std::string> got = records_of(s, s.ifil.tfilno);
                r.extra = int(got.size());
                r.rc = got == expected ? 0 : 1;
            } else {
                unsigned char key[64];
                int n = 0;
                for (uint32_t at = FRSKEY(kIndexNo, key); at; at = NXTKEY(kIndexNo, key)) n++;
                r.extra = n;
                r.rc = n == int(expected.size()) ? 0 : 1;
            }
            break;
        case kClose:
            r.rc = whole ? CLIFIL(&s.ifil) : CLSFIL(kIndexNo, 0);
            break;
        }
        r.sys = zvGetSystemErrorCode();
        return r;
    }

    static uint64_t inode(const std::string &name) {
        struct stat st {};
        return stat(name.c_str(), &st) == 0 ? uint64_t(st.st_ino) : 0;
    }
};

// Every kind of holder, against the rebuild and the compaction of a
// fixed-length and a variable-length set, and the set holders against the
// data-file rebuild alone (asked for another extension size, so that it
// would write the header): refused with 12 (the system error of the
// refused lock kept), every file of the set the same file with the same
// bytes, no file number left taken, the holder reads what it read before;
// after the holder closes, the run succeeds and the set holds the same
// records.
TEST_F(RblSetHoldTest, ASetAnotherProcessHoldsIsRefusedUntouched) {
    enum class Run { Rebuild, Compaction, DataFile };
    struct Case {
        const char *what;
        Hold how;
    } holders[] = {
        {"the set shared", Hold::SetShared},
        {"the set exclusive", Hold::SetExclusive},
        {"an index file alone, shared", Hold::IndexShared},
        {"an index file alone, exclusive", Hold::IndexExclusive},
    };
    const char *run_names[] = {"rebuild", "compaction", "data-file rebuild"};
    int round = 0;
    for (const Run op : {Run::Rebuild, Run::Compaction, Run::DataFile}) {
        for (const Kind kind : {Kind::Fixed, Kind::Variable}) {
            for (const Case &c : holders) {
                if (op == Run::DataFile && (c.how == Hold::IndexShared || c.how == Hold::IndexExclusive)) continue;
                SCOPED_TRACE(std::string(run_names[int(op)]) + ", " + kind_name(kind) + ", " + c.what);
                const std::string name = "held" + std::to_string(round++);
                RblSet s(name.c_str(), kind);
                const std::multiset<std::string> records = build(s, 30);
                auto run = [&]() {
                    s.ifil.tfilno = -1;
                    switch (op) {
                    case Run::Rebuild: return s.rebuild();
                    case Run::Compaction:
                        if (kind == Kind::Fixed) return CMPIFIL(&s.ifil);
                        return CMPIFILX8(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr, s.x);
                    case Run::DataFile: break;
                    }
                    int32_t tail = 0;
                    return RBLDATX(0, s.dat().c_str(), uint16_t(s.ifil.dreclen), uint32_t(s.ifil.dxtdsiz) + 4096,
                                   uint16_t(s.ifil.dfilmod), nullptr, 0, 0, &tail);
                };

                RblSet held(name.c_str(), kind);
                zvtest::Peer peer([&held, &c, records](int step) { return hold_step(held, c.how, records, step); });
                zvtest::ChildResult r = peer.ask(kOpen);
                ASSERT_TRUE(r.ok);
                ASSERT_EQ(r.rc, 0);

                const std::vector<std::string> names = {s.dat(), s.idxfile(), s.nm()};
                std::vector<std::string> bytes;
                std::vector<uint64_t> inodes;
                for (const std::string &f : names) {
                    bytes.push_back(zvtest::read_file(f));
                    inodes.push_back(inode(f));
                }
                EXPECT_EQ(run(), 12) << status_log();
                const int sys = zvGetSystemErrorCode();
                EXPECT_TRUE(sys == EAGAIN || sys == EACCES) << sys;
                for (size_t i = 0; i < names.size(); i++) {
                    EXPECT_EQ(inode(names[i]), inodes[i]) << names[i] << " was replaced";
                    EXPECT_TRUE(zvtest::read_file(names[i]) == bytes[i]) << names[i] << " changed";
                }
                for (int n = 0; n < 20; n++) EXPECT_EQ(TSTFILNUM(n), 0) << n;
                r = peer.ask(kRead);
                EXPECT_TRUE(r.ok);
                EXPECT_EQ(r.rc, 0);
                EXPECT_EQ(r.extra, int(records.size()));
                r = peer.ask(kClose);
                EXPECT_TRUE(r.ok);
                EXPECT_EQ(r.rc, 0);

                // Free again: the run goes through.
                EXPECT_EQ(run(), 0) << status_log();
                EXPECT_EQ(records_of(s), records);
                EXPECT_TRUE(indexes_verify(s));
                if (HasFailure()) return;
            }
        }
    }
}

// Calls that hold the files of a set (or a host) they work on.
enum class Holder { Rebuild, Compaction, DataFile, Swap, Host };
// How the hold of a file is refused: the seam refuses the first open of
// the call (the hold's) with EACCES, or a file is made read-only (which
// refuses no open of a process running as root).
enum class Block { Seam, DataReadOnly, IndexReadOnly };

class RblUnheldTest : public RblTest {
protected:
    // The call `op` on a fresh set, its hold refused as `how` says: it
    // answers 12 with EACCES, every file of the set (and of the swap's new
    // set) the same file with the same bytes, no file number left taken;
    // once the hold can be had, the call runs.
    void refused_untouched(Holder op, Block how) {
        const std::string name = "ro" + std::to_string(round_++);
        const bool host = op == Holder::Host;
        const std::string hostname = name + ".sup";
        if (host) {
            ASSERT_EQ(CREDAT(1, hostname.c_str(), 0, 0, 0x200), 0);
        }
        RblSet s((host ? hostname + "!cust" : name).c_str(), Kind::Fixed);
        RblSet t((name + "n").c_str(), Kind::Fixed);
        build(s, 30);
        if (host) {
            CLSFIL(chkopnx(hostname.c_str()), 0);
            ASSERT_EQ(chkopnx(hostname.c_str()), -1);
        }
        if (op == Holder::Swap) build(t, 10);
        std::vector<std::string> names;
        if (host) names = {hostname};
        else names = {s.dat(), s.idxfile(), s.nm()};
        if (op == Holder::Swap) names.insert(names.end(), {t.dat(), t.idxfile(), t.nm()});
        auto run = [&]() {
            s.ifil.tfilno = -1;
            t.ifil.tfilno = -1;
            switch (op) {
            case Holder::Rebuild: return s.rebuild();
            case Holder::Compaction: return CMPIFIL(&s.ifil);
            case Holder::DataFile: {
                int32_t tail = 0;
                return RBLDATX(0, s.dat().c_str(), uint16_t(s.ifil.dreclen), uint32_t(s.ifil.dxtdsiz) + 4096,
                               uint16_t(s.ifil.dfilmod), nullptr, 0, 0, &tail);
            }
            case Holder::Swap: return SWPIFILX(&t.ifil, &s.ifil, nullptr, nullptr);
            case Holder::Host: return ZVSBLDX(hostname.c_str(), nullptr);
            }
            return -1;
        };
        const std::string blocked = how == Block::IndexReadOnly ? s.nm() : names[0];
        std::vector<std::string> bytes;
        std::vector<uint64_t> inodes;
        for (const std::string &f : names) {
            bytes.push_back(zvtest::read_file(f));
            inodes.push_back(inode(f));
        }
        zv::fault_reset();
        if (how == Block::Seam) zv::fault_set(zv::IoKind::Open, 1, EACCES);
        else ASSERT_EQ(chmod(blocked.c_str(), 0444), 0);
        EXPECT_EQ(run(), 12) << status_log();
        EXPECT_EQ(zvGetSystemErrorCode(), EACCES);
        zv::fault_reset();
        if (how != Block::Seam) {
            ASSERT_EQ(chmod(blocked.c_str(), 0644), 0);
        }
        for (size_t i = 0; i < names.size(); i++) {
            EXPECT_EQ(inode(names[i]), inodes[i]) << names[i] << " was replaced";
            EXPECT_TRUE(zvtest::read_file(names[i]) == bytes[i]) << names[i] << " changed";
        }
        for (int n = 0; n < 20; n++) EXPECT_EQ(TSTFILNUM(n), 0) << n;
        EXPECT_EQ(run(), 0) << status_log();
    }
    static uint64_t inode(const std::string &name) {
        struct stat st {};
        return stat(name.c_str(), &st) == 0 ? uint64_t(st.st_ino) : 0;
    }
    static const char *holder_name(Holder op) {
        const char *const names[] = {"rebuild", "compaction", "data-file rebuild", "swap", "superfile rebuild"};
        return names[int(op)];
    }
    int round_ = 0;
};

TEST_F(RblUnheldTest, ACallThatCannotHoldASetFileRefusesUntouched) {
    for (Holder op : {Holder::Rebuild, Holder::Compaction, Holder::DataFile, Holder::Swap, Holder::Host}) {
        SCOPED_TRACE(holder_name(op));
        refused_untouched(op, Block::Seam);
        if (HasFailure()) return;
    }
}

// The same with a file of the set made read-only (the data file, or an
// index file of its own), which refuses the hold's open only to a process
// that is not root.
TEST_F(RblUnheldTest, ACallThatCannotWriteASetFileRefusesUntouched) {
    if (geteuid() == 0) GTEST_SKIP() << "a read-only file refuses no open of root (the seam's test shows the rest)";
    for (Holder op : {Holder::Rebuild, Holder::Compaction, Holder::DataFile, Holder::Swap, Holder::Host}) {
        for (Block how : {Block::DataReadOnly, Block::IndexReadOnly}) {
            if (how == Block::IndexReadOnly && (op == Holder::DataFile || op == Holder::Host)) continue;
            SCOPED_TRACE(std::string(holder_name(op)) + (how == Block::DataReadOnly ? ", data file" : ", index file"));
            refused_untouched(op, how);
            if (HasFailure()) return;
        }
    }
}

}  // namespace
