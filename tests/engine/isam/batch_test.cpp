// Batches: retrieval in parts, numbered batches side by side, delete of a
// selected set, update or add by key, insert one by one or as a direct
// block, the refusals, and the write-fault sweep of the writing forms.
#include <cerrno>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/index/btcheck.h"
#include "engine/isam/isamrec.h"
#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;

constexpr const char *kCities[] = {"Bern", "Basel", "Biel", "Chur"};
constexpr int32_t kEntry = 4 + 64;  // position and record

// A request block: the plain form is 1040 bytes.
struct Req {
    alignas(8) unsigned char b[1040] = {};
    uint32_t u32(int off) const {
        uint32_t v;
        memcpy(&v, b + off, 4);
        return v;
    }
    void put32(int off, uint32_t v) { memcpy(b + off, &v, 4); }
    void put16(int off, uint16_t v) { memcpy(b + off, &v, 2); }
    void put_ptr(int off, const void *p) { memcpy(b + off, &p, sizeof p); }
    // A key prefix of siglen bytes of a city target.
    static Req prefix(const char *c, uint16_t siglen) {
        Req q;
        q.put16(ZV_BATREQ_SIGLEN, siglen);
        memcpy(q.b + ZV_BATREQ_TARGET, c, strlen(c));  // a city target: 20 bytes and the suffix
        return q;
    }
};

// An entry of a part: position and record.
struct Got {
    uint64_t pos;
    Cust rec;
};

std::vector<Got> entries_of(const std::vector<unsigned char> &buf, uint32_t n) {
    std::vector<Got> out;
    for (uint32_t i = 0; i < n; i++) {
        Got g{};
        uint32_t lo;
        memcpy(&lo, buf.data() + i * kEntry, 4);
        g.pos = lo;
        memcpy(&g.rec, buf.data() + i * kEntry + 4, sizeof g.rec);
        out.push_back(g);
    }
    return out;
}

class BatchTest : public RecTest {
protected:
    // n customers, number i in city kCities[i % 4].
    int make_customers(CustDef &def, uint32_t n, uint32_t from = 1) {
        int d = make(def);
        for (uint32_t i = from; i < from + n; i++) add(d, cust(i, kCities[i % 4]));
        return d;
    }
    // The positions of the key set of a city prefix, by FRSSET and NXTSET.
    static std::vector<uint64_t> set_walk(int keyno, const char *c, int32_t siglen) {
        std::vector<uint64_t> out;
        Cust r;
        const int datno = keyno - 2;
        for (int rc = FRSSET(keyno, city(c).data(), &r, siglen); rc == 0; rc = NXTSET(keyno, &r))
            out.push_back(curpos(datno));
        return out;
    }
    // Runs a retrieval to its end: the first part with mode, the others
    // with operation 2; the positions returned.
    static std::vector<uint64_t> retrieve(int filno, Req &q, uint32_t mode, int32_t size, std::vector<int> *parts) {
        std::vector<unsigned char> buf(static_cast<size_t>(size));
        std::vector<uint64_t> out;
        int rc = BATSETX(filno, q.b, buf.data(), size, mode);
        while (rc == 0) {
            const uint32_t n = q.u32(ZV_BATREQ_RETURNED);
            if (parts) parts->push_back(int(n));
            if (n == 0) break;
            for (const Got &g : entries_of(buf, n)) out.push_back(g.pos);
            rc = BATSETX(filno, q.b, buf.data(), size, ZV_BAT_NEXT);
        }
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(BATSETX(filno, q.b, nullptr, 0, ZV_BAT_FREE), 0);
        return out;
    }
    static uint64_t counted(int filno, uint32_t (*count)(int)) {
        uint32_t lo = count(filno);
        return uint64_t(uint32_t(zvGETHGH())) << 32 | lo;
    }
    static int32_t blocks() { return int32_t(zv::pool_blocks_in_use()); }
    static std::string trees(int d, int n) {
        for (int i = 1; i <= n; i++) {
            zv::BtReport rep{};
            if (zv::btcheck(zvWNGV->fcbtab[d + i], &rep) != 0) return rep.message;
        }
        return "";
    }
};

constexpr uint32_t kFirstRecords = ZV_BAT_FIRST | ZV_BAT_RECORDS;

TEST_F(BatchTest, RetrievalInPartsEqualsTheSetWalk) {
    CustDef def;
    int d = make_customers(def, 1000);
    const std::vector<uint64_t> walk = set_walk(d + 2, "B", 1);
    ASSERT_EQ(walk.size(), 750u);
    Req q = Req::prefix("B", 1);
    const int32_t size = 37 * kEntry + 30;
    std::vector<unsigned char> buf(static_cast<size_t>(size));
    ASSERT_EQ(BATSETX(d + 2, q.b, buf.data(), size, kFirstRecords | ZV_BAT_PREFIX), 0);
    EXPECT_EQ(q.u32(0), 750u);  // total
    EXPECT_EQ(q.u32(4), 0u);    // locked
    EXPECT_EQ(q.u32(8), 37u);   // this part
    std::vector<uint64_t> got;
    for (const Got &g : entries_of(buf, 37)) {
        got.push_back(g.pos);
        EXPECT_EQ(g.rec.number % 4 != 3, true) << "a B city";
    }
    // The parts after the first: each record read once, no memory taken.
    INSTGV *g = zvWNGV;
    int parts = 1;
    for (;;) {
        const uint64_t gets = zv::pool_get_count(), platform = zv::platform_alloc_count();
        const uint32_t requests = g->pc.requests;
        ASSERT_EQ(BATSETX(d + 2, q.b, buf.data(), size, ZV_BAT_NEXT), 0);
        const uint32_t n = q.u32(8);
        EXPECT_EQ(zv::pool_get_count(), gets);
        EXPECT_EQ(zv::platform_alloc_count(), platform);
        EXPECT_EQ(g->pc.requests - requests, n) << "part " << parts;
        EXPECT_EQ(q.u32(0), 750u);
        if (n == 0) break;
        EXPECT_LE(n, 37u);
        parts++;
        for (const Got &e : entries_of(buf, n)) got.push_back(e.pos);
    }
    EXPECT_EQ(parts, 21);
    EXPECT_EQ(got, walk);
    EXPECT_EQ(BATSETX(d, q.b, nullptr, 0, ZV_BAT_FREE), 0);
    EXPECT_EQ(BATSETX(d, q.b, nullptr, 0, ZV_BAT_FREE), 426);

    // Key values with their positions, the second total counting the
    // records locked, and a batch that ends by itself once all is returned.
    Req kq = Req::prefix("Chur", 4);
    std::vector<unsigned char> kb(300 * 28);
    ASSERT_EQ(BATSETX(d + 2, kq.b, kb.data(), int32_t(kb.size()),
                      ZV_BAT_FIRST | ZV_BAT_KEYS | ZV_BAT_LOCK | ZV_BAT_AUTOFREE),
              0);
    EXPECT_EQ(zvWNGV->sysiocod, uint16_t(-844)) << "the batch ended";
    EXPECT_EQ(kq.u32(ZV_BATREQ_TOTAL), 250u);
    EXPECT_EQ(kq.u32(ZV_BATREQ_LOCKED), 250u);
    ASSERT_EQ(kq.u32(ZV_BATREQ_RETURNED), 250u);
    const std::vector<uint64_t> chur = set_walk(d + 2, "Chur", 4);
    for (size_t i = 0; i < 250; i++) {
        const unsigned char *e = kb.data() + 28 * i;
        uint32_t lo, suffix;
        memcpy(&lo, e, 4);
        EXPECT_EQ(lo, uint32_t(chur[i]));
        EXPECT_EQ(memcmp(e + 4, "Chur", 5), 0);
        suffix = uint32_t(e[24]) << 24 | uint32_t(e[25]) << 16 | uint32_t(e[26]) << 8 | e[27];
        EXPECT_EQ(suffix, lo) << "the key's position suffix";
    }
    zvWNGV->sysiocod = uint16_t(-844);
    EXPECT_EQ(BATSETX(d + 2, kq.b, kb.data(), 100, ZV_BAT_NEXT), 426);
    EXPECT_EQ(zvWNGV->sysiocod, 0) << "the next request clears the mark";

    // A record deleted after the selection is dropped from a later part
    // and counted out, never returned as the deleted slot it now is.
    Req bq = Req::prefix("Biel", 4);
    ASSERT_EQ(BATSETX(d + 2, bq.b, buf.data(), 10 * kEntry, kFirstRecords), 0);
    const std::vector<uint64_t> in_biel = set_walk(d + 2, "Biel", 4);
    ASSERT_EQ(in_biel.size(), 250u);
    Cust victim;
    ASSERT_EQ(REDIREC(d, uint32_t(in_biel[15]), &victim), 0);
    ASSERT_EQ(DELREC(d), 0);
    ASSERT_EQ(BATSETX(d + 2, bq.b, buf.data(), 10 * kEntry, ZV_BAT_NEXT), 0);
    EXPECT_EQ(bq.u32(ZV_BATREQ_TOTAL), 249u);
    std::vector<uint64_t> second;
    for (const Got &e : entries_of(buf, bq.u32(ZV_BATREQ_RETURNED))) {
        second.push_back(e.pos);
        EXPECT_EQ(memcmp(e.rec.tag, "CUST", 4), 0);
    }
    std::vector<uint64_t> want(in_biel.begin() + 10, in_biel.begin() + 21);
    want.erase(want.begin() + 5);
    EXPECT_EQ(second, want);
    EXPECT_EQ(BATSETX(d, q.b, nullptr, 0, ZV_BAT_FREE), 0);

    // Descending, a key list, a position list, physical order and the
    // range of an extended request select what they should.
    Req desc = Req::prefix("Bi", 2);
    std::vector<uint64_t> back = retrieve(d + 2, desc, kFirstRecords | ZV_BAT_PREFIXDESC, 4000, nullptr);
    std::vector<uint64_t> biel = set_walk(d + 2, "Bi", 2);
    EXPECT_EQ(std::vector<uint64_t>(back.rbegin(), back.rend()), biel);
    Req keys;
    keys.put32(ZV_BATREQ_LISTCOUNT, 3);
    for (uint32_t i = 0; i < 3; i++) {
        const uint32_t n = i == 1 ? 5000 : 10 * (i + 1);  // 5000 is not there
        memcpy(keys.b + ZV_BATREQ_LIST + 4 * i, &n, 4);
    }
    std::vector<int> p;
    std::vector<uint64_t> listed = retrieve(d + 1, keys, kFirstRecords | ZV_BAT_KEYLIST, 4000, &p);
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(10).data(), &r), 0);
    const uint64_t at10 = curpos(d);
    ASSERT_EQ(EQLREC(d + 1, num(30).data(), &r), 0);
    EXPECT_EQ(listed, (std::vector<uint64_t>{at10, curpos(d)}));
    Req positions;
    positions.put32(ZV_BATREQ_LISTCOUNT, 2);
    positions.put32(ZV_BATREQ_LIST, uint32_t(curpos(d)));
    positions.put32(ZV_BATREQ_LIST + 4, uint32_t(at10));
    EXPECT_EQ(retrieve(d, positions, kFirstRecords | ZV_BAT_POSLIST, 4000, nullptr),
              (std::vector<uint64_t>{curpos(d), at10}));
    Req phys;
    std::vector<uint64_t> all = retrieve(d, phys, kFirstRecords | ZV_BAT_PHYSICAL, 20000, nullptr);
    ASSERT_EQ(all.size(), 999u);
    Req from;
    from.put32(ZV_BATREQ_PHYSLO, uint32_t(all[990]));
    EXPECT_EQ(retrieve(d, from, kFirstRecords | ZV_BAT_PHYSICAL, 20000, nullptr),
              std::vector<uint64_t>(all.begin() + 990, all.end()));
    // Extended: numbers 100 to 120 whose city begins with B, by the range
    // and filter the request installs; both go with the batch.
    put_item_schema(d);
    Req x;
    const uint32_t lo = 100, hi = 120, op = 199;
    x.put32(ZV_BATREQX_MODE, kFirstRecords | ZV_BAT_RANGE);
    x.put16(ZV_BATREQX_NSEG, 1);
    x.put_ptr(ZV_BATREQX_TARGET, &lo);
    x.put_ptr(ZV_BATREQX_UPPER, &hi);
    x.put_ptr(ZV_BATREQX_OPS, &op);
    x.put_ptr(ZV_BATREQX_FILTER, "Id % 4 <> 3");
    std::vector<unsigned char> xb(4000);
    ASSERT_EQ(BATSETX(d + 1, x.b, xb.data(), 4000, ZV_BAT_EXTENDED), 0);
    const uint32_t n = x.u32(ZV_BATREQX_RETURNED);
    EXPECT_EQ(n, 16u);
    EXPECT_EQ(x.u32(ZV_BATREQX_TOTAL), 21u - 5u) << "the filtered entries are counted out";
    for (const Got &e : entries_of(xb, n)) {
        EXPECT_GE(e.rec.number, 100u);
        EXPECT_LE(e.rec.number, 120u);
        EXPECT_NE(e.rec.number % 4, 3u);
    }
    ASSERT_EQ(BATSETX(d + 1, x.b, nullptr, 0, ZV_BAT_FREE), 0);
    EXPECT_EQ(FRSRNG(d + 1, &r), 762) << "the range went with the batch";
    int records = 0;
    for (int rc = FRSREC(d, &r); rc == 0; rc = NXTREC(d, &r)) records++;
    EXPECT_EQ(records, 999) << "and the filter too";
}

TEST_F(BatchTest, Refusals) {
    CustDef def;
    int d = make_customers(def, 40);
    Req q = Req::prefix("B", 1);
    std::vector<unsigned char> buf(4000);
    struct Case {
        const char *what;
        std::function<void()> before;
        int filno;
        uint32_t mode;
        int32_t size;
        int code;
    };
    const auto start = [&]() { ASSERT_EQ(BATSETX(d + 2, q.b, buf.data(), 4000, kFirstRecords), 0); };
    const Case cases[] = {
        {"free without a batch", nullptr, d, ZV_BAT_FREE, 0, 426},
        {"next without a batch", nullptr, d + 2, ZV_BAT_NEXT, 4000, 426},
        {"a new request while one is active", start, d + 2, kFirstRecords, 4000, 425},
        {"an insert while one is active", start, d, ZV_BAT_INSERT | ZV_BAT_RECORDS, 0, 425},
        {"key values of entries collected without keys", start, d + 2, ZV_BAT_NEXT | ZV_BAT_KEYS, 4000, 430},
        {"selection 0x4000", nullptr, d + 2, kFirstRecords | 0x4000, 4000, 421},
        {"0x80000 without physical order", nullptr, d, kFirstRecords | ZV_BAT_PHYSKEEP, 4000, 430},
        {"two content bits", nullptr, d + 2, kFirstRecords | ZV_BAT_POSITIONS, 4000, 430},
        {"two selections", nullptr, d + 2, kFirstRecords | ZV_BAT_PREFIX | ZV_BAT_KEYLIST, 4000, 430},
        {"keys given outside an update", nullptr, d + 2, kFirstRecords | ZV_BAT_KEYGIVEN, 4000, 430},
        {"0x20000000 without the range", nullptr, d + 2, kFirstRecords | ZV_BAT_RANGEONLY, 4000, 430},
        {"direct content with a key selection", nullptr, d + 2, ZV_BAT_FIRST | ZV_BAT_DIRECT, 4000, 430},
        {"keys in physical order", nullptr, d, ZV_BAT_FIRST | ZV_BAT_KEYS | ZV_BAT_PHYSICAL, 4000, 430},
        {"no content", nullptr, d + 2, ZV_BAT_FIRST, 4000, 427},
        {"a negative size", nullptr, d + 2, kFirstRecords, -1, 749},
        {"a key selection on a data file", nullptr, d, kFirstRecords, 4000, 48},
        {"a position list on an index", nullptr, d + 2, kFirstRecords | ZV_BAT_POSLIST, 4000, 48},
        {"an update on a data file", nullptr, d, ZV_BAT_UPDATE, 0, 48},
        {"an update on a duplicate-key index", nullptr, d + 2, ZV_BAT_UPDATE, 0, 775},
        {"an insert into an index", nullptr, d + 1, ZV_BAT_INSERT | ZV_BAT_RECORDS, 0, 48},
        {"an insert of no kind", nullptr, d, ZV_BAT_INSERT, 0, 430},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.before) c.before();
        EXPECT_EQ(BATSETX(c.filno, q.b, buf.data(), c.size, c.mode), c.code);
        EXPECT_EQ(zvGetIsamErrorCode(), c.code);
        FREBAT();
    }
    // A physical start that is no record boundary.
    Req phys;
    phys.put32(ZV_BATREQ_PHYSLO, 64 * 10 + 3);
    EXPECT_EQ(BATSETX(d, phys.b, buf.data(), 4000, kFirstRecords | ZV_BAT_PHYSICAL), 767);
    // The extended form refuses the writing operations and lists.
    Req x;
    x.put32(ZV_BATREQX_MODE, ZV_BAT_DELETE);
    EXPECT_EQ(BATSETX(d + 2, x.b, buf.data(), 4000, ZV_BAT_EXTENDED), 430);
    x.put32(ZV_BATREQX_MODE, kFirstRecords | ZV_BAT_RANGE);
    x.put16(ZV_BATREQX_NSEG, 1);
    EXPECT_EQ(BATSETX(d + 1, x.b, buf.data(), 4000, ZV_BAT_EXTENDED), 430) << "no range values";
    // A first record larger than the buffer: 429, with the size needed when
    // asked; the batch stays and continues with a larger buffer.
    EXPECT_EQ(BATSETX(d + 2, q.b, buf.data(), 50, kFirstRecords | ZV_BAT_NEEDED), 429);
    EXPECT_EQ(q.u32(ZV_BATREQ_LOCKED), uint32_t(kEntry));
    EXPECT_EQ(q.u32(ZV_BATREQ_RETURNED), 0u);
    ASSERT_EQ(BATSETX(d + 2, q.b, buf.data(), 4000, ZV_BAT_NEXT), 0);
    EXPECT_EQ(q.u32(ZV_BATREQ_RETURNED), 30u);
    EXPECT_EQ(entries_of(buf, 1)[0].rec.number, 1u);
    EXPECT_EQ(FREBAT(), 0);
}

// A physical walk that meets an area whose mark is neither live, free nor a
// resource reports the damage instead of ending as if the file were done.
TEST_F(BatchTest, ADamagedAreaInAPhysicalWalkIs158) {
    CustDef def("vcust", true);
    int d = make(def);
    std::vector<uint64_t> pos;
    for (uint32_t i = 1; i <= 6; i++) {
        std::string rec(90, 'x');
        Cust c = cust(i, "Bern");
        memcpy(rec.data(), &c, sizeof c);
        ASSERT_EQ(ADDVREC(d, rec.data(), int32_t(rec.size())), 0);
        pos.push_back(curpos(d));
    }
    const unsigned char bad[2] = {0x34, 0x12};
    ASSERT_EQ(zv::raw_write(zvWNGV->fcbtab[d], pos[3], bad, 2), 0);
    Req phys;
    std::vector<unsigned char> buf(4000);
    EXPECT_EQ(BATSETX(d, phys.b, buf.data(), 4000, ZV_BAT_FIRST | ZV_BAT_POSITIONS | ZV_BAT_PHYSICAL), 158);
    EXPECT_EQ(BATSETX(d, phys.b, buf.data(), 4000, ZV_BAT_NEXT), 426) << "no batch is left behind";
}

TEST_F(BatchTest, NumberedBatchesRunSideBySide) {
    CustDef def;
    int d = make_customers(def, 200);
    const int32_t base = blocks();
    const std::vector<uint64_t> bern = set_walk(d + 2, "Bern", 4), chur = set_walk(d + 2, "Chur", 4);
    ASSERT_EQ(ALCBAT(), 0);
    EXPECT_EQ(ALCBAT(), 184);
    const int32_t size = 10 * kEntry;
    std::vector<unsigned char> b1(size), b2(size);
    Req q1 = Req::prefix("Bern", 4), q2 = Req::prefix("Chur", 4);
    std::vector<uint64_t> got1, got2;
    auto take = [](const std::vector<unsigned char> &b, const Req &q, std::vector<uint64_t> *to) {
        for (const Got &g : entries_of(b, q.u32(ZV_BATREQ_RETURNED))) to->push_back(g.pos);
        return q.u32(ZV_BATREQ_RETURNED);
    };
    ASSERT_EQ(CHGBAT(1), 0);
    ASSERT_EQ(BATSETX(d + 2, q1.b, b1.data(), size, kFirstRecords), 0);
    take(b1, q1, &got1);
    ASSERT_EQ(CHGBAT(2), 0);
    ASSERT_EQ(BATSETX(d + 2, q2.b, b2.data(), size, kFirstRecords), 0);
    take(b2, q2, &got2);
    for (bool more1 = true, more2 = true; more1 || more2;) {
        ASSERT_EQ(CHGBAT(1), 0);
        ASSERT_EQ(BATSETX(d + 2, q1.b, b1.data(), size, ZV_BAT_NEXT), 0);
        more1 = take(b1, q1, &got1) > 0;
        ASSERT_EQ(CHGBAT(2), 0);
        EXPECT_EQ(CHGBAT(2), 0) << "already current";
        ASSERT_EQ(BATSETX(d + 2, q2.b, b2.data(), size, ZV_BAT_NEXT), 0);
        more2 = take(b2, q2, &got2) > 0;
    }
    EXPECT_EQ(got1, bern);
    EXPECT_EQ(got2, chur);
    // Batch 1 again from the start; then batch 2, current, is freed.
    ASSERT_EQ(CHGBAT(1), 0);
    ASSERT_EQ(BATSETX(d + 2, q1.b, b1.data(), size, ZV_BAT_FREE), 0);
    ASSERT_EQ(BATSETX(d + 2, q1.b, b1.data(), size, kFirstRecords), 0);
    ASSERT_EQ(CHGBAT(2), 0);
    ASSERT_EQ(BATSETX(d + 2, q2.b, b2.data(), size, ZV_BAT_FREE), 0);
    ASSERT_EQ(BATSETX(d + 2, q2.b, b2.data(), size, kFirstRecords), 0);
    EXPECT_EQ(FREBATN(2), 0);
    EXPECT_EQ(BATSETX(d + 2, q2.b, b2.data(), size, ZV_BAT_NEXT), 426);
    ASSERT_EQ(CHGBAT(1), 0);
    ASSERT_EQ(BATSETX(d + 2, q1.b, b1.data(), size, ZV_BAT_NEXT), 0);
    std::vector<uint64_t> second;
    take(b1, q1, &second);
    EXPECT_EQ(second, std::vector<uint64_t>(bern.begin() + 10, bern.begin() + 20));
    // Batch 3 holds a selection when everything is freed.
    ASSERT_EQ(CHGBAT(3), 0);
    ASSERT_EQ(BATSETX(d + 2, q2.b, b2.data(), size, kFirstRecords), 0);
    EXPECT_EQ(FREBAT(), 0);
    EXPECT_EQ(blocks(), base) << "every slot, entry and the table are back";
    EXPECT_EQ(ALCBAT(), 0) << "no table is left";
    EXPECT_EQ(FREBAT(), 0);
}

TEST_F(BatchTest, DeleteTheSelectedSet) {
    CustDef def;
    int d = make_customers(def, 120);
    const int32_t size = 4000;
    std::vector<unsigned char> buf(size);
    struct Case {
        const char *what;
        const char *city;
        int first;     // -1: delete at once; else entries the first part returns (0: no buffer)
        int code;
    };
    const Case cases[] = {
        {"a new selection", "Bern", -1, 0},
        {"none returned", "Basel", 0, 0},
        {"all returned", "Biel", 58, 0},
        {"some returned", "Chur", 5, 425},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const uint64_t before = counted(d, DATENT), by_number = counted(d + 1, IDXENT),
                       by_city = counted(d + 2, IDXENT);
        const size_t n = set_walk(d + 2, c.city, 4).size();
        ASSERT_EQ(n, 30u);
        Req q = Req::prefix(c.city, 4);
        if (c.first >= 0) {
            const int32_t s = c.first == 0 ? 0 : c.first * kEntry + 4;
            ASSERT_EQ(BATSETX(d + 2, q.b, c.first ? buf.data() : nullptr, s, kFirstRecords), 0);
            EXPECT_EQ(q.u32(ZV_BATREQ_RETURNED), uint32_t(std::min(c.first, 30)));
        }
        EXPECT_EQ(BATSETX(d + 2, q.b, nullptr, 0, ZV_BAT_DELETE), c.code);
        const uint64_t gone = c.code ? 0 : q.u32(ZV_BATREQ_RETURNED);
        EXPECT_EQ(gone, c.code ? 0u : n);
        EXPECT_EQ(counted(d, DATENT), before - gone);
        EXPECT_EQ(counted(d + 1, IDXENT), by_number - gone);
        EXPECT_EQ(counted(d + 2, IDXENT), by_city - gone);
        EXPECT_EQ(set_walk(d + 2, c.city, 4).size(), c.code ? n : 0u);
        FREBAT();
    }
    EXPECT_EQ(check(d), "");
    // Records the data file's filter refuses are not part of the set: they
    // stay, and the delete goes on past them (739 never reaches the caller).
    put_item_schema(d);
    ASSERT_EQ(SETFLTR(d, "Id < 40"), 0);
    Req q = Req::prefix("Chur", 4);
    EXPECT_EQ(BATSETX(d + 2, q.b, nullptr, 0, ZV_BAT_DELETE), 0);
    EXPECT_EQ(q.u32(ZV_BATREQ_RETURNED), 10u);  // 3, 7, ..., 39
    ASSERT_EQ(SETFLTR(d, ""), 0);
    EXPECT_EQ(set_walk(d + 2, "Chur", 4).size(), 20u);
    EXPECT_EQ(check(d), "");
}

TEST_F(BatchTest, UpdateOrAddByKey) {
    CustDef def;
    int d = make_customers(def, 20);
    const uint64_t before = counted(d, DATENT);
    Req q;
    const uint32_t numbers[] = {3, 2001, 7, 9, 2002};
    for (int i = 0; i < 5; i++) {
        Cust c = cust(numbers[i], "Zug", "new");
        memcpy(q.b + ZV_BATREQ_DATA + 64 * i, &c, 64);
    }
    q.put32(ZV_BATREQ_RETURNED, 5);
    q.put32(0, 77);
    ASSERT_EQ(BATSETX(d + 1, q.b, nullptr, 5 * 64, ZV_BAT_UPDATE), 0);
    EXPECT_EQ(q.u32(0), 3u);
    EXPECT_EQ(q.u32(4), 2u);
    EXPECT_EQ(q.u32(8), 0u);
    EXPECT_EQ(q.u32(12), 0u);
    EXPECT_EQ(q.u32(16), 0u);
    EXPECT_EQ(counted(d, DATENT), before + 2);
    Cust r;
    for (uint32_t n : numbers) {
        ASSERT_EQ(EQLREC(d + 1, num(n).data(), &r), 0) << n;
        EXPECT_STREQ(r.name, "new");
    }
    EXPECT_EQ(set_walk(d + 2, "Zug", 3).size(), 5u);
    // Keys given with each entry, in record-field form.
    Req k;
    const uint32_t key = 5;
    memcpy(k.b + ZV_BATREQ_DATA, &key, 4);
    Cust five = cust(5, "Sion", "keyed");
    memcpy(k.b + ZV_BATREQ_DATA + 4, &five, 64);
    k.put32(ZV_BATREQ_RETURNED, 1);
    ASSERT_EQ(BATSETX(d + 1, k.b, nullptr, 68, ZV_BAT_UPDATE | ZV_BAT_KEYGIVEN), 0);
    EXPECT_EQ(k.u32(0), 1u);
    ASSERT_EQ(EQLREC(d + 1, num(5).data(), &r), 0);
    EXPECT_STREQ(r.name, "keyed");
    // An entry that passes the data given: 429, its offset and kind 32;
    // the entries before it are done.
    Req o;
    for (int i = 0; i < 3; i++) {
        Cust c = cust(3000 + uint32_t(i), "Zug");
        memcpy(o.b + ZV_BATREQ_DATA + 64 * i, &c, 64);
    }
    o.put32(ZV_BATREQ_RETURNED, 3);
    EXPECT_EQ(BATSETX(d + 1, o.b, nullptr, 2 * 64 + 10, ZV_BAT_UPDATE), 429);
    EXPECT_EQ(o.u32(4), 2u);
    EXPECT_EQ(o.u32(12), 128u);
    EXPECT_EQ(o.u32(16), 32u);
    EXPECT_EQ(EQLREC(d + 1, num(3002).data(), &r), 101);
    EXPECT_EQ(check(d), "");
}

TEST_F(BatchTest, InsertOneByOneAndAsADirectBlock) {
    CustDef def;
    int d = make_customers(def, 50);
    auto counts = [&]() {
        return std::vector<uint64_t>{counted(d, DATENT), counted(d + 1, IDXENT), counted(d + 2, IDXENT)};
    };
    // A direct block of 100 records.
    std::vector<unsigned char> req(20 + 100 * 64);
    auto fill = [&](uint32_t from) {
        for (uint32_t i = 0; i < 100; i++) {
            Cust c = cust(from + i, kCities[i % 4]);
            memcpy(req.data() + 20 + 64 * i, &c, 64);
        }
        uint32_t n = 100;
        memcpy(req.data() + 8, &n, 4);
    };
    fill(1001);
    std::vector<uint64_t> before = counts();
    ASSERT_EQ(BATSETX(d, req.data(), nullptr, 6400, ZV_BAT_INSERT | ZV_BAT_DIRECT), 0);
    uint32_t done;
    memcpy(&done, req.data() + 8, 4);
    EXPECT_EQ(done, 100u);
    for (size_t i = 0; i < 3; i++) EXPECT_EQ(counts()[i], before[i] + 100) << i;
    Cust r;
    ASSERT_EQ(RRDREC(d, &r), 0);
    EXPECT_EQ(r.number, 1100u) << "the last record is current";
    ASSERT_EQ(NXTREC(d + 1, &r), 101);
    EXPECT_EQ(check(d), "");

    // A duplicate unique key at record 40: records 40 onwards go back.
    fill(2001);
    Cust dup = cust(17, "Bern");
    memcpy(req.data() + 20 + 64 * 39, &dup, 64);
    before = counts();
    EXPECT_EQ(BATSETX(d, req.data(), nullptr, 6400, ZV_BAT_INSERT | ZV_BAT_DIRECT), 2);
    EXPECT_EQ(zvGetIsamFileNbr(), d + 1);
    memcpy(&done, req.data() + 8, 4);
    EXPECT_EQ(done, 39u);
    for (size_t i = 0; i < 3; i++) EXPECT_EQ(counts()[i], before[i] + 39) << i;
    std::set<uint32_t> seen;
    for (int rc = FRSREC(d, &r); rc == 0; rc = NXTREC(d, &r)) seen.insert(r.number);
    for (uint32_t n = 2040; n <= 2100; n++) EXPECT_EQ(seen.count(n), 0u) << n;
    EXPECT_EQ(seen.count(2039), 1u);
    EXPECT_EQ(check(d), "");
    EXPECT_EQ(trees(d, 2), "");

    // One by one: a position slot before each record.
    std::vector<unsigned char> one(20 + 3 * 68);
    for (uint32_t i = 0; i < 3; i++) {
        Cust c = cust(3001 + i, "Chur");
        memcpy(one.data() + 20 + 68 * i + 4, &c, 64);
    }
    uint32_t three = 3;
    memcpy(one.data() + 8, &three, 4);
    before = counts();
    ASSERT_EQ(BATSETX(d, one.data(), nullptr, 3 * 68, ZV_BAT_INSERT | ZV_BAT_RECORDS), 0);
    memcpy(&done, one.data() + 8, 4);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(counts()[0], before[0] + 3);
    EXPECT_EQ(zvWNGV->isamlockmode, 0) << "the lock mode taken for the call is given back";
    // Refusals before anything is written.
    struct Case {
        const char *what;
        int32_t size;
        uint32_t mode;
        uint8_t first;  // first byte of the first record
        int code;
    };
    for (const Case &c : {Case{"data short of the count", 6399, ZV_BAT_DIRECT, 'C', 429},
                          Case{"a record marked deleted", 6400, ZV_BAT_DIRECT, 0xFF, 553},
                          Case{"both insert kinds", 6400, ZV_BAT_DIRECT | ZV_BAT_RECORDS, 'C', 430}}) {
        SCOPED_TRACE(c.what);
        fill(4001);
        req[20] = c.first;
        before = counts();
        EXPECT_EQ(BATSETX(d, req.data(), nullptr, c.size, ZV_BAT_INSERT | c.mode), c.code);
        EXPECT_EQ(counts(), before);
    }
    EXPECT_EQ(check(d), "");
}

TEST_F(BatchTest, DirectBlockOfVariableLengthRecords) {
    CustDef def("vcust", true);
    int d = make(def);
    std::vector<unsigned char> req(20);
    for (uint32_t i = 1; i <= 5; i++) {
        const uint32_t reclen = 64 + 10 * i, arealen = 10 + reclen + 6;
        const size_t at = req.size();
        req.resize(at + arealen);
        unsigned char *h = req.data() + at;
        h[0] = 0xFA;
        h[1] = 0xFA;
        for (int b = 0; b < 4; b++) {
            h[2 + b] = uint8_t(arealen >> (8 * b));
            h[6 + b] = uint8_t(reclen >> (8 * b));
        }
        Cust c = cust(i, "Bern");
        memcpy(h + 10, &c, 64);
        memset(h + 74, 'a' + int(i), reclen - 64);
    }
    uint32_t n = 5;
    memcpy(req.data() + 8, &n, 4);
    std::vector<unsigned char> copy = req;
    ASSERT_EQ(BATSETX(d, req.data(), nullptr, int32_t(req.size() - 20), ZV_BAT_INSERT | ZV_BAT_DIRECT), 0);
    char buf[200];
    int32_t len = sizeof buf;
    ASSERT_EQ(EQLVREC(d + 1, num(4).data(), buf, &len), 0);
    EXPECT_EQ(len, 104);
    EXPECT_EQ(buf[103], 'e');
    EXPECT_EQ(check(d), "");
    // In physical order each record comes with its length.
    Req phys;
    std::vector<unsigned char> out(2000);
    ASSERT_EQ(BATSETX(d, phys.b, out.data(), 2000, ZV_BAT_FIRST | ZV_BAT_RECORDS | ZV_BAT_PHYSICAL), 0);
    ASSERT_EQ(phys.u32(ZV_BATREQ_RETURNED), 5u);
    size_t at = 0;
    for (uint32_t i = 1; i <= 5; i++) {
        int32_t l;
        memcpy(&l, out.data() + at + 4, 4);
        EXPECT_EQ(l, int32_t(64 + 10 * i));
        Cust c;
        memcpy(&c, out.data() + at + 8, sizeof c);
        EXPECT_EQ(c.number, i);
        EXPECT_EQ(out[at + 8 + size_t(l) - 1], 'a' + int(i));
        at += 8 + size_t(l);
    }
    EXPECT_EQ(FREBAT(), 0);
    copy[20] = 0xFB;
    EXPECT_EQ(BATSETX(d, copy.data(), nullptr, int32_t(copy.size() - 20), ZV_BAT_INSERT | ZV_BAT_DIRECT), 123);
}

TEST_F(BatchTest, ThroughTheFunctionNumberEntry) {
    CustDef def;
    int d = make_customers(def, 12);
    Req q = Req::prefix("Chur", 4);
    std::vector<unsigned char> buf(4000);
    int32_t size = 4000;
    EXPECT_EQ(zarvo(0x2113, 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(zarvo(0x2113, 0, nullptr, nullptr, nullptr, nullptr, 0), 184);
    EXPECT_EQ(zarvo(0x2114, 0, nullptr, nullptr, nullptr, nullptr, 4), 0);
    EXPECT_EQ(zarvo(0x07BF, int16_t(d + 2), q.b, nullptr, buf.data(), &size, int32_t(kFirstRecords)), 0);
    EXPECT_EQ(q.u32(ZV_BATREQ_RETURNED), 3u);
    EXPECT_EQ(zarvo(0x05CB, int16_t(d + 2), q.b, nullptr, buf.data(), &size, int32_t(ZV_BAT_NEXT)), 0);
    EXPECT_EQ(q.u32(ZV_BATREQ_RETURNED), 0u);
    EXPECT_EQ(zarvo(0x2185, 0, nullptr, nullptr, nullptr, nullptr, 4), 0);
    EXPECT_EQ(zarvo(0x05CB, int16_t(d + 2), q.b, nullptr, buf.data(), &size, int32_t(ZV_BAT_NEXT)), 426);
    EXPECT_EQ(zarvo(0x2115, 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(ALCBAT(), 0) << "FREBAT took the table";
}

// ---- Write faults -----------------------------------------------------------------------

class BatchFaultTest : public BatchTest {
protected:
    // The sweep: for N = 1, 2, ... the Nth write fails, until the call runs
    // without reaching it. Each call returns 0 or a clean code, the set
    // checks clean (also after reopening), and the active count moved by
    // exactly the records the call reports (sign: +1 insert, -1 delete).
    void sweep(CustDef &def, const char *what, int sign, const std::function<int(int d, uint32_t *done)> &op) {
        SCOPED_TRACE(what);
        int failures = 0, partial = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 600);
            zvtest::restore_template();
            ASSERT_EQ(OPNIFIL(&def.ifil), 0);
            const int d = def.ifil.tfilno;
            const uint64_t before = counted(d, DATENT);
            zv::fault_reset();
            zv::fault_set(zv::IoKind::Write, n, EIO);
            uint32_t done = 0;
            const int rc = op(d, &done);
            const bool fired = zv::io_calls(zv::IoKind::Write) >= n;
            zv::fault_reset();
            EXPECT_NE(rc, 105) << "write " << n;
            EXPECT_EQ(check(d), "") << "write " << n << ", code " << rc;
            EXPECT_EQ(counted(d, DATENT), before + int64_t(sign) * done) << "write " << n << ", code " << rc;
            if (rc) failures++;
            if (rc && done) partial++;
            FREBAT();
            EXPECT_EQ(CLIFIL(&def.ifil), 0) << "write " << n;
            ASSERT_EQ(OPNIFIL(&def.ifil), 0);
            EXPECT_EQ(check(def.ifil.tfilno), "") << "after reopen, write " << n;
            EXPECT_EQ(counted(def.ifil.tfilno, DATENT), before + int64_t(sign) * done);
            EXPECT_EQ(CLIFIL(&def.ifil), 0);
            if (!fired) {
                EXPECT_EQ(rc, 0);
                break;
            }
        }
        EXPECT_GT(failures, 0);
        RecordProperty(std::string(what) + " failures", failures);
        RecordProperty(std::string(what) + " partial", partial);
    }
};

TEST_F(BatchFaultTest, InsertFormsAndDelete) {
    restart(3, 3);
    CustDef def;
    int d = make_customers(def, 60);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    zvtest::save_template();
    (void)d;
    auto block = [](uint32_t from, int32_t slot) {
        std::vector<unsigned char> req(20 + 30 * size_t(64 + slot));
        for (uint32_t i = 0; i < 30; i++) {
            Cust c = cust(from + i, kCities[i % 4]);
            memcpy(req.data() + 20 + i * (64 + slot) + slot, &c, 64);
        }
        uint32_t n = 30;
        memcpy(req.data() + 8, &n, 4);
        return req;
    };
    auto inserted = [](const std::vector<unsigned char> &req) {
        uint32_t n;
        memcpy(&n, req.data() + 8, 4);
        return n;
    };
    sweep(def, "direct block", 1, [&](int d, uint32_t *done) {
        std::vector<unsigned char> req = block(501, 0);
        int rc = BATSETX(d, req.data(), nullptr, int32_t(req.size() - 20), ZV_BAT_INSERT | ZV_BAT_DIRECT);
        *done = inserted(req);
        return rc;
    });
    sweep(def, "one by one", 1, [&](int d, uint32_t *done) {
        std::vector<unsigned char> req = block(701, 4);
        int rc = BATSETX(d, req.data(), nullptr, int32_t(req.size() - 20), ZV_BAT_INSERT | ZV_BAT_RECORDS);
        *done = inserted(req);
        return rc;
    });
    sweep(def, "delete", -1, [&](int d, uint32_t *done) {
        Req q = Req::prefix("B", 1);
        int rc = BATSETX(d + 2, q.b, nullptr, 0, ZV_BAT_DELETE);
        *done = q.u32(ZV_BATREQ_RETURNED);
        return rc;
    });
}

}  // namespace
