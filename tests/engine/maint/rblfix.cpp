#include "tests/engine/maint/rblfix.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "engine/core/platform.h"
#include "engine/crypto/masterkey.h"
#include "engine/core/pools.h"
#include "tests/support/damage.h"

namespace rbltest {

namespace {
std::vector<Progress> g_progress;
}

std::vector<Progress> &progress() { return g_progress; }

int progress_cb(uint32_t count, int32_t code, const char *text) {
    g_progress.push_back({count, code, text ? text : ""});
    return 0;
}

const DATOBJ kRecDoda[6] = {
    {"tag", 0, ZV_ARRAY, 4, 0, 0},      {"number", 4, ZV_INT4U, 4, 0, 0}, {"city", 8, ZV_FSTRING, 20, 0, 0},
    {"name", 28, ZV_FSTRING, 24, 0, 0}, {"amount", 52, ZV_INT4U, 4, 0, 0}, {"pad", 56, ZV_ARRAY, 8, 0, 0},
};

Rec rec(uint32_t n) {
    Rec r;
    memset(&r, ' ', sizeof r);
    memcpy(r.tag, "REC", 3);
    r.number = n;
    static const char *const cities[] = {"Bern", "Oslo", "Lima", "Riga", "Kiel"};
    snprintf(r.city, sizeof r.city, "%-19s", cities[n % 5]);
    snprintf(r.name, sizeof r.name, "Name%08u", n);
    r.amount = 0;
    return r;
}

std::string image(const Rec &r, size_t tail) {
    std::string s(reinterpret_cast<const char *>(&r), sizeof r);
    for (size_t i = 0; i < tail; i++) s.push_back(char('a' + (r.number + i) % 26));
    return s;
}

const char *kind_name(Kind k) {
    switch (k) {
    case Kind::Fixed: return "fixed";
    case Kind::Variable: return "variable";
    case Kind::Wide: return "8-byte offsets";
    case Kind::Encrypted: return "encrypted";
    }
    return "?";
}

RblSet::RblSet(const char *n, Kind k) : kind(k), name(n), aidx("*" + std::string(n) + "_nm.idx") {
    idx[0] = IIDX{4, 0, 0, 0, 0, 1, s0, "ByNumber", nullptr, nullptr, nullptr};
    idx[1] = IIDX{int16_t(20 + (k == Kind::Wide ? 8 : 4)), 0, 1, 0, 0, 1, s1, "ByCity", nullptr, nullptr, nullptr};
    idx[2] = IIDX{24, 0, 0, 0, 0, 1, s2, "ByName", aidx.c_str(), nullptr, nullptr};
    ifil = IFIL{name.c_str(), -1, 64, 0, int16_t(k == Kind::Variable ? 0x4 : 0), 3, 0, 0, idx, nullptr, nullptr, 0};
    for (XCREblk &b : x) b.mode = k == Kind::Wide ? 0x42 : 0x02;
}

int RblSet::create() {
    if (kind == Kind::Encrypted) {
        EXPECT_EQ(zvSETENCRYPT("62", "secret-key-text", 15), 0);
    }
    int rc = CREIFILX8(&ifil, nullptr, nullptr, 0, nullptr, nullptr, x);
    if (kind == Kind::Encrypted) zvSETENCRYPT(nullptr, nullptr, 0);
    EXPECT_EQ(rc, 0) << "create " << name;
    return rc ? -1 : ifil.tfilno;
}

int RblSet::rebuild(int16_t options) {
    ifil.tfilno = options;
    if (kind == Kind::Fixed) return RBLIFIL(&ifil);
    return RBLIFILX8(&ifil, nullptr, nullptr, 0, nullptr, nullptr, x);
}

std::string app_resource(uint32_t number, const std::string &data) {
    std::string b(8, '\0');
    uint32_t type = 6000;
    memcpy(&b[0], &type, 4);
    memcpy(&b[4], &number, 4);
    b += "APPRES";
    b.push_back('\0');
    b += data;
    return b;
}

void RblTest::SetUp() {
    ZvTest::SetUp();
    zv::fault_reset();
    g_progress.clear();
    ASSERT_EQ(INTISAMX(16, 60, 4, 32, kProfile), 0);
}

void RblTest::TearDown() {
    zv::fault_reset();
    zv::fail_alloc_at(0);
    zv::fail_pool_at(0);
    SETCBRBL(nullptr, 1);
    CLISAM();
    ZvTest::TearDown();
    zv::master_key_reset();
    cmosdksup = 0;
}

void RblTest::with_encryption() {
    zv::master_key_reset();
    cmosdksup = 2;
    zv::set_master_password("pw");
}

int32_t RblTest::cipher_class(const std::string &file) {
    std::string f = zvtest::read_file(file);
    auto le32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; i--) v = (v << 8) | uint8_t(f[at + size_t(i)]);
        return v;
    };
    if (f.size() < 120) return -1;
    uint32_t pos = le32(116);
    if (!pos || pos + 22 + 28 > f.size()) return 0;
    return int32_t(le32(pos + 22 + 24));
}

std::multiset<std::string> RblTest::build(RblSet &s, uint32_t n) {
    std::multiset<std::string> live;
    int d = s.create();
    if (d < 0) return live;
    if (s.variable()) {
        EXPECT_EQ(PUTDODA(d, kRecDoda, 6), 0);
        EXPECT_EQ(addIDfield(d, 1, 1, 4), 0);
    }
    std::string a = app_resource(1, "data file resource"), b = app_resource(1, "index file resource");
    EXPECT_EQ(ADDRES(d, a.data(), int32_t(a.size())), 0);
    int enabled = ENARES(d + 1);
    EXPECT_TRUE(enabled == 0 || enabled == 400) << enabled;
    EXPECT_EQ(ADDRES(d + 1, b.data(), int32_t(b.size())), 0);
    for (uint32_t k = 1; k <= n; k++) {
        Rec r = rec(k * 10);
        std::string img = image(r, s.variable() ? k % 9 * 11 : 0);
        int rc = s.variable() ? ADDVREC(d, img.data(), int32_t(img.size())) : ADDREC(d, img.data());
        EXPECT_EQ(rc, 0) << k;
    }
    for (uint32_t k = 7; k <= n; k += 7) {
        Rec r = rec(k * 10);
        char buf[256];
        int32_t len = sizeof buf;
        int rc = s.variable() ? EQLVREC(d + 1, &r.number, buf, &len) : EQLREC(d + 1, &r.number, buf);
        EXPECT_EQ(rc, 0) << k;
        EXPECT_EQ(s.variable() ? DELVREC(d) : DELREC(d), 0) << k;
    }
    if (s.name.find('!') != std::string::npos) {
        live = records_of(s, d);
    } else {
        zvtest::SetState st;
        EXPECT_EQ(zvtest::check_set(d, &st), "");
        for (auto &kv : st.records) live.insert(kv.second);
    }
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    return live;
}

zvtest::SetState RblTest::built(RblSet &s, uint32_t n) {
    build(s, n);
    std::string verdict;
    zvtest::SetState st;
    contents(s, &verdict, &st);
    EXPECT_EQ(verdict, "");
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    return st;
}

std::multiset<std::string> RblTest::contents(RblSet &s, std::string *verdict, zvtest::SetState *state) {
    std::multiset<std::string> out;
    s.ifil.tfilno = -1;
    int rc = OPNIFILX(&s.ifil, nullptr, nullptr, nullptr);
    if (rc) {
        *verdict = "the set does not open: " + std::to_string(rc);
        return out;
    }
    zvtest::SetState st;
    *verdict = zvtest::check_set(s.ifil.tfilno, &st);
    for (auto &kv : st.records) out.insert(kv.second);
    if (state) *state = st;
    return out;
}

std::multiset<std::string> RblTest::records_of(RblSet &s, int datno) {
    std::multiset<std::string> out;
    int d = datno;
    if (d < 0) {
        s.ifil.tfilno = -1;
        if (int rc = OPNIFIL(&s.ifil)) {
            ADD_FAILURE() << "the set does not open: " << rc;
            return out;
        }
        d = s.ifil.tfilno;
    }
    char buf[512];
    int32_t len = sizeof buf;
    for (int rc = s.variable() ? FRSVREC(d + 1, buf, &len) : FRSREC(d + 1, buf); rc == 0;
         rc = s.variable() ? NXTVREC(d + 1, buf, &len) : NXTREC(d + 1, buf)) {
        out.insert(std::string(buf, s.variable() ? size_t(len) : 64));
        len = sizeof buf;
    }
    if (datno < 0) CLIFIL(&s.ifil);
    return out;
}

uint32_t RblTest::identity_resource(RblSet &s) {
    s.ifil.tfilno = -1;
    EXPECT_EQ(OPNIFILX(&s.ifil, nullptr, nullptr, nullptr), 0);
    uint32_t key[2] = {11, 1};
    unsigned char body[256];
    uint32_t pos = GETRES(s.ifil.tfilno, key, body, sizeof body, 2);
    EXPECT_NE(pos, 0u) << "no identity resource";
    CLIFIL(&s.ifil);
    return pos;
}

bool RblTest::indexes_verify(RblSet &s) {
    s.ifil.tfilno = -1;
    if (int rc = OPNIFIL(&s.ifil)) {
        ADD_FAILURE() << "the set does not open: " << rc;
        return false;
    }
    bool ok = true;
    for (int k = 0; k < s.ifil.dnumidx; k++) {
        VERIFYIDXOPT vo{1, 1 | 2 | 8, 15, 0, [](const char *) { return 0; }, nullptr};
        VERIFYIDXRES vr{};
        int rc = zvVERIFYidx(s.ifil.tfilno + 1 + k, &vo, &vr);
        if (rc) ADD_FAILURE() << "index " << k << " of " << s.name << ": " << rc;
        ok = ok && rc == 0;
    }
    CLIFIL(&s.ifil);
    return ok;
}

std::string RblTest::status_log() { return zvtest::read_file("ZVSTATUS.QVS"); }

std::vector<std::string> RblTest::log_messages() {
    std::vector<std::string> msgs;
    for (const std::string &l : zvtest::lines_of(status_log())) {
        size_t tab = l.find('\t');
        if (tab != std::string::npos) msgs.push_back(l.substr(tab + 1));
    }
    return msgs;
}

std::string RblTest::entry_after(const std::string &text, int skip) {
    std::vector<std::string> msgs = log_messages();
    std::string found;
    for (size_t i = 0; i + 1 + size_t(skip) < msgs.size(); i++)
        if (msgs[i].find(text) != std::string::npos) found = msgs[i + 1 + size_t(skip)];
    return found;
}

std::vector<std::string> RblTest::strays(const std::vector<std::string> &keep) {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(".")) {
        std::string n = e.path().filename().string();
        if (n == "ZVSTATUS.QVS") continue;
        bool kept = false;
        for (const std::string &k : keep) kept = kept || n == k;
        if (!kept) out.push_back(n);
    }
    return out;
}

std::string RblTest::resource_of(int filno, uint32_t number) {
    uint32_t key[2] = {6000, number};
    char buf[512];
    if (GETRES(filno, key, buf, sizeof buf, 2) == 0 && zvGetUserErrorCode() != 0) return "";
    uint32_t info[3] = {};
    if (GETRES(filno, key, info, sizeof info, 2 | 0x40) == 0 && zvGetUserErrorCode()) return "";
    return std::string(buf, info[2] < sizeof buf ? info[2] : sizeof buf);
}

}  // namespace rbltest
