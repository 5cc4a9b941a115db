#include "tests/engine/index/idxfix.h"

#include <cstring>
#include <unistd.h>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/files/fcbops.h"
#include "engine/index/btcheck.h"
#include "engine/index/index_services.h"
#include "engine/index/node.h"
#include "tests/support/engine.h"
#include "zarvo/zarvo.h"

namespace idxtest {

FCB *fcb_of(int filno) { return zvWNGV->fcbtab[filno]; }

int create_index(int filno, const std::string &name, const IndexShape &s) {
    unlink(name.c_str());
    XCREblk x{};
    x.mode = s.ext || s.wide ? 0x02u : 0x10000u;
    if (s.wide) x.mode |= 0x40;
    if (s.memory) {
        x.mode |= 0x80000000u;
        x.maxsizelo = s.memory;
    }
    if (s.sect * 128 != int(zvWNGV->nodesize)) return 11;
    return CREIDXX8(filno, name.c_str(), s.keylen, s.keytype, s.dup, 0, 4096, s.mode, 0, nullptr, nullptr, &x);
}

int open_index(int filno, const std::string &name, uint16_t openmode) {
    return OPNFIL(filno, name.c_str(), openmode);
}

int close_index(int filno) { return CLSFIL(filno, 0); }

void drop_index(int filno) {
    FCB *f = fcb_of(filno);
    zvidxfrsh(filno);
    zv::free_key_buffers(f);
    inrfil(f, 0);
    zvlclose(f, 0, 1);
    zv::fcb_reset(f);
}

std::string int_key(uint64_t v, int32_t keylen, char fill) {
    std::string k(size_t(keylen), fill);
    for (int i = 0; i < 8 && i < keylen; i++) k[size_t(i)] = char(v >> (56 - 8 * i));
    return k;
}

std::vector<Entry> scan(int filno) {
    std::vector<Entry> out;
    FCB *f = fcb_of(filno);
    std::string key(f->hdr.base.keylen, '\0');
    uint32_t lo = FRSKEY(filno, key.data());
    uint32_t hi = uint32_t(zvGETHGH());
    while (lo || hi) {
        out.push_back(Entry{key, (uint64_t(hi) << 32) | lo});
        lo = NXTKEY(filno, key.data());
        hi = uint32_t(zvGETHGH());
    }
    return out;
}

int add(int filno, const std::string &key, uint64_t pos, int mode) {
    zvSETHGH(int32_t(pos >> 32));
    return ADDKEY(filno, key.data(), uint32_t(pos), mode);
}

int del(int filno, const std::string &key, uint64_t pos) {
    zvSETHGH(int32_t(pos >> 32));
    return DELCHK(filno, key.data(), uint32_t(pos));
}

std::string check(int filno) {
    zv::BtReport rep;
    if (zv::btcheck(fcb_of(filno), &rep) == 0) return "";
    char buf[300];
    snprintf(buf, sizeof buf, "[%d] %s (node %x-%08x)", rep.code, rep.message, rep.nodeh, rep.nodel);
    return buf;
}

std::vector<std::string> log_lines() { return zvtest::lines_of(zvtest::read_file("ZVSTATUS.QVS")); }

void IndexTest::SetUp() {
    ZvTest::SetUp();
    zv::fault_reset();
    ASSERT_EQ(zvtest::start_engine(12, 20, 4, 8), 0);
}

void IndexTest::TearDown() {
    zv::fault_reset();
    zvtest::stop_engine();
    ZvTest::TearDown();
}

void IndexTest::restart(int bufs, int sect) {
    zvtest::stop_engine();
    ASSERT_EQ(zvtest::start_engine(bufs, 20, sect, 8), 0);
}

}  // namespace idxtest
