// The function-number entry point `zarvo` (zarvo.h): its generic arguments,
// the four tables of targets, the directly called codes and the
// sub-functions of the second-level number 0x26AB.
//
// Every target sits behind a small adapter that unpacks the generic
// arguments by the target's own signature. The tables (dispatch_tables.cpp)
// are constant arrays of {name, adapter}; a target that is not built yet
// sits in its slot under its name with the empty-slot routine of its table,
// so binding it later changes exactly that one entry.
//
// The entry point sits above every engine subsystem (engine/entry): it may
// include the headers of all of them and the public headers, since its
// tables name targets from each. Nothing in the engine includes it; the
// record-level API and applications reach it through zarvo.h alone.
//
// Invariants:
//  1. Every one of the 205 valid function numbers appears once in kCodes;
//     any other number is refused (170) by the decoder.
//  2. arg4 and arg6 of ZvArgs are never null: a missing pointer is replaced
//     by a local zero that receives what would be stored through it.
//  3. An adapter does not allocate and makes no system call of its own.
#pragma once

#include <array>
#include <cstdint>

namespace zv {

// The generic arguments of one zarvo call.
struct ZvArgs {
    uint16_t fn;     // function number
    int16_t filno;   // file number (a key number for key calls)
    void *arg3;      // a value, or a pointer to a parameter block
    int32_t *arg4;   // position in and out (never null here)
    void *arg5;      // buffer: record, key value or target, name
    int32_t *arg6;   // length in and out (never null here)
    int32_t arg7;    // mode, length or count; the sub-function of 0x26AB
};

// Adapter kinds, by what the target returns.
using FnStatus = int (*)(ZvArgs &);        // a status code (zvfptr, direct codes)
using FnPos = uint32_t (*)(ZvArgs &);      // a position or count (zvlptr)
using FnLen = int32_t (*)(ZvArgs &);       // a length (zvvptr)
using FnPtr = void *(*)(ZvArgs &);         // a pointer (zvtptr)

template <class F>
struct Slot {
    const char *name;  // the target's name; null for a slot without target
    F fn;              // its adapter, or the table's empty-slot routine
};

// Roads of a valid function number.
enum class Road : uint8_t {
    Status,   // zvfptr, index 1..149
    Pos,      // zvlptr, index 150..177
    Len,      // zvvptr, index 180..185
    Ptr,      // zvtptr, index 188..190
    Direct,   // called directly: slot = index into zvdirect
    Refused,  // answered inline with 454
    Masked,   // 0x0271: the masked fourth argument to zvfptr slot 113
    Second,   // 0x26AB: the second level
};

struct Code {
    uint16_t fn;
    Road road;
    uint8_t slot;  // Direct: index into zvdirect; otherwise 0
};

constexpr int kFptrSlots = 151;
constexpr int kLptrSlots = 28;
constexpr int kVptrSlots = 6;
constexpr int kTptrSlots = 3;
constexpr int kDirectCodes = 35;
constexpr int kSubFunctions = 72;  // 0..71
constexpr int kValidCodes = 205;

extern const Slot<FnStatus> zvfptr[kFptrSlots];
extern const Slot<FnPos> zvlptr[kLptrSlots];
extern const Slot<FnLen> zvvptr[kVptrSlots];
extern const Slot<FnPtr> zvtptr[kTptrSlots];
extern const Slot<FnStatus> zvdirect[kDirectCodes];
// Sub-functions of 0x26AB: each returns the status stored through arg4.
extern const Slot<FnStatus> zvsubfn[kSubFunctions];
// The valid function numbers, ascending.
extern const Code kCodes[kValidCodes];
// Jump table of the decoder, by function index (low byte, 0..255): the
// positions in kCodes of the numbers with that index, 0xFF for none.
using CodeIndex = std::array<std::array<uint8_t, 2>, 256>;
extern const CodeIndex kCodeIndex;

// Empty-slot routines: uerr_cod 6; NOFUNCT returns 6, NOFUNCL and NOFUNCV
// return 0 (stored through the fourth or sixth argument). nofuncp serves a
// pointer slot whose target is not built yet; nosub an unbuilt sub-function.
int NOFUNCT(ZvArgs &);
uint32_t NOFUNCL(ZvArgs &);
int32_t NOFUNCV(ZvArgs &);
void *nofuncp(ZvArgs &);
int nosub(ZvArgs &);

// The decoded entry of a function number, or null when it is not valid.
const Code *decode_function(uint16_t fn);

// What a valid number reaches, for tests and diagnostics: the target's
// name (null for an empty slot or an inline answer) and whether an adapter
// is bound (false while the slot holds its empty-slot routine).
struct DispatchTarget {
    const char *name;
    bool bound;
};
bool describe_function(uint16_t fn, DispatchTarget *out);

// Instance status-word bit set by 0x0271.
constexpr uint32_t kStatusMaskedCall = 0x00400000;

}  // namespace zv
