// Batches of record handles: many records per engine request. A retrieval
// batch (operations 1 key prefix, 2 index range, 3 physical order) fills a
// buffer that the record then walks one entry at a time; a delete batch
// (4) deletes a key prefix's records in one request; insert (5) and update
// (6) batches gather packed records behind a 20-byte header and hand them
// to the engine when the buffer is full and when the batch ends. Every
// batch holds a number from its session's pool, made current in the
// engine before each of its requests, so that records of one session can
// hold batches side by side.
//
// Layouts (host byte order):
//   retrieval entry   position (4 bytes; 8, high word first, on a table
//                     created with bit 0x100 or 0x800), u32 length
//                     (variable-length tables), image; compact mode
//                     (0x200000): the position only
//   insert entry      zeroed position placeholder (as above), u32 length
//                     (variable-length tables), image; compact: the image
//   update entry      u32 length (variable-length tables), image; compact:
//                     the image
//
// Invariants:
//  1. batchno is not 0 exactly while the record holds that number from
//     its session's pool; the pool never hands a number out twice.
//  2. Retrieval: loaded entries lie between cursor and the end of the last
//     reply. Insert and update: loaded entries lie between buffer + 20 and
//     cursor, none of them given to the engine yet.
//  3. A flush that fails keeps the entries the engine did not take, in
//     order, and nothing else.
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/records/nav.h"
#include "recapi/records/set_calls.h"

namespace zv {

namespace {

// Operations of the mode word's low byte.
enum : uint32_t { kByPrefix = 1, kByRange = 2, kPhysical = 3, kDelete = 4, kInsert = 5, kUpdate = 6 };
// Mode bits of the record-level API.
constexpr uint32_t kGrow = 0x80000;
constexpr uint32_t kCompact = 0x200000;
constexpr uint32_t kKeepLocksOption = 0x1000;
// Bytes of a request block and of a buffer's header.
constexpr int32_t kBlockSize = 1040;
constexpr int32_t kHeader = 20;
constexpr int32_t kMaxTarget = 1024;
// Create-mode bits of tables whose positions take 8 bytes.
constexpr uint32_t kWidePositions = 0x100 | 0x800;

// The engine's answers the batch reads: the end of a batch, no batch to
// end, a buffer too small; and its code for a range of more segments than
// the index has.
constexpr int kBatchEnded = 428;
constexpr int kNoBatch = 426;
constexpr int kBufferSmall = 429;
constexpr int kTooManySegments = 608;

using Block = unsigned char[kBlockSize];

uint32_t get_u32(const unsigned char *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void put_u32(unsigned char *p, uint32_t v) { std::memcpy(p, &v, 4); }
void put_u16(unsigned char *p, uint16_t v) { std::memcpy(p, &v, 2); }
void put_ptr(unsigned char *p, const void *v) { std::memcpy(p, &v, sizeof v); }

BatchCounts counts;

uint32_t operation(const tagZVDBRECORD *r) { return r->batchmode & 0xFF; }
bool compact(const tagZVDBRECORD *r) { return (r->batchmode & kCompact) != 0; }
bool extended(const tagZVDBRECORD *r) { return r->batch.filter || r->batch.segments > 0; }

// The engine's request bits of the mode word's options.
uint32_t engine_options(uint32_t mode) {
    static constexpr struct {
        uint32_t api, engine;
    } kMap[] = {{0x800, 0x10},         {0x1000, 0x8000},      {0x2000, 0x800},     {0x4000, 0x1000},
                {0x8000, 0x100000},    {0x10000, 0x80000},    {0x20000, 0x2000},   {0x40000, 0x8000000},
                {0x80000, 0x10000000}, {0x100000, 0x20000000}};
    uint32_t bits = 0;
    switch (mode & 0x600) {
    case 0x200: bits |= 0x100; break;
    case 0x400: bits |= 0x40000; break;
    case 0x600: bits |= 0x40100; break;
    default: break;
    }
    for (const auto &m : kMap) {
        if (mode & m.api) bits |= m.engine;
    }
    return bits;
}

// Request words: a retrieval's start (3) or continuation (2), the flushes
// of inserts (6) and updates (5), the end (1).
uint32_t retrieval_word(const tagZVDBRECORD *r, uint32_t engine_op) {
    static constexpr uint32_t kSelection[] = {0, 0, 0x20000, 0x10000};
    const uint32_t content = compact(r) ? kCompact : 0x20;
    return content | kSelection[operation(r)] | engine_op | engine_options(r->batchmode);
}
uint32_t flush_word(const tagZVDBRECORD *r) {
    const uint32_t content = compact(r) ? kCompact : 0x20;
    return content | (operation(r) == kInsert ? 6u : 5u) | engine_options(r->batchmode);
}
uint32_t end_word(const tagZVDBRECORD *r) {
    return 1u | engine_options(r->batchmode) | ((r->batchmode & kKeepLocksOption) ? 0x8000u : 0u);
}

// The file a request of the batch goes to.
int request_file(tagZVDBRECORD *r) {
    const uint32_t op = operation(r);
    return op == kPhysical || op == kInsert ? r->table->datno : _zvdbIdxno(r);
}

// Bytes of a record position in the table's entries.
int32_t position_width(const tagZVDBTABLE *t) { return (t->createmode & kWidePositions) ? 8 : 4; }

ZVDBRET call_engine(int file, void *block, void *buffer, int32_t size, uint32_t word) {
    counts.requests++;
    return _zvdbBATSETX(file, block, buffer, size, word);
}

// Replaces the batch's buffer by an empty one of `data` bytes after a
// header: 0 or 4001 (the old buffer kept).
ZVDBRET replace_buffer(ZVDBBATCH &b, int64_t data) {
    if (data > INT32_MAX - kHeader) return ZVDB_NO_MEMORY;
    auto *grown = static_cast<unsigned char *>(_zvdb_alloc(1, int32_t(data) + kHeader));
    if (!grown) return ZVDB_NO_MEMORY;
    _zvdb_free(b.buffer);
    b.buffer = grown;
    b.size = int32_t(data) + kHeader;
    b.cursor = grown + kHeader;
    return 0;
}

// Issues a retrieval request; on a buffer too small for the next entry, a
// batch that may grow takes a buffer of the size the engine names and asks
// again for the rest.
ZVDBRET do_batch(tagZVDBRECORD *r, int file, unsigned char *block, bool extended_block, uint32_t word) {
    ZVDBBATCH &b = r->batch;
    for (;;) {
        if (extended_block) put_u32(block, word);
        ZVDBRET rc = call_engine(file, block, b.buffer, b.size, extended_block ? ZV_BAT_EXTENDED : word);
        if (rc != kBufferSmall || !(r->batchmode & kGrow)) return rc;
        const uint32_t needed = get_u32(block + (extended_block ? ZV_BATREQX_NEEDED : ZV_BATREQ_LOCKED));
        if (needed == 0) return rc;
        if (ZVDBRET grown = replace_buffer(b, needed)) return grown;
        // The selection is made: what is left comes as a continuation.
        word = (word & ~ZV_BAT_OPMASK) | ZV_BAT_NEXT;
    }
}

// The reply of a retrieval request into the batch state.
void take_reply(tagZVDBRECORD *r, const unsigned char *block, bool extended_block) {
    ZVDBBATCH &b = r->batch;
    b.total = get_u32(block + (extended_block ? ZV_BATREQX_TOTAL : ZV_BATREQ_TOTAL));
    b.locked = get_u32(block + (extended_block ? ZV_BATREQX_LOCKED : ZV_BATREQ_LOCKED));
    b.loaded = get_u32(block + (extended_block ? ZV_BATREQX_RETURNED : ZV_BATREQ_RETURNED));
    b.cursor = b.buffer;
}

// Forms the batch key from the record: its length into the state and the
// key kept. 80 physical order, 4048, 4004, 4043, 4001, the engine's code.
ZVDBRET form_batch_key(tagZVDBRECORD *r, int32_t target) {
    KeyInfo k{};
    if (ZVDBRET rc = default_key(r, &k)) return rc;
    if (target < 0) return ZVDB_BAD_ARGUMENT;
    if (target > k.keylen) return ZVDB_NAME_TOO_LONG;
    ZVDBBATCH &b = r->batch;
    b.key = static_cast<unsigned char *>(_zvdb_alloc(1, k.keylen));
    if (!b.key) return ZVDB_NO_MEMORY;
    b.keylen = uint32_t(k.keylen);
    b.target = uint32_t(target);
    return form_key(r, k, b.key, 0);
}

// A plain block carrying the batch key's prefix.
void put_key(const tagZVDBRECORD *r, unsigned char *block) {
    const ZVDBBATCH &b = r->batch;
    const uint32_t n = b.target < uint32_t(kMaxTarget) ? b.target : uint32_t(kMaxTarget);
    put_u16(block + ZV_BATREQ_SIGLEN, uint16_t(n));
    if (b.key && n) std::memcpy(block + ZV_BATREQ_TARGET, b.key, n);
}

// The buffer of a batch: size bytes, or the default of 128 records.
ZVDBRET take_buffer(tagZVDBRECORD *r, int32_t size) {
    ZVDBBATCH &b = r->batch;
    int64_t n = size > 0 ? size : int64_t(128) * r->table->fixedlen;
    if (n < kHeader) n = kHeader;
    if (n > INT32_MAX) return ZVDB_NO_MEMORY;
    b.buffer = static_cast<unsigned char *>(_zvdb_alloc(1, int32_t(n)));
    if (!b.buffer) return ZVDB_NO_MEMORY;
    b.size = int32_t(n);
    b.cursor = b.buffer;
    return 0;
}

// Takes a number from the session's pool and makes it the engine's current
// batch.
ZVDBRET hold_number(tagZVDBRECORD *r) {
    int16_t number = 0;
    if (ZVDBRET rc = _zvdbTakeBatchNumber(r->session, &number)) return rc;
    r->batchno = number;
    return _zvdbCHGBAT(number);
}

// Lets go of the batch: the engine's batch freed, the number back in the
// pool, the buffers freed and the state cleared (filter and range stay).
void drop_batch(tagZVDBRECORD *r) {
    if (r->batchno) {
        _zvdbFREBATN(r->batchno);
        _zvdbReleaseBatchNumber(r->session, r->batchno);
    }
    ZVDBBATCH &b = r->batch;
    _zvdb_free(b.key);
    _zvdb_free(b.buffer);
    b.key = b.buffer = b.cursor = nullptr;
    b.size = 0;
    b.total = b.locked = b.loaded = b.target = b.keylen = 0;
    r->batchno = 0;
    r->batchmode = 0;
}

ZVDBRET start_plain(tagZVDBRECORD *r, int32_t target, int32_t size) {
    alignas(8) Block block{};
    const uint32_t op = operation(r);
    ZVDBRET rc = 0;
    if (op == kByPrefix || op == kDelete) rc = form_batch_key(r, target);
    if (rc) return rc;
    if (op == kByPrefix || op == kDelete) put_key(r, block);
    if (op != kDelete && (rc = take_buffer(r, size)) != 0) return rc;
    if ((rc = hold_number(r)) != 0) return rc;
    if (op == kInsert || op == kUpdate) {
        r->batch.cursor = r->batch.buffer + kHeader;
        return 0;
    }
    if (op == kDelete) {
        rc = call_engine(request_file(r), block, nullptr, 0, ZV_BAT_DELETE | engine_options(r->batchmode));
        r->batch.total = get_u32(block + ZV_BATREQ_TOTAL);
        r->batch.loaded = get_u32(block + ZV_BATREQ_RETURNED);
        return rc;
    }
    if ((rc = do_batch(r, request_file(r), block, false, retrieval_word(r, ZV_BAT_FIRST))) != 0) return rc;
    take_reply(r, block, false);
    return 0;
}

// A retrieval under a batch filter or a batch range: the extended block.
ZVDBRET start_extended(tagZVDBRECORD *r, int32_t target, int32_t size) {
    alignas(8) Block block{};
    ZVDBBATCH &b = r->batch;
    const uint32_t op = operation(r);
    if (op >= kPhysical && op <= kUpdate) return ZVDB_NOT_SUPPORTED;
    if (op != kByPrefix && op != kByRange) return ZVDB_BAD_BATCH_OP;
    ZVDBRET rc = 0;
    if (op == kByPrefix && b.segments == 0) {
        if ((rc = form_batch_key(r, target)) != 0) return rc;
        put_u16(block + ZV_BATREQX_SIGLEN, uint16_t(b.target < uint32_t(kMaxTarget) ? b.target : kMaxTarget));
        put_ptr(block + ZV_BATREQX_TARGET, b.key);
    }
    if ((rc = take_buffer(r, size)) != 0 || (rc = hold_number(r)) != 0) return rc;
    put_ptr(block + ZV_BATREQX_FILTER, b.filter);
    if (b.segments > 0) {
        KeyInfo k{};
        if ((rc = default_key(r, &k)) != 0) return rc;
        put_u16(block + ZV_BATREQX_SIGLEN, uint16_t(k.keylen));
        put_u16(block + ZV_BATREQX_NSEG, uint16_t(b.segments));
        put_ptr(block + ZV_BATREQX_TARGET, b.low);
        put_ptr(block + ZV_BATREQX_UPPER, b.high);
        put_ptr(block + ZV_BATREQX_OPS, b.ops);
    }
    if ((rc = do_batch(r, request_file(r), block, true, retrieval_word(r, ZV_BAT_FIRST))) != 0) return rc;
    take_reply(r, block, true);
    return 0;
}

ZVDBRET start_batch(tagZVDBRECORD *r, uint32_t mode, int32_t target, int32_t size) {
    tagZVDBTABLE *t = r->table;
    if (!t || !t->active) return ZVDB_NOT_ACTIVE;
    if (r->batchno) return ZVDB_BATCH_ACTIVE;
    if (_zvdbListCount(r->fieldmask) > 0) return ZVDB_NOT_SUPPORTED;
    if (size < 0) return ZVDB_BAD_ARGUMENT;
    ZVDBRET rc = _zvdbRecordContext(r);
    if (rc == 0) rc = _zvdbInitRecord(r);
    if (rc == 0) rc = _zvdbFixRecordBuffer(r, 0);
    if (rc) return rc;
    drop_batch(r);
    r->batchmode = mode | (size == 0 ? kGrow : 0);
    const uint32_t op = operation(r);
    if (extended(r)) rc = start_extended(r, target, size);
    else if (op < kByPrefix || op > kUpdate) rc = ZVDB_BAD_BATCH_OP;
    else rc = start_plain(r, target, size);
    if (rc) drop_batch(r);
    return rc;
}

// Walks past the first n entries of an insert or update buffer: the bytes
// they take, or -1 when an entry passes the end of the used bytes or the
// entries carry no lengths to walk by (compact entries of variable-length
// records).
int64_t entries_bytes(const tagZVDBRECORD *r, uint32_t n) {
    const bool variable = variable_file(r->table);
    if (variable && compact(r)) return -1;
    const int32_t slot = operation(r) == kInsert && !compact(r) ? position_width(r->table) : 0;
    const unsigned char *p = r->batch.buffer + kHeader;
    const unsigned char *end = r->batch.cursor;
    for (uint32_t i = 0; i < n; i++) {
        int64_t length = r->table->fixedlen;
        if (variable) {
            if (end - p < slot + 4) return -1;
            length = int64_t(get_u32(p + slot)) + 4;
        }
        if (end - p < slot + length) return -1;
        p += slot + length;
    }
    return p - (r->batch.buffer + kHeader);
}

// Hands the waiting entries to the engine. On failure the entries the
// engine took are dropped from the buffer and the rest kept.
ZVDBRET flush(tagZVDBRECORD *r) {
    ZVDBBATCH &b = r->batch;
    std::memset(b.buffer, 0, kHeader);
    put_u32(b.buffer + 8, b.loaded);
    ZVDBRET rc = _zvdbCHGBAT(r->batchno);
    const int32_t used = int32_t(b.cursor - (b.buffer + kHeader));
    const int file = operation(r) == kInsert ? r->table->datno : _zvdbIdxno(r);
    if (rc == 0) rc = call_engine(file, b.buffer, nullptr, used, flush_word(r));
    if (rc == 0) {
        b.loaded = 0;
        b.cursor = b.buffer + kHeader;
        return 0;
    }
    // Inserts report the records added; updates those rewritten and added.
    uint32_t taken = operation(r) == kInsert ? get_u32(b.buffer + 8) : get_u32(b.buffer) + get_u32(b.buffer + 4);
    if (taken > b.loaded) taken = b.loaded;
    const int64_t bytes = entries_bytes(r, taken);
    if (taken > 0 && bytes > 0) {
        std::memmove(b.buffer + kHeader, b.buffer + kHeader + bytes, size_t(used - bytes));
        b.cursor -= bytes;
        b.loaded -= taken;
    }
    return rc;
}

ZVDBRET append_entry(tagZVDBRECORD *r) {
    ZVDBBATCH &b = r->batch;
    const bool variable = variable_file(r->table) && !compact(r);
    const int32_t slot = operation(r) == kInsert && !compact(r) ? position_width(r->table) : 0;
    const int64_t entry = int64_t(slot) + (variable ? 4 : 0) + r->length;
    if (entry > (b.buffer + b.size) - b.cursor) {
        if (b.loaded > 0) {
            if (ZVDBRET rc = flush(r)) return rc;
        }
        if (int64_t(b.size) - kHeader < entry) {
            if (ZVDBRET rc = replace_buffer(b, entry)) return rc;
        }
    }
    std::memset(b.cursor, 0, size_t(slot));
    b.cursor += slot;
    if (variable) {
        put_u32(b.cursor, uint32_t(r->length));
        b.cursor += 4;
    }
    std::memcpy(b.cursor, r->buffer, size_t(r->length));
    b.cursor += r->length;
    b.loaded++;
    return 0;
}

// Loads the next retrieval entry into the record.
ZVDBRET next_entry(tagZVDBRECORD *r) {
    ZVDBBATCH &b = r->batch;
    if (b.loaded < 1) {
        alignas(8) Block block{};
        put_key(r, block);
        if (ZVDBRET rc = do_batch(r, request_file(r), block, false, retrieval_word(r, ZV_BAT_NEXT))) return rc;
        b.loaded = get_u32(block + ZV_BATREQ_RETURNED);
        b.cursor = b.buffer;
        // The batch is over: the record keeps the last record delivered.
        if (b.loaded == 0) return kBatchEnded;
    }
    const tagZVDBTABLE *t = r->table;
    const unsigned char *p = b.cursor;
    uint64_t position = get_u32(p);
    if (position_width(t) == 8) position = position << 32 | get_u32(p + 4);
    p += position_width(t);
    if (compact(r)) {
        r->position = position;
        b.cursor = const_cast<unsigned char *>(p);
        b.loaded--;
        return 0;
    }
    int32_t length = int32_t(t->fixedlen);
    if (variable_file(t)) {
        length = int32_t(get_u32(p));
        p += 4;
    }
    if (length > r->size) {
        if (ZVDBRET rc = _zvdbRecordSetSize(r, length)) return rc;
    }
    std::memcpy(r->buffer, p, size_t(length));
    // As a read leaves it: the rest of a variable-length image holds the
    // delimiter byte.
    if (variable_file(t) && length < r->size) std::memset(r->buffer + length, t->delimbyte, size_t(r->size - length));
    r->length = length;
    r->position = position;
    r->isnew = r->edited = 0;
    b.loaded--;
    b.cursor = const_cast<unsigned char *>(p) + length;
    if (ZVDBRET rc = _zvdbUpdateRecord(r, 0)) return rc;
    return r->length > length ? ZVDB_BAD_VARDATA : 0;
}

// The record of a handle bound to an open table, with a batch of one of
// the operations first..last: 4024, 4012, 4096, 4098.
ZVDBRET batch_record(ZVHANDLE record, tagZVDBRECORD **r, uint32_t first, uint32_t last) {
    *r = record_of(record);
    if (!*r) return ZVDB_NO_RECORD;
    if (!(*r)->table || !(*r)->table->active) return ZVDB_NOT_ACTIVE;
    if (!(*r)->batchno) return ZVDB_NO_BATCH;
    const uint32_t op = operation(*r);
    return op < first || op > last ? ZVDB_BAD_BATCH_OP : 0;
}

void free_range(ZVDBBATCH &b) {
    b.low = static_cast<unsigned char *>(_zvdb_free(b.low));
    b.high = static_cast<unsigned char *>(_zvdb_free(b.high));
    b.ops = static_cast<uint32_t *>(_zvdb_free(b.ops));
    b.segments = 0;
}

ZVDBRET range_on(tagZVDBRECORD *r, int32_t segments, const void *low, const void *high, const int32_t *ops) {
    ZVDBBATCH &b = r->batch;
    if (r->batchno) return ZVDB_BATCH_ACTIVE;
    if (segments < 1) return ZVDB_BAD_ARGUMENT;
    if (b.segments > 0) return ZVDB_BATCH_SET;
    if (!low || !ops) return ZVDB_BAD_KIND;
    if (!r->table || !r->table->active) return ZVDB_NOT_ACTIVE;
    KeyInfo k{};
    if (ZVDBRET rc = default_key(r, &k)) return rc;
    // The engine's limit for a range, before the caller's words are read.
    if (segments > k.segments) return kTooManySegments;
    b.low = static_cast<unsigned char *>(_zvdb_alloc(1, k.keylen));
    b.high = high ? static_cast<unsigned char *>(_zvdb_alloc(1, k.keylen)) : nullptr;
    b.ops = static_cast<uint32_t *>(_zvdb_alloc(segments, sizeof(uint32_t)));
    if (!b.low || (high && !b.high) || !b.ops) {
        free_range(b);
        return ZVDB_NO_MEMORY;
    }
    std::memcpy(b.low, low, size_t(k.keylen));
    if (high) std::memcpy(b.high, high, size_t(k.keylen));
    std::memcpy(b.ops, ops, size_t(segments) * sizeof(uint32_t));
    b.segments = segments;
    return 0;
}

// A count of an active retrieval batch, else 0; -4024 for a bad handle.
int32_t retrieval_count(ZVHANDLE record, uint32_t ZVDBBATCH::*count) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return -ZVDB_NO_RECORD;
    return r->batchno && operation(r) <= kPhysical ? int32_t(r->batch.*count) : 0;
}

}  // namespace

BatchCounts &batch_counts() { return counts; }

}  // namespace zv

using namespace zv;

extern "C" {

ZVDBRET _zvdbTakeBatchNumber(tagZVDBSESSION *s, int16_t *number) {
    if (!s) return ZVDB_NO_SESSION;
    if (const int32_t n = _zvdbListCount(s->freebatches)) {
        *number = int16_t(reinterpret_cast<uintptr_t>(s->freebatches->items[n - 1]));
        _zvdbListDelete(s->freebatches, n - 1);
        return 0;
    }
    if (s->lastbatch == UINT16_MAX) return ZVDB_NO_BATCH_NUMBER;
    *number = int16_t(++s->lastbatch);
    return 0;
}

ZVDBRET _zvdbReleaseBatchNumber(tagZVDBSESSION *s, int16_t number) {
    if (!s) return ZVDB_NO_SESSION;
    if (uint16_t(number) == s->lastbatch) {
        s->lastbatch--;
        return 0;
    }
    if (!s->freebatches && !(s->freebatches = _zvdbListAlloc())) return ZVDB_NO_MEMORY;
    return _zvdbListAdd(s->freebatches, reinterpret_cast<void *>(uintptr_t(uint16_t(number))));
}

void _zvdbFreeBatchSettings(tagZVDBRECORD *r) {
    r->batch.filter = static_cast<char *>(_zvdb_free(r->batch.filter));
    free_range(r->batch);
}

ZV_API ZVDBRET zvdbSetBatch(ZVHANDLE record, uint32_t mode, int32_t target, int32_t size) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return keep_code(record, start_batch(r, mode, target, size));
}

ZV_API ZVDBRET zvdbNextBatch(ZVHANDLE record) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = batch_record(record, &r, kByPrefix, kPhysical);
    if (rc == 0) rc = _zvdbRecordContext(r);
    if (rc == 0) rc = _zvdbInitRecord(r);
    if (rc == 0) rc = next_entry(r);
    return rc ? keep_code(record, rc) : 0;
}

ZV_API ZVDBRET zvdbInsertBatch(ZVHANDLE record) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = batch_record(record, &r, kInsert, kUpdate);
    if (rc == 0) rc = _zvdbRecordContext(r);
    if (rc == 0) rc = _zvdbInitRecord(r);
    if (rc == 0) rc = _zvdbFixRecordBuffer(r, 1);
    if (rc == 0) rc = identity_not_null(r);
    if (rc == 0) rc = append_entry(r);
    return rc ? keep_code(record, rc) : 0;
}

ZV_API ZVDBRET zvdbEndBatch(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    ZVDBRET rc = 0;
    if (r->batchno && r->table && r->table->active) {
        rc = _zvdbRecordContext(r);
        const uint32_t op = operation(r);
        if (rc == 0 && (op == kInsert || op == kUpdate) && r->batch.loaded > 0) rc = flush(r);
        alignas(8) Block block{};
        ZVDBRET end = _zvdbCHGBAT(r->batchno);
        if (end == 0) end = call_engine(r->table->datno, block, nullptr, 0, end_word(r));
        if (rc == 0 && end != kNoBatch) rc = end;
    }
    drop_batch(r);
    return rc ? keep_code(record, rc) : 0;
}

ZV_API int32_t zvdbBatchLoaded(ZVHANDLE record) { return retrieval_count(record, &ZVDBBATCH::loaded); }
ZV_API int32_t zvdbBatchLocked(ZVHANDLE record) { return retrieval_count(record, &ZVDBBATCH::locked); }
ZV_API int32_t zvdbBatchTotal(ZVHANDLE record) { return retrieval_count(record, &ZVDBBATCH::total); }

ZV_API uint32_t zvdbBatchMode(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->batchmode : 0;
}

ZV_API int zvdbIsBatchActive(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r && r->batchno != 0;
}

ZV_API ZVDBRET zvdbSetBatchFilter(ZVHANDLE record, const char *text) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (r->batchno) return keep_code(record, ZVDB_BATCH_ACTIVE);
    if (!text || !*text) {
        r->batch.filter = static_cast<char *>(_zvdb_free(r->batch.filter));
        return 0;
    }
    if (r->batch.filter || r->filtertype != 0) return keep_code(record, ZVDB_BATCH_SET);
    r->batch.filter = _zvdb_strdup(text);
    return r->batch.filter ? 0 : keep_code(record, ZVDB_NO_MEMORY);
}

ZV_API ZVDBRET zvdbSetBatchRangeOn(ZVHANDLE record, int32_t segments, const void *low, const void *high,
                                  const int32_t *operators) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return keep_code(record, range_on(r, segments, low, high, operators));
}

ZV_API ZVDBRET zvdbSetBatchRangeOff(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (r->batchno) return keep_code(record, ZVDB_BATCH_ACTIVE);
    free_range(r->batch);
    return 0;
}

}  // extern "C"
