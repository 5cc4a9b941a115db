#include "tests/engine/maint/cmpfix.h"

#include <cstring>
#include <filesystem>

#include "engine/core/arith.h"
#include "engine/core/filenum.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "tests/support/fixture.h"

namespace cmptest {

void CmpTest::TearDown() {
    cmpchgenc = 0;
    RblTest::TearDown();
}

std::vector<std::string> CmpTest::fill(RblSet &s, uint32_t n, uint32_t gap) {
    std::vector<std::string> live;
    int d = s.create();
    if (d < 0) return live;
    if (s.variable()) {
        EXPECT_EQ(PUTDODA(d, rbltest::kRecDoda, 6), 0);
    }
    std::string a = rbltest::app_resource(1, "data file resource"), b = rbltest::app_resource(1, "index resource");
    EXPECT_EQ(ADDRES(d, a.data(), int32_t(a.size())), 0);
    int enabled = ENARES(d + 1);
    EXPECT_TRUE(enabled == 0 || enabled == 400) << enabled;
    EXPECT_EQ(ADDRES(d + 1, b.data(), int32_t(b.size())), 0);
    for (uint32_t k = 1; k <= n; k++) {
        rbltest::Rec r = rbltest::rec(k * 10);
        std::string img = rbltest::image(r, s.variable() ? k % 9 * 11 : 0);
        int rc = s.variable() ? ADDVREC(d, img.data(), int32_t(img.size())) : ADDREC(d, img.data());
        EXPECT_EQ(rc, 0) << k;
        if (rc) break;
    }
    for (uint32_t k = gap; gap && k <= n; k += gap) {
        rbltest::Rec r = rbltest::rec(k * 10);
        char buf[256];
        int32_t len = sizeof buf;
        int rc = s.variable() ? EQLVREC(d + 1, &r.number, buf, &len) : EQLREC(d + 1, &r.number, buf);
        EXPECT_EQ(rc, 0) << k;
        EXPECT_EQ(s.variable() ? DELVREC(d) : DELREC(d), 0) << k;
    }
    zvtest::SetState st;
    EXPECT_EQ(zvtest::check_set(d, &st), "");
    for (auto &kv : st.records) live.push_back(kv.second);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    return live;
}

std::vector<std::string> CmpTest::fill_raw(RblSet &s, uint32_t n, uint32_t keep) {
    std::vector<std::string> live;
    int d = s.create();
    if (d < 0) return live;
    std::string a = rbltest::app_resource(1, "data file resource");
    EXPECT_EQ(ADDRES(d, a.data(), int32_t(a.size())), 0);
    std::vector<uint32_t> freed;
    for (uint32_t k = 1; k <= n; k++) {
        rbltest::Rec r = rbltest::rec(k * 10);
        zvSETHGH(0);
        uint32_t pos = NEWREC(d);
        EXPECT_NE(pos, 0u);
        EXPECT_EQ(WRTREC(d, pos, &r), 0);
        if (keep && k % keep != 0) freed.push_back(pos);
    }
    for (uint32_t pos : freed) {
        zvSETHGH(0);
        EXPECT_EQ(RETREC(d, pos), 0);
    }
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_EQ(s.rebuild(), 0);
    std::string verdict;
    live = in_order(s, &verdict);
    EXPECT_EQ(verdict, "");
    return live;
}

int CmpTest::compact(RblSet &s, int16_t options) {
    s.ifil.tfilno = options;
    if (s.kind == Kind::Fixed) return CMPIFIL(&s.ifil);
    return CMPIFILX8(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr, s.x);
}

Files CmpTest::files() {
    Files out;
    for (const auto &e : std::filesystem::directory_iterator(".")) {
        const std::string n = e.path().filename().string();
        if (n == "ZVSTATUS.QVS" || !e.is_regular_file()) continue;
        out[n] = zvtest::read_file(n);
    }
    return out;
}

void CmpTest::put_files(const Files &f) {
    for (const auto &e : std::filesystem::directory_iterator(".")) {
        if (e.is_regular_file() && e.path().filename() != "ZVSTATUS.QVS") std::filesystem::remove(e.path());
    }
    for (const auto &kv : f) zvtest::write_file(kv.first, kv.second);
}

std::vector<std::string> CmpTest::in_order(RblSet &s, std::string *verdict) {
    std::vector<std::string> out;
    zvtest::SetState st;
    contents(s, verdict, &st);
    for (auto &kv : st.records) out.push_back(kv.second);
    if (s.ifil.tfilno >= 0) CLIFIL(&s.ifil);
    return out;
}

std::vector<std::string> CmpTest::slots(RblSet &s) {
    std::vector<std::string> out;
    s.ifil.tfilno = -1;
    if (int rc = OPNIFIL(&s.ifil)) {
        ADD_FAILURE() << "the set does not open: " << rc;
        return out;
    }
    FCB *f = zv::fcb_at(s.ifil.tfilno);
    const uint64_t first = begbytfix(f);
    const uint64_t end = zv::join64(f->hdr.ext.numrech, f->hdr.base.numrec) + 1;
    const uint32_t r = f->hdr.base.reclen;
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    const std::string bytes = zvtest::read_file(s.dat());
    for (uint64_t p = first; p + r <= end && p + r <= bytes.size();) {
        if (uint8_t(bytes[p]) == 0xFE && uint8_t(bytes[p + 1]) == 0xFE) {
            // A resource: its area (little-endian length at 2) in whole records.
            uint32_t area = 0;
            for (int i = 3; i >= 0; i--) area = (area << 8) | uint8_t(bytes[p + 2 + size_t(i)]);
            p += area > r ? (area + r - 1) / r * r : r;
            continue;
        }
        out.push_back(bytes.substr(p, r));
        p += r;
    }
    return out;
}

std::vector<std::string> CmpTest::compact_lines() {
    std::vector<std::string> out;
    for (const std::string &m : log_messages())
        if (m.rfind("Compact:", 0) == 0) out.push_back(m);
    return out;
}

}  // namespace cmptest
