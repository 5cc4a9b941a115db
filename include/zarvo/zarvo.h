/*
 * zarvo.h - the engine's C interface.
 *
 * Engine instances and their registry, error codes and the status log,
 * pooled memory, 64-bit offset arithmetic, start-up and shutdown, files,
 * records, keys, resources, ISAM and maintenance calls. Every function has
 * C linkage and works on the current engine instance (see REGZARVO).
 *
 * Conventions:
 *  - Engine calls return a 16-bit error code (0 on success) and also leave it
 *    in the instance's user error code (zvGetUserErrorCode). Calls that
 *    return a record position return its low 32 bits and leave the high word
 *    beside it (zvGETHGH).
 *  - 64-bit offsets travel as a high/low pair of unsigned 32-bit words.
 *
 * This header compiles as C11 and as C++.
 */
#ifndef ZARVO_ZARVO_H
#define ZARVO_ZARVO_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include "zvtypes.h"

#if defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#define ZV_NORETURN __attribute__((noreturn))
#else
#define ZV_API
#define ZV_NORETURN
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The file control block of one open file number; opaque to callers. */
typedef struct FCB FCB;

/* ------------------------------------------------------------------------ */
/* Error codes used by this header.                                          */
/* ------------------------------------------------------------------------ */
#define ZV_NO_ERROR          0
#define ZV_INOT_ERR        101 /* not found, end of file */
#define ZV_SNOT_SUPPORTED  454 /* service not supported by this build */
#define ZV_INST_NONE       516 /* no engine instance registered */
#define ZV_INST_NOTFOUND   517 /* instance id not found */
#define ZV_INST_EXISTS     518 /* instance id already registered */

/* Longest instance id kept (a 32-byte field, NUL-terminated). */
#define ZV_INSTANCE_ID_MAX  31

/* ------------------------------------------------------------------------ */
/* Engine instances.                                                         */
/* ------------------------------------------------------------------------ */

/* Registers a new instance under id and makes it current.
 * 0; 518 when the id is registered already (the current instance stays);
 * 82 when memory is short. Ids longer than 31 characters are cut. */
ZV_API uint16_t REGZARVO(const char *id);
/* Makes the instance with this id current: 0, 516 none registered, 517 unknown. */
ZV_API uint16_t SWTZARVO(const char *id);
/* The instance block with this id, or NULL. */
ZV_API void *GETZARVO(const char *id);
/* The id of the current instance, or NULL when none is registered. */
ZV_API const char *WCHZARVO(void);
/* Makes the next instance of the ring current and returns its id; NULL when none. */
ZV_API const char *NXTZARVO(void);
/* Removes the instance with this id, stopping its engine first when it runs.
 * 0, 516 none registered, 517 unknown id. */
ZV_API uint16_t UNRZARVO(const char *id);
/* Frees an instance block (NULL is ignored). */
ZV_API void zvFreeWNGV(void *block);

/* ------------------------------------------------------------------------ */
/* Start-up, shutdown and engine options.                                    */
/* ------------------------------------------------------------------------ */

/* Id of the instance that the start-up calls register when none is current. */
#define ZV_DEFAULT_INSTANCE_ID "zvREG_DEF_ID"

/* Starts the low-level engine of the current instance (registering
 * "zvREG_DEF_ID" when none is current): bufs index buffers (at least 3),
 * fils file numbers (0 to 32767), index nodes and data pages of sect x 128
 * bytes, dbufs data-cache pages (0: 100) and the user-profile word (bit 0x800:
 * master-password step). A sect above 512 becomes 512 and multiplies bufs and
 * dbufs by sect / 512. Returns 0, or: 125 already started (nothing changed);
 * 11 sect below 1, fils outside its range, dbufs negative, or a scaled count
 * beyond 32 bits; 82 no memory for the pointer list; 10 no memory for the
 * file table, buffers or tables; 771, 772 build options set; the codes of the
 * encryption start. A failed start leaves the instance registered, not
 * started and holding nothing. The code is also left in uerr_cod. */
ZV_API uint16_t INTREEX(int32_t bufs, int32_t fils, int32_t sect, int32_t dbufs, int32_t userprof);
/* INTREEX(bufs, fils, sect, bufs, 33). */
ZV_API uint16_t INTREE(int32_t bufs, int32_t fils, int32_t sect);
/* Starts the engine under the ISAM layer: the ISAM tables, then INTREEX.
 * Codes as INTREEX (83 when the ISAM tables cannot be allocated); a failure
 * is recorded as the ISAM error with file number 0 as well. */
ZV_API uint16_t INTISAMX(int32_t bufs, int32_t fils, int32_t sect, int32_t dbufs, int32_t userprof);
/* INTISAMX(bufs, fils, sect, bufs, 33). */
ZV_API uint16_t INTISAM(int32_t bufs, int32_t fils, int32_t sect);
/* Stops the ISAM layer: closes every open file (all of them, whatever
 * fails), frees the ISAM tables and stops the engine user (STPUSR). The
 * first close error, else STPUSR's result (410 when no engine runs). */
ZV_API uint16_t CLISAM(void);
/* Ends every batch of the current user (numbered or not) and frees the
 * table of numbered batches; 0. */
ZV_API int FREBAT(void);
/* Stops the engine user: closes every open file (each descriptor is
 * released, whatever fails), releases its locks, buffers, tables and pools;
 * an instance registered as "zvREG_DEF_ID" is then unregistered. 0, the
 * first close error, or 410 when no engine is started. */
ZV_API uint16_t STPUSR(void);

/* Operation-mode word of the current instance. bits must lie within
 * 0x7E3FD1EF; 0x04, 0x20 and 0x40 only alone and with a request below 4.
 * Request 0 clears bits, 1 keeps only 0x00106010 of the word and sets bits,
 * 2 sets bits, 3 reads, 4 returns the mode value stored by a request with bit
 * 0x08 (which stores its request value and sets or clears). Returns the new
 * word (bit 0x20000000 cleared); a refused request leaves uerr_cod 116 and
 * returns the word unchanged; 47 without an instance. */
ZV_API int32_t SETOPS(int32_t bits, int32_t request);
/* Clears the bits of mask in the operation-mode word; returns those that were
 * set. zvclrlockon() is zvclrlockonbits(0x24). */
ZV_API int32_t zvclrlockonbits(int32_t mask);
ZV_API int32_t zvclrlockon(void);
/* Configuration by text. Option 11 takes "keyword value" with the keyword
 * LOADKEY_LEAF_PCT_FULL (any case, blanks around) and a percentage 0..100.
 * The text is only read. 0; 540 null text; 749 other option or keyword,
 * missing or bad value; 47 without an instance. */
ZV_API uint16_t zvSETCFG(int option, const char *text);
/* "YES" sets *flag to 1, "NO" to 0 (any case); else 749; 540 null text or flag. */
ZV_API uint16_t zvSETCFGBoolean(const char *text, int *flag);
/* Leaf fill percentage of the bulk key load: 0..100, else 749. */
ZV_API uint16_t zvSETCFGloadkeyleafpctfull(int percent);
/* YES/NO setting of the process-wide flag that stores file definitions
 * without their paths. */
ZV_API uint16_t zvSETCFG_SUPPRESS_PATH_IN_IFIL(const char *text);
/* YES/NO setting of the instance's file-system flush off for files without
 * transactions. */
ZV_API uint16_t zvSETCFGnontranfsflushoff(const char *text);
/* Percentage of the data-cache pages that the next start-up reserves for
 * files with dedicated cache (1..99; any other value reserves none). 0, or
 * 47 without an instance. */
ZV_API uint16_t zvSETSPECIALCACHE(int32_t percent);
/* Node names have no effect in this build: clears uerr_cod, returns 0. */
ZV_API int SETNODE(const char *name);

/* ------------------------------------------------------------------------ */
/* Shared libraries, signals, console, time and platform utilities.          */
/* ------------------------------------------------------------------------ */

/* Library request block of zvdll_load and zvdll_unload (56 bytes). */
#define ZV_DLLREQ_SIZE 56
typedef struct ZVDLLREQ {
    int32_t size;            /* must be ZV_DLLREQ_SIZE */
    int32_t errbufsize;      /* bytes of errbuf; 0: messages go to the status log */
    char *errbuf;            /* receives the message of a failure (cut, NUL-terminated) */
    const char *libname;     /* file name for dlopen; "^name" asks for "lib" name ".so" */
    void *handle;            /* set on success, cleared on failure and unload */
    int32_t funccount;       /* number of names */
    const char **funcnames;  /* names to resolve; "?name" is optional */
    void **functable;        /* receives the addresses in the order of the names */
} ZVDLLREQ;

/* "lib" + name + ".so" into out (size bytes); with force 0 a name that
 * starts with "lib" or ends in ".so" gets no second prefix or suffix.
 * 0, 540 null name or output, 153 result too long. */
ZV_API int zvStandardizeLibName(const char *name, int force, char *out, int32_t size);
/* Loads a library and resolves its functions. 0; 540 null block, name or
 * name table; 749 bad size or count; 82 no memory; 981 not loaded; 982 a
 * required function missing (library closed, handle and table cleared). */
ZV_API int zvdll_load(ZVDLLREQ *req);
/* Resolves one function of a loaded library into *out: 0, 540 null handle,
 * name or out, 982 not found (message in errbuf when given). */
ZV_API int zvdll_getsym(void *handle, const char *name, void **out, char *errbuf,
                        int32_t errbufsize);
/* Closes the library, clears the handle and the function table: 0; 749 bad
 * size; a NULL block is ignored. */
ZV_API int zvdll_unload(ZVDLLREQ *req);

/* Installs zv_rspshtdwnsig for SIGTERM. The handler ignores the signal from
 * then on and sets the engine's shutdown flag; the next status-log entry is
 * preceded by "shutdown loop signal received = " with the signal number. */
ZV_API void zv_setshtdwnsig(void);
ZV_API void zv_rspshtdwnsig(int sig);
/* Exit functions are not supported: 454. */
ZV_API int zvSETEXITFNC(void *fn);

/* Reads a password without echo (empty prompt) into buf (size bytes, always
 * NUL-terminated); buf, or NULL when nothing could be read. */
ZV_API char *zvGetMaskedInput(char *buf, int32_t size);
/* Reads one line of standard input into buf (size bytes) without its LF or
 * CR; backspace removes the last character; characters beyond the buffer are
 * dropped. buf, or NULL at end of input with nothing read. */
ZV_API char *zvrt_gets(char *buf, int32_t size);
/* Formatted output to the engine's standard output stream. */
ZV_API int zvrt_printf(const char *format, ...);
/* Prints the product banner with text, then the maker's notice. */
ZV_API void zvPrintProductVersion(const char *text);
/* Hex dump of len bytes (at most limit when 0 < limit < len) to the named
 * file (appended) or to standard output (file NULL), with an optional title.
 * 0; -1 when the file cannot be opened; 540 NULL bytes. */
ZV_API int zvlogio(const char *file, const char *title, const void *bytes, int32_t len,
                   int32_t limit);

/* Seconds since the epoch. */
ZV_API int32_t zvtime(void);
/* Local time and UTC of *t into out (or a per-thread record when out is
 * NULL); the record filled, or NULL on failure. */
ZV_API struct tm *zvrt_localtime_r(const time_t *t, struct tm *out);
ZV_API struct tm *zvrt_gmtime_r(const time_t *t, struct tm *out);
/* The 26-byte asctime text of *tm into out (or a per-thread buffer); NULL on
 * failure. */
ZV_API char *zvrt_asctime_r(const struct tm *tm, char *out);
/* The asctime text of the local time of t (0: now) into out (26 bytes). */
ZV_API char *zvdate_r(int32_t t, char *out);
/* "YYYYMMDD" sep "hhmmss" of the local time of t (0: now) into out (16 bytes). */
ZV_API char *zvdatetime_name(int32_t t, char *out, int sep);
/* Sleeps ms milliseconds; 0. */
ZV_API int zvdefer(int32_t ms);
/* Running kernel's version numbers: 0; 540 NULL major or minor; 1 release
 * text not "major.minor..."; minus errno when uname fails (message in msg). */
ZV_API int zvGetLinuxKernelVersion(int *major, int *minor, char *msg, int32_t size);
/* Memory the rebuild may use, in kilobytes (0: not set). */
ZV_API int64_t zvGetRebuildMemory(void);
ZV_API void zvSetRebuildMemory(int64_t kilobytes);

/* Packed build identifier: low 7 bits and the rest. */
ZV_API void zvSetVERSIONID2(uint32_t *out);
ZV_API void zvGetVERSIONID2(uint32_t id, uint32_t *low, uint32_t *rest);
ZV_API void zvSetVERSIONID_BASE(uint32_t *out);
ZV_API void zvGetVERSIONID_BASE(uint32_t id, uint32_t *out);

/* Unsigned base-128 integers, least significant group first, high bit set
 * on every byte but the last; at most 10 bytes. */
ZV_API int zvVarintLen(uint64_t v);
ZV_API int zvPutVarint(unsigned char *out, uint64_t v);
/* Length of the varint at bytes: through its first byte below 128, at most 10. */
ZV_API int zvGetVarintLen(const unsigned char *bytes);
/* Decodes at most 10 bytes into *out; returns the bytes used. */
ZV_API int zvGetVarint(const unsigned char *bytes, uint64_t *out);

/* Name of dump-and-restore event n ("DR_EVENT_NONE" outside 0..11). */
ZV_API const char *zvGetDumpRestoreEventDescription(int n);
/* *out = the outgoing code of the event whose name in braces is the text
 * ("{DR_EVENT_BEGIN_RESTORE}" ...), else 0. 0; 540 NULL text or out; 634
 * negative length. */
ZV_API int zvCheckDumpRestoreEvent(const char *text, int32_t len, int32_t *out);

/* Fixed answers of this build: no record locks (0), system start and end
 * hooks (0 and v), services without support (454), debugger break points. */
ZV_API int LOCK81(FCB *fcb, uint32_t hi, uint32_t lo);
ZV_API int UNLOCK81(FCB *fcb, uint32_t hi, uint32_t lo);
ZV_API int DLOCK81(FCB *fcb, uint32_t hi, uint32_t lo);
ZV_API int RLOCK81(FCB *fcb, uint32_t hi, uint32_t lo);
ZV_API int UDLOCK81(FCB *fcb, uint32_t hi, uint32_t lo);
ZV_API int zvsysint(void);
ZV_API int zvsysdint(int v);
ZV_API int zvConnStateAlloc(void **state);
ZV_API int zvConnStateFree(void *state);
ZV_API int zvConnStateGet(void *state);
ZV_API int makAlterSchema(void *request);
ZV_API int makPTADMIN(void *request);
ZV_API void zvbpf(void);
/* Calls zvbpf when the instance's debug level is at least level. */
ZV_API void zvbpfx(int level);
ZV_API void zvbpfNOdmpstack(void);
/* Length of text up to its first NUL, at most max; 0 for max below 1 or NULL. */
ZV_API int32_t zvrt_get_strlen(const char *text, int32_t max);

/* ------------------------------------------------------------------------ */
/* UTF-8, UTF-16 and 32-bit wide text; wide-field fill; the ISAM error.      */
/* ------------------------------------------------------------------------ */

/* Extra bytes after a UTF-8 lead byte; values subtracted after summing a
 * sequence; lead-byte marks by sequence length. */
ZV_API extern const unsigned char bytesFromUTF8[256];
ZV_API extern const uint32_t offsetsFromUTF8[6];
ZV_API extern const unsigned char firstByteMark[7];

/* Converters: (in/out source, source end, in/out target, target end) ->
 * 0 done, 1 source ends inside a UTF-8 sequence, 2 target full. Both
 * pointers are left after the last unit consumed and produced. 32-bit wide
 * text may carry characters above U+FFFF as surrogate pairs. */
ZV_API int zvConvertUTF8toUTF16(const unsigned char **src, const unsigned char *srcend,
                                uint16_t **dst, uint16_t *dstend);
ZV_API int zvConvertUTF16toUTF8(const uint16_t **src, const uint16_t *srcend,
                                unsigned char **dst, unsigned char *dstend);
ZV_API int zvConvertUTF8toUCS4(const unsigned char **src, const unsigned char *srcend,
                               uint32_t **dst, uint32_t *dstend);
ZV_API int zvConvertUCS4toUTF8(const uint32_t **src, const uint32_t *srcend,
                               unsigned char **dst, unsigned char *dstend);
ZV_API int zvConvertUCS4toUTF16(const uint32_t **src, const uint32_t *srcend,
                                uint16_t **dst, uint16_t *dstend);
ZV_API int zvConvertUTF16toUCS4(const uint16_t **src, const uint16_t *srcend,
                                uint32_t **dst, uint32_t *dstend);
/* Wrappers (sizes in bytes): 0, 153 target too small, 446 bad source,
 * 540 NULL text or target. */
ZV_API int zvu8TOu16(const char *src, uint16_t *dst, int32_t dstsize);
/* srclen -1: NUL-terminated (terminator included). A result not ending in a
 * 0 unit gets one when there is room, else 446. */
ZV_API int zvu8TOu16S(const char *src, int32_t srclen, uint16_t *dst, int32_t dstsize);
ZV_API int zvu16TOu8(const uint16_t *src, char *dst, int32_t dstsize);
/* Bytes of a UTF-16 text before its zero unit (any alignment). */
ZV_API int32_t zvua_wcstrlen(const void *text);
/* Units of a 32-bit text before its zero unit. */
ZV_API int32_t zv_ucs2strlen(const uint32_t *text);
/* The 8-byte file-name encoding prefix n (0 none, 1 "&&ASCII&", 2 "&&UTF08&",
 * 3 "&&UTF16&", 4 "&&UTF32&"): 0, or 446 for n outside 0..4. */
ZV_API int zvMBprefix(char *out, int n);
/* Fills len bytes with the 2-byte unit (memory order); an odd last byte gets
 * the unit's first byte. */
ZV_API void ufill(void *target, uint16_t unit, int32_t len);
/* Copies a wide source into a field of fieldlen bytes and pads it with units
 * 00 pad. With srcend: at most srclen bytes, not past srcend; without: the
 * text and its zero unit. An odd copy is followed by a zero byte inside the
 * field. Returns fieldlen; 0xFFFFFFFF (nothing written) when size is below
 * fieldlen or an argument is bad. */
ZV_API uint32_t padrecu(void *target, int32_t size, const void *source, int32_t fieldlen,
                        int32_t srclen, int pad, const void *srcend);
/* Stores the ISAM error code and its file number; returns code. */
ZV_API int ierr(int code, int filno);

/* ------------------------------------------------------------------------ */
/* Error codes and the status log "ZVSTATUS.QVS" (current directory).        */
/* ------------------------------------------------------------------------ */

/* Current instance's user error code, ISAM error code and its file number,
 * and the operating-system error of the last failing file operation (an
 * errno value, or a negative code of the engine's own: -766 no descriptor
 * could be freed for a new open). 0 when no instance is current. */
ZV_API int zvGetUserErrorCode(void);
ZV_API int zvGetIsamErrorCode(void);
ZV_API int zvGetIsamFileNbr(void);
ZV_API int zvGetSystemErrorCode(void);
/* A full disk (or a file-size limit). A write the system refuses fails its
 * call with 37 and leaves the system's reason in zvGetSystemErrorCode()
 * (28 ENOSPC; 27 EFBIG past a file-size limit: the system raises SIGXFSZ
 * at that write first, which ends the process unless it ignores that
 * signal, signal(SIGXFSZ, SIG_IGN)); a write the system ends
 * early goes on with its rest, so the failure always carries the reason.
 * Changes go on into the caches while they have room, and wait there. A
 * read the cache serves without a write (its page cached, or a clean page
 * to give up for it) answers 0; one that needs a changed page written
 * first answers 37, as does a flush. An ISAM add, rewrite or delete that
 * fails undoes its steps in the caches (37); 105 when a step of the undo
 * needed a write too, so that the set may keep a piece of the failed call
 * (an area not given back, a key without its record). What to do: make room
 * on the disk, then ZVFLUSH (or close the files), which writes the changes
 * the caches kept; after 105, close the set and rebuild it with RBLIFIL
 * before it is used again. */

/* Stores code as the user error code and returns it. */
ZV_API int uerr(int code);
/* Stores code as the operating-system error code. */
ZV_API void usys(int code);
/* Sets both codes, logs msg (code 0, one open attempt) and returns code. */
ZV_API int zv_interr(int code, int syscode, const char *msg);

/* Appends an entry to the status log: a local-time line, then
 * "<time> - User# 00001<TAB>msg" (msg cut to 450 characters) followed by
 * ": code" when code is nonzero. A code of -199 or below writes -199 - code
 * with a single open attempt; 30987 writes msg alone; 30988 only creates the
 * file. Returns the code written, or 10 when the log cannot be opened. */
ZV_API int16_t zvrcvlog(const char *msg, int code);
/* zvrcvlog(msg, -199 - code): one open attempt; returns the code written. */
ZV_API int16_t zvStatusLogWrite(const char *msg, int code);
/* Logs a memory-size message: format receives whole megabytes, tenths, a, b. */
ZV_API int zvprtmb(int ignored, const char *format, int64_t bytes, int ignored2, int a, int b);

/* Fatal internal error: logs "Unexpected internal Zarvo(R) error #n
 * (uerr_cod=u)" and ends the process with exit status n. */
ZV_API ZV_NORETURN void terr(int number);
/* Abnormal end of the process with exit status 100. */
ZV_API ZV_NORETURN void zvcatend(void);
/* Ends the process through zvFinal_exit(0, code). */
ZV_API ZV_NORETURN void zvrt_exit(int code);
/* Ends the process with exit(code) unless mode is 1 (then it returns). */
ZV_API void zvFinal_exit(int mode, int code);

/* Fixed answers of this build. */
ZV_API int zvMEMSTAT(void);   /* 454, also stored */
ZV_API int ZVCHKPNT(void);    /* 454, also stored */
ZV_API int SETLOGPATH(void);  /* 454 with a registered instance, else 47 */
ZV_API int STPSRV(void);      /* 0 */
ZV_API int zvotAlign(void);   /* 0 */
ZV_API void set_zvtflg_L(void);

/* ------------------------------------------------------------------------ */
/* Pooled memory: 24 fixed-size free lists per instance; all zero-filled.    */
/* ------------------------------------------------------------------------ */

/* Zero-filled block of size bytes; NULL for size 0 or no memory. */
ZV_API void *zvgetmem(int32_t size);
/* Releases a zvgetmem block; NULL is ignored. */
ZV_API void zvputmem(void *p);
/* Releases *pp and sets *pp to NULL. */
ZV_API void zvputmemn(void **pp);
/* Size asked for when the block was taken; 0 for NULL. */
ZV_API int32_t zvmemsiz(const void *p);
/* One zero-filled element of free list n (0..23); NULL with 68 when memory runs out. */
ZV_API void *zvgetlst(int list);
/* Gives an element back to the list it came from. */
ZV_API void zvputlst(void *element, int list);
/* Sizes the free lists (start-up). */
ZV_API void zvsetlst(int32_t nodesize, int32_t pagesize, int32_t bufs, int32_t dbufs);
/* Releases every chunk of free list n. */
ZV_API void freezvlist(int list);

/* Platform allocations: zero-filled, count x size bytes (1 byte when either is 0). */
ZV_API void *mballc(size_t count, size_t size);
ZV_API void *mballcx(size_t count, size_t size);
ZV_API void *mballc64(uint64_t size);
ZV_API void mbfree(void *p);
ZV_API void mbfreel(void *p);
ZV_API void mbfreex(void *p);
ZV_API void mbfree64(void *p);
ZV_API void mbfren(void **pp);
ZV_API void mbfrenl(void **pp);
/* The instance's encryption work buffer of at least n bytes. */
ZV_API void *mballccam(uint32_t n);
ZV_API void mbfrencam(void **pp);

/* Copies at most len bytes of src and stores a NUL in the last of them;
 * a NULL source fills the len bytes with zeros. */
ZV_API void cpynbuf(char *dst, const char *src, int len);
/* Copies len bytes to *cursor and advances it. */
ZV_API void cpylod(char **cursor, const void *src, int len);
/* Copies len bytes from *cursor and advances it. */
ZV_API void cpysrc(void *dst, const char **cursor, int len);

/* ------------------------------------------------------------------------ */
/* 64-bit high/low pairs and small utilities.                                */
/* ------------------------------------------------------------------------ */

ZV_API int zvcmpdlng(uint32_t hi1, uint32_t lo1, uint32_t hi2, uint32_t lo2);
ZV_API void zvadddlng(uint32_t *hi, uint32_t *lo, uint32_t ahi, uint32_t alo);
ZV_API void zvsubdlng(uint32_t *hi, uint32_t *lo, uint32_t shi, uint32_t slo);
ZV_API void zvincdlng(uint32_t *hi, uint32_t *lo);
ZV_API void zvdecdlng(uint32_t *hi, uint32_t *lo);
ZV_API void zvmuldlng(uint32_t *hi, uint32_t *lo, uint32_t factor);
/* Divides in place; a zero divisor leaves the pair unchanged. */
ZV_API void zvdivdlng(uint32_t *hi, uint32_t *lo, uint32_t divisor);
/* Unsigned division by a 64-bit divisor; a zero divisor leaves the pair unchanged. */
ZV_API void zvdiv64(uint32_t *hi, uint32_t *lo, uint32_t dhi, uint32_t dlo);
/* Remainder of the pair by divisor; a divisor of 0 or from 0x80000000 up is
 * the fatal internal error 8971. */
ZV_API uint32_t zvmoddlng(uint32_t hi, uint32_t lo, int32_t divisor);

ZV_API int32_t zvInterlockedMax(volatile int32_t *target, int32_t value);
ZV_API uint32_t zvInterlockedModIncrement(volatile uint32_t *target, uint32_t modulus);
ZV_API uint64_t zvInterlockedAdd8(volatile uint64_t *target, uint64_t addend);

/* Index of a new element of a growable array (capacity, count, storage);
 * -10 when memory is short (nothing changed). */
ZV_API int zvdallc(int32_t *capacity, int32_t *count, void **storage, int elemsize, int step);
/* Cache-hash shift of a file. */
ZV_API int zvhash_shift(const FCB *fcb);
/* Per-file draw of the index engine. */
ZV_API int distrand(FCB *fcb);
/* Two lower-case hex digits per byte and a NUL; returns the address after the NUL. */
ZV_API char *zvhexdmp(const void *src, char *dst, int len);
/* Directory part of a path (through its last '/', ':' or '\\'); its length. */
ZV_API int zvbasdir(char *dst, const char *path);

/* ------------------------------------------------------------------------ */
/* Platform file layer: file numbers, temporary names, file names.           */
/* ------------------------------------------------------------------------ */

/* Is file number filno free? 0 free, 46 in use, 22 outside the file table,
 * 47 engine not started (also stored as the user error code). */
ZV_API int TSTFILNUM(int filno);
/* First of count consecutive free file numbers, or -1 (user error 22 for a
 * count below 1, 47 engine not started, 46 no such run). */
ZV_API int AVLFILNUM(int count);
/* First of count + 1 consecutive free file numbers (count + 2 with flags
 * 0x200): exactly the run at start when start >= 0, else the lowest run;
 * the file table grows when needed. On failure minus the code (46 in use or
 * no room, 47 engine not started), also kept as the ISAM error. */
ZV_API int filrngnam(int start, int count, int flags);
ZV_API int filrng(int start, int count, int flags);
/* Unique temporary file name into out (length bytes): the instance's
 * temporary directory + "Z" + seven upper-case hex digits, or a name made in
 * the current directory. 0, 153 does not fit, 155, 17, 766. */
ZV_API int TMPNAME(char *out, int length);
/* Accepts any arguments and returns 0. */
ZV_API int SECURITY(int filno, void *buf, int32_t len, int mode);
/* Renames a file; an existing target is never replaced (67) unless the
 * operation mode (SETOPS) has 0x4000000. 0, 67 (system error kept), 139 name
 * longer than 255 characters, 540 no name. Renaming onto itself does nothing. */
ZV_API int renfil(const char *oldname, const char *newname);
/* Deletes a file. 0, 55 (system error kept), 139, 540. */
ZV_API int dltfil(const char *name);
/* Full name of a file: the directory resolved, a member name after '!'
 * kept. 0, 36 when it does not fit in size bytes, else an errno. */
ZV_API int zv_fullname(const char *name, char *out, int size);
/* 0 when both names are the same file (the same device and inode, as with
 * "a" and "./a" or a hard link), 1 otherwise or when either cannot be
 * queried. */
ZV_API int zv_uniqfile(const char *name1, const char *name2);
/* Current directory with a trailing "/": 1, or 0 (empty) on failure or when
 * it does not fit. */
ZV_API int zvGetCwd(char *buf, int size);
/* Sets the instance's temporary directory: 0, 540 null or empty, 82 no
 * memory, 47 no instance. */
ZV_API int zvSetZvTempDirName(const char *dir);
/* File-system path service, not offered: 454 with option 1, else 446. */
ZV_API int zvFSpath(void *ignored, int options);

/* Central data and index I/O, the data page cache and named file mutexes.   */
/* ------------------------------------------------------------------------ */

/* Reads (op 0) or writes (op 1) size bytes at the 64-bit offset (hw, lw) of
 * an open file; op 16/17 bypass the data page cache. size 0 moves the file's
 * record length; a negative size gives 469. torigin: offset inside a
 * memory-file record. 0 or an error code. */
ZV_API int zvio81x(int op, FCB *fcb, uint32_t hw, uint32_t lw, void *buf, int32_t size,
                   uint32_t torigin);
ZV_API int zvio81(int op, FCB *fcb, uint32_t hw, uint32_t lw, void *buf, int32_t size);
ZV_API int zvio(int op, FCB *fcb, uint32_t lw, void *buf, int32_t size);
/* Writes back the file's dirty cached pages; with purge also drops them.
 * The first error, also in the user error code. */
ZV_API int zvflushd(FCB *fcb, int purge);
/* Dedicated cache pages of a file: 35 gives them back and sets the quota to
 * 0; 36 gives them back, or sets the quota from the file rules. 0. */
ZV_API int zvsplflush(FCB *fcb, int action);
/* Named mutex between processes on the lock file `name`. mode: exactly one
 * of 1 (acquire) and 2 (release), plus 4 counted, 8 create the lock file,
 * 16 delete it on release, 32 exclusive. 0; 2 held already; 12 no lock file;
 * 17 cannot create it; 101 not held; 130 no name; 139 name over 255
 * characters; 156 held by another process; 446 bad mode. */
ZV_API int zvFILMTX(const char *name, int mode);
/* Writes 0xFF over len bytes from (hi, lo); 0 or the first I/O error. */
ZV_API int zvfillff81(FCB *fcb, uint32_t hi, uint32_t lo, uint32_t len);
/* Reports a corrupt index: logs message (with msgcode) and "name [member]"
 * (with code; 0 means the current user error), marks the host file for
 * rebuild ('R') and returns the code. */
ZV_API int setidxcorrupt(FCB *fcb, const char *message, int msgcode, int code);

/* ------------------------------------------------------------------------ */
/* Data and index files: creation, open, close and the file header.          */
/* ------------------------------------------------------------------------ */

/* Extended create block: sixteen 32-bit words, one block per physical file
 * of a create. Creation calls take a pointer to the caller's block, NULL (no
 * extended options) or ZV_XCRE_DEFAULT (the engine's defaults: an extended
 * header unless the engine asks for standard headers). The caller's block is
 * read, never written. */
typedef struct XCREblk {
    uint32_t mode;       /* 0: 0x02 extended header, 0x08 segmented, 0x40 8-byte
                            offsets, 0x10000 standard header, 0x20000000 and
                            0x40000000 version variant wanted / not wanted,
                            0x80000000 memory file */
    uint32_t segsize;    /* 1: segment size in megabytes */
    uint32_t maxsizehi;  /* 2: maximum file size (memory file: its size), high */
    uint32_t maxsizelo;  /* 3: low word */
    uint32_t firstext;   /* 4: first extent size in bytes (at least 65536) */
    uint32_t extsize;    /* 5: 32-bit extend size in bytes (at least 65536) */
    uint32_t nsegs;      /* 6: number of segments (0: 1) */
    uint32_t option7;    /* 7: option word kept in the header */
    uint32_t cipher;     /* 8: file security value (kept in the file when not 0) */
    uint32_t option9;    /* 9: option word kept in the header */
    uint32_t flags;      /* 10: 0x02 replace an index marked for replacement,
                            0x04 memory file, 0x1000 create missing
                            directories, further variable-length options */
    uint32_t reserved[3];/* 11-13 */
    uint32_t option14;   /* 14: option word kept in the header */
    uint32_t width15;    /* 15: partition or auto-number width */
} XCREblk;
#ifdef __cplusplus
static_assert(sizeof(XCREblk) == 64, "XCREblk is 64 bytes");
#else
_Static_assert(sizeof(XCREblk) == 64, "XCREblk is 64 bytes");
#endif
#define ZV_XCRE_DEFAULT ((XCREblk *)1)

/* Creates a data file on file number filno and leaves it open exclusively.
 * reclen: record length (minimum length with mode 0x0004, variable length);
 * xtdsize: growth step in bytes (the header keeps at most 65535); filmod:
 * 0x0004 variable length, 0x0800 no resources, 0x0040 write through,
 * 0x0200 superfile host. The permission mask, group and password are
 * accepted and not used. Returns 0 or an error code, among them 130 no
 * name, 22 bad number, 46 number in use, 19 file exists (left untouched),
 * 17 cannot create, 21 record too short, 20 node too small, 669 conflicting
 * create block, 749 or 667 memory-file options, 454 not supported. */
ZV_API int CREDATX8(int filno, const char *name, uint16_t reclen, uint32_t xtdsize, uint16_t filmod,
                    int32_t permmask, const char *group, const char *password, XCREblk *xcre);
ZV_API int CREDATX(int filno, const char *name, uint16_t reclen, uint32_t xtdsize, uint16_t filmod,
                   int32_t permmask, const char *group, const char *password);
ZV_API int CREDAT(int filno, const char *name, uint16_t reclen, uint32_t xtdsize, uint16_t filmod);
/* Creates an index file with nmembers additional members on the numbers
 * filno .. filno + nmembers (all must be free: 46) and leaves it open; the
 * members are defined with CREMEM. dupflag: 0 unique, 1 duplicates, 3-5
 * special modes (extended header only). Errors as CREDATX8, and 18 file
 * exists, 16 cannot create, 23 too many members, 45 key longer than 1024,
 * 20 fewer than three keys per node, 52 key type, 115 duplicate flag, 582
 * duplicate key shorter than its position. */
ZV_API int CREIDXX8(int filno, const char *name, int32_t keylen, int keytype, int dupflag,
                    int nmembers, uint32_t xtdsize, uint16_t filmod, int32_t permmask,
                    const char *group, const char *password, XCREblk *xcre);
ZV_API int CREIDXX(int filno, const char *name, int32_t keylen, int keytype, int dupflag,
                   int nmembers, uint32_t xtdsize, uint16_t filmod, int32_t permmask,
                   const char *group, const char *password);
ZV_API int CREIDX(int filno, const char *name, int32_t keylen, int keytype, int dupflag,
                  int nmembers, uint32_t xtdsize, uint16_t filmod);
/* Defines additional member `member` (1 .. members of the host) of an open
 * index on its reserved number memfilno; CREMEM uses hostno + member.
 * 48 host not an index, 23 bad member, 62 host shared or read only, 115
 * duplicate flag, 46 number not reserved for that member. */
ZV_API int CREMEMX(int hostno, int32_t keylen, int keytype, int dupflag, int member, int memfilno);
ZV_API int CREMEM(int hostno, int32_t keylen, int keytype, int dupflag, int member);
/* Fills *xcre from an open file's header: 0, 23 index member, 540 NULL. */
ZV_API int GETXCREBLK(int filno, XCREblk *xcre);

/* Opens a file on file number filno. mode: 0x0001 shared, 0x0002 keep the
 * descriptor, 0x0004 must be variable length, 0x0008 read only, 0x4000
 * accept a file that was not closed cleanly. 0 or an error code: 130 no
 * name, 22 bad number, 46 number (or a member's number) in use, 12 no such
 * file, or the file is held by another open (of this process or another:
 * an open without 0x0001, or a shared open that has changed it), with the
 * lock's errno in the system error code, 13 damaged header, 14 not closed
 * cleanly, 15 refused, 45 key too long, 48 mode does not fit the file, 672
 * unknown version, 673 extended mark missing, 689 update counters differ,
 * 744 unsupported features. A failed open leaves the number free. A shared
 * open changes its file only alone: its first change takes the file
 * exclusively, or fails with 12 (nothing written) while another open holds
 * it, and it keeps the file until it is closed. Before that it writes
 * nothing, not even the header's record of its open mode (written with its
 * first change), so that opens beside each other never read a header half
 * written (689). An open whose descriptor the engine gave up for a while
 * (beyond the descriptor budget) holds no lock meanwhile: when it comes
 * back to a file that another open changed, its changes fail with 12 and
 * the system error code 0 (nothing written) until it is closed, while its
 * reads go on; when it finds another file under the name (one a swap put
 * there), its reads and changes fail with 12 and the system error code 0,
 * and it touches nothing of that file. OPNFILX ignores its last argument. */
ZV_API int OPNFIL(int filno, const char *name, uint16_t mode);
ZV_API int OPNFILX(int filno, const char *name, uint16_t mode, const void *unused);
/* Closes a file with its members. 0 or the first error (22 bad number, 26
 * not open, 23 index member); the number is free afterwards in every case,
 * and a file whose data could not be written keeps its "not closed
 * cleanly" mark. */
ZV_API int CLSFIL(int filno, int mode);
/* Holds: an exclusive lock that the calling instance keeps on a file (its
 * device and inode) until it gives the hold back, through closes, renames
 * and unlinks of the file. The instance's own opens of the file go on
 * beside it; every other open (another process, another instance) answers
 * 12 as beside an exclusive open, and a lock test of another process finds
 * the file held. A file the instance holds already takes one more
 * reference; the last release ends the hold, and the instance's opens
 * still on the file then take the locks their opens asked for. */
typedef struct ZVFILEHOLD {
    uint64_t dev;
    uint64_t ino;
} ZVFILEHOLD;
/* Holds the file of open file number filno (a superfile member or a host's
 * directory: the host's file; an index member: its index file), its
 * engine descriptor kept, so that closing the file keeps the hold: 0; 22
 * bad number, 26 not open, 46 a reserved member, 48 a memory file; 12 with
 * the lock's system error when another open has the file; 82 no memory; 47
 * no instance; 540 NULL hold. */
ZV_API int zvHoldOpenFile(int filno, ZVFILEHOLD *hold);
/* Holds the file `name` (taken as given: no prefix or conversion),
 * opened read-write without following a symbolic link in its last
 * component, without blocking, a regular file only: 0; 12 with the system
 * error of the open (ENOENT missing, ELOOP a link, EINVAL not a regular
 * file) or of the refused lock (another open has the file); 82, 47, 540. */
ZV_API int zvHoldFileName(const char *name, ZVFILEHOLD *hold);
/* Gives one reference of a hold of the calling instance back: 0; 26 the
 * instance holds no such file; 47, 540. */
ZV_API int zvReleaseFileHold(const ZVFILEHOLD *hold);
/* STPUSR (above) with bit 0x04 of mode added to the option word first. */
ZV_API int STPUSRA(int mode);
/* Stores the extended open mode: 0, or 454 for a mode with bits 0x07. */
ZV_API int SetXtdFileOpenMode(int mode);
/* Fixed answers: TRANSACTION 0; zvinitcmprec 940; zvSetCurrentSuperfileHost 454. */
ZV_API int TRANSACTION(void);
ZV_API int zvinitcmprec(void);
ZV_API int zvSetCurrentSuperfileHost(int filno);
/* Copies the name of open file filno into buffer: 0, 540 no buffer, 153
 * name longer than len - 1. */
ZV_API int GETNAM(int filno, char *buffer, int32_t len);
/* Whether the platform seeks beyond 4 GB for the file: 0, -647 or -648. */
ZV_API int TESTHUGE(int filno);
/* Serial number of a data file (low word; the high word through zvGETHGH). */
ZV_API uint32_t SERIALNUM(int filno);
/* High word beside a 32-bit call: zvSETHGH stores it (0); zvGETHGH returns
 * it and clears it. */
ZV_API int32_t zvSETHGH(int32_t hw);
ZV_API int32_t zvGETHGH(void);

/* ------------------------------------------------------------------------ */
/* Encryption of files at rest and the master password.                      */
/* ------------------------------------------------------------------------ */

/* Advanced encryption support, set by the host: 0 off, 1 on (start-up asks
 * for the master password at the terminal), 2 on without asking. Start-up
 * turns it on when the environment variable ZARVO_ADVANCED_ENCRYPTION is
 * "YES" (any case). */
ZV_API extern int32_t cmosdksup;
/* Set by the host: while support stays off, start-up chooses the cipher of
 * the engine's logs. */
ZV_API extern int32_t zvcamlog;

/* Sets the cipher of the following creates of data and index files: each
 * new file is then stored encrypted under a random key of its own, kept
 * under the master key in the file. With support on, code (a decimal text)
 * 1-3 DES with keys of 8, 16, 24 bytes; 4-6 Twofish 16, 24, 32; 7-9
 * Rijndael 16, 24, 32; 10-58 Blowfish of code - 2 bytes; 60-62 AES 16, 24,
 * 32; 98 the cipher of the open file whose number is the text key (keylen
 * must be 1, else 116; a closed number gives its lookup's code; a plain
 * file leaves nothing pending). keylen 0 or less clears the pending cipher
 * (0); a NULL code or code 0 clears it with 454; other codes 446. With
 * support off every code but 98 on a plain file gives 454. 47 without an
 * instance. */
ZV_API int zvSETENCRYPT(const char *code, const char *key, int32_t keylen);
/* Changes the master password: re-seals the key of every listed encrypted
 * file under the new password's key, all or nothing, under a recovery log
 * that the next start-up replays after a crash, and writes the new
 * password's verification file. The request is a u32 option word, a u32
 * file count, then NUL-terminated texts: the old password (absent with
 * option 4: the current master key is the old key), the new password, and
 * the file names (transaction logs "L...QVS" are skipped). Options: 1
 * change (8 and 16 beside it change nothing); exactly 16 checks the old
 * password only. Prints one line per file and the counts; the passwords in
 * the request are overwritten with zeros. 0, or: 540 NULL request, 454
 * support off or option 2, 116 other options, 932 wrong old password (from
 * the fifth failure on each waits a second), or the code of the first file
 * that failed (then every key stays as it was). */
ZV_API int zvChangeMasterPassword(void *request);
/* Re-seals the key block of one file from the master key oldkey to newkey
 * (each of the master key's length, 32 bytes); ctx is a recovery log of the
 * key change or NULL. *outflags (may be NULL) receives the file's mode bits
 * 0x30. 0 (also for a plain file), or the open's code, 408, 606, 952. */
ZV_API int zvReencryptFileEncryptionRes(const char *name, const unsigned char *oldkey,
                                        const unsigned char *newkey, uint32_t *outflags, void *ctx);
/* Not supported in this build: 454. */
ZV_API int SESSVAL(void);
ZV_API int SESSINC(void);

/* ------------------------------------------------------------------------ */
/* Variable-length records and resources.                                    */
/* ------------------------------------------------------------------------ */

/* Variable-length records. Positions travel as their low word, the high
 * word beside the call (zvSETHGH before, zvGETHGH after).
 * NEWVREC: an area for a record of reclen bytes, best fit among the free
 * areas or at the end of the file; 0 on failure (48 not variable length,
 * 634 negative length, 527 damaged space index, 44 serial wrapped).
 * RETVREC: frees an area, merged with a free area right after it; 158 when
 * it is free already or holds no record, 123 damaged area header.
 * WRTVREC: writes len bytes into the area; a large spare tail becomes a free
 * area. 159 position 0, 33 no buffer, 148 longer than the area, 123 damaged
 * header, 48 fixed-length file, 634 negative length.
 * RDVREC: reads the record; 153 when buflen is shorter than it, 29 position
 * 0, 158 no record there, 154 empty record.
 * GTVLEN: the record length at a position; 0 with 158 (no record), 149
 * (below the minimum length), 29 or 48.
 * TSTVREC: clears the user error, 0. */
ZV_API uint32_t NEWVREC(int filno, int32_t reclen);
ZV_API int RETVREC(int filno, uint32_t pos);
ZV_API int WRTVREC(int filno, uint32_t pos, void *buf, int32_t len);
ZV_API int RDVREC(int filno, uint32_t pos, void *buf, int32_t buflen);
ZV_API uint32_t GTVLEN(int filno, uint32_t pos);
ZV_API int TSTVREC(int filno);

/* Header of one area of a variable-length file, in host order: its mark
 * (0xFAFA a record, 0xFDFD free, 0xFCFC free in a superfile member, 0xFBBF a
 * space-index node, 0xFEFE a resource), the whole area's length, the record
 * bytes in it, and for superfile members the owner and its previous area. */
typedef struct VRECHDR {
    uint16_t mark;
    uint32_t arealen;
    uint32_t reclen;
    uint32_t member;
    uint32_t prevl;
    uint32_t prevh;
} VRECHDR;
/* The control block of an open data or index file (members included); null
 * with 22 bad number, 26 not open, 46 reserved member. */
ZV_API FCB *tstifnm(int filno);
/* Reads the area header at (hw, lw): 0, 159 position 0, 48 a fixed-length
 * file that is no superfile member, or the read's error. */
ZV_API int getvhdr81(FCB *fcb, uint32_t hw, uint32_t lw, VRECHDR *h);

/* Per-record metadata prefix of a file: its length, flags (1 first part,
 * 2 second part), the length of the first part and two zero words. */
typedef struct ZVRMD {
    int32_t length;
    int32_t flags;
    int32_t firstlen;
    int32_t reserved[2];
} ZVRMD;
/* 0, or 540 when either argument is NULL. */
ZV_API int zvgetrmd(FCB *fcb, ZVRMD *out);
/* 1 for the string type codes 144 to 201, else 0; *flag 1 for the fixed
 * forms, *width the length-prefix or character width (either may be NULL). */
ZV_API int IsZarvoStringDataType(int type, int *flag, int *width);
/* Not offered by this build: 454. */
ZV_API int zvAlterSchema(int filno, const void *schema, int32_t len);

/* Resources: typed, numbered, named blocks kept in a file, in one ring
 * ordered by (type, number). A body is type (u32), number (u32), a
 * NUL-terminated name, then the data.
 * ENARES: enables the resources of a file: 0, 400 already enabled, 402 not
 * for a shared or read-only file.
 * ADDRES: adds a body of len bytes; a number of 0xFFFFFFFF takes the next
 * free number of the type, written back into the body. 405 exists, 409 len
 * 0 or less, 686 segment definition too long, 912 type 11 not permitted,
 * 401 not enabled.
 * UPDRES: rewrites a resource (in place, grown at the end of the file, or
 * moved); 408 absent, 682 segment definition cannot move.
 * DELRES: deletes the resource of body's type and number; 408 absent.
 * GETRES: finds a resource by mode (2 type and number, 4 type, 8 first, 16
 * name, 32 position, 128 next after type and number, 1024 numbers of a
 * type; +64 type, number and length only) and reads it into buf: its
 * position (high word through zvGETHGH), 0 on failure (408 not found, 401
 * not enabled, 403 empty key, 406 bad mode, 407 damaged ring); a cut body
 * is read and reported with 404. */
ZV_API int ENARES(int filno);
ZV_API int ADDRES(int filno, void *body, int32_t len);
ZV_API int UPDRES(int filno, void *body, int32_t len);
ZV_API int DELRES(int filno, const void *body);
ZV_API uint32_t GETRES(int filno, const void *key, void *buf, int32_t buflen, int mode);

/* ------------------------------------------------------------------------ */
/* Index keys: add, delete, read (B-tree index engine).                      */
/* ------------------------------------------------------------------------ */
/*
 * Keys are byte strings of the index's key length, compared as unsigned
 * bytes. A record position is a 64-bit offset passed as its low word with
 * the high word set before by zvSETHGH (files with 8-byte positions), and
 * returned as its low word with the high word left for zvGETHGH. Position
 * 0 never designates a record. Key reads return 0 when no key answers; a
 * missing key leaves the user error code 0.
 */

/* Adds (key, position) to index filno. mode: 0 none, 1 ascending and 2
 * descending load (where nodes split), 64 an equal key takes the new
 * position, 0x400 only replace the position of an existing key. 0, or: 2
 * key exists (unique index), 28 position 0, 48 not an index, 101 key
 * absent (0x400), 527 index damaged, 26/22 bad file number, I/O errors. */
ZV_API int ADDKEY(int filno, const void *key, uint32_t poslow, int mode);
/* Removes (key, position): 0; 3 the key holds another position (logged
 * "KMAT_ERR"); 4 no such key; 48 not an index; 527 index damaged. */
ZV_API int DELCHK(int filno, const void *key, uint32_t poslow);
/* Removes a key of a unique index and returns the position it held (0 on
 * failure: 4 no such key, 5 duplicate-key index). */
ZV_API uint32_t DELBLD(int filno, const void *key);
/* Exact match; position or 0. */
ZV_API uint32_t EQLKEY(int filno, const void *target);
/* First key >= target, first key > target, last key < target, last key <=
 * target: the key found is copied to keyout (may be NULL); position or 0. */
ZV_API uint32_t GTEKEY(int filno, const void *target, void *keyout);
ZV_API uint32_t GTKEY(int filno, const void *target, void *keyout);
ZV_API uint32_t LTKEY(int filno, const void *target, void *keyout);
ZV_API uint32_t LTEKEY(int filno, const void *target, void *keyout);
/* First and last key of the index. */
ZV_API uint32_t FRSKEY(int filno, void *keyout);
ZV_API uint32_t LSTKEY(int filno, void *keyout);
/* Key after and before the current one (the last key a read returned);
 * 0 with no error past either end. 34 broken predecessor link. */
ZV_API uint32_t NXTKEY(int filno, void *keyout);
ZV_API uint32_t PRVKEY(int filno, void *keyout);
/* Number of keys of the index (low word; high word through zvGETHGH); 48
 * for a data file. */
ZV_API uint32_t IDXENT(int filno);
/* Replaces the record position of key: 0, 101 key absent, 48 not an index. */
ZV_API int UpdateRecordOffsetForKey(int filno, const void *key, uint64_t newpos);

/* ------------------------------------------------------------------------ */
/* Key navigation: current keys, estimates, sets, ranges, distinct counts,   */
/* bulk load.                                                                */
/* ------------------------------------------------------------------------ */
/*
 * The ISAM-level calls (sets, ranges, GETCURP, GETCURK) return, or leave, the
 * ISAM error code (zvGetIsamErrorCode); the index calls leave uerr_cod.
 * Targets and range values are in record-field form and are transformed to
 * key form unless bit 1 of the start-up profile says they already are.
 */

/* Current ISAM record position of data file datno (low word; high word
 * through zvGETHGH); 0 when it has none or is not open. */
ZV_API uint32_t GETCURP(int datno);
/* Current key image of index keyno: copied into buf (or, with buf NULL, a
 * pointer to the image itself), *len the key length (len may be NULL). A
 * stale image is formed again from the current record first. NULL with
 * 894 no key, 893 error state, 892 still stale, 48 not an index. */
ZV_API void *GETCURK(int keyno, void *buf, int32_t *len);
/* Copies the current key image into buf (zeros when the index has no
 * current node): 0, 894, 893, 48 for a data file, 540 no buffer. */
ZV_API int GETCURKL(int keyno, void *buf);
/* Estimated number of entries between two keys in key form (NULL: the start
 * or the end of the index); low word, high word through zvGETHGH. */
ZV_API uint32_t ESTKEY(int keyno, const void *key1, const void *key2);
/* ESTKEY on two targets transformed to key form; *flag (may be NULL) is set
 * to 1. */
ZV_API uint32_t ESTRNG(int keyno, const void *target1, const void *target2, int32_t *flag);
/* The key at percent (0..100) of the index, copied into buf; its record
 * position. 60 above 100. */
ZV_API uint32_t FRCKEY(int keyno, void *buf, int32_t percent);
/* Exact number of entries e with key1 <= e <= key2 (NULL: lowest, highest). */
ZV_API uint32_t RNGENT(int keyno, const void *key1, const void *key2);
/* The key n entries after the first key >= target, copied into buf; its
 * record position, and the index's current key (NXTKEY continues after it).
 * 0 past the end. */
ZV_API uint32_t ORDKEY(int keyno, const void *target, int32_t n, void *buf);

/* Key sets: the records whose keys begin with the first siglen bytes of
 * target (0: every key), in key order. FRSSET/LSTSET start at the first or
 * last record, NXTSET/PRVSET step, MIDSET makes the set of the current
 * record's key prefix current. The V forms read variable-length records
 * (*len: buffer length in, record length out; NULL gives 633). 0, 101 no
 * further record, 118 no set current on keyno, 100 no current record, 634
 * negative length, or the error of the transform, search or read. */
ZV_API int FRSSET(int keyno, const void *target, void *record, int32_t siglen);
ZV_API int LSTSET(int keyno, const void *target, void *record, int32_t siglen);
ZV_API int NXTSET(int keyno, void *record);
ZV_API int PRVSET(int keyno, void *record);
ZV_API int MIDSET(int keyno, void *record, int32_t siglen);
ZV_API int FRSVSET(int keyno, const void *target, void *record, int32_t siglen, int32_t *len);
ZV_API int LSTVSET(int keyno, const void *target, void *record, int32_t siglen, int32_t *len);
ZV_API int NXTVSET(int keyno, void *record, int32_t *len);
ZV_API int PRVVSET(int keyno, void *record, int32_t *len);
ZV_API int MIDVSET(int keyno, void *record, int32_t siglen, int32_t *len);
/* Parked sets: ALCSET allocates the set table (184 present, 185 no memory);
 * CHGSET(n) parks the current set and makes set n current (a new number is
 * an empty set); FRESETN frees one set, FRESET all of them and the table. */
ZV_API int ALCSET(void);
ZV_API int CHGSET(int32_t number);
ZV_API int FRESETN(int32_t number);
ZV_API int FRESET(void);

/* Key ranges. ALCRNG defines the range of index keyno over its first nseg
 * segments: one operator word per segment (193 =, 130 >, 195 >=, 196 <=,
 * 69 <, 38 <>, 199 between, 72 between lower included, 137 upper
 * included, 10 strictly between, 43 outside; 0x200 opens and 0x400 closes
 * a group compared as one string; 0x100 on the first word: always search
 * by key), values in lower and upper (NULL when no operator needs them).
 * The operator array is only read. 0, 1032 with the sub-code (1 to 9) in
 * the system error code, 446 operator not in the table, 608 more segments
 * than the index has, 48 not an index, 614 no data file, 10 no memory; a
 * failed definition keeps the previous range. */
ZV_API int ALCRNG(int keyno, int32_t nseg, const void *lower, const void *upper, const uint32_t *ops);
/* Range reads: op 17 first, 18 last, 1 next, 2 previous; with bit 32,
 * record receives the entry's position (high word, low word) and no record
 * is read. 0, 101 end of the range, 762 no range, 764 next or previous
 * without a position, 633, or the read's error. */
ZV_API int zvdoRNG(int keyno, void *record, int32_t *len, int op);
ZV_API int FRSRNG(int keyno, void *record);
ZV_API int LSTRNG(int keyno, void *record);
ZV_API int NXTRNG(int keyno, void *record);
ZV_API int PRVRNG(int keyno, void *record);
ZV_API int FRSVRNG(int keyno, void *record, int32_t *len);
ZV_API int LSTVRNG(int keyno, void *record, int32_t *len);
ZV_API int NXTVRNG(int keyno, void *record, int32_t *len);
ZV_API int PRVVRNG(int keyno, void *record, int32_t *len);
/* Frees the range of an index. */
ZV_API int FRERNG(int keyno);

/* Distinct key values of an index (low word; high through zvGETHGH): a
 * unique index gives IDXENT; 845 when the index keeps no counts, 48 not an
 * index. The Xtd form also fills up to n level entries of four 32-bit
 * words (segments, byte length, count high word, count low word) and the
 * level count (749 for a bad n or a missing array). */
ZV_API uint32_t zvDISTINCTest(int filno);
ZV_API uint32_t zvDISTINCTestXtd(int filno, int32_t n, void *entries, int32_t *levels);
/* Recounts the distinct keys of an index (mode 4), or of every index of a
 * data file (the number of indexes processed is returned); 128, 256 and 64
 * change the index's counting first; 24 (16 with 8) switches it off, 41 (1
 * with 8 and 32) switches it on (duplicate flag 3, or 4 when unique) and
 * recounts. 749 bad mode bits or array, 446 mode not accepted, 48 a unique
 * index switched on or made unique without bit 32. The change is written
 * to the index file's header only: a set whose stored definition
 * (PUTIFILX8) still names the old duplicate handling is refused with 608 by
 * OPNRFIL and by a rename until the definition is stored again. */
ZV_API uint32_t zvDISTINCTsetXtd(int filno, int mode, int32_t n, void *entries, int32_t *levels);
ZV_API uint32_t zvDISTINCTset(int filno, int mode);

/* Bulk key load of keys in strictly ascending order (position: low word,
 * high word by zvSETHGH): mode 0 starts (empty or appending), 1 adds, 2
 * finishes. 0, 58 a load already running or of another file, 59 key not
 * above the last, 62 index shared or read only, 48 not an index, 454
 * appending to a memory index, 446 another mode, 28 position 0. A failed
 * finish ends the load and marks the index for rebuild. */
ZV_API int LOADKEY(int filno, const void *key, uint32_t poslow, int mode);

/* Key dump of an index member (diagnostics). */
typedef struct ZVDIDXDESC {
    const char *idxname;  /* index file to dump */
    const char *outname;  /* file to create for the records (must not exist) */
    int32_t filno;        /* free file number for the index (its members follow) */
} ZVDIDXDESC;
/* Writes every key of member `member` (0 the host index) in key order to a
 * new file: the key without its duplicate suffix, then the record position
 * as little-endian words (high word first with 8-byte positions). Returns
 * the number of keys, or -1 with the user error code: 540 no descriptor or
 * name, 19 output file exists, 17 cannot create it, 48 not an index, 23
 * no such member, or the open's code. */
ZV_API int32_t zvdidx(int member, const ZVDIDXDESC *desc);

/* Fixed answers of the index engine: services not supported (454) and the
 * default record-update callbacks (0). */
ZV_API int zvDeferredIndexControl(int filno, int mode);
ZV_API int zvRecordUpdateCallbackControl(int mode, void *block);
ZV_API int zvFILWCD(void);
ZV_API int RUCB_FileOpenFuncNULL(void *context, int filno);
ZV_API int RUCB_FileCloseFuncNULL(void *context, int filno);
ZV_API int RUCB_RecordUpdateFuncNULL(void *context, int filno, const void *record, int32_t len);
ZV_API void set_debug_callback(void *callback);
ZV_API void zvrefnot(void *note);
/* 1-based position of the first delim byte within n bytes of buf; 0 when absent. */
ZV_API int32_t zvcdelm(const void *buf, int delim, int32_t n);

/* ------------------------------------------------------------------------ */
/* Header fields, per-file rules, flush and reports.                          */
/* ------------------------------------------------------------------------ */

/* One attribute of an open file by mode number; the low 32 bits (signed),
 * the high word of 64-bit attributes through zvGETHGH (0 for others).
 * 0 record length, 1 key length, 2 file type, 3 file mode, 4/7/18 ISAM map
 * words (-1 without an entry), 5 key type, 6 duplicate setting, 10 logical
 * size, 11 physical size, 12 node size, 13 index member number, 14 key
 * padding, 15 field delimiter, 16 padding byte, 20 header flags 2, 21
 * alignment, 22 extend size, 23 superfile type, 24 member number, 25 update
 * flag, 26 header flags, 27 32-bit extend size, 28 first extent, 29 index
 * members, 30 partition option word, 31 first record position, 33 and 34
 * extended feature flags, 35 file id, 36 creation time, 37 server id, 38-40
 * active partitions, 41 header word +262. The file's unique id is 35, 37
 * and 36 together, an index's members carrying their host's: a process
 * stamps its files with a server id of its own, drawn at random when it (or
 * a forked child) makes its first file, and file ids counting up from a
 * random start, both in 1 .. 0x7FFFFFFF (a file made by an older version
 * carries server id 0 and a file id that may read as negative, even -1 with
 * the user error 0). -1 with the user error set on failure: the file
 * check's code, 116 undefined mode (8, 9, 17, 19, 42 and above), 454, 48
 * wrong file kind, 713, 715. */
ZV_API int32_t GETFIL(int filno, int mode);
/* Extended attributes into buffer: mode 0 the file's 8-byte attribute block
 * (status flags and open flags, host order), mode 1 one byte, 1 when the
 * file is encrypted. *length is set to the attribute's size; 153 (nothing
 * copied) when it was smaller, 540 no buffer or length, 116 other modes. */
ZV_API int GETFILX(int filno, int mode, void *buffer, int32_t *length);
/* Changes one header attribute by mode number (value: the low word; the
 * high word is taken from zvSETHGH) and writes the header unless the file
 * mode has 0x20. Modes below 32 and from 64 need a file open exclusively
 * (62). 1 serial number, 2 close time, 3 active entries, 4 creation time,
 * 5 logical size, 6 physical size, 7 delete stack, 17 alignment, 18 flavor
 * byte, 19/20/21 replace/add/clear header flags, 22 extend size (at most
 * 65535), 23 and 33 status switches, 34-36 dedicated cache, 43/44/45/50
 * status switches, 48 rule lookups off (value 1) or on (0), 65 maximum file
 * size (above the physical end, else 667), 66 32-bit extend size, 67
 * partition attribute. A refused call changes nothing. Errors: 116, 454,
 * 48, 62, 99, 419, 667, 734 (modes 65 and 66 without an extended header),
 * 749, 899, 1000, and those of the header write. */
ZV_API int PUTHDR(int filno, int32_t value, int mode);
/* Sets the file mode of a file open exclusively (62) that is no additional
 * index member (23) and rewrites its headers: +48 gets the mode, +50 the
 * mode & 0x86F4. Mode 1 adds the shared bit (46 when the file's state
 * forbids it); bit 0x02 keeps the current setting; bit 0x04 must match a
 * variable-length file (48). */
ZV_API int PUTFIL(int filno, int mode);
/* Not available in this build: 446. */
ZV_API int zvSYSPUT(void);

/* Per-file rules: name patterns (at most 254 characters; '*', '?', a
 * leading '^' inverts) of a kind: 1 dedicated cache (value: bytes), 3 not
 * cached, 9 memory file (value: size), 12 and 15 yes/no lists. Modes (64
 * may be added): 1 or 3 add (with 64 a name with wildcards gives 749);
 * 4 look up and return value in the low and value2 in the high 32 bits;
 * 12 set both values; 0x804 set value; 0x1004 set value2; 0x104 return
 * value; any other mode with bit 4 deletes the rule; 32 enumerate: from
 * index *value on, the next rule of the kind, its index into *value, its
 * pattern into name and its value returned; 512 the pattern of the first
 * rule whose value is *value into name; 0x400 give every matching rule of
 * the kind the kind *value. name receives at most 254 characters and a NUL
 * (a buffer of 255 bytes). The user error tells success (0) from 101 (not
 * found, or lookups switched off with PUTHDR mode 48), 749 (bad name or
 * mode), 540 (no name) and 10 (no memory); a failure also returns its code. */
ZV_API int64_t zvFILELIST(char *name, int32_t *value, int32_t value2, int32_t kind, int32_t mode);

/* Writes the dirty cached bytes of an open file to the file and forces it
 * to disk (fsync; not for a file opened read only). filno -1 writes the
 * dirty bytes of every open file, and the headers of every changed
 * superfile host, its directory and its open members, so that the members
 * made and filled before are found again by the superfile rebuild after a
 * kill; it syncs no file (the bytes are in the system's cache). 0,
 * or the first error as a positive value: 48 superfile host, 23 member, the
 * codes of the writes and of the sync. ZVFLUSHX with flags 1 also flushes
 * the partitions of a partitioned host; value is not used. */
ZV_API int ZVFLUSH(int filno);
ZV_API int ZVFLUSHX(int filno, int flags, int32_t value);

/* System configuration record: ZV_SYSCFG_SIZE bytes of 32-bit words, zero
 * where not listed; instance items are -1 without a started engine. 0, or
 * 540 for NULL. */
#define ZV_SYSCFG_SIZE 1024
#define ZV_SYSCFG_SIZE_WORD            0  /* ZV_SYSCFG_SIZE */
#define ZV_SYSCFG_VERSION              1  /* 0x00MMmmpp */
#define ZV_SYSCFG_POINTER_BYTES        2
#define ZV_SYSCFG_MAX_FILE_NUMBERS     3
#define ZV_SYSCFG_MAX_KEY_LENGTH       4
#define ZV_SYSCFG_PROCESS_ID           5
#define ZV_SYSCFG_ADVANCED_ENCRYPTION  6  /* 1 when supported */
#define ZV_SYSCFG_FILE_NUMBERS         7
#define ZV_SYSCFG_INDEX_BUFFERS        8
#define ZV_SYSCFG_DATA_PAGES           9
#define ZV_SYSCFG_NODE_SIZE           10
#define ZV_SYSCFG_PAGE_SIZE           11
#define ZV_SYSCFG_SPECIAL_PAGES       12
#define ZV_SYSCFG_OPEN_FILES          13
#define ZV_SYSCFG_PHYSICAL_FILES      14
#define ZV_SYSCFG_ALL_FILES           15
#define ZV_SYSCFG_DESCRIPTOR_LIMIT    16
#define ZV_SYSCFG_DESCRIPTORS         17
#define ZV_SYSCFG_PATH_SEPARATOR     150  /* low byte: '/' */
#define ZV_SYSCFG_VERSION_WORD       184  /* major << 24 | minor << 16 | patch */
#define ZV_SYSCFG_MAX_CONNECTIONS    186  /* -1: no limit */
#define ZV_SYSCFG_BUILD_ID           187  /* as zvSetVERSIONID2 gives it */
#define ZV_SYSCFG_BUILD_BASE         188  /* as zvSetVERSIONID_BASE gives it */
ZV_API int SYSCFG(int32_t *record);
/* The instance's eight I/O counters: direct reads, bytes read directly,
 * direct writes, bytes written directly, cache requests, cache hits, pages
 * in use, their high mark. 0; 540 NULL. */
ZV_API int IOPERFORMANCE(uint32_t *buffer);
/* ZV_IOPERFX_SIZE bytes: the eight, dedicated pages (total, used, high),
 * the cache's run threshold, syncs of files and of system files, open
 * files, physical files, files with members, a zero word, the time in
 * seconds, descriptors open, their limit, syncs of companion files,
 * reopened descriptors, then 40 zero bytes. 0; 540 NULL. */
#define ZV_IOPERFX_SIZE 132
ZV_API int IOPERFORMANCEX(uint32_t *buffer);
/* Rewrites the file paths in the stored file definitions of every file
 * named in the list file (one name a line; blank lines and lines starting
 * with ';' skipped), printing one line per file and a summary to the
 * engine's standard output. 0 or the last error; 12 no list, 35 its size
 * unknown, 82 no memory. */
ZV_API uint16_t zvredirectifil_list(const char *path);

/* The engine's standard output and error streams (process-wide): those set,
 * else the process's stdout and stderr. */
ZV_API FILE *getZarvoSTDOUT(void);
ZV_API FILE *getZarvoSTDERR(void);
ZV_API void setZarvoSTDOUT(FILE *stream);
ZV_API void setZarvoSTDERR(FILE *stream);
/* Formatted output to the engine's standard output. */
ZV_API int zvrt_printf_default_impl(const char *format, ...);

/* ------------------------------------------------------------------------ */
/* Services this build does not support: each answers with a fixed code.    */
/* ------------------------------------------------------------------------ */

ZV_API int ZVHIST(int filno, void *buf, int32_t len, int mode, const char *name,
                  const char *user, const char *node, int32_t tran, int32_t pos);
ZV_API int CHGHST(int mode);
ZV_API int FREHST(int handle);
ZV_API int FREHSTN(int handle);
ZV_API int zvSNAPSHOT(int action, const char *snapid, void *buf, int32_t buflen);
ZV_API int SYSMON(int mode, int32_t timeout, char *buf, int32_t buflen);
ZV_API int SYSLOG(int evclass, int32_t event, const char *text, int32_t len);
ZV_API int zvLOKDMP(int refno, const char *dumpname, int mode);
ZV_API int zvSETCOMPRESS(int type, int version, const char *dllname, const char *attrstr, int attrlen);
ZV_API int getCMPRECres(void *buf, int32_t buflen);
ZV_API int zvQUIET(const char *action, int32_t timeout, int mode);
ZV_API int zvFILBLK(int action, const char *filename);
ZV_API int ZVASYNC(int mode, void *handle);
ZV_API int zvImpersonateTask(int32_t taskid);
ZV_API int zvCMPRECexit(void);
ZV_API int setCMPRECres(const void *buf, int32_t buflen);
ZV_API int zvReplAgentSetCallback(void *agent, int type, void *callback);
ZV_API int zvReplAgentSetState(void *agent, int state);
ZV_API int zvReplAgentSetArgs(void *agent, const char *args);
ZV_API int zvCreateSequence(const void *attrs);
ZV_API int zvDeleteSequence(const char *name);
ZV_API int zvOpenSequence(const char *name, int32_t *handle);
ZV_API int zvCloseSequence(int32_t handle);
ZV_API int zvGetSequenceAttrs(int32_t handle, void *attrs);
ZV_API int zvSetSequenceAttrs(int32_t handle, const void *attrs);
ZV_API int zvGetCurrentSequenceValue(int32_t handle, int64_t *value);
ZV_API int zvSetCurrentSequenceValue(int32_t handle, int64_t value);
ZV_API int zvGetNextSequenceValue(int32_t handle, int64_t *value);
ZV_API int ZVUSER(const char *user, const char *pass, const char *group, const char *desc,
                  const char *opt, const char *extra, int action, int32_t mode);
ZV_API int ZVUSERX(const char *user, const char *pass, const char *group, const char *desc,
                   const char *opt, const char *extra, int action, int32_t mode,
                   const char *server);
ZV_API int ZVSQLCTL(int32_t mode, void *inbuf, int32_t inlen, void *outbuf, int32_t *outlen);
ZV_API int ZVSRVCTL(int32_t mode, void *inbuf, int32_t inlen, void *outbuf, int32_t *outlen);
ZV_API int zvCMPREChndl(void *handle);
ZV_API void retCMPRECres(void);
/* System source of the built-in masking key: 0, no key. */
ZV_API int zvcamosys(void *key, int32_t keylen);

/* ------------------------------------------------------------------------ */
/* Fixed-length records, record filters, locks and transactions.             */
/* ------------------------------------------------------------------------ */

/* Positions are byte offsets in the data file: the low word travels in the
 * call, the high word beside it (zvSETHGH before the call, zvGETHGH after);
 * a file without 8-byte offsets ignores the high word. Position 0 is never
 * a record. Codes of the position check: 29 position 0 or inside the
 * header, 767 not a multiple of the record length, 30 beyond the last byte
 * used. */

/* Allocates a record of a fixed-length data file: the latest freed record
 * (last in, first out) or a new one at the end of the file. Raises the
 * active count and takes the file's next serial number, left in the
 * instance. Returns the position (low word), or 0 with the code in uerr_cod:
 * 48 not a fixed-length data file, 44 the 32-bit serial number wrapped,
 * 54 read only, 39 the file is full. A damaged delete stack is logged and
 * reset, and the file grows instead. */
ZV_API uint32_t NEWREC(int datno);
/* Frees the record at recbyt: it goes on the delete stack (first byte 0xFF,
 * then the link) and the active count falls. 0, or 32 when the record is
 * already free (only the position the file's latest NEWREC handed out may
 * be freed before its first write), 48 not a fixed-length data file, 54,
 * and the position codes. */
ZV_API int RETREC(int datno, uint32_t recbyt);
/* Reads one record into recptr (record-length bytes) and applies the file's
 * record filter. 0, 33 null buffer, 739 rejected by the filter (the image
 * stays in the buffer), 598 the filter could not be evaluated, the position
 * codes, or an I/O error. */
ZV_API int REDREC(int datno, uint32_t recbyt, void *recptr);
/* Writes one record from recptr (record-length bytes); the buffer is
 * unchanged afterwards. 0, 33 null buffer, 48 an index, 553 an image
 * beginning 0xFF or 0xFE 0xFE while the operation word asks for the check,
 * 54, the position codes, or an I/O error. */
ZV_API int WRTREC(int datno, uint32_t recbyt, void *recptr);
/* Number of active records (low word; high word through zvGETHGH); 0 with
 * 48 for a file that is not a fixed-length data file. */
ZV_API uint32_t DATENT(int datno);
/* Record filter of a data file, applied by every record read. A null text
 * clears it, an empty text too. 0; 48 an index; 454 a kind of filter this
 * build does not have ("@@?...", "@@!...", "#..."), or any expression until
 * the expression language is present; 82 no memory; 596, 597 the text
 * cannot be parsed. The two mode words of SETFLTRN have no effect. */
ZV_API int SETFLTRN(int datno, int mode1, int mode2, const char *text);
ZV_API int SETFLTR(int datno, const char *text);
/* Attaches an already parsed expression as the filter (NULL clears). */
ZV_API int SETFLTRX(int datno, void *tree);
/* Mode 2 clears the filter; any other mode gives 116. */
ZV_API int RESETFLTR(int datno, int mode);
/* Record locks do nothing in this build: clears uerr_cod, returns 0. */
ZV_API int LOKREC(int datno, int mode, uint32_t recbyt);
/* Services this build does not have. zvLOKTIMOUT, zvLOKDYN and zvLOKLST
 * give 454 and leave it in uerr_cod; the queue calls and zvNotify give 454,
 * zvSysQueueOpen, zvSysQueueMlen and zvSysQueueCount -454, all with uerr_cod
 * untouched; the lock-table entries and zvtestfunc give 0. */
ZV_API int zvLOKTIMOUT(int filno, int mode, int32_t timeout);
ZV_API int zvLOKDYN(int filno, int mode);
ZV_API int zvLOKLST(int filno, void *buffer, int32_t *length, int mode);
ZV_API int zvSysQueueOpen(const char *name, int mode);
ZV_API int zvSysQueueClose(int queue);
ZV_API int zvSysQueueWrite(int queue, const void *message, int32_t length);
ZV_API int zvSysQueueLIFOWrite(int queue, const void *message, int32_t length);
ZV_API int zvSysQueueRead(int queue, void *buffer, int32_t length, int32_t timeout);
ZV_API int zvSysQueueMlen(int queue, int32_t timeout);
ZV_API int zvSysQueueCount(int queue);
ZV_API int zvNotify(int action, int filno, int queue, const void *object, int32_t length, int options);
ZV_API int zvultbl81(int filno, uint32_t hi, uint32_t lo, int mode);
ZV_API int zvuutbl81(int filno, uint32_t hi, uint32_t lo);
ZV_API int zvtestfunc(void);

/* ISAM lock mode of the instance: 0 free; 2, 3, 4, 11, 12, 13 enabled
 * variants; 5 suspended. Requests: 0 releases the locks ISAM calls hold
 * and frees the mode; 1 releases them and keeps the mode (2 when it was
 * free); 2, 3, 4, 11, 12, 13 enable that variant (112 while a lock an ISAM
 * call took is held, except that 2, 3, 4 and 11 replace another enabled
 * variant at once); 5 suspends an enabled mode; 6, 7, 8, 14 restore a
 * suspended one to 2, 4, 3, 11; 128 returns minus the mode (also left in
 * the user and ISAM error codes); other requests below 256 change
 * nothing. 0, 464 before ISAM start-up, 446 bits outside 0x2FF, 454 bit
 * 0x200. A refused request leaves the mode as it was. */
ZV_API int LKISAM(int mode);

/* Transactions of this build are lock scopes; nothing is logged or undone.
 * TRANBEG: 1, or 0 with uerr_cod 70 (one is open already) or 454 (mode bit
 * 0x200 asks for a log); mode & 7 takes that ISAM lock mode (5 becomes 11).
 * TRANABTX ends it: 71 when none is open; mode 0 releases every lock and
 * frees the ISAM lock mode, 41 the locks marked 0x04, 42 all but those
 * marked 0x08; other modes keep the locks (0); bit 0x200 closes the
 * transaction, keeps the locks and gives 454. TRANEND(mode) is
 * TRANABTX(mode), TRANABT() TRANABTX(0). */
ZV_API int32_t TRANBEG(int32_t mode);
ZV_API int TRANEND(int mode);
ZV_API int TRANABT(void);
ZV_API int TRANABTX(int mode);
/* Savepoints are counted only. TRANSAV: the new savepoint number (0 with
 * 71 outside a transaction). TRANRST(n): back to savepoint n, or with n
 * negative n + 1 savepoints back from the current one; 71 when it does not
 * exist. SAVPCLR drops the last one (71 when none). */
ZV_API int TRANSAV(void);
ZV_API int TRANRST(int n);
ZV_API int SAVPCLR(void);
/* 0 while a transaction is open, else 71 (both left in uerr_cod). */
ZV_API int TRANRDY(void);
/* No effect: 0. */
ZV_API int TRANCLR(void);
ZV_API int SPCLSAV(void);
/* Transaction users are not supported: uerr_cod 454, returns 0. */
ZV_API int TRANUSR(void);
/* Isolation levels are not supported: 116 above 3, else 454 (in uerr_cod). */
ZV_API int TRANISO(int level);

/* ------------------------------------------------------------------------ */
/* ISAM file sets: definitions, create, open, close (engine/isam).           */
/* ------------------------------------------------------------------------ */
/*
 * A file set is one data file with all its indexes, described by one IFIL.
 * Its files take consecutive file numbers: the data file d, then d + 1 + k
 * for index k (an index file or an additional member of the index file
 * before it). ISAM calls clear the ISAM error at entry and leave their
 * outcome in zvGetIsamErrorCode with the file number it concerns in
 * zvGetIsamFileNbr; a code of the file or index layer is passed on as it is.
 */

/* One key segment: record offset (or record-schema field number for the
 * schema modes), length, segment mode (0x200 partition segment, 0x400
 * Unicode; 0x80 together with 0x400 is refused). */
typedef struct ISEG {
    int16_t soffset;
    int16_t slength;
    int16_t segmode;
} ISEG;

/* One index of a set. ikeylen includes the record-position suffix of an
 * index with duplicates (ikeydup bit 0). aidxnam starts a new index file:
 * "*name" and "+name" lie in the data file's directory, "?suffix" is the
 * data file name followed by the suffix. An index without aidxnam (other
 * than the first) is an additional member of the index file before it. */
typedef struct IIDX {
    int16_t ikeylen;           /* key length in bytes */
    int16_t ikeytyp;           /* key type bits */
    int16_t ikeydup;           /* bit 0: duplicates allowed */
    int16_t inulkey;           /* null-key handling */
    int16_t iempchr;           /* empty (pad) character */
    int16_t inumseg;           /* number of segments, 0..16 */
    const ISEG *isegarr;       /* inumseg segments */
    const char *ridxnam;       /* symbolic index name, or NULL */
    const char *aidxnam;       /* alternate index file name, or NULL */
    const uint16_t *icolseq;   /* 256-entry alternate collating sequence, or NULL */
    const char *ipadbyt;       /* pad byte of variable-length key fields, or NULL */
} IIDX;

/* A file set. The caller owns it; the engine writes only dfilmod (bit 0x4
 * on open of a variable-length file), the 0x60 bits of ikeytyp on open,
 * and tfilno. */
typedef struct IFIL {
    const char *pfilnam;       /* data file name without extension */
    int16_t dfilno;            /* data file number; -1: the engine chooses */
    uint16_t dreclen;          /* record length (fixed part) */
    uint16_t dxtdsiz;          /* data file extension size */
    int16_t dfilmod;           /* data file mode: 0x4 variable length, 0x200 no
                                  extensions, 0x800 keep no stored definition */
    int16_t dnumidx;           /* number of indexes, 0..64 */
    uint16_t ixtdsiz;          /* index file extension size */
    int16_t ifilmod;           /* index file mode */
    IIDX *iidxarr;             /* dnumidx indexes */
    const char *rfstfld;       /* optional field names kept with the set */
    const char *tlstfld;
    int16_t tfilno;            /* out: the data file number; -1 after close */
} IFIL;

/* One field of a record schema. GETDODA form 4 ends the array with an extra
 * entry whose fend is 0xFFFF. Type 0 is stored as 146. */
typedef struct DATOBJ {
    const char *fsymb;         /* field name */
    intptr_t fadr;             /* offset of the field in the record */
    uint16_t ftype;            /* field type */
    uint16_t flen;             /* field length (0: the type's own length) */
    uint16_t fend;             /* 0xFFFF in the entry after the last field */
    uint16_t fspare;
} DATOBJ;
/* Pad bytes before a field of `type` placed at `offset` of a record image
 * under the alignment setting `align` (the record-schema rule). */
ZV_API int32_t zvadjadr(int align, int type, int32_t offset);

/* Parameter block of the entries whose names end in z. Text fields are
 * NUL-terminated (an empty extension means the engine's default, one of
 * blanks means none). */
typedef struct IFILPARM {
    uint32_t permmask;         /* permission mask of new files */
    char group[32];            /* group id */
    char password[10];         /* file password */
    char dataext[8];           /* data file extension */
    char idxext[8];            /* index file extension */
    IFIL *ifil;
    XCREblk *xcre;             /* one block per physical file, or NULL */
} IFILPARM;

#ifdef __cplusplus
#define ZV_ISAM_ASSERT(c, m) static_assert(c, m)
#else
#define ZV_ISAM_ASSERT(c, m) _Static_assert(c, m)
#endif
ZV_ISAM_ASSERT(sizeof(ISEG) == 6, "ISEG is 6 bytes");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || sizeof(IIDX) == 56, "IIDX is 56 bytes");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(IIDX, isegarr) == 16, "IIDX isegarr at 16");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(IIDX, ipadbyt) == 48, "IIDX ipadbyt at 48");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || sizeof(IFIL) == 56, "IFIL is 56 bytes");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(IFIL, dfilno) == 8, "IFIL dfilno at 8");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(IFIL, dnumidx) == 16, "IFIL dnumidx at 16");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(IFIL, ifilmod) == 20, "IFIL ifilmod at 20");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(IFIL, iidxarr) == 24, "IFIL iidxarr at 24");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(IFIL, tfilno) == 48, "IFIL tfilno at 48");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || sizeof(DATOBJ) == 24, "DATOBJ is 24 bytes");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || sizeof(IFILPARM) == 80, "IFILPARM is 80 bytes");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(IFILPARM, ifil) == 64, "IFILPARM ifil at 64");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(IFILPARM, xcre) == 72, "IFILPARM xcre at 72");
#undef ZV_ISAM_ASSERT

/* Creates the data file and every index file and member of a set, enters
 * the set in the ISAM key map and stores the definition in the data file
 * (unless dfilmod has 0x800). All files stay open; tfilno gets the data
 * file number. A failure deletes every file the call created. 0, or: 540
 * NULL IFIL, name, index or segment array; 107 more than 64 indexes; 109
 * more than 16 segments; 634 negative segment length; 694 segment mode
 * 0x80 with 0x400; 895 partition segment first or before a plain one; 115
 * key length does not match the segments; 731 partition-key index out of
 * range; 195/181 no memory for the copied names; 454 a partitioned data
 * file without an extended header (none of the header flags 0x02, 0x08,
 * 0x40); and the codes of the file layer. CREIFILX builds default create
 * blocks; CREIFIL uses the default extensions, no mask, group or password.
 *
 * A partitioned set (word 0 of the data file's block with 0x00400000) is a
 * host whose records live in member sets, one per raw partition number:
 * word 9 is the relative number of the partition index, word 15 the width
 * of the raw number in the high word of a host record position (0: 16
 * bits). An index whose block word 0 has 0x02000000, that allows no
 * duplicates and is not the partition index, is a global unique index: a
 * key in any member refuses the same key in every other. The partition
 * rule is the resource "QV!PRUL" of the data file: "NONE" for the date
 * rule (the partition key is a day serial or seconds; members are named
 * ".YYYYMMDD.nnnnnn"), otherwise an expression over the key's fields
 * (members named ".%03d"). A member set is made from the host's
 * definition by the first record that needs it, opens and closes with the
 * host, and follows the host's delete, rename, index drop and file modes;
 * ADDREC, RWTREC, DELREC, their variable-length twins and the reads of
 * the host and of its partition index work across the members: 712 no
 * usable raw number, 730 a raw number too high, 418 a member name over 255
 * bytes, 715 no such member, 720/721 a purged/archived member, 722 a
 * damaged member table, 724 a position that names no member, 927 a member
 * whose stamp differs from the host's table. */
ZV_API int CREIFILz(IFILPARM *params);
ZV_API int CREIFILX8(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask,
                     const char *group, const char *password, XCREblk *xcre);
ZV_API int CREIFILX(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask,
                    const char *group, const char *password);
ZV_API int CREIFIL(IFIL *ifil);

/* Opens a set from the caller's IFIL and checks every index file against
 * it: 124 an index file with another number of members, 608 a key length,
 * duplicate mode or key-type bit 0x80 that differs (file number of the
 * index), 957 an index file already serving another data file, 107, 195,
 * and the open's codes. A failure leaves no file of the set open and tfilno
 * -1. The password is not used. */
ZV_API int OPNIFILz(IFILPARM *params);
ZV_API int OPNIFILX(IFIL *ifil, const char *dataext, const char *idxext, const char *password);
ZV_API int OPNIFIL(IFIL *ifil);
/* Opens a data file by its name (with extension) on filno (-1: the engine
 * chooses) and its indexes from the definition stored in it; index files
 * are looked for where the data file now lies. The data file number, or -1
 * with the error in uerr_cod and the ISAM error. */
ZV_API int OPNRFIL(int filno, const char *name, int mode);
ZV_API int OPNRFILX(int filno, const char *name, int mode, const char *password);
/* Close or delete every file of the set whose data file is tfilno (CLIFIL,
 * DELIFIL) or datno (CLRFIL, DELRFIL); tfilno becomes -1 on success. The
 * first error is returned (22 or 26 when the data file is not open, 56 a
 * delete of a set holding a superfile member or segment file). */
ZV_API int CLIFIL(IFIL *ifil);
ZV_API int DELIFIL(IFIL *ifil);
ZV_API int CLRFIL(int datno);
ZV_API int DELRFIL(int datno);
/* Releases a file held open beyond its last close: 1 plus the index files
 * released with it, 0 when nothing was held. A data file held by itself is
 * opened once more (shared) and that open closed again; when that open
 * fails nothing is released: 0, the open's code as the user error. */
ZV_API int zvundokepopn(const char *name);
/* Closing by name is not supported: 454. */
ZV_API int zvCLSNAM(const char *name);

/* The definition stored in an open data file, rebuilt into buffer: the
 * length needed (also when buflen is short, the buffer then untouched), 0
 * on error (uerr_cod; 408 none stored). The buffer receives an IFIL whose
 * pointers all point into the buffer, with the names of the files as they
 * are now found, dfilno and tfilno -1. The password is not used. */
ZV_API int32_t GETIFILX(int datno, int32_t buflen, void *buffer, const char *password);
ZV_API int32_t GETIFIL(int datno, int32_t buflen, void *buffer);

/* Stores the definition of a set in its existing data file (definition
 * block 0). The data file is opened by its name under a free number and
 * closed again, unless the data file's create block (params->xcre[0]) has
 * bit 0x1 in word 10: it is then open already under tfilno (bit 0x10000
 * too: its indexes are open through its key list). Word 15 of that block
 * is the definition-block type (0 or 200..299; -1 stores sub-number 129).
 * An index whose key type has bit 0x80 (keys may not change) gets that bit
 * in its index file's header, and the data file is marked (header flags 2
 * bit 0x10000) while any index has it; a failure puts the key types back.
 * Resources are enabled on a data file without them. 0, or: 540 NULL
 * IFIL, name or index array; 107 more than 64 indexes; 749 word 10 bit
 * 0x10000 without 0x1; 48 tfilno names an index; 62 a superfile member;
 * 124 an index file with another number of members; 643 a shared index
 * slot; 446 a bad definition-block type; the open's and store's codes.
 * PUTIFILX builds default create blocks; PUTIFIL uses the default
 * extensions and no password (the password is not used). */
ZV_API int PUTIFILz(IFILPARM *params);
ZV_API int PUTIFILX8(IFIL *ifil, const char *dataext, const char *idxext, const char *password,
                     XCREblk *xcre);
ZV_API int PUTIFILX(IFIL *ifil, const char *dataext, const char *idxext, const char *password);
ZV_API int PUTIFIL(IFIL *ifil);
/* Renames every file of the open set whose data file is tfilno (its index
 * files and their automatic segment files with it) to the names of the
 * IFIL, and stores the new names in the definition kept in the data file
 * (unless dfilmod has 0x800). The set stays open. Nothing is renamed when
 * a new name is taken by another file: 67 with the file concerned in
 * zvGetIsamFileNbr; a rename that fails halfway renames every file back
 * (a file that cannot be put back is logged "Could not undo rename
 * for..." with the code, then its name). Renaming to the present names
 * touches no file. 0, or: 608 the IFIL does not match the stored
 * definition or the open files (another index count, key length, type or
 * duplicate mode, alternate names present where the stored ones are not);
 * 454 a superfile member; 56 a set holding a file that may not be
 * changed; the codes of zvRENFIL and of the store. RENIFIL uses the
 * default extensions. */
ZV_API int RENIFILz(IFILPARM *params);
ZV_API int RENIFILX(IFIL *ifil, const char *dataext, const char *idxext);
ZV_API int RENIFIL(IFIL *ifil);
/* Puts the set `from` in the place of the files that `to` names:
 * the data file and each index file of its own of `from` (its names formed
 * as OPNIFIL forms them, with the extensions) take the names of the same
 * files of `to` (a definition with the same indexes). The new files are
 * marked as not closed cleanly before the first rename and the marks
 * cleared after the last; a file that a name held keeps a second name
 * until the end, and each new file is renamed over it in one step, so that
 * a kill at any point leaves every name holding its file or the new one,
 * and the set answering 14 (for the rebuild) while they are mixed. Before
 * the first rename the definition stored in `from`'s data file (if any)
 * becomes `to` with the extensions, and after a failure its own again. A
 * data file with automatic segments moves with its segment files, a note
 * beside it ("<data file>.swap") saying how: 454 when its new data file
 * lies in another directory, or either is a symbolic link (the note holds
 * base names, and an open follows no link). A partitioned host moves with
 * its members: each member's files take the names of the old host's files
 * with its suffix (its stored definition and the host's member table
 * naming them so first), an old member's file that no new one replaces is
 * deleted at the end, and the note lists every file: an open of the host
 * finishes the swap once the host's data file has moved (clearing the
 * marks) and drops it with the new files before. 454 when a file of such
 * a set lies outside the data file's directory and the directories below
 * it, is reached there through a symbolic link, or has automatic segments.
 * An open acts on a note only while it holds the file the note stands
 * beside exclusively, and only on the set's own files. Sets of
 * superfile members of one host are swapped inside it: each old member
 * renamed to a kept name, then each new member to the old one's, every
 * step flushed to the host before the next, after the note
 * ("host!member.swap" of the data member); the open of the data member
 * finishes the swap from it once a member has moved, and before drops it
 * with the new members (a host left not closed cleanly is rebuilt by
 * ZVSBLDX first); 454 when a file of either set is no member. A file
 * of the old set that no name of `to` reaches is not touched (but for the
 * members above). A failure puts every old file back under its name and
 * every new one under its own (a name that cannot be put back is logged).
 * The swap holds every file of both sets (a superfile member: its host)
 * from its first look at them to its end: another open of one meanwhile,
 * in any process or instance, answers 12, and a set of which another open
 * has a file is refused with 12 (the lock's system error in
 * zvGetSystemErrorCode()) before anything changes. Either set may be open
 * in the calling instance (as an alteration holds its table open
 * exclusively): the swap takes its opens' files over into its hold and
 * closes the opens before its first change, so that no other open comes
 * between; a refusal before that leaves them open as they were.
 * 0, or: 540 a NULL IFIL or name, or definitions of another shape; 107
 * more than 64 indexes; 12 a file of either set held by another open; the
 * codes of the opens, closes, renames and header writes. */
ZV_API int SWPIFILX(IFIL *from, IFIL *to, const char *dataext, const char *idxext);

/* Indexes added to an open data file. The IFIL describes the new indexes
 * only: dfilno the data file, dnumidx their count, iidxarr their IIDX (the
 * first must have aidxnam: its new index file, named as in CREIFIL after
 * the data file), tfilno the first file number wanted (-1: any free run;
 * on success the first number used, -1 after a failure). With dxtdsiz 3
 * the new indexes stay empty; otherwise their keys are loaded from the
 * records. PRMIIDX adds them to the stored definition; TMPIIDX adds
 * working indexes (header flag 0x20) for as long as they are open, the
 * stored definition untouched. A failure deletes every file the call
 * created and leaves the key map and the stored definition as they were.
 * 0, or: 465 no new indexes; 466 dfilno is no open data file of the key
 * map; 467 the first new index has no aidxnam; 107 more than 64 indexes
 * in all; 783 a permanent add to a data file with temporary indexes; 454
 * a create block of the data file with 0x810; 408 no stored definition;
 * 197 no memory; 198 a data file name too long; 2 duplicate keys in a
 * unique new index; 869 the load stopped through the rebuild's status
 * block (a progress routine without one gets one for the call); the codes
 * of the creates and of the key load.
 * RBLIIDX loads the keys of indexes added earlier (tfilno their first
 * number): 454 a superfile member or a data file opened with 0x10, 608 an
 * index file not open or of another key length. PRMIIDX and TMPIIDX use
 * default create blocks. */
ZV_API int PRMIIDXz(IFILPARM *params);
ZV_API int PRMIIDX8(IFIL *ifil, XCREblk *xcre);
ZV_API int PRMIIDX(IFIL *ifil);
ZV_API int TMPIIDXz(IFILPARM *params);
ZV_API int TMPIIDXX8(IFIL *ifil, int32_t permmask, const char *group, const char *password, XCREblk *xcre);
ZV_API int TMPIIDXX(IFIL *ifil, int32_t permmask, const char *group, const char *password);
ZV_API int TMPIIDX(IFIL *ifil);
ZV_API int RBLIIDXz(IFILPARM *params);
ZV_API int RBLIIDX(IFIL *ifil);

/* Partition administration of a partitioned host data file: the action is
 * mode & 0x6FF0: 16 purge a member (delete its files), 32 add an existing
 * member file (text its name, raw its raw number), 64 archive, 128 move the
 * lowest raw number, 512 re-use a purged raw number, 1024 activate an
 * archived member, 2048 ask a member's state (into the secondary error
 * word, zvGetSystemErrorCode), 8192 change the partition rule (text, or
 * NULL for the date rule), 16384 rebuild one closed member. The member is
 * designated by mode & 7: 1 by name (text), 2 by a key of the partition
 * index (text), 4 by raw number (raw); the rule change takes none. Codes:
 * 713 not a partitioned host, 48 an index, 446 unknown action or
 * designation, 454 action 256 or mode bit 0x1000 with purge, add, archive,
 * activate or re-use, 712/730 a raw number below/above the table, 715 no
 * such member or already in that state, 718 a state that does not allow
 * the action, 714/734/737 the added file is no member / no data file of
 * the kind / of another raw number, 747 a rule that does not parse (the
 * parser's code in the secondary error word), 930 a stamp past 255 with
 * 4-byte positions, 10 no memory; the codes of the opens, writes and
 * deletes. */
ZV_API int PTADMIN(int hostno, const char *text, int32_t raw, int mode);
/* Drops the index file idxno (with its members) from its data file and
 * deletes it: the stored definition, the conditions of the data file's
 * indexes (later ones renumbered) and the key map follow; the later
 * indexes move down in the data file's index list. 0, or: 23 an index
 * member; 48 not an index; 62 a superfile member; 446 a temporary index;
 * 464 the ISAM layer is not started; 614 no data file in the key map; 608
 * the index is not in its data file's list, or the stored definition does
 * not match it. A failed delete puts everything back (the index reopened
 * if the delete closed it) and returns the delete's code. */
ZV_API int zvDROPIDX(int idxno);

/* ISAM parameter files: a text of whitespace-separated items (numbers as
 * 16-bit decimal integers, names as single words of at most 255
 * characters): the initialisation record (buffers, index files, node
 * sectors, data files); per data file its record (number, name, record
 * length, extension size, file mode, index entries), its two field names,
 * and per index file its record (key number, name, key length, key type,
 * duplicate mode, members, extension size, file mode, null-key value,
 * empty character, segments), its index name and its segments (offset,
 * length, mode), then per member its record (key number = host + member,
 * key length, key type, duplicate mode, null-key value, empty character,
 * segments), name and segments. CREISAMX starts the ISAM layer (registering
 * the default instance when none is current) and creates every file;
 * OPNISAMX opens them. 0, or: 102 the file cannot be opened; 103, 106,
 * 111, 117 an initialisation, data file, index or member record that is
 * incomplete (a missing item, a name over 255 characters, a number outside
 * -32768..32767, a negative count); 110 an incomplete segment record; 107
 * more than 64 index entries; 108 a member's key number; 109 more than 16
 * segments; 180, 183 a missing (or over-long) index or field name; 46 a
 * file number in use; 22 out of range; 124, 608 (open) files that do not
 * match the description; and the codes of the creates and opens. After a
 * failure every file made or opened so far is closed (not deleted) and the
 * ISAM layer stopped. CREISAM and OPNISAM use the user profile 33. */
ZV_API int CREISAMX(const char *name, int32_t userprof);
ZV_API int CREISAM(const char *name);
ZV_API int OPNISAMX(const char *name, int32_t userprof);
ZV_API int OPNISAM(const char *name);

/* Stores the record schema (n fields) of a data file as its field-type and
 * field-name blocks (definition-block type 0 or 200..299, else 446). 432 a
 * variable-length type without length, 434 a block of 64 KB or more, 153 a
 * name over 253 characters, 540 no schema, 48 an index, 435 no memory. */
ZV_API int PUTDODAX(int datno, const DATOBJ *doda, int n, int type);
ZV_API int PUTDODA(int datno, const DATOBJ *doda, int n);
/* The stored record schema: the length needed, copying into buffer only when
 * buflen suffices; 0 with the error in uerr_cod (116 bad form). Forms: 1 the
 * field-type block, 2 the field-name block, 3 both, 4 n + 1 DATOBJ entries
 * (offsets from 0, aligned as the block says) followed by the names. */
ZV_API int32_t GETDODAX(int datno, int32_t buflen, void *buffer, int form, int type);
ZV_API int32_t GETDODA(int datno, int32_t buflen, void *buffer, int form);

/* Names of an open file: mode 0 its own name (GETNAM); 1 and 2 the two
 * field names and 3 the index name kept in the ISAM key map for the number
 * (an empty name when none is kept); 7 and 8 the data and index file names
 * from the definition stored in the data file (408 when none is stored).
 * 0, 540 no buffer, 153 does not fit (buffer untouched), 116 other modes. */
ZV_API int iGETNAM(int filno, char *buffer, int32_t len, int mode);

/* Conditional indexes. An index of a file set may carry a condition: an
 * expression over the record's fields, or a callback filter ("@name"); a
 * record has a key in that index only when the condition holds for it. The
 * conditions of all indexes of a data file are kept in the data file as one
 * resource (type 0, number 5, "QV!CIDX"), loaded at open. Its body, in host
 * order, from the counts on:
 *   OFFSET SIZE
 *     0    2   A: number of conditions
 *     2    2   B: number of entries of a second group (carried along)
 *     4    8n  A + B entries: i16 relative index number, i16 text space
 *              (with its NUL), i32 kind (0 expression, 1 callback filter)
 *     ..       the texts in entry order, each NUL-terminated and padded
 *              with NULs to its entry's space.
 * An index file marked with header flag 0x20 (PUTHDR(n, 32, 20)) keeps its
 * condition in memory instead, until it is closed; nothing is stored.
 *
 * UPDCIDX: sets, replaces or (NULL or empty text) removes the condition of
 * the index idxno; keys already in the index stay as they are. 0; 614 the
 * index is not in a key map; 597 the text does not parse (nothing stored);
 * 596 the data file has no field names; 446 a text of 32767 bytes or more;
 * 439 the stored conditions are damaged; 83 no memory; resource errors.
 * PUTCRES: stores the body of length bytes (NULL, or no entries: removes
 * the resource) and loads the conditions again. 0; 48 an index; 595 the
 * body is longer than length; 439 a text without its NUL; 596, 597 a text
 * that cannot be parsed (nothing stored); resource errors.
 * GETCRES: the length of the stored body, copied into buffer only when
 * length suffices; 0 with 408 in uerr_cod when none is stored, 439 when
 * the resource is damaged.
 * GETCIDX: the length of the index's condition text with its NUL, copied
 * into buffer only when length suffices; 0 when the index has none, or 0
 * with the error in uerr_cod (614 not in a key map, 439 damaged). */
ZV_API int UPDCIDX(int idxno, const char *text);
ZV_API int PUTCRES(int datno, const void *body, int32_t length);
ZV_API int32_t GETCRES(int datno, int32_t length, void *buffer);
ZV_API int32_t GETCIDX(int idxno, int32_t length, void *buffer);

/* Full-text search is not offered by this build: each call answers 454
 * and does nothing else; zvFullText also leaves 454 in uerr_cod.
 * zvFullTextSearch(datno, query, mode), AllocFTSearch(datno, query) and
 * FreeFTSearch() would set up and release a search; FirstInFT, NextInFT,
 * LastInFT and PrevInFT(datno, record, length) would read its records;
 * the three callbacks would keep a file's full-text indexes in step with
 * its opens, closes and record changes (datno, operation, old record and
 * length, new record and length); zvFullText(parameters) would serve the
 * full-text index definitions. */
ZV_API int zvFullTextSearch(int datno, const char *query, int mode);
ZV_API int AllocFTSearch(int datno, const char *query);
ZV_API int FreeFTSearch(void);
ZV_API int FirstInFT(int datno, void *record, int32_t *length);
ZV_API int NextInFT(int datno, void *record, int32_t *length);
ZV_API int LastInFT(int datno, void *record, int32_t *length);
ZV_API int PrevInFT(int datno, void *record, int32_t *length);
ZV_API int FTS_OpenFileCallback(int datno);
ZV_API int FTS_CloseFileCallback(int datno);
ZV_API int FTS_RecordUpdateCallback(int datno, int operation, const void *oldrec, int32_t oldlen,
                                    const void *newrec, int32_t newlen);
ZV_API int zvFullText(void *params);

/* ------------------------------------------------------------------------ */
/* ISAM records: add, rewrite, delete and reads with all keys (engine/isam). */
/* ------------------------------------------------------------------------ */
/*
 * Every call clears the ISAM error at entry and returns it: 0, an ISAM code
 * below, or a code of the file or index layer passed on as it is, with the
 * file it concerns in zvGetIsamFileNbr (the data file or the index).
 * Positions are 64-bit: the low word travels as the argument, the high
 * word through zvSETHGH/zvGETHGH.
 *
 * A write changes the record and every key of every index of the data file
 * in one call; when any step fails, the steps already done are undone and
 * the data file and its indexes are as they were (105 only when an undo
 * step failed too; on a full disk see zvGetSystemErrorCode). A successful read, add or rewrite makes the record the
 * current ISAM record of its data file; a failed call and a delete leave
 * the current record as it was. Rewrite and delete act on the current
 * record.
 *
 * Codes: 33 no record buffer; 48 an index where a data file is needed (or
 * the wrong kind of data file); 100 no current record; 101 no record found;
 * 114 the record was deleted meanwhile; 140 a partial image longer than the
 * record; 149 a variable-length record shorter than the fixed part; 160 the
 * record read no longer carries the key the index gave; 553 a fixed-length
 * record beginning 0xFF or 0xFE 0xFE; 633 no length pointer; 634 a negative
 * length; 794 the current record was read without its key images (a length
 * asked only, or a partial read); 921/922 the identity field changed / not
 * known; 1001 a key of an index whose key type has bit 0x80 would change; 2
 * an existing key of a unique index (the index's number in
 * zvGetIsamFileNbr); 37 a write failed (the system's reason in
 * zvGetSystemErrorCode; a full disk: 28, what to do there beside it); 105
 * the undo of a failed call failed too.
 */
/* Adds a fixed-length record: serial segment and identity field are filled
 * in the caller's buffer first. */
ZV_API int ADDREC(int datno, void *record);
/* Rewrites / deletes the current ISAM record. */
ZV_API int RWTREC(int datno, void *record);
ZV_API int DELREC(int datno);
/* Variable-length twins: len is the record length (at least the fixed
 * part). A longer rewrite moves the record unless its area is the last of
 * the file or the next area is free and large enough; the old area is
 * returned only after keys and record are written. */
ZV_API int ADDVREC(int datno, void *record, int32_t len);
ZV_API int RWTVREC(int datno, void *record, int32_t len);
ZV_API int DELVREC(int datno);
/* Replaces the first len bytes of the current record (fixed or variable);
 * only the keys that the change touches move. */
ZV_API int RWTPREC(int datno, void *record, int32_t len);
/* Reads the whole current record into buffer (at most buflen bytes). */
ZV_API int REDVREC(int datno, void *buffer, int32_t buflen);
/* Length of the current variable-length record; 0 with the ISAM error. */
ZV_API int32_t GETVLEN(int datno);

/* Keyed reads through index keyno: equal, first >=, first > (past every
 * duplicate), last <=, last <. The target is in record-field form and is
 * transformed to key form unless bit 1 of the start-up profile says it is
 * in key form already (a duplicate-key index then includes the position
 * suffix). The V forms read a variable-length record: *len is the buffer
 * length in and the record length out; a length of 0 only asks the length.
 * A record the data file's filter refuses is passed over (EQLREC: 101). */
ZV_API int EQLREC(int keyno, const void *target, void *record);
ZV_API int GTEREC(int keyno, const void *target, void *record);
ZV_API int GTREC(int keyno, const void *target, void *record);
ZV_API int LTEREC(int keyno, const void *target, void *record);
ZV_API int LTREC(int keyno, const void *target, void *record);
ZV_API int EQLVREC(int keyno, const void *target, void *record, int32_t *len);
ZV_API int GTEVREC(int keyno, const void *target, void *record, int32_t *len);
ZV_API int GTVREC(int keyno, const void *target, void *record, int32_t *len);
ZV_API int LTEVREC(int keyno, const void *target, void *record, int32_t *len);
ZV_API int LTVREC(int keyno, const void *target, void *record, int32_t *len);
/* First, last, next and previous record: in key order for an index (next
 * and previous from the current record's key), in physical order for a
 * data file (LSTREC and PRVREC of a plain fixed-length file only: 48
 * otherwise). */
ZV_API int FRSREC(int filno, void *record);
ZV_API int LSTREC(int filno, void *record);
ZV_API int NXTREC(int filno, void *record);
ZV_API int PRVREC(int filno, void *record);
ZV_API int FRSVREC(int filno, void *record, int32_t *len);
ZV_API int LSTVREC(int filno, void *record, int32_t *len);
ZV_API int NXTVREC(int filno, void *record, int32_t *len);
ZV_API int PRVVREC(int filno, void *record, int32_t *len);
/* Reads the current record again. */
ZV_API int RRDREC(int datno, void *record);
/* Reads the record at a position and makes it current. */
ZV_API int REDIREC(int datno, uint32_t poslow, void *record);
ZV_API int REDIVREC(int datno, uint32_t poslow, void *record, int32_t *len);
/* Makes a record image current at a position without reading it (len 0:
 * the fixed length; a NULL image leaves the key images not valid). */
ZV_API int SETCURI(int datno, uint32_t poslow, const void *record, int32_t len);
/* The saved copy of the current record: mode 0 saves, 1 restores, 2
 * exchanges; 116 another mode. */
ZV_API int UPDCURI(int datno, int mode);
/* Copies at most 1,024 bytes into the find-value buffer that a key read
 * compares the record's key with (NULL: nothing). 0. */
ZV_API int setfndval(const void *buffer, int32_t len);

/* ------------------------------------------------------------------------ */
/* ISAM contexts, the blocking filtered read and batches (engine/isam).      */
/* ------------------------------------------------------------------------ */
/*
 * A context is a saved copy of a data file's current ISAM position under a
 * 16-bit id: the current record, each index's current key image and range,
 * and the record filter. The file has at most one active context, whose
 * state is the file's own; switching saves it and restores another.
 * OPNICON(datno, keyno, id): keyno < 0 covers every index of the data
 * file, else only index keyno; id -1 takes the next free id after the last
 * one assigned (never -1; after an explicit -2 the next is 0). The new
 * context becomes active and returns its id; -1 with the ISAM error: 48
 * datno is an index or keyno not an index of it, 899 a partition member,
 * 83 no memory, 592 id in use (or none free), 10 the active context could
 * not be saved, or the error of a file that is not open. CHGICON(id): 0
 * (also when it is active already), 590 no such context, 591 its file is
 * an index, or an index of it was closed or changed (the context active
 * before is active again), 10 the active one could not be saved.
 * CLSICON(id): 0 or 590. Closing the data file closes its contexts.
 */
ZV_API int OPNICON(int datno, int keyno, int id);
ZV_API int CHGICON(int id);
ZV_API int CLSICON(int id);

/* One ISAM read combined with a filter text: op 1 first, 2 next, 3
 * previous, 4 last (through an index in key order, through a data file in
 * physical order), 10 greater, 11 greater or equal, 12 equal, 13 less or
 * equal, 14 less (an index and a target: 80 without one, 80 for a target
 * with a data file); with len the variable-length twins are used. A found
 * record that the filter refuses ends the call with 101 and the current
 * record as it was before the call. 0; 446 (ISAM file number: op) a bad
 * operation; 454 a time-out other than 0 (waiting needs queue services
 * this build does not have); 596, 597 the filter cannot be parsed, 598 it
 * cannot be evaluated (current record as before); 614 an index without
 * data file; or the read's error. An empty filter counts as none. */
ZV_API int BLKIREC(int filno, int op, int32_t timeout, const char *filter, const void *target, void *record,
                   int32_t *len);
/* The block that the function-number entry passes to BLKIREC (0x26AB,
 * sub-function 21, as its third argument; the file number is the second). */
typedef struct BLKIRECBLK {
    int32_t op;
    int32_t timeout;
    const char *filter;
    const void *target;
    void *record;
    int32_t *len;
} BLKIRECBLK;

/*
 * Batches: one set-oriented request per call on a data file or index. The
 * mode word is the operation (mode & 7) with content, selection and option
 * bits. The caller's request block (BATREQ) carries the selection and
 * receives the counts; 4-byte words and positions are in the host's order.
 *
 * Operations: 1 ends the current batch (426 none); 3 (also 0 and 7) selects
 * a set and returns its first part, 2 the next part (an empty part at the
 * end); 4 deletes the selected set (a new selection, or the batch of
 * operation 3 when none or all of its entries were returned; the number
 * deleted is the returned count); 5 updates or adds records by the key of a
 * unique index; 6 inserts records (content 0x20 one at a time, 0x200000 as
 * one direct block written at the end of the file).
 *
 * A part is a run of entries in the buffer: the position (4 bytes; 8, high
 * word first, when the file uses 8-byte offsets or lives in memory), then
 * by content: 0x20 the record (a variable-length record preceded by its
 * u32 length), 0x40 and 0x80 the key value, 0x08 and 0x200000 nothing more.
 * Entries the record filter refuses (or whose record is gone) are dropped
 * and counted out. A first entry larger than the buffer gives 429.
 *
 * Insert data (operation 6, from offset 20 of the request block, bufsize
 * bytes, the count of records at offset 8): one at a time, each record is
 * preceded by a position slot (4 bytes; 8 in a file with 8-byte offsets)
 * and, in a variable-length file, by its i32 length (below 1: 634). A
 * direct block holds the records as they are stored: fixed-length records
 * back to back; variable-length areas each with its 10-byte header (u16
 * mark 0xFAFA, u32 area length, u32 record length, little-endian; else
 * 123). When the keys of record k fail, records k.. are returned to the
 * file and the count inserted is the returned count.
 * Update data (operation 5, on the index): entries of [6 skipped bytes
 * with mode 0x200000, variable-length files only] [u32 length, variable
 * files] [the key with mode 0x4000000] record image. The reply: u32 words
 * at offset 0: records rewritten, records added, 0, the byte offset of the
 * failing entry within the data, its failure kind (16 search, 32 data
 * overrun, 64 key not formed, 128 length, 256 no memory, 1 rewrite, 2 add,
 * 8 read).
 *
 * Codes: 421 selection 0x4000; 422 a next part of a selection that cannot
 * continue; 425 a new request while a batch is active (or a delete after
 * some entries were returned); 426 no active batch; 427 no content kind;
 * 428 the batch lost its request; 429 the buffer cannot hold one entry
 * (its size needed at the needed-size word with mode 0x10000000), or an
 * entry passes the insert or update data; 430 a bad mode combination or a
 * missing request part; 749 a negative buffer size; 767 a physical start
 * that is not a record boundary; 158 a damaged area in a physical walk;
 * 48 a file of the wrong kind; 614, 775 (a duplicate-key index for an
 * update), 634, 123, 553 (a fixed record beginning 0xFF or 0xFE 0xFE).
 */
enum {
    /* Plain request block. */
    ZV_BATREQ_TOTAL = 0,      /* u32 out: entries selected */
    ZV_BATREQ_LOCKED = 4,     /* u32 out: entries locked; the size needed after 429 */
    ZV_BATREQ_RETURNED = 8,   /* u32 out: entries in this part; in: records given (5, 6) */
    ZV_BATREQ_SIGLEN = 12,    /* u16: significant length of the key prefix */
    ZV_BATREQ_TARGET = 14,    /* the target key */
    ZV_BATREQ_PHYSHI = 12,    /* u32: physical start, high word (0, 0: the first record) */
    ZV_BATREQ_PHYSLO = 16,    /* u32: physical start, low word */
    ZV_BATREQ_LISTCOUNT = 0,  /* u32: entries of a key or position list */
    ZV_BATREQ_LIST = 12,      /* the list */
    ZV_BATREQ_DATA = 20,      /* insert and update data */
    /* Extended request block (mode word exactly ZV_BAT_EXTENDED). */
    ZV_BATREQX_MODE = 0,      /* u32: the real mode word */
    ZV_BATREQX_NEEDED = 4,    /* u32 out: the size needed after 429 */
    ZV_BATREQX_TOTAL = 8,     /* u32 out; in: the entries of a list */
    ZV_BATREQX_LOCKED = 12,   /* u32 out */
    ZV_BATREQX_RETURNED = 16, /* u32 out */
    ZV_BATREQX_SIGLEN = 20,   /* u16; also the physical start's high word (u32) and the list */
    ZV_BATREQX_NSEG = 22,     /* u16: range segments (not 0: a range selection) */
    ZV_BATREQX_PHYSLO = 24,   /* u32: physical start, low word */
    ZV_BATREQX_TARGET = 32,   /* pointer: the target key, or the lower range values */
    ZV_BATREQX_UPPER = 40,    /* pointer: the upper range values */
    ZV_BATREQX_OPS = 48,      /* pointer: the range operator words (u32) */
    ZV_BATREQX_FILTER = 64    /* pointer: a filter text for the data file */
};
/* BATMODE bits. */
#define ZV_BAT_FREE 0x1u
#define ZV_BAT_NEXT 0x2u
#define ZV_BAT_FIRST 0x3u
#define ZV_BAT_DELETE 0x4u
#define ZV_BAT_UPDATE 0x5u
#define ZV_BAT_INSERT 0x6u
#define ZV_BAT_OPMASK 0x7u
#define ZV_BAT_POSITIONS 0x8u          /* content: positions */
#define ZV_BAT_SKIPFILTERED 0x10u
#define ZV_BAT_RECORDS 0x20u           /* content: records */
#define ZV_BAT_KEYS 0x40u              /* content: key values */
#define ZV_BAT_KEYS2 0x80u             /* content: key values */
#define ZV_BAT_PREFIX 0x100u           /* selection: key prefix, ascending (also 0) */
#define ZV_BAT_POSLIST 0x200u          /* selection: list of positions of the data file */
#define ZV_BAT_KEYLIST 0x400u          /* selection: list of keys */
#define ZV_BAT_LOCK 0x2000u            /* lock the selected records */
#define ZV_BAT_NOTSUPPORTED 0x4000u    /* selection: 421 */
#define ZV_BAT_KEEPLOCKS 0x8000u       /* ending the batch keeps its locks */
#define ZV_BAT_PHYSICAL 0x10000u       /* selection: physical order of the data file */
#define ZV_BAT_RANGE 0x20000u          /* selection: the key range of the extended block */
#define ZV_BAT_PREFIXDESC 0x40000u     /* selection: key prefix, descending */
#define ZV_BAT_PHYSKEEP 0x80000u       /* with ZV_BAT_PHYSICAL: its locks are kept at the end */
#define ZV_BAT_DIRECT 0x200000u        /* content: positions; insert: a direct block; update: skip bytes */
#define ZV_BAT_KEYFORM 0x800000u       /* update: the given keys are in key form */
#define ZV_BAT_AUTOFREE 0x1000000u     /* free the batch once everything was returned */
#define ZV_BAT_EXTENDED 0x2000000u     /* the mode word: the request block is the extended form */
#define ZV_BAT_KEYGIVEN 0x4000000u     /* update: each entry carries its key */
#define ZV_BAT_KEEPSERIAL 0x8000000u   /* update: a rewritten record keeps its serial number */
#define ZV_BAT_NEEDED 0x10000000u      /* after 429 the size needed is stored */
#define ZV_BAT_RANGEONLY 0x20000000u   /* allowed with the range selection alone */
ZV_API int BATSETX(int filno, void *request, void *buffer, int32_t bufsize, uint32_t mode);
ZV_API int BATSET(int filno, void *request, void *buffer, int32_t bufsize, uint32_t mode);
/* Numbered batches: ALCBAT makes the slot table (184 present, 185 no
 * memory), the current batch becoming batch 0; CHGBAT(n) parks the current
 * batch and makes batch n current (a new number is an empty batch; 0 when
 * n is current already; 185 no memory); FREBATN(n) ends batch n and frees
 * its slot, the batch current before staying current (none when it was
 * n); FREBAT ends every batch and frees the table. */
ZV_API int ALCBAT(void);
ZV_API int CHGBAT(int number);
ZV_API int FREBATN(int number);

/* ------------------------------------------------------------------------ */
/* Key formation: keys from records, segment modes, collating sequences,     */
/* definition blocks and extended segment definitions (index engine).        */
/* ------------------------------------------------------------------------ */
/*
 * An index's key is formed from a data record by its segment list (kept in
 * the ISAM key map): each segment is copied out of the record and turned
 * into bytes that sort by value under an unsigned byte comparison. Segment
 * mode word (SEGMODE): base = mode & 0x10F (0 bytes, 1 unsigned integer, 2
 * upper-cased bytes, 3 serial number, 4 and 5 variable-length field, 6
 * packed decimal, 7 bytes, 8 signed integer, 9 float, 10 10-byte decimal,
 * 11 text with a 2-byte length prefix, 12 to 15 record-schema field, 256
 * constant, 257 serial number in a schema field); modifiers 0x10
 * descending, 0x20 alternate collating sequence, 0x40 end segment, 0x80
 * Unicode collation (not available: 694), 0x400 extended definition.
 * With user-profile bit 0x20 (the default 33 of the start-up calls),
 * integer, serial and float segments are byte-reversed, so that fields in
 * the host's (little-endian) order sort by value.
 */

/* Descriptor of a definition block: the block number (0..127; 129 stores
 * block 0) of a file's definition resource, mode 1 in a data file and 3 in
 * an index file. len: the bytes to store, or the caller's buffer size on a
 * read; bufsiz: the space to reserve for the block. */
typedef struct DEFBLK {
    void *data;
    int32_t len;
    int32_t bufsiz;
    uint16_t blkno;
    uint16_t mode;
} DEFBLK;

/* Extended key segment definition (64 bytes, host order; stored
 * little-endian). kind 2 (numeric and byte transforms) is the one accepted:
 * subkind 0 numeric text with a sign (signpos 1 leading, 2 trailing, 3
 * overpunched on the first character, other values on the last; signrow
 * 0..6 the overpunch row), 1 a last byte 0x0D marks a negative value, 2
 * packed decimal with the sign in the last nibble, 3 big-endian signed
 * integer, 4 reversed with the first two bytes exchanged, 5 reversed. */
typedef struct KSEGDEF {
    int32_t size;      /* 64 once stored */
    int32_t check;     /* 0 once stored; compared by lookups when set */
    int32_t srcrule;   /* source-length rule of Unicode definitions */
    int32_t kind;      /* 1 Unicode collation, 2 numeric and byte transforms */
    int32_t subkind;
    int32_t signpos;
    int32_t signrow;
    int32_t spare;     /* 0 once stored */
    char locale[32];   /* NUL-terminated name */
} KSEGDEF;

/* SETDEFBLKX stores (or replaces) a block of the definition resource of
 * type 0 or 200..299 (SETDEFBLK: type 0); a block grown beyond its reserved
 * space moves to the end of the resource. The record-schema block (mode 1,
 * block 1) also becomes the data file's schema map. GETDEFBLK copies a
 * block into blk->data (at most blk->len bytes). 0 or: 48 wrong mode for
 * the file, 446 bad type, 436 bad block number, 434 block too large or
 * buffer too small, 437 no data, 438 block empty or no definition resource,
 * 439 damaged resource, resource errors. */
ZV_API int SETDEFBLKX(int filno, DEFBLK *blk, int type);
ZV_API int SETDEFBLK(int filno, DEFBLK *blk);
ZV_API int GETDEFBLK(int filno, DEFBLK *blk);
/* Alternate collating sequence of an index: 256 16-bit entries (512
 * bytes) indexed by byte value; a segment with mode 0x20 maps every byte b
 * to the low byte of entry b. SETALTSEQ with NULL removes it; GETALTSEQ
 * reads the stored table (438 when there is none). */
ZV_API int SETALTSEQ(int keyno, const void *table);
ZV_API int GETALTSEQ(int keyno, void *table);
/* Pad byte (bytes[0]) and field-delimiter byte (bytes[1]) of a file's
 * variable-length key fields: an index keeps the pad byte in its header, a
 * data file both in its record-schema block. */
ZV_API uint16_t SETVARBYTS(int filno, const void *bytes);
/* Forward and reverse transform of one segment in place (schema: a record
 * schema map, for schema modes; altseq: a collating table or NULL). 0 or
 * the error, also in uerr_cod: 446 bad mode or a transform that cannot be
 * undone, 694 Unicode, 199 no schema, 433 no such field, 528 bad length. */
ZV_API int zvtseg(uint32_t field, int mode, int32_t len, void *seg, const void *altseq, const void *schema);
ZV_API int zvuseg(uint32_t field, int mode, int32_t len, void *seg, const void *altseq, const void *schema);
/* PUTKSEGDEF stores a definition (kind 2) for segment segno (0..15, -1 the
 * whole index) of an open index, as a resource of its host index file: its
 * list position, or a negative code (also in uerr_cod): -437 NULL, -454
 * kind not 2, -446 bad file or segment, -705 the segment has one already.
 * GETKSEGDEF copies a definition into def (64 bytes) and returns its list
 * position: filno -6 by position (segno; -703 bad position), another
 * negative filno the position of a definition equal to def's (-707 none),
 * else the definition of an index segment (-707 none). */
ZV_API int PUTKSEGDEF(int filno, int segno, const void *def);
ZV_API int GETKSEGDEF(int filno, int segno, void *def);
/* Applies the definition at list position pos to srclen source bytes,
 * writing seglen bytes to dst (src and dst may be the same): seglen, or a
 * negative code: -703 bad position, -694 Unicode collation, -704 Unicode
 * without a field type, -446 unsupported kind or sub-kind, -528 length
 * mismatch, -82 no memory. */
ZV_API int32_t XFMKSEGDEF(int32_t pos, const void *src, int32_t srclen, int ftype, void *dst, int32_t seglen);
/* Unicode collation is not available: uerr_cod and the ISAM error 694. */
ZV_API int zvUPDTICU(void);
/* TFRMKEY transforms a search target of index keyno in place; a
 * duplicate-key index gets a zero position suffix (lTFRMKEY: all bytes
 * 0xFF, after every duplicate). uTFRMKEY undoes the transform of each
 * segment (the suffix stays). The key, or NULL with the error in uerr_cod
 * and the ISAM error. */
ZV_API void *TFRMKEY(int keyno, void *target);
ZV_API void *lTFRMKEY(int keyno, void *target);
ZV_API void *uTFRMKEY(int keyno, void *key);
/* Forms the key of index keyno from a record of reclen bytes: the segments
 * transformed, and for a duplicate-key index the record position (pos, its
 * high word set before with zvSETHGH) most significant byte first. The key
 * length; 0 when the record has no key in the index (false condition,
 * suppressed null key: ISAM error 0) or on error (ISAM error: 80 bad key
 * number or buffer, 445 record too short, 634 negative length or no serial
 * field, 199 no schema, 433 no such field, 153 key too long, 694 Unicode).
 * frmkeyx skips the index's condition when bit 0 of flags is set. */
ZV_API int32_t frmkey(int keyno, const void *rec, void *key, uint32_t pos, int32_t reclen);
ZV_API int32_t frmkeyx(int keyno, const void *rec, void *key, uint32_t pos, int32_t reclen, int flags);
/* Segment lists of the ISAM key map. zvlfsegput with segno < 0 sets the
 * index's entry (flags a: 0x10 condition, 0x20 callback condition, low
 * nibble 1 null keys suppressed; empty character b; data file c, which then
 * lists the index), else segment segno (0..15) to offset (or field number)
 * a, length b, mode c: 0, 80 bad key number, 446 bad segment number, 82 no
 * memory. zvlfsegget ends the list after n segments (1..15); 0.
 * zvgetseginfo: which 1 the length, 2 the mode, 3 the offset; -1 otherwise. */
ZV_API int zvlfsegget(int keyno, int n);
ZV_API int zvlfsegput(int keyno, int segno, int a, int b, int c);
ZV_API int zvgetseginfo(int keyno, int segno, int which);

/* ------------------------------------------------------------------------ */
/* Identity fields and the background-load status.                           */
/* ------------------------------------------------------------------------ */

/* A data file with a record schema and the 384-byte extended header may
 * have one identity field: a schema field that each new record (NEWREC)
 * receives from a counter kept in the file. Values are 64-bit, checked
 * against the field's width and signedness, and never repeat unless reset.
 * addIDfield defines it on field fldno with a start value and a non-zero
 * increment: 0, or 48 an index, 199 no record schema, 433 no such field,
 * 749 increment 0, 1002 start or increment out of range, 62 file shared or
 * read only, 734 header without the 384-byte extended part, 913 the file
 * has one already, 713, 948. delIDfield removes it (914 none).
 * wchIDfield: the field number, or -1 with 48 (index) or 914 (none).
 * getIDfield mode 1 takes the next value, 2 reads it without taking it,
 * 3 the increment, 4 the start: 0, 749 other mode, 540 no value pointer,
 * 1002 the counter has overflowed. resetIDfield sets the next value (1002
 * out of range) and clears the overflow mark. xtdatrIDfield(-1) reads the
 * attribute flags (0x01 unsigned, 0x02 overflow reached, 0x04 width and
 * signedness from the schema, 0x08 given by the caller, 0x10 no range
 * check, 0x20 set by this call, 0x40 signed); other values set them and
 * return the new flags, or -1 with 1003 (the detail in the system error:
 * 1 conflicting pair, 2 a sign or overflow bit without 0x04, 3 bits without
 * 0x04 or 0x08, 4 an overflow needs 0x02 or 0x10, 5, 6 0x08 without 0x10),
 * 62 or 199. */
ZV_API int addIDfield(int filno, int64_t start, int64_t incr, int fldno);
ZV_API int delIDfield(int filno);
ZV_API int wchIDfield(int filno);
ZV_API int getIDfield(int filno, int mode, int64_t *value);
ZV_API int resetIDfield(int filno, int64_t value);
ZV_API int xtdatrIDfield(int filno, int32_t flags);
/* Offset and length of field fldno in a record image, by the record schema
 * of open file filno, or (filno -1) by the schema map given. 0; 540 a null
 * record, offset or length; 199 no schema; 433 no such field; 445 the
 * record ends before the field; the file number's error. */
ZV_API int zvGetIdFieldOffsetInRecord(int filno, const void *rec, int fldno, const void *schema,
                                      int32_t reclen, int option, int32_t *offset, int32_t *length);

/* Background-load status of a file's indexes (resource "QV!BGLD", type 19):
 * a 24-byte head whose word at +20 counts the 120-byte entries that follow,
 * each beginning with its index's name. zvGetBackgroundLoadStatus hands out
 * the entry of idxname as a 144-byte image (head with count 1, then the
 * entry), or with no name the whole body, into *buffer (*size bytes) or,
 * when *buffer is NULL, into a new block that the caller frees with
 * zvputmem; *size receives the length. 540 NULL buffer or size pointer;
 * 153 buffer too small (*size set to the length needed); 101 no entry of
 * that name; 10 no memory; resource errors (408 none).
 * zvDeleteBackgroundLoadStatus removes the entry of idxname, or with no
 * name (NULL or empty) the whole resource: 0, 101, resource errors. */
ZV_API int zvGetBackgroundLoadStatus(int filno, const char *idxname, void **buffer, int32_t *size);
ZV_API int zvDeleteBackgroundLoadStatus(int filno, const char *idxname);

/* ------------------------------------------------------------------------ */
/* Function-number entry point.                                              */
/* ------------------------------------------------------------------------ */

/* Reaches about two hundred engine functions by a 16-bit function number:
 * bits 0x00FF the function index (1..231), 0x0100 an ISAM function, 0x0200
 * the fourth argument points to a 32-bit input, 0x0400 the sixth does,
 * 0x0800..0x4000 the argument shape. Generic arguments: the file number (a
 * key number for key calls); arg3 a value (passed as (void *)(intptr_t)v),
 * a second buffer (a key read's output key for numbers with 0x4000; the
 * record or key that a call with a target in arg5 reads; a second target),
 * or a parameter block (create, open and start codes: an array of intptr_t
 * words, one per parameter after the file number, in the target's order);
 * arg4 a position
 * in and out (a position or count result is stored through it); arg5 the
 * record, key, target or name buffer; arg6 a length in and out (a length
 * result is stored through it); arg7 a mode, length or count. A null arg4
 * or arg6 is replaced by a local zero. Function 0x26AB calls sub-function
 * arg7 (0..71) with its scalar input in arg3 (64-bit values through arg5,
 * field numbers through arg6) and stores its status through arg4.
 * Result: with bit 0x0100 the ISAM error code when set, else the user error
 * code (then also kept as the ISAM error); without it the user error code.
 * 129 no current instance; 170 a number or sub-function without function
 * (a number with a valid index is also logged); 6 a slot whose function is
 * not available; 454 services not supported. */
ZV_API int16_t zarvo(uint16_t fn, int16_t filno, void *arg3, int32_t *arg4, void *arg5,
                     int32_t *arg6, int32_t arg7);

/* Superfiles, segments, delete and rename, directories, redirection, copy.  */
/* ------------------------------------------------------------------------ */

/* Wildcard match of a pattern against a text, each given by its first and
 * last character (last before first: empty). "?" any one character, "*"
 * any run (a run of stars acts as one), byte 0x01 makes the next pattern
 * character literal. flags: 0 or 2 ignore case, 1 exact; 2 lets '\\' and '/'
 * match each other. 0 match, 1 no match. */
ZV_API int zvmatch(const char *pfirst, const char *plast, const char *tfirst, const char *tlast, int flags);
/* File-name pattern (exact case; a leading '^' inverts; with the member
 * separator the host and member parts match apart): 0 match, 1 none. */
ZV_API int zvrt_filmtc(const char *pattern, const char *name);
/* User-name pattern, case ignored, '^' inverting: 0 match, 1 none. */
ZV_API int zvrt_usrmtc(const char *pattern, const char *user);
/* 1 when text starts with '^' or holds '*', '?' or the byte 0x01; else 0. */
ZV_API int zvchkWC(const char *text);

/* Traversal record handed to a directory-traversal callback. */
typedef struct ZVDIRTRAV {
    int32_t operation;  /* 1 begin, 2 end, 3 enter directory, 4 leave it, 5 subdirectory found, 6 reserved */
    int32_t options;    /* 1 stop at the first error, 2 report subdirectories (operation 5) */
    int32_t error;      /* the callback's answer */
    int32_t syserr;     /* system error of the failure */
    char *errtext;      /* error text buffer (may be NULL) and its size */
    int32_t errsize;
    int32_t progress;   /* 100 once the walk succeeded */
    const char *entry;  /* the directory the call is about */
    void *value1;       /* the two caller values */
    void *value2;
    int32_t firsterr;   /* kept by the traversal: the first error (its text stays) */
    int32_t firstsys;   /* and its system error */
} ZVDIRTRAV;
/* Callback: the directory and the record; returns an error code or 0. */
typedef int (*ZvDirTravCallback)(const char *dir, ZVDIRTRAV *rec);

/* Deletes the files and the empty subdirectories of dir (not dir itself;
 * symbolic links are removed, never followed): 0, or the errno of the
 * failing unlink or rmdir (text gets "cleandir - Not able to delete ...")
 * or of an entry that cannot be examined (ENAMETOOLONG for a full name
 * over 254 characters). */
ZV_API int cleandir(const char *dir, char *text, int size);
/* Walks the directory tree below dir (symbolic links are not followed):
 * callback operations 1, then 3/5/4 per directory (deepest first at 4),
 * then 2. With option 1 the first error ends the walk. 0 or the first error
 * (also uerr_cod, with sysiocod; logged); 540 no directory or callback. */
ZV_API int zvFSdirtraverse(const char *dir, int options, ZvDirTravCallback cb, void *value1, void *value2);
/* The callback of cleandirrecurs: cleandir at operation 4. */
ZV_API int zvDelRecDirCBK(const char *dir, ZVDIRTRAV *rec);
/* Deletes everything below dir; dir itself stays. 0 or the first error. */
ZV_API int cleandirrecurs(const char *dir, void *value1, void *value2);

/* Redirection rules of the instance. zvredirectadd reads "from to" (either
 * name may be double-quoted; from at most 253 characters, to at most 256)
 * and appends the rule: 0, or 2 (logged "could not read REDIRECT file
 * names" or "could not allocate REDIRECT list"). zvredirect rewrites name
 * by the first rule whose source name begins it into out (255 bytes): 0
 * unchanged, 1 rewritten, 77 the result would reach 255 characters (out
 * untouched). title / errtitle (may be NULL) ask for log and output lines. */
ZV_API int zvredirectadd(const char *line);
ZV_API int zvredirect(const char *name, char *out, const char *title, const char *errtitle);
/* Two names from a text line (each a double-quoted text or a run of
 * non-space characters) into first and second (sizes with their NUL):
 * 0, or 1 when either is missing, unterminated or does not fit. */
ZV_API int ireadfilenames(const char *line, char *first, int firstsize, char *second, int secondsize);
/* The same over the next line of stream (at most 510 characters; a final
 * newline is dropped): 1 also at the end of the input. */
ZV_API int readfilenames(FILE *stream, char *first, int firstsize, char *second, int secondsize);
/* Removes leading and trailing white space in place; the new length. */
ZV_API int stripwhitespace(char *text);

/* Byte lists: copies of the caller's bytes in the order added. */
typedef struct ZVSLIST ZVSLIST;
/* New empty list: 0, 540 NULL out, 82 no memory. */
ZV_API int zvslstcre(ZVSLIST **out);
/* Appends a copy of n bytes: 0, 540, 634 n below 1, 82. */
ZV_API int zvslstadd(ZVSLIST *list, const void *bytes, int32_t n);
/* First and next copy (NULL past the end) through the list's cursor: 0, 540. */
ZV_API int zvslstfrs(ZVSLIST *list, void **out);
ZV_API int zvslstnxt(ZVSLIST *list, void **out);
/* Removes the first node for which compare(key, data) is nonzero: 0; 101
 * none; 540 NULL list or compare. */
ZV_API int zvslstdel(ZVSLIST *list, const void *key, int (*compare)(const void *key, const void *data));
/* Frees every node and the list: 0, 540. */
ZV_API int zvslstfre(ZVSLIST *list);

/* Whole-file copy. The progress record receives the percentage copied
 * before each callback; a nonzero answer stops the copy. */
typedef struct ZVCOPYPROG {
    uint16_t percent;  /* copied x 100 / size (100 for an empty source) */
    uint16_t reserved;
    void *argument;    /* the caller's */
} ZVCOPYPROG;
typedef int (*ZvCopyCallback)(ZVCOPYPROG *progress);
/* Copies source to dest (created with mode 0660 when missing, truncated
 * when it exists; option 2: it must not exist). 0, an errno, 5 a short
 * write, 4 too many interruptions, -1015 stopped by the callback. */
ZV_API int zvFSunxcopyXtd(const char *source, const char *dest, int options, ZvCopyCallback cb, ZVCOPYPROG *progress);
ZV_API int zvFSunxcopy(const char *source, const char *dest, int options);
/* The same with option 1 (make the destination's directories when they are
 * missing): 0, or 796 with sysiocod = the copy's error. zvFScopyXtd gives
 * 454 after a successful copy when option 4 was given. */
ZV_API int zvFScopyXtd(const char *source, const char *dest, int options, ZvCopyCallback cb, ZVCOPYPROG *progress);
ZV_API int zvFScopy(const char *source, const char *dest, int options);
/* Size of an open descriptor (its position is kept) or stream: 0 or errno. */
ZV_API int zvFSgetfilesizefd(int fd, int64_t *size);
ZV_API int zvFSgetfilesize(FILE *stream, int64_t *size);

/* Handles that collect file-copy (zvfcp) and temporary-directory (zvtdr)
 * operations; an operation is reached through the link that Add returns.
 * Codes: 540 NULL argument (or an operation without handle), 82 no memory
 * (with a message in the handle's error buffer), 634 negative size. */
typedef int (*ZvOperationCallback)(void *argument, int32_t progress);
ZV_API int zvfcpAllocateHandle(void **out);
ZV_API int zvfcpFreeHandle(void *handle);
ZV_API int zvfcpAddFileCopyOperation(void *handle, void **link);
ZV_API int zvfcpRemoveFileCopyOperation(void *link);
ZV_API int zvfcpSetErrorBuffer(void *handle, char *buffer, int32_t size);
ZV_API char *zvfcpGetErrorBuffer(void *handle, int *code);
ZV_API int zvfcpSetCallback(void *handle, ZvOperationCallback fn, void *argument);
ZV_API int zvfcpSetCopyOptions(void *link, int32_t options);
/* count names of 255 bytes each in both lists. */
ZV_API int zvfcpSetCopyFilenames(void *link, int32_t count, const char *sources, const char *destinations);
ZV_API int zvfcpSetCopyFilePassword(void *link, const char *text);
ZV_API int zvfcpSetServerParameters(void *link, const char *server, const char *user, const char *password);
/* Runs the collected operations: 749 with none, else the copy engine's
 * answer (454: not part of this build). */
ZV_API int zvfcpCopyFile(void *handle);
ZV_API int zvtdrAllocateHandle(void **out);
ZV_API int zvtdrFreeHandle(void *handle);
ZV_API int zvtdrAddTempDirOperation(void *handle, void **link);
ZV_API int zvtdrRemoveTempDirOperation(void *link);
ZV_API int zvtdrSetErrorBuffer(void *handle, char *buffer, int32_t size);
ZV_API char *zvtdrGetErrorBuffer(void *handle, int *code);
ZV_API int zvtdrSetCallback(void *handle, ZvOperationCallback fn, void *argument);
ZV_API int zvtdrSetTempDirOptions(void *link, int32_t options);
ZV_API int zvtdrSetTempDirNames(void *link, int32_t count, const char *names);
ZV_API int zvtdrTempDir(void *handle);
/* The copy and temporary-directory engines are not part of this build:
 * both set and return 454. */
ZV_API int zvCopyFile(void *operations, int32_t count);
ZV_API int zvTempDir(void *operations, int32_t count);

/* Replication work lists in a caller-owned context. The caller zeroes the
 * context and sets the three table sizes; the create calls build the
 * tables. Codes: 540 NULL context (or argument, or a table not built), 82
 * or 89 no memory, 101 not found, 446 a record kind the call does not take.
 * Chain keys hash as (k x 11737 + 3731) modulo the table size. */
typedef struct ZVREPLLINK {
    struct ZVREPLLINK *next;
    struct ZVREPLLINK *prev;
    void *head;  /* the chain head the link is on */
} ZVREPLLINK;
/* A file entry: the caller allocates it (zvReplAllocMem); the first u32 of
 * its data is the file id. Delete and destroy free the entry, not the data. */
typedef struct ZVREPLFILE {
    ZVREPLLINK link;
    void *data;
} ZVREPLFILE;
/* A replication record (64 bytes). */
#define ZV_REPL_BEGIN  1  /* starts a transaction's operation list */
#define ZV_REPL_COMMIT 7  /* a commit: queued under its id */
#define ZV_REPL_ACK    8  /* a commit acknowledgement of a transaction (by key) */
#define ZV_REPL_ACKPOS 1  /* flags: the acknowledged position is present */
typedef struct ZVREPLREC {
    uint8_t kind;
    uint8_t flags;
    uint16_t reserved;
    int32_t count;    /* answers: operations of the transaction */
    uint64_t key;     /* the transaction */
    uint64_t id;      /* id of a commit record */
    uint64_t pos;     /* position */
    uint64_t ackpos;  /* acknowledged position */
    uint8_t data[24];
} ZVREPLREC;
typedef struct ZVREPLCTX {
    int32_t filetabsize;  /* table sizes, set by the caller */
    int32_t optabsize;
    int32_t cmttabsize;
    int32_t opcount;      /* operations added */
    ZVREPLLINK **filetab;
    ZVREPLLINK **optab;
    ZVREPLLINK **cmttab;
    void *cmtfirst;       /* the commit queue, oldest first */
    void *cmtlast;
} ZVREPLCTX;
ZV_API int zvReplFileListCreate(ZVREPLCTX *ctx);
ZV_API int zvReplFileListAdd(ZVREPLCTX *ctx, ZVREPLFILE *entry);
ZV_API int zvReplFileListDelete(ZVREPLCTX *ctx, uint32_t id);
ZV_API int zvReplFileListGet(ZVREPLCTX *ctx, uint32_t id, void **out);
ZV_API int zvReplFileListDestroy(ZVREPLCTX *ctx);
ZV_API int zvReplOpListInit(ZVREPLCTX *ctx);
/* A kind ZV_REPL_BEGIN record starts the transaction of its key. */
ZV_API int zvReplOpListCreate(ZVREPLCTX *ctx, const ZVREPLREC *rec);
ZV_API int zvReplOpListAdd(ZVREPLCTX *ctx, const ZVREPLREC *rec);
ZV_API int zvReplOpListGet(ZVREPLCTX *ctx, const ZVREPLREC *rec, ZVREPLREC *out);
ZV_API int zvReplOpListSetCmtAck(ZVREPLCTX *ctx, const ZVREPLREC *rec);
ZV_API int zvReplOpListDestroy(ZVREPLCTX *ctx);
ZV_API int zvReplOpListTerm(ZVREPLCTX *ctx);
ZV_API int zvReplTranCmtListCreate(ZVREPLCTX *ctx);
/* Kind 7: a new commit entry with the record's id; kind 8: the transaction
 * of the record's key (its acknowledged position copied when flags has
 * ZV_REPL_ACKPOS). The entry joins the end of the commit queue. */
ZV_API int zvReplTranCmtListAdd(ZVREPLCTX *ctx, const ZVREPLREC *rec);
/* The oldest queued entry into out (all zero when none): a commit gives its
 * id and kind 7; a transaction its key, position and acknowledged one. */
ZV_API int zvReplTranCmtGetOldestAck(ZVREPLCTX *ctx, ZVREPLREC *out);
/* Removes the queued entry (kind 7 by id, else by key); 101 and a printed
 * line when it is not queued. */
ZV_API int zvReplTranCmtListRemove(ZVREPLCTX *ctx, const ZVREPLREC *rec);
ZV_API int zvReplTranCmtListDestroy(ZVREPLCTX *ctx);
ZV_API void *zvReplAllocMem(size_t size);
ZV_API void zvReplFreeMem(void *p);

/* Segmented data files. An entry of zvSETSEG: a segment file name and its
 * size in megabytes (0: no limit, last entry only). */
typedef struct ZVSEGENTRY {
    const char *name;
    uint32_t sizemb;
} ZVSEGENTRY;
/* A segment definition (from zvstrsegmdef). */
typedef struct ZVSEGDEF {
    int32_t owned;      /* 1: the caller keeps it; 0: SETSEGz releases it */
    int32_t automatic;  /* 1: automatic segments named after the file */
    int32_t present;    /* segments present (the first value of zvSETSEG) */
    int32_t count;      /* segments defined; automatic: the most there may be */
    uint32_t sizemb;    /* automatic: the size of every segment */
    int32_t textlen;
    char *text;         /* named: per segment its name and its size as text,
                           each NUL-terminated, ended by an empty name; an
                           empty first name gives the size of segment 0 */
} ZVSEGDEF;
/* Builds a definition: automatic when first is 0 and count above 1 (size
 * from entries[0], count the most segments), named when 1 <= first <=
 * count. 0; 446 another combination; 679 a size of 0 before the last; 678
 * an empty name after the first entry; 82 no memory; 540 NULL argument. */
ZV_API int zvstrsegmdef(int first, int count, const ZVSEGENTRY *entries, ZVSEGDEF **out);
/* Changes the segment definitions of an open file. 0; 454 neither
 * segmented nor extended; 48 superfile member; 62 not exclusive; 680 a
 * segment file cannot be made; 683 refused (logged "SETSEG: ..."). A
 * failure leaves the previous definitions in place. */
ZV_API int SETSEGz(int filno, ZVSEGDEF *definition);
/* zvstrsegmdef, then SETSEGz (the definition is released). */
ZV_API int zvSETSEG(int filno, int first, int count, const ZVSEGENTRY *entries);

/* Deletes an open file: closes it and removes it (a segmented file with all
 * its segment files; a superfile member from its host's directory, its
 * area marked deleted). 0; 56 opened shared or read only, or a superfile
 * directory; 55 the system delete failed; the close's error. */
ZV_API int DELFIL(int filno);
/* Renames an open file (with its automatic segment files, whose headers
 * follow, all or nothing). The file stays open through the rename, its
 * lock with it: no other open reaches it under either name meanwhile.
 * 0 (also for its own name, without touching the
 * disk); 62 opened shared or read only; 446 a superfile directory; 418 a
 * member name whose host part names another file than the member's host
 * (another spelling of the host's name is its host: the member keeps the
 * host's spelling), a host name with the separator, or a name too long for
 * its segments; 454 a host with open members; 67 the rename failed (the
 * file stays open under its old name). */
ZV_API int zvRENFIL(int filno, const char *newname);
/* The n-th member name (n >= 1) of an open superfile host, without its
 * trailing blanks, into buffer (length bytes): 0; 116 n below 1; 411 not a
 * host; 101 fewer members; 153 the name and its NUL do not fit (the buffer
 * is untouched). */
ZV_API int GETMNAME(int hostno, char *buffer, int32_t length, int n);
/* Copies the bytes of an open file to a new file: buffer size 0 takes
 * 49152; flag 0 zeroes file bytes 32 to 35 (the file id) in the copy. 0;
 * 62 opened shared; 675 more than one segment; 82; 657 the copy cannot be
 * made; 658 short write; 659 the copy is shorter than the file. */
ZV_API int zvcpyfil(int filno, const char *destination, int32_t bufsize, int flag);

/* ------------------------------------------------------------------------ */
/* Maintenance: index verification, data and index cross-check, dumps.       */
/* ------------------------------------------------------------------------ */

/* Routines a caller installs for a verification: the output routine takes
 * one formatted text and its answer is passed back; the progress routine
 * takes (event, percent 0..100) and stops the run (910) by answering
 * non-zero; the error routine of the cross-check takes each fault with its
 * message and stops the current scan by answering non-zero. */
typedef struct VERIFYERR {
    int32_t version;  /* always 1 */
    int32_t errcode;  /* the fault's error code */
    int32_t syserr;   /* the operating-system error code at the time */
} VERIFYERR;
typedef int (*VERIFYOUTFN)(const char *text);
typedef int (*VERIFYPROGFN)(int event, int percent);
typedef int (*VERIFYERRFN)(VERIFYERR *err, const char *text);

/* Options of an index verification (32 bytes). */
typedef struct VERIFYIDXOPT {
    int32_t version;          /* must be 1 (909) */
    int32_t checks;           /* 1 deleted-node stack, 2 links, 4 leaf pages,
                                 8 leaf pages with each key searched again;
                                 only these bits, at least one (116) */
    int32_t levels;           /* per-level counts the result block has room
                                 for (at most 15 are filled); negative: 0 */
    int32_t flags;            /* 16: output keeps its line breaks, and each
                                 step's heading precedes its begin event */
    VERIFYOUTFN output;       /* NULL: standard output */
    VERIFYPROGFN progress;    /* NULL: none */
} VERIFYIDXOPT;
/* What a verification found: node counters, then the nodes of each tree
 * level from the root (level 0) down. */
typedef struct VERIFYIDXRES {
    int32_t emptynodes;       /* leaves of the index without entries */
    int32_t badnodes;         /* capacity faults, badly formed pages */
    int32_t unusednodes;      /* deleted nodes met by the page scan */
    int32_t resourcepages;    /* resource pages met by the page scan */
    int32_t misalignednodes;  /* nodes off a node boundary */
    int32_t badlinks;         /* link disagreements */
    int32_t levelnodes[15];   /* filled up to the first level without nodes */
} VERIFYIDXRES;
/* Verifies the structure of index filno and reports through the routines
 * of the options (standard output without one); it changes no file. The
 * result block is cleared first (its six counters and `levels` counts) and
 * filled at the end. 0 sound; 601 problems found; 910 stopped by the
 * progress routine (the block still filled); 540 options or results NULL;
 * 909 version; 116 checks; 48 not an index; 26 not open; 511 the
 * deleted-node stack loops; 25 a node on it is not marked deleted; -1 a
 * zero child pointer; -3 an empty non-leaf node; 454 leaf pages of a
 * memory file; or a read error. */
ZV_API int zvVERIFYidx(int filno, VERIFYIDXOPT *options, VERIFYIDXRES *results);

/* Options of a data and index cross-check (56 bytes). */
typedef struct VERIFYFILEOPT {
    int32_t reserved0;        /* not read */
    uint32_t flags;           /* 1 open mode 4096 instead of 4104; 2 data scan;
                                 4 data scan looking every key up; 8 index scan;
                                 16 index scan reading each key's record */
    int32_t reserved1;        /* not read */
    int32_t chkkey;           /* 0 every index; n: only the n-th (1..64) */
    const char *filename;     /* data file of the set */
    const void *openparm;     /* passed to the set's open as its last argument */
    VERIFYOUTFN output;       /* NULL: standard output */
    VERIFYPROGFN progress;    /* NULL: none */
    VERIFYERRFN error;        /* NULL: each fault printed after "ERROR: [code] " */
} VERIFYFILEOPT;
/* Opens the set of opts->filename by its stored definition, checks every
 * record against its keys and every key against its record as the flags
 * ask, compares the counts with the headers and checks the unused end of a
 * fixed-length data file, then closes the set. It changes no file. 0; the
 * first fault's code (160 record and key disagree, 601 counts, 1133 and
 * 1134 the file's end, 22 and 46 chkkey, 101 a record's key not found);
 * 910 stopped by a routine; 540 NULL options; or the open's code. */
ZV_API int zvVerifyFile(VERIFYFILEOPT *opts);

/* Developer dumps on standard output. prthdr prints every header field of
 * an open file: 0, or the code after "file number N is not active".
 * prtnod prints node (hi, lo) of index filno with its entries, pausing for
 * a line of standard input every screen when paging is non-zero ("#n"
 * jumps to entry n, an empty line goes on, anything else ends): 0, the
 * read's code, or -2 when the position holds no well-formed node. chkidx
 * prints the header, then every node whose hexadecimal position is typed
 * on standard input, until 0: prthdr's result. chkhgh checks that the last
 * key of node pos does not exceed its high key: the node's successor (low
 * word), the read's code, or -2. */
ZV_API int prthdr(int filno);
ZV_API int prtnod(int filno, uint32_t hi, uint32_t lo, int paging);
ZV_API int chkidx(int filno, int paging);
ZV_API int32_t chkhgh(int filno, uint32_t pos);
/* The file control blocks the last dump used (the file, and the host of an
 * index member), for inspection in a debugger. */
ZV_API extern FCB *zvnum;
ZV_API extern FCB *htnum;

/* ------------------------------------------------------------------------ */
/* Maintenance: rebuild of data files, indexes, file sets and superfiles.    */
/* ------------------------------------------------------------------------ */

/* Progress routine of a rebuild: (count of records or keys handled in the
 * current phase, low word; code; text). Codes: 109 a phase begins, with its
 * message ("Rebuilding data file...", "Rebuilding index file.", "Rebuilding
 * additional index #n.", "Writing index file...", "Rebuilding superfile.",
 * "Caller requested no scan of data file."); 100 records scanned or keyed;
 * 105 keys loaded into an index. Its answer is not read. */
typedef int (*RBLCBFN)(uint32_t count, int32_t code, const char *text);
/* The status block of a running rebuild (12 bytes), allocated by the set
 * rebuild while a progress routine is installed: the routine reads the high
 * word of the count and stops the rebuild (869) by setting `cancel`. */
typedef struct RBLCBST {
    uint32_t size;             /* 12 */
    uint32_t counthigh;        /* high word of the count */
    uint16_t cancel;           /* non-zero: stop at the next count */
    uint16_t spare;
} RBLCBST;
/* Installs the progress routine (NULL: none); the interval (calls every N
 * records or keys; 0 counts as 1) changes only when not 0. 0. */
ZV_API int SETCBRBL(RBLCBFN callback, int32_t interval);
/* The status block of the running rebuild, or NULL. */
ZV_API RBLCBST *GETCBRBLST(void);

/* Repairs a closed file set from its definition: scans the data file and
 * repairs its header, record space, free space and resource ring, creates
 * every index file again (keeping its resources) under a temporary name
 * beside the old one, loads it from the records through the external sort,
 * and then renames the new index files into the places of the old ones: a
 * run that fails before that leaves the old index files as they were (an
 * index file that is a superfile member is made again in place). Options
 * travel in ifil->tfilno
 * (restored on return): -1 or more none; -(0x4000 + bits) with the bits
 * 0x002 store the given definition, 0x004 purge rejected records, 0x008
 * rebuild bad partition members only, 0x100 no data-file scan, 0x200
 * repair unreadable stretches of a variable-length file: each becomes free
 * space up to the next sound area, the records in it lost (0x010 and 0x080
 * accepted); the values -99 (store), -101 (purge), -105 (bad members) and
 * their sums -200, -204, -206, -305. 0, or: 652 keys were rejected
 * (duplicates in a unique index, bad serial numbers) and left in place,
 * their report in the reject file named in the status log; 650 rejected
 * and purged; 651 the purge failed; 869 stopped through the status block;
 * 943 bad options; 48 dfilmod 0x200; 107 more than 64 indexes; 120 no work
 * buffer; 1107 an unreadable stretch in a variable-length data file
 * without 0x200 (a stretch never written, or one behind an area that a
 * write cut at a 4096-byte boundary left without its free tail's header,
 * whose bytes do not read as an area header at all, becomes free space
 * without it; a header whose mark alone is damaged always answers 1107);
 * 454 bad partition members of a set that
 * is not partitioned; 608
 * a definition that disagrees with the files; 46 a file of the set is open
 * in this instance (the host of superfile members may be open, under any
 * spelling of its name: the set is rebuilt in it); 12 another open (another process or instance, shared
 * or exclusive) has the data file or an index file (a superfile member's
 * host), with the lock's system error in zvGetSystemErrorCode(), before
 * anything is written; and the codes of the scan, the creates, the opens
 * and the renames, with the file concerned in zvGetIsamFileNbr.
 * After a partial record at the end of the data file zvGetSystemErrorCode
 * gives -972 (left in place) or -973 (dumped and blanked with purge). The
 * files of the set must not be open. From its first look at the data file
 * to its end (the definition stored and the purge included) the run holds
 * every file of the set and every new index file: another open of one
 * meanwhile answers 12. */
ZV_API int RBLIFILz(IFILPARM *params);
ZV_API int RBLIFILX8(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask,
                     const char *group, const char *password, XCREblk *xcre);
ZV_API int RBLIFILX(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask,
                    const char *group, const char *password);
ZV_API int RBLIFIL(IFIL *ifil);
/* Repairs one closed data file in place on the free number filno: its
 * header against the record length and file mode given (0x4 variable
 * length, 0x800 no resources), then, when it was not closed cleanly or a
 * set rebuild ran in this instance, a scan of every record, free area and
 * resource. options: 1 dump a partial record at the end to a temporary
 * file and blank it, 2 turn unreadable stretches of a variable-length file
 * into free space (else 1107). *tail: 0, the bytes of a partial record
 * left at the end, or minus them when dumped. The file is held while it
 * changes (another open of it meanwhile answers 12). 0 or an error code:
 * 12 another open (any process or instance, this instance's own among
 * them) has the file, with the lock's system error in
 * zvGetSystemErrorCode(), before any byte of it changes. */
ZV_API int RBLDATX(int filno, const char *name, uint16_t reclen, uint32_t xtdsize, uint16_t filmod,
                   const char *password, int32_t memstate, int options, int32_t *tail);
/* Loads index idxno (open and empty) or the additional member
 * `member` of host index hostno from the records of data file datno
 * (opened here by datname when given, else open already), through the
 * external sort and the bulk load. A key that cannot be loaded (a
 * duplicate in a unique index, a record whose serial number is all ones)
 * is rejected: counted in *dups or *badser and reported into *stream (text
 * report; options bit 1: binary reject records for a purge). 0; 2
 * duplicates and no stream; 605 bad serial numbers only and no stream; 869
 * stopped; 26 host not open; 23 bad member; or the error of a step. A
 * failed index keeps the update flag 'R'. */
ZV_API int RBLIDX(int datno, const char *datname, int idxno, const char *password, FILE **stream, int unused,
                  int32_t *dups, int options, int32_t *badser);
ZV_API int RBLMEMX(int datno, const char *datname, int hostno, int member, const char *password, FILE **stream,
                   int unused, int32_t *dups, int options, int32_t *badser, int memfilno);
ZV_API int RBLMEM(int datno, const char *datname, int hostno, int member, const char *password, FILE **stream,
                  int unused, int32_t *dups, int options, int32_t *badser);
/* Repairs a closed superfile host: re-marks and joins its free space,
 * rebuilds its free-space index, finds every member and resource by the
 * owner each area names, resets each member's counters and free lists and
 * links each resource ring again; index members are left empty and marked
 * as not closed cleanly (their sets open with 14) until their set rebuild
 * loads them. The directory is found by its own area; a member whose
 * headers do not open (one whose creation a kill cut short) is left out,
 * its own area freed, and the status log names it. 0, or: 130 no name;
 * 418 member count above 255; 48 not a superfile host (or one without a
 * directory); 123 an area of a member with a mark it cannot hold; 485
 * no temporary index; 40 a node area of the wrong length; 512 a walk
 * longer than the file; 12 cannot open, or another open (another process
 * or instance) has the host (the lock's system error in
 * zvGetSystemErrorCode(), nothing changed); 46 the host is open. The host
 * is held from the first look at it to the end (its second pass's open
 * included): another open of it meanwhile answers 12. The rebuild's opens
 * of the members act on no note of a swap of members beside the host (nor
 * do a set rebuild's): the next open of the data member finishes the swap
 * or drops it. */
ZV_API int ZVSBLDX(const char *hostname, const char *password);

/* Compaction of a closed file set: every live record and every resource of
 * the data file is copied, in file order, into a new data file beside it;
 * every index file is created again beside its old one (its resources
 * carried over) and loaded from the new record positions through the
 * external sort. Only when the new data file and every new index are
 * complete are the files swapped, each original parked under a temporary
 * name first and deleted after the last rename; any failure before or
 * during the swap leaves the original files as they were, under their own
 * names, and no new file behind. Index files that are superfile members
 * are reloaded in place (and loaded again from the original data file when
 * a later step fails).
 * Options travel in ifil->tfilno (restored on return): -1 or more none;
 * -(0x4000 + bits) with the bits 0x002 store the given definition, 0x004
 * purge records whose keys were rejected, 0x010 give every record a new
 * serial number in file order, 0x020 turn a fixed-length data file into a
 * variable-format file that holds records of the fixed length (a
 * variable-length file is copied as it is), 0x040 encrypt the new files
 * with the instance's pending cipher (allowed only while cmpchgenc is not
 * 0), 0x200 skip damaged stretches of a variable-length data file (the
 * original is never written) instead of failing with 1107 (0x008, 0x080
 * and 0x100 accepted); the values -99 (store), -101 (purge) and -200
 * (both). Without 0x040 the new files keep the class and key length of
 * the old ones, under new keys; an index file that did not exist is
 * created like the data file.
 * 0, or: 652 keys were rejected and left, 650 rejected and purged (their
 * report in the reject file the status log names); 943 bad options; 454
 * 0x040 while cmpchgenc is 0, or a data file with automatic segments whose
 * name is a symbolic link (its swap's note could name no link); 954 a
 * partitioned file; 48 dfilmod 0x200, a
 * data file that is a superfile member or no data file; 107 more than 64
 * indexes; 122 the file mode disagrees with the file's kind; 940 a data
 * file in a format this build does not open; 608 a schema
 * serial segment that disagrees with the stored definition; 199, 433,
 * 116, 528 a serial field that cannot be placed; 1107 damaged
 * variable-length data; 512 a walk longer than the file; 869 stopped
 * through the status block; 46 a file of the set is open; 12 another open
 * (another process or instance, shared or exclusive) has the data file or
 * an index file, with the lock's system error in zvGetSystemErrorCode(),
 * before anything is written; and the codes of the opens, creates, copies
 * and renames, with the file concerned in zvGetIsamFileNbr. From its first
 * look at the data file to its end (the copy, the index phase, the swap,
 * the definition stored and the purge) the run holds every file of the
 * set and every new file: another open of one meanwhile answers 12. The
 * status log records the steps ("Compact: ..."). */
ZV_API int CMPIFILz(IFILPARM *params);
ZV_API int CMPIFILX8(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask,
                     const char *group, const char *password, XCREblk *xcre);
ZV_API int CMPIFILX(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask,
                    const char *group, const char *password);
ZV_API int CMPIFIL(IFIL *ifil);
/* What a compaction asks of the record copy (CMPDATX8). */
typedef struct CMPBLK {
    IFIL *ifil;         /* the definition whose serial segment gets new numbers; NULL: none */
    int32_t convert;    /* 1: a fixed-length file becomes variable format (records of the fixed length) */
    int32_t newenc;     /* 1: the new file takes the instance's pending cipher, else the old file's */
    int32_t strict;     /* 1: damaged variable-length data ends the copy with 1107; 0: it is skipped */
} CMPBLK;
/* Copies data file `datname` into the new file `newname` (created on
 * filno with the record length, extension size, file mode and create
 * block; a caller's block counts only for a file with 8-byte offsets):
 * every live record in file order and every resource but the file's own
 * (type 0 numbers 2, 6, 7, 8). The old file is opened on filno + 1 and left
 * open on success (the caller closes it); the new file is closed. 0 or an
 * error, the new file then deleted: 48 a superfile member or no data
 * file, 122 the file mode disagrees with the file's kind, 199, 433, 116,
 * 528 (serial field), 1107, 512, 869, 120, 82, and the codes of the opens,
 * reads and writes. The old file is never written. */
ZV_API int CMPDATX8(int filno, const char *datname, const char *newname, uint16_t reclen, uint32_t xtdsize,
                    uint16_t filmod, int32_t permmask, const char *group, const char *password, XCREblk *xcre,
                    CMPBLK *blk);
/* Set by the host application to allow compaction option 0x040 (new
 * encryption); 0 at load, only read by the library. */
ZV_API extern uint32_t cmpchgenc;

#ifdef __cplusplus
#define ZV_ISAM_ASSERT(c, m) static_assert(c, m)
#else
#define ZV_ISAM_ASSERT(c, m) _Static_assert(c, m)
#endif
ZV_ISAM_ASSERT(sizeof(VERIFYERR) == 12, "VERIFYERR is 12 bytes");
ZV_ISAM_ASSERT(offsetof(VERIFYIDXRES, badlinks) == 20, "VERIFYIDXRES badlinks at 20");
ZV_ISAM_ASSERT(offsetof(VERIFYIDXRES, levelnodes) == 24, "VERIFYIDXRES levels at 24");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || sizeof(VERIFYIDXOPT) == 32, "VERIFYIDXOPT is 32 bytes");
ZV_ISAM_ASSERT(offsetof(VERIFYIDXOPT, flags) == 12, "VERIFYIDXOPT flags at 12");
ZV_ISAM_ASSERT(offsetof(VERIFYIDXOPT, output) == 16, "VERIFYIDXOPT output at 16");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(VERIFYIDXOPT, progress) == 24, "VERIFYIDXOPT progress at 24");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || sizeof(VERIFYFILEOPT) == 56, "VERIFYFILEOPT is 56 bytes");
ZV_ISAM_ASSERT(offsetof(VERIFYFILEOPT, chkkey) == 12, "VERIFYFILEOPT chkkey at 12");
ZV_ISAM_ASSERT(offsetof(VERIFYFILEOPT, filename) == 16, "VERIFYFILEOPT filename at 16");
ZV_ISAM_ASSERT(sizeof(void *) != 8 || offsetof(VERIFYFILEOPT, error) == 48, "VERIFYFILEOPT error at 48");
ZV_ISAM_ASSERT(sizeof(RBLCBST) == 12, "RBLCBST is 12 bytes");
ZV_ISAM_ASSERT(offsetof(RBLCBST, cancel) == 8, "RBLCBST cancel at 8");
ZV_ISAM_ASSERT(offsetof(CMPBLK, convert) == sizeof(void *), "CMPBLK convert after the IFIL pointer");
ZV_ISAM_ASSERT(offsetof(CMPBLK, strict) == sizeof(void *) + 8, "CMPBLK strict last");
#undef ZV_ISAM_ASSERT

#ifdef __cplusplus
}
#endif

#endif /* ZARVO_ZARVO_H */
