#include "tests/support/setcheck.h"

#include <cstring>
#include <sstream>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "engine/files/varrec.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "zarvo/zarvo.h"

namespace zvtest {

namespace {

uint64_t last_used(const FCB *f) { return zv::join64(f->hdr.ext.numrech, f->hdr.base.numrec); }

int raw(FCB *f, uint64_t pos, void *buf, int32_t len) {
    int32_t got = 0;
    int rc = izvio81x(0, f, uint32_t(pos >> 32), uint32_t(pos), buf, len, &got, 0);
    return rc ? rc : (got < len ? 36 : 0);
}

struct Finder {
    std::ostringstream out;
    int found = 0;
    template <class T>
    void add(const T &what) {
        if (found++ < 5) out << what << "; ";
    }
};

}  // namespace

std::string check_set(int datno, SetState *state) {
    INSTGV *g = zvWNGV;
    Finder bad;
    if (!g || !zv::filno_in_table(datno) || !g->fcbtab[datno] || g->fcbtab[datno]->state == 'n')
        return "data file not open";
    FCB *d = g->fcbtab[datno];
    std::vector<int> indexes;
    for (int slot = 0; slot < zv::kMapIndexes; slot++) {
        int ix = zv::isam_map_index(datno, slot);
        if (ix == -1) break;
        if (ix >= 0) indexes.push_back(ix);
    }
    std::vector<uint64_t> counts(indexes.size(), 0);
    SetState st;

    auto check_record = [&](uint64_t pos, const std::string &rec) {
        st.records[pos] = rec;
        for (size_t i = 0; i < indexes.size(); i++) {
            const int ix = indexes[i];
            std::string key(size_t(GETFIL(ix, 1)) + 16, '\0');
            zvSETHGH(int32_t(pos >> 32));
            int32_t n = frmkey(ix, rec.data(), key.data(), uint32_t(pos), int32_t(rec.size()));
            if (n <= 0) {
                if (zvGetIsamErrorCode()) bad.add("record at " + std::to_string(pos) + " forms no key in index " +
                                                  std::to_string(ix) + ": " + std::to_string(zvGetIsamErrorCode()));
                continue;
            }
            counts[i]++;
            uint32_t lo = EQLKEY(ix, key.data());
            uint32_t hi = uint32_t(zvGETHGH());
            if (zv::join64(hi, lo) != pos)
                bad.add("record at " + std::to_string(pos) + " not found by its key in index " + std::to_string(ix) +
                        " (" + std::to_string(zv::join64(hi, lo)) + ")");
        }
    };

    const uint64_t last = last_used(d);
    if (d->kind == kKindFixed) {
        const uint64_t r = d->reclen;
        for (uint64_t pos = begbytfix(d); pos + r - 1 <= last;) {
            std::string rec(size_t(r), '\0');
            int rc = raw(d, pos, rec.data(), int32_t(r));
            const auto *p = reinterpret_cast<const unsigned char *>(rec.data());
            if (rc == 36 && raw(d, pos, rec.data(), 1) == 0 && p[0] == 0xFF) {
                pos += r;  // freed before its record was ever written
                continue;
            }
            if (rc) {
                bad.add("read error " + std::to_string(rc) + " at " + std::to_string(pos));
                break;
            }
            if (p[0] == 0xFF) {
                pos += r;
                continue;
            }
            if (p[0] == 0xFE && r >= 2 && p[1] == 0xFE) {
                uint64_t area = r >= 6 ? zv::le::get32(p + 2) : r;
                pos += area ? (area + r - 1) / r * r : r;
                continue;
            }
            check_record(pos, rec);
            pos += r;
        }
        zvSETHGH(0);
        uint32_t lo = DATENT(datno);
        st.datent = zv::join64(uint32_t(zvGETHGH()), lo);
        if (st.datent != st.records.size())
            bad.add("DATENT " + std::to_string(st.datent) + " but " + std::to_string(st.records.size()) +
                    " live records");
    } else {
        uint64_t pos = zv::first_node_offset(d);
        int guard = 0;
        while (pos <= last && pos != 0) {
            if (++guard > 10000000) {
                bad.add("area walk does not end");
                break;
            }
            VRECHDR h;
            if (int rc = getvhdr81(d, uint32_t(pos >> 32), uint32_t(pos), &h)) {
                bad.add("header read error " + std::to_string(rc) + " at " + std::to_string(pos));
                break;
            }
            if (h.arealen == 0) {
                bad.add("area of length 0 at " + std::to_string(pos));
                break;
            }
            if (h.mark == kVrecUsed) {
                std::string rec(h.reclen, '\0');
                if (int rc = raw(d, pos + vhdr_size(d), rec.data(), int32_t(h.reclen))) {
                    bad.add("record read error " + std::to_string(rc) + " at " + std::to_string(pos));
                    break;
                }
                if (h.reclen + vhdr_size(d) > h.arealen) bad.add("record longer than its area at " + std::to_string(pos));
                check_record(pos, rec);
            } else if (h.mark != kVrecFree && h.mark != kVrecNode && h.mark != kVrecResource &&
                       h.mark != kVrecMemberFree) {
                bad.add("bad area mark at " + std::to_string(pos));
                break;
            }
            pos += h.arealen;
        }
        if (pos != last + 1 && bad.found == 0) bad.add("areas end at " + std::to_string(pos) + ", not after the last byte used");
    }
    for (size_t i = 0; i < indexes.size(); i++) {
        zvSETHGH(0);
        uint32_t lo = IDXENT(indexes[i]);
        uint64_t n = zv::join64(uint32_t(zvGETHGH()), lo);
        st.idxent.push_back(n);
        if (n != counts[i])
            bad.add("index " + std::to_string(indexes[i]) + " holds " + std::to_string(n) + " entries, records have " +
                    std::to_string(counts[i]) + " keys");
    }
    if (state) *state = st;
    return bad.out.str();
}

}  // namespace zvtest
