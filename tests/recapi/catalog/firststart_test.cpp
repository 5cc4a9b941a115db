// A program's first start and the starts after a kill: the README's
// start-up code (tests/support/firststart.h) reaches its open table
// whatever moment of the first start a kill ended, and every record a table
// flush covered is found by the table's name.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "engine/core/platform.h"
#include "tests/support/child.h"
#include "tests/support/firststart.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

// The README's table: "id" (ZV_INT4) and "name" (ZV_STRING 30), index
// "by_id" on id.
int define_items(ZVHANDLE t) {
    ZVHANDLE id = zvdbAddField(t, "id", ZV_INT4, 4);
    ZVHANDLE name = zvdbAddField(t, "name", ZV_STRING, 30);
    ZVHANDLE ix = zvdbAddIndex(t, "by_id", 0, 0, 0);
    if (!id || !name || !ix || !zvdbAddSegment(ix, id, 12)) return -10;
    return 0;
}

// Writes records 1..n (name "item <id>"): 0 or the first failure.
int write_items(ZVHANDLE t, int32_t n) {
    ZVHANDLE r = zvdbAllocRecord(t);
    int rc = r ? 0 : -11;
    for (int32_t k = 1; rc == 0 && k <= n; k++) {
        const std::string name = "item " + std::to_string(k);
        zvdbClearRecord(r);
        zvdbSetFieldAsSigned(r, 0, k);
        zvdbSetFieldAsString(r, 1, name.c_str());
        rc = zvdbWriteRecord(r);
    }
    if (r) zvdbFreeRecord(r);
    return rc;
}

// The ids found walking "by_id", each with its name checked; -1 at the
// first record out of order or with another name.
int32_t count_items(ZVHANDLE t) {
    ZVHANDLE r = zvdbAllocRecord(t);
    if (!r || zvdbSetDefaultIndexByName(r, "by_id") != 0) return -1;
    int32_t n = 0;
    int rc = zvdbFirstRecord(r);
    for (; rc == 0; rc = zvdbNextRecord(r)) {
        int32_t id = 0;
        char name[40] = {};
        zvdbGetFieldAsSigned(r, 0, &id);
        zvdbGetFieldAsString(r, 1, name, int32_t(sizeof name));
        if (id != n + 1 || name != "item " + std::to_string(id)) break;
        n++;
    }
    zvdbFreeRecord(r);
    return rc == 101 ? n : -1;
}

class FirstStart : public zvtest::ZvTest {
protected:
    static void setup(zvtest::StartUp &s) { s.define = define_items; }
};

// A table made, filled and flushed as the README says (ZVFLUSH of its data
// file and of its index file), then a kill: the next start finds the table
// by its name (no 4023) and, after its repair, every record.
TEST_F(FirstStart, AFlushedTableIsFoundByNameAfterAKill) {
    const zvtest::ChildResult c = zvtest::run_in_child([] {
        zvtest::ChildResult r;
        zvtest::StartUp s;
        setup(s);
        if ((r.rc = s.run()) || (r.rc = write_items(s.handle, 100))) return fprintf(stderr, "%s\n", s.trail.c_str()), r;
        if ((r.rc = ZVFLUSH(zvdbGetDatno(s.handle))) || (r.rc = ZVFLUSH(zvdbGetIdxnoByNumber(s.handle, 0)))) return r;
        _exit(0);
    });
    ASSERT_FALSE(c.ok) << "the child ended without a close: " << c.rc;
    zvtest::StartUp s;
    setup(s);
    ASSERT_EQ(s.run(), 0) << s.trail;
    EXPECT_EQ(s.trail.find("4023"), std::string::npos) << "the table is found by its name: " << s.trail;
    EXPECT_EQ(count_items(s.handle), 100);
}

}  // namespace
