// Navigation of record handles: moves in the record's order (its range,
// its key-prefix set, a full-text search, or its default index), jumps by
// an offset, reads by record position, the blocking read, and the reads
// every find and move share (the variable-length protocol and the
// after-read check, nav.h).
//
// A move reads into the record's image and leaves the engine's current
// record of the record's own ISAM context on the record read, so the next
// move continues from it; the context switch at the start of each call is
// what keeps the positions of several records of one table apart.
//
// A jump goes through the index, by key ordinals, when the record has no
// filter and reads in key order; otherwise it is made of single moves, each
// record the after-read check rejects not counting toward the offset.
#include <cstdlib>
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/records/nav.h"

namespace zv {

namespace {

// Codes of the after-read check's accepting range while the callback
// filters.
constexpr ZVDBRET kAcceptFirst = 4109;
constexpr ZVDBRET kAcceptLast = 4128;
// The engine's code of a record outside the active key-prefix set.
constexpr int kNotInSet = 118;

// A zero position from a key call: the engine's code, or 101 when it left
// none.
ZVDBRET no_position() {
    const int rc = instance_uerr();
    return rc ? rc : ZV_INOT_ERR;
}

// The record reads in the order of its default index: no range, set or
// full-text search is active.
bool default_order(const tagZVDBRECORD *r) { return !r->rangeon && !r->recseton && !r->ftson; }

// The checks of a move before anything is read: 0, 4003, 4012, 4025, 4004.
ZVDBRET move_ready(const tagZVDBRECORD *r, int mode, int64_t offset) {
    if (!r->session) return ZVDB_NO_SESSION;
    if (!r->table || !r->table->active) return ZVDB_NOT_ACTIVE;
    if (mode < 1 || mode > 5) return ZVDB_BAD_MODE;
    return mode == 5 && offset == 0 ? ZVDB_BAD_ARGUMENT : 0;
}

// Reads the record at a position into the image (no callback, no check).
ZVDBRET read_at(tagZVDBRECORD *r, uint64_t position) {
    const int datno = r->table->datno;
    return read_image(r, [&](int32_t *length) {
        return length ? _zvdbREDIVREC(datno, position, r->buffer, length) : _zvdbREDIREC(datno, position, r->buffer);
    });
}

// One move of the key-prefix set: its set made current in the engine, then
// the set read of the mode.
ZVDBRET set_move(tagZVDBRECORD *r, int mode) {
    if (int rc = CHGSET(r->setno)) return rc;
    const int datno = r->table->datno;
    const int keyno = _zvdbIdxno(r);
    return read_image(r, [&](int32_t *length) {
        return _zvdbMOVSET(datno, keyno, r->recsetprefix, r->buffer, r->recsetlen, &r->position, mode, length);
    });
}

// One move of mode 1..4 in the record's order.
ZVDBRET single_move(tagZVDBRECORD *r, int mode) {
    if (r->rangeon) return read_image(r, [&](int32_t *length) { return _zvdbMOVRNG(r, mode, length); });
    if (r->recseton) return set_move(r, mode);
    if (r->ftson) return _zvdbMOVFTS(r, mode);
    return read_image(r, [&](int32_t *length) { return _zvdbMOVREC(r, mode, length); });
}

// A jump through the index: the key `offset` entries from the current
// record's key (its position in the suffix of a duplicates index), by the
// entry ordinals of the index, and the record at that key read.
ZVDBRET index_jump(tagZVDBRECORD *r, int64_t offset) {
    KeyInfo k{};
    unsigned char *area = nullptr;
    ZVDBRET rc = default_key(r, &k);
    if (rc == 0) rc = key_area(r, k, 2, &area);
    if (rc == 0) rc = _zvdbFixRecordBuffer(r, 0);
    if (rc == 0) rc = form_key(r, k, area, 0);
    if (rc) return rc;
    unsigned char *current = area;
    unsigned char *other = area + k.keylen;
    if (k.suffix) put_suffix(current, k, r->position);
    uint64_t position = 0;
    if (offset > 0) {
        position = engine_wide(ORDKEY(k.keyno, current, int32_t(offset), other));
    } else {
        // From the first key: the current record's ordinal, counted.
        const uint64_t first = engine_wide(FRSKEY(k.keyno, other));
        if (first == 0) return no_position();
        const uint64_t ordinal = engine_wide(RNGENT(k.keyno, other, current));
        const int64_t n = offset + int64_t(ordinal) - 1;
        if (n < 0) return ZV_INOT_ERR;
        if (n > INT32_MAX) return ZVDB_BAD_ARGUMENT;
        position = n == 0 ? first : engine_wide(ORDKEY(k.keyno, other, int32_t(n), current));
    }
    if (position == 0) return no_position();
    rc = read_at(r, position);
    if (rc == 0) r->position = position;
    return rc;
}

// Makes the record's set current again after a record was read into it
// from elsewhere: 118 when the record does not carry the set's prefix.
ZVDBRET set_check(tagZVDBRECORD *r) {
    KeyInfo k{};
    unsigned char *area = nullptr;
    ZVDBRET rc = default_key(r, &k);
    if (rc == 0) rc = key_area(r, k, 1, &area);
    if (rc) return rc;
    if (!GETCURK(k.keyno, area, nullptr)) {
        const int code = instance_isamerr();
        return code ? code : ZV_INOT_ERR;
    }
    const int32_t n = r->recsetlen < k.keylen ? r->recsetlen : k.keylen;
    if (n > 0 && std::memcmp(area, r->recsetprefix, size_t(n)) != 0) return kNotInSet;
    if (int code = CHGSET(r->setno)) return code;
    return MIDSET(k.keyno, r->buffer, r->recsetlen);
}

// The engine's read calls by mode (index 1..4).
using RecRead = int (*)(int, void *);
using VRecRead = int (*)(int, void *, int32_t *);
constexpr RecRead kMoves[] = {nullptr, FRSREC, LSTREC, NXTREC, PRVREC};
constexpr VRecRead kVMoves[] = {nullptr, FRSVREC, LSTVREC, NXTVREC, PRVVREC};
constexpr int kBlockMoves[] = {0, 1, 4, 2, 3};
using RngRead = int (*)(int, void *);
using VRngRead = int (*)(int, void *, int32_t *);
constexpr RngRead kRanges[] = {nullptr, FRSRNG, LSTRNG, NXTRNG, PRVRNG};
constexpr VRngRead kVRanges[] = {nullptr, FRSVRNG, LSTVRNG, NXTVRNG, PRVVRNG};
using KeyRead = int (*)(int, const void *, void *);
using VKeyRead = int (*)(int, const void *, void *, int32_t *);
constexpr KeyRead kFinds[] = {EQLREC, LTREC, LTEREC, GTREC, GTEREC};
constexpr VKeyRead kVFinds[] = {EQLVREC, LTVREC, LTEVREC, GTVREC, GTEVREC};
constexpr int kBlockFinds[] = {12, 14, 13, 10, 11};

// The data file's current position into the record after a read.
int take_position(tagZVDBRECORD *r, int rc) { return rc ? rc : _zvdbGETCURP(r->table->datno, &r->position); }

RecordCounts counts;

}  // namespace

RecordCounts &record_counts() { return counts; }

uint64_t engine_wide(uint32_t low) { return (uint64_t(uint32_t(zvGETHGH())) << 32) | low; }

ZVDBRET run_read_callback(tagZVDBRECORD *r, uint64_t position, const void *target, int32_t *mode) {
    if (!r->callbacks[6] || !callbacks_active(r->table)) return 0;
    return reinterpret_cast<ZVDB_READ_CALLBACK>(r->callbacks[6])(r, position, target, mode);
}

ZVDBRET after_read(tagZVDBRECORD *r, bool *rejected) {
    *rejected = false;
    if (ZVDBRET rc = _zvdbUpdateRecord(r, 0)) return rc;
    if (!r->callbacks[7] || !callbacks_active(r->table)) return 0;
    const ZVDBRET rc = reinterpret_cast<ZVDB_RECORD_CALLBACK>(r->callbacks[7])(r);
    if (!r->database || !r->database->callbackfilter) return rc;
    if (rc == 0) {
        *rejected = true;
        return 0;
    }
    return rc >= kAcceptFirst && rc <= kAcceptLast ? 0 : rc;
}

ZVDBRET settle_read(tagZVDBRECORD *r, int rc, int32_t length) {
    if (rc || !variable_file(r->table)) return rc;
    if (length < 0) return ZVDB_BAD_POSITION;
    if (length > r->size) {
        // The record outgrew the image after all: grow it and read the
        // current record whole.
        if (ZVDBRET grown = _zvdbRecordSetSize(r, length)) return grown;
        return _zvdbREDVREC(r->table->datno, r->buffer, r->size);
    }
    if (length < r->size) std::memset(r->buffer + length, r->table->delimbyte, size_t(r->size - length));
    return 0;
}

ZVDBRET find_row(tagZVDBRECORD *r, const void *target, int mode, const KeyInfo *match) {
    int32_t m = mode;
    if (ZVDBRET rc = run_read_callback(r, 0, target, &m)) return rc;
    const uint64_t before = r->position;
    ZVDBRET rc = read_image(r, [&](int32_t *length) { return _zvdbFINDREC(r, target, m, length); });
    if (rc == 0 && match) {
        rc = current_key_matches(match->keyno, static_cast<const unsigned char *>(target),
                                 match->keylen - match->suffix);
    }
    bool rejected = false;
    if (rc == 0) rc = after_read(r, &rejected);
    if (rc == 0 && rejected) rc = ZV_INOT_ERR;
    // A record found but not matched leaves the record where it was.
    if (rc) r->position = before;
    return rc;
}

}  // namespace zv

using namespace zv;

extern "C" {

int _zvdbMOVREC(tagZVDBRECORD *r, int mode, int32_t *length) {
    if (mode < 1 || mode > 4) return ZVDB_BAD_MODE;
    const int keyno = _zvdbIdxno(r);
    int rc;
    if (r->blockon) {
        rc = BLKIREC(keyno, kBlockMoves[mode], r->blockwait, r->blockcond, nullptr, r->buffer, length);
    } else {
        rc = length ? kVMoves[mode](keyno, r->buffer, length) : kMoves[mode](keyno, r->buffer);
    }
    return take_position(r, rc);
}

int _zvdbFINDREC(tagZVDBRECORD *r, const void *target, int mode, int32_t *length) {
    if (mode < 0 || mode > 4) return ZVDB_BAD_FIND_MODE;
    const int keyno = _zvdbIdxno(r);
    int rc;
    if (r->blockon) {
        rc = BLKIREC(keyno, kBlockFinds[mode], r->blockwait, r->blockcond, target, r->buffer, length);
    } else {
        rc = length ? kVFinds[mode](keyno, target, r->buffer, length) : kFinds[mode](keyno, target, r->buffer);
    }
    return take_position(r, rc);
}

int _zvdbMOVRNG(tagZVDBRECORD *r, int mode, int32_t *length) {
    if (mode < 1 || mode > 4) return ZVDB_BAD_MODE;
    const int rc = length ? kVRanges[mode](r->rangekey, r->buffer, length) : kRanges[mode](r->rangekey, r->buffer);
    return take_position(r, rc);
}

ZVDBRET _zvdbMoveRecord(tagZVDBRECORD *r, int mode, int64_t offset) {
    if (ZVDBRET rc = move_ready(r, mode, offset)) return rc;
    bool through_index =
        mode == 5 && default_order(r) && r->filtertype == 0 && _zvdbIdxno(r) != r->table->datno;
    int step = mode != 5 ? mode : offset > 0 ? 3 : 4;
    // Records still to accept: one, or each single move of a jump.
    int64_t remaining = mode != 5 || through_index ? 1 : (offset > 0 ? offset : -offset);
    for (;;) {
        ZVDBRET rc = _zvdbRecordContext(r);
        if (rc == 0) rc = _zvdbInitRecord(r);
        if (rc == 0) rc = run_read_callback(r, 0, nullptr, nullptr);
        if (rc) return rc;
        if (through_index) {
            rc = index_jump(r, offset);
            through_index = false;
        } else {
            rc = single_move(r, step);
        }
        bool rejected = false;
        if (rc == 0) rc = after_read(r, &rejected);
        if (rc) return rc;
        if (rejected) {
            // Passed over: a first or last read goes on in its direction.
            if (step == 1) step = 3;
            if (step == 2) step = 4;
            continue;
        }
        if (--remaining == 0) break;
    }
    r->isnew = r->edited = 0;
    return 0;
}

ZVDBRET _zvdbSeekRow(tagZVDBRECORD *r, uint64_t position) {
    ZVDBRET rc = run_read_callback(r, position, nullptr, nullptr);
    if (rc == 0) rc = read_at(r, position);
    if (rc == 0 && r->recseton) rc = set_check(r);
    bool rejected = false;
    if (rc == 0) rc = after_read(r, &rejected);
    if (rc == 0 && rejected) rc = ZV_INOT_ERR;
    if (rc) return rc;
    r->position = position;
    return 0;
}

ZVDBRET _zvdbFindRow(tagZVDBRECORD *r, const void *target, int mode) { return find_row(r, target, mode, nullptr); }

// ---- Moves ------------------------------------------------------------------

static ZVDBRET move_entry(ZVHANDLE record, int mode, int64_t offset) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return keep_code(record, _zvdbMoveRecord(r, mode, offset));
}

ZV_API ZVDBRET zvdbFirstRecord(ZVHANDLE record) { return move_entry(record, 1, 0); }
ZV_API ZVDBRET zvdbLastRecord(ZVHANDLE record) { return move_entry(record, 2, 0); }
ZV_API ZVDBRET zvdbNextRecord(ZVHANDLE record) { return move_entry(record, 3, 0); }
ZV_API ZVDBRET zvdbPrevRecord(ZVHANDLE record) { return move_entry(record, 4, 0); }

ZV_API ZVDBRET zvdbJumpToRecord(ZVHANDLE record, int32_t offset) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (ZVDBRET rc = move_ready(r, 5, offset)) return keep_code(record, rc);
    const uint64_t remembered = r->position;
    ZVDBRET rc = _zvdbMoveRecord(r, 5, offset);
    if (rc == 0) return 0;
    // Back to the record the jump started from.
    if (_zvdbRecordContext(r) || _zvdbSeekRow(r, remembered)) rc = ZVDB_BAD_MODE;
    return keep_code(record, rc);
}

// ---- Reads by position --------------------------------------------------------

// The record prologue of the position calls, with its context current.
static ZVDBRET positioned(ZVHANDLE record, tagZVDBRECORD **r) {
    ZVDBRET rc = open_record(record, r);
    if (rc == 0) rc = _zvdbRecordContext(*r);
    return rc;
}

ZV_API ZVDBRET zvdbSeekRecord(ZVHANDLE record, uint64_t position) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = positioned(record, &r);
    if (rc == 0) rc = _zvdbSeekRow(r, position);
    if (rc) return keep_code(record, rc);
    r->isnew = r->edited = 0;
    return 0;
}

ZV_API ZVDBRET zvdbReadRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return zvdbSeekRecord(r, r->position);
}

ZV_API ZVDBRET zvdbGetRecordPos(ZVHANDLE record, uint64_t *position) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!r->table || !r->table->active) return keep_code(record, ZVDB_NOT_ACTIVE);
    if (!position) return keep_code(record, ZVDB_NULL_ARGUMENT);
    *position = r->position;
    return 0;
}

ZV_API ZVDBRET zvdbSetRecordPos(ZVHANDLE record, uint64_t position) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = positioned(record, &r);
    if (rc == 0) rc = _zvdbFixRecordBuffer(r, 0);
    if (rc == 0) rc = _zvdbSETCURI(r->table->datno, position, r->buffer, r->length);
    if (rc) return keep_code(record, rc);
    r->position = position;
    return 0;
}

ZV_API ZVDBRET zvdbSetRecordOffset(ZVHANDLE record, uint64_t position) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    r->position = position;
    return 0;
}

// ---- Blocking read ----------------------------------------------------------------

ZV_API ZVDBRET zvdbRecordBlockingReadOff(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    r->blockon = 0;
    r->blockwait = 0;
    r->blockcond = static_cast<char *>(_zvdb_free(r->blockcond));
    return 0;
}

ZV_API ZVDBRET zvdbRecordBlockingReadOn(ZVHANDLE record, int32_t wait, const char *condition) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!r->table || !r->table->active) return keep_code(record, ZVDB_NOT_ACTIVE);
    zvdbRecordBlockingReadOff(r);
    r->blockcond = _zvdb_strdup(condition ? condition : "");
    if (!r->blockcond) return keep_code(record, ZVDB_NO_MEMORY);
    r->blockwait = wait;
    r->blockon = 1;
    return 0;
}

ZV_API int zvdbIsRecordBlockingReadOn(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->blockon : 0;
}

}  // extern "C"
