// The record slots of a fixed-length data file in file order, as the
// maintenance walks read them (see slotread.cpp).
#pragma once

#include <cstdint>

struct FCB;

namespace zv {

// Hands out the record image of each slot a walk visits. A file whose
// records are read as stored is read a stretch of slots at a time into a
// buffer of the reader's own; any other file, a slot past the last whole
// stretch, or a reader without its buffer reads the slot through REDREC
// into the caller's record buffer, so that every answer is REDREC's.
class SlotReader {
public:
    // datno and f: the open data file; rec: a buffer of one record.
    SlotReader(int datno, FCB *f, unsigned char *rec);
    ~SlotReader();
    SlotReader(const SlotReader &) = delete;
    SlotReader &operator=(const SlotReader &) = delete;
    // The image of the record at slot position pos, or null with *rc the
    // error REDREC gives for it. The image may be changed by the caller; it
    // stays valid until the next call.
    unsigned char *at(uint64_t pos, int *rc);

private:
    int datno_;
    FCB *f_;
    unsigned char *rec_;
    unsigned char *buf_ = nullptr;  // the stretch read last
    uint32_t room_ = 0;             // slots the buffer holds
    uint64_t first_ = 0;            // position of its first slot
    uint32_t held_ = 0;             // slots it holds now
};

}  // namespace zv
