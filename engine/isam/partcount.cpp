// Partitioned files: counts, estimates and fractions across members.
//
// The counting calls of a host (records, index entries, entries between
// two keys, distinct keys, the key at a fraction) are answered from its
// members. Exact counts add every active member. Estimates read the first
// and last member of their range exactly and a sample of the members
// between, extrapolated, so that an estimate over thousands of members
// opens only a few: the sample size S and percentage P of the instance
// decide how many (S below 0 with P = 0: every member).
//
// A host index whose keys follow member order (the partition index, or an
// index that leads with the partition key) bounds the members of a range
// by its keys; so does an index that holds the partition key elsewhere
// (through its key map), for ESTKEY. Any other index may hold keys of a
// range in every member.
//
// Invariants:
//  1. Sampling never divides by zero: a sample holds at least 3 members
//     (first, last and one between) and the members between are scaled
//     only by a non-zero number of members read.
//  2. A count is 64-bit: low word returned, high word in the high-word
//     cell; an error leaves 0 and the error code.
//  3. A global unique index with enhanced counts is counted from its own
//     header, never below 0 and without opening a member.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/keyform_needs.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr uint32_t kEnhanced = 0x20000;   // header flags 2: enhanced counts kept
constexpr int kFracKey = 1024;            // key bytes of a fraction slot

uint32_t answer(uint64_t n) {
    zvSETHGHi(int32_t(n >> 32));
    return uint32_t(n);
}

uint32_t fail(int code) {
    zvSETHGHi(0);
    set_uerr(code);
    return 0;
}

// The 64-bit result of a counting call that just returned lo.
uint64_t took(uint32_t lo) { return uint64_t(uint32_t(zvGETHGHi())) << 32 | lo; }

bool active(const PARTMBR &m) { return m.state == kMbrClosed || m.state == kMbrOpen; }

// The file of member n that stands for relative key rel (-1: the data file).
int member_file(int n, int rel) { return rel < 0 ? n : relative_index(n, rel); }

// Calls count(member file) for every active member from the lowest up to
// raw number `last`: the sum, or false with the error set.
template <class Count>
bool each_member(FCB *host, int hostno, int rel, int32_t last, uint64_t *sum, Count count) {
    INSTGV *g = zvWNGV;
    int32_t raw = -1;
    *sum = 0;
    for (;;) {
        const int n = nxtpartno(host, hostno, &raw, false);
        if (n == -2 || raw > last) return true;
        if (n < 0) return set_uerr(g->uerr_cod ? g->uerr_cod : 714), false;
        const int f = member_file(n, rel);
        if (f < 0) return set_uerr(615), false;
        set_uerr(0);
        const uint64_t v = count(f, raw);
        if (g->uerr_cod) return false;
        *sum += v;
    }
}

// Whether estimates read a sample of the members.
bool sampling() { return isam_state(zvWNGV).partsample >= 0 || isam_state(zvWNGV).partpercent != 0; }

// How many members a sampled estimate over n active members reads: at
// least 3.
int32_t sample_size(int32_t n) {
    const IsamState &st = isam_state(zvWNGV);
    const int32_t S = st.partsample, P = st.partpercent;
    int32_t s = S;
    if (P != 0) {
        s = int32_t(int64_t(P) * n / 100);
        if (S > 0 && s > S) s = S;
    }
    return s < 3 ? 3 : s;
}

// A sampled estimate over the active members of lo .. hi: the first and
// last read exactly, s - 2 of the members between read and scaled to all
// of them. A member that cannot be opened counts 0.
template <class Count>
uint64_t sampled(FCB *host, int hostno, int rel, int32_t lo, int32_t hi, Count count) {
    PARTDEF *pd = host->partdef;
    int32_t n = 0;
    for (int32_t r = lo; r <= hi; r++) {
        const PARTMBR *m = member_entry(pd, r);
        if (m && active(*m)) n++;
    }
    if (n == 0) return 0;
    const int32_t s = sample_size(n);
    const int32_t between = n > 2 ? n - 2 : 0;
    const int32_t take = std::min(s - 2, between);
    uint64_t ends = 0, part = 0;
    int32_t i = 0;
    for (int32_t r = lo; r <= hi && i < n; r++) {
        const PARTMBR *m = member_entry(pd, r);
        if (!m || !active(*m)) continue;
        const int32_t at = i++;
        const bool end = at == 0 || at == n - 1;
        if (!end && at > take) continue;
        const int mn = pfilno(hostno, r, false);
        const int f = mn >= 0 ? member_file(mn, rel) : -1;
        uint64_t v = 0;
        if (f >= 0) {
            set_uerr(0);
            v = count(f, r);
        }
        set_uerr(0);
        (end ? ends : part) += v;
    }
    if (take > 0 && take < between) part = part * uint64_t(between) / uint64_t(take);
    return ends + part;
}

// Every member's count, or a sampled one, over the active members of
// lo .. hi.
template <class Count>
uint32_t estimate(const HostIndex &h, int32_t lo, int32_t hi, Count count) {
    PARTDEF *pd = h.pd;
    if (!pd->ptmbr) return answer(0);
    if (pd->ptlow == -1 || pd->pthigh == -1) setrawnolmt(pd);
    if (!sampling()) {
        uint64_t sum = 0;
        int32_t raw = lo - 1;
        INSTGV *g = zvWNGV;
        for (;;) {
            const int m = nxtpartno(h.host, h.hostno, &raw, false);
            if (m == -2 || raw > hi) break;
            if (m < 0) return fail(g->uerr_cod ? g->uerr_cod : 714);
            const int f = member_file(m, h.rel);
            if (f < 0) return fail(615);
            set_uerr(0);
            sum += count(f, raw);
            if (g->uerr_cod) return fail(g->uerr_cod);
        }
        return answer(sum);
    }
    if (pd->ptlow != -1 && lo < pd->ptlow) lo = pd->ptlow;
    if (pd->pthigh != -1 && hi > pd->pthigh) hi = pd->pthigh;
    if (lo > hi) return answer(0);
    const uint64_t v = sampled(h.host, h.hostno, h.rel, lo, hi, count);
    set_uerr(0);
    return answer(v);
}

// The count of entries of a host index or records of a host data file.
uint32_t host_count(FCB *host, int hostno, int rel) {
    uint64_t sum = 0;
    bool ok = each_member(host, hostno, rel, INT32_MAX, &sum, [rel](int f, int32_t) {
        return took(rel < 0 ? DATENT(f) : IDXENT(f));
    });
    return ok ? answer(sum) : fail(zvWNGV->uerr_cod);
}

struct Slot {
    unsigned char key[kFracKey];
    uint32_t posh, posl;
    uint64_t count;
};

}  // namespace

uint32_t zvhostent(FCB *host, int filno, uint32_t *hi) {
    set_uerr(0);
    uint32_t lo = host->partdef ? host_count(host, filno, -1) : fail(722);
    *hi = uint32_t(zvGETHGHi());
    return lo;
}

}  // namespace zv

using namespace zv;

uint32_t zvhostent(FCB *x) {
    HostIndex h;
    if (int rc = host_index_of(x, x->filno, &h)) return fail(rc);
    if ((x->hdr.base.hdrflags2 & kEnhanced) && (x->hdr.ext.flmode2 & kPartGlobalIdx)) {
        const uint64_t n = uint64_t(x->hdr.ext.numenth) << 32 | x->hdr.base.nument;
        const uint64_t gone = x->hdr.ext.wide64[0] + x->hdr.ext.wide64[1];
        return answer(n > gone ? n - gone : 0);
    }
    return host_count(h.host, h.hostno, h.rel);
}

uint32_t zvhostest(int which, FCB *x, int keyno, const void *key1, const void *key2, int) {
    HostIndex h;
    if (int rc = host_index_of(x, keyno, &h)) return fail(rc);
    PARTDEF *pd = h.pd;
    auto between = [which](int f, const void *a, const void *b) {
        return took(which == 'R' ? RNGENT(f, a, b) : ESTKEY(f, a, b));
    };
    const bool bounded = h.ordered || (h.mapped && which == 'E');
    if (!bounded) {
        return estimate(h, pd->ptbase, pd->ptbase + pd->ptcur - 1,
                        [&](int f, int32_t) { return between(f, key1, key2); });
    }
    int32_t lo = pd->ptbase, hi = pd->ptbase + pd->ptcur - 1;
    if (key1 && (lo = raw_of_key(h, key1)) < 0) return fail(zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 712);
    if (key2 && (hi = raw_of_key(h, key2)) < 0) return fail(zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 712);
    const void *k1 = key1, *k2 = key2;
    if (lo > hi) {
        std::swap(lo, hi);
        std::swap(k1, k2);
    }
    if (!h.ordered) return estimate(h, lo, hi, [&](int f, int32_t) { return between(f, k1, k2); });
    // Member order: the low key's member counts from the key up, the high
    // key's up to its key, the members between all their entries.
    return estimate(h, lo, hi, [&](int f, int32_t raw) {
        if (raw == lo) return between(f, k1, raw == hi ? k2 : nullptr);
        if (raw == hi) return between(f, nullptr, k2);
        return took(IDXENT(f));
    });
}

uint32_t zvhostdst(FCB *x, int keyno) {
    HostIndex h;
    if (int rc = host_index_of(x, keyno, &h)) return fail(rc);
    return estimate(h, h.pd->ptbase, h.pd->ptbase + h.pd->ptcur - 1,
                    [](int f, int32_t) { return took(zvDISTINCTest(f)); });
}

uint32_t zvhostdst_set(FCB *x, int keyno, int mode, int) {
    HostIndex h;
    if (int rc = host_index_of(x, keyno, &h)) return fail(rc);
    uint64_t sum = 0;
    bool ok = each_member(h.host, h.hostno, h.rel, INT32_MAX, &sum,
                          [mode](int f, int32_t) { return took(zvDISTINCTset(f, mode)); });
    return ok ? answer(sum) : fail(zvWNGV->uerr_cod);
}

uint32_t zvhostfrc(FCB *x, int keyno, void *keyout, int32_t num, int32_t den, int32_t scale) {
    INSTGV *g = zvWNGV;
    HostIndex h;
    if (int rc = host_index_of(x, keyno, &h)) return fail(rc);
    const int32_t unit = den / (100 * scale);
    const int32_t pct = unit > 0 ? num / unit : 0;
    const size_t kl = size_t(x->hdr.base.keylen);
    auto position = [&](uint32_t posh, uint32_t posl, int32_t raw) {
        if (zvoverloadpart(h.host, &posh, raw)) return fail(717);
        zvSETHGHi(int32_t(posh));
        return posl;
    };
    if (h.ordered) {
        // Members in raw order: the member where the running count reaches
        // the target answers at its own fraction.
        std::vector<std::pair<int32_t, uint64_t>> counts;
        uint64_t total = 0;
        try {
            bool ok = each_member(h.host, h.hostno, h.rel, INT32_MAX, &total, [&](int f, int32_t raw) {
                const uint64_t c = took(IDXENT(f));
                counts.emplace_back(raw, c);
                return c;
            });
            if (!ok) return fail(g->uerr_cod);
        } catch (const std::bad_alloc &) {
            return fail(10);
        }
        const uint64_t target = total * uint64_t(pct) / 100;
        uint64_t before = 0;
        for (const auto &[raw, c] : counts) {
            if (c == 0 || before + c < target) {
                before += c;
                continue;
            }
            uint64_t inside = (target - before) * 100 / c;
            if (inside > 100) inside = 100;
            const int m = pfilno(h.hostno, raw, false);
            const int f = m >= 0 ? member_file(m, h.rel) : -1;
            if (f < 0) return fail(g->uerr_cod ? g->uerr_cod : 615);
            set_uerr(0);
            const uint32_t lo = FRCKEY(f, keyout, int32_t(inside));
            const uint32_t hi = uint32_t(zvGETHGHi());
            if (g->uerr_cod) return fail(g->uerr_cod);
            return position(hi, lo, raw);
        }
        return answer(0);
    }
    // Keys of any member anywhere: each member's key at the fraction, in
    // key order, weighed by the members' counts.
    std::vector<Slot> slots;
    uint64_t total = 0;
    std::vector<int32_t> raws;
    try {
        bool ok = each_member(h.host, h.hostno, h.rel, INT32_MAX, &total, [&](int f, int32_t raw) {
            const uint64_t c = took(IDXENT(f));
            if (c == 0 || g->uerr_cod) return c;
            Slot s{};
            s.posl = FRCKEY(f, s.key, pct);
            s.posh = uint32_t(zvGETHGHi());
            s.count = c;
            slots.push_back(s);
            raws.push_back(raw);
            return c;
        });
        if (!ok) return fail(g->uerr_cod);
    } catch (const std::bad_alloc &) {
        return fail(10);
    }
    if (slots.empty()) return answer(0);
    std::vector<size_t> order(slots.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return memcmp(slots[a].key, slots[b].key, kFracKey) < 0; });
    const uint64_t target = total * uint64_t(pct) / 100;
    uint64_t sum = 0;
    for (size_t i = 0; i < order.size(); i++) {
        const Slot &s = slots[order[i]];
        sum += s.count;
        if (sum >= target || i + 1 == order.size()) {
            memcpy(keyout, s.key, kl);
            return position(s.posh, s.posl, raws[order[i]]);
        }
    }
    return answer(0);
}
