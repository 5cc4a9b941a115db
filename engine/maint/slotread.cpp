// Record slots of a fixed-length data file read a stretch at a time.
//
// The walks of the index rebuild and of the compaction visit every slot of
// a fixed-length data file in file order. Read one by one, each slot costs
// a pass through the record read and the data cache; read as stretches of
// 128 KB, a walk costs one transfer per stretch. Only files whose records
// REDREC hands over exactly as stored (slots_read_as_stored) are read so,
// and only slots that lie wholly within the last byte used and within the
// bytes the file holds (an area reserved at the end, a grown resource for
// one, can reach past them; the walk skips such areas by their headers);
// every other slot is read by REDREC itself, so a walk sees the same
// images and the same errors either way.
#include "engine/maint/slotread.h"

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr uint32_t kStretchBytes = 131072;

}  // namespace

SlotReader::SlotReader(int datno, FCB *f, unsigned char *rec) : datno_(datno), f_(f), rec_(rec) {
    if (!slots_read_as_stored(f)) return;
    const uint32_t r = f->hdr.base.reclen;
    room_ = r >= kStretchBytes ? 1 : kStretchBytes / r;
    buf_ = static_cast<unsigned char *>(mballc(room_, r));
    if (!buf_) room_ = 0;
}

SlotReader::~SlotReader() { mbfree(buf_); }

unsigned char *SlotReader::at(uint64_t pos, int *rc) {
    const uint32_t r = f_->hdr.base.reclen;
    if (buf_ && held_ && pos >= first_ && pos < first_ + uint64_t(held_) * r && (pos - first_) % r == 0)
        return buf_ + (pos - first_);
    const uint64_t end = join64(f_->hdr.ext.numrech, f_->hdr.base.numrec);
    held_ = 0;
    if (buf_ && pos >= begbytfix(f_) && pos % r == 0 && pos + r - 1 <= end) {
        const uint64_t whole = (end - pos + 1) / r;
        const uint32_t n = whole < room_ ? uint32_t(whole) : room_;
        uint32_t got = 0;
        if ((*rc = read_slots(f_, pos, buf_, n, &got)) != 0) return nullptr;
        if (got > 0) {
            first_ = pos;
            held_ = got;
            return buf_;
        }
        // The file ends inside this slot: REDREC answers for it.
    }
    zvSETHGHi(int32_t(pos >> 32));
    if ((*rc = REDREC(datno_, uint32_t(pos), rec_)) != 0) return nullptr;
    return rec_;
}

}  // namespace zv
