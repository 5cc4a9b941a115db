#include "tests/engine/maint/maintfix.h"

#include <cstdio>
#include <cstring>

#include "engine/core/platform.h"

namespace mainttest {

namespace {
Capture g_cap;
}

Capture &cap() { return g_cap; }

std::string Capture::joined() const {
    std::string s;
    for (const std::string &l : lines) s += l + "|";
    return s;
}

bool Capture::has(const std::string &text) const { return count(text) > 0; }

int Capture::count(const std::string &text) const {
    int n = 0;
    for (const std::string &l : lines)
        if (l.find(text) != std::string::npos) n++;
    return n;
}

int out_routine(const char *text) {
    g_cap.lines.push_back(text);
    return 0;
}

int progress_routine(int event, int percent) {
    g_cap.lines.push_back("event " + std::to_string(event) + " " + std::to_string(percent));
    return g_cap.stop_at_event != 0 && event == g_cap.stop_at_event ? 1 : 0;
}

int error_routine(VERIFYERR *err, const char *text) {
    g_cap.lines.push_back("error " + std::to_string(err->errcode) + ": " + text);
    EXPECT_EQ(err->version, 1);
    return g_cap.error_answer;
}

std::string stdout_of_call(void (*fn)(void *), void *ctx) {
    FILE *old = getZarvoSTDOUT();
    FILE *tmp = tmpfile();
    if (!tmp) return "<no temporary file>";
    setZarvoSTDOUT(tmp);
    fn(ctx);
    fflush(tmp);
    setZarvoSTDOUT(old);
    rewind(tmp);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, tmp)) > 0) s.append(buf, n);
    fclose(tmp);
    return s;
}

RawIndex::RawIndex(const std::string &file, int32_t k, uint32_t n)
    : bytes(zvtest::read_file(file)), node(n), keylen(k) {}

void RawIndex::save(const std::string &file) const { zvtest::write_file(file, bytes); }

uint32_t RawIndex::get32(size_t off) const {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data() + off);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void RawIndex::put32(size_t off, uint32_t v) {
    for (int i = 0; i < 4; i++) bytes[off + size_t(i)] = char(v >> (8 * i));
}

uint16_t RawIndex::get16(size_t off) const {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data() + off);
    return uint16_t(p[0] | p[1] << 8);
}

void RawIndex::put16(size_t off, uint16_t v) {
    bytes[off] = char(v);
    bytes[off + 1] = char(v >> 8);
}

std::vector<std::vector<uint32_t>> RawIndex::levels() const {
    std::vector<std::vector<uint32_t>> out;
    std::vector<uint32_t> cur{root()};
    while (!cur.empty() && out.size() < 15) {
        out.push_back(cur);
        std::vector<uint32_t> next;
        for (uint32_t n : cur) {
            if (leaf(n)) continue;
            for (int i = 1; i <= nkv(n); i++) next.push_back(child(n, i));
        }
        cur = next;
    }
    return out;
}

std::string key8(uint64_t v) {
    std::string k(8, '\0');
    for (int i = 0; i < 8; i++) k[size_t(i)] = char(v >> (56 - 8 * i));
    return k;
}

void MaintTest::SetUp() {
    ZvTest::SetUp();
    zv::fault_reset();
    g_cap = Capture{};
    ASSERT_EQ(INTISAM(16, 40, 4), 0);
}

void MaintTest::TearDown() {
    zv::fault_reset();
    CLISAM();
    ZvTest::TearDown();
}

void MaintTest::make_index(int filno, const std::string &name, int n, int32_t keylen) {
    ASSERT_EQ(CREIDX(filno, name.c_str(), keylen, 0, 0, 0, 4096, 0), 0);
    std::string key(size_t(keylen), 'k');
    for (int i = 1; i <= n; i++) {
        std::string k8 = key8(uint64_t(i) * 3);
        key.replace(0, 8, k8);
        ASSERT_EQ(ADDKEY(filno, key.data(), uint32_t(1000 + i), 0), 0) << i;
    }
}

}  // namespace mainttest
