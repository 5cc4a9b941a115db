// A process killed while it changes a variable-length set, at one write of
// a run of changes after another, and the repair that follows (RBLIFIL,
// with the purge of rejected records where a killed move may leave a
// record twice): the set comes back sound, every record of the last clean
// close is there exactly once, in that version or the one the killed
// process wrote, and a record the process added is there as written, but
// for the bytes of pages that had not reached the file (read as zeros),
// or not at all.
// Beside the sweeps, a file left extended by a stretch that no write
// reached, followed by a sound area, shows where the scan goes on.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/child.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace rbltest;

constexpr int16_t kPurge = int16_t(-(0x4000 + 0x004));

long env_long(const char *name, long dflt) {
    const char *v = getenv(name);
    return v && *v ? strtol(v, nullptr, 10) : dflt;
}

uint32_t number_of(const std::string &img) {
    uint32_t n = 0;
    memcpy(&n, img.data() + 4, 4);
    return n;
}

// Whether a record the killed process added reads as its image: the
// identity field the add assigned aside, every byte is the image's, or
// zero where a page of it did not reach the file.
bool as_added(const std::string &got, const std::string &img) {
    if (got.size() != img.size()) return false;
    for (size_t i = 0; i < got.size(); i++) {
        if (i >= offsetof(Rec, amount) && i < offsetof(Rec, amount) + sizeof(uint32_t)) continue;
        if (got[i] != img[i] && got[i] != 0) return false;
    }
    return true;
}

// The version a rewrite of the sweep gives a record: its fixed part with
// a tail long enough that the record must move: longer than its area and
// a free area after it together (a deleted record's, at most 162 bytes).
std::string grown(const std::string &old) {
    const uint32_t n = number_of(old);
    return old.substr(0, sizeof(Rec)) + std::string(400 + n % 40, char('A' + n % 26));
}

class RblKillTest : public RblTest {
protected:
    // Runs work(data file) in a child process that is killed at its nth
    // write through the platform seam, and after(n) on the files each kill
    // left; every run starts from the files of the template. The kills
    // are a seeded sample of the writes the work makes (every write when
    // ZV_KILL_RUNS asks for as many; ZV_KILL_SEED for another sample). The
    // number of kills.
    int sweep(RblSet &s, const std::function<int(int)> &work, const std::function<void(long)> &after) {
        auto run = [&](long n) {
            zvtest::restore_template();
            return zvtest::run_in_child([&]() {
                zvtest::ChildResult r;
                // Four data pages: changed pages are evicted, and so
                // written, in the course of the work.
                if ((r.rc = INTISAMX(16, 60, 4, 4, kProfile)) != 0) return r;
                s.ifil.tfilno = -1;
                if ((r.rc = OPNIFILX(&s.ifil, nullptr, nullptr, nullptr)) != 0) return r;
                zv::fault_reset();
                if (n) zv::fault_exit(zv::IoKind::Write, n, 77);
                r.rc = work(s.ifil.tfilno);
                r.extra = int(zv::io_calls(zv::IoKind::Write));
                CLIFIL(&s.ifil);
                return r;
            });
        };
        zvtest::ChildResult whole = run(0);
        EXPECT_TRUE(whole.ok && whole.rc == 0) << "the work without a kill: " << whole.rc;
        std::vector<long> writes;
        for (long n = 1; n <= whole.extra; n++) writes.push_back(n);
        std::mt19937 rng(unsigned(env_long("ZV_KILL_SEED", 7)));
        std::shuffle(writes.begin(), writes.end(), rng);
        writes.resize(std::min(writes.size(), size_t(env_long("ZV_KILL_RUNS", 12))));
        std::sort(writes.begin(), writes.end());
        int kills = 0;
        for (long n : writes) {
            SCOPED_TRACE("killed at write " + std::to_string(n));
            zvtest::ChildResult c = run(n);
            EXPECT_FALSE(c.ok) << "the child was killed";
            kills++;
            after(n);
            if (HasFailure()) break;
        }
        return kills;
    }

    // Checks a repaired set: it verifies, every index agrees with the data
    // file, each record of `kept` is there once in one of its versions,
    // and any other record is one of `added`, whole.
    void check_repaired(RblSet &s, const std::map<uint32_t, std::set<std::string>> &kept,
                        const std::map<uint32_t, std::string> &added) {
        std::string verdict;
        zvtest::SetState st;
        contents(s, &verdict, &st);
        EXPECT_EQ(verdict, "");
        CLIFIL(&s.ifil);
        EXPECT_TRUE(zvtest::verify_set(s.dat()));
        std::map<uint32_t, int> seen;
        for (const auto &kv : st.records) {
            const uint32_t n = number_of(kv.second);
            seen[n]++;
            auto k = kept.find(n);
            auto a = added.find(n);
            if (k != kept.end())
                EXPECT_EQ(k->second.count(kv.second), 1u) << "record " << n << " is a version that was written";
            else if (a != added.end())
                EXPECT_TRUE(as_added(kv.second, a->second)) << "added record " << n;
            else
                ADD_FAILURE() << "record " << n << " was never written";
        }
        for (const auto &kv : kept) EXPECT_EQ(seen[kv.first], 1) << "record " << kv.first << " once";
        for (const auto &kv : added) EXPECT_LE(seen[kv.first], 1) << "added record " << kv.first;
    }
};

// Every record rewritten longer, so that it moves: its new copy must reach
// the file before the free mark of its old area. A kill in between leaves
// both copies; the purge of the repair keeps the one a unique index meets
// first. No kill may leave the record without a copy.
TEST_F(RblKillTest, ARecordKilledWhileItMovesIsKeptOnce) {
    RblSet s("moved", Kind::Variable);
    std::multiset<std::string> live = build(s, 30);
    zvtest::save_template();
    std::map<uint32_t, std::set<std::string>> kept;
    for (const std::string &img : live) kept[number_of(img)] = {img, grown(img)};
    auto work = [&](int d) {
        for (const auto &kv : kept) {
            char buf[512];
            int32_t len = sizeof buf;
            uint32_t n = kv.first;
            if (int rc = EQLVREC(d + 1, &n, buf, &len)) return rc;
            std::string img = grown(std::string(buf, size_t(len)));
            if (int rc = RWTVREC(d, img.data(), int32_t(img.size()))) return rc;
        }
        return 0;
    };
    int twice = 0;
    int kills = sweep(s, work, [&](long) {
        int rc = s.rebuild(kPurge);
        EXPECT_TRUE(rc == 0 || rc == 650) << rc << "\n" << status_log();
        if (rc == 650) twice++;
        check_repaired(s, kept, {});
    });
    EXPECT_GT(kills, 0);
    EXPECT_GT(twice, 0) << "some kill left a moved record twice";
}

// Records added at the end of the file, each longer than a page: the file
// grows, and a kill leaves pages of the new areas written and others not,
// so that the walk meets a header position no write reached. The repair
// with the usual options frees that stretch and keeps every record.
TEST_F(RblKillTest, AFileExtendedBeyondItsWrittenPagesIsRepaired) {
    RblSet s("grown", Kind::Variable);
    std::multiset<std::string> live = build(s, 30);
    zvtest::save_template();
    std::map<uint32_t, std::set<std::string>> kept;
    for (const std::string &img : live) kept[number_of(img)] = {img};
    std::map<uint32_t, std::string> added;
    for (uint32_t k = 31; k <= 45; k++) added[k * 10] = image(rec(k * 10), 300 + (k % 5) * 900);
    auto work = [&](int d) {
        for (const auto &kv : added) {
            if (int rc = ADDVREC(d, const_cast<char *>(kv.second.data()), int32_t(kv.second.size()))) return rc;
        }
        return 0;
    };
    int kills = sweep(s, work, [&](long) {
        EXPECT_EQ(s.rebuild(), 0) << status_log();
        check_repaired(s, kept, added);
    });
    EXPECT_GT(kills, 0);
}

// A process killed inside the repair itself, at any of its writes: the
// repair writes headers whose last byte used runs ahead of what it has
// written, but the set it leaves opens with 14 (marked changed), never with
// 13, and the repair run again brings back every record.
TEST_F(RblKillTest, AKillInsideTheRepairLeavesASetThatOpensWith14) {
    RblSet s("inrepair", Kind::Variable);
    std::multiset<std::string> live = build(s, 30);
    zvtest::save_template();
    std::map<uint32_t, std::set<std::string>> kept;
    for (const std::string &img : live) kept[number_of(img)] = {img};
    auto run = [&](long n) {
        zvtest::restore_template();
        return zvtest::run_in_child([&]() {
            zvtest::ChildResult r;
            if ((r.rc = INTISAMX(16, 60, 4, 4, kProfile)) != 0) return r;
            zv::fault_reset();
            if (n) zv::fault_exit(zv::IoKind::Write, n, 77);
            r.rc = s.rebuild();
            r.extra = int(zv::io_calls(zv::IoKind::Write));
            return r;
        });
    };
    const zvtest::ChildResult whole = run(0);
    ASSERT_TRUE(whole.ok);
    ASSERT_EQ(whole.rc, 0);
    int marked = 0;
    for (long n = 1; n <= whole.extra; n++) {
        SCOPED_TRACE("killed at write " + std::to_string(n));
        EXPECT_FALSE(run(n).ok);
        s.ifil.tfilno = -1;
        const int rc = OPNIFILX(&s.ifil, nullptr, nullptr, nullptr);
        if (rc == 0) CLIFIL(&s.ifil);
        EXPECT_TRUE(rc == 0 || rc == 14) << "the set opens with " << rc;
        marked += rc == 14;
        EXPECT_EQ(s.rebuild(), 0) << status_log();
        check_repaired(s, kept, {});
        if (HasFailure()) break;
    }
    EXPECT_GT(marked, 0);
}

// A closed file extended by a stretch that holds no written header (zeros
// of a hole, or growth fill) and then a sound area with a record: the
// stretch becomes free space up to that area's header, and the record
// after it is kept and indexed.
TEST_F(RblKillTest, AnUnwrittenStretchIsFreedUpToTheNextSoundArea) {
    const struct {
        const char *what;
        char byte;
    } cases[] = {{"zeros", '\0'}, {"growth fill", char(0xFF)}};
    int run = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RblSet s(("gap" + std::to_string(run++)).c_str(), Kind::Variable);
        std::multiset<std::string> live = build(s, 30);
        const uint64_t end = uint64_t(zvtest::get_le32(s.dat(), 8)) + 1;
        const std::string body = image(rec(9990), 40);
        std::string area(10, '\0');
        area[0] = area[1] = char(0xFA);
        const uint32_t arealen = uint32_t(10 + body.size()), reclen = uint32_t(body.size());
        for (int i = 0; i < 4; i++) area[size_t(2 + i)] = char(arealen >> (8 * i));
        for (int i = 0; i < 4; i++) area[size_t(6 + i)] = char(reclen >> (8 * i));
        zvtest::write_bytes(s.dat(), end, std::string(700, c.byte) + area + body);
        ASSERT_EQ(s.rebuild(), 0) << status_log();
        std::map<uint32_t, std::set<std::string>> kept;
        for (const std::string &img : live) kept[number_of(img)] = {img};
        kept[9990] = {body};
        check_repaired(s, kept, {});
        // The freed stretch takes a record again.
        s.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFILX(&s.ifil, nullptr, nullptr, nullptr), 0);
        std::string img = image(rec(9991), 500);
        EXPECT_EQ(ADDVREC(s.ifil.tfilno, img.data(), int32_t(img.size())), 0);
        CLIFIL(&s.ifil);
        EXPECT_TRUE(zvtest::verify_set(s.dat()));
    }
}

// A record rewritten in place shorter, so that a free tail is cut off
// behind it, in one write that the system ends early at a 4096-byte
// boundary: the record's new header below the boundary reached the file,
// the tail's header at or past it (or only its first bytes) did not, and
// the process is gone. The repair without options frees the stretch up to
// the next area and keeps every other record whole; the record the write
// held keeps what of it reached the file. Cases: where the tail's header
// stands, relative to the boundary.
TEST_F(RblKillTest, AWriteCutAtA4096ByteBoundaryIsMendedWithoutOptions) {
    constexpr uint32_t kHdr = 10, kPage = 512, kBoundary = 4096;
    const struct {
        const char *what;
        int32_t past;  // the tail header's offset from the boundary
    } cases[] = {{"past the boundary", 8}, {"at the boundary", 0}, {"its mark below it", -3},
                 {"its first byte below it", -1}};
    int run = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RblSet s(("cut" + std::to_string(run++)).c_str(), Kind::Variable);
        s.ifil.dfilmod |= 0x40;  // write through: the rewrite's pages go at once
        std::map<uint32_t, std::string> small;
        for (uint32_t n = 1; n <= 36; n++) small[n] = image(rec(n), n % 9 * 11);
        const std::string old = image(rec(500), 5000);
        // The boundary the record's tail header stands at: the first one
        // past room for the record's header, its fixed part and a margin.
        auto boundary_of = [](uint64_t pos) {
            return (pos + kHdr + 64 + 8 + kBoundary - 1) / kBoundary * kBoundary;
        };
        zvtest::ChildResult cr = zvtest::run_in_child([&] {
            zvtest::ChildResult r;
            if ((r.rc = INTISAMX(16, 60, 4, 32, kProfile)) != 0) return r;
            const int d = s.create();
            if (d < 0) return r;
            for (uint32_t n = 1; n <= 30; n++) {
                if ((r.rc = ADDVREC(d, small[n].data(), int32_t(small[n].size()))) != 0) return r;
            }
            if ((r.rc = ADDVREC(d, const_cast<char *>(old.data()), int32_t(old.size()))) != 0) return r;
            const uint64_t pos = uint64_t(GETCURP(d)) | uint64_t(uint32_t(zvGETHGH())) << 32;
            for (uint32_t n = 31; n <= 36; n++) {
                if ((r.rc = ADDVREC(d, small[n].data(), int32_t(small[n].size()))) != 0) return r;
            }
            if ((r.rc = ZVFLUSH(-1)) != 0) return r;
            const uint64_t boundary = boundary_of(pos);
            const uint64_t tail = boundary + uint64_t(int64_t(c.past));
            const int32_t len = int32_t(tail - pos - kHdr);
            Rec nr = rec(500);
            std::string img = image(nr) + std::string(size_t(len) - sizeof(Rec), 'Q');
            char buf[6000];
            int32_t got = sizeof buf;
            uint32_t key = 500;
            if ((r.rc = EQLVREC(d + 1, &key, buf, &got)) != 0) return r;
            // The rewrite's pages go in one write, from the record's first
            // page to the end of its tail header's page: cut at the
            // boundary, and the process ends at the write of the rest.
            const uint64_t last = (tail + kHdr - 1) / kPage * kPage + kPage;
            zv::fault_reset();
            zv::fault_set(zv::IoKind::Write, 1, 0, false, long(last - boundary));
            zv::fault_exit(zv::IoKind::Write, 2, 77);
            r.rc = RWTVREC(d, img.data(), len);
            return r;
        });
        EXPECT_FALSE(cr.ok) << "the process ends inside the rewrite: " << cr.rc;
        // The layout the child made, found again in the file.
        const std::string disk = zvtest::read_bytes(s.dat(), 0, zvtest::file_size(s.dat()));
        const size_t at = disk.find(old.substr(0, sizeof(Rec)));
        ASSERT_NE(at, std::string::npos);
        const uint64_t pos = at - kHdr;
        const uint64_t boundary = boundary_of(pos);
        const uint64_t tail = boundary + uint64_t(int64_t(c.past));
        const uint32_t len = uint32_t(tail - pos - kHdr);
        // What the cut write left: the new header, the new bytes up to the
        // boundary, the old ones from there on.
        EXPECT_EQ(zvtest::get_le32(s.dat(), pos + 2), kHdr + len) << "the new header reached the file";
        EXPECT_EQ(zvtest::get_le32(s.dat(), pos + 6), len);
        const size_t keep = std::min(size_t(boundary - pos - kHdr), size_t(len));
        const std::string torn = old.substr(0, sizeof(Rec)) + std::string(keep - sizeof(Rec), 'Q') +
                                 old.substr(keep, len - keep);
        EXPECT_TRUE(disk.substr(size_t(pos + kHdr), len) == torn);
        EXPECT_TRUE(disk.substr(size_t(boundary), 16) == old.substr(size_t(boundary - pos - kHdr), 16))
            << "nothing past the boundary";

        ASSERT_EQ(s.rebuild(), 0) << status_log();
        std::string verdict;
        std::multiset<std::string> want;
        for (const auto &kv : small) want.insert(kv.second);
        want.insert(torn);
        EXPECT_EQ(contents(s, &verdict), want);
        EXPECT_EQ(verdict, "");
        // The freed stretch takes a record again.
        std::string more = image(rec(9991), 700);
        EXPECT_EQ(ADDVREC(s.ifil.tfilno, more.data(), int32_t(more.size())), 0);
        CLIFIL(&s.ifil);
        EXPECT_TRUE(zvtest::verify_set(s.dat()));
        if (HasFailure()) break;
    }
}

// The file a kill between the two writes of a move leaves: the record's
// old area and its new copy, further on, both live. The plain repair keeps
// the copy the unique indexes meet first indexed and the other in the data
// file (652); each form of the purge deletes the other copy (650).
TEST_F(RblKillTest, ThePurgeKeepsOneOfTwoCopiesOfAMovedRecord) {
    const struct {
        const char *what;
        int16_t options;
    } cases[] = {{"option 0x004", kPurge}, {"-101", -101}, {"-200", -200}};
    int run = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RblSet s(("twice" + std::to_string(run++)).c_str(), Kind::Variable);
        zvtest::SetState st = built(s, 30);
        auto it = st.records.begin();
        std::advance(it, 5);
        const std::string old = it->second, copy = grown(old);
        std::string area(10, '\0');
        area[0] = area[1] = char(0xFA);
        const uint32_t arealen = uint32_t(10 + copy.size()), reclen = uint32_t(copy.size());
        for (int i = 0; i < 4; i++) area[size_t(2 + i)] = char(arealen >> (8 * i));
        for (int i = 0; i < 4; i++) area[size_t(6 + i)] = char(reclen >> (8 * i));
        zvtest::write_bytes(s.dat(), uint64_t(zvtest::get_le32(s.dat(), 8)) + 1, area + copy);
        ASSERT_EQ(s.rebuild(), 652) << status_log();
        std::string verdict;
        zvtest::SetState now;
        contents(s, &verdict, &now);
        EXPECT_NE(verdict, "") << "the second copy is in no unique index";
        CLIFIL(&s.ifil);
        EXPECT_EQ(s.rebuild(c.options), 650) << status_log();
        std::map<uint32_t, std::set<std::string>> kept;
        for (const auto &kv : st.records) kept[number_of(kv.second)] = {kv.second};
        check_repaired(s, kept, {});
    }
}

}  // namespace
