// Two processes making one table at once: the other process's make starts
// at each step of this process's make (its opens, links, renames, unlinks
// and writes, as the platform seam counts them) and runs beside it, waiting
// for it where it must. One make makes the table, the other answers 19
// (made meanwhile); neither answers anything else (no 67, no 18), no name
// under "~zvnew" stays, and the table opens and takes a record. Tables of
// plain files, with an index file of their own, and in a superfile host
// that the makes make ("kh!").
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/fixture.h"
#include "tests/support/peerstep.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

// The table: "id" ZV_INT4 and "name" ZV_STRING 30, unique index "by_id" on
// id, and with own_index an index "by_name" on name in a file of its own.
struct Shape {
    const char *what;
    const char *path;  // the table's path
    bool own_index;
};

const Shape kShapes[] = {
    {"PlainFiles", ".", false},
    {"OwnIndexFile", ".", true},
    {"NewHost", "kh!", false},
    {"NewHostOwnIndexFile", "kh!", true},
};

int make_items(ZVHANDLE session, const Shape &shape) {
    ZVHANDLE t = zvdbAllocTable(session);
    if (!t) return -1;
    int rc = zvdbSetTablePath(t, shape.path);
    ZVHANDLE id = zvdbAddField(t, "id", ZV_INT4, 4);
    ZVHANDLE name = zvdbAddField(t, "name", ZV_STRING, 30);
    ZVHANDLE ix = zvdbAddIndex(t, "by_id", 0, 0, 0);
    if (rc == 0 && (!id || !name || !ix || !zvdbAddSegment(ix, id, 12))) rc = -2;
    if (rc == 0 && shape.own_index) {
        ZVHANDLE by_name = zvdbAddIndex(t, "by_name", 0, 1, 0);
        if (!by_name || !zvdbAddSegment(by_name, name, 12)) rc = -3;
        if (rc == 0) rc = zvdbSetIndexFilename(by_name, nullptr, "items_nm");
    }
    if (rc == 0) rc = zvdbCreateTable(t, "items", 0);
    zvdbFreeTable(t);
    return rc;
}

// The names in the directory (the status log aside).
std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(".")) {
        const std::string n = e.path().filename().string();
        if (n != "ZVSTATUS.QVS") out.push_back(n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void remove_all() {
    for (const std::string &n : names()) std::filesystem::remove_all(n);
}

std::string check_in(ZVHANDLE session, const Shape &shape) {
    ZVHANDLE t = zvdbAllocTable(session);
    int rc = zvdbSetTablePath(t, shape.path);
    if (rc == 0 && (rc = zvdbOpenTable(t, "items", 0)) != 0) {
        zvdbFreeTable(t);
        return "the open answers " + std::to_string(rc);
    }
    ZVHANDLE r = zvdbAllocRecord(t);
    std::string finding;
    zvdbClearRecord(r);
    zvdbSetFieldAsSigned(r, 0, 7);
    zvdbSetFieldAsString(r, 1, "seven");
    if ((rc = zvdbWriteRecord(r)) != 0) finding = "the write answers " + std::to_string(rc);
    zvdbClearRecord(r);
    zvdbSetFieldAsSigned(r, 0, 7);
    if (finding.empty() && (rc = zvdbFindRecord(r, 0)) != 0) finding = "the find answers " + std::to_string(rc);
    zvdbFreeRecord(r);
    if ((rc = zvdbCloseTable(t)) != 0 && finding.empty()) finding = "the close answers " + std::to_string(rc);
    zvdbFreeTable(t);
    return finding;
}

// The table opened by its path in a session of its own (which lets its
// files go when it is freed), a record written and read back by "by_id",
// the table closed: "" or what failed.
std::string check_table(const Shape &shape) {
    ZVHANDLE session = zvdbAllocSession(1);
    if (!session || zvdbLogon(session, nullptr, "checker", nullptr) != 0) return "no session";
    const std::string finding = check_in(session, shape);
    zvdbFreeSession(session);
    return finding;
}

std::vector<std::string> files_of(const Shape &shape) {
    if (std::string(shape.path) == "kh!") return {"kh"};
    if (shape.own_index) return {"items.dat", "items.idx", "items_nm.idx"};
    return {"items.dat", "items.idx"};
}

class MakeRace : public ::zvtest::ZvTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        session_ = zvdbAllocSession(1);
        ASSERT_NE(session_, nullptr);
        ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
    }
    void TearDown() override {
        zv::fault_reset();
        EXPECT_EQ(zvdbFreeSession(session_), 0);
        ZvTest::TearDown();
    }
    ZVHANDLE session_ = nullptr;
};

// The other process: its own session; each command makes the table of the
// shape numbered command - 1, answering its code and system error.
zvtest::ChildResult peer_make(int command) {
    static ZVHANDLE s = nullptr;
    zvtest::ChildResult r;
    if (!s) {
        s = zvdbAllocSession(1);
        if (!s || (r.rc = zvdbLogon(s, nullptr, "peer", nullptr)) != 0) return r;
    }
    r.rc = make_items(s, kShapes[command - 1]);
    r.sys = zvGetSystemErrorCode();
    return r;
}

TEST_P(MakeRace, OneMakesTheTableTheOtherFindsItMade) {
    const Shape &shape = kShapes[GetParam()];
    zvtest::Peer peer(peer_make);
    const auto make = [&] { return make_items(session_, shape); };
    const zvtest::RaceCount made = zvtest::race_makes(peer, GetParam() + 1, make, remove_all, [&] {
        EXPECT_EQ(names(), files_of(shape));
        EXPECT_EQ(check_table(shape), "");
    });
    RecordProperty("made here", made.here);
    RecordProperty("made there", made.there);
}

std::string shape_name(const ::testing::TestParamInfo<int> &p) { return kShapes[p.param].what; }

INSTANTIATE_TEST_SUITE_P(Shapes, MakeRace, ::testing::Range(0, int(std::size(kShapes))), shape_name);

}  // namespace
