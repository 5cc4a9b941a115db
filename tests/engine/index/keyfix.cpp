#include "tests/engine/index/keyfix.h"

#include <unistd.h>

namespace keytest {

Bytes schema_block(int align, int delim, int pad, const std::vector<std::pair<int, int>> &fields) {
    uint32_t n = uint32_t(fields.size());
    Bytes b(16 + 6 * n, 0);
    b[0] = 2;
    b[1] = uint8_t(align);
    b[2] = uint8_t(delim);
    b[3] = uint8_t(pad);
    uint32_t len = uint32_t(b.size());
    memcpy(&b[4], &len, 4);
    memcpy(&b[8], &n, 4);
    memcpy(&b[12], &n, 4);
    for (uint32_t i = 0; i < n; i++) {
        uint16_t l = uint16_t(fields[i].first), t = uint16_t(fields[i].second);
        memcpy(&b[16 + 6 * i], &l, 2);
        memcpy(&b[18 + 6 * i], &t, 2);
    }
    return b;
}

void KeyTest::make_data(int datno, uint16_t reclen, const char *name) {
    unlink(name);
    ASSERT_EQ(CREDATX8(datno, name, reclen, 0, 0, 0, nullptr, nullptr, nullptr), 0);
}

void KeyTest::make_index(int keyno, int datno, int32_t keylen, int dup, bool wide, int flags, int empty,
                         const char *name) {
    idxtest::IndexShape s;
    s.keylen = keylen;
    s.dup = dup;
    s.wide = wide;
    ASSERT_EQ(idxtest::create_index(keyno, name, s), 0);
    ASSERT_EQ(ENARES(keyno), 0);
    ASSERT_EQ(zvlfsegput(keyno, -1, flags, empty, datno), 0);
}

void KeyTest::set_schema(int datno, const Bytes &block) {
    DEFBLK d{const_cast<unsigned char *>(block.data()), int32_t(block.size()), int32_t(block.size()), 1, 1};
    ASSERT_EQ(SETDEFBLK(datno, &d), 0);
}

Bytes KeyTest::key(int keyno, const Bytes &rec, uint32_t pos, uint32_t posh) {
    Bytes k(1100, 0xEE);
    zvSETHGH(int32_t(posh));
    int32_t n = frmkey(keyno, rec.data(), k.data(), pos, int32_t(rec.size()));
    k.resize(size_t(n > 0 ? n : 0));
    return k;
}

std::vector<uint32_t> KeyTest::positions(int keyno) {
    std::vector<uint32_t> out;
    for (const auto &e : idxtest::scan(keyno)) out.push_back(uint32_t(e.pos));
    return out;
}

}  // namespace keytest
