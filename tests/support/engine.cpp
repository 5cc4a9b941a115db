#include "tests/support/engine.h"

#include <cstring>
#include <unistd.h>

#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace zvtest {

using zv::mbclosx;
using zv::mbopen;

int start_engine(int bufs, int fils, int sect, int dbufs) {
    return INTREEX(bufs, fils, sect, dbufs, 33);
}

void stop_engine() {
    INSTGV *g = zvWNGV;
    if (!g || !g->started) return;
    CLISAM();
}

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++) s[i] = char(i % 251);
    return s;
}

FCB *bind_file(int filno, const std::string &path, int kind, uint16_t reclen, bool wide) {
    INSTGV *g = zvWNGV;
    if (access(path.c_str(), F_OK) != 0) write_file(path, pattern(0));
    FCB *f = static_cast<FCB *>(zvgetlst(zv::kListFcb));
    g->fcbtab[filno] = f;
    f->filno = uint16_t(filno);
    f->kind = uint8_t(kind);
    f->reclen = reclen;
    f->hdr.base.reclen = reclen;
    f->hdr.base.clstyp = uint16_t(kind);
    if (wide) f->hdr.base.hdrflags |= kHdr8ByteOffsets;
    f->hostfcb = f;
    strncpy(f->name, path.c_str(), sizeof f->name - 1);
    f->fd = mbopen(f, f->name, 0);
    f->state = 'y';
    zv::set_highest_written(f);
    // The logical end of file is the last byte on disk.
    f->hdr.base.numrec = f->hwoffl;
    f->hdr.ext.numrech = f->hwoffh;
    return f;
}

void unbind_file(int filno) {
    INSTGV *g = zvWNGV;
    FCB *f = g->fcbtab[filno];
    if (!f) return;
    zvflushd(f, 1);
    if (f->fd >= 0) mbclosx(f, f->fd);
    zvputlst(f, zv::kListFcb);
    g->fcbtab[filno] = nullptr;
}

EngineOutput::EngineOutput() : saved_(getZarvoSTDOUT()), out_(tmpfile()) {
    EXPECT_NE(out_, nullptr);
    if (out_) setZarvoSTDOUT(out_);
}

EngineOutput::~EngineOutput() {
    setZarvoSTDOUT(saved_);
    if (out_) fclose(out_);
}

std::string EngineOutput::text() {
    std::string s;
    if (!out_) return s;
    fflush(out_);
    rewind(out_);
    for (int c; (c = fgetc(out_)) != EOF;) s += char(c);
    return s;
}

}  // namespace zvtest
