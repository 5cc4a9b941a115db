// Partitioned files: the definition a host keeps (PARTDEF), its two
// resources, the partition rule and the encoding of raw numbers into host
// record positions.
//
// Resources in the host data file (type 0; bodies as handed to ADDRES:
// type, number, the NUL-terminated name, then the data):
//   number 9, "QV!PART": the member table, a run of NUL-terminated fields:
//     "LIST", ptbase, ptcur, n, the format (2), three empty fields, n
//     triples (raw number, state as written, member name), n pairs (raw
//     number, stamp). A new host holds "INIT" (and zeros to 32 bytes).
//   number 10, "QV!PRUL": the rule text, or "NONE" for the date rule.
//
// Host record positions: a member position keeps its low word; the raw
// number sits in the high word from bit ptshift up (the header's +224).
// A host position whose raw bits are 0 designates no member.
//
// Invariants:
//  1. Every entry of the table lies at raw - ptbase in 0 .. ptcur - 1;
//     a stored entry outside that range, or more entries than the count,
//     is a damaged table (722): nothing is written outside the table.
//  2. Only state 2 entries have a file number (the member's data file).
//  3. The rule is parsed once, on the first raw number asked; after that
//     a raw number costs a key copy, its untransform and one evaluation.
#include "engine/isam/partition.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/core/bytes.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/expr/eval.h"
#include "engine/expr/expr_services.h"
#include "engine/core/fcb.h"
#include "engine/index/node.h"
#include "engine/index/segmode.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "zarvo/zvdbpt.h"

namespace zv {

namespace {

constexpr uint32_t kTablePart = 9;    // "QV!PART"
constexpr uint32_t kTableRule = 10;   // "QV!PRUL"
constexpr int32_t kHead = 16;         // type, number, an 8-byte name
constexpr int32_t kPlaceholder = 32;
constexpr int kFormat = 2;

// The body head of one of the two resources.
void put_head(unsigned char *b, uint32_t number) {
    uint32_t w[2] = {0, number};
    memcpy(b, w, 8);
    memcpy(b + 8, number == kTablePart ? "QV!PART" : "QV!PRUL", 8);
}

// Reads resource (0, number) of a file whole into a new block: 0 with the
// data (after the name) in [*data, *end), or the error (GETRES's code).
int read_resource(int filno, uint32_t number, unsigned char **block, const char **data, const char **end) {
    *block = nullptr;
    uint32_t key[2] = {0, number};
    uint32_t info[3] = {0, 0, 0};
    set_uerr(0);
    if (!GETRES(filno, key, info, int32_t(sizeof info), 2 | 64)) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 408;
    const int32_t len = int32_t(info[2]);
    if (len < 9) return set_uerr(722);
    auto *b = static_cast<unsigned char *>(zvgetmem(len + 1));
    if (!b) return set_uerr(83);
    if (!GETRES(filno, key, b, len, 2)) {
        zvputmem(b);
        return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 408;
    }
    const char *p = reinterpret_cast<const char *>(b) + 8;
    const char *e = reinterpret_cast<const char *>(b) + len;
    const char *nul = static_cast<const char *>(memchr(p, 0, size_t(e - p)));
    if (!nul) {
        zvputmem(b);
        return set_uerr(722);
    }
    *block = b;
    *data = nul + 1;
    *end = e;
    return 0;
}

// The NUL-terminated fields of the member table, never read past its end.
class Fields {
public:
    Fields(const char *p, const char *end) : p_(p), end_(end) {}
    // The next field: false when it does not end inside the data.
    bool text(const char **s, size_t *n) {
        if (p_ >= end_) return false;
        const char *nul = static_cast<const char *>(memchr(p_, 0, size_t(end_ - p_)));
        if (!nul) return false;
        *s = p_;
        *n = size_t(nul - p_);
        p_ = nul + 1;
        return true;
    }
    // The next field read as a decimal number (as atol reads it).
    bool number(int32_t *v) {
        const char *s;
        size_t n;
        if (!text(&s, &n)) return false;
        size_t i = 0;
        while (i < n && (s[i] == ' ' || s[i] == '\t')) i++;
        bool neg = i < n && s[i] == '-';
        if (i < n && (s[i] == '-' || s[i] == '+')) i++;
        int64_t x = 0;
        for (; i < n && s[i] >= '0' && s[i] <= '9'; i++) {
            x = x * 10 + (s[i] - '0');
            if (x > INT32_MAX) return false;
        }
        *v = int32_t(neg ? -x : x);
        return true;
    }

private:
    const char *p_;
    const char *end_;
};

PARTDEF *definition_of(int filno) {
    FCB *f = fcb_at(filno);
    return f ? f->partdef : nullptr;
}

void free_names(PARTDEF *pd) {
    for (int32_t i = 0; pd->ptmbr && i < pd->ptcur; i++) {
        zvputmem(pd->ptmbr[i].name);
        pd->ptmbr[i].name = nullptr;
    }
}

// The state an entry is written with.
int32_t written_state(int32_t s) {
    switch (s) {
    case kMbrOpen:
    case kMbrRebuilding:
    case kMbrActivating:
        return kMbrClosed;
    case kMbrArchiving:
        return kMbrArchived;
    case kMbrPurging:
        return kMbrPurged;
    case kMbrReusing:
        return kMbrNone;
    default:
        return s;
    }
}

bool written(const PARTMBR &m) { return m.state != kMbrNone || m.stamp > 0; }

// Parses the member table of a "LIST" resource into pd: 0 or the error.
int read_list(PARTDEF *pd, Fields &in, bool readonly) {
    int32_t base = 0, count = 0, n = 0, format = 0;
    if (!in.number(&base) || !in.number(&count) || !in.number(&n) || !in.number(&format)) return 722;
    if (format > kFormat && !readonly) return 725;
    if (count < 0 || n < 0 || n > count || base < 1 || int64_t(base) + count > INT32_MAX) return 722;
    for (int i = 0; i < 3; i++) {
        const char *s;
        size_t l;
        if (!in.text(&s, &l)) return 722;
    }
    if (count > 0) {
        pd->ptmbr = static_cast<PARTMBR *>(zvgetmem(int32_t(sizeof(PARTMBR)) * count));
        if (!pd->ptmbr) return 83;
        pd->ptmax = count;
        for (int32_t i = 0; i < count; i++) pd->ptmbr[i].filno = -1;
    }
    pd->ptcur = count;
    pd->ptbase = base;
    for (int32_t i = 0; i < n; i++) {
        int32_t raw = 0, state = 0;
        const char *s;
        size_t l;
        if (!in.number(&raw) || !in.number(&state) || !in.text(&s, &l)) return 722;
        int64_t at = int64_t(raw) - base;
        if (at < 0 || at >= count || l > 255) return 722;
        PARTMBR &m = pd->ptmbr[at];
        zvputmem(m.name);
        m.name = static_cast<char *>(zvgetmem(int32_t(l) + 1));
        if (!m.name) return 83;
        memcpy(m.name, s, l);
        m.state = state;
        m.stamp = 0;
        if (state == kMbrClosed) {
            if (pd->ptlow == -1 || raw < pd->ptlow) pd->ptlow = raw;
            if (raw > pd->pthigh) pd->pthigh = raw;
        }
    }
    if (format >= 2) {
        for (int32_t i = 0; i < n; i++) {
            int32_t raw = 0, stamp = 0;
            if (!in.number(&raw) || !in.number(&stamp)) return 722;
            int64_t at = int64_t(raw) - base;
            if (at < 0 || at >= count) return 722;
            pd->ptmbr[at].stamp = stamp;
        }
    }
    return 0;
}

// Appends a field (text, then its NUL).
char *put_text(char *p, const char *s) {
    size_t n = strlen(s);
    memcpy(p, s, n + 1);
    return p + n + 1;
}
char *put_number(char *p, int32_t v) {
    char num[16];
    snprintf(num, sizeof num, "%d", v);
    return put_text(p, num);
}

// ---- The rule -------------------------------------------------------------------

// The key view of a rule: a schema map of one field per segment of the
// partition index (the segment's length, the schema field's type) followed
// by the field names, so that the rule names the key's parts. Null when the
// host has no schema with names, or a segment is not a schema field.
unsigned char *make_key_view(FCB *host, int hostno, int ixno, unsigned char **names_out) {
    const unsigned char *schema = host->schmap;
    const ISAMSEG *segs = isam_segs(ixno);
    if (!schema || !segs) return nullptr;
    auto *names = static_cast<unsigned char *>(zvgetnames(hostno));
    set_uerr(0);
    if (!names) return nullptr;
    const int32_t nf = schema_fields(schema);
    struct Part {
        uint16_t len, type;
        const unsigned char *name;
        size_t namelen;
    } parts[kMapSegs];
    int n = 0;
    size_t namebytes = 0;
    bool ok = true;
    for (; n < kMapSegs && segs[n].soffset != kSegEnd; n++) {
        const ISAMSEG &s = segs[n];
        int base = s.segmode & kSegBaseMask;
        SchemaField sf{};
        if (!((base >= 12 && base <= 15) || base == 257) || int32_t(s.soffset) >= nf ||
            schema_field(schema, s.soffset, &sf)) {
            ok = false;
            break;
        }
        // The name record of field soffset: a length byte, the name, NUL.
        const unsigned char *rec = names;
        for (uint32_t i = 0; i < s.soffset; i++) rec += rec[0];
        if (rec[0] < 2) {
            ok = false;
            break;
        }
        parts[n] = Part{s.slength, sf.type, rec + 1, strnlen(reinterpret_cast<const char *>(rec + 1), rec[0] - 1)};
        namebytes += parts[n].namelen + 2;
    }
    unsigned char *view = nullptr;
    if (ok && n > 0) {
        const int32_t maplen = kSchemaHead + kSchemaEntry * n;
        view = static_cast<unsigned char *>(zvgetmem(int32_t(maplen + namebytes)));
        if (view) {
            view[1] = 1;  // no alignment: the fields follow each other as the segments do
            view[2] = uint8_t(schema_delim(schema));
            view[3] = uint8_t(schema_pad(schema));
            host::put32(view + 4, uint32_t(maplen));
            host::put32(view + 8, uint32_t(n));
            host::put32(view + 12, uint32_t(n));
            unsigned char *nm = view + maplen;
            *names_out = nm;
            for (int i = 0; i < n; i++) {
                unsigned char *e = view + kSchemaHead + kSchemaEntry * i;
                host::put16(e, parts[i].len);
                host::put16(e + 2, parts[i].type);
                nm[0] = uint8_t(parts[i].namelen + 2);
                memcpy(nm + 1, parts[i].name, parts[i].namelen);
                nm[parts[i].namelen + 1] = 0;
                nm += parts[i].namelen + 2;
            }
        }
    }
    zvputmem(names);
    return view;
}

void release_body(int32_t kind, void *body) {
    if (!body) return;
    if (kind == kRuleExpr) cndxfree(body);
    else if (kind == kRuleCallback || kind == kRuleCallback5) zvfreecidx(body, 1);
    else zvputmem(body);
}

// Evaluates an expression rule on a key: the raw number, or -1 with the
// error set (7 a value that is no integer; the evaluator's code).
int32_t evaluate_rule(PTRULE *r, unsigned char *key, int32_t keylen) {
    unsigned char *schema = r->view;
    int rc = cndxrun(r->body, key, schema, keylen, keylen);
    if (rc) {
        stack_cut(0);
        return set_uerr(rc == kExprMemory ? 435 : rc), -1;
    }
    const int32_t top = stack_top();
    if (top < 1 || stack_at(top - 1)->kind != PT_INTEGER) {
        stack_cut(0);
        return set_uerr(7), -1;
    }
    int64_t v = 0;
    rc = runPopInteger(&v);
    stack_cut(0);
    if (rc) return set_uerr(rc), -1;
    if (v < 0) return -1;
    return v > INT32_MAX ? INT32_MAX : int32_t(v);
}

}  // namespace

// ---- Resources ----------------------------------------------------------------------

int zvsetpres(FCB *f, int filno) {
    INSTGV *g = zvWNGV;
    if (g->uerr_cod) return g->uerr_cod;
    if ((f->hdr.base.sfiltyp != 0xFFFF && (f->hdr.base.sfiltyp & 2)) ||
        !(f->hdr.base.hdrflags & (kHdrExtended | kHdrSegmented | kHdr8ByteOffsets)))
        return set_uerr(454);
    unsigned char body[kPlaceholder] = {};
    put_head(body, kTablePart);
    memcpy(body + kHead, "INIT", 4);
    if (int rc = ADDRES(filno, body, kPlaceholder)) return rc;
    memset(body, 0, sizeof body);
    put_head(body, kTableRule);
    memcpy(body + kHead, "NONE", 4);
    if (int rc = ADDRES(filno, body, kPlaceholder)) return rc;
    // The new host stays open: its definition is the one it will read.
    return zvpartres(filno);
}

int zvpartres(int filno) {
    FCB *f = fcb_at(filno);
    if (!f) return set_uerr(26);
    if (!f->partdef) {
        f->partdef = static_cast<PARTDEF *>(zvgetmem(int32_t(sizeof(PARTDEF))));
        if (!f->partdef) return set_uerr(83);
    }
    PARTDEF *pd = f->partdef;
    pd->ptbase = 1;
    pd->ptlow = pd->pthigh = -1;
    pd->ptsrchix = -1;
    pd->ptshift = f->hdr.ext.crew15;
    pd->ptidx = int32_t(f->hdr.ext.crew9);
    unsigned char *block = nullptr;
    const char *data = nullptr, *end = nullptr;
    if (int rc = read_resource(filno, kTablePart, &block, &data, &end)) return set_uerr(rc);
    Fields in(data, end);
    const char *s;
    size_t n;
    int rc = 0;
    if (!in.text(&s, &n)) {
        rc = 722;
    } else if (n == 4 && memcmp(s, "LIST", 4) == 0) {
        rc = read_list(pd, in, (f->hdr.base.flmode & kOpnReadOnly) != 0);
    } else if (!(n == 4 && memcmp(s, "INIT", 4) == 0)) {
        rc = 722;
    }
    zvputmem(block);
    if (rc) {
        free_names(pd);
        zvputmemn(reinterpret_cast<void **>(&pd->ptmbr));
        pd->ptcur = pd->ptmax = 0;
        pd->ptlow = pd->pthigh = -1;
        return set_uerr(rc);
    }
    return set_uerr(0);
}

int zvpartrule(FCB *host, int filno) {
    PARTDEF *pd = host->partdef;
    if (!pd) return set_uerr(0);
    zvpr_clean_rule(&pd->ptrule);
    unsigned char *block = nullptr;
    const char *data = nullptr, *end = nullptr;
    int rc = read_resource(filno, kTableRule, &block, &data, &end);
    if (rc == 401 || rc == 408 || rc == 438) return set_uerr(0);
    if (rc) return set_uerr(rc);
    size_t n = strnlen(data, size_t(end - data));
    if ((n == 4 && memcmp(data, "NONE", 4) == 0) || n == 0) {
        zvputmem(block);
        return set_uerr(0);
    }
    auto *r = static_cast<PTRULE *>(zvgetmem(int32_t(sizeof(PTRULE))));
    auto *text = static_cast<char *>(zvgetmem(int32_t(n + 1)));
    if (!r || !text) {
        zvputmem(r);
        zvputmem(text);
        zvputmem(block);
        return set_uerr(82);
    }
    memcpy(text, data, n);
    r->kind = kRuleText;
    r->body = text;
    pd->ptrule = r;
    zvputmem(block);
    return set_uerr(0);
}

unsigned char *formpr(const FCB *host, int32_t *len) {
    const PARTDEF *pd = host->partdef;
    // Each number takes at most 12 bytes with its NUL.
    int64_t size = kHead + 128;
    int32_t n = 0;
    for (int32_t i = 0; pd && pd->ptmbr && i < pd->ptcur; i++) {
        if (!written(pd->ptmbr[i])) continue;
        n++;
        size += 48 + (pd->ptmbr[i].name ? strlen(pd->ptmbr[i].name) : 0);
    }
    if (size > 0x7FFFFFF0) return set_uerr(83), nullptr;
    auto *b = static_cast<unsigned char *>(zvgetmem(int32_t(size)));
    if (!b) return set_uerr(83), nullptr;
    put_head(b, kTablePart);
    char *p = reinterpret_cast<char *>(b + kHead);
    p = put_text(p, "LIST");
    p = put_number(p, pd ? pd->ptbase : 1);
    p = put_number(p, pd ? pd->ptcur : 0);
    p = put_number(p, n);
    p = put_number(p, kFormat);
    for (int i = 0; i < 3; i++) p = put_text(p, "");
    for (int32_t i = 0; n && i < pd->ptcur; i++) {
        const PARTMBR &m = pd->ptmbr[i];
        if (!written(m)) continue;
        p = put_number(p, pd->ptbase + i);
        p = put_number(p, written_state(m.state));
        p = put_text(p, m.name ? m.name : "");
    }
    for (int32_t i = 0; n && i < pd->ptcur; i++) {
        const PARTMBR &m = pd->ptmbr[i];
        if (!written(m)) continue;
        p = put_number(p, pd->ptbase + i);
        p = put_number(p, m.stamp);
    }
    *len = int32_t(reinterpret_cast<unsigned char *>(p) - b);
    return b;
}

int zvupdtpres(FCB *host, int filno) {
    int32_t len = 0;
    unsigned char *b = formpr(host, &len);
    if (!b) return zvWNGV->uerr_cod;
    int rc = UPDRES(filno, b, len);
    zvputmem(b);
    return rc;
}

int zvpartcln(FCB *host) {
    PARTDEF *pd = host ? host->partdef : nullptr;
    if (!pd) return 0;
    free_names(pd);
    zvputmem(pd->ptmbr);
    zvpr_clean_rule(&pd->ptrule);
    zvputmem(pd);
    host->partdef = nullptr;
    return 0;
}

// ---- The rule -------------------------------------------------------------------

int zvpr_parse_str(FCB *host, int filno, const char *text, PTRULE *out) {
    if (!text) return set_uerr(597);
    unsigned char *view = nullptr, *names = nullptr;
    if (host->schmap) {
        int ixno = relative_index(filno, host->partdef ? host->partdef->ptidx : -1);
        if (ixno >= 0) view = make_key_view(host, filno, ixno, &names);
    }
    int kind = 0;
    set_uerr(0);
    void *body = cndxparse(view, names, text, int32_t(strlen(text) + 1), &kind);
    if (!body) {
        zvputmem(view);
        return set_uerr(597);
    }
    int32_t rk = kind == 0 ? kRuleExpr : kind == 1 ? kRuleCallback : kind == 5 ? kRuleCallback5 : kRuleUnusable;
    if (!out) {
        release_body(rk, body);
        zvputmem(view);
        return set_uerr(0);
    }
    out->kind = rk;
    out->body = body;
    out->view = view;
    out->names = names;
    return set_uerr(0);
}

void zvpr_clean_rule(PTRULE **rule) {
    if (!rule || !*rule) return;
    PTRULE *r = *rule;
    release_body(r->kind, r->body);
    zvputmem(r->view);
    zvputmem(r);
    *rule = nullptr;
}

int zvpr_replace_rule(FCB *host, int filno, const char *text) {
    PARTDEF *pd = host->partdef;
    if (!pd) return set_uerr(722);
    const bool none = !text || !*text;
    PTRULE *r = nullptr;
    if (!none) {
        r = static_cast<PTRULE *>(zvgetmem(int32_t(sizeof(PTRULE))));
        if (!r) return set_uerr(10);
        if (zvpr_parse_str(host, filno, text, r)) {
            zvputmem(r);
            return set_uerr(747);
        }
    }
    // The stored rule first: a failed write leaves the old rule in force,
    // in memory as on disk.
    const size_t n = none ? 4 : strlen(text);
    auto *b = static_cast<unsigned char *>(zvgetmem(int32_t(kHead + n + 1)));
    int rc = 10;
    if (b) {
        put_head(b, kTableRule);
        memcpy(b + kHead, none ? "NONE" : text, n);
        rc = UPDRES(filno, b, int32_t(kHead + n + 1));
        zvputmem(b);
    }
    if (rc) {
        zvpr_clean_rule(&r);
        return set_uerr(rc);
    }
    zvpr_clean_rule(&pd->ptrule);
    pd->ptrule = r;
    return set_uerr(0);
}

int32_t kprawno(int hostno, int ixno, const void *key) {
    FCB *x = fcb_at(ixno);
    PARTDEF *pd = definition_of(hostno);
    if (!x || !pd) return set_uerr(615), -1;
    // The day is read from the key's value: a duplicate-key index's
    // position suffix is no part of it.
    const int32_t kl = x->hdr.base.keylen;
    if (kl - (idx_dup(x) ? idx_psize(x) : 0) < 8) return set_uerr(731), -1;
    unsigned char *k = pd->keyu;
    memcpy(k, key, size_t(kl));
    set_uerr(0);
    if (!uTFRMKEY(ixno, k)) return set_uerr(zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 446), -1;
    double d;
    memcpy(&d, k, 8);
    int64_t v = std::isnan(d) ? -1 : d >= 9.2e18 ? INT64_MAX : d <= -9.2e18 ? INT64_MIN : int64_t(d);
    if (v >= 25570 && v <= 86399) return int32_t(v - 25569);
    if (v >= 0 && v <= 25569) return 1;
    if (v < 0) {
        static const unsigned char ff[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        return memcmp(key, ff, 8) == 0 ? 65536 : 1;
    }
    time_t t = time_t(v);
    struct tm tmv;
    if (int64_t(t) != v || !zvrt_gmtime_r(&t, &tmv)) return set_uerr(4029), -1;
    int32_t days = zvGetDaysSinceEpoch(tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday);
    return days == 0 ? 1 : days;
}

int32_t kprawno_i(int hostno, int ixno, const void *key) {
    FCB *host = fcb_at(hostno);
    FCB *x = fcb_at(ixno);
    PARTDEF *pd = host ? host->partdef : nullptr;
    if (!pd || !x) return set_uerr(615), -1;
    PTRULE *r = pd->ptrule;
    if (!r) return kprawno(hostno, ixno, key);
    if (r->kind == kRuleText) {
        PTRULE parsed{};
        if (zvpr_parse_str(host, hostno, static_cast<const char *>(r->body), &parsed)) return -1;
        zvputmem(r->body);
        *r = parsed;
    }
    const int32_t kl = x->hdr.base.keylen;
    unsigned char *k = pd->keyu;
    memcpy(k, key, size_t(kl));
    set_uerr(0);
    if (!uTFRMKEY(ixno, k)) return set_uerr(zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 446), -1;
    switch (r->kind) {
    case kRuleCallback:
    case kRuleCallback5: {
        int v = clbkeval(r->body, 1, hostno, k, r->view, kl, kl);
        if (v <= 0) return set_uerr(zvWNGV->exprerr ? zvWNGV->exprerr : 0), -1;
        return v;
    }
    case kRuleExpr:
        return evaluate_rule(r, k, kl);
    default:
        return set_uerr(747), -1;
    }
}

int zvpartdest(int hostno, const void *rec, int32_t reclen, int32_t *raw, int32_t *stamp) {
    FCB *host = fcb_at(hostno);
    PARTDEF *pd = host ? host->partdef : nullptr;
    if (!pd) return set_uerr(722);
    if (host->kind == kKindIndex) return set_uerr(48);
    int ixno = relative_index(hostno, pd->ptidx);
    if (ixno < 0) return set_uerr(615);
    if (!rec) return set_uerr(33);
    if (reclen == 0) reclen = host->reclen;
    set_uerr(0);
    if (frmkey(ixno, rec, pd->key, 0, reclen) <= 0) return set_uerr(zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 596);
    int32_t r = kprawno_i(hostno, ixno, pd->key);
    if (r < 0) return set_uerr(zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 712);
    *raw = r;
    // A member that does not exist yet takes the larger of its entry's
    // stamp and the host's own.
    const PARTMBR *m = member_entry(pd, r);
    const int32_t own = int32_t(host->hdr.ext.crew14);
    const int32_t kept = m ? m->stamp : 0;
    *stamp = (m && m->state != kMbrNone) || kept > own ? kept : own;
    return 0;
}

int zvpartno(int hostno, const void *rec, int32_t *raw, int32_t reclen, bool create, bool fromrec) {
    FCB *host = fcb_at(hostno);
    if (!host || !host->partdef) return set_uerr(722), -1;
    if (host->kind == kKindIndex) return set_uerr(48), -1;
    int32_t r = 0;
    if (fromrec) {
        int32_t stamp = 0;
        if (zvpartdest(hostno, rec, reclen, &r, &stamp)) return -1;
    } else {
        if (!host->isamposh && !host->isamposl) {
            char line[160];
            snprintf(line, sizeof line, "PCRP_ERR: zvpartno(), file %.128s", host->name);
            zvrcvlog(line, kLogSingleTry);
            return set_uerr(724), -1;
        }
        r = host->partdef->ptraw;
    }
    if (raw) *raw = r;
    return pfilno(hostno, r, create);
}

// ---- Positions ----------------------------------------------------------------------

namespace {

inline uint32_t high_mask(uint32_t s) { return s >= 32 ? 0u : 0xFFFFFFFFu << s; }

}  // namespace

int zvoverloadpart(const FCB *host, uint32_t *posh, int32_t raw) {
    const uint32_t s = host->partdef ? host->partdef->ptshift : 32;
    if (s > 31 || (*posh & high_mask(s)) || (uint32_t(raw) & high_mask(32 - s))) return set_uerr(717);
    *posh |= uint32_t(raw) << s;
    return 0;
}

int32_t zvunfoldpart(const FCB *host, uint32_t *posh) {
    const uint32_t s = host->partdef ? host->partdef->ptshift : 32;
    const int32_t raw = s >= 32 ? 0 : int32_t(*posh >> s);
    *posh &= ~high_mask(s);
    return raw;
}

int zvunfoldpartno(FCB *host, uint32_t *hi, int *partno, int log) {
    auto fail = [&](int code, int loc) {
        if (log) {
            char line[200];
            snprintf(line, sizeof line, "PCRP_ERR: zvunfoldpartno(), file %.128s loc %d", host->name, loc);
            zvrcvlog(line, kLogSingleTry);
        }
        return code;
    };
    if (partno) *partno = -1;
    if (host->kind == kKindIndex) return fail(-1, 1);
    PARTDEF *pd = host->partdef;
    const int32_t raw = zvunfoldpart(host, hi);
    if (partno) *partno = raw;
    if (raw == 0) return fail(-3, 2);
    const int64_t at = int64_t(raw) - (pd ? pd->ptbase : 0);
    if (!pd || !pd->ptmbr || at < 0 || at >= pd->ptcur) {
        if (log) {
            fail(-1, 3);
            char line[200];
            snprintf(line, sizeof line, "PCRP_ERR: subno=%d dnum->ptcur=%d dnum->ptmbr=%p", int(at),
                     pd ? int(pd->ptcur) : 0, pd ? static_cast<void *>(pd->ptmbr) : nullptr);
            zvrcvlog(line, kLogSingleTry);
        }
        return -1;
    }
    PARTMBR &m = pd->ptmbr[at];
    if (m.state == kMbrOpen) return m.filno;
    // A member the host has not opened yet is opened now.
    int n = pfilno(host->filno, raw, false);
    return n >= 0 ? n : fail(n, 0);
}

void setrawnolmt(PARTDEF *pd) {
    for (int32_t i = 0; pd->ptmbr && i < pd->ptcur; i++) {
        const int32_t s = pd->ptmbr[i].state;
        if (s != kMbrClosed && s != kMbrOpen) continue;
        const int32_t raw = pd->ptbase + i;
        if (pd->ptlow == -1 || pd->ptlow > raw) pd->ptlow = raw;
        if (pd->pthigh < raw) pd->pthigh = raw;
    }
}

PARTMBR *member_entry(PARTDEF *pd, int32_t raw) {
    const int64_t at = int64_t(raw) - pd->ptbase;
    return pd->ptmbr && at >= 0 && at < pd->ptcur ? &pd->ptmbr[at] : nullptr;
}

int hostpartno(FCB *host, int32_t *rawout, int hostno, int32_t raw) {
    PARTDEF *pd = host ? host->partdef : nullptr;
    if (raw == -1 && pd) raw = pd->ptraw;
    if (rawout) *rawout = raw;
    if (!pd || !pd->ptmbr) return set_uerr(722), -1;
    return pfilno(hostno, raw, false);
}

int relative_index(int datno, int k) {
    if (k < 0 || k >= kMapIndexes) return -1;
    for (int slot = 0; slot <= k; slot++) {
        int ix = isam_map_index(datno, slot);
        if (ix == -1) return -1;
        if (slot == k) return ix < 0 ? -1 : ix;
    }
    return -1;
}

int host_index_slot(int hostno, int ixno) {
    for (int slot = 0; slot < kMapIndexes; slot++) {
        int ix = isam_map_index(hostno, slot);
        if (ix == -1) return -1;
        if (ix == ixno) return slot;
    }
    return -1;
}

// ---- Day numbers --------------------------------------------------------------------

int32_t zvGetDaysSinceEpoch(int32_t year, int32_t month, int32_t day) {
    month %= 100;
    day %= 100;
    const int32_t a = (14 - month) / 12;
    const int32_t y = year + 4800 - a;
    const int32_t m = month + 12 * a - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 2472633;
}

void zvGetYMDFromDaysSinceEpoch(int32_t days, int32_t *year, int32_t *month, int32_t *day) {
    const int64_t a = int64_t(days) + 2472632;
    const int64_t b = (4 * a + 3) / 146097;
    const int64_t c = a - 146097 * b / 4;
    const int64_t d = (4 * c + 3) / 1461;
    const int64_t e = c - 1461 * d / 4;
    const int64_t m = (5 * e + 2) / 153;
    *day = int32_t(e - (153 * m + 2) / 5 + 1);
    *month = int32_t(m + 3 - 12 * (m / 10));
    *year = int32_t(100 * b + d - 4800 + m / 10);
}

// ---- What the file layer and contexts ask -----------------------------------------

int partition_active(FCB *host, int mode, int32_t *out) {
    PARTDEF *pd = host->partdef;
    if (!pd || !pd->ptmbr) return 715;
    auto active = [pd](int32_t i) {
        return pd->ptmbr[i].state == kMbrClosed || pd->ptmbr[i].state == kMbrOpen;
    };
    if (mode == 38 || mode == 39) {
        int32_t &cached = mode == 38 ? pd->ptlow : pd->pthigh;
        if (cached == -1) {
            for (int32_t k = 0; k < pd->ptcur; k++) {
                int32_t i = mode == 38 ? k : pd->ptcur - 1 - k;
                if (active(i)) {
                    cached = pd->ptbase + i;
                    break;
                }
            }
        }
        if (cached == -1) return 715;
        *out = cached;
        return 0;
    }
    int32_t count = 0;
    pd->ptlow = pd->pthigh = -1;
    for (int32_t i = 0; i < pd->ptcur; i++) {
        if (!active(i)) continue;
        count++;
        if (pd->ptlow == -1) pd->ptlow = pd->ptbase + i;
        pd->pthigh = pd->ptbase + i;
    }
    *out = count;
    return 0;
}

int partition_refusal(FCB *host) {
    PARTDEF *pd = host->partdef;
    int code = 0;
    for (int32_t i = 0; pd && pd->ptmbr && i < pd->ptcur && !code; i++) {
        const PARTMBR &m = pd->ptmbr[i];
        if (m.state == kMbrArchived) code = 721;
        else if (m.state == kMbrPurged || m.stamp > 0) code = 720;
    }
    if (host->hdr.ext.crew14 > 0) code = 720;
    return code;
}

void partition_state_get(const FCB *f, PartState *out) {
    *out = PartState{};
    if (const PARTDEF *pd = f->partdef) {
        out->member[0] = pd->ptraw;
        out->member[1] = pd->ptrawsav;
    }
}

void partition_state_set(FCB *f, const PartState *in) {
    if (PARTDEF *pd = f->partdef) {
        pd->ptraw = in->member[0];
        pd->ptrawsav = in->member[1];
        pd->ptsrchix = -1;
    }
}

int32_t partition_lowest_raw(const FCB *host) {
    const PARTDEF *pd = host->partdef;
    return pd && pd->ptmbr ? pd->ptbase : INT32_MAX;
}

}  // namespace zv
