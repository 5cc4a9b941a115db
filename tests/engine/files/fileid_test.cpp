// File ids as GETFIL answers them: positive wherever a process's counter
// stands, shared by an index's members, different between processes
// however many files each makes; and files stamped by older code (server
// id 0) still open with their segments.
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/core/centralio.h"
#include "engine/core/filenum.h"
#include "tests/engine/files/files_util.h"
#include "tests/support/child.h"
#include "tests/support/damage.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le32;

class FileIdTest : public filestest::FilesTest {
protected:
    void TearDown() override {
        zv::file_id_source_set(0, 0);
        FilesTest::TearDown();
    }
    // The three id words of an open file: file id, server id, creation time.
    static std::tuple<int32_t, int32_t, int32_t> id_of(int filno) {
        return {GETFIL(filno, 35), GETFIL(filno, 37), GETFIL(filno, 36)};
    }
};

// Made across the wrap of the counter, files answer positive ids: the
// counter skips from 0x7FFFFFFF to 1, never through -1 (GETFIL's failure)
// or a negative value. An index's members carry the whole id of their host,
// on disk too.
TEST_F(FileIdTest, IdsArePositiveAndAnIndexsMembersShareIt) {
    zv::file_id_source_set(0x1234, 0x7FFFFFFEu);
    const int32_t want[] = {0x7FFFFFFE, 0x7FFFFFFF, 1};
    for (int k = 0; k < 3; k++) {
        const std::string name = "d" + std::to_string(k) + ".dat";
        ASSERT_EQ(CREDAT(1 + k, name.c_str(), 64, 0, 0), 0);
        EXPECT_EQ(GETFIL(1 + k, 35), want[k]) << name;
        EXPECT_EQ(GETFIL(1 + k, 37), 0x1234) << name;
        EXPECT_EQ(zvGetUserErrorCode(), 0);
    }
    ASSERT_EQ(CREIDX(5, "i.idx", 8, 0, 0, 2, 0, 0), 0);
    ASSERT_EQ(CREMEM(5, 8, 0, 1, 1), 0);
    ASSERT_EQ(CREMEM(5, 12, 0, 1, 2), 0);
    EXPECT_EQ(GETFIL(5, 35), 2);
    for (int m = 6; m <= 7; m++) EXPECT_EQ(id_of(m), id_of(5)) << "member " << m;
    const auto host = id_of(5);
    ASSERT_EQ(CLSFIL(5, 0), 0);
    ASSERT_EQ(OPNFIL(5, "i.idx", 0), 0);
    for (int m = 5; m <= 7; m++) EXPECT_EQ(id_of(m), host) << "reopened " << m;
}

// Two processes (forked one after the other from a parent that made a file
// first) each make 1,100 files, more than the 1,024 a process id once
// reserved: no id of one is the other's or the parent's, and none is -1 or
// negative.
TEST_F(FileIdTest, FilesOfTwoProcessesNeverShareAnId) {
    constexpr int kFiles = 1100;
    ASSERT_EQ(CREDAT(1, "parent.dat", 64, 0, 0), 0);
    const auto parent = id_of(1);
    auto make_all = [](const char *out) {
        return [out] {
            zvtest::ChildResult r;
            if ((r.rc = zvtest::start_engine(8, 20, 8, 16)) != 0) return r;
            std::string ids;
            XCREblk mem{};
            mem.mode = 0x80000000u;
            mem.maxsizelo = 1 << 16;
            for (int i = 0; i < kFiles && r.rc == 0; i++) {
                // Every hundredth file on disk, the others in memory (made
                // faster, stamped alike).
                if ((r.rc = CREDATX8(1, "c.dat", 64, 0, 0, 0, nullptr, nullptr, i % 100 ? &mem : nullptr)) != 0) break;
                const int32_t w[3] = {GETFIL(1, 35), GETFIL(1, 37), GETFIL(1, 36)};
                ids.append(reinterpret_cast<const char *>(w), sizeof w);
                r.rc = i % 100 ? CLSFIL(1, 0) : DELFIL(1);
            }
            r.extra = int(getpid());
            zvtest::write_file(out, ids);
            zvtest::stop_engine();
            return r;
        };
    };
    const zvtest::ChildResult a = zvtest::run_in_child(make_all("ids.a"));
    const zvtest::ChildResult b = zvtest::run_in_child(make_all("ids.b"));
    ASSERT_TRUE(a.ok && b.ok);
    ASSERT_EQ(a.rc, 0);
    ASSERT_EQ(b.rc, 0);
    std::set<std::tuple<int32_t, int32_t, int32_t>> seen{parent};
    size_t count = 0;
    for (const char *out : {"ids.a", "ids.b"}) {
        const std::string bytes = zvtest::read_file(out);
        ASSERT_EQ(bytes.size(), size_t(kFiles) * 12) << out;
        for (size_t at = 0; at < bytes.size(); at += 12) {
            int32_t w[3];
            memcpy(w, bytes.data() + at, sizeof w);
            EXPECT_GT(w[0], 0) << out;
            EXPECT_GT(w[1], 0) << out;
            seen.emplace(w[0], w[1], w[2]);
            count++;
        }
    }
    EXPECT_EQ(seen.size(), count + 1) << "pids " << a.extra << " and " << b.extra;
}

// A segmented file whose header and segment headers carry an id as older
// code stamped it (server id 0, a file id that reads as -1) opens and reads
// across its segments; a segment whose header's id differs is refused.
TEST_F(FileIdTest, AFileStampedByOlderCodeOpensWithItsSegments) {
    XCREblk x{};
    x.mode = 0x02 | 0x08 | 0x200000;
    x.segsize = 1;
    x.nsegs = 3;
    ASSERT_EQ(CREDATX8(1, "data", 128, 0, 0x800, 0, nullptr, nullptr, &x), 0);
    Bytes data(2500000);
    for (size_t i = 0; i < data.size(); i++) data[i] = uint8_t((i * 131 + 7) % 253);
    FCB *f = fcb(1);
    ASSERT_EQ(izvio81x(0x11, f, 0, 4096, data.data(), int32_t(data.size()), nullptr, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);

    for (const char *name : {"data", "data.001", "data.002"}) EXPECT_EQ(zvtest::stamp_older_id(name, 0xFFFFFFFFu), 1) << name;

    ASSERT_EQ(OPNFIL(1, "data", 0), 0);
    EXPECT_EQ(GETFIL(1, 35), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(GETFIL(1, 37), 0);
    Bytes back(data.size());
    ASSERT_EQ(izvio81x(0x10, fcb(1), 0, 4096, back.data(), int32_t(back.size()), nullptr, 0), 0);
    EXPECT_EQ(back, data);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    // A segment of another file (its id differs) is not taken for this one's.
    EXPECT_EQ(zvtest::stamp_older_id("data.002", 0xFFFFFFFEu), 1);
    EXPECT_EQ(OPNFIL(1, "data", 0), 681);
}

}  // namespace
