#include "tests/engine/index/idxfix.h"

#include <cstring>
#include <unistd.h>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/files/fcb.h"
#include "engine/files/filelayer_standin.h"
#include "engine/index/btcheck.h"
#include "engine/index/index_services.h"
#include "engine/index/node.h"
#include "tests/support/engine.h"
#include "zarvo/zarvo.h"

namespace idxtest {

namespace {

// Node geometry of a new index: capacities of non-leaf and leaf nodes and
// the element-count limit, as the file layer sets them at creation.
void set_geometry(FCB *f, const IndexSpec &s) {
    FILEHDR &b = f->hdr.base;
    int32_t p = s.wide ? 8 : 4;
    int32_t eff = s.keylen + ((s.keytype & 4) ? 1 : 0) + ((s.keytype & 8) ? 1 : 0);
    int32_t node = s.sect * 128;
    int32_t maxkbn = node - (s.wide ? 28 : 18);
    int32_t ent = eff + p;
    int32_t unit = s.dup == 1 ? eff : ent;
    int32_t entries = maxkbn / unit;
    b.maxkbn = uint16_t(maxkbn);
    b.maxkbl = uint16_t(s.dup == 1 ? (entries - 1) * eff : entries * ent - eff);
    b.node4 = uint16_t(node / 4);
    if (s.ext && s.keylen > 255 && (s.keytype & 12)) f->hdr.ext.cmpcnt = uint32_t((s.keylen - 1 + 254) / 255);
}

}  // namespace

FCB *fcb_of(int filno) { return zvWNGV->fcbtab[filno]; }

int create_index(int filno, const std::string &name, const IndexSpec &s) {
    unlink(name.c_str());
    FCB *f = zvtest::bind_file(filno, name, kKindIndex);
    memset(&f->hdr, 0, sizeof f->hdr);
    FILEHDR &b = f->hdr.base;
    FILEHDRX &x = f->hdr.ext;
    bool ext = s.ext || s.wide;
    b.clstyp = kKindIndex;
    b.keylen = uint16_t(s.keylen);
    b.ktype = uint8_t(s.keytype);
    b.autodup = uint8_t(s.dup);
    b.keypad = 0x20;
    b.nodsiz = uint16_t(s.sect * 128);
    b.flmode = s.mode;
    b.hdrflags = uint16_t((ext ? 0x02 : 0) | (s.wide ? 0x40 : 0));
    b.hdrflags2 = ext ? 0x9E8 : 0xE8;
    b.verson = ext ? 0xA1 : 0x81;
    x.flmode2 = b.hdrflags | (ext ? 0x20000000u : 0);
    x.xmark = ext ? 0x36353536u : 0;
    x.idxlayout = 4;
    x.levels = ext ? 0 : -1;
    f->nodesize = uint32_t(s.sect * 128);
    f->kind = kKindIndex;
    set_geometry(f, s);
    uint64_t first = begbytnod(f);
    b.numrec = b.phyend = uint32_t(first - 1);
    if (int rc = zvgetkbf(f, s.keylen)) return rc;
    return wrthdr(f);
}

int open_index(int filno, const std::string &name, uint16_t openmode) {
    std::string bytes = zvtest::read_file(name);
    if (bytes.size() < 128) return 12;
    FCB *f = zvtest::bind_file(filno, name, kKindIndex);
    memset(&f->hdr, 0, sizeof f->hdr);
    memcpy(&f->hdr.base, bytes.data(), 128);
    if (f->hdr.base.hdrflags & kHdrHasExt) {
        size_t n = (f->hdr.base.hdrflags2 & kHdr2Ext384) ? 384 : 128;
        memcpy(&f->hdr.ext, bytes.data() + 128, n);
    }
    f->kind = kKindIndex;
    f->nodesize = f->hdr.base.nodsiz;
    if (f->hdr.base.updflg) {
        if (!(openmode & 0x4000)) {
            zvtest::unbind_file(filno);
            return zv::set_uerr(14);
        }
        f->hdr.base.updflg = 'R';
    }
    f->hdr.base.flmode = uint16_t(f->hdr.base.flmode | (openmode & 0x7FCF));
    if (int rc = zvgetkbf(f, f->hdr.base.keylen)) {
        zvtest::unbind_file(filno);
        return rc;
    }
    return 0;
}

int close_index(int filno) {
    FCB *f = fcb_of(filno);
    int rc = zv::write_file_nodes(f, 0);
    if (rc == 0 && f->hdr.base.updflg == 0xFF) {
        f->hdr.base.updflg = 0;
        rc = wrthdr(f);
    }
    zvidxfrsh(filno);
    zv::free_key_buffers(f);
    zvtest::unbind_file(filno);
    return rc;
}

void drop_index(int filno) {
    FCB *f = fcb_of(filno);
    zvidxfrsh(filno);
    zv::free_key_buffers(f);
    zvtest::unbind_file(filno);
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
    zvtest::clear_instance_ring();
    ASSERT_EQ(zvtest::start_engine(bufs, 20, sect, 8), 0);
}

}  // namespace idxtest
