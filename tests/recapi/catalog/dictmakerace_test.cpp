// Two processes making one dictionary at once: the other process's make
// starts at each step of this process's make (its opens, links, renames,
// unlinks and writes, as the platform seam counts them) and runs beside it,
// waiting for it where it must. One make makes the dictionary, the other
// answers 19 (made meanwhile); no name under "~zvnew" stays, and the
// dictionary opens. Session dictionaries (zvdbCreateSession) and database
// dictionaries (the dictionary alone, without its entry), each in a
// superfile host and as a plain table in a directory.
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

struct Kind {
    const char *what;
    bool session;  // the session's dictionary; else the database "shop"'s
    bool insuper;  // in a superfile host; else a table in a directory
};

const Kind kKinds[] = {
    {"SessionInHost", true, true},
    {"SessionPlain", true, false},
    {"DatabaseInHost", false, true},
    {"DatabasePlain", false, false},
};

// The make: the session dictionary by zvdbCreateSession (its own engine
// for the call), or the database dictionary "shop" on a logged-on
// logon-only session.
int make_dict(const Kind &k, ZVHANDLE logon_only) {
    if (k.session) {
        ZVHANDLE s = zvdbAllocSession(0);
        if (!s) return -1;
        int rc = zvdbSetDictInSuperfile(s, k.insuper ? 1 : 0);
        if (rc == 0) rc = zvdbCreateSession(s, nullptr, nullptr, nullptr);
        zvdbFreeSession(s);
        return rc;
    }
    ZVDBDICT *d = _zvdbAllocDict(logon_only, 0);
    if (!d) return -1;
    const int rc = _zvdbCreateDict(d, "shop", k.insuper ? 1 : 0);
    _zvdbFreeDict(d);
    return rc;
}

// The dictionary opened by a process that comes after: a logon, or the
// open of the database dictionary. 0 or the code.
int open_dict(const Kind &k, ZVHANDLE logon_only) {
    if (k.session) {
        ZVHANDLE s = zvdbAllocSession(0);
        int rc = zvdbLogon(s, nullptr, "tester", nullptr);
        if (rc == 0) rc = zvdbLogout(s);
        zvdbFreeSession(s);
        return rc;
    }
    ZVDBDICT *d = _zvdbAllocDict(logon_only, 0);
    int rc = _zvdbOpenDict(d, "shop", 0, 1);
    if (rc == 0) rc = _zvdbCloseDict(d);
    _zvdbFreeDict(d);
    return rc;
}

// Every name below the directory (the status log aside), with its path.
std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::recursive_directory_iterator(".")) {
        const std::string n = e.path().lexically_relative(".").string();
        if (n != "ZVSTATUS.QVS") out.push_back(n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void remove_all() {
    for (const auto &e : std::filesystem::directory_iterator(".")) {
        if (e.path().filename() != "ZVSTATUS.QVS") std::filesystem::remove_all(e.path());
    }
}

std::vector<std::string> files_of(const Kind &k) {
    const std::string host = k.session ? "zvdbdict.qsd" : "shop.qdd";
    if (k.insuper) return {host};
    return {host, host + "/zvdbdict.dat", host + "/zvdbdict.idx"};
}

class DictMakeRace : public zvtest::ZvTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        logon_only_ = zvdbAllocSession(1);
        ASSERT_NE(logon_only_, nullptr);
        ASSERT_EQ(zvdbLogon(logon_only_, nullptr, "tester", nullptr), 0);
    }
    void TearDown() override {
        zv::fault_reset();
        EXPECT_EQ(zvdbFreeSession(logon_only_), 0);
        ZvTest::TearDown();
    }
    ZVHANDLE logon_only_ = nullptr;
};

// The other process: each command makes the dictionary of the kind
// numbered command - 1.
zvtest::ChildResult peer_make(int command) {
    static ZVHANDLE s = nullptr;
    zvtest::ChildResult r;
    if (!s) {
        s = zvdbAllocSession(1);
        if (!s || (r.rc = zvdbLogon(s, nullptr, "peer", nullptr)) != 0) return r;
    }
    r.rc = make_dict(kKinds[command - 1], s);
    r.sys = zvGetSystemErrorCode();
    return r;
}

TEST_P(DictMakeRace, OneMakesTheDictionaryTheOtherFindsItMade) {
    const Kind &k = kKinds[GetParam()];
    zvtest::Peer peer(peer_make);
    const auto make = [&] { return make_dict(k, logon_only_); };
    zvtest::race_makes(peer, GetParam() + 1, make, remove_all, [&] {
        EXPECT_EQ(names(), files_of(k));
        EXPECT_EQ(open_dict(k, logon_only_), 0);
    });
}

std::string kind_name(const ::testing::TestParamInfo<int> &p) { return kKinds[p.param].what; }

INSTANTIATE_TEST_SUITE_P(Kinds, DictMakeRace, ::testing::Range(0, int(std::size(kKinds))), kind_name);

}  // namespace
