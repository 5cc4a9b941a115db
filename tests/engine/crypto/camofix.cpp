#include "tests/engine/crypto/camofix.h"

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/crypto/recovlog.h"
#include "engine/files/keychange.h"

namespace camotest {

uint32_t le32(const std::string &b, size_t at) {
    if (at + 4 > b.size()) return 0;
    auto u = [&](size_t i) { return uint32_t(static_cast<unsigned char>(b[at + i])); };
    return u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
}

void put_le32(std::string &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + size_t(i)] = char(v >> (8 * i));
}

DiskRec disk_rec(const std::string &f) {
    DiskRec r;
    r.pos = le32(f, 116);
    if (!r.pos || r.pos + 22 + 152 > f.size()) return r;
    size_t h = r.pos;
    r.mark = uint16_t(static_cast<unsigned char>(f[h]) | static_cast<unsigned char>(f[h + 1]) << 8);
    r.arealen = le32(f, h + 2);
    r.usedlen = le32(f, h + 6);
    size_t b = h + 22;
    r.type = le32(f, b);
    r.number = le32(f, b + 4);
    r.start = le32(f, b + 16);
    r.keylen = int32_t(le32(f, b + 20));
    r.cls = int32_t(le32(f, b + 24));
    r.phyend = le32(f, b + 28);
    r.unit = le32(f, b + 32);
    r.flags = le32(f, b + 36);
    r.keyblock = f.substr(b + 40, 112);
    return r;
}

std::string change_request(uint32_t options, const char *oldpw, const char *newpw,
                           std::initializer_list<const char *> files) {
    std::string s(8, '\0');
    put_le32(s, 0, options);
    put_le32(s, 4, uint32_t(files.size()));
    if (oldpw) s.append(oldpw).push_back('\0');
    s.append(newpw).push_back('\0');
    for (const char *f : files) s.append(f).push_back('\0');
    return s;
}

void CamoTest::SetUp() {
    zv::master_key_reset();
    zv::keychange_reset();
    zv::recov_set_logging(true);
    cmosdksup = 2;
    zv::set_master_password("pw");
    settest::SetTest::SetUp();
}

void CamoTest::TearDown() {
    if (zvWNGV) zvSETENCRYPT(nullptr, nullptr, 0);
    settest::SetTest::TearDown();
    zv::master_key_reset();
    zv::recov_set_logging(true);
}

void CamoTest::encrypt_creates(const char *code) { ASSERT_EQ(zvSETENCRYPT(code, "secret-key-text", 15), 0); }

}  // namespace camotest
