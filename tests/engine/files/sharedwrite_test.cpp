// Writers of shared opens: shared opens read together; the first change
// through one takes the file exclusively, refused with 12 (and nothing
// written) while another open holds it, and the writer keeps the file
// until it closes, across virtual closes. The rule is per open of the
// file: another process, another instance of this process, another file
// number of this instance. A superfile member's file is its host.
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/files/header.h"
#include "tests/engine/files/files_util.h"
#include "tests/support/child.h"
#include "tests/support/peerstep.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;

constexpr uint16_t kShared = 0x0001;
constexpr uint16_t kReclen = 100;

bool lock_refusal(int rc, int sys) { return rc == 12 && (sys == EAGAIN || sys == EACCES); }
bool lock_refusal(const zvtest::ChildResult &r) { return r.ok && lock_refusal(r.rc, r.sys); }

// Adds one record of byte c to an open fixed-length file: 0 or the code.
int add_record(int filno, char c) {
    std::string rec(kReclen, c);
    uint32_t pos = NEWREC(filno);
    if (!pos) return zvWNGV->uerr_cod;
    return WRTREC(filno, pos, rec.data());
}

// Steps of the other process: open a file shared (and read its first
// record when it has one), add one record to it, close it.
enum Step { kOpen = 1, kAdd = 2, kClose = 3 };

// The other process, working on `name` under file number 1 of its own
// instance; with a member name, `name` is a superfile host, and the
// member, opened on number 3 after it, takes the record. The add reports
// the record's position in extra.
zvtest::Peer other_process(const std::string &name, const std::string &member = "") {
    return zvtest::Peer([name, member](int step) {
        zvtest::ChildResult r;
        if (!zvWNGV->started && zvtest::start_engine(8, 20, 8, 16) != 0) return r;
        const int filno = member.empty() ? 1 : 3;
        switch (step) {
        case kOpen:
            r.rc = OPNFIL(1, name.c_str(), kShared);
            if (r.rc == 0 && !member.empty()) r.rc = OPNFIL(3, member.c_str(), kShared);
            break;
        case kAdd:
            r.extra = int(NEWREC(filno));
            r.rc = r.extra ? WRTREC(filno, uint32_t(r.extra), std::string(kReclen, 'p').data()) : zvWNGV->uerr_cod;
            break;
        case kClose:
            r.rc = CLSFIL(1, 0);
            break;
        }
        r.sys = zvGetSystemErrorCode();
        return r;
    });
}

class SharedWriteTest : public filestest::FilesTest {
protected:
    // A closed fixed-length file of one record, of byte 'a' at first_.
    void make(const char *name) {
        ASSERT_EQ(CREDATX8(1, name, kReclen, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
        first_ = NEWREC(1);
        ASSERT_NE(first_, 0u);
        ASSERT_EQ(WRTREC(1, first_, std::string(kReclen, 'a').data()), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
    // A refused change: 12 with the lock's errno, and neither the disk nor
    // the update flag in memory changed.
    void expect_refused(int rc, int filno, const char *file, const Bytes &before) {
        EXPECT_TRUE(lock_refusal(rc, zvGetSystemErrorCode())) << rc << " " << zvGetSystemErrorCode();
        EXPECT_EQ(fcb(filno)->hdr.base.updflg, 0);
        EXPECT_EQ(file_bytes(file), before);
    }
    // The file, opened alone, holds n records.
    void expect_records(const char *file, uint32_t n) {
        ASSERT_EQ(OPNFIL(1, file, 0), 0);
        EXPECT_EQ(DATENT(1), n);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
    // The file, opened alone, holds one record of each byte of `bytes`, in
    // that order from first_ on.
    void expect_contents(const char *file, const std::string &bytes) {
        ASSERT_EQ(OPNFIL(1, file, 0), 0);
        EXPECT_EQ(DATENT(1), bytes.size());
        std::string rec(kReclen, 0);
        for (size_t i = 0; i < bytes.size(); i++) {
            ASSERT_EQ(REDREC(1, first_ + uint32_t(i * kReclen), rec.data()), 0) << i;
            EXPECT_EQ(rec, std::string(kReclen, bytes[i])) << i;
        }
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
    uint32_t first_ = 0;
};

TEST_F(SharedWriteTest, AChangeNeedsTheOnlyOpenOfTheFileAndKeepsItUntilTheClose) {
    make("a.dat");
    zvtest::Peer peer = other_process("a.dat");
    ASSERT_EQ(OPNFIL(1, "a.dat", kShared), 0);
    // Readers together.
    ASSERT_EQ(peer.ask(kOpen).rc, 0);
    std::string rec(kReclen, 0);
    EXPECT_EQ(REDREC(1, first_, rec.data()), 0);
    EXPECT_EQ(rec, std::string(kReclen, 'a'));
    // Neither reader may change the file while the other holds it.
    const Bytes before = file_bytes("a.dat");
    expect_refused(add_record(1, 'b'), 1, "a.dat", before);
    EXPECT_TRUE(lock_refusal(peer.ask(kAdd)));
    EXPECT_EQ(file_bytes("a.dat"), before);
    // Alone, this open changes it, and from then on no other open gets in.
    ASSERT_EQ(peer.ask(kClose).rc, 0);
    ASSERT_EQ(add_record(1, 'b'), 0);
    EXPECT_TRUE(lock_refusal(peer.ask(kOpen)));
    ASSERT_EQ(add_record(1, 'c'), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(peer.ask(kOpen).rc, 0);
    ASSERT_EQ(peer.ask(kAdd).rc, 0);
    ASSERT_EQ(peer.ask(kClose).rc, 0);
    expect_records("a.dat", 4u);
}

// Two opens inside this process follow the same rule as two processes:
// under two numbers of one instance, and in two instances.
TEST_F(SharedWriteTest, OpensInThisProcessExcludeAWriterLikeAnotherProcess) {
    make("a.dat");
    struct Case {
        const char *what;
        bool two_instances;
    } cases[] = {{"two file numbers", false}, {"two instances", true}};
    const std::string main_id = zvWNGV->id;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // `there` is the second open's instance and number, `here` the
        // writer's.
        auto on = [&](bool second) {
            if (c.two_instances) {
                ASSERT_EQ(SWTZARVO(second ? "second" : main_id.c_str()), 0);
            }
        };
        const int here = 1, there = c.two_instances ? 1 : 2;
        if (c.two_instances) {
            ASSERT_EQ(REGZARVO("second"), 0);
            on(true);
            ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
        }
        on(true);
        ASSERT_EQ(OPNFIL(there, "a.dat", kShared), 0);
        on(false);
        ASSERT_EQ(OPNFIL(here, "a.dat", kShared), 0);
        const Bytes before = file_bytes("a.dat");
        expect_refused(add_record(here, 'b'), here, "a.dat", before);
        on(true);
        ASSERT_EQ(CLSFIL(there, 0), 0);
        on(false);
        ASSERT_EQ(add_record(here, 'b'), 0);
        on(true);
        const int rc = OPNFIL(there, "a.dat", kShared);
        EXPECT_TRUE(lock_refusal(rc, zvGetSystemErrorCode())) << rc;
        if (c.two_instances) {
            zvtest::stop_engine();
            ASSERT_EQ(UNRZARVO("second"), 0);
        }
        on(false);
        ASSERT_EQ(CLSFIL(here, 0), 0);
    }
    expect_records("a.dat", 3u);
}

// A writer is never closed virtually, so another process never finds the
// file free while it is open; a reader is, and taking the writer's lock
// after that reopens it first.
TEST_F(SharedWriteTest, AWriterKeepsTheFileThroughVirtualCloses) {
    for (const char *n : {"a.dat", "b.dat", "c.dat", "d.dat"}) make(n);
    zvtest::Peer peer = other_process("a.dat");
    g()->openvlimit = 2;
    ASSERT_EQ(OPNFIL(1, "a.dat", kShared), 0);
    ASSERT_EQ(add_record(1, 'b'), 0);
    ASSERT_EQ(OPNFIL(2, "b.dat", kShared), 0);
    ASSERT_EQ(OPNFIL(3, "c.dat", kShared), 0);
    // The oldest file of the ring is the writer: the reader goes instead.
    EXPECT_EQ(fcb(1)->state, 'y');
    EXPECT_EQ(fcb(2)->state, 'v');
    EXPECT_TRUE(lock_refusal(peer.ask(kOpen)));
    ASSERT_EQ(OPNFIL(4, "d.dat", kShared), 0);
    EXPECT_EQ(fcb(1)->state, 'y');
    EXPECT_EQ(fcb(3)->state, 'v');
    EXPECT_TRUE(lock_refusal(peer.ask(kOpen)));
    ASSERT_EQ(add_record(1, 'c'), 0);
    // The reader closed virtually becomes a writer: reopened, then locked,
    // and kept open from then on.
    ASSERT_EQ(add_record(2, 'b'), 0);
    EXPECT_EQ(fcb(2)->state, 'y');
    zvtest::Peer peer_b = other_process("b.dat");
    EXPECT_TRUE(lock_refusal(peer_b.ask(kOpen)));
    ASSERT_EQ(OPNFIL(5, "a.dat", kShared), 12);  // an open of this process too
    for (int i = 1; i <= 4; i++) ASSERT_EQ(CLSFIL(i, 0), 0) << i;
    ASSERT_EQ(peer.ask(kOpen).rc, 0);
    ASSERT_EQ(peer.ask(kClose).rc, 0);
    expect_records("a.dat", 3u);
}

// A block closed virtually holds no lock: another process may open the
// file, change it and close it before the block is reopened. The block's
// header and caches are then not the file's, so its changes are refused
// (12, no system error) and write nothing while its reads go on, and every
// record either process was told it wrote is there. A reopen that finds
// the file as the block left it changes it as before.
TEST_F(SharedWriteTest, AFileChangedWhileClosedVirtuallyIsNotChangedFromTheOldView) {
    struct Case {
        const char *what;
        uint16_t mode;   // of this process's open
        bool changed;    // the other process adds a record meanwhile
    } cases[] = {
        {"shared, changed elsewhere", kShared, true},
        {"exclusive, changed elsewhere", 0, true},
        {"shared, unchanged", kShared, false},
        {"exclusive, unchanged", 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const char *n : {"a.dat", "b.dat", "c.dat"}) {
            std::remove(n);
            make(n);
        }
        zvtest::Peer peer = other_process("a.dat");
        g()->openvlimit = 2;
        ASSERT_EQ(OPNFIL(1, "a.dat", c.mode), 0);
        std::string rec(kReclen, 0);
        ASSERT_EQ(REDREC(1, first_, rec.data()), 0);
        ASSERT_EQ(OPNFIL(2, "b.dat", kShared), 0);
        ASSERT_EQ(OPNFIL(3, "c.dat", kShared), 0);
        ASSERT_EQ(fcb(1)->state, 'v');
        if (c.changed) {
            ASSERT_EQ(peer.ask(kOpen).rc, 0);
            ASSERT_EQ(peer.ask(kAdd).rc, 0);
            ASSERT_EQ(peer.ask(kClose).rc, 0);
        }
        const Bytes before = file_bytes("a.dat");
        const int rc = add_record(1, 'b');
        if (c.changed) {
            EXPECT_EQ(rc, 12);
            EXPECT_EQ(zvGetSystemErrorCode(), 0);
            EXPECT_EQ(fcb(1)->hdr.base.updflg, 0);
            EXPECT_EQ(file_bytes("a.dat"), before);
            // Refused again, and read as before.
            EXPECT_EQ(add_record(1, 'c'), 12);
            rec.assign(kReclen, 0);
            EXPECT_EQ(REDREC(1, first_, rec.data()), 0);
            EXPECT_EQ(rec, std::string(kReclen, 'a'));
        } else {
            EXPECT_EQ(rc, 0);
        }
        for (int i = 1; i <= 3; i++) ASSERT_EQ(CLSFIL(i, 0), 0) << i;
        g()->openvlimit = 32767;
        expect_contents("a.dat", c.changed ? "ap" : "ab");
    }
}

// The same for a superfile member: its host is the file that was closed
// virtually, and the other process changed it through the member.
TEST_F(SharedWriteTest, AHostChangedThroughAMemberWhileClosedVirtuallyIsNotChangedFromTheOldView) {
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREDAT(3, "h!m", kReclen, 0, 0), 0);
    ASSERT_EQ(add_record(3, 'a'), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    for (const char *n : {"b.dat", "c.dat"}) make(n);
    zvtest::Peer peer = other_process("h", "h!m");
    g()->openvlimit = 2;
    ASSERT_EQ(OPNFIL(1, "h", kShared), 0);
    ASSERT_EQ(OPNFIL(3, "h!m", kShared), 0);
    ASSERT_EQ(OPNFIL(4, "b.dat", kShared), 0);
    ASSERT_EQ(OPNFIL(5, "c.dat", kShared), 0);
    ASSERT_EQ(fcb(1)->state, 'v');
    ASSERT_EQ(peer.ask(kOpen).rc, 0);
    const zvtest::ChildResult theirs = peer.ask(kAdd);
    ASSERT_EQ(theirs.rc, 0);
    ASSERT_EQ(peer.ask(kClose).rc, 0);
    const Bytes before = file_bytes("h");
    EXPECT_EQ(add_record(3, 'b'), 12);
    EXPECT_EQ(zvGetSystemErrorCode(), 0);
    EXPECT_EQ(fcb(1)->hdr.base.updflg, 0);
    EXPECT_EQ(file_bytes("h"), before);
    for (int i : {1, 4, 5}) ASSERT_EQ(CLSFIL(i, 0), 0) << i;
    g()->openvlimit = 32767;
    ASSERT_EQ(OPNFIL(1, "h", 0), 0);
    ASSERT_EQ(OPNFIL(3, "h!m", 0), 0);
    EXPECT_EQ(DATENT(3), 2u);
    std::string rec(kReclen, 0);
    ASSERT_EQ(REDREC(3, uint32_t(theirs.extra), rec.data()), 0);
    EXPECT_EQ(rec, std::string(kReclen, 'p'));
    ASSERT_EQ(CLSFIL(1, 0), 0);
}

// The file of a superfile member is its host: a process writing a member
// excludes every other open of the host, while the host, its directory and
// its members in this instance are one holder.
TEST_F(SharedWriteTest, WritingAMemberHoldsItsHost) {
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREDAT(3, "h!m", kReclen, 0, 0), 0);
    ASSERT_EQ(add_record(3, 'a'), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    zvtest::Peer peer = other_process("h");
    ASSERT_EQ(OPNFIL(1, "h", kShared), 0);
    ASSERT_EQ(OPNFIL(3, "h!m", kShared), 0);
    ASSERT_EQ(peer.ask(kOpen).rc, 0);
    const Bytes before = file_bytes("h");
    expect_refused(add_record(3, 'b'), 3, "h", before);
    EXPECT_EQ(fcb(1)->hdr.base.updflg, 0);
    ASSERT_EQ(peer.ask(kClose).rc, 0);
    ASSERT_EQ(add_record(3, 'b'), 0);
    EXPECT_TRUE(lock_refusal(peer.ask(kOpen)));
    // Another member of the host is written through the same holder.
    ASSERT_EQ(CREDAT(4, "h!n", kReclen, 0, 0), 0);
    ASSERT_EQ(add_record(4, 'n'), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(peer.ask(kOpen).rc, 0);
    ASSERT_EQ(peer.ask(kClose).rc, 0);
    ASSERT_EQ(OPNFIL(3, "h!m", 0), 0);
    EXPECT_EQ(DATENT(3), 2u);
    ASSERT_EQ(CLSFIL(fcb(3)->hostfcb->filno, 0), 0);
}

// Headers are written only through an open that holds the file alone: a
// shared open (or a member of a host opened shared, whatever its own mode)
// writes nothing at open, not even its mode, and a header write before its
// first change is refused (12, system code 0) with nothing written; after
// the change has taken the file, header writes go through.
TEST_F(SharedWriteTest, HeadersAreWrittenOnlyThroughAnOpenHoldingTheFileAlone) {
    make("a.dat");
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREDAT(3, "h!m", kReclen, 0, 0), 0);
    ASSERT_EQ(add_record(3, 'a'), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    const struct {
        const char *file, *name;
        int filno;
        bool member;
    } cases[] = {{"a.dat", "a.dat", 1, false}, {"h", "h!m", 3, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes before = file_bytes(c.file);
        if (c.member) {
            ASSERT_EQ(OPNFIL(1, "h", kShared), 0);
        }
        ASSERT_EQ(OPNFIL(c.filno, c.name, c.member ? 0 : kShared), 0);
        EXPECT_EQ(file_bytes(c.file), before) << "the open wrote";
        for (int (*write)(FCB *) : {wrthdr, filhdr}) {
            EXPECT_EQ(write(fcb(c.filno)), 12);
            EXPECT_EQ(zvGetSystemErrorCode(), 0);
        }
        EXPECT_EQ(file_bytes(c.file), before);
        ASSERT_EQ(add_record(c.filno, 'b'), 0);
        EXPECT_EQ(wrthdr(fcb(c.filno)), 0);
        EXPECT_EQ(filhdr(fcb(c.filno)), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
}

// Another process puts a new file in the place of one that a block closed
// virtually had open (a swap: the new file renamed over the name). The
// reopen by name finds another file: the block reads and writes nothing of
// it (12, no system error), whatever its header says, and stays so.
TEST_F(SharedWriteTest, AFileSwappedWhileClosedVirtuallyIsNotTouched) {
    for (const char *n : {"a.dat", "b.dat", "c.dat"}) make(n);
    // The new file: a copy of the old one, header and all.
    filestest::put_file("new.dat", file_bytes("a.dat"));
    g()->openvlimit = 2;
    ASSERT_EQ(OPNFIL(1, "a.dat", kShared), 0);
    ASSERT_EQ(OPNFIL(2, "b.dat", kShared), 0);
    ASSERT_EQ(OPNFIL(3, "c.dat", kShared), 0);
    ASSERT_EQ(fcb(1)->state, 'v');
    zvtest::ChildResult swapped = zvtest::run_in_child([] {
        zvtest::ChildResult r;
        r.rc = std::rename("new.dat", "a.dat");
        return r;
    });
    ASSERT_TRUE(swapped.ok && swapped.rc == 0);
    const Bytes before = file_bytes("a.dat");
    EXPECT_EQ(add_record(1, 'b'), 12);
    EXPECT_EQ(zvGetSystemErrorCode(), 0);
    std::string rec(kReclen, 0);
    EXPECT_EQ(REDREC(1, first_, rec.data()), 12);
    EXPECT_EQ(add_record(1, 'c'), 12);
    EXPECT_EQ(file_bytes("a.dat"), before);
    EXPECT_EQ(fcb(1)->fd, -1);
    for (int i = 1; i <= 3; i++) CLSFIL(i, 0);
    g()->openvlimit = 32767;
    expect_contents("a.dat", "a");
}

// An open file renamed (zvRENFIL) keeps its descriptor and its lock from
// the old name to the new: another process's open at every step of the
// rename, under either name, finds it held (or no file under the name),
// never free; afterwards the file is written under its new name.
TEST_F(SharedWriteTest, AFileRenamedOpenIsHeldThroughout) {
    make("a.dat");
    zvtest::Peer old_name = other_process("a.dat"), new_name = other_process("b.dat");
    const std::vector<zv::IoKind> kinds = {zv::IoKind::Open, zv::IoKind::Link, zv::IoKind::Unlink,
                                           zv::IoKind::Rename};
    for (size_t k = 0; k < kinds.size(); k++) {
        for (long n = 1;; n++) {
            SCOPED_TRACE(std::string(zvtest::kind_name(kinds[k])) + " " + std::to_string(n));
            std::remove("b.dat");
            std::remove("a.dat");
            make("a.dat");
            ASSERT_EQ(OPNFIL(1, "a.dat", 0), 0);
            std::vector<zvtest::ChildResult> tries;
            bool made = false;
            const int rc = zvtest::run_with_attempt({kinds[k], n}, [&] {
                for (zvtest::Peer *p : {&old_name, &new_name}) {
                    tries.push_back(p->ask(kOpen));
                    if (tries.back().rc == 0) p->ask(kClose);
                }
            }, [] { return zvRENFIL(1, "b.dat"); }, &made);
            EXPECT_EQ(rc, 0);
            for (const zvtest::ChildResult &t : tries) {
                EXPECT_TRUE(lock_refusal(t) || (t.ok && t.rc == 12 && t.sys == ENOENT)) << t.rc << " " << t.sys;
            }
            EXPECT_EQ(add_record(1, 'b'), 0);
            ASSERT_EQ(CLSFIL(1, 0), 0);
            expect_contents("b.dat", "ab");
            if (!made || HasFailure()) break;
        }
        if (HasFailure()) return;
    }
}

}  // namespace
