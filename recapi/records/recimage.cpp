// Record images: the slot table of a record handle and the pack and unpack
// between slots and image (forms and invariants in record.h).
//
// The unpack reads lengths that come from a file, so it never trusts them:
// one walk (walk_image) checks every prefix, delimiter and fixed width
// against the image's allocated size, and the same walk applied to the slots
// runs only after the check passed. The pack writes the variable part into a
// new image, so a failing allocation leaves the old image and every waiting
// value as they were.
#include <cstring>

#include "recapi/base/wrappers.h"
#include "recapi/records/record.h"
#include "recapi/schema/field.h"
#include "recapi/schema/fieldtype.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

// The schema names of the hidden fields and their field numbers.
struct Hidden {
    const char *name;
    int32_t number;
};
constexpr Hidden kHidden[] = {{"$DELFLD$", -1}, {"$NULFLD$", -2}, {"$ROWID$", -3}};

}  // namespace

bool fixed_size_type(uint32_t type) {
    switch (type) {
    case ZV_BOOL: case ZV_CHAR: case ZV_CHARU: case ZV_INT2: case ZV_INT2U: case ZV_INT4: case ZV_INT4U:
    case ZV_MONEY: case ZV_DATE: case ZV_TIME: case ZV_SFLOAT: case ZV_DFLOAT: case ZV_NUMBER: case ZV_EFLOAT:
    case ZV_TIMES: case ZV_ARRAY: case ZV_CURRENCY: case ZV_BIGINT: case ZV_UBIGINT: case ZV_TIMES_MS:
    case ZV_TIME_MS: case ZV_FSTRING:
        return true;
    default:
        return false;
    }
}

namespace {

// The prefixed string types whose field keeps its defined length.
bool fixed_prefixed(uint32_t type) { return type == ZV_FPSTRING || type == ZV_F2STRING || type == ZV_F4STRING; }

uint32_t read_prefix(const unsigned char *p, int width) {
    if (width == 1) return p[0];
    if (width == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void write_prefix(unsigned char *p, int width, uint32_t v) {
    if (width == 1) {
        p[0] = uint8_t(v);
    } else if (width == 2) {
        const uint16_t w = uint16_t(v);
        std::memcpy(p, &w, 2);
    } else {
        std::memcpy(p, &v, 4);
    }
}

// Bytes the layout of a fresh record gives a variable-part field: its
// defined length, at least its prefix (or delimiter), 4 when it has none.
int64_t minimal_length(uint32_t type, uint32_t deflength) {
    int64_t least = 0;
    switch (type) {
    case ZV_FSTRING: case ZV_STRING: case ZV_FPSTRING: case ZV_PSTRING: least = 1; break;
    case ZV_F2STRING: case ZV_2STRING: least = 2; break;
    case ZV_F4STRING: case ZV_4STRING: case ZV_JSON: least = 4; break;
    default: break;
    }
    if (deflength == 0) return least ? least : 4;
    return deflength > least ? deflength : least;
}

// Where one field lies in an image: its data, value, value length and the
// bytes it takes.
struct Place {
    unsigned char *data;
    unsigned char *value;
    uint32_t curlength;
    int64_t taken;
};

// Places a fixed-part field: 0, 4025, 4108, 4168.
ZVDBRET place_fixed(const ZVDBFIELDSLOT &s, uint32_t type, unsigned char *image, int64_t size, Place *p) {
    if (type == ZV_JSON) return ZVDB_JSON_FIXED;
    if (field_type_info(int32_t(type)).code == 0) return ZVDB_BAD_MODE;
    if (int64_t(s.offset) + s.deflength > size) return ZVDB_BAD_VARDATA;
    p->data = p->value = image + s.offset;
    p->curlength = s.deflength;
    p->taken = s.deflength;
    if (int w = prefix_width(type)) {
        if (s.deflength < uint32_t(w)) return ZVDB_BAD_VARDATA;
        const uint32_t stored = read_prefix(p->data, w);
        if (stored > s.deflength - uint32_t(w)) return ZVDB_BAD_VARDATA;
        p->value += w;
        p->curlength = stored;
    }
    return 0;
}

// Places a variable-part field at off: 0, 4025, 4108. With delimiters set a
// ZV_STRING is the delimiter alone (the apply pass writes it).
ZVDBRET place_variable(const ZVDBFIELDSLOT &s, unsigned char *image, int64_t size, int64_t off, uint8_t delim,
                       bool setdelim, Place *p) {
    const int64_t room = size - off;
    p->data = image + off;
    const uint32_t type = s.type;
    if (type == ZV_STRING) {
        if (room < 1) return ZVDB_BAD_VARDATA;
        const int32_t n = setdelim ? 1 : zvcdelm(p->data, delim, int32_t(room));
        if (n < 1) return ZVDB_BAD_VARDATA;
        p->value = p->data;
        p->curlength = uint32_t(n);
        p->taken = n;
        return 0;
    }
    if (int w = prefix_width(type)) {
        if (room < w) return ZVDB_BAD_VARDATA;
        const uint32_t stored = read_prefix(p->data, w);
        if (fixed_prefixed(type)) {
            if (s.deflength < uint32_t(w) || stored > s.deflength - uint32_t(w) || s.deflength > room) {
                return ZVDB_BAD_VARDATA;
            }
            p->taken = s.deflength;
        } else {
            if (int64_t(stored) > room - w) return ZVDB_BAD_VARDATA;
            p->taken = w + int64_t(stored);
        }
        p->value = stored ? p->data + w : nullptr;
        p->curlength = stored;
        return 0;
    }
    if (!fixed_size_type(type)) return ZVDB_BAD_MODE;
    if (int64_t(s.deflength) > room) return ZVDB_BAD_VARDATA;
    p->value = p->data;
    p->curlength = s.deflength;
    p->taken = s.deflength;
    return 0;
}

// Walks the image over the slots. Without apply nothing is written, so the
// walk is a check; with apply every slot is placed (and empty strings get
// their delimiter when setdelim). The data length goes to *length.
ZVDBRET walk_image(tagZVDBRECORD *r, unsigned char *image, int64_t size, bool setdelim, bool apply,
                   int32_t *length) {
    Place p{};
    // Fixed-size fields inside the image need no check: each lies at its
    // offset with its defined length.
    const bool plain = r->plainend > 0 && r->plainend <= size;
    for (int32_t i = 0; plain && apply && i < r->firstvar; i++) {
        ZVDBFIELDSLOT &s = r->slots[i];
        s.data = s.value = image + s.offset;
        s.curlength = s.deflength;
        s.reserved = 0;
    }
    for (int32_t i = 0; !plain && i < r->firstvar; i++) {
        ZVDBFIELDSLOT &s = r->slots[i];
        const uint32_t type = fixed_form(s.type);
        if (ZVDBRET rc = place_fixed(s, type, image, size, &p)) return rc;
        if (!apply) continue;
        s.type = type;
        s.data = p.data;
        s.value = p.value;
        s.curlength = p.curlength;
        s.reserved = 0;
    }
    if (r->firstvar >= r->slotcount) {
        if (length) *length = r->fixedlen;
        return 0;
    }
    const uint8_t delim = r->table ? r->table->delimbyte : 0;
    int64_t off = r->slots[r->firstvar].offset;
    for (int32_t i = r->firstvar; i < r->slotcount; i++) {
        ZVDBFIELDSLOT &s = r->slots[i];
        if (off > size) return ZVDB_BAD_VARDATA;
        if (ZVDBRET rc = place_variable(s, image, size, off, delim, setdelim, &p)) return rc;
        if (apply) {
            if (s.ownsvalue) _zvdb_free(s.value);
            s.ownsvalue = 0;
            s.reserved = 0;
            s.offset = uint32_t(off);
            if (setdelim && s.type == ZV_STRING) p.data[0] = delim;
            s.data = p.data;
            s.value = p.value;
            s.curlength = p.curlength;
        }
        off += p.taken;
    }
    if (length) *length = int32_t(off);
    return 0;
}

// Bytes a variable-part slot takes in a packed image; -1 for a type the
// variable part cannot hold or a value its prefix cannot count.
int64_t packed_bytes(const ZVDBFIELDSLOT &s) {
    const uint32_t type = s.type;
    if (type == ZV_STRING) return s.curlength ? s.curlength : 1;
    if (int w = prefix_width(type)) {
        if (w < 4 && s.curlength >= (1u << (8 * w))) return -1;
        if (!fixed_prefixed(type)) return w + int64_t(s.curlength);
        return s.deflength >= uint32_t(w) && s.curlength <= s.deflength - uint32_t(w) ? int64_t(s.deflength) : -1;
    }
    return fixed_size_type(type) ? int64_t(s.deflength) : -1;
}

// Lays out the variable part of slot s at data: the slot points into the
// new image afterwards and gives up a value buffer it owned.
void lay_out(ZVDBFIELDSLOT &s, unsigned char *data, uint8_t delim, int64_t taken) {
    unsigned char *value = data;
    uint32_t cur = s.curlength;
    if (s.type == ZV_STRING) {
        if (cur == 0) {
            data[0] = delim;
            cur = 1;
        } else {
            std::memcpy(data, s.value, cur);
        }
    } else if (int w = prefix_width(s.type)) {
        write_prefix(data, w, cur);
        value = cur ? data + w : nullptr;
        if (cur) std::memcpy(value, s.value, cur);
    } else {
        if (s.value) std::memcpy(data, s.value, size_t(cur < taken ? cur : taken));
        cur = uint32_t(taken);
    }
    if (s.ownsvalue) _zvdb_free(s.value);
    s.ownsvalue = 0;
    s.data = data;
    s.value = value;
    s.curlength = cur;
}

// The first slot of the variable part of a variable-length table; the slot
// count when every field lies in the fixed part; -1 when the schema puts no
// field before one that starts past the fixed part.
int32_t first_variable_slot(const tagZVDBRECORD *r) {
    const int64_t fixed = r->fixedlen;
    for (int32_t i = r->leadinghidden; i < r->slotcount; i++) {
        const ZVDBFIELDSLOT &s = r->slots[i];
        if (s.number < 0) continue;
        if (s.offset == fixed || field_type_info(int32_t(s.type)).varlen > 0) return i;
        if (s.offset > fixed) return i == r->leadinghidden ? -1 : i - 1;
        // The last field starts a variable part only when it reaches past
        // the fixed part; one wholly inside it stays there.
        if (i == r->slotcount - 1 && s.offset + int64_t(s.deflength) > fixed) return i;
    }
    return r->slotcount;
}

}  // namespace

int prefix_width(uint32_t type) {
    switch (type) {
    case ZV_FPSTRING: case ZV_PSTRING: return 1;
    case ZV_F2STRING: case ZV_2STRING: return 2;
    case ZV_F4STRING: case ZV_4STRING: case ZV_JSON: return 4;
    default: return 0;
    }
}

uint32_t fixed_form(uint32_t type) {
    switch (type) {
    case ZV_STRING: return ZV_FSTRING;
    case ZV_PSTRING: return ZV_FPSTRING;
    case ZV_2STRING: return ZV_F2STRING;
    case ZV_4STRING: return ZV_F4STRING;
    default: return type;
    }
}

void free_slot_values(tagZVDBRECORD *r) {
    for (int32_t i = 0; i < r->slotcount && r->slots; i++) {
        ZVDBFIELDSLOT &s = r->slots[i];
        if (s.ownsvalue) {
            _zvdb_free(s.value);
            s.value = nullptr;
            s.curlength = 0;
            s.ownsvalue = 0;
        }
    }
}

void empty_slots(tagZVDBRECORD *r) {
    free_slot_values(r);
    for (int32_t i = 0; i < r->slotcount; i++) {
        ZVDBFIELDSLOT &s = r->slots[i];
        s.data = s.value = nullptr;
        s.curlength = 0;
    }
    r->repack = 0;
}

void drop_slots(tagZVDBRECORD *r) {
    free_slot_values(r);
    r->slots = static_cast<ZVDBFIELDSLOT *>(_zvdb_free(r->slots));
    r->slotcount = r->firstvar = 0;
    r->plainend = 0;
    r->delslot = r->nullslot = r->rowidslot = nullptr;
    r->identityslot = nullptr;
    r->identitystamp = kStampRebuild;
    r->leadinghidden = 0;
    r->repack = 0;
}

ZVDBRET check_image(const tagZVDBRECORD *r, const unsigned char *image, int32_t size) {
    // The walk without apply writes nothing through either pointer.
    auto *rec = const_cast<tagZVDBRECORD *>(r);
    return walk_image(rec, const_cast<unsigned char *>(image), size, false, false, nullptr);
}

uint64_t read_rowid(const ZVDBFIELDSLOT *s) {
    uint64_t v = 0;
    if (s->value) std::memcpy(&v, s->value, s->curlength < 8 ? s->curlength : 8);
    return v;
}

void write_rowid(ZVDBFIELDSLOT *s, uint64_t v) {
    if (!s->value) return;
    const uint32_t n = s->curlength < 8 ? s->curlength : 8;
    std::memset(s->value, 0, s->curlength);
    std::memcpy(s->value, &v, n);
}

}  // namespace zv

using namespace zv;

extern "C" {

ZVDBRET _zvdbUpdateRecord(tagZVDBRECORD *r, int setdelimiters) {
    if (!r) return ZVDB_NO_RECORD;
    if (!r->table || !r->table->active) return ZVDB_NOT_ACTIVE;
    int32_t length = 0;
    if (ZVDBRET rc = walk_image(r, r->buffer, r->size, setdelimiters != 0, false, nullptr)) {
        empty_slots(r);
        return rc;
    }
    walk_image(r, r->buffer, r->size, setdelimiters != 0, true, &length);
    r->length = length;
    r->repack = 0;
    return 0;
}

ZVDBRET _zvdbFixRecordBuffer(tagZVDBRECORD *r, int exact) {
    if (!r) return ZVDB_NO_RECORD;
    if (!r->repack) return 0;
    const int64_t base = r->firstvar < r->slotcount ? int64_t(r->slots[r->firstvar].offset) : int64_t(r->fixedlen);
    int64_t packed = base;
    for (int32_t i = r->firstvar; i < r->slotcount; i++) {
        const int64_t n = packed_bytes(r->slots[i]);
        if (n < 0) return ZVDB_BAD_MODE;
        packed += n;
    }
    if (packed > INT32_MAX) return ZVDB_RECORD_BUFFER;
    if (lent_buffer(r) && r->size < packed) return ZVDB_RECORD_BUFFER;
    const int64_t alloc = exact || packed > r->size ? packed : r->size;
    auto *image = static_cast<unsigned char *>(_zvdb_alloc(1, int32_t(alloc > 0 ? alloc : 1)));
    if (!image) return ZVDB_NO_MEMORY;
    std::memcpy(image, r->buffer, size_t(base < r->size ? base : r->size));
    for (int32_t i = 0; i < r->firstvar; i++) {
        ZVDBFIELDSLOT &s = r->slots[i];
        if (!s.data) continue;
        const ptrdiff_t skip = s.value - s.data;
        s.data = image + s.offset;
        s.value = s.data + skip;
    }
    const uint8_t delim = r->table ? r->table->delimbyte : 0;
    int64_t off = base;
    for (int32_t i = r->firstvar; i < r->slotcount; i++) {
        ZVDBFIELDSLOT &s = r->slots[i];
        const int64_t taken = packed_bytes(s);
        lay_out(s, image + off, delim, taken);
        s.offset = uint32_t(off);
        off += taken;
    }
    if (!lent_buffer(r)) {
        _zvdb_free(r->buffer);
        r->buffer = image;
        r->size = int32_t(alloc);
        r->length = int32_t(packed);
        r->repack = 0;
        return 0;
    }
    std::memcpy(r->buffer, image, size_t(packed));
    _zvdb_free(image);
    ZVDBRET rc = _zvdbUpdateRecord(r, 0);
    r->length = int32_t(packed);
    r->repack = 0;
    return rc;
}

ZVDBRET _zvdbInitRecord(tagZVDBRECORD *r) {
    tagZVDBTABLE *t = r->table;
    const uint32_t stamp = layout_stamp(t);
    if (r->stamp == stamp) return 0;
    r->hasnumbers = 0;
    if (!lent_buffer(r)) {
        r->buffer = static_cast<unsigned char *>(_zvdb_free(r->buffer));
        r->size = r->length = 0;
    }
    drop_slots(r);
    r->stamp = kStampRebuild;
    r->position = 0;
    // A rebuilt record holds a zeroed image and no position: it is not a
    // record of the table, so a write must add it.
    r->isnew = 1;
    r->edited = 0;
    r->fixedlen = int32_t(t->fixedlen);
    const int32_t count = t->doda ? t->dodacount : 0;
    if (count > 0) {
        r->slots = static_cast<ZVDBFIELDSLOT *>(_zvdb_alloc(count, int32_t(sizeof(ZVDBFIELDSLOT))));
        if (!r->slots) return ZVDB_NO_MEMORY;
    }
    r->slotcount = r->firstvar = count;
    int32_t user = 0;
    for (int32_t i = 0; i < count; i++) {
        const DATOBJ &e = t->doda[i];
        ZVDBFIELDSLOT &s = r->slots[i];
        s.type = e.ftype;
        s.offset = uint32_t(e.fadr);
        s.deflength = s.curlength = uint32_t(_zvdbFixFieldLength(e.ftype, e.flen));
        const Hidden *hidden = nullptr;
        for (const Hidden &h : kHidden) {
            if (same_name(e.fsymb, h.name)) hidden = &h;
        }
        if (hidden) {
            s.number = hidden->number;
            s.index = -1;
            if (user == 0) r->leadinghidden++;
            ZVDBFIELDSLOT **slot = hidden->number == -1 ? &r->delslot : hidden->number == -2 ? &r->nullslot : &r->rowidslot;
            *slot = &s;
            continue;
        }
        auto *f = static_cast<tagZVDBFIELD *>(_zvdbListItem(t->fields, user));
        if (!f) {
            drop_slots(r);
            return ZVDB_BAD_MODE;
        }
        s.number = s.index = user++;
        s.field = f;
        s.record = r;
        s.hasextras = field_extras_kind(f) > 0;
        if (e.ftype == ZV_NUMBER) r->hasnumbers = 1;
    }
    int64_t minimal = r->fixedlen;
    if (variable_table(t) && count > 0) {
        const int32_t first = first_variable_slot(r);
        if (first < 0) {
            drop_slots(r);
            return ZVDB_BAD_MODE;
        }
        r->firstvar = first;
        if (first < count) {
            int64_t off = r->slots[first].offset;
            for (int32_t i = first; i < count; i++) {
                r->slots[i].offset = uint32_t(off);
                off += minimal_length(r->slots[i].type, r->slots[i].deflength);
            }
            minimal = off;
        }
    }
    if (!lent_buffer(r) && minimal > 0) {
        const int64_t reclen = t->ifil ? int64_t(uint16_t(t->ifil->dreclen)) : 0;
        const int64_t want = minimal < r->fixedlen ? int64_t(r->fixedlen) : (minimal > reclen ? minimal : reclen);
        if (want > INT32_MAX) {
            drop_slots(r);
            return ZVDB_RECORD_BUFFER;
        }
        r->buffer = static_cast<unsigned char *>(_zvdb_alloc(1, int32_t(want)));
        if (!r->buffer) {
            drop_slots(r);
            return ZVDB_NO_MEMORY;
        }
        r->size = int32_t(want);
    }
    r->stamp = stamp;
    if (t->openmode & 64) r->defindex = ZVDB_INDEX_PHYSICAL;
    if (ZVDBRET rc = _zvdbUpdateRecord(r, 1)) {
        r->stamp = kStampRebuild;
        return rc;
    }
    // The first unpack gave the fixed-part slots their fixed forms; when
    // all of them are fixed-size fields, later unpacks place them directly.
    int64_t plainend = 0;
    for (int32_t i = 0; i < r->firstvar && plainend >= 0; i++) {
        const ZVDBFIELDSLOT &s = r->slots[i];
        const int64_t end = int64_t(s.offset) + s.deflength;
        plainend = fixed_size_type(s.type) ? (end > plainend ? end : plainend) : -1;
    }
    r->plainend = plainend > 0 && plainend <= INT32_MAX ? int32_t(plainend) : 0;
    return run_record_callback(r, 2);
}

ZVDBFIELDSLOT *_zvdbGetData(tagZVDBRECORD *r, int32_t n) {
    if (!r || !r->slots) return nullptr;
    int64_t i = n >= 0 ? int64_t(n) + r->leadinghidden : 0;
    for (; i < r->slotcount; i++) {
        if (r->slots[i].number == n) return &r->slots[i];
    }
    return nullptr;
}

ZVDBRET _zvdbRecordSetSize(tagZVDBRECORD *r, int32_t size) {
    if (size <= r->size) {
        r->length = size;
        return 0;
    }
    if (lent_buffer(r)) return ZVDB_RECORD_BUFFER;
    auto *image = static_cast<unsigned char *>(_zvdb_alloc(1, size));
    if (!image) return ZVDB_NO_MEMORY;
    // The old bytes go: no slot may point into them any more.
    empty_slots(r);
    _zvdb_free(r->buffer);
    r->buffer = image;
    r->size = r->length = size;
    return 0;
}

ZVDBRET _zvdbRecordResize(tagZVDBRECORD *r) {
    if (!r->table) return ZVDB_NOT_ACTIVE;
    int32_t length = 0;
    if (int rc = _zvdbGETVLEN(r->table->datno, &length)) return rc;
    return _zvdbRecordSetSize(r, length);
}

}  // extern "C"
