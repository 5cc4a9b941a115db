// Segmented data files: one logical data file spread over several system
// files. The file itself is segment 0; segment i >= 1 holds the logical
// bytes from limit(i-1) on, behind a segment header of H bytes that ties it
// to its file.
//
// Segment header (the first H bytes of a segment file; integers
// little-endian; the rest of the area is 0xFF):
//   OFFSET SIZE FIELD
//     0    8   "QV!SEGM" and a NUL
//    32    4   file id                    (copied from the file's header)
//    36    4   server id
//    40    2   configuration version
//    42    2   node size field
//    64    2   file type
//    88    4   creation time
//    92    2   superfile type
//   100    4   header flags 2
//   124    4   the segment's stamp (its creation time)
//   180    4   end limit, high word
//   184    4   end limit, low word
//   196    4   H
//   204    4   segment number
//   256        the segment's own name, NUL, then the file's name, NUL
//              (at 512 when header flags 2 has 0x100)
//
// Automatic segments are named after the file ("%s.%03d") and have one
// size; named segments come from the definition resource "QV!SEGM" (type
// 0, number 7): six words, then per segment its name and its size in
// megabytes as text, each NUL-terminated, ended by an empty name.
//
// Invariants of an open segmented file:
//  1. segs has one entry per defined segment; entries below the present
//     count hold an open descriptor (segment 0: the file's own).
//  2. Limits are cumulative and rising; only the last may be 0 (none).
//  3. Mapping an offset inside the segments present walks the array only:
//     no allocation and no system call.
#include "engine/core/bytes.h"
#include "engine/files/segments.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/fileops.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "zarvo/zarvo.h"

// Stored integers of areas, resources and segment headers are little-endian.
using namespace zv::le;

namespace zv {

namespace {

constexpr uint64_t kMB = 1048576;
constexpr uint32_t kFlmode2Auto = 0x00200000;
constexpr uint32_t kFlmode2Seg = 0x08;
constexpr int kLog683 = kLogSingleTry - 683;
constexpr int32_t kDefWords = 6;          // words of the resource body before the text
constexpr int32_t kDefHead = 16;          // type, number, "QV!SEGM" and its NUL
constexpr uint32_t kDefAuto = 1, kDefNamed = 2;
// Most segments a definition may name (the definition resource holds at
// most 8170 bytes).
constexpr int32_t kMaxSegments = 4096;

bool automatic(const FCB *f) { return (f->hdr.ext.flmode2 & kFlmode2Auto) != 0; }
uint32_t hsize(const FCB *f) { return f->hdr.ext.segdefsiz; }
uint32_t present(const FCB *f) { return f->hdr.ext.segmented ? f->hdr.ext.segmented : 1; }
uint64_t auto_size(const FCB *f) { return join64(f->hdr.ext.segsizh, f->hdr.ext.segsizl); }
uint16_t seg_mode(const FCB *f) { return uint16_t((f->opnmode & ~kOpnNoConvert) | kOpnPermanent); }

// Segment header size for the instance: the smallest multiple of the node
// unit (sectors x 128) that is at least 1024.
uint32_t header_area() {
    uint32_t unit = zvWNGV && zvWNGV->sectors > 0 ? uint32_t(zvWNGV->sectors) * 128 : 128;
    return (1024 + unit - 1) / unit * unit;
}


void log683(const char *msg) { zvrcvlog(msg, kLog683); }

// Limits of automatic segments: every segment has the file's segment size.
void auto_limits(FCB *f) {
    uint64_t size = auto_size(f), h = hsize(f);
    uint64_t lim = 0;
    for (int32_t i = 0; i < f->nsegalloc; i++) {
        lim = i == 0 ? size : lim + size - h;
        f->segs[i].limit = lim;
    }
    f->seglimitset = 0;
}

int auto_names(FCB *f, const char *base) {
    for (int32_t i = 0; i < f->nsegalloc; i++) {
        if (i == 0) {
            snprintf(f->segs[0].name, sizeof f->segs[0].name, "%s", base);
        } else if (int rc = zvatosegmdef(base, i, f->segs[i].name)) {
            return rc;
        }
    }
    return 0;
}

// Limit from the sizes of a named list: size 0 means none (last only).
void named_limit(FCB *f, int32_t i, uint64_t size) {
    uint64_t prev = i ? f->segs[i - 1].limit : 0;
    f->segs[i].limit = size == 0 ? 0 : (i == 0 ? size : prev + size - hsize(f));
}

void close_fd(FCB *f, int32_t i) {
    if (i > 0 && f->segs[i].fd >= 0) {
        mbclosm(seg_mode(f), f->segs[i].fd);
        f->segs[i].fd = -1;
    }
}

// Header image of segment i into buf (H bytes).
void build_header(const FCB *f, int32_t i, unsigned char *buf) {
    const FILEHDR &b = f->hdr.base;
    uint32_t h = hsize(f);
    memset(buf, 0xFF, h);
    memcpy(buf, "QV!SEGM", 8);
    put32(buf + 32, b.fileid);
    put32(buf + 36, b.servid);
    put16(buf + 40, b.verson);
    put16(buf + 42, b.nodsiz);
    put16(buf + 64, b.clstyp);
    put32(buf + 88, b.cretime);
    put16(buf + 92, b.sfiltyp);
    put32(buf + 100, b.hdrflags2);
    put32(buf + 124, f->segs[i].stamp);
    put32(buf + 180, uint32_t(f->segs[i].limit >> 32));
    put32(buf + 184, uint32_t(f->segs[i].limit));
    put32(buf + 196, h);
    put32(buf + 204, uint32_t(i));
    uint32_t at = (b.hdrflags2 & kHdr2Ext384) ? 512 : 256;
    const char *names[2] = {f->segs[i].name, f->name};
    for (const char *n : names) {
        size_t len = strlen(n) + 1;
        if (at + len > h) break;
        memcpy(buf + at, n, len);
        at += uint32_t(len);
    }
}

// Whether the header in buf belongs to this file as segment i.
bool header_matches(const FCB *f, int32_t i, const unsigned char *buf) {
    const FILEHDR &b = f->hdr.base;
    if (memcmp(buf, "QV!SEGM", 8) != 0) return false;
    if (get32(buf + 204) != uint32_t(i) || get32(buf + 196) != hsize(f)) return false;
    bool skip_id = (b.flmode & kOpnReadOnly) && get32(buf + 32) == 0 && b.fileid != 0;
    if (!skip_id && (get32(buf + 32) != b.fileid || get32(buf + 36) != b.servid || get32(buf + 88) != b.cretime))
        return false;
    return get16(buf + 40) == b.verson && get16(buf + 42) == b.nodsiz && get16(buf + 64) == b.clstyp &&
           get16(buf + 92) == b.sfiltyp;
}

// Reads H bytes at offset 0 of an open descriptor: bytes read, -1 on error.
int64_t read_head(int fd, unsigned char *buf, uint32_t h) {
    if (zvseek81(fd, 0, 0)) return -1;
    int64_t got = 0;
    while (uint32_t(got) < h) {
        int64_t n = plat_read(fd, buf + got, h - uint32_t(got));
        if (n < 0) return -1;
        if (n == 0) break;
        got += n;
    }
    return got;
}

// What to do with an existing file in the way of a new segment.
enum class Stray { Rename, Refuse, Delete, Overwrite };

Stray policy_for(bool matching) {
    int p = zvWNGV->segpolicy[matching ? 0 : 1];
    if (p == 1) return Stray::Rename;
    if (p == 2) return Stray::Refuse;
    if (p == 3) return Stray::Delete;
    return matching ? Stray::Overwrite : Stray::Refuse;
}

int refuse(FCB *f, bool matching, const char *name) {
    if (!f->segrefused) {
        log683(matching ? "Could not create new segment: unexpected matching segment..."
                        : "Could not create new segment: unexpected nonmatching segment...");
        log683(name);
        f->segrefused = 1;
    }
    return set_uerr(683);
}

// The text of a definition: per segment name NUL size NUL, an empty name
// at the end. Walks it into the arrays from segment `from`.
int parse_list(FCB *f, const char *text, int32_t len, int32_t from, int32_t count) {
    const char *at = text, *end = text + len;
    int32_t i = from;
    while (at < end && *at && i < count) {
        if (!memchr(at, 0, size_t(end - at))) return 408;
        const char *size = zvnamsegmdef(f, at, i);
        if (size >= end || !memchr(size, 0, size_t(end - size))) return 408;
        at = zvsizsegmdef(f, size, i);
        i++;
    }
    return i == count ? 0 : 408;
}

// Reads the named definition of an open file into its arrays.
int read_definition(FCB *f, int filno) {
    INSTGV *g = zvWNGV;
    if (f->hdr.ext.spare2[0] == 0 && f->hdr.ext.spare2[1] == 0) return 408;
    int32_t cap = kDefHead + kDefWords * 4 + 8192;
    auto *body = static_cast<unsigned char *>(zvgetmem(cap));
    if (!body) return 82;
    unsigned char key[16] = {};
    uint32_t kw[2] = {0, 7};
    memcpy(key, kw, sizeof kw);
    memcpy(key + 8, kSegResName, 8);
    uint16_t keep = g->uerr_cod;
    GETRES(filno, key, body, cap, 2);
    int rc = g->uerr_cod;
    g->uerr_cod = keep;
    if (rc && rc != 404) {
        zvputmem(body);
        return 408;
    }
    uint32_t words[kDefWords];
    memcpy(words, body + kDefHead, sizeof words);
    int32_t count = int32_t(f->hdr.ext.nsegs ? f->hdr.ext.nsegs : 1);
    if (memcmp(body + 8, kSegResName, 8) != 0 || words[0] != kDefNamed || int32_t(words[1]) != count) {
        zvputmem(body);
        return 408;
    }
    int32_t textlen = int32_t(words[5]);
    const char *text = reinterpret_cast<const char *>(body + kDefHead + kDefWords * 4);
    if (textlen < 0 || textlen > cap - kDefHead - kDefWords * 4) textlen = 0;
    if ((rc = zvalcsegmdef(f, count)) == 0) {
        // A list that begins with an empty name gives segment 0's size.
        int32_t from = 1;
        snprintf(f->segs[0].name, sizeof f->segs[0].name, "%s", f->name);
        f->segs[0].limit = 0;
        if (textlen > 1 && text[0] == '\0') {
            named_limit(f, 0, uint64_t(strtoull(text + 1, nullptr, 10)) * kMB);
            size_t skip = 2 + strnlen(text + 1, size_t(textlen - 1));
            text += skip;
            textlen -= int32_t(skip);
        }
        rc = count > 1 ? parse_list(f, text, textlen, from, count) : 0;
        if (rc) zvfresegmdef(f, 0);
    }
    zvputmem(body);
    return rc;
}

// Stores the definition resource of an open file (the current arrays).
int store_definition(FCB *f, int filno) {
    int32_t textcap = 8192;
    int32_t cap = kDefHead + kDefWords * 4 + textcap;
    auto *body = static_cast<unsigned char *>(zvgetmem(cap));
    if (!body) return 82;
    uint32_t key[2] = {0, 7};
    memcpy(body, key, sizeof key);
    memcpy(body + 8, kSegResName, 8);
    char *text = reinterpret_cast<char *>(body + kDefHead + kDefWords * 4);
    int32_t len = 0;
    if (!automatic(f)) {
        auto add = [&](const char *s) {
            int32_t n = int32_t(strlen(s)) + 1;
            if (len + n < textcap) memcpy(text + len, s, size_t(n));
            len += n;
        };
        char num[24];
        uint64_t prev = 0;
        for (int32_t i = 0; i < f->nsegalloc; i++) {
            uint64_t lim = f->segs[i].limit;
            uint64_t size = lim == 0 ? 0 : (i == 0 ? lim : lim - prev + hsize(f));
            prev = lim;
            snprintf(num, sizeof num, "%llu", static_cast<unsigned long long>(size / kMB));
            add(i == 0 ? "" : f->segs[i].name);
            add(num);
        }
        add("");
        if (len >= textcap) {
            zvputmem(body);
            return 686;
        }
    }
    uint32_t words[kDefWords] = {automatic(f) ? kDefAuto : kDefNamed, uint32_t(f->nsegalloc), present(f),
                                 uint32_t(auto_size(f) / kMB), f->hdr.ext.nsegs, uint32_t(len)};
    memcpy(body + kDefHead, words, sizeof words);
    int32_t total = kDefHead + kDefWords * 4 + len;
    INSTGV *g = zvWNGV;
    uint16_t keep = g->uerr_cod;
    uint32_t lo = GETRES(filno, body, nullptr, 0, 2 | 64);
    uint32_t hi = uint32_t(zvGETHGHi());
    int rc;
    if (lo || hi) {
        rc = UPDRES(filno, body, total);
    } else {
        rc = ADDRES(filno, body, total);
        if (rc == 0) {
            lo = GETRES(filno, body, nullptr, 0, 2 | 64);
            hi = uint32_t(zvGETHGHi());
        }
    }
    zvputmem(body);
    if (rc) return rc;
    f->hdr.ext.spare2[0] = hi;
    f->hdr.ext.spare2[1] = lo;
    g->uerr_cod = keep;
    return 0;
}

}  // namespace

int zvalcsegmdef(FCB *f, int32_t n) {
    if (n <= 0) terr(8960);
    auto *s = static_cast<SegEntry *>(zvgetmem(int32_t(size_t(n) * sizeof(SegEntry))));
    if (!s) return 82;
    for (int32_t i = 0; i < n; i++) s[i].fd = -1;
    f->segs = s;
    f->nsegalloc = n;
    return 0;
}

int zvrlcsegmdef(FCB *f, int32_t n) {
    if (n <= 0) terr(8893);
    auto *s = static_cast<SegEntry *>(zvgetmem(int32_t(size_t(n) * sizeof(SegEntry))));
    if (!s) {
        log683("Could not reallocate segment arrays");
        return 10;
    }
    for (int32_t i = 0; i < n; i++) s[i].fd = -1;
    int32_t keep = n < f->nsegalloc ? n : f->nsegalloc;
    if (f->segs) memcpy(s, f->segs, size_t(keep) * sizeof(SegEntry));
    zvputmem(f->segs);
    f->segs = s;
    f->nsegalloc = n;
    return 0;
}

int zvfresegmdef(FCB *f, int code) {
    zvputmem(f->segs);
    f->segs = nullptr;
    f->nsegalloc = 0;
    f->seglimitset = 0;
    return code;
}

const char *zvsizsegmdef(FCB *f, const char *text, int i) {
    named_limit(f, i, uint64_t(strtoull(text, nullptr, 10)) * kMB);
    return text + strlen(text) + 1;
}

const char *zvnamsegmdef(FCB *f, const char *text, int i) {
    snprintf(f->segs[i].name, sizeof f->segs[i].name, "%s", text);
    return text + strlen(text) + 1;
}

namespace {

// An entry of the instance's segment list: the file's unique id and an id.
struct SegListEntry {
    uint32_t file[3];
    int32_t id;
};

}  // namespace

int addseglst(FCB *f, int32_t id) {
    INSTGV *g = zvWNGV;
    if (!g || !f) return set_uerr(540);
    int i = zvdallc(&g->capseglist, &g->nseglist, &g->seglist, int(sizeof(SegListEntry)), 8);
    if (i < 0) return set_uerr(82);
    SegListEntry &e = static_cast<SegListEntry *>(g->seglist)[i];
    zvmakid(e.file, f);
    e.id = id;
    return 0;
}

int chkseglst(FCB *f, int32_t id) {
    INSTGV *g = zvWNGV;
    if (!g || !f) return 0;
    auto *list = static_cast<SegListEntry *>(g->seglist);
    for (int32_t i = 0; i < g->nseglist; i++) {
        if (list[i].id < 0 && zvfmatch(f, list[i].file)) {
            list[i].id = id;
            return 1;
        }
    }
    return 0;
}

void clnseglst(INSTGV *g) {
    if (!g) return;
    mbfree(g->seglist);
    g->seglist = nullptr;
    g->nseglist = g->capseglist = 0;
}

int zvatosegmdef(const char *name, int i, char (&out)[256]) {
    if (!name || strlen(name) > 250 || i < 0 || i > 9999) return set_uerr(418);
    snprintf(out, sizeof out, "%.250s.%03d", name, i);
    return 0;
}

int physical_name(const char *name, uint32_t i, char (&out)[256]) {
    if (i == 0) {
        snprintf(out, sizeof out, "%s", name);
        return 0;
    }
    return zvatosegmdef(name, int(i), out);
}

uint32_t physical_files(const FCB *f) {
    if (!f->segs || !automatic(f)) return 1;
    return f->segsatopen > 1 ? f->segsatopen : 1;
}

int zvsegfd(FCB *f, int i) {
    if (!f || !f->segs || i < 0 || i >= f->nsegalloc) return -1;
    return i == 0 ? f->fd : f->segs[i].fd;
}

int zvdecsegmdef(int write, FCB *f, uint64_t off, uint64_t *segoff, uint32_t *size, int *segment, int *code) {
    *code = 0;
    if (!f->segs) {
        *segoff = off;
        *segment = 0;
        return f->fd;
    }
    for (;;) {
        int32_t p = int32_t(present(f));
        if (p > f->nsegalloc) p = f->nsegalloc;
        uint64_t base = 0;
        for (int32_t i = 0; i < p; i++) {
            uint64_t lim = f->segs[i].limit;
            if (lim == 0 || off < lim) {
                *segoff = i == 0 ? off : off - base + hsize(f);
                if (lim && off + *size > lim) {
                    uint64_t cut = lim - off;
                    if (cut >> 32) terr(8961);
                    *size = uint32_t(cut);
                }
                *segment = i;
                return i == 0 ? f->fd : f->segs[i].fd;
            }
            base = lim;
        }
        if (p >= f->nsegalloc || p >= int32_t(f->hdr.ext.nsegs)) {
            *code = 674;
            return -1;
        }
        // A read past the segments present is the end of the file.
        if (!write) return -2;
        if (int rc = zvnxtsegmdef(f, 0, p)) {
            *code = rc;
            return -1;
        }
    }
}

int zvhdrsegmdef(FCB *f, int i, int how, int create, uint16_t openmode) {
    if (!f->segs || i <= 0 || i >= f->nsegalloc || f->segs[i].fd < 0) return set_uerr(681);
    uint32_t h = hsize(f);
    auto *buf = static_cast<unsigned char *>(zvgetmem(int32_t(h)));
    if (!buf) return set_uerr(82);
    int rc = 0;
    if (how == 0) {
        int64_t got = read_head(f->segs[i].fd, buf, h);
        if (got == 0 && create) {
            how = 1;
        } else if (got < int64_t(h) || !header_matches(f, i, buf)) {
            rc = 681;
        } else {
            f->segs[i].stamp = get32(buf + 124);
        }
    }
    if (how == 1) {
        build_header(f, i, buf);
        uint32_t moved = 0;
        rc = zvsysio81(0x100 | 1, f, 0, uint32_t(i), 0, buf, h, &moved) ? 681 : 0;
        // The segment is opened anew under the file's open mode.
        if (rc == 0) {
            close_fd(f, i);
            int fd = mbopen(f, f->segs[i].name, uint16_t(openmode | kOpnPermanent));
            if (fd < 0) rc = 681;
            else f->segs[i].fd = fd;
        }
    }
    zvputmem(buf);
    return rc ? set_uerr(rc) : 0;
}

int zvnxtsegmdef(FCB *f, int setseg, int i) {
    INSTGV *g = zvWNGV;
    if (!f->segs || i <= 0 || i >= f->nsegalloc || !f->segs[i].name[0]) {
        log683(setseg ? "SETSEG: could not create segment" : "NXTSEG: could not create segment");
        return set_uerr(683);
    }
    SegEntry &s = f->segs[i];
    uint16_t mode = seg_mode(f);
    for (int attempt = 0; attempt < 4; attempt++) {
        int fd = mbcratm(mode, s.name);
        if (fd >= 0) {
            s.fd = fd;
            s.stamp = uint32_t(time(nullptr));
            if (int rc = zvhdrsegmdef(f, i, 1, 1, mode)) {
                close_fd(f, i);
                dltfilx(s.name, 0, 0);
                return set_uerr(rc);
            }
            if (present(f) < uint32_t(i + 1)) f->hdr.ext.segmented = uint32_t(i + 1);
            return 0;
        }
        if (g->uerr_cod != 19) {
            log683(setseg ? "SETSEG: could not create segment" : "NXTSEG: could not create segment");
            return set_uerr(683);
        }
        // A file is in the way: is it a segment of this file? What stands
        // there is found, not made: a link or anything but a regular file
        // is no segment and does not hold up the look.
        bool matching = false;
        int efd;
        {
            FoundNames stray;
            efd = mbopen(nullptr, s.name, uint16_t(mode | kOpnReadOnly));
        }
        if (efd >= 0) {
            uint32_t h = hsize(f);
            auto *buf = static_cast<unsigned char *>(zvgetmem(int32_t(h)));
            matching = buf && read_head(efd, buf, h) == int64_t(h) && header_matches(f, i, buf);
            zvputmem(buf);
            mbclosm(uint16_t(mode | kOpnReadOnly), efd);
        }
        Stray what = policy_for(matching);
        const char *kind = matching ? "matching" : "nonmatching";
        char msg[320];
        if (what == Stray::Rename) {
            char aside[300];
            snprintf(aside, sizeof aside, "%s.%08x", s.name, unsigned(time(nullptr)));
            if (strlen(aside) <= 255 && renfilx(s.name, aside, 0, 0) == 0) {
                snprintf(msg, sizeof msg, "Renamed unexpected, %s segment...", kind);
                log683(msg);
                log683(aside);
                continue;
            }
            snprintf(msg, sizeof msg, "Could not rename unexpected, %s segment", kind);
            zvrcvlog(msg, kLogSingleTry - int(g->sysiocod));
            what = matching ? Stray::Overwrite : Stray::Refuse;
        } else if (what == Stray::Delete) {
            if (dltfilx(s.name, 0, 0) == 0) {
                snprintf(msg, sizeof msg, "Deleted unexpected, %s segment...", kind);
                log683(msg);
                log683(s.name);
                continue;
            }
            snprintf(msg, sizeof msg, "Could not delete unexpected, %s segment", kind);
            zvrcvlog(msg, kLogSingleTry - int(g->sysiocod));
            what = matching ? Stray::Overwrite : Stray::Refuse;
        }
        if (what == Stray::Refuse) return refuse(f, matching, s.name);
        // Overwrite: the matching file is taken over as segment i.
        log683("Overwrote unexpected, matching segment...");
        log683(s.name);
        int tfd;
        {
            FoundNames stray;
            tfd = mbopen(nullptr, s.name, mode);
        }
        if (tfd < 0) return refuse(f, matching, s.name);
        s.fd = tfd;
        s.stamp = uint32_t(time(nullptr));
        if (int rc = zvhdrsegmdef(f, i, 1, 1, mode)) {
            close_fd(f, i);
            return set_uerr(rc);
        }
        if (present(f) < uint32_t(i + 1)) f->hdr.ext.segmented = uint32_t(i + 1);
        return 0;
    }
    return refuse(f, true, s.name);
}

int zvopnsegmdef(FCB *f, int filno, uint16_t openmode) {
    if (!f) return set_uerr(540);
    if (f->segs) zvfresegmdef(f, 0);
    uint32_t defined = f->hdr.ext.nsegs ? f->hdr.ext.nsegs : 1;
    uint32_t p = present(f);
    if (hsize(f) < 1024 || p > defined || defined > uint32_t(kMaxSegments)) return set_uerr(681);
    int rc;
    if (automatic(f)) {
        if ((rc = zvalcsegmdef(f, int32_t(defined)))) return set_uerr(rc);
        if ((rc = auto_names(f, f->name))) return set_uerr(zvfresegmdef(f, rc));
        auto_limits(f);
    } else if ((rc = read_definition(f, filno))) {
        return set_uerr(rc);
    }
    uint16_t mode = uint16_t((openmode & ~kOpnNoConvert) | kOpnPermanent);
    for (uint32_t i = 1; i < p; i++) {
        int fd = mbopen(f, f->segs[i].name, mode);
        if (fd < 0) {
            zvclssegmdef(f, 1, 1, 0);
            return set_uerr(676);
        }
        f->segs[i].fd = fd;
        if ((rc = zvhdrsegmdef(f, int(i), 0, 0, mode))) {
            zvclssegmdef(f, 1, 1, 0);
            return set_uerr(rc);
        }
    }
    f->segsatopen = p;
    set_highest_written(f);
    return 0;
}

int zvclssegmdef(FCB *f, int keep, int freeit, int limit) {
    if (!f || !f->segs) return 0;
    uint32_t p = present(f);
    for (int32_t i = 1; i < f->nsegalloc; i++) {
        close_fd(f, i);
        if (!keep && uint32_t(i) < p && (limit <= 0 || i < limit)) dltfilx(f->segs[i].name, 0, 0);
    }
    if (freeit) zvfresegmdef(f, 0);
    return 0;
}

int zvputsegmdef(FCB *f) {
    if (!f || !f->segs) return 0;
    int first = 0;
    uint16_t mode = seg_mode(f);
    for (uint32_t i = 1; i < present(f) && int32_t(i) < f->nsegalloc; i++) {
        int rc = zvhdrsegmdef(f, int(i), 1, 0, mode);
        if (rc && !first) first = rc;
    }
    return first;
}

int segmented_create(FCB *f, uint32_t sizemb, uint32_t nsegs) {
    FILEHDRX &x = f->hdr.ext;
    x.segsizh = uint32_t((uint64_t(sizemb) * kMB) >> 32);
    x.segsizl = uint32_t(uint64_t(sizemb) * kMB);
    x.nsegs = nsegs ? nsegs : 1;
    x.segmented = 1;
    if (!x.segdefsiz) x.segdefsiz = header_area();
    x.flmode2 |= kFlmode2Seg;
    f->hdr.base.hdrflags |= kHdrSegmented;
    if (!automatic(f)) {
        // A named file without a list: segment 0 alone, without a limit.
        if (int rc = zvalcsegmdef(f, 1)) return rc;
        snprintf(f->segs[0].name, sizeof f->segs[0].name, "%s", f->name);
        f->segs[0].limit = 0;
        x.nsegs = 1;
        return 0;
    }
    if (auto_size(f) <= x.segdefsiz) return 749;
    if (int rc = zvalcsegmdef(f, int32_t(x.nsegs))) return rc;
    if (int rc = auto_names(f, f->name)) return zvfresegmdef(f, rc);
    auto_limits(f);
    f->segsatopen = 1;
    return 0;
}

int zvsetmges(FCB *f, int filno) {
    if (!f->segs || automatic(f) || f->hdr.base.sfiltyp == kSfMember) return 0;
    return store_definition(f, filno);
}

uint64_t zvseglimit(FCB *f) {
    if (!f || !f->segs || f->nsegalloc < 1) return 0;
    uint64_t lim = f->segs[f->nsegalloc - 1].limit;
    if (lim == 0) return 0;
    uint64_t page = zvWNGV && zvWNGV->nodesize > 0 ? uint64_t(zvWNGV->nodesize) : 1;
    if (lim < page) terr(8929);
    return lim / page * page;
}

bool segmented_size(FCB *f, uint64_t *size) {
    uint32_t hi = 0;
    uint32_t lo = zvfsize81(&hi, f, f->fd);
    if (hi == 0xFFFFFFFFu && lo == 0xFFFFFFFFu) return false;
    uint64_t total = join64(hi, lo);
    uint32_t p = present(f);
    for (uint32_t i = 1; i < p && int32_t(i) < f->nsegalloc; i++) {
        int fd = f->segs[i].fd;
        if (fd < 0) return false;
        lo = zvfsize81(&hi, nullptr, fd);
        if (hi == 0xFFFFFFFFu && lo == 0xFFFFFFFFu) return false;
        uint64_t s = join64(hi, lo);
        if (s < hsize(f)) return false;
        total += s - hsize(f);
    }
    *size = total;
    return true;
}

int sync_segments(FCB *f, uint32_t *count) {
    *count = 0;
    uint32_t p = present(f);
    for (uint32_t i = 1; i < p && int32_t(i) < f->nsegalloc; i++) {
        if (f->segs[i].fd < 0) continue;
        (*count)++;
        if (zvfdatasync(f->segs[i].fd) != 0) return errno ? errno : EIO;
    }
    return 0;
}

int zvrensegmdef(FCB *f, const char *newname) {
    if (!f || !f->segs || !automatic(f)) return 0;
    int32_t p = int32_t(present(f));
    char (*old)[256] = static_cast<char (*)[256]>(zvgetmem(int32_t(size_t(f->nsegalloc) * 256)));
    if (!old) return set_uerr(82);
    for (int32_t i = 0; i < f->nsegalloc; i++) memcpy(old[i], f->segs[i].name, 256);
    int rc = 0;
    int32_t done = 1;
    for (int32_t i = 1; i < p && !rc; i++) {
        char to[256];
        if ((rc = zvatosegmdef(newname, i, to))) break;
        if ((rc = renfilx(old[i], to, 0, 0))) break;
        memcpy(f->segs[i].name, to, 256);
        done = i + 1;
    }
    if (!rc) {
        // The headers carry both names: the segment's and the file's.
        char keepname[256];
        memcpy(keepname, f->name, 256);
        snprintf(f->name, sizeof f->name, "%s", newname);
        snprintf(f->segs[0].name, sizeof f->segs[0].name, "%s", newname);
        for (int32_t i = p; i < f->nsegalloc; i++) zvatosegmdef(newname, i, f->segs[i].name);
        rc = zvputsegmdef(f);
        memcpy(f->name, keepname, 256);
        if (rc) done = p;
    }
    if (rc) {
        for (int32_t i = 1; i < done; i++) renfilx(f->segs[i].name, old[i], 0, 0);
        for (int32_t i = 0; i < f->nsegalloc; i++) memcpy(f->segs[i].name, old[i], 256);
        zvputsegmdef(f);
    }
    zvputmem(old);
    return rc ? set_uerr(rc) : 0;
}

// ---- Definition changes ------------------------------------------------------

namespace {

void refuse_change(const char *msg) { log683(msg); }

// Inside a transaction the definitions of a file change under one
// savepoint only: the savepoint of its first change is kept on the file
// until the transaction ends.
bool other_savepoint(const INSTGV *g, const FCB *f) {
    return g->tranactive && f->segsavept && f->segsavept != int32_t(int16_t(g->savepoints)) + 1;
}

// Everything a change may have to put back.
struct Saved {
    FILEHDRALL hdr;
    SegEntry *segs;
    int32_t nsegalloc;
};

int apply_auto_change(FCB *f, int filno, const ZVSEGDEF *d) {
    uint64_t newsize = uint64_t(d->sizemb) * kMB;
    uint32_t newmax = uint32_t(d->count);
    if (newmax < present(f)) {
        refuse_change("SETSEG: cannot reduce segmax below existing usage");
        return 683;
    }
    if (newsize != auto_size(f)) {
        if (present(f) > 1) {
            refuse_change("SETSEG: cannot resize completed segments");
            return 683;
        }
        uint64_t cur = join64(f->hdr.ext.numrech, f->hdr.base.numrec) + 1;
        if (newsize < auto_size(f) && newsize < cur) {
            refuse_change("SETSEG: cannot resize segment below existing usage");
            return 683;
        }
    }
    if (newsize <= hsize(f)) return 446;
    if (int rc = zvrlcsegmdef(f, int32_t(newmax))) return rc;
    f->hdr.ext.segsizh = uint32_t(newsize >> 32);
    f->hdr.ext.segsizl = uint32_t(newsize);
    f->hdr.ext.nsegs = newmax;
    if (int rc = auto_names(f, f->name)) return rc;
    auto_limits(f);
    (void)filno;
    return 0;
}

int make_auto(FCB *f, const ZVSEGDEF *d) {
    FILEHDRX &x = f->hdr.ext;
    uint64_t size = uint64_t(d->sizemb) * kMB;
    if (!x.segdefsiz) x.segdefsiz = header_area();
    uint64_t cur = join64(x.numrech, f->hdr.base.numrec) + 1;
    if (size <= x.segdefsiz || size < cur) {
        refuse_change("SETSEG: cannot resize segment below existing usage");
        return 683;
    }
    x.flmode2 |= kFlmode2Auto | kFlmode2Seg;
    f->hdr.base.hdrflags |= kHdrSegmented;
    x.segsizh = uint32_t(size >> 32);
    x.segsizl = uint32_t(size);
    x.segmented = 1;
    x.nsegs = uint32_t(d->count);
    if (int rc = zvalcsegmdef(f, d->count)) return rc;
    if (int rc = auto_names(f, f->name)) return rc;
    auto_limits(f);
    return 0;
}

// A named list for a plain file, or a new list for a named file.
int apply_named(FCB *f, const ZVSEGDEF *d, bool was_segmented, int32_t *made_from, int32_t *made_to) {
    FILEHDRX &x = f->hdr.ext;
    if (!x.segdefsiz) x.segdefsiz = header_area();
    int32_t count = d->count;
    int32_t first = d->present < 1 ? 1 : d->present;
    if (first > count) {
        refuse_change("SETSEG: not enough active segments");
        return 683;
    }
    SegEntry *old = was_segmented ? f->segs : nullptr;
    int32_t oldn = was_segmented ? f->nsegalloc : 0;
    uint32_t oldp = was_segmented ? present(f) : 1;
    f->segs = nullptr;
    f->nsegalloc = 0;
    if (int rc = zvalcsegmdef(f, count)) {
        f->segs = old;
        f->nsegalloc = oldn;
        return rc == 82 ? (refuse_change("SETSEG: cannot allocate memory for segment definitions"), 683) : rc;
    }
    snprintf(f->segs[0].name, sizeof f->segs[0].name, "%s", f->name);
    f->segs[0].limit = 0;
    const char *text = d->text;
    int32_t len = d->textlen;
    if (len > 1 && text[0] == '\0') {
        uint64_t size0 = uint64_t(strtoull(text + 1, nullptr, 10)) * kMB;
        uint64_t cur = join64(x.numrech, f->hdr.base.numrec) + 1;
        if (size0 && size0 < cur) {
            refuse_change("SETSEG: cannot resize segment below existing usage");
            zvputmem(f->segs);
            f->segs = old;
            f->nsegalloc = oldn;
            return 683;
        }
        named_limit(f, 0, size0);
        size_t skip = 2 + strnlen(text + 1, size_t(len - 1));
        text += skip;
        len -= int32_t(skip);
    }
    int rc = count > 1 ? parse_list(f, text, len, 1, count) : 0;
    // Segments in use keep their names and descriptors.
    for (uint32_t i = 1; !rc && i < oldp; i++) {
        if (int32_t(i) >= count || strcmp(old[i].name, f->segs[i].name) != 0) {
            refuse_change("SETSEG: cannot rename segments in use");
            rc = 683;
            break;
        }
        f->segs[i].fd = old[i].fd;
        f->segs[i].stamp = old[i].stamp;
    }
    if (rc) {
        zvputmem(f->segs);
        f->segs = old;
        f->nsegalloc = oldn;
        return rc == 408 ? 446 : rc;
    }
    zvputmem(old);
    x.flmode2 |= kFlmode2Seg;
    f->hdr.base.hdrflags |= kHdrSegmented;
    x.nsegs = uint32_t(count);
    // Segments up to the present count are made at once.
    *made_from = int32_t(oldp);
    *made_to = *made_from;
    uint16_t mode = seg_mode(f);
    for (int32_t i = int32_t(oldp); i < first; i++) {
        int fd = mbcratm(mode, f->segs[i].name);
        if (fd < 0) return 680;
        f->segs[i].fd = fd;
        f->segs[i].stamp = 0;
        *made_to = i + 1;
        x.segmented = uint32_t(i + 1);
        if (zvhdrsegmdef(f, i, 1, 1, mode)) {
            refuse_change("SETSEG: could not write segment header");
            return 683;
        }
    }
    if (present(f) < uint32_t(first)) x.segmented = uint32_t(first);
    return 0;
}

int apply_definition(ZVSEGDEF *d, int filno) {
    INSTGV *g = zvWNGV;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    FILEHDR &b = f->hdr.base;
    bool segmented = (b.hdrflags & kHdrSegmented) && f->segs;
    if (!segmented && !(b.hdrflags & kHdrHasExt)) return set_uerr(454);
    if (b.sfiltyp == kSfMember) return set_uerr(48);
    if (other_savepoint(g, f)) {
        refuse_change("SETSEG: cannot call zvSETSEG in different savepoint");
        return set_uerr(683);
    }
    if (segmented && automatic(f) && !d->automatic) {
        refuse_change("SETSEG: cannot change from SEGAUTO to SEGMDEF");
        return set_uerr(683);
    }
    if (segmented && !automatic(f) && d->automatic) {
        refuse_change("SETSEG: cannot change from SEGMDEF to SEGAUTO");
        return set_uerr(683);
    }
    if (!segmented && (b.flmode & (kOpenShared | kOpnReadOnly))) return set_uerr(62);
    if (d->count < 1 || d->count > kMaxSegments || (!d->automatic && d->textlen > 0 && !d->text) ||
        d->textlen < 0)
        return set_uerr(446);

    Saved saved;
    memcpy(&saved.hdr, &f->hdr, sizeof saved.hdr);
    saved.nsegalloc = f->nsegalloc;
    saved.segs = nullptr;
    if (f->segs) {
        saved.segs = static_cast<SegEntry *>(zvgetmem(int32_t(size_t(f->nsegalloc) * sizeof(SegEntry))));
        if (!saved.segs) {
            refuse_change("SETSEG: cannot allocate memory for segment definitions");
            return set_uerr(683);
        }
        memcpy(saved.segs, f->segs, size_t(f->nsegalloc) * sizeof(SegEntry));
    }
    int32_t made_from = 0, made_to = 0;
    int rc;
    if (d->automatic) rc = segmented ? apply_auto_change(f, filno, d) : make_auto(f, d);
    else rc = apply_named(f, d, segmented, &made_from, &made_to);
    if (!rc) rc = tstupd(f);
    if (!rc) {
        // An automatic file's header carries its whole definition: a file
        // without resources keeps it there alone.
        rc = store_definition(f, filno);
        if (rc == 401 && d->automatic) rc = 0;
    }
    if (!rc) rc = wrthdr(f);
    if (!rc) rc = zvputsegmdef(f);
    if (rc) {
        // Back to the previous state: new segment files go, the old
        // definitions and limits come back.
        if (f->segs) {
            for (int32_t i = made_from; i < made_to && i < f->nsegalloc; i++) {
                close_fd(f, i);
                if (!(saved.hdr.base.hdrflags & 0x10)) dltfilx(f->segs[i].name, 0, 0);
            }
            zvputmem(f->segs);
        }
        f->segs = saved.segs;
        f->nsegalloc = saved.nsegalloc;
        saved.segs = nullptr;
        uint8_t upd = f->hdr.base.updflg;
        memcpy(&f->hdr, &saved.hdr, sizeof f->hdr);
        f->hdr.base.updflg = upd;
        if (f->segs && zvputsegmdef(f)) {
            for (int32_t i = 1; i < f->nsegalloc && uint32_t(i) < present(f); i++) {
                log683("SETSEG: FATAL FILE ERROR!! Could not restore segment header");
                log683(f->segs[i].name);
            }
        }
        f->seglimitset = 0;
    }
    zvputmem(saved.segs);
    f->seglimitset = 0;
    if (!rc && g->tranactive) {
        f->segsavept = int32_t(int16_t(g->savepoints)) + 1;
        g->segsavepts = 1;
    }
    return set_uerr(rc);
}

}  // namespace

// A definition the caller does not keep is released whatever the outcome.
int setseg(int filno, ZVSEGDEF *d) {
    if (!zvWNGV) return 47;
    if (!d) return set_uerr(540);
    int rc = apply_definition(d, filno);
    if (!d->owned) {
        zvputmem(d->text);
        zvputmem(d);
    }
    return rc;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int SETSEGz(int filno, ZVSEGDEF *definition) { return setseg(filno, definition); }

ZV_API int zvstrsegmdef(int first, int count, const ZVSEGENTRY *entries, ZVSEGDEF **out) {
    if (!out || !entries) return set_uerr(540);
    *out = nullptr;
    if (count > kMaxSegments) return set_uerr(446);
    bool automatic_form = first == 0 && count > 1;
    bool named = first >= 1 && first <= count;
    if (!automatic_form && !named) return set_uerr(446);
    auto *d = static_cast<ZVSEGDEF *>(zvgetmem(sizeof(ZVSEGDEF)));
    if (!d) return set_uerr(82);
    if (automatic_form) {
        if (entries[0].sizemb == 0) {
            zvputmem(d);
            return set_uerr(679);
        }
        d->automatic = 1;
        d->sizemb = entries[0].sizemb;
        d->count = count;
        d->present = 1;
        *out = d;
        return 0;
    }
    // A first entry with a name is segment 1; an empty one gives segment 0.
    bool zero_given = entries[0].name && !entries[0].name[0];
    int32_t total = 0;
    for (int i = 0; i < count; i++) {
        const char *n = entries[i].name ? entries[i].name : "";
        if (i > 0 && !*n) {
            zvputmem(d);
            return set_uerr(678);
        }
        if (entries[i].sizemb == 0 && i < count - 1) {
            zvputmem(d);
            return set_uerr(679);
        }
        total += int32_t(strnlen(n, 256)) + 1 + 12;
    }
    d->text = static_cast<char *>(zvgetmem(total + 1));
    if (!d->text) {
        zvputmem(d);
        return set_uerr(82);
    }
    int32_t at = 0;
    for (int i = 0; i < count; i++) {
        const char *n = entries[i].name ? entries[i].name : "";
        size_t len = strnlen(n, 255);
        memcpy(d->text + at, n, len);
        at += int32_t(len) + 1;
        at += snprintf(d->text + at, 12, "%u", entries[i].sizemb) + 1;
    }
    d->text[at++] = '\0';
    d->textlen = at;
    d->count = zero_given ? count : count + 1;
    d->present = first;
    *out = d;
    return 0;
}

ZV_API int zvSETSEG(int filno, int first, int count, const ZVSEGENTRY *entries) {
    ZVSEGDEF *d = nullptr;
    if (int rc = zvstrsegmdef(first, count, entries, &d)) return rc;
    d->owned = 0;
    return setseg(filno, d);
}

}  // extern "C"
