// Full copy of an alteration: a new table is made from the table's handles
// under a working name, every record is copied into it through the record
// layer (its values converted to the new types, new fields given their
// defaults, row ids and identity values kept), and the new file set then
// takes the table's place through the swap of the table's files
// (tablemove.h), after which the table handle is reopened on it.
//
// Invariants:
//  1. The old files are not written: until the swap the table reopens on
//     them as it was, and a failure deletes only the new files.
//  2. Once the swap has begun, the new files are never deleted: the swap
//     puts the old set back when the new one cannot take its names, and
//     leaves the new set in place otherwise.
//  3. Every record keeps its row id and identity value: the new data file
//     takes serial numbers from the records while they are copied (header
//     attribute 23), and the identity field is defined on the new file only
//     after the copy, with the old file's next value.
//  4. The copy allocates nothing per record: the record handles, the text
//     buffer and the blob are made once and reused.
//  5. A numeric value reaches its new type converted and range-checked
//     (fieldcopy.h), never as its bytes; a retype that has no road at all
//     is refused before any file is touched.
//  6. The new files get no transaction modes (file mode 16 or 48), as no
//     table file does: this engine reads those modes as a mark that the
//     file awaits a rebuild, and this library logs no transactions.
#include <cstring>
#include <string>
#include <vector>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/records/fieldcopy.h"
#include "recapi/records/record.h"
#include "recapi/schema/alter.h"
#include "recapi/schema/field.h"
#include "recapi/schema/fieldtype.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"
#include "recapi/schema/tablemove.h"

namespace zv {

namespace {

constexpr int kCbProgress = 17;
// Action bits of the copy.
constexpr uint32_t kActionSkipDuplicates = 0x1000, kActionEmpty = 0x2000, kActionKeepModes = 0x8000;
// Open-mode bits: the data file opened alone and its definition read.
constexpr uint32_t kOpenThroughDefinition = 64;
// Create-mode bit of the 4-byte delete flag.
constexpr uint32_t kCreateDeleteFlag = 0x1000;
// Field change bits.
constexpr uint32_t kFieldNew = 1, kFieldDeleted = 2;
// File information: the header-flag word and its bit of a segmented file,
// and the file's size.
constexpr int kInfoHeaderFlags = 26, kInfoSize = 11;
constexpr int64_t kHeaderSegmented = 0x08;
// Header attributes: serial numbers taken from the records, the engine's
// lookups switched off.
constexpr int kAttrKeepSerial = 23, kAttrLookups = 48;
// Default index of the physical order, and the end of an order.
constexpr int32_t kPhysicalOrder = 10002;
constexpr ZVDBRET kEnd = 101;
constexpr ZVDBRET kDuplicateKey = 2;
// Record format word of an empty replacement.
constexpr int32_t kFormatEmpty = 5;
// The smallest text buffer of a copied string.
constexpr int32_t kTextMin = 255;
// Default kinds of a field.
constexpr int32_t kDefaultLiteral = 1, kDefaultUser = 2, kDefaultNull = 3, kDefaultNowFirst = 4,
                  kDefaultNowLast = 6;

// Types whose literal default is set as its bytes: ZV_ARRAY and the
// strings with a length prefix (ZV_JSON among them).
bool binary_default(int32_t type) { return type == ZV_ARRAY || field_type_info(type).prefix > 0; }

// The engine's lookups switched off around the create of an empty
// replacement, and on again on every exit.
class LookupsOff {
public:
    explicit LookupsOff(bool on) : on_(on) {
        if (on_) PUTHDR(-1, 1, kAttrLookups);
    }
    ~LookupsOff() {
        if (on_) PUTHDR(-1, 0, kAttrLookups);
    }
    LookupsOff(const LookupsOff &) = delete;
    LookupsOff &operator=(const LookupsOff &) = delete;

private:
    bool on_;
};

class Copy {
public:
    Copy(tagZVDBTABLE *t, uint32_t action, bool deleteflag, uint32_t reopen)
        : t_(t), action_(action), deleteflag_(deleteflag), reopen_(reopen) {}
    Copy(const Copy &) = delete;
    Copy &operator=(const Copy &) = delete;
    ~Copy();
    ZVDBRET run();

private:
    ZVDBRET check_roads() const;
    ZVDBRET size_limit();
    ZVDBRET make_fresh();
    ZVDBRET copy_records();
    ZVDBRET copy_field(tagZVDBFIELD *f, int32_t j);
    ZVDBRET set_default(tagZVDBFIELD *f, int32_t j);
    ZVDBRET progress(uint32_t percent);
    ZVDBRET carry_identity();
    ZVDBRET drop_fresh(ZVDBRET rc);

    tagZVDBTABLE *t_;
    uint32_t action_;
    bool deleteflag_;
    uint32_t reopen_;
    uint32_t previous_ = 0;           // the table's open mode
    bool serials_ = false;            // both tables number their records
    tagZVDBTABLE *fresh_ = nullptr;
    std::vector<char *> oldnames_, newnames_;
    tagZVBLOB *blob_ = nullptr;
    std::vector<char> text_;
    ZVDATETIME now_{};
    tagZVDBRECORD *from_ = nullptr, *to_ = nullptr;
};

Copy::~Copy() {
    if (from_) zvdbFreeRecord(from_);
    if (to_) zvdbFreeRecord(to_);
    zvdbBlobFree(blob_);
    for (char *p : oldnames_) _zvdb_free(p);
    for (char *p : newnames_) _zvdb_free(p);
    if (fresh_) zvdbFreeTable(fresh_);
}

// The type of field f in the old records.
int32_t stored_type(const tagZVDBFIELD *f) { return f->dodaentry ? f->dodaentry->ftype : f->type; }

// Every field whose values the copy carries over has a road to its new
// type: 0, or 4042.
ZVDBRET Copy::check_roads() const {
    for (int32_t i = 0; i < _zvdbListCount(t_->fields); i++) {
        const auto *f = static_cast<const tagZVDBFIELD *>(t_->fields->items[i]);
        if (f->status & (kFieldNew | kFieldDeleted)) continue;
        if (copy_road(stored_type(f), f->type) == CopyRoad::kNone) return ZVDB_NO_CONVERSION;
    }
    return 0;
}

// A segmented data file that has reached its segment size cannot be copied
// into a new one of the same kind.
ZVDBRET Copy::size_limit() {
    int64_t flags = 0;
    if (int rc = _zvdbGETFIL(t_->datno, kInfoHeaderFlags, &flags)) return rc;
    if (!(flags & kHeaderSegmented)) return 0;
    int64_t size = 0;
    if (int rc = _zvdbGETFIL(t_->datno, kInfoSize, &size)) return rc;
    XCREblk x{};
    if (int rc = _zvdbGETXCREBLK(t_->datno, &x)) return rc;
    return uint64_t(size) >= (uint64_t(x.segsize) << 20) ? ZVDB_NOT_SUPPORTED : 0;
}

// The new table, made from the handles under a working name, with the
// table's callbacks and type.
ZVDBRET Copy::make_fresh() {
    tagZVDBTABLE *t = t_;
    char *name = _zvdbTemporaryName(t);
    if (!name) return zvdbGetError(t) ? zvdbGetError(t) : ZVDB_NO_MEMORY;
    fresh_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(t->session));
    if (!fresh_) {
        _zvdb_free(name);
        return ZVDB_NO_MEMORY;
    }
    std::memcpy(fresh_->callbacks, t->callbacks, sizeof t->callbacks);
    fresh_->tabletype = t->tabletype;
    if (deleteflag_) fresh_->createmode |= kCreateDeleteFlag;
    const bool empty = (action_ & kActionEmpty) != 0;
    if (empty) t->recformat = kFormatEmpty;
    ZVDBRET rc;
    {
        LookupsOff off(empty);
        rc = _zvdbCreateTemporary(t, fresh_, name, oldnames_.data(), newnames_.data(),
                                  (action_ & kActionKeepModes) ? 1 : 0, 0);
    }
    _zvdb_free(name);
    if (rc == 0) {
        fresh_->tabletype = t->tabletype;
        std::memcpy(fresh_->callbacks, t->callbacks, sizeof t->callbacks);
    }
    return rc;
}

ZVDBRET Copy::progress(uint32_t percent) {
    t_->rebuildprogress = percent;
    return fire_table_callback(t_, kCbProgress, int32_t(percent));
}

// Field f of the old record (its stored number and type) into field j of
// the new one.
ZVDBRET Copy::copy_field(tagZVDBFIELD *f, int32_t j) {
    const int32_t n = f->schemapos;
    const int32_t stored = stored_type(f);
    if (copy_road(stored, f->type) == CopyRoad::kConvert) return copy_numeric(from_, n, stored, to_, j, f->type);
    if (stored == ZV_FSTRING || stored == ZV_STRING) {
        const int32_t length = zvdbGetFieldDataLength(from_, n);
        const size_t need = size_t(length > kTextMin ? length : kTextMin) + 1;
        if (text_.size() < need) text_.resize(need);
        if (ZVDBRET rc = zvdbGetFieldAsString(from_, n, text_.data(), int32_t(text_.size()))) return rc;
        return zvdbSetFieldAsString(to_, j, text_.data());
    }
    if (stored == ZV_TIME && f->type == ZV_TIME_MS) {
        ZVTIME ms = 0;
        if (ZVDBRET rc = zvdbGetFieldAsTimeMsec(from_, n, &ms)) return rc;
        return zvdbSetFieldAsTimeMsec(to_, j, ms);
    }
    if (stored == ZV_TIME_MS && f->type == ZV_TIME) {
        ZVTIME s = 0;
        if (ZVDBRET rc = zvdbGetFieldAsTime(from_, n, &s)) return rc;
        return zvdbSetFieldAsTime(to_, j, s);
    }
    if (ZVDBRET rc = zvdbGetFieldAsBlob(from_, n, blob_)) return rc;
    return zvdbSetFieldAsBlob(to_, j, blob_);
}

// The default of new field f into field j, under the field's own date and
// time types.
ZVDBRET Copy::set_default(tagZVDBFIELD *f, int32_t j) {
    tagZVDBSESSION *s = t_->session;
    const ZVDATE_TYPE datetype = s->defdatetype;
    const ZVTIME_TYPE timetype = s->deftimetype;
    s->defdatetype = f->defdatetype;
    s->deftimetype = f->deftimetype;
    ZVDBRET rc = 0;
    if (f->defkind == kDefaultLiteral) {
        const char *bytes = nullptr;
        size_t length = 0;
        literal_default(f, &bytes, &length);
        if (bytes && binary_default(f->type)) {
            rc = zvdbSetFieldAsBinary(to_, j, bytes, int32_t(length));
        } else if (bytes) {
            if (text_.size() < length + 1) text_.resize(length + 1);
            std::memcpy(text_.data(), bytes, length);
            text_[length] = '\0';
            rc = zvdbSetFieldAsString(to_, j, text_.data());
        }
    } else if (f->defkind == kDefaultUser) {
        const char *user = zvdbGetUserLogonName(t_);
        rc = zvdbSetFieldAsString(to_, j, user ? user : "");
    } else if (f->defkind >= kDefaultNowFirst && f->defkind <= kDefaultNowLast) {
        rc = zvdbSetFieldAsDateTime(to_, j, now_);
    } else if (f->defkind != kDefaultNull) {
        rc = ZVDB_NOT_SUPPORTED;
    }
    s->defdatetype = datetype;
    s->deftimetype = timetype;
    return rc;
}

ZVDBRET Copy::copy_records() {
    tagZVDBTABLE *t = t_;
    from_ = static_cast<tagZVDBRECORD *>(zvdbAllocRecord(t));
    to_ = static_cast<tagZVDBRECORD *>(zvdbAllocRecord(fresh_));
    if (!from_ || !to_) return ZVDB_NO_MEMORY;
    uint64_t count = 0;
    if (!(t->openmode & kOpenThroughDefinition)) {
        if (ZVDBRET rc = zvdbGetRecordCount(from_, &count)) return rc;
    }
    if (ZVDBRET rc = progress(0)) return rc;
    if (ZVDBRET rc = zvdbSetDefaultIndex(from_, kPhysicalOrder)) return rc;
    const bool defaults = fresh_->defaultedfields > 0;
    if (defaults) {
        int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
        if (ZVDBRET rc = _zvdbSysTime(&y, &mo, &d, &h, &mi, &s)) return rc;
        if (ZVDBRET rc = zvdbDateTimePack(&now_, y, mo, d, h, mi, s)) return rc;
    }
    const bool rowids = t->hasrowid && fresh_->hasrowid;
    const int32_t nfields = _zvdbListCount(t->fields);
    uint64_t done = 0;
    ZVDBRET rc = zvdbFirstRecord(from_);
    while (rc == 0) {
        if ((rc = zvdbClearRecord(to_)) != 0) return rc;
        int32_t j = 0;
        for (int32_t i = 0; i < nfields; i++) {
            auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[i]);
            if (f->status & kFieldDeleted) continue;
            if (!(f->status & kFieldNew)) {
                if (!zvdbIsNullField(from_, f->schemapos) && (rc = copy_field(f, j)) != 0) return rc;
            } else if (f->defkind != 0 && defaults) {
                if ((rc = set_default(f, j)) != 0) return rc;
            }
            j++;
        }
        done++;
        if (count > 0) {
            const uint32_t percent = uint32_t(done * 100 / count);
            if (percent != t->rebuildprogress && (rc = progress(percent)) != 0) return rc;
        }
        if (rowids && from_->rowidslot && to_->rowidslot) {
            std::memcpy(to_->rowidslot->data, from_->rowidslot->data, 8);
            to_->edited = 1;
        }
        rc = zvdbWriteRecord(to_);
        if (rc == kDuplicateKey && (action_ & kActionSkipDuplicates)) rc = 0;
        if (rc) return rc;
        rc = zvdbNextRecord(from_);
    }
    if (rc != kEnd) return rc;
    if (t->rebuildprogress < 100) {
        if ((rc = progress(100)) != 0) return rc;
    }
    return 0;
}

// The old table's identity field defined on the new file after the copy,
// counting on from the old file's next value.
ZVDBRET Copy::carry_identity() {
    tagZVDBTABLE *t = t_;
    if (!t->identityname || fresh_->identityname) return 0;
    if (ZVDBRET rc = zvdbSetIdentityField(fresh_, t->identityname, t->identityseed, t->identityincr)) return rc;
    if (ZVDBRET rc = _zvdb_AddIDField(fresh_)) return rc;
    int64_t next = 0;
    if (getIDfield(t->datno, 2, &next) != 0) return 0;  // defined by this alteration: nothing to carry
    return resetIDfield(fresh_->datno, next);
}

// The new files deleted and the table opened again on its own: rc.
ZVDBRET Copy::drop_fresh(ZVDBRET rc) {
    if (fresh_ && fresh_->active) {
        if (to_) to_ = static_cast<tagZVDBRECORD *>(zvdbFreeRecord(to_));
        _zvdbIconReset(fresh_);
        if (fresh_->datno >= 0) delete_set_files(fresh_->datno, fresh_->ifil);
        fresh_->datno = -1;
        _zvdbCleanupTableHandle(fresh_);
    }
    if (from_) from_ = static_cast<tagZVDBRECORD *>(zvdbFreeRecord(from_));
    reopen_set(t_, previous_, t_->ifil, true);
    return rc;
}

ZVDBRET Copy::run() {
    tagZVDBTABLE *t = t_;
    previous_ = t->openmode;
    if (!(action_ & kActionEmpty)) {
        if (ZVDBRET rc = check_roads()) return rc;
    }
    if (ZVDBRET rc = size_limit()) return rc;
    const int32_t nidx = _zvdbListCount(t->indexes);
    oldnames_.assign(size_t(nidx > 0 ? nidx : 1), nullptr);
    newnames_.assign(size_t(nidx > 0 ? nidx : 1), nullptr);
    // The swap renames only sets open not shared.
    if (ZVDBRET rc = reopen_set(t, reopen_ | kOpenExclusive, t->ifil, false)) {
        if (t->datno < 0) open_set(t, previous_, t->ifil, true);
        return rc;
    }
    const bool empty = (action_ & kActionEmpty) != 0;
    if (!empty && !(blob_ = zvdbBlobAlloc(kTextMin))) return drop_fresh(ZVDB_NO_MEMORY);
    if (ZVDBRET rc = make_fresh()) return drop_fresh(rc);
    // From here a failure deletes the new files.
    serials_ = (t->hasrowid && fresh_->hasrowid) || (_zvdbHasSRLSEG(t) && _zvdbHasSRLSEG(fresh_));
    if (serials_ && empty) {
        if (ZVDBRET rc = _zvdbUpdateSerial(fresh_, 0)) return drop_fresh(rc);
    }
    if (!empty) {
        if (serials_) {
            if (int rc = PUTHDR(fresh_->datno, 1, kAttrKeepSerial)) return drop_fresh(rc);
        }
        if (ZVDBRET rc = copy_records()) return drop_fresh(rc);
        if (serials_) {
            uint64_t serial = 0;
            if (int rc = PUTHDR(fresh_->datno, 0, kAttrKeepSerial)) return drop_fresh(rc);
            if (int rc = _zvdbGetSerial(t, &serial)) return drop_fresh(rc);
            if (int rc = _zvdbUpdateSerial(fresh_, serial)) return drop_fresh(rc);
        }
    }
    if (ZVDBRET rc = carry_identity()) return drop_fresh(rc);
    if (to_) to_ = static_cast<tagZVDBRECORD *>(zvdbFreeRecord(to_));
    if (from_) from_ = static_cast<tagZVDBRECORD *>(zvdbFreeRecord(from_));
    // Every page of the new set on disk before it takes the table's place.
    if (int rc = ZVFLUSH(-1)) return drop_fresh(rc);
    bool placed = false;
    ZVDBRET rc = swap_table_files(t, fresh_, oldnames_.data(), newnames_.data(), nidx, &placed);
    if (!placed) return drop_fresh(rc);
    // The new set carries the table's names: the table reopens on it, the
    // set rebuilt from its definition when its close fails.
    IFIL *now = nullptr;
    int32_t length = 0;
    _zvdbGETIFIL(fresh_->datno, &now, &length);
    int flushed = ZVFLUSH(-1);
    ZVDBRET closed = zvdbCloseTable(fresh_);
    ZVDBRET again = open_set(t, reopen_ & ~(4u | kOpenThroughDefinition), now, true);
    _zvdb_free(now);
    if (rc == 0) rc = flushed ? flushed : closed;
    return rc ? rc : again;
}

}  // namespace

ZVDBRET alter_copy(tagZVDBTABLE *t, uint32_t action, bool deleteflag, uint32_t reopenmode) {
    Copy copy(t, action, deleteflag, reopenmode);
    return copy.run();
}

}  // namespace zv
