// One wrapper per engine call used by the record-level API.
//
// Each turns an engine habit into the API's "0 or a code": calls that
// report failure only in the current instance's error fields (read here as
// -1 when no instance is current), 64-bit positions that travel as a low
// word with a high word beside the call (the wrappers take and give whole
// 64-bit values), and the failing file of an ISAM call. "Plain" wrappers
// return the engine's code as it is. Names handed to the engine get the
// session's path prefix (paths.h) and are refused with 139 past the 255
// characters the engine takes.
//
// wrap_core.cpp: instances, configuration, file attributes and numbers;
// wrap_files.cpp: single files, resources, locks, filters, serial numbers;
// wrap_index.cpp: keys, key sets and segment definitions;
// wrap_isam.cpp: file sets, ISAM records and stored definitions.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

extern "C" {

// ---- Instances, configuration, attributes (wrap_core.cpp) ----------------
// A NULL name: 0 without a call.
int _zvdbREGZARVO(const char *name);
int _zvdbUNRZARVO(const char *name);
int _zvdbSWTZARVO(const char *name);
const char *_zvdbWCHZARVO(void);
int _zvdbSYSCFG(int32_t *record);
// uerr_cod after SETOPS; when it is 0 the new mode word goes to *mode
// (optional).
int _zvdbSETOPS(int32_t bits, int32_t action, int32_t *mode);
int _zvdbLKISAM(int mode);
// Isolation levels are not kept: 0.
int _zvdbTRANISO(int level);
// The first of count free file numbers into *first (optional), or uerr_cod.
int _zvdbAVLFILNBR(int count, int *first);
// An attribute of an open file as high << 32 | low into *value (optional):
// 0, or uerr_cod when GETFIL gave -1 with an error.
int _zvdbGETFIL(int file, int mode, int64_t *value);
// 1 when the file uses 64-bit positions, else 0.
int _zvdbISHUGEFILE(int file);
// The partition key number of a partitioned data file, else -1.
int _zvdbPartKeyNo(int file);
// Bits 0x200, 0x400 and 0x2000 of the file's attribute word 34 as 0 or 1
// into out1..out3 and 0 into out4 (each optional): 0 or uerr_cod.
int _zvdbGetFLMOD3(int file, int *out1, int *out2, int *out3, int *out4);

// ---- Single files, resources, locks, filters (wrap_files.cpp) ------------
int _zvdbCLSFIL(int file);
int _zvdbDELFIL(int file);
int _zvdbGETXCREBLK(int file, XCREblk *xcre);
// Word 15 of the file's extended create block; -1 on failure.
int _zvdbPartCallParm(int file);
// Creates a data file under the session's prefix with an extended header;
// 83 no memory, 139 a name too long, the prefix's and the engine's codes.
int _zvdbCREDAT(ZVHANDLE handle, int file, const char *name, uint16_t reclen, uint32_t xtdsize,
                uint16_t filmod, int32_t permission, const char *group, const char *password);
int _zvdbOPNFIL(ZVHANDLE handle, int file, const char *name, int mode);
// Opens name (prefixed) at the first of count free file numbers with the
// table's password; the number goes to *file. 33 NULL file, 4013 no table.
int _zvdbOPNFILX(ZVHANDLE table, const char *name, int mode, int *file, int count);
int _zvdbADDRES(int file, void *body, int32_t length);
int _zvdbUPDRES(int file, void *body, int32_t length);
int _zvdbDELRES(int file, const void *body);
// 0 when the resource was found, else uerr_cod.
int _zvdbGETRES(int file, const void *key, void *buffer, int32_t length, int mode);
// uerr_cod after the read; the resource's position into *position (optional).
int _zvdbREADRES(int file, const void *key, void *buffer, int32_t length, int mode, uint64_t *position);
int _zvdbLOKREC(int file, int mode, uint64_t position);
// The API's lock type of a record: 0 none (the engine keeps no record
// locks); 6 without an instance.
int _zvdbGETLOK(int file, uint64_t position);
int _zvdbSETFLTR(int file, const char *text);
int _zvdbSETFLTRN(int file, int mode1, int mode2, const char *text);
int _zvdbSETFLTRX(int file, void *tree);
// Serial number of the table's data file: 0 or uerr_cod; 4013, 4007.
int _zvdbGetSerial(ZVHANDLE table, uint64_t *serial);
// The same in two words; with `next` the next number is handed out.
int _zvdbGetSerialExt(ZVHANDLE table, uint32_t *high, uint32_t *low, int next);
int _zvdbUpdateSerial(ZVHANDLE table, uint64_t serial);
// Active records of a fixed-length data file: 0 or uerr_cod; 4007.
int _zvdbGetNumberOfRecords(int file, int scan, uint64_t *count);

// ---- Keys, sets, segment definitions (wrap_index.cpp) --------------------
// 0 when the target was transformed, else isamerr_cod.
int _zvdbTFRMKEY(int index, void *target);
// Forms a record's key, with a position of all ones when flag is set, else
// 0; uerr_cod.
int _zvdbfrmkey(int index, const void *record, void *key, int flag, int32_t length);
int _zvdbFRCKEY(int index, void *key, int32_t fraction, uint64_t *position);
// Mode 1 first, 2 last, 3 next, 4 previous key (4025 otherwise); 101 none.
int _zvdbMOVKEY(int file, int index, uint64_t *position, void *key, int mode);
// Mode 0 equal (the target's first keylen bytes then go to key), 1 less,
// 2 less or equal, 3 greater, 4 greater or equal (4026 otherwise); 101 none.
int _zvdbFINDKEY(int file, int index, const void *target, void *key, int32_t keylen, uint64_t *position,
                 int mode);
int _zvdbESTKEY(int index, const void *key1, const void *key2);
int _zvdbGetNumberOfIndexEntries(int index, uint64_t *count);
int _zvdbIDXENT(int index, uint32_t *count);
int _zvdbFRESET(void);
int _zvdbFRESETN(int32_t number);
// Mode 1 first, 2 last, 3 next, 4 previous record of the key set (4025
// otherwise), variable-length when length is given; on success the data
// file's current position goes to *position (optional).
int _zvdbMOVSET(int file, int index, const void *target, void *buffer, int32_t siglen, uint64_t *position,
                int mode, int32_t *length);
// The current ISAM position of a data file into *position (optional).
int _zvdbGETCURP(int file, uint64_t *position);
// 0, or the engine's negative result negated.
int _zvdbPUTKSEGDEF(int index, int segno, const void *def);
int _zvdbGETKSEGDEF(int index, int segno, void *def);
// 1 for the segment modes that take their value from a schema field.
int _zvdbIsSCHSEG(int mode);
// _zvdbMOVFTS (full-text moves, not part of this library) is exported:
// zvdb.h.

// ---- File sets and ISAM records (wrap_isam.cpp) ---------------------------
int _zvdbCLRFIL(int datno);
int _zvdbCLIFIL(IFIL *ifil);
int _zvdbDELRFIL(int datno);
int _zvdbREDVREC(int datno, void *buffer, int32_t length);
int _zvdbDELREC(int datno);
int _zvdbDELVREC(int datno);
int _zvdbGETNAM(int file, char *buffer, int32_t length, int mode);
// The current record's length into *length, or isamerr_cod.
int _zvdbGETVLEN(int datno, int32_t *length);
int _zvdbSETCURI(int datno, uint64_t position, const void *record, int32_t length);
int _zvdbREDIREC(int datno, uint64_t position, void *record);
int _zvdbREDIVREC(int datno, uint64_t position, void *record, int32_t *length);
// On failure the failing file number goes to *failfile (optional).
int _zvdbADDREC(int datno, void *record, int *failfile);
int _zvdbADDVREC(int datno, void *record, int32_t length, int *failfile);
int _zvdbRWTREC(int datno, void *record, int *failfile);
int _zvdbRWTVREC(int datno, void *record, int32_t length, int *failfile);
int _zvdbRWTPREC(int datno, void *record, int32_t length, int *failfile);
// The stored definition in a new block (freed with _zvdb_free) whose
// pointers all lie inside it: 0, 33 NULL out, 83 no memory, uerr_cod.
int _zvdbGETIFIL(int datno, IFIL **out, int32_t *length);
// The stored record schema in form 1 (field types), 2 (names), 3 (both) or
// 4 (DATOBJ entries ending at the one whose fend is 0xFFFF, names inside
// the block) in a new block: 0, 33, 82 no memory, uerr_cod.
int _zvdbGETDODAORMAP(int datno, void **out, int32_t *length, int form);
int _zvdbGETDODA(int datno, DATOBJ **out, int32_t *length);
int _zvdbGETSCHEMA(int datno, void **out, int32_t *length);
int _zvdbGETSCHEMANAMES(int datno, void **out, int32_t *length);
// Creates a file set, stores its record schema of count entries and closes
// it: the first failing code.
int _zvdbCREIFILXX(IFIL *ifil, const DATOBJ *schema, int32_t count, const char *dataext, const char *idxext,
                   int32_t permission, const char *group, const char *password);
// Opens name + ext (primary + ext + "|" + mirror + ext for a mirrored
// name) under the session's prefix and stores the data file number: 0,
// 139 NULL name or ext, 33 NULL file, 83; for a file not found 12 (or the
// system's -8, -9, -1112); 46 retried at count fresh numbers (1..63).
int _zvdbOPNRFILX(ZVHANDLE handle, const char *name, int mode, const char *password, const char *ext, int *file,
                  int count);
// Opens a prefixed copy of the table's file set with the table's extensions
// and password, data file mode `mode`, index mode without 0x4; the data file
// number goes to *file and the definition's tfilno. 33, 4013, codes as
// _zvdbOPNRFILX.
int _zvdbOPNIFILX(ZVHANDLE table, IFIL *ifil, int mode, int *file);
// Rebuild and compaction of a file set from a prefixed copy of its
// definition (the table's session gives the prefix): the engine's code;
// 4013 no table, 4007 NULL definition, 83 no memory.
int _zvdbRBLIFILX(ZVHANDLE table, IFIL *ifil, const char *dataext, const char *idxext, int32_t permission,
                  const char *group, const char *password);
int _zvdbRBLIFILX8(ZVHANDLE table, IFIL *ifil, const char *dataext, const char *idxext, int32_t permission,
                   const char *group, const char *password, XCREblk *xcre);
int _zvdbCMPIFILX(ZVHANDLE table, IFIL *ifil, const char *dataext, const char *idxext, int32_t permission,
                  const char *group, const char *password);
int _zvdbCMPIFILX8(ZVHANDLE table, IFIL *ifil, const char *dataext, const char *idxext, int32_t permission,
                   const char *group, const char *password, XCREblk *xcre);
// The superfile rebuild of the closed host `name` (prefixed through the
// handle's session): the engine's code, 83 no memory.
int _zvdbZVSBLDX(ZVHANDLE handle, const char *name, const char *password);
int _zvdbSETCBRBL(RBLCBFN callback, int32_t interval);
int _zvdbRENIFIL(IFIL *ifil);
// Renames the table's open set (tfilno) to a prefixed copy of ifil's names
// with the table's extensions: the engine's code; 4013, 4007, 83.
int _zvdbRENIFILX(ZVHANDLE table, IFIL *ifil);
// Puts the closed set `from` in the place of the files `to` names, both
// through prefixed copies with the table's extensions (SWPIFILX): the
// engine's code; 4013, 4007, 83.
int _zvdbSWPIFILX(ZVHANDLE table, IFIL *from, IFIL *to);
// Stores ifil as the definition of the table's open set (tfilno is set to
// its data file; its index files are reached through the key map) with the
// table's extensions and password: the engine's code; 4013, 4007, 4001.
int _zvdbPUTIFILX(ZVHANDLE table, IFIL *ifil);
// Adds the indexes of ifil (dfilno an open data file) permanently or as
// working indexes, from a prefixed copy, with the table's password; the
// first number used, or -1, comes back in tfilno. 4013, 4007, 83.
int _zvdbPRMIIDX(ZVHANDLE table, IFIL *ifil);
int _zvdbTMPIIDX(ZVHANDLE table, IFIL *ifil);
int _zvdbDROPIDX(int idxno);
// Partition administration of a partitioned host data file: (host, member
// name or key text, raw number, mode) as the engine takes them; the
// engine's code.
int _zvdbPTADMIN(int host, const char *text, int32_t raw, int mode);

// ---- ISAM contexts and batches (wrap_isam.cpp) ----------------------------
// A context over every index of the data file: its id into *id, or
// isamerr_cod; 33 NULL id.
int _zvdbOPNICON(int file, int *id);
int _zvdbCLSICON(int id);
int _zvdbCHGICON(int id);
int _zvdbBATSETX(int file, void *request, void *buffer, int32_t size, uint32_t mode);
int _zvdbFREBATN(int number);
int _zvdbCHGBAT(int number);

}  // extern "C"

namespace zv {

// Error fields of the current instance; -1 when none is current. The
// system code is read as a signed 16-bit value.
int instance_uerr();
int instance_isamerr();
int instance_sysio();
int instance_isamfil();

// Engine calls the record-level API made since the process started (test
// support).
struct WrapCounts {
    uint64_t swtzarvo;
    uint64_t syscfg;
    uint64_t setops;
    uint64_t lkisam;
    int lkisam_log[16];  // request of LKISAM call n at n % 16
};
const WrapCounts &wrap_counts();

}  // namespace zv
