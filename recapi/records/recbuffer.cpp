// The record image as callers see it: handed out packed, lent by the
// caller, copied in from the caller's bytes or from another record, and
// compared.
//
// Bytes that come from outside (a lent buffer, an assigned image, another
// record's image) are checked against the record's layout before the record
// takes them (check_image), so a damaged image is refused with 4108 and the
// record keeps what it held.
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/records/record.h"
#include "recapi/records/set_calls.h"

using namespace zv;

namespace {

// The record packed to its exact length: 0 or the code (kept).
ZVDBRET pack_exact(ZVHANDLE record, tagZVDBRECORD **r) {
    ZVDBRET rc = open_record(record, r);
    if (rc == 0) rc = _zvdbFixRecordBuffer(*r, 1);
    return keep_code(record, rc);
}

// The record packed to its exact length, or NULL.
tagZVDBRECORD *packed_record(ZVHANDLE record) {
    tagZVDBRECORD *r = nullptr;
    return pack_exact(record, &r) ? nullptr : r;
}

// Replaces the record's own image by `image` of size bytes (a block the
// record now owns) and reads the slots from it.
void take_image(tagZVDBRECORD *r, unsigned char *image, int32_t size) {
    free_slot_values(r);
    _zvdb_free(r->buffer);
    r->buffer = image;
    r->size = r->length = size;
    _zvdbUpdateRecord(r, 0);
}

}  // namespace

extern "C" {

ZV_API void *zvdbGetRecordBuffer(ZVHANDLE record) {
    tagZVDBRECORD *r = packed_record(record);
    return r ? r->buffer : nullptr;
}

ZV_API int32_t zvdbGetRecordLength(ZVHANDLE record) {
    tagZVDBRECORD *r = packed_record(record);
    return r ? r->length : 0;
}

ZV_API int32_t zvdbGetRecordSize(ZVHANDLE record) {
    tagZVDBRECORD *r = packed_record(record);
    return r ? r->size : 0;
}

ZV_API ZVDBRET zvdbSetRecordBuffer(ZVHANDLE record, void *buffer, int32_t size, uint32_t mode) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!r->table || !r->table->active) return keep_code(record, ZVDB_NOT_ACTIVE);
    if (!buffer) {
        // Back to an image of the record's own, built afresh and cleared.
        free_slot_values(r);
        if (!lent_buffer(r)) _zvdb_free(r->buffer);
        r->buffer = nullptr;
        r->buffermode = 0;
        r->size = r->length = 0;
        r->stamp = kStampRebuild;
        return zvdbClearRecord(r);
    }
    // The record's own image cannot be lent back to it.
    if (size < 1 || (buffer == r->buffer && !lent_buffer(r))) return keep_code(record, ZVDB_BAD_ARGUMENT);
    if (ZVDBRET rc = _zvdbInitRecord(r)) return keep_code(record, rc);
    const bool raw = (mode & ZVDB_BUFFER_RAW) != 0;
    auto *bytes = static_cast<unsigned char *>(buffer);
    if (!raw) {
        if (ZVDBRET rc = check_image(r, bytes, size)) return keep_code(record, rc);
        if (ZVDBRET rc = zvdbClearRecord(r)) return rc;
    }
    if (!lent_buffer(r)) _zvdb_free(r->buffer);
    // Nothing may point into the image given up; a raw buffer is read only
    // when its owner unpacks it.
    empty_slots(r);
    r->buffer = bytes;
    r->buffermode = mode;
    r->size = r->length = size;
    r->position = 0;
    r->isnew = 1;
    r->edited = 1;
    return raw ? 0 : keep_code(record, _zvdbUpdateRecord(r, 0));
}

ZV_API ZVDBRET zvdbAssignRecordBuffer(ZVHANDLE record, const void *data, int32_t size) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!r->table || !r->table->active) return keep_code(record, ZVDB_NOT_ACTIVE);
    if (lent_buffer(r)) return keep_code(record, ZVDB_NOT_SUPPORTED);
    if (!data || size < 1) return keep_code(record, ZVDB_BAD_ARGUMENT);
    if (ZVDBRET rc = _zvdbInitRecord(r)) return keep_code(record, rc);
    if (ZVDBRET rc = check_image(r, static_cast<const unsigned char *>(data), size)) return keep_code(record, rc);
    // A record read from the table keeps its row id whatever the bytes hold.
    const bool keep_rowid = !r->isnew && r->table->hasrowid;
    if (keep_rowid && !r->rowidslot) return keep_code(record, ZVDB_BAD_MODE);
    const uint64_t rowid = keep_rowid ? read_rowid(r->rowidslot) : 0;
    auto *image = static_cast<unsigned char *>(_zvdb_alloc(1, size));
    if (!image) return keep_code(record, ZVDB_NO_MEMORY);
    std::memcpy(image, data, size_t(size));
    take_image(r, image, size);
    r->edited = 1;
    if (keep_rowid) write_rowid(r->rowidslot, rowid);
    return 0;
}

ZV_API ZVDBRET zvdbCopyRecordBuffer(ZVHANDLE source, ZVHANDLE target) {
    tagZVDBRECORD *s = record_of(source);
    tagZVDBRECORD *d = record_of(target);
    if (!s || !d) return keep_code(s ? target : source, ZVDB_NO_RECORD);
    ZVDBRET rc = 0;
    if ((rc = open_record(s, &s)) != 0 || (rc = _zvdbFixRecordBuffer(s, 0)) != 0) return keep_code(target, rc);
    zvdbRecordSetOff(d);
    d->keyval = static_cast<unsigned char *>(_zvdb_free(d->keyval));
    _zvdbFreeExpression(d);
    if ((rc = open_record(d, &d)) != 0 || (rc = check_image(d, s->buffer, s->size)) != 0) return keep_code(target, rc);
    if (lent_buffer(d)) {
        if (d->size < s->length) return keep_code(target, ZVDB_RECORD_BUFFER);
        std::memcpy(d->buffer, s->buffer, size_t(s->length));
    } else {
        auto *image = static_cast<unsigned char *>(_zvdb_alloc(1, s->size));
        if (!image) return keep_code(target, ZVDB_NO_MEMORY);
        std::memcpy(image, s->buffer, size_t(s->size));
        take_image(d, image, s->size);
    }
    d->length = s->length;
    d->fixedlen = s->fixedlen;
    d->position = s->position;
    d->isnew = s->isnew;
    d->edited = s->edited;
    d->defindex = s->defindex;
    if (lent_buffer(d)) _zvdbUpdateRecord(d, 0);
    if ((rc = _zvdbRecordContext(d)) != 0) return keep_code(target, rc);
    if (!d->isnew && (rc = _zvdbSETCURI(d->table->datno, d->position, d->buffer, d->length)) != 0) {
        return keep_code(target, rc);
    }
    return 0;
}

ZV_API ZVDBRET zvdbCompareRecords(ZVHANDLE a, ZVHANDLE b) {
    tagZVDBRECORD *x = nullptr, *y = nullptr;
    if (ZVDBRET rc = pack_exact(a, &x)) return rc;
    if (ZVDBRET rc = pack_exact(b, &y)) return rc;
    // The hidden fields (delete mark, null bits, row id) do not count.
    const int32_t from = x->leadinghidden < x->slotcount ? int32_t(x->slots[x->leadinghidden].offset) : x->length;
    const bool same = x->length == y->length &&
                      (from >= x->length || std::memcmp(x->buffer + from, y->buffer + from, size_t(x->length - from)) == 0);
    return same ? 0 : keep_code(a, ZVDB_RECORDS_DIFFER);
}

}  // extern "C"
