// The tables of the function-number entry point and the adapters that bind
// their targets (see dispatch.h).
//
// An adapter unpacks the generic arguments of zarvo by its target's own
// signature. The roles of the generic arguments:
//   filno  the file number (a key number for key calls)
//   arg3   a scalar value; a second buffer (a key read's output key under
//          bit 0x4000, the record or key read by a call whose target is in
//          arg5, the second of two targets); or a parameter block: the
//          create, open and start codes read their parameters after the
//          file number from an array of intptr_t words, one per parameter
//          in the target's order
//   *arg4  a position or similar 32-bit input
//   arg5   the buffer: record, key value or target, name
//   *arg6  a length
//   arg7   a mode, length or count
// Sub-functions of 0x26AB take their scalar input from arg3 (a 64-bit value
// through arg5), since arg7 carries the sub-function and arg4 receives the
// status.
//
// To bind a target, write its adapter here and put it in its slot in place
// of the empty-slot routine; nothing else changes.
//
// The tables reach targets in every engine subsystem, which is why they
// live in engine/entry, above all of them: an adapter may include any
// engine header, and nothing below includes this module.
#include "engine/entry/dispatch.h"

#include <cstring>

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/index/ksegdef.h"
#include "engine/isam/isam_services.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

// ---- Argument helpers ----------------------------------------------------------

inline int val3(const ZvArgs &a) { return int(intptr_t(a.arg3)); }
inline uint32_t pos4(const ZvArgs &a) { return uint32_t(*a.arg4); }
inline const char *text5(const ZvArgs &a) { return static_cast<const char *>(a.arg5); }
// The parameter block of arg3, or null (then the adapter answers 540).
inline const intptr_t *block3(const ZvArgs &a) { return static_cast<const intptr_t *>(a.arg3); }
inline int no_block() { return set_uerr(540); }
template <class T>
inline T as_ptr(intptr_t w) { return reinterpret_cast<T>(w); }

// ---- zvfptr: status targets --------------------------------------------------------

int a_PUTFIL(ZvArgs &a) { return PUTFIL(a.filno, a.arg7); }
int a_LKISAM(ZvArgs &a) { return LKISAM(a.arg7); }
int a_CLISAM(ZvArgs &) { return CLISAM(); }
int a_STPUSR(ZvArgs &) { return STPUSR(); }
int a_CLSFIL(ZvArgs &a) { return CLSFIL(a.filno, a.arg7); }
int a_TRANEND(ZvArgs &a) { return TRANEND(a.arg7); }
int a_TRANRST(ZvArgs &a) { return TRANRST(a.arg7); }
int a_TRANABT(ZvArgs &) { return TRANABT(); }
int a_TRANCLR(ZvArgs &) { return TRANCLR(); }
int a_FREBAT(ZvArgs &) { return FREBAT(); }
// Batches: the batch number in arg7.
int a_ALCBAT(ZvArgs &) { return ALCBAT(); }
int a_CHGBAT(ZvArgs &a) { return CHGBAT(a.arg7); }
int a_FREBATN(ZvArgs &a) { return FREBATN(a.arg7); }
// Contexts: the context id in arg7.
int a_CHGICON(ZvArgs &a) { return CHGICON(a.arg7); }
int a_CLSICON(ZvArgs &a) { return CLSICON(a.arg7); }
int a_zvtestfunc(ZvArgs &) { return zvtestfunc(); }
int a_ZVFLUSH(ZvArgs &a) { return ZVFLUSH(a.filno); }
int a_ZVCHKPNT(ZvArgs &) { return ZVCHKPNT(); }
int a_TRANABTX(ZvArgs &a) { return TRANABTX(a.arg7); }
int a_SAVPCLR(ZvArgs &) { return SAVPCLR(); }
int a_TESTHUGE(ZvArgs &a) { return TESTHUGE(a.filno); }
int a_SETFLTR(ZvArgs &a) { return SETFLTR(a.filno, text5(a)); }
int a_TRANRDY(ZvArgs &) { return TRANRDY(); }
int a_SYSMON(ZvArgs &a) { return SYSMON(a.arg7, *a.arg4, static_cast<char *>(a.arg5), *a.arg6); }
int a_REDREC(ZvArgs &a) { return REDREC(a.filno, pos4(a), a.arg5); }
int a_WRTREC(ZvArgs &a) { return WRTREC(a.filno, pos4(a), a.arg5); }
int a_RETREC(ZvArgs &a) { return RETREC(a.filno, pos4(a)); }
int a_GETNAM(ZvArgs &a) { return GETNAM(a.filno, static_cast<char *>(a.arg5), *a.arg6); }
// The member number in arg7.
int a_GETMNAME(ZvArgs &a) { return GETMNAME(a.filno, static_cast<char *>(a.arg5), *a.arg6, a.arg7); }
int a_STPUSRA(ZvArgs &a) { return STPUSRA(a.arg7); }
int a_TRANISO(ZvArgs &a) { return TRANISO(a.arg7); }
int a_DELFIL(ZvArgs &a) { return DELFIL(a.filno); }
int a_zvRENFIL(ZvArgs &a) { return zvRENFIL(a.filno, text5(a)); }
// Start codes: bufs, fils, sect, dbufs, userprof from the block.
int a_INTREEX(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p) return no_block();
    return INTREEX(int32_t(p[0]), int32_t(p[1]), int32_t(p[2]), int32_t(p[3]), int32_t(p[4]));
}
int a_INTISAMX(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p) return no_block();
    return INTISAMX(int32_t(p[0]), int32_t(p[1]), int32_t(p[2]), int32_t(p[3]), int32_t(p[4]));
}
int a_SETNODE(ZvArgs &a) { return SETNODE(text5(a)); }
// The segment definition (from zvstrsegmdef) in arg5.
int a_SETSEGz(ZvArgs &a) { return SETSEGz(a.filno, static_cast<ZVSEGDEF *>(a.arg5)); }
int a_zvLOKDMP(ZvArgs &a) { return zvLOKDMP(a.filno, text5(a), a.arg7); }
int a_WRTVREC(ZvArgs &a) { return WRTVREC(a.filno, pos4(a), a.arg5, *a.arg6); }
int a_RDVREC(ZvArgs &a) { return RDVREC(a.filno, pos4(a), a.arg5, *a.arg6); }
int a_RETVREC(ZvArgs &a) { return RETVREC(a.filno, pos4(a)); }
int a_DELRES(ZvArgs &a) { return DELRES(a.filno, a.arg5); }
int a_ENARES(ZvArgs &a) { return ENARES(a.filno); }
int a_UPDRES(ZvArgs &a) { return UPDRES(a.filno, a.arg5, *a.arg6); }
int a_ADDRES(ZvArgs &a) { return ADDRES(a.filno, a.arg5, *a.arg6); }
// The condition text in arg5; a body in arg5 with its length through arg6.
int a_UPDCIDX(ZvArgs &a) { return UPDCIDX(a.filno, text5(a)); }
int a_PUTCRES(ZvArgs &a) { return PUTCRES(a.filno, a.arg5, *a.arg6); }
int a_SETALTSEQ(ZvArgs &a) { return SETALTSEQ(a.filno, a.arg5); }
int a_GETALTSEQ(ZvArgs &a) { return GETALTSEQ(a.filno, a.arg5); }
// The block descriptor in arg3; the definition-block type through the
// fourth argument for 0x0233, else in arg7.
int a_SETDEFBLKX(ZvArgs &a) {
    int type = (a.fn & 0x0200) ? *a.arg4 : a.arg7;
    return SETDEFBLKX(a.filno, static_cast<DEFBLK *>(a.arg3), type);
}
int a_SETVARBYTS(ZvArgs &a) { return SETVARBYTS(a.filno, a.arg5); }
// File sets: the parameter block (IFILPARM) or the IFIL in arg3; a data file
// by number in filno. The record schema in arg5 with its field count in
// arg7 and the definition-block type through the fourth argument.
int a_CREIFILz(ZvArgs &a) { return CREIFILz(static_cast<IFILPARM *>(a.arg3)); }
int a_OPNIFILz(ZvArgs &a) { return OPNIFILz(static_cast<IFILPARM *>(a.arg3)); }
int a_RBLIFILz(ZvArgs &a) { return RBLIFILz(static_cast<IFILPARM *>(a.arg3)); }
int a_CMPIFILz(ZvArgs &a) { return CMPIFILz(static_cast<IFILPARM *>(a.arg3)); }
int a_PUTIFILz(ZvArgs &a) { return PUTIFILz(static_cast<IFILPARM *>(a.arg3)); }
int a_RENIFILz(ZvArgs &a) { return RENIFILz(static_cast<IFILPARM *>(a.arg3)); }
int a_PRMIIDXz(ZvArgs &a) { return PRMIIDXz(static_cast<IFILPARM *>(a.arg3)); }
int a_TMPIIDXz(ZvArgs &a) { return TMPIIDXz(static_cast<IFILPARM *>(a.arg3)); }
int a_RBLIIDXz(ZvArgs &a) { return RBLIIDXz(static_cast<IFILPARM *>(a.arg3)); }
int a_zvDROPIDX(ZvArgs &a) { return zvDROPIDX(a.filno); }
// ISAM parameter files: the file name and the user profile from the block.
int a_CREISAMX(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p) return no_block();
    return CREISAMX(as_ptr<const char *>(p[0]), int32_t(p[1]));
}
int a_OPNISAMX(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p) return no_block();
    return OPNISAMX(as_ptr<const char *>(p[0]), int32_t(p[1]));
}
int a_CLIFIL(ZvArgs &a) { return CLIFIL(static_cast<IFIL *>(a.arg3)); }
int a_DELIFIL(ZvArgs &a) { return DELIFIL(static_cast<IFIL *>(a.arg3)); }
int a_CLRFIL(ZvArgs &a) { return CLRFIL(a.filno); }
int a_DELRFIL(ZvArgs &a) { return DELRFIL(a.filno); }
int a_PUTDODAX(ZvArgs &a) { return PUTDODAX(a.filno, static_cast<const DATOBJ *>(a.arg5), a.arg7, *a.arg4); }
// Key sets: the target in arg5 and the record read into arg3 when a call
// takes both, else the record in arg5; the significant length in arg7, a
// variable-length record's length through arg6.
int a_ALCSET(ZvArgs &) { return ALCSET(); }
int a_CHGSET(ZvArgs &a) { return CHGSET(a.arg7); }
int a_FRESET(ZvArgs &) { return FRESET(); }
int a_FRESETN(ZvArgs &a) { return FRESETN(a.arg7); }
int a_FRSSET(ZvArgs &a) { return FRSSET(a.filno, a.arg5, a.arg3, a.arg7); }
int a_LSTSET(ZvArgs &a) { return LSTSET(a.filno, a.arg5, a.arg3, a.arg7); }
int a_NXTSET(ZvArgs &a) { return NXTSET(a.filno, a.arg5); }
int a_PRVSET(ZvArgs &a) { return PRVSET(a.filno, a.arg5); }
int a_MIDSET(ZvArgs &a) { return MIDSET(a.filno, a.arg5, a.arg7); }
int a_FRSVSET(ZvArgs &a) { return FRSVSET(a.filno, a.arg5, a.arg3, a.arg7, a.arg6); }
int a_LSTVSET(ZvArgs &a) { return LSTVSET(a.filno, a.arg5, a.arg3, a.arg7, a.arg6); }
int a_MIDVSET(ZvArgs &a) { return MIDVSET(a.filno, a.arg5, a.arg7, a.arg6); }
int a_NXTVSET(ZvArgs &a) { return NXTVSET(a.filno, a.arg5, a.arg6); }
int a_PRVVSET(ZvArgs &a) { return PRVVSET(a.filno, a.arg5, a.arg6); }
// Key ranges: the record in arg5, a variable-length record's length
// through arg6.
int a_FRERNG(ZvArgs &a) { return FRERNG(a.filno); }
int a_FRSRNG(ZvArgs &a) { return FRSRNG(a.filno, a.arg5); }
int a_LSTRNG(ZvArgs &a) { return LSTRNG(a.filno, a.arg5); }
int a_NXTRNG(ZvArgs &a) { return NXTRNG(a.filno, a.arg5); }
int a_PRVRNG(ZvArgs &a) { return PRVRNG(a.filno, a.arg5); }
int a_FRSVRNG(ZvArgs &a) { return FRSVRNG(a.filno, a.arg5, a.arg6); }
int a_LSTVRNG(ZvArgs &a) { return LSTVRNG(a.filno, a.arg5, a.arg6); }
int a_NXTVRNG(ZvArgs &a) { return NXTVRNG(a.filno, a.arg5, a.arg6); }
int a_PRVVRNG(ZvArgs &a) { return PRVVRNG(a.filno, a.arg5, a.arg6); }
// ISAM records: the record in arg5 (a keyed read's target in arg5 and its
// record in arg3), a variable-length record's length through arg6, a
// position through the fourth argument, the UPDCURI mode in arg7.
int a_ADDREC(ZvArgs &a) { return ADDREC(a.filno, a.arg5); }
int a_RWTREC(ZvArgs &a) { return RWTREC(a.filno, a.arg5); }
int a_DELREC(ZvArgs &a) { return DELREC(a.filno); }
int a_ADDVREC(ZvArgs &a) { return ADDVREC(a.filno, a.arg5, *a.arg6); }
int a_RWTVREC(ZvArgs &a) { return RWTVREC(a.filno, a.arg5, *a.arg6); }
int a_DELVREC(ZvArgs &a) { return DELVREC(a.filno); }
int a_RWTPREC(ZvArgs &a) { return RWTPREC(a.filno, a.arg5, *a.arg6); }
int a_REDVREC(ZvArgs &a) { return REDVREC(a.filno, a.arg5, *a.arg6); }
int a_EQLREC(ZvArgs &a) { return EQLREC(a.filno, a.arg5, a.arg3); }
int a_GTEREC(ZvArgs &a) { return GTEREC(a.filno, a.arg5, a.arg3); }
int a_LTEREC(ZvArgs &a) { return LTEREC(a.filno, a.arg5, a.arg3); }
int a_GTREC(ZvArgs &a) { return GTREC(a.filno, a.arg5, a.arg3); }
int a_LTREC(ZvArgs &a) { return LTREC(a.filno, a.arg5, a.arg3); }
int a_EQLVREC(ZvArgs &a) { return EQLVREC(a.filno, a.arg5, a.arg3, a.arg6); }
int a_GTEVREC(ZvArgs &a) { return GTEVREC(a.filno, a.arg5, a.arg3, a.arg6); }
int a_LTEVREC(ZvArgs &a) { return LTEVREC(a.filno, a.arg5, a.arg3, a.arg6); }
int a_GTVREC(ZvArgs &a) { return GTVREC(a.filno, a.arg5, a.arg3, a.arg6); }
int a_LTVREC(ZvArgs &a) { return LTVREC(a.filno, a.arg5, a.arg3, a.arg6); }
int a_NXTREC(ZvArgs &a) { return NXTREC(a.filno, a.arg5); }
int a_PRVREC(ZvArgs &a) { return PRVREC(a.filno, a.arg5); }
int a_FRSREC(ZvArgs &a) { return FRSREC(a.filno, a.arg5); }
int a_LSTREC(ZvArgs &a) { return LSTREC(a.filno, a.arg5); }
int a_RRDREC(ZvArgs &a) { return RRDREC(a.filno, a.arg5); }
int a_NXTVREC(ZvArgs &a) { return NXTVREC(a.filno, a.arg5, a.arg6); }
int a_PRVVREC(ZvArgs &a) { return PRVVREC(a.filno, a.arg5, a.arg6); }
int a_FRSVREC(ZvArgs &a) { return FRSVREC(a.filno, a.arg5, a.arg6); }
int a_LSTVREC(ZvArgs &a) { return LSTVREC(a.filno, a.arg5, a.arg6); }
int a_REDIREC(ZvArgs &a) { return REDIREC(a.filno, pos4(a), a.arg5); }
int a_SETCURI(ZvArgs &a) { return SETCURI(a.filno, pos4(a), a.arg5, *a.arg6); }
int a_UPDCURI(ZvArgs &a) { return UPDCURI(a.filno, a.arg7); }
int a_reset_cur(ZvArgs &a) { return reset_cur(a.filno, 0, 0, a.arg5); }
int a_LOADKEY(ZvArgs &a) { return LOADKEY(a.filno, a.arg5, pos4(a), a.arg7); }
int a_ADDKEY(ZvArgs &a) { return ADDKEY(a.filno, a.arg5, pos4(a), a.arg7); }
int a_PTADMIN(ZvArgs &a) { return PTADMIN(a.filno, static_cast<const char *>(a.arg5), int32_t(pos4(a)), a.arg7); }
int a_DELCHK(ZvArgs &a) { return DELCHK(a.filno, a.arg5, pos4(a)); }

// ---- zvlptr: position and count targets -------------------------------------------

uint32_t a_GTEKEY(ZvArgs &a) { return GTEKEY(a.filno, a.arg5, a.arg3); }
uint32_t a_GTKEY(ZvArgs &a) { return GTKEY(a.filno, a.arg5, a.arg3); }
uint32_t a_LTKEY(ZvArgs &a) { return LTKEY(a.filno, a.arg5, a.arg3); }
uint32_t a_LTEKEY(ZvArgs &a) { return LTEKEY(a.filno, a.arg5, a.arg3); }
uint32_t a_DELBLD(ZvArgs &a) { return DELBLD(a.filno, a.arg5); }
uint32_t a_EQLKEY(ZvArgs &a) { return EQLKEY(a.filno, a.arg5); }
uint32_t a_FRSKEY(ZvArgs &a) { return FRSKEY(a.filno, a.arg3); }
uint32_t a_LSTKEY(ZvArgs &a) { return LSTKEY(a.filno, a.arg3); }
uint32_t a_NEWREC(ZvArgs &a) { return NEWREC(a.filno); }
uint32_t a_DATENT(ZvArgs &a) { return DATENT(a.filno); }
uint32_t a_IDXENT(ZvArgs &a) { return IDXENT(a.filno); }
uint32_t a_SERIALNUM(ZvArgs &a) { return SERIALNUM(a.filno); }
uint32_t a_TRANBEG(ZvArgs &a) { return uint32_t(TRANBEG(a.arg7)); }
uint32_t a_NXTKEY(ZvArgs &a) { return NXTKEY(a.filno, a.arg3); }
uint32_t a_PRVKEY(ZvArgs &a) { return PRVKEY(a.filno, a.arg3); }
uint32_t a_zvdidx(ZvArgs &a) { return uint32_t(zvdidx(a.filno, static_cast<const ZVDIDXDESC *>(a.arg3))); }
// The search key travels in arg3, the body buffer in arg5.
uint32_t a_GETRES(ZvArgs &a) { return GETRES(a.filno, a.arg3, a.arg5, *a.arg6, a.arg7); }
uint32_t a_GETCURP(ZvArgs &a) { return GETCURP(a.filno); }
uint32_t a_zvDISTINCTest(ZvArgs &a) { return zvDISTINCTest(a.filno); }
uint32_t a_zvDISTINCTset(ZvArgs &a) { return zvDISTINCTset(a.filno, a.arg7); }
uint32_t a_GETFIL(ZvArgs &a) { return uint32_t(GETFIL(a.filno, a.arg7)); }

// ---- zvvptr: length targets ---------------------------------------------------------

int32_t a_GTVLEN(ZvArgs &a) { return int32_t(GTVLEN(a.filno, pos4(a))); }
int32_t a_GETVLEN(ZvArgs &a) { return GETVLEN(a.filno); }
// The buffer in arg5, its length through the sixth argument; the schema
// form in arg7 and its definition-block type through the fourth argument.
int32_t a_GETIFILX(ZvArgs &a) { return GETIFILX(a.filno, *a.arg6, a.arg5, static_cast<const char *>(a.arg3)); }
int32_t a_GETDODAX(ZvArgs &a) { return GETDODAX(a.filno, *a.arg6, a.arg5, a.arg7, *a.arg4); }
// The buffer in arg5, its length through the sixth argument.
int32_t a_GETCRES(ZvArgs &a) { return GETCRES(a.filno, *a.arg6, a.arg5); }
int32_t a_GETCIDX(ZvArgs &a) { return GETCIDX(a.filno, *a.arg6, a.arg5); }

// ---- zvtptr: pointer targets (the buffer argument is filled in place) -----------

void *a_TFRMKEY(ZvArgs &a) { return TFRMKEY(a.filno, a.arg5); }
void *a_GETCURK(ZvArgs &a) { return GETCURK(a.filno, a.arg5, a.arg6); }
void *a_GETCURKL(ZvArgs &a) {
    if (int rc = GETCURKL(a.filno, a.arg5)) set_uerr(rc);
    return nullptr;
}

// ---- Direct codes ------------------------------------------------------------------
// A target that returns a value rather than a status stores it through the
// fourth argument and answers with the user error.

// Host name, password.
int a_ZVSBLDX(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p) return no_block();
    return ZVSBLDX(as_ptr<const char *>(p[0]), as_ptr<const char *>(p[1]));
}
// keylen, keytype, dupflag, member.
int a_CREMEM(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p) return no_block();
    return CREMEM(a.filno, int32_t(p[0]), int(p[1]), int(p[2]), int(p[3]));
}
// Estimates and key positions: the first key or target in arg5, the second
// in arg3, an output key in arg3 (ORDKEY: the count through arg6; FRCKEY:
// the percentage in arg7); the count or position goes through arg4.
int a_ESTKEY(ZvArgs &a) {
    *a.arg4 = int32_t(ESTKEY(a.filno, a.arg5, a.arg3));
    return zvWNGV ? zvWNGV->uerr_cod : 0;
}
int a_RNGENT(ZvArgs &a) {
    *a.arg4 = int32_t(RNGENT(a.filno, a.arg5, a.arg3));
    return zvWNGV ? zvWNGV->uerr_cod : 0;
}
int a_ORDKEY(ZvArgs &a) {
    *a.arg4 = int32_t(ORDKEY(a.filno, a.arg5, *a.arg6, a.arg3));
    return zvWNGV ? zvWNGV->uerr_cod : 0;
}
int a_FRCKEY(ZvArgs &a) {
    *a.arg4 = int32_t(FRCKEY(a.filno, a.arg3, a.arg7));
    return zvWNGV ? zvWNGV->uerr_cod : 0;
}
int a_TSTVREC(ZvArgs &a) { return TSTVREC(a.filno); }
// The request block in arg3, the buffer in arg5, its size through the
// sixth argument, the mode word in arg7.
int a_BATSETX(ZvArgs &a) {
    return BATSETX(a.filno, a.arg3, a.arg5, *a.arg6, uint32_t(a.arg7));
}
int a_BATSET(ZvArgs &a) { return BATSET(a.filno, a.arg3, a.arg5, *a.arg6, uint32_t(a.arg7)); }
// The index in arg3, the id asked for in arg7; the new id (or -1) goes
// through the fourth argument.
int a_OPNICON(ZvArgs &a) {
    *a.arg4 = OPNICON(a.filno, val3(a), a.arg7);
    return zvWNGV ? zvWNGV->uerr_cod : 0;
}
// The position through the fourth argument (its high word in the cell),
// the record in arg5 and its length through arg6.
int a_REDIVREC(ZvArgs &a) { return REDIVREC(a.filno, pos4(a), a.arg5, a.arg6); }
// As REDIVREC; arg7 1 asks for the variable-length read (length through
// arg6), 0 for the fixed-length one.
int a_reset_cur2(ZvArgs &a) {
    uint32_t hi = uint32_t(zvGETHGHi());
    return reset_cur2(a.filno, hi, pos4(a), a.arg5, a.arg7 == 1 ? a.arg6 : nullptr);
}
// The value in arg5, its length through arg6.
int a_setfndval(ZvArgs &a) { return setfndval(a.arg5, *a.arg6); }
// The record length comes through arg6, the position goes through arg4.
int a_NEWVREC(ZvArgs &a) {
    *a.arg4 = int32_t(NEWVREC(a.filno, *a.arg6));
    return zvWNGV ? zvWNGV->uerr_cod : 0;
}
int a_LOKREC(ZvArgs &a) { return LOKREC(a.filno, a.arg7, pos4(a)); }
int a_PUTHDR(ZvArgs &a) { return PUTHDR(a.filno, *a.arg4, a.arg7); }
// name, reclen, xtdsize, filmod, permmask, group, password, create block.
int a_CREDATX8(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p) return no_block();
    return CREDATX8(a.filno, as_ptr<const char *>(p[0]), uint16_t(p[1]), uint32_t(p[2]), uint16_t(p[3]),
                    int32_t(p[4]), as_ptr<const char *>(p[5]), as_ptr<const char *>(p[6]),
                    as_ptr<XCREblk *>(p[7]));
}
// name, keylen, keytype, dupflag, nmembers, xtdsize, filmod, permmask,
// group, password, create block.
int a_CREIDXX8(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p) return no_block();
    return CREIDXX8(a.filno, as_ptr<const char *>(p[0]), int32_t(p[1]), int(p[2]), int(p[3]), int(p[4]),
                    uint32_t(p[5]), uint16_t(p[6]), int32_t(p[7]), as_ptr<const char *>(p[8]),
                    as_ptr<const char *>(p[9]), as_ptr<XCREblk *>(p[10]));
}
int a_AVLFILNUM(ZvArgs &a) {
    *a.arg4 = AVLFILNUM(a.arg7);
    return zvWNGV ? zvWNGV->uerr_cod : 0;
}
// name, mode.
int a_OPNFILX(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p) return no_block();
    return OPNFILX(a.filno, as_ptr<const char *>(p[0]), uint16_t(p[1]), nullptr);
}
// name, mode, password; the data file number goes through the fourth
// argument.
int a_OPNRFILX(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p) return no_block();
    *a.arg4 = OPNRFILX(a.filno, as_ptr<const char *>(p[0]), int(p[1]), as_ptr<const char *>(p[2]));
    return zvWNGV ? zvWNGV->uerr_cod : 0;
}
int a_TRANSAV(ZvArgs &a) {
    *a.arg4 = TRANSAV();
    return zvWNGV ? zvWNGV->uerr_cod : 0;
}
int a_zvImpersonateTask(ZvArgs &a) { return zvImpersonateTask(a.arg7); }
int a_SPCLSAV(ZvArgs &) { return SPCLSAV(); }
int a_SETOPS(ZvArgs &a) {
    *a.arg4 = SETOPS(*a.arg4, a.arg7);
    return zvWNGV ? zvWNGV->uerr_cod : 0;
}
int a_IOPERFORMANCE(ZvArgs &a) { return IOPERFORMANCE(static_cast<uint32_t *>(a.arg5)); }
// The code text comes as the third argument, the key text as the buffer;
// the key length is the key text's.
int a_zvSETENCRYPT(ZvArgs &a) {
    const char *key = static_cast<const char *>(a.arg5);
    return zvSETENCRYPT(static_cast<const char *>(a.arg3), key, key ? int32_t(strlen(key)) : 0);
}
int a_SESSVAL(ZvArgs &) { return SESSVAL(); }
int a_SESSINC(ZvArgs &) { return SESSINC(); }
int a_SYSCFG(ZvArgs &a) { return SYSCFG(static_cast<int32_t *>(a.arg5)); }
int a_IOPERFORMANCEX(ZvArgs &a) { return IOPERFORMANCEX(static_cast<uint32_t *>(a.arg5)); }
int a_TMPNAME(ZvArgs &a) { return TMPNAME(static_cast<char *>(a.arg5), *a.arg6); }

// ---- Sub-functions of 0x26AB ---------------------------------------------------------

int s170(ZvArgs &) { return set_uerr(170); }
int s454(ZvArgs &) { return set_uerr(454); }
int s_zvCLSNAM(ZvArgs &a) { return zvCLSNAM(text5(a)); }
// Sub 44: not supported for the file numbers 1 to 9, no function otherwise.
int s44(ZvArgs &a) { return set_uerr(a.filno >= 1 && a.filno <= 9 ? 454 : 170); }
// Sub 71: needs its third argument.
int s71(ZvArgs &a) { return set_uerr(a.arg3 ? 454 : 540); }

int b_PUTKSEGDEF(ZvArgs &a) { return PUTKSEGDEF(a.filno, val3(a), a.arg5); }
int b_GETKSEGDEF(ZvArgs &a) { return GETKSEGDEF(a.filno, val3(a), a.arg5); }
// In place: the definition position in filno, the source (and result) in
// arg5, its length through arg6, the field type in arg3.
int b_XFMKSEGDEF(ZvArgs &a) { return XFMKSEGDEF(a.filno, a.arg5, *a.arg6, val3(a), a.arg5, *a.arg6); }
// The source in arg5 with its length through arg6; arg3 a parameter block
// of segment number, destination and segment length.
int b_zvunic(ZvArgs &a) {
    const intptr_t *p = block3(a);
    if (!p || !a.arg5 || *a.arg6 <= 0) return set_uerr(540);
    const auto *src = static_cast<const unsigned char *>(a.arg5);
    return zvunic(a.filno, int(p[0]), nullptr, src, src + *a.arg6 - 1, int32_t(p[2]),
                  as_ptr<unsigned char *>(p[1]));
}
// The two targets in arg5 and arg3; the flag through arg6.
int b_ESTRNG(ZvArgs &a) { return int(ESTRNG(a.filno, a.arg5, a.arg3, a.arg6)); }
// Level entries into arg5: their number through arg6, which then receives
// the level count; the mode of a recount in arg3.
int b_zvDISTINCTestXtd(ZvArgs &a) { return int(zvDISTINCTestXtd(a.filno, *a.arg6, a.arg5, a.arg6)); }
int b_zvDISTINCTsetXtd(ZvArgs &a) { return int(zvDISTINCTsetXtd(a.filno, val3(a), *a.arg6, a.arg5, a.arg6)); }
int b_zvUPDTICU(ZvArgs &) { return zvUPDTICU(); }
int b_GETXCREBLK(ZvArgs &a) { return GETXCREBLK(a.filno, static_cast<XCREblk *>(a.arg5)); }
int b_ZVFLUSHX(ZvArgs &a) { return ZVFLUSHX(a.filno, val3(a), *a.arg6); }
int b_ZVASYNC(ZvArgs &a) { return ZVASYNC(val3(a), a.arg5); }
int b_zvSETHGH(ZvArgs &a) { return zvSETHGH(int32_t(intptr_t(a.arg3))); }
int b_zvSNAPSHOT(ZvArgs &a) { return zvSNAPSHOT(val3(a), nullptr, a.arg5, *a.arg6); }
int b_zvSYSPUT(ZvArgs &) { return zvSYSPUT(); }
int b_zvCopyFile(ZvArgs &a) { return zvCopyFile(a.arg5, int32_t(intptr_t(a.arg3))); }
int b_zvSysQueueOpen(ZvArgs &a) { return zvSysQueueOpen(text5(a), val3(a)); }
int b_zvSysQueueClose(ZvArgs &a) { return zvSysQueueClose(a.filno); }
int b_zvSysQueueWrite(ZvArgs &a) { return zvSysQueueWrite(a.filno, a.arg5, *a.arg6); }
int b_zvSysQueueLIFOWrite(ZvArgs &a) { return zvSysQueueLIFOWrite(a.filno, a.arg5, *a.arg6); }
int b_zvSysQueueRead(ZvArgs &a) { return zvSysQueueRead(a.filno, a.arg5, *a.arg6, val3(a)); }
int b_zvSysQueueMlen(ZvArgs &a) { return zvSysQueueMlen(a.filno, val3(a)); }
int b_zvSysQueueCount(ZvArgs &a) { return zvSysQueueCount(a.filno); }
int b_zvNotify(ZvArgs &a) { return zvNotify(val3(a), a.filno, 0, a.arg5, *a.arg6, 0); }
int b_TRANUSR(ZvArgs &) { return TRANUSR(); }
// The blocking read: its block (BLKIRECBLK) through arg3.
int b_BLKIREC(ZvArgs &a) {
    const auto *p = static_cast<const BLKIRECBLK *>(a.arg3);
    if (!p) return set_uerr(540);
    return BLKIREC(a.filno, p->op, p->timeout, p->filter, p->target, p->record, p->len);
}
int b_zvFILMTX(ZvArgs &a) { return zvFILMTX(text5(a), val3(a)); }
// The progress routine in arg5, the interval in arg3.
int b_SETCBRBL(ZvArgs &a) { return SETCBRBL(reinterpret_cast<RBLCBFN>(a.arg5), int32_t(intptr_t(a.arg3))); }
int b_zvLOKLST(ZvArgs &a) { return zvLOKLST(a.filno, a.arg5, a.arg6, val3(a)); }
int b_zvFILBLK(ZvArgs &a) { return zvFILBLK(val3(a), text5(a)); }
int b_zvSETCFG(ZvArgs &a) { return zvSETCFG(val3(a), text5(a)); }
int b_zvFILWCD(ZvArgs &) { return zvFILWCD(); }
int b_zvQUIET(ZvArgs &a) { return zvQUIET(text5(a), *a.arg6, val3(a)); }
int b_zvLOKTIMOUT(ZvArgs &a) { return zvLOKTIMOUT(a.filno, val3(a), *a.arg6); }
int b_zvLOKDYN(ZvArgs &a) { return zvLOKDYN(a.filno, val3(a)); }
int b_zvVERIFYidx(ZvArgs &a) {
    return zvVERIFYidx(a.filno, static_cast<VERIFYIDXOPT *>(a.arg3), static_cast<VERIFYIDXRES *>(a.arg5));
}
// The cross-check takes its option block through arg3.
int b_zvVerifyFile(ZvArgs &a) { return zvVerifyFile(static_cast<VERIFYFILEOPT *>(a.arg3)); }
int b_zvMEMSTAT(ZvArgs &) { return zvMEMSTAT(); }
// Not supported; the length of its attribute text is measured first.
int b_zvSETCOMPRESS(ZvArgs &a) {
    const char *attr = text5(a);
    return zvSETCOMPRESS(val3(a), 0, nullptr, attr, attr ? int(strlen(attr)) : 0);
}
int b_zvAlterSchema(ZvArgs &a) { return zvAlterSchema(a.filno, a.arg5, *a.arg6); }
// Identity fields: the start (and the 64-bit values of getIDfield and
// resetIDfield) through arg5, the increment, mode or flags in arg3, the
// field number through arg6.
int b_addIDfield(ZvArgs &a) {
    if (!a.arg5) return set_uerr(540);
    return addIDfield(a.filno, *static_cast<const int64_t *>(a.arg5), int64_t(intptr_t(a.arg3)), *a.arg6);
}
int b_delIDfield(ZvArgs &a) { return delIDfield(a.filno); }
int b_getIDfield(ZvArgs &a) { return getIDfield(a.filno, val3(a), static_cast<int64_t *>(a.arg5)); }
int b_resetIDfield(ZvArgs &a) {
    if (!a.arg5) return set_uerr(540);
    return resetIDfield(a.filno, *static_cast<const int64_t *>(a.arg5));
}
int b_wchIDfield(ZvArgs &a) { return wchIDfield(a.filno); }
int b_xtdatrIDfield(ZvArgs &a) { return xtdatrIDfield(a.filno, int32_t(intptr_t(a.arg3))); }
int b_GETFILX(ZvArgs &a) { return GETFILX(a.filno, val3(a), a.arg5, a.arg6); }
int b_zvDeferredIndexControl(ZvArgs &a) { return zvDeferredIndexControl(a.filno, val3(a)); }
int b_izvRecordUpdateCallbackControl(ZvArgs &a) { return zvRecordUpdateCallbackControl(val3(a), a.arg5); }
// The new 64-bit position travels in arg3.
int b_UpdateRecordOffsetForKey(ZvArgs &a) {
    return UpdateRecordOffsetForKey(a.filno, a.arg5, uint64_t(uintptr_t(a.arg3)));
}

}  // namespace

// ---- The tables ------------------------------------------------------------------------

// Status targets, by function index (1..149); slot 0 and 150 stay empty.
const Slot<FnStatus> zvfptr[kFptrSlots] = {
    /*   0 */ {nullptr, NOFUNCT},
    /*   1 */ {"PUTFIL", a_PUTFIL},
    /*   2 */ {"UPDCURI", a_UPDCURI},
    /*   3 */ {"DELFIL", a_DELFIL},
    /*   4 */ {"LKISAM", a_LKISAM},
    /*   5 */ {"DELREC", a_DELREC},
    /*   6 */ {"ALCSET", a_ALCSET},
    /*   7 */ {"CHGSET", a_CHGSET},
    /*   8 */ {"DELVREC", a_DELVREC},
    /*   9 */ {"CLISAM", a_CLISAM},
    /*  10 */ {"STPUSR", a_STPUSR},
    /*  11 */ {"FRESET", a_FRESET},
    /*  12 */ {"CLSFIL", a_CLSFIL},
    /*  13 */ {"TRANEND", a_TRANEND},
    /*  14 */ {"TRANRST", a_TRANRST},
    /*  15 */ {"TRANABT", a_TRANABT},
    /*  16 */ {"TRANCLR", a_TRANCLR},
    /*  17 */ {"CLRFIL", a_CLRFIL},
    /*  18 */ {"DELRFIL", a_DELRFIL},
    /*  19 */ {"ALCBAT", a_ALCBAT},
    /*  20 */ {"CHGBAT", a_CHGBAT},
    /*  21 */ {"FREBAT", a_FREBAT},
    /*  22 */ {nullptr, NOFUNCT},
    /*  23 */ {nullptr, NOFUNCT},
    /*  24 */ {nullptr, NOFUNCT},
    /*  25 */ {nullptr, NOFUNCT},
    /*  26 */ {"zvtestfunc", a_zvtestfunc},
    /*  27 */ {"CHGICON", a_CHGICON},
    /*  28 */ {"CLSICON", a_CLSICON},
    /*  29 */ {"ZVFLUSH", a_ZVFLUSH},
    /*  30 */ {"ZVCHKPNT", a_ZVCHKPNT},
    /*  31 */ {"TRANABTX", a_TRANABTX},
    /*  32 */ {nullptr, NOFUNCT},
    /*  33 */ {nullptr, NOFUNCT},
    /*  34 */ {"SAVPCLR", a_SAVPCLR},
    /*  35 */ {"TESTHUGE", a_TESTHUGE},
    /*  36 */ {"zvRENFIL", a_zvRENFIL},
    /*  37 */ {"UPDCIDX", a_UPDCIDX},
    /*  38 */ {"SETFLTR", a_SETFLTR},
    /*  39 */ {nullptr, NOFUNCT},
    /*  40 */ {"ADDREC", a_ADDREC},
    /*  41 */ {"RWTREC", a_RWTREC},
    /*  42 */ {"NXTREC", a_NXTREC},
    /*  43 */ {"PRVREC", a_PRVREC},
    /*  44 */ {"FRSREC", a_FRSREC},
    /*  45 */ {"LSTREC", a_LSTREC},
    /*  46 */ {"RRDREC", a_RRDREC},
    /*  47 */ {"NXTSET", a_NXTSET},
    /*  48 */ {"PRVSET", a_PRVSET},
    /*  49 */ {"SETALTSEQ", a_SETALTSEQ},
    /*  50 */ {"GETALTSEQ", a_GETALTSEQ},
    /*  51 */ {"SETDEFBLKX", a_SETDEFBLKX},
    /*  52 */ {"MIDSET", a_MIDSET},
    /*  53 */ {"PUTDODAX", a_PUTDODAX},
    /*  54 */ {"SETVARBYTS", a_SETVARBYTS},
    /*  55 */ {"FRSVSET", a_FRSVSET},
    /*  56 */ {"LSTVSET", a_LSTVSET},
    /*  57 */ {"MIDVSET", a_MIDVSET},
    /*  58 */ {"TRANRDY", a_TRANRDY},
    /*  59 */ {"SYSMON", a_SYSMON},
    /*  60 */ {"WRTVREC", a_WRTVREC},
    /*  61 */ {"RDVREC", a_RDVREC},
    /*  62 */ {"REDREC", a_REDREC},
    /*  63 */ {"WRTREC", a_WRTREC},
    /*  64 */ {"SETCURI", a_SETCURI},
    /*  65 */ {"RETREC", a_RETREC},
    /*  66 */ {"RETVREC", a_RETVREC},
    /*  67 */ {"reset_cur", a_reset_cur},
    /*  68 */ {"SETCURI", a_SETCURI},
    /*  69 */ {"EQLVREC", a_EQLVREC},
    /*  70 */ {"GTEVREC", a_GTEVREC},
    /*  71 */ {"LTEVREC", a_LTEVREC},
    /*  72 */ {"GTVREC", a_GTVREC},
    /*  73 */ {"LTVREC", a_LTVREC},
    /*  74 */ {"GETMNAME", a_GETMNAME},
    /*  75 */ {"GETNAM", a_GETNAM},
    /*  76 */ {nullptr, NOFUNCT},
    /*  77 */ {nullptr, NOFUNCT},
    /*  78 */ {nullptr, NOFUNCT},
    /*  79 */ {nullptr, NOFUNCT},
    /*  80 */ {"FRSSET", a_FRSSET},
    /*  81 */ {"LSTSET", a_LSTSET},
    /*  82 */ {"EQLREC", a_EQLREC},
    /*  83 */ {"GTEREC", a_GTEREC},
    /*  84 */ {"LTEREC", a_LTEREC},
    /*  85 */ {"GTREC", a_GTREC},
    /*  86 */ {"LTREC", a_LTREC},
    /*  87 */ {"REDIREC", a_REDIREC},
    /*  88 */ {"STPUSRA", a_STPUSRA},
    /*  89 */ {nullptr, NOFUNCT},
    /*  90 */ {"CREISAMX", a_CREISAMX},
    /*  91 */ {"OPNISAMX", a_OPNISAMX},
    /*  92 */ {"TRANISO", a_TRANISO},
    /*  93 */ {"DELIFIL", a_DELIFIL},
    /*  94 */ {"RBLIFILz", a_RBLIFILz},
    /*  95 */ {"CREIFILz", a_CREIFILz},
    /*  96 */ {"CLIFIL", a_CLIFIL},
    /*  97 */ {"OPNIFILz", a_OPNIFILz},
    /*  98 */ {"PRMIIDXz", a_PRMIIDXz},
    /*  99 */ {"TMPIIDXz", a_TMPIIDXz},
    /* 100 */ {"PUTIFILz", a_PUTIFILz},
    /* 101 */ {"CMPIFILz", a_CMPIFILz},
    /* 102 */ {nullptr, NOFUNCT},
    /* 103 */ {"RBLIIDXz", a_RBLIIDXz},
    /* 104 */ {"NXTVREC", a_NXTVREC},
    /* 105 */ {"PRVVREC", a_PRVVREC},
    /* 106 */ {"FRSVREC", a_FRSVREC},
    /* 107 */ {"LSTVREC", a_LSTVREC},
    /* 108 */ {"NXTVSET", a_NXTVSET},
    /* 109 */ {"PRVVSET", a_PRVVSET},
    /* 110 */ {"INTREEX", a_INTREEX},
    /* 111 */ {"INTISAMX", a_INTISAMX},
    /* 112 */ {nullptr, NOFUNCT},
    /* 113 */ {nullptr, NOFUNCT},
    /* 114 */ {"RENIFILz", a_RENIFILz},
    /* 115 */ {"SETNODE", a_SETNODE},
    /* 116 */ {nullptr, NOFUNCT},
    /* 117 */ {"SETSEGz", a_SETSEGz},
    /* 118 */ {"zvLOKDMP", a_zvLOKDMP},
    /* 119 */ {"RWTPREC", a_RWTPREC},
    /* 120 */ {"ADDVREC", a_ADDVREC},
    /* 121 */ {"RWTVREC", a_RWTVREC},
    /* 122 */ {"REDVREC", a_REDVREC},
    /* 123 */ {"DELRES", a_DELRES},
    /* 124 */ {"ENARES", a_ENARES},
    /* 125 */ {"UPDRES", a_UPDRES},
    /* 126 */ {"ADDRES", a_ADDRES},
    /* 127 */ {"PUTCRES", a_PUTCRES},
    /* 128 */ {nullptr, NOFUNCT},
    /* 129 */ {"PTADMIN", a_PTADMIN},
    /* 130 */ {"ADDKEY", a_ADDKEY},
    /* 131 */ {"LOADKEY", a_LOADKEY},
    /* 132 */ {"DELCHK", a_DELCHK},
    /* 133 */ {"FREBATN", a_FREBATN},
    /* 134 */ {"FRESETN", a_FRESETN},
    /* 135 */ {nullptr, NOFUNCT},
    /* 136 */ {nullptr, NOFUNCT},
    /* 137 */ {"FRERNG", a_FRERNG},
    /* 138 */ {"FRSRNG", a_FRSRNG},
    /* 139 */ {"FRSVRNG", a_FRSVRNG},
    /* 140 */ {nullptr, NOFUNCT},
    /* 141 */ {nullptr, NOFUNCT},
    /* 142 */ {nullptr, NOFUNCT},
    /* 143 */ {"zvDROPIDX", a_zvDROPIDX},
    /* 144 */ {"LSTRNG", a_LSTRNG},
    /* 145 */ {"LSTVRNG", a_LSTVRNG},
    /* 146 */ {"NXTRNG", a_NXTRNG},
    /* 147 */ {"NXTVRNG", a_NXTVRNG},
    /* 148 */ {"PRVRNG", a_PRVRNG},
    /* 149 */ {"PRVVRNG", a_PRVVRNG},
    /* 150 */ {nullptr, NOFUNCT},
};

// Position and count targets, by function index - 150.
const Slot<FnPos> zvlptr[kLptrSlots] = {
    /*   0 */ {"GTEKEY", a_GTEKEY},
    /*   1 */ {"GTKEY", a_GTKEY},
    /*   2 */ {"LTKEY", a_LTKEY},
    /*   3 */ {"LTEKEY", a_LTEKEY},
    /*   4 */ {"DELBLD", a_DELBLD},
    /*   5 */ {"EQLKEY", a_EQLKEY},
    /*   6 */ {"FRSKEY", a_FRSKEY},
    /*   7 */ {"LSTKEY", a_LSTKEY},
    /*   8 */ {"GETCURP", a_GETCURP},
    /*   9 */ {"NEWREC", a_NEWREC},
    /*  10 */ {"DATENT", a_DATENT},
    /*  11 */ {"IDXENT", a_IDXENT},
    /*  12 */ {"SERIALNUM", a_SERIALNUM},
    /*  13 */ {"TRANBEG", a_TRANBEG},
    /*  14 */ {"NXTKEY", a_NXTKEY},
    /*  15 */ {"PRVKEY", a_PRVKEY},
    /*  16 */ {"GETRES", a_GETRES},
    /*  17 */ {"zvdidx", a_zvdidx},
    /*  18 */ {"zvDISTINCTest", a_zvDISTINCTest},
    /*  19 */ {nullptr, NOFUNCL},
    /*  20 */ {"GETFIL", a_GETFIL},
    /*  21 */ {nullptr, NOFUNCL},
    /*  22 */ {nullptr, NOFUNCL},
    /*  23 */ {nullptr, NOFUNCL},
    /*  24 */ {nullptr, NOFUNCL},
    /*  25 */ {"zvDISTINCTset", a_zvDISTINCTset},
    /*  26 */ {nullptr, NOFUNCL},
    /*  27 */ {nullptr, NOFUNCL},
};

// Length targets, by function index - 180.
const Slot<FnLen> zvvptr[kVptrSlots] = {
    /*   0 */ {"GTVLEN", a_GTVLEN},
    /*   1 */ {"GETVLEN", a_GETVLEN},
    /*   2 */ {"GETIFILX", a_GETIFILX},
    /*   3 */ {"GETDODAX", a_GETDODAX},
    /*   4 */ {"GETCRES", a_GETCRES},
    /*   5 */ {"GETCIDX", a_GETCIDX},
};

// Pointer targets, by function index - 188.
const Slot<FnPtr> zvtptr[kTptrSlots] = {
    /*   0 */ {"TFRMKEY", a_TFRMKEY},
    /*   1 */ {"GETCURK", a_GETCURK},
    /*   2 */ {"GETCURKL", a_GETCURKL},
};

// Directly called codes, in the order of their numbers (Code::slot).
const Slot<FnStatus> zvdirect[kDirectCodes] = {
    /*  0 0x008E */ {"CREMEM", a_CREMEM},
    /*  1 0x02CC */ {"LOKREC", a_LOKREC},
    /*  2 0x02CD */ {"ESTKEY", a_ESTKEY},
    /*  3 0x02D4 */ {"RNGENT", a_RNGENT},
    /*  4 0x02D8 */ {"PUTHDR", a_PUTHDR},
    /*  5 0x03D6 */ {"OPNICON", a_OPNICON},
    /*  6 0x05CB */ {"BATSET", a_BATSET},
    /*  7 0x06C1 */ {"TSTVREC", a_TSTVREC},
    /*  8 0x06CE */ {"NEWVREC", a_NEWVREC},
    /*  9 0x06D5 */ {"ORDKEY", a_ORDKEY},
    /* 10 0x07BF */ {"BATSETX", a_BATSETX},
    /* 11 0x0BE1 */ {"REDIVREC", a_REDIVREC},
    /* 12 0x0BE2 */ {"reset_cur2", a_reset_cur2},
    /* 13 0x2076 */ {"zvLOKDMP", a_zvLOKDMP},
    /* 14 0x208C */ {"CREDATX8", a_CREDATX8},
    /* 15 0x208D */ {"CREIDXX8", a_CREIDXX8},
    /* 16 0x20C0 */ {"ZVSBLDX", a_ZVSBLDX},
    /* 17 0x20C9 */ {"AVLFILNUM", a_AVLFILNUM},
    /* 18 0x20CA */ {"OPNFILX", a_OPNFILX},
    /* 19 0x20CF */ {"TRANSAV", a_TRANSAV},
    /* 20 0x20E5 */ {"SESSVAL", a_SESSVAL},
    /* 21 0x20E6 */ {"SESSINC", a_SESSINC},
    /* 22 0x22B1 */ {"zvImpersonateTask", a_zvImpersonateTask},
    /* 23 0x22E7 */ {"SPCLSAV", a_SPCLSAV},
    /* 24 0x23C4 */ {"OPNRFILX", a_OPNRFILX},
    /* 25 0x24D1 */ {"setfndval", a_setfndval},
    /* 26 0x24E4 */ {"zvSETENCRYPT", a_zvSETENCRYPT},
    /* 27 0x2688 */ {"SETOPS", a_SETOPS},
    /* 28 0x28D2 */ {"IOPERFORMANCE", a_IOPERFORMANCE},
    /* 29 0x28D7 */ {"SYSCFG", a_SYSCFG},
    /* 30 0x28E0 */ {"IOPERFORMANCEX", a_IOPERFORMANCEX},
    /* 31 0x2CC5 */ {"TMPNAME", a_TMPNAME},
    /* 32 0x315A */ {"CREISAMX", a_CREISAMX},
    /* 33 0x315B */ {"OPNISAMX", a_OPNISAMX},
    /* 34 0x4AC8 */ {"FRCKEY", a_FRCKEY},
};

// Sub-functions of 0x26AB, by number; a slot without a name is answered
// by the entry point itself.
const Slot<FnStatus> zvsubfn[kSubFunctions] = {
    /*  0 */ {nullptr, s170},
    /*  1 */ {"PUTKSEGDEF", b_PUTKSEGDEF},
    /*  2 */ {"GETKSEGDEF", b_GETKSEGDEF},
    /*  3 */ {"XFMKSEGDEF", b_XFMKSEGDEF},
    /*  4 */ {"zvunic", b_zvunic},
    /*  5 */ {"GETXCREBLK", b_GETXCREBLK},
    /*  6 */ {"ZVFLUSHX", b_ZVFLUSHX},
    /*  7 */ {"ZVASYNC", b_ZVASYNC},
    /*  8 */ {"zvSETHGH", b_zvSETHGH},
    /*  9 */ {"zvSNAPSHOT", b_zvSNAPSHOT},
    /* 10 */ {"zvSYSPUT", b_zvSYSPUT},
    /* 11 */ {"zvCLSNAM", s_zvCLSNAM},
    /* 12 */ {"zvSysQueueOpen", b_zvSysQueueOpen},
    /* 13 */ {"zvSysQueueClose", b_zvSysQueueClose},
    /* 14 */ {"zvSysQueueWrite", b_zvSysQueueWrite},
    /* 15 */ {"zvSysQueueLIFOWrite", b_zvSysQueueLIFOWrite},
    /* 16 */ {"zvSysQueueRead", b_zvSysQueueRead},
    /* 17 */ {"zvSysQueueMlen", b_zvSysQueueMlen},
    /* 18 */ {"zvSysQueueCount", b_zvSysQueueCount},
    /* 19 */ {"zvNotify", b_zvNotify},
    /* 20 */ {"ESTRNG", b_ESTRNG},
    /* 21 */ {"BLKIREC", b_BLKIREC},
    /* 22 */ {"TRANUSR", b_TRANUSR},
    /* 23 */ {nullptr, s454},
    /* 24 */ {nullptr, s454},
    /* 25 */ {nullptr, s454},
    /* 26 */ {nullptr, s454},
    /* 27 */ {nullptr, s454},
    /* 28 */ {"SETCBRBL", b_SETCBRBL},
    /* 29 */ {"zvFILMTX", b_zvFILMTX},
    /* 30 */ {"zvLOKLST", b_zvLOKLST},
    /* 31 */ {"zvFILBLK", b_zvFILBLK},
    /* 32 */ {"zvSETCFG", b_zvSETCFG},
    /* 33 */ {"zvFILWCD", b_zvFILWCD},
    /* 34 */ {"zvQUIET", b_zvQUIET},
    /* 35 */ {"zvLOKTIMOUT", b_zvLOKTIMOUT},
    /* 36 */ {"zvUPDTICU", b_zvUPDTICU},
    /* 37 */ {nullptr, s170},
    /* 38 */ {nullptr, s170},
    /* 39 */ {nullptr, s170},
    /* 40 */ {"zvLOKDYN", b_zvLOKDYN},
    /* 41 */ {nullptr, s454},
    /* 42 */ {nullptr, s454},
    /* 43 */ {"ESTRNG", b_ESTRNG},
    /* 44 */ {nullptr, s44},
    /* 45 */ {nullptr, s454},
    /* 46 */ {"zvDISTINCTestXtd", b_zvDISTINCTestXtd},
    /* 47 */ {"zvDISTINCTsetXtd", b_zvDISTINCTsetXtd},
    /* 48 */ {"zvVERIFYidx", b_zvVERIFYidx},
    /* 49 */ {"addIDfield", b_addIDfield},
    /* 50 */ {"delIDfield", b_delIDfield},
    /* 51 */ {"getIDfield", b_getIDfield},
    /* 52 */ {"resetIDfield", b_resetIDfield},
    /* 53 */ {"wchIDfield", b_wchIDfield},
    /* 54 */ {"zvMEMSTAT", b_zvMEMSTAT},
    /* 55 */ {"zvSETCOMPRESS", b_zvSETCOMPRESS},
    /* 56 */ {"xtdatrIDfield", b_xtdatrIDfield},
    /* 57 */ {"zvCopyFile", b_zvCopyFile},
    /* 58 */ {"zvVerifyFile", b_zvVerifyFile},
    /* 59 */ {"GETFILX", b_GETFILX},
    /* 60 */ {"zvDeferredIndexControl", b_zvDeferredIndexControl},
    /* 61 */ {"izvRecordUpdateCallbackControl", b_izvRecordUpdateCallbackControl},
    /* 62 */ {nullptr, s454},
    /* 63 */ {nullptr, s454},
    /* 64 */ {"zvAlterSchema", b_zvAlterSchema},
    /* 65 */ {nullptr, s454},
    /* 66 */ {nullptr, s454},
    /* 67 */ {nullptr, s454},
    /* 68 */ {nullptr, s454},
    /* 69 */ {nullptr, s454},
    /* 70 */ {"UpdateRecordOffsetForKey", b_UpdateRecordOffsetForKey},
    /* 71 */ {nullptr, s71},
};

// Every valid function number, ascending, with its road.
constexpr Code kCodes[kValidCodes] = {
    {0x0001, Road::Status, 0},  // PUTFIL
    {0x0003, Road::Status, 0},  // DELFIL
    {0x000C, Road::Status, 0},  // CLSFIL
    {0x0023, Road::Status, 0},  // TESTHUGE
    {0x0024, Road::Status, 0},  // zvRENFIL
    {0x0026, Road::Status, 0},  // SETFLTR
    {0x0031, Road::Status, 0},  // SETALTSEQ
    {0x0033, Road::Status, 0},  // SETDEFBLKX
    {0x0036, Road::Status, 0},  // SETVARBYTS
    {0x007B, Road::Status, 0},  // DELRES
    {0x007C, Road::Status, 0},  // ENARES
    {0x008E, Road::Direct, 0},  // CREMEM
    {0x008F, Road::Status, 0},  // zvDROPIDX
    {0x0102, Road::Status, 0},  // UPDCURI
    {0x0105, Road::Status, 0},  // DELREC
    {0x0108, Road::Status, 0},  // DELVREC
    {0x0111, Road::Status, 0},  // CLRFIL
    {0x0112, Road::Status, 0},  // DELRFIL
    {0x0125, Road::Status, 0},  // UPDCIDX
    {0x0128, Road::Status, 0},  // ADDREC
    {0x0129, Road::Status, 0},  // RWTREC
    {0x0137, Road::Status, 0},  // FRSVSET
    {0x0138, Road::Status, 0},  // LSTVSET
    {0x0145, Road::Status, 0},  // EQLVREC
    {0x0146, Road::Status, 0},  // GTEVREC
    {0x0147, Road::Status, 0},  // LTEVREC
    {0x0148, Road::Status, 0},  // GTVREC
    {0x0149, Road::Status, 0},  // LTVREC
    {0x0150, Road::Status, 0},  // FRSSET
    {0x0151, Road::Status, 0},  // LSTSET
    {0x0152, Road::Status, 0},  // EQLREC
    {0x0153, Road::Status, 0},  // GTEREC
    {0x0154, Road::Status, 0},  // LTEREC
    {0x0155, Road::Status, 0},  // GTREC
    {0x0156, Road::Status, 0},  // LTREC
    {0x015D, Road::Status, 0},  // DELIFIL
    {0x0160, Road::Status, 0},  // CLIFIL
    {0x0162, Road::Status, 0},  // PRMIIDXz
    {0x0163, Road::Status, 0},  // TMPIIDXz
    {0x0167, Road::Status, 0},  // RBLIIDXz
    {0x0189, Road::Status, 0},  // FRERNG
    {0x0233, Road::Status, 0},  // SETDEFBLKX
    {0x0235, Road::Status, 0},  // PUTDODAX
    {0x023F, Road::Status, 0},  // WRTREC
    {0x0241, Road::Status, 0},  // RETREC
    {0x0242, Road::Status, 0},  // RETVREC
    {0x0270, Road::Refused, 0},  // not supported: 454
    {0x0271, Road::Masked, 0},  // masked value to zvfptr slot 113
    {0x0281, Road::Status, 0},  // PTADMIN
    {0x0282, Road::Status, 0},  // ADDKEY
    {0x0283, Road::Status, 0},  // LOADKEY
    {0x0284, Road::Status, 0},  // DELCHK
    {0x029A, Road::Pos, 0},  // DELBLD
    {0x029B, Road::Pos, 0},  // EQLKEY
    {0x029F, Road::Pos, 0},  // NEWREC
    {0x02A0, Road::Pos, 0},  // DATENT
    {0x02A1, Road::Pos, 0},  // IDXENT
    {0x02A2, Road::Pos, 0},  // SERIALNUM
    {0x02A8, Road::Pos, 0},  // zvDISTINCTest
    {0x02AA, Road::Pos, 0},  // GETFIL
    {0x02AF, Road::Pos, 0},  // zvDISTINCTset
    {0x02CC, Road::Direct, 1},  // LOKREC
    {0x02CD, Road::Direct, 2},  // ESTKEY
    {0x02D4, Road::Direct, 3},  // RNGENT
    {0x02D8, Road::Direct, 4},  // PUTHDR
    {0x039E, Road::Pos, 0},  // GETCURP
    {0x03D6, Road::Direct, 5},  // OPNICON
    {0x047D, Road::Status, 0},  // UPDRES
    {0x047E, Road::Status, 0},  // ADDRES
    {0x0577, Road::Status, 0},  // RWTPREC
    {0x0578, Road::Status, 0},  // ADDVREC
    {0x0579, Road::Status, 0},  // RWTVREC
    {0x057F, Road::Status, 0},  // PUTCRES
    {0x05B5, Road::Len, 0},  // GETVLEN
    {0x05CB, Road::Direct, 6},  // BATSET
    {0x063C, Road::Status, 0},  // WRTVREC
    {0x06A6, Road::Pos, 0},  // GETRES
    {0x06B4, Road::Len, 0},  // GTVLEN
    {0x06C1, Road::Direct, 7},  // TSTVREC
    {0x06CE, Road::Direct, 8},  // NEWVREC
    {0x06D5, Road::Direct, 9},  // ORDKEY
    {0x0740, Road::Status, 0},  // SETCURI
    {0x0744, Road::Status, 0},  // SETCURI
    {0x07BF, Road::Direct, 10},  // BATSETX
    {0x0832, Road::Status, 0},  // GETALTSEQ
    {0x08BC, Road::Ptr, 0},  // TFRMKEY
    {0x08BE, Road::Ptr, 0},  // GETCURKL
    {0x092A, Road::Status, 0},  // NXTREC
    {0x092B, Road::Status, 0},  // PRVREC
    {0x092C, Road::Status, 0},  // FRSREC
    {0x092D, Road::Status, 0},  // LSTREC
    {0x092E, Road::Status, 0},  // RRDREC
    {0x092F, Road::Status, 0},  // NXTSET
    {0x0930, Road::Status, 0},  // PRVSET
    {0x0934, Road::Status, 0},  // MIDSET
    {0x0939, Road::Status, 0},  // MIDVSET
    {0x0968, Road::Status, 0},  // NXTVREC
    {0x0969, Road::Status, 0},  // PRVVREC
    {0x096A, Road::Status, 0},  // FRSVREC
    {0x096B, Road::Status, 0},  // LSTVREC
    {0x096C, Road::Status, 0},  // NXTVSET
    {0x096D, Road::Status, 0},  // PRVVSET
    {0x098A, Road::Status, 0},  // FRSRNG
    {0x098B, Road::Status, 0},  // FRSVRNG
    {0x0990, Road::Status, 0},  // LSTRNG
    {0x0991, Road::Status, 0},  // LSTVRNG
    {0x0992, Road::Status, 0},  // NXTRNG
    {0x0993, Road::Status, 0},  // NXTVRNG
    {0x0994, Road::Status, 0},  // PRVRNG
    {0x0995, Road::Status, 0},  // PRVVRNG
    {0x0A3E, Road::Status, 0},  // REDREC
    {0x0B43, Road::Status, 0},  // reset_cur
    {0x0B57, Road::Status, 0},  // REDIREC
    {0x0BE1, Road::Direct, 11},  // REDIVREC
    {0x0BE2, Road::Direct, 12},  // reset_cur2
    {0x0C4A, Road::Status, 0},  // GETMNAME
    {0x0C4B, Road::Status, 0},  // GETNAM
    {0x0D7A, Road::Status, 0},  // REDVREC
    {0x0DBD, Road::Ptr, 0},  // GETCURK
    {0x0E3D, Road::Status, 0},  // RDVREC
    {0x0EB7, Road::Len, 0},  // GETDODAX
    {0x0FB6, Road::Len, 0},  // GETIFILX
    {0x0FB8, Road::Len, 0},  // GETCRES
    {0x0FB9, Road::Len, 0},  // GETCIDX
    {0x200A, Road::Status, 0},  // STPUSR
    {0x200D, Road::Status, 0},  // TRANEND
    {0x200E, Road::Status, 0},  // TRANRST
    {0x200F, Road::Status, 0},  // TRANABT
    {0x2010, Road::Status, 0},  // TRANCLR
    {0x2016, Road::Status, 0},  // empty
    {0x201A, Road::Status, 0},  // zvtestfunc
    {0x201D, Road::Status, 0},  // ZVFLUSH
    {0x201E, Road::Status, 0},  // ZVCHKPNT
    {0x201F, Road::Status, 0},  // TRANABTX
    {0x2022, Road::Status, 0},  // SAVPCLR
    {0x203A, Road::Status, 0},  // TRANRDY
    {0x2058, Road::Status, 0},  // STPUSRA
    {0x205C, Road::Status, 0},  // TRANISO
    {0x2073, Road::Status, 0},  // SETNODE
    {0x2074, Road::Status, 0},  // empty
    {0x2075, Road::Status, 0},  // SETSEGz
    {0x2076, Road::Direct, 13},  // zvLOKDMP
    {0x208C, Road::Direct, 14},  // CREDATX8
    {0x208D, Road::Direct, 15},  // CREIDXX8
    {0x20C0, Road::Direct, 16},  // ZVSBLDX
    {0x20C9, Road::Direct, 17},  // AVLFILNUM
    {0x20CA, Road::Direct, 18},  // OPNFILX
    {0x20CF, Road::Direct, 19},  // TRANSAV
    {0x20E5, Road::Direct, 20},  // SESSVAL
    {0x20E6, Road::Direct, 21},  // SESSINC
    {0x2104, Road::Status, 0},  // LKISAM
    {0x2106, Road::Status, 0},  // ALCSET
    {0x2107, Road::Status, 0},  // CHGSET
    {0x2109, Road::Status, 0},  // CLISAM
    {0x210B, Road::Status, 0},  // FRESET
    {0x2113, Road::Status, 0},  // ALCBAT
    {0x2114, Road::Status, 0},  // CHGBAT
    {0x2115, Road::Status, 0},  // FREBAT
    {0x211B, Road::Status, 0},  // CHGICON
    {0x211C, Road::Status, 0},  // CLSICON
    {0x215E, Road::Status, 0},  // RBLIFILz
    {0x215F, Road::Status, 0},  // CREIFILz
    {0x2161, Road::Status, 0},  // OPNIFILz
    {0x2164, Road::Status, 0},  // PUTIFILz
    {0x2165, Road::Status, 0},  // CMPIFILz
    {0x2166, Road::Status, 0},  // empty
    {0x2172, Road::Status, 0},  // RENIFILz
    {0x2185, Road::Status, 0},  // FREBATN
    {0x2186, Road::Status, 0},  // FRESETN
    {0x22A3, Road::Pos, 0},  // TRANBEG
    {0x22A7, Road::Pos, 0},  // zvdidx
    {0x22B1, Road::Direct, 22},  // zvImpersonateTask
    {0x22E7, Road::Direct, 23},  // SPCLSAV
    {0x23C4, Road::Direct, 24},  // OPNRFILX
    {0x244E, Road::Status, 0},  // empty
    {0x24D1, Road::Direct, 25},  // setfndval
    {0x24E4, Road::Direct, 26},  // zvSETENCRYPT
    {0x264F, Road::Status, 0},  // empty
    {0x2688, Road::Direct, 27},  // SETOPS
    {0x26A9, Road::Pos, 0},  // empty
    {0x26AB, Road::Second, 0},  // second level
    {0x26AC, Road::Pos, 0},  // empty
    {0x26AD, Road::Pos, 0},  // empty
    {0x26AE, Road::Pos, 0},  // empty
    {0x26B0, Road::Pos, 0},  // empty
    {0x27E3, Road::Refused, 0},  // not supported: 454
    {0x28D2, Road::Direct, 28},  // IOPERFORMANCE
    {0x28D7, Road::Direct, 29},  // SYSCFG
    {0x28E0, Road::Direct, 30},  // IOPERFORMANCEX
    {0x2C4B, Road::Status, 0},  // GETNAM
    {0x2CC5, Road::Direct, 31},  // TMPNAME
    {0x2E3B, Road::Status, 0},  // SYSMON
    {0x306E, Road::Status, 0},  // INTREEX
    {0x315A, Road::Direct, 32},  // CREISAMX
    {0x315B, Road::Direct, 33},  // OPNISAMX
    {0x316F, Road::Status, 0},  // INTISAMX
    {0x4296, Road::Pos, 0},  // GTEKEY
    {0x4297, Road::Pos, 0},  // GTKEY
    {0x4298, Road::Pos, 0},  // LTKEY
    {0x4299, Road::Pos, 0},  // LTEKEY
    {0x4A9C, Road::Pos, 0},  // FRSKEY
    {0x4A9D, Road::Pos, 0},  // LSTKEY
    {0x4AA4, Road::Pos, 0},  // NXTKEY
    {0x4AA5, Road::Pos, 0},  // PRVKEY
    {0x4AC8, Road::Direct, 34},  // FRCKEY
};

namespace {

// The jump table of the decoder: for each function index (low byte), the
// positions in kCodes of the numbers with that index (at most two; 0xFF
// none). Built at compile time from kCodes.
constexpr CodeIndex build_code_index() {
    CodeIndex t{};
    for (auto &e : t) e = {0xFF, 0xFF};
    for (int i = 0; i < kValidCodes; i++) {
        auto &e = t[kCodes[i].fn & 0xFF];
        if (e[0] == 0xFF) {
            e[0] = uint8_t(i);
        } else {
            e[1] = uint8_t(i);
        }
    }
    return t;
}

// Numbers ascending and unique; no function index shared by more than two.
constexpr bool codes_well_formed() {
    int per_index[256] = {};
    for (int i = 0; i < kValidCodes; i++) {
        if (i > 0 && kCodes[i - 1].fn >= kCodes[i].fn) return false;
        if (++per_index[kCodes[i].fn & 0xFF] > 2) return false;
    }
    return true;
}
static_assert(codes_well_formed());

}  // namespace

constexpr CodeIndex kCodeIndex = build_code_index();

}  // namespace zv
