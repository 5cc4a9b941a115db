// The set rebuild, the compaction and the data-file rebuild of a set whose
// files another process holds open: the whole set opened shared or
// exclusively, or one of its index files opened alone. The run refuses with 12 and the lock's system
// error before any byte of the set changes or any of its files is
// replaced, the holder reads on as before, and once the holder has closed
// the run succeeds.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "engine/core/instance.h"
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

}  // namespace
