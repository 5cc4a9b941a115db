/*
 * zvdb.h - the record-level C interface.
 *
 * Result codes, handles and the value types of the record-level API: the
 * allocator, blobs, 64-bit integers, money, currency, 20-byte decimal
 * numbers, dates, times and date-times, the regular-expression matcher the
 * date and time parsers use, the session defaults and the clock routines.
 *
 * Conventions:
 *  - Every call returns a ZVDBRET: 0 on success, 4001 and up for the
 *    record-level API's own codes (listed below).
 *  - A routine with an output pointer returns 4007 when it is NULL and then
 *    writes nothing. A failing routine writes nothing to its outputs.
 *  - A text result is written whole, with its terminator, or not at all:
 *    4006 when its length is not less than the given buffer size.
 *  - Every block handed out by the record-level API comes zero-filled from
 *    _zvdb_alloc and is released with _zvdb_free.
 *
 * This header compiles as C11 and as C++.
 */
#ifndef ZARVO_ZVDB_H
#define ZARVO_ZVDB_H

#include <stddef.h>
#include <stdint.h>

#include "zvtypes.h"

#ifndef ZV_API
#if defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#else
#define ZV_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Result codes.                                                             */
/* ------------------------------------------------------------------------ */

/* The result of every record-level call: 0 success, 4001 and up the codes
 * below, any other value an engine code passed through unchanged.
 *
 * A full disk (or a file-size limit): a write of a table's files that the
 * system refuses fails its call with 37, the system's reason in the
 * engine's zvGetSystemErrorCode() (28 ENOSPC; 27 EFBIG past a file-size
 * limit). Under a file-size limit (RLIMIT_FSIZE) the system first raises
 * SIGXFSZ at the write past it, which ends the process unless the program
 * ignores that signal (signal(SIGXFSZ, SIG_IGN)); only then does the write
 * fail and the call answer 37 with 27. Writes of records go on into the engine's caches while they have
 * room; a read or walk the caches serve without writing answers 0, one
 * that needs a changed page written first 37. A zvdbWriteRecord or
 * zvdbDeleteRecord that fails undoes its steps (37); 105 when the undo
 * needed a write too and the table may keep a piece of the failed call.
 * What to do: make room, then ZVFLUSH(-1) (zarvo.h) until it answers 0,
 * or close the table: either writes what the caches kept. After 105,
 * zvdbRebuildTable(table, 1) before the table is used again. */
typedef int ZVDBRET;

#define ZVDB_OK                 0
#define ZVDB_NO_MEMORY       4001 /* out of memory */
#define ZVDB_NULL_HANDLE     4002 /* NULL handle given to an error or session call */
#define ZVDB_NO_SESSION      4003 /* no session reachable from the handle */
#define ZVDB_BAD_ARGUMENT    4004 /* argument value out of its range */
#define ZVDB_BAD_POSITION    4005 /* position out of range in a list */
#define ZVDB_BUFFER_SMALL    4006 /* caller's buffer too small */
#define ZVDB_NULL_ARGUMENT   4007 /* NULL argument */
#define ZVDB_BAD_KIND        4008 /* argument missing or of a kind the call cannot use */
#define ZVDB_DEBUG_FILE      4009 /* debug trace file cannot be opened */
#define ZVDB_NO_DATABASE     4010 /* no database handle */
#define ZVDB_ACTIVE          4011 /* already active */
#define ZVDB_NOT_ACTIVE      4012 /* not active */
#define ZVDB_NO_TABLE        4013 /* no table handle */
#define ZVDB_NO_FIELD_NAME   4014 /* field not found in the table */
#define ZVDB_DELETE_FAILED   4015 /* file delete failed */
#define ZVDB_FIELD_NAME      4016 /* field name already used or not valid */
#define ZVDB_NO_FIELD        4017 /* no field handle */
#define ZVDB_NO_INDEX        4018 /* no index handle */
#define ZVDB_BAD_TYPE        4019 /* type not valid for the operation */
#define ZVDB_NO_SEGMENT      4020 /* no segment handle */
#define ZVDB_DATABASE_EXISTS 4021 /* database already present */
#define ZVDB_TABLE_EXISTS    4022 /* table already present */
#define ZVDB_NO_TABLE_NAME   4023 /* table not found */
#define ZVDB_NO_RECORD       4024 /* no record handle */
#define ZVDB_BAD_MODE        4025 /* mode or request not valid */
#define ZVDB_BAD_FIND_MODE   4026 /* find mode out of range */
#define ZVDB_LOCATE_FILTER   4027 /* raised by the locate filter */
#define ZVDB_BAD_FORMAT      4028 /* bad date or time format or pattern */
#define ZVDB_BAD_DATE        4029 /* date out of range */
#define ZVDB_BAD_DAY         4030 /* bad day */
#define ZVDB_BAD_MONTH       4031 /* bad month */
#define ZVDB_BAD_YEAR        4032 /* bad year */
#define ZVDB_BAD_SYSTIME     4033 /* system time conversion failed; time text not matched */
#define ZVDB_BAD_HOUR        4034 /* bad hour */
#define ZVDB_BAD_MINUTE      4035 /* bad minute */
#define ZVDB_BAD_SECOND      4036 /* bad second */
#define ZVDB_OVERFLOW        4038 /* overflow */
#define ZVDB_UNDERFLOW       4039 /* underflow */
#define ZVDB_DIVIDE_BY_ZERO  4040 /* division by zero */
#define ZVDB_ZERO_DATETIME   4041 /* zero date-time */
#define ZVDB_NO_CONVERSION   4042 /* field type has no such conversion */
#define ZVDB_NAME_TOO_LONG   4043 /* name too long */
#define ZVDB_FULL_PATH       4044 /* full path cannot be built */
#define ZVDB_NO_INDEX_NAME   4045 /* index not found */
#define ZVDB_NOT_FOUND       4046 /* item not found */
#define ZVDB_BAD_SEGMENT     4047 /* segment definition refused */
#define ZVDB_NO_INDEX_USE    4048 /* no index to use for the request */
#define ZVDB_NO_SEGMENT_NAME 4049 /* segment not found */
#define ZVDB_ISAM_CONTEXT    4050 /* ISAM context cannot be switched, attached or released */
#define ZVDB_INDEX_NAME      4051 /* index name refused */
#define ZVDB_VALUE_CUT       4052 /* value cut to fit the caller's buffer */
#define ZVDB_INDEX_ADD       4053 /* index cannot be added */
#define ZVDB_NOT_SUPPORTED   4054 /* service not supported in this library */
#define ZVDB_BAD_LOCK_MODE   4055 /* lock mode out of range */
#define ZVDB_NO_DICTIONARY   4058 /* no dictionary */
#define ZVDB_TYPE_UNSUPPORTED 4059 /* field type not supported by the operation */
#define ZVDB_BAD_NUMBER      4060 /* number conversion failed */
#define ZVDB_BAD_DECIMALS    4062 /* negative number of decimal places */
#define ZVDB_RECORD_BUFFER   4063 /* record buffer too small or cannot be resized */
#define ZVDB_RECBYT_INDEX    4064 /* the record-position index cannot be deleted */
#define ZVDB_ROWID_INDEX     4065 /* the row-identifier index cannot be deleted */
#define ZVDB_NO_ROWID        4066 /* table has no row-identifier field */
#define ZVDB_MKDIR_FAILED    4067 /* directory creation failed */
#define ZVDB_COPY_FAILED     4068 /* file copy failed */
#define ZVDB_BAD_ISOLATION   4070 /* isolation level out of range */
#define ZVDB_EXPR_FAILED     4071 /* expression evaluation failed */
#define ZVDB_EXPR_TYPE       4076 /* expression type refused */
#define ZVDB_BAD_SESSION_TYPE 4084 /* session type not valid */
#define ZVDB_BAD_ALTER_ACTION 4085 /* alteration action not valid */
#define ZVDB_RECORDS_DIFFER  4086 /* records differ */
#define ZVDB_READ_ONLY       4088 /* table opened read-only */
#define ZVDB_BAD_TAG_HANDLE  4090 /* handle not valid for callbacks or tags */
#define ZVDB_BAD_CALLBACK    4091 /* callback kind out of range or library not loadable */
#define ZVDB_SEGMENT_DELETED 4092 /* segment already deleted */
#define ZVDB_INDEX_IN_DICT   4093 /* index name held by the database dictionary */
#define ZVDB_DATABASE_UNUSABLE 4094 /* no database, or its dictionary cannot be opened */
#define ZVDB_INDEX_NO_SEGMENTS 4095 /* index without segments */
#define ZVDB_NO_BATCH        4096 /* no batch active */
#define ZVDB_BATCH_ACTIVE    4097 /* refused while a batch is active */
#define ZVDB_BAD_BATCH_OP    4098 /* batch operation not valid */
#define ZVDB_BAD_RESOURCE    4099 /* resource handle not valid */
#define ZVDB_BAD_ATTACH_MODE 4100 /* attach mode not valid */
#define ZVDB_NOT_ATTACHED    4101 /* session not attached */
#define ZVDB_BAD_VARDATA     4108 /* record image damaged: a length or delimiter leads out of it */
#define ZVDB_DICT_REPAIR     4129 /* the dictionary's serial number cannot be repaired at open */
#define ZVDB_NO_VTABLE_NUMBER 4130 /* no virtual-table number left in the host (0..198) */
#define ZVDB_HAS_VTABLES     4131 /* the table is the host of virtual tables */
#define ZVDB_IDENTITY_EXISTS 4133 /* the table has an identity field already */
#define ZVDB_NO_IDENTITY     4134 /* the table has no identity field */
#define ZVDB_RESERVED_NAME   4136 /* reserved field name */
#define ZVDB_DICT_STRUCTURE  4137 /* dictionary of an older structure */
#define ZVDB_NUMBER_LENGTH   4144 /* number value longer than 17 bytes */
#define ZVDB_BAD_MSEC        4145 /* bad millisecond */
#define ZVDB_SEGMENT_OFFSET  4146 /* record offset of a key segment cannot be worked out */
#define ZVDB_MSEC_INTO_TIME  4147 /* millisecond time into a ZV_TIME field */
#define ZVDB_PARTITION_SET   4148 /* partition index or rule already set */
#define ZVDB_NO_FTI          4149 /* no full-text index handle */
#define ZVDB_NO_FTI_NAME     4150 /* full-text index not found by name */
#define ZVDB_FTI_NO_FIELDS   4152 /* full-text index definition without fields */
#define ZVDB_ATTACH_DATABASE 4153 /* only a free table can be attached */
#define ZVDB_NO_BATCH_NUMBER 4154 /* no free batch number in the session */
#define ZVDB_NO_ROWID_SEGMENT 4161 /* row-id segment on a table without "$ROWID$" */
#define ZVDB_RECORD_LENGTH   4164 /* record length of a virtual table does not fit its host */
#define ZVDB_NO_BGLOAD       4165 /* no background-load status for the table */
#define ZVDB_JSON_FIXED      4168 /* ZV_JSON field in the fixed part of a record */
#define ZVDB_FIELD_MASKED    4169 /* field not in the record's field mask */
#define ZVDB_BATCH_SET       4170 /* batch filter or range already set, or a record filter */
#define ZVDB_VIRTUAL_COUNT   4155 /* record count of a multi-record-type table: every type counted */

/* ------------------------------------------------------------------------ */
/* Handles and value types.                                                  */
/* ------------------------------------------------------------------------ */

/* A record-level handle: an opaque record whose first 16 bits hold its kind.
 * A handle whose first 16 bits hold no kind below is no handle at all. */
typedef void *ZVHANDLE;

/* Kinds of handle records. */
typedef uint16_t ZVDB_HANDLE_KIND;
#define ZVDB_SESSION_HANDLE    3505
#define ZVDB_DATABASE_HANDLE   3506
#define ZVDB_TABLE_HANDLE      3507
#define ZVDB_RECORD_HANDLE     3508
#define ZVDB_INDEX_HANDLE      3509
#define ZVDB_FIELD_HANDLE      3510
#define ZVDB_SEGMENT_HANDLE    3511
#define ZVDB_RESOURCE_HANDLE   3512
#define ZVDB_RESULTSET_HANDLE  3513
#define ZVDB_CRITERIA_HANDLE   3514
#define ZVDB_FTI_HANDLE        3515
#define ZVDB_FTIDICT_HANDLE    3516

typedef int32_t ZVMONEY;       /* hundredths: 12.34 is 1234 */
typedef int64_t ZVCURRENCY;    /* ten-thousandths: 12.3456 is 123456 */
typedef int64_t ZVBIGINT;      /* signed 64-bit integer */
typedef uint64_t ZVUBIGINT;    /* unsigned 64-bit integer */
typedef uint32_t ZVDATE;       /* day number: 1 is 1 March 1700; 0 no date */
typedef uint32_t ZVTIME;       /* seconds (or milliseconds) since midnight */
typedef double ZVDATETIME;     /* days since 30 December 1899 plus the day's fraction */

/* Text form of a date: 1 MM/DD/YYYY, 2 MM/DD/YY, 3 DD/MM/YYYY, 4 DD/MM/YY,
 * 5 YYYYMMDD, 6 YYMMDD. */
typedef int32_t ZVDATE_TYPE;
/* Text form of a time: 1 "h:mm:ss AM", 2 "h:mm AM", 3 "h:mm:ss", 4 "h:mm",
 * 5 "HHMM", 6 "hh:mm:ss AM", 7 "hh:mm AM", 8 "hh:mm:ss", 9 "hh:mm",
 * 10 "h:mm:ss.mmm", 11 "hh:mm:ss.mmm" (h blank-padded, hh zero-padded). */
typedef int32_t ZVTIME_TYPE;
/* A session's keep-lock mode, kept for the caller. */
typedef int32_t ZVKEEP_MODE;
/* A session's transaction mode: bits 0..4. */
typedef int32_t ZVBEGIN_MODE;

/* A binary large object: used bytes, the owned buffer, its capacity. The
 * buffer is NULL exactly when the capacity is 0; used <= allocated. */
typedef struct tagZVBLOB {
    int32_t used;
    void *data;
    int32_t allocated;
} tagZVBLOB;

/* A decimal number of up to 32 significant digits, stored so that two
 * nonzero normalised numbers order as unsigned byte strings from byte 2.
 *
 *   OFFSET SIZE DESCRIPTION
 *        0    2 length (host order): 1 + number of digit bytes, 1..17
 *        2    1 sign and exponent: 0x80 + (E + 64) for a positive number,
 *               63 - E (the bitwise complement) for a negative one
 *        3   16 base-100 digits d1..dn, most significant first: the value is
 *               0.d1d2..dn (base 100) times 100^E; a negative number holds
 *               99 - di for all digits but the last and 100 - dn for the last
 *       19    1 spare, 0
 *
 * Zero is length 2, 0xC1, 00. E ranges from -63 to 62. */
typedef struct tagZVNUMBER {
    int16_t length;
    uint8_t exponent;
    uint8_t digits[16];
    uint8_t spare;
} tagZVNUMBER;

#ifdef __cplusplus
static_assert(sizeof(tagZVNUMBER) == 20, "tagZVNUMBER is a 20-byte stored image");
#else
_Static_assert(sizeof(tagZVNUMBER) == 20, "tagZVNUMBER is a 20-byte stored image");
#endif

/* Seconds since 1 January 1970 UTC and nanoseconds within the second. */
typedef struct tagZVDBUNIXTIME {
    int64_t seconds;
    int64_t nanoseconds;
} tagZVDBUNIXTIME;

/* Context of the regular-expression matcher (opaque). */
typedef struct zvdb_regexp zvdb_regexp;

/* ------------------------------------------------------------------------ */
/* Allocator. Every block is zero-filled; counts or sizes below 1 give NULL. */
/* ------------------------------------------------------------------------ */

/* count x size zeroed bytes; NULL when either is below 1 or memory is short. */
ZV_API void *_zvdb_alloc(int32_t count, int32_t size);
/* As _zvdb_alloc; the tag is ignored. */
ZV_API void *_zvdb_alloc_ex(int32_t count, int32_t size, int32_t tag);
/* Releases a block (NULL is ignored); always returns NULL, so that
 * p = _zvdb_free(p) releases and clears in one step. */
ZV_API void *_zvdb_free(void *p);
/* As _zvdb_free, except that mode 2 with the sentinel pointer 1 releases
 * nothing. Always NULL. */
ZV_API void *_zvdb_free_ex(void *p, int32_t mode);
/* Grows a block of elements. NULL p: a new block of newcount elements. A
 * newcount not above oldcount: p itself. Otherwise a new zeroed block holding
 * the old elements, the old block released; NULL (old block untouched) when
 * the old byte count is below 1 or memory is short. */
ZV_API void *_zvdb_realloc(void *p, int32_t elemsize, int32_t oldcount, int32_t newcount);
/* A zeroed text buffer of length + 1 bytes; NULL for a negative length. */
ZV_API char *_zvdb_stralloc(int32_t length);
/* A zeroed 16-bit character buffer of length + 1 units; NULL for a negative length. */
ZV_API uint16_t *_zvdb_wstralloc(int32_t length);
/* A copy of text in a buffer from _zvdb_stralloc; NULL for NULL or no memory. */
ZV_API char *_zvdb_strdup(const char *text);

/* ------------------------------------------------------------------------ */
/* Blobs.                                                                    */
/* ------------------------------------------------------------------------ */

/* A new blob with no used bytes and a zeroed buffer of size bytes (no buffer
 * when size is below 1); NULL when memory is short. */
ZV_API tagZVBLOB *zvdbBlobAlloc(int32_t size);
/* Releases the buffer and the blob; NULL is ignored. */
ZV_API void zvdbBlobFree(tagZVBLOB *blob);
/* The data pointer; NULL for a NULL blob. */
ZV_API void *zvdbBlobGetData(const tagZVBLOB *blob);
/* The used size; 0 for a NULL blob. */
ZV_API int32_t zvdbBlobGetSize(const tagZVBLOB *blob);
/* Copies size bytes into the blob, taking a new buffer of exactly size bytes
 * when the capacity is smaller. 4007 NULL blob or data, 4006 size below 1,
 * 4001 no memory (the blob is then empty). */
ZV_API ZVDBRET zvdbBlobSet(tagZVBLOB *blob, const void *data, int32_t size);
/* -1, 0 or 1: NULL first, then the smaller used size, then the bytes. */
ZV_API int zvdbBlobCmp(const tagZVBLOB *a, const tagZVBLOB *b);
/* Releases the buffer and empties the blob; 4007 for NULL. */
ZV_API ZVDBRET zvdbBlobClear(tagZVBLOB *blob);

/* ------------------------------------------------------------------------ */
/* 64-bit integers. "Long" is a 32-bit integer.                              */
/* ------------------------------------------------------------------------ */

/* 4038 above 2147483647, 4039 below -2147483648. */
ZV_API ZVDBRET zvdbBigIntToLong(ZVBIGINT value, int32_t *out);
/* 4038 above 4294967295; a negative value gives its low 32 bits. */
ZV_API ZVDBRET zvdbBigIntToULong(ZVBIGINT value, uint32_t *out);
/* 4038 above 2147483647. */
ZV_API ZVDBRET zvdbUnsignedBigIntToLong(ZVUBIGINT value, int32_t *out);
ZV_API ZVDBRET zvdbLongToBigInt(int32_t value, ZVBIGINT *out);
ZV_API ZVDBRET zvdbULongToBigInt(uint32_t value, ZVBIGINT *out);
ZV_API ZVDBRET zvdbLongToUnsignedBigInt(int32_t value, ZVUBIGINT *out);
ZV_API ZVDBRET zvdbULongToUnsignedBigInt(uint32_t value, ZVUBIGINT *out);
/* Decimal text ("-" for a negative value); 4007 NULL buffer, 4006 too small. */
ZV_API ZVDBRET zvdbBigIntToString(ZVBIGINT value, char *buffer, int32_t size);
ZV_API ZVDBRET zvdbUnsignedBigIntToString(ZVUBIGINT value, char *buffer, int32_t size);
ZV_API ZVDBRET zvdbBigIntToFloat(ZVBIGINT value, double *out);
ZV_API ZVDBRET zvdbUnsignedBigIntToFloat(ZVUBIGINT value, double *out);
/* Blanks, an optional sign, then digits up to the first non-digit (no digits
 * give 0; the value wraps modulo 2^64). 4007 for a NULL text or output. */
ZV_API ZVDBRET zvdbStringToBigInt(const char *text, ZVBIGINT *out);
/* As zvdbStringToBigInt; a leading "-" gives 4004. */
ZV_API ZVDBRET zvdbStringToUnsignedBigInt(const char *text, ZVUBIGINT *out);
/* The integer part, truncated toward zero. */
ZV_API ZVDBRET zvdbFloatToBigInt(double value, ZVBIGINT *out);
ZV_API ZVDBRET zvdbFloatToUnsignedBigInt(double value, ZVUBIGINT *out);

/* ------------------------------------------------------------------------ */
/* Money (two decimals in 32 bits) and currency (four decimals in 64 bits).  */
/* ------------------------------------------------------------------------ */

ZV_API ZVDBRET zvdbMoneyToLong(ZVMONEY m, int32_t *out);
/* 4038 when |l| > 21474836. */
ZV_API ZVDBRET zvdbLongToMoney(int32_t l, ZVMONEY *out);
ZV_API ZVDBRET zvdbMoneyToFloat(ZVMONEY m, double *out);
/* Rounded half away from zero; 4038 out of range, 4060 for NaN. */
ZV_API ZVDBRET zvdbFloatToMoney(double d, ZVMONEY *out);
/* "-" for a negative value, then units "." two decimals. */
ZV_API ZVDBRET zvdbMoneyToString(ZVMONEY m, char *buffer, int32_t size);
/* Blanks, "-", "+", digits, "." and up to two decimals (more are ignored).
 * 4038 when the value leaves the money range; 4007 for a NULL text (the
 * output then set to 0) or output. */
ZV_API ZVDBRET zvdbStringToMoney(const char *text, ZVMONEY *out);
/* 32-bit sum and difference (they wrap). */
ZV_API ZVDBRET zvdbMoneyAdd(ZVMONEY a, ZVMONEY b, ZVMONEY *out);
ZV_API ZVDBRET zvdbMoneySub(ZVMONEY a, ZVMONEY b, ZVMONEY *out);
/* Product truncated toward zero; 4038 above, 4039 below the money range. */
ZV_API ZVDBRET zvdbMoneyMul(ZVMONEY a, ZVMONEY b, ZVMONEY *out);
/* Quotient truncated toward zero; 4040 by zero, 4038/4039 out of range. */
ZV_API ZVDBRET zvdbMoneyDiv(ZVMONEY a, ZVMONEY b, ZVMONEY *out);
ZV_API int zvdbMoneyCmp(ZVMONEY a, ZVMONEY b);
ZV_API ZVMONEY zvdbMoneyAbs(ZVMONEY m);
ZV_API ZVDBRET zvdbMoneyToCurrency(ZVMONEY m, ZVCURRENCY *out);
/* 4038 from 214748364800 up, 4039 below -214748364799. */
ZV_API ZVDBRET zvdbCurrencyToMoney(ZVCURRENCY c, ZVMONEY *out);

/* Units truncated, cut to 32 bits. */
ZV_API ZVDBRET zvdbCurrencyToLong(ZVCURRENCY c, int32_t *out);
ZV_API ZVDBRET zvdbLongToCurrency(int32_t l, ZVCURRENCY *out);
ZV_API ZVDBRET zvdbCurrencyToBigInt(ZVCURRENCY c, ZVBIGINT *out);
ZV_API ZVDBRET zvdbCurrencyToUnsignedBigInt(ZVCURRENCY c, ZVUBIGINT *out);
ZV_API ZVDBRET zvdbBigIntToCurrency(ZVBIGINT v, ZVCURRENCY *out);
ZV_API ZVDBRET zvdbUnsignedBigIntToCurrency(ZVUBIGINT v, ZVCURRENCY *out);
ZV_API ZVDBRET zvdbCurrencyToFloat(ZVCURRENCY c, double *out);
/* Rounded half away from zero; 4038/4039 outside the 64-bit range, 4060 NaN. */
ZV_API ZVDBRET zvdbFloatToCurrency(double d, ZVCURRENCY *out);
/* Exactly four decimals: 5 is "0.0005", -1 "-0.0001". */
ZV_API ZVDBRET zvdbCurrencyToString(ZVCURRENCY c, char *buffer, int32_t size);
/* As zvdbStringToMoney with four decimals; 4038 out of range. */
ZV_API ZVDBRET zvdbStringToCurrency(const char *text, ZVCURRENCY *out);
ZV_API ZVDBRET zvdbCurrencyAdd(ZVCURRENCY a, ZVCURRENCY b, ZVCURRENCY *out);
ZV_API ZVDBRET zvdbCurrencySub(ZVCURRENCY a, ZVCURRENCY b, ZVCURRENCY *out);
/* Product truncated toward zero at four decimals. */
ZV_API ZVDBRET zvdbCurrencyMul(ZVCURRENCY a, ZVCURRENCY b, ZVCURRENCY *out);
/* Quotient truncated toward zero at four decimals; 4040 by zero, 4038/4039
 * out of range. */
ZV_API ZVDBRET zvdbCurrencyDiv(ZVCURRENCY a, ZVCURRENCY b, ZVCURRENCY *out);
ZV_API int zvdbCurrencyCmp(ZVCURRENCY a, ZVCURRENCY b);
ZV_API ZVCURRENCY zvdbCurrencyAbs(ZVCURRENCY c);
/* Cuts (truncates) *pc to n decimals; 4062 for n < 0, no change for n > 3. */
ZV_API ZVDBRET zvdbCurrencyRound(ZVCURRENCY *pc, int32_t n);

/* ------------------------------------------------------------------------ */
/* Numbers.                                                                  */
/* ------------------------------------------------------------------------ */

ZV_API ZVDBRET zvdbNumberZero(tagZVNUMBER *number);
/* 1 for zero, else 0 (0 for NULL). */
ZV_API int zvdbIsNumberZero(const tagZVNUMBER *number);
ZV_API ZVDBRET zvdbNumberCopy(tagZVNUMBER *destination, const tagZVNUMBER *source);
ZV_API ZVDBRET zvdbNumberNegate(const tagZVNUMBER *source, tagZVNUMBER *destination);
ZV_API ZVDBRET zvdbNumberAbs(const tagZVNUMBER *source, tagZVNUMBER *destination);
/* -1, 0 or 1 in numeric order (0 when either is NULL). */
ZV_API int zvdbNumberCmp(const tagZVNUMBER *a, const tagZVNUMBER *b);
/* Blanks, a sign, digits with one ".", an optional exponent ("E" or "e",
 * sign, digits) and nothing after. 4060 for other text or 128 collected
 * characters, 4038/4039 outside the exponent range. */
ZV_API ZVDBRET zvdbStringToNumber(const char *text, tagZVNUMBER *number);
/* Plain text when it fits; otherwise asterisks (size below 9), scientific
 * form, or the cut plain text (magnitude from 1 to below 10). 4006 for a
 * size below 1; 4038 for a length outside 1..17 or exponent field 127. */
ZV_API ZVDBRET zvdbNumberToString(const tagZVNUMBER *number, char *buffer, int32_t size);
ZV_API ZVDBRET zvdbLongToNumber(int32_t value, tagZVNUMBER *number);
/* 4008 for a NULL number, 4060 for an infinite or NaN value. */
ZV_API ZVDBRET zvdbFloatToNumber(double value, tagZVNUMBER *number);
ZV_API ZVDBRET zvdbMoneyToNumber(ZVMONEY value, tagZVNUMBER *number);
ZV_API ZVDBRET zvdbBigIntToNumber(ZVBIGINT value, tagZVNUMBER *number);
ZV_API ZVDBRET zvdbUnsignedBigIntToNumber(ZVUBIGINT value, tagZVNUMBER *number);
ZV_API ZVDBRET zvdbCurrencyToNumber(ZVCURRENCY value, tagZVNUMBER *number);
ZV_API ZVDBRET zvdbNumberToMoney(const tagZVNUMBER *number, ZVMONEY *out);
ZV_API ZVDBRET zvdbNumberToBigInt(const tagZVNUMBER *number, ZVBIGINT *out);
ZV_API ZVDBRET zvdbNumberToUnsignedBigInt(const tagZVNUMBER *number, ZVUBIGINT *out);
ZV_API ZVDBRET zvdbNumberToCurrency(const tagZVNUMBER *number, ZVCURRENCY *out);
/* Integer part; 4038/4039 outside the 32-bit range. */
ZV_API ZVDBRET zvdbNumberToLong(const tagZVNUMBER *number, int32_t *out);
ZV_API ZVDBRET zvdbNumberToFloat(const tagZVNUMBER *number, double *out);

/* Arithmetic to 16 base-100 digits, cut toward zero. 4038 when the result's
 * exponent passes 62, 4039 below -63; the result is then not written. */
ZV_API ZVDBRET zvdbNumberAdd(const tagZVNUMBER *a, const tagZVNUMBER *b, tagZVNUMBER *result);
ZV_API ZVDBRET zvdbNumberSub(const tagZVNUMBER *a, const tagZVNUMBER *b, tagZVNUMBER *result);
ZV_API ZVDBRET zvdbNumberMul(const tagZVNUMBER *a, const tagZVNUMBER *b, tagZVNUMBER *result);
/* 4040 by zero. */
ZV_API ZVDBRET zvdbNumberDiv(const tagZVNUMBER *a, const tagZVNUMBER *b, tagZVNUMBER *result);
/* Rounds in place to the given decimals, half away from zero; 4062 below 0. */
ZV_API ZVDBRET zvdbNumberRound(tagZVNUMBER *number, int32_t decimals);
/* Counts of integer and fraction digits; 4060 for a length outside 1..17. */
ZV_API ZVDBRET zvdbNumberGetDecimal(const tagZVNUMBER *number, int32_t *intdigits,
                                    int32_t *fracdigits);

/* ------------------------------------------------------------------------ */
/* Dates. Day 1 is 1 March 1700, proleptic Gregorian calendar.               */
/* ------------------------------------------------------------------------ */

/* 4032 year outside 1..117588, 4031 month outside 1..12, 4030 bad day. */
ZV_API ZVDBRET zvdbDateCheck(int year, int month, int day);
/* 4029 before 1 March 1700, after 117588 or for a day number that does not
 * unpack; 4031 month outside 1..12. The day of month is not validated. */
ZV_API ZVDBRET zvdbDatePack(ZVDATE *out, int year, int month, int day);
/* 4029 for 0 and above 42327756. */
ZV_API ZVDBRET zvdbDateUnpack(ZVDATE date, int *year, int *month, int *day);
/* 4029 date 0, 4019 type outside 1..6, 4006 too small. */
ZV_API ZVDBRET zvdbDateToString(ZVDATE date, ZVDATE_TYPE type, char *buffer, int32_t size);
/* 4029 no match, 4019 bad type, 4028 bad pattern, 4001 no memory, then the
 * codes of zvdbDateCheck and zvdbDatePack. */
ZV_API ZVDBRET zvdbStringToDate(const char *text, ZVDATE_TYPE type, ZVDATE *out);
/* The parts; 0 when the date does not unpack. */
ZV_API int zvdbGetDay(ZVDATE date);
ZV_API int zvdbGetMonth(ZVDATE date);
ZV_API int zvdbGetYear(ZVDATE date);
ZV_API int zvdbIsLeapYear(ZVDATE date);
/* 0 Sunday .. 6 Saturday; -1 when the date does not unpack. */
ZV_API int zvdbDayOfWeek(ZVDATE date);
/* The session's default date type; 0 when the handle leads to no session. */
ZV_API ZVDATE_TYPE zvdbGetDefDateType(ZVHANDLE handle);
/* 4003 no session, 4028 type outside 1..6. */
ZV_API ZVDBRET zvdbSetDefDateType(ZVHANDLE handle, ZVDATE_TYPE type);
ZV_API ZVDBRET zvdbCurrentDate(ZVDATE *out);
/* Conversions by a caller-given format: not supported, 4054. */
ZV_API ZVDBRET zvdbStringFormatToDate(const char *text, const char *format, ZVDATE *out);
ZV_API ZVDBRET zvdbDateToStringFormat(ZVDATE date, const char *format, char *buffer,
                                      int32_t size);

/* ------------------------------------------------------------------------ */
/* Times: seconds since midnight, or milliseconds in the ...Msec routines.   */
/* ------------------------------------------------------------------------ */

/* 4034 hour above 23, 4035 minute above 59, 4036 second above 59 (negative
 * parts fail too). */
ZV_API ZVDBRET zvdbTimeCheck(int hour, int minute, int second);
/* As zvdbTimeCheck, then 4145 for ms above 999. */
ZV_API ZVDBRET zvdbTimeCheckMsec(int hour, int minute, int second, int ms);
ZV_API ZVDBRET zvdbTimePack(ZVTIME *out, int hour, int minute, int second);
ZV_API ZVDBRET zvdbTimePackMsec(ZVTIME *out, int hour, int minute, int second, int ms);
/* Each non-NULL output is written when the parts pass zvdbTimeCheck. */
ZV_API ZVDBRET zvdbTimeUnpack(ZVTIME time, int *hour, int *minute, int *second);
ZV_API ZVDBRET zvdbTimeUnpackMsec(ZVTIME time, int *hour, int *minute, int *second, int *ms);
/* Parts of a seconds value; -1 when it does not unpack. */
ZV_API int zvdbGetHour(ZVTIME time);
ZV_API int zvdbGetMinute(ZVTIME time);
ZV_API int zvdbGetSecond(ZVTIME time);
/* 4028 type outside 1..11, 4006 too small, split codes pass through. */
ZV_API ZVDBRET zvdbTimeToString(ZVTIME time, ZVTIME_TYPE type, char *buffer, int32_t size);
ZV_API ZVDBRET zvdbTimeMsecToString(ZVTIME time, ZVTIME_TYPE type, char *buffer, int32_t size);
/* 4028 bad type or pattern, 4033 no match, 4001 no memory, then the check's codes. */
ZV_API ZVDBRET zvdbStringToTime(const char *text, ZVTIME_TYPE type, ZVTIME *out);
ZV_API ZVDBRET zvdbStringToTimeMsec(const char *text, ZVTIME_TYPE type, ZVTIME *out);
/* The session's default time type; 0 when the handle leads to no session. */
ZV_API ZVTIME_TYPE zvdbGetDefTimeType(ZVHANDLE handle);
/* 4003 no session, 4019 type outside 1..11. */
ZV_API ZVDBRET zvdbSetDefTimeType(ZVHANDLE handle, ZVTIME_TYPE type);
ZV_API ZVDBRET zvdbCurrentTime(ZVTIME *out);
/* Conversions by a caller-given format: not supported, 4054. */
ZV_API ZVDBRET zvdbStringFormatToTime(const char *text, const char *format, ZVTIME *out);
ZV_API ZVDBRET zvdbTimeToStringFormat(ZVTIME time, const char *format, char *buffer,
                                      int32_t size);
ZV_API ZVDBRET zvdbTimeMsecToStringFormat(ZVTIME time, const char *format, char *buffer,
                                          int32_t size);
ZV_API ZVDBRET zvdbStringFormatToTimeMsec(const char *text, const char *format, ZVTIME *out);

/* ------------------------------------------------------------------------ */
/* Date-times.                                                               */
/* ------------------------------------------------------------------------ */

/* 4029 for a year before 1900; the date and time packing codes pass through. */
ZV_API ZVDBRET zvdbDateTimePack(ZVDATETIME *out, int year, int month, int day, int hour,
                                int minute, int second);
ZV_API ZVDBRET zvdbDateTimePackMsec(ZVDATETIME *out, int year, int month, int day, int hour,
                                    int minute, int second, int ms);
/* 4041 for 0.0; every output is optional. */
ZV_API ZVDBRET zvdbDateTimeUnpack(ZVDATETIME value, int *year, int *month, int *day,
                                  int *hour, int *minute, int *second);
ZV_API ZVDBRET zvdbDateTimeUnpackMsec(ZVDATETIME value, int *year, int *month, int *day,
                                      int *hour, int *minute, int *second, int *ms);
ZV_API ZVDBRET zvdbDateTimeGetDate(ZVDATETIME value, ZVDATE *out);
ZV_API ZVDBRET zvdbDateTimeGetTime(ZVDATETIME value, ZVTIME *out);
ZV_API ZVDBRET zvdbDateTimeGetTimeMsec(ZVDATETIME value, ZVTIME *out);
ZV_API ZVDBRET zvdbDateTimeSetDate(ZVDATETIME *value, ZVDATE date);
ZV_API ZVDBRET zvdbDateTimeSetTime(ZVDATETIME *value, ZVTIME time);
ZV_API ZVDBRET zvdbDateTimeSetTimeMsec(ZVDATETIME *value, ZVTIME time);
/* "date time" by the two types; 4041 for 0.0, 4006 too small. */
ZV_API ZVDBRET zvdbDateTimeToString(ZVDATETIME value, ZVDATE_TYPE datetype,
                                    ZVTIME_TYPE timetype, char *buffer, int32_t size);
/* Date and time, or a date alone (midnight); 4019 bad types, 4028 no match,
 * 4029 a time without a date. */
ZV_API ZVDBRET zvdbStringToDateTime(const char *text, ZVDATETIME *out, ZVDATE_TYPE datetype,
                                    ZVTIME_TYPE timetype);
/* Local date and time in whole seconds. */
ZV_API ZVDBRET zvdbCurrentDateTime(ZVDATETIME *out);
/* UTC date and time with milliseconds. */
ZV_API ZVDBRET zvdbCurrentDateTimeUTC(ZVDATETIME *out);
/* Microseconds since 1 January 1970 UTC. */
ZV_API ZVDBRET zvdbCurrentTimestamp(int64_t *out);
/* Conversions by a caller-given format: not supported, 4054. */
ZV_API ZVDBRET zvdbStringFormatToDateTime(const char *text, const char *format,
                                          ZVDATETIME *out);
ZV_API ZVDBRET zvdbDateTimeToStringFormat(ZVDATETIME value, const char *format, char *buffer,
                                          int32_t size);
/* 1 when the format's text order is chronological order, else 0. */
ZV_API int _zvdbDateTimeStringFormatSort(const char *format);

/* ------------------------------------------------------------------------ */
/* Regular-expression matcher.                                               */
/*   Syntax: alternatives "|" (or newline), pieces atom["*"|"+"|"?"], atoms  */
/*   "(...)" (groups 1..9), "^", "$", ".", "[set]", "[^set]", "\<", "\>",   */
/*   "\c" (c literally) and literal characters.                              */
/*   Errors: 1 NULL argument, 2 pattern too big, 3 no memory, 4 more than    */
/*   nine groups, 5 unmatched parenthesis, 6 trailing characters, 7 "*"/"+"  */
/*   of an operand that can be empty, 8 nested repetition, 9 bad range,     */
/*   10 missing "]", 11 repetition of nothing, 12 trailing backslash,        */
/*   13 not a compiled program, 14 corrupted program, 17 no match,           */
/*   18 group does not fit, 20 internal error.                               */
/* ------------------------------------------------------------------------ */

/* A new zeroed context; NULL when memory is short. */
ZV_API zvdb_regexp *zvdb_regnew(void);
/* Compiles the pattern into the context (releasing what it held); the error
 * number (0 on success). */
ZV_API int zvdb_regcomp(zvdb_regexp *context, const char *pattern);
/* Finds the first match in text and copies the whole match (group 0) and the
 * groups that matched a non-empty text. 0; 17 no match; 3 when a copy ran
 * out of memory; 1 for a NULL argument. */
ZV_API int zvdb_regexec(zvdb_regexp *context, const char *text);
/* Text of group n (0..9) of the last match; NULL when it has none. */
ZV_API const char *zvdb_regtext(const zvdb_regexp *context, int n);
/* The last error number; 1 for a NULL context. */
ZV_API int zvdb_regerror(const zvdb_regexp *context);
/* Releases the context and everything it holds; NULL is ignored. */
ZV_API void zvdb_regfree(zvdb_regexp *context);

/* ------------------------------------------------------------------------ */
/* Handles and the last result code.                                         */
/*                                                                           */
/* Handles form a tree: a database and a free table hang under a session, a  */
/* table under its database, a record under its table, an index and a field */
/* under their table, a segment under its index. Resolving a handle to an    */
/* owner makes the owning session's engine instance current, so that the     */
/* engine calls that follow act on the session's own instance; when that     */
/* switch fails its engine code (516, 517) becomes the session's last code   */
/* and the resolution gives NULL. A resource handle resolves through its     */
/* table.                                                                    */
/* ------------------------------------------------------------------------ */

/* The owner of the named kind that a handle leads to (the handle itself for
 * that kind); NULL for NULL, a handle of no known kind, a missing link or a
 * failed instance switch. */
ZV_API ZVHANDLE zvdbGetSessionHandle(ZVHANDLE handle);
ZV_API ZVHANDLE zvdbGetDatabaseHandle(ZVHANDLE handle);
ZV_API ZVHANDLE zvdbGetTableHandle(ZVHANDLE handle);
ZV_API ZVHANDLE zvdbGetIndexHandle(ZVHANDLE handle);
ZV_API ZVHANDLE zvdbGetFieldHandle(ZVHANDLE handle);
ZV_API ZVHANDLE zvdbGetSegmentHandle(ZVHANDLE handle);
ZV_API ZVHANDLE zvdbGetResultSetHandle(ZVHANDLE handle);
ZV_API ZVHANDLE zvdbGetResultSetCriHandle(ZVHANDLE handle);
ZV_API ZVHANDLE zvdbGetFTIHandle(ZVHANDLE handle);
ZV_API ZVHANDLE zvdbGetFTIDictHandle(ZVHANDLE handle);
/* The kind of a session, database, table, record, index, field, segment,
 * result-set or criterion handle; 0 for NULL and every other handle. Only
 * the 16-bit kind is read. */
ZV_API int zvdbGetHandleType(ZVHANDLE handle);
/* The kind of a session, database, table, record, index or field handle
 * (3505..3510); 0 for NULL and every other handle. */
ZV_API int _zvdbGetHandleId(ZVHANDLE handle);

/* Stores code as the last code of the handle's session: 0; 4002 for NULL,
 * 4003 when no session is reachable (nothing stored then). */
ZV_API ZVDBRET zvdbSetError(ZVHANDLE handle, ZVDBRET code);
/* The session's last code; 4002 for NULL, 4003 without session. */
ZV_API ZVDBRET zvdbGetError(ZVHANDLE handle);
/* Sets the session's last code to 0 (nothing for NULL or no session). */
ZV_API void zvdbClearError(ZVHANDLE handle);

/* A pointer-sized tag of the caller in each session, database, table,
 * record, index, field and segment handle (each its own). 4007 for a NULL
 * handle or output, 4004 for a handle of another kind (both also given to
 * zvdbSetError). Get clears *tag first. */
ZV_API ZVDBRET zvdbGetUserTag(ZVHANDLE handle, void **tag);
ZV_API ZVDBRET zvdbSetUserTag(ZVHANDLE handle, void *tag);
/* A second tag kept in session, database, table and record handles; an
 * index or field uses its table's, a segment its index's table's. Set: 0 or
 * 4090 (NULL, another kind, or no table reached); Get: the tag or NULL. */
ZV_API ZVDBRET zvdbSetLocalTag(ZVHANDLE handle, void *tag);
ZV_API void *zvdbGetLocalTag(ZVHANDLE handle);

/* Path prefix of a session: prepended to relative file names that the
 * record-level API opens and creates (the session dictionary's among them;
 * absolute names and names that begin with the prefix stay as they are).
 * With databases and tables made under relative paths, a prefix naming a
 * copy of their directory makes the session use the copy's files; paths
 * stored absolute keep naming the original's. Set keeps a copy (NULL
 * clears it): 0, 4003 no session, 4001 no memory. Get: the prefix, or
 * NULL. */
ZV_API ZVDBRET zvdbSetPathPrefix(ZVHANDLE handle, const char *prefix);
ZV_API ZVDBRET zvdbClearPathPrefix(ZVHANDLE handle);
ZV_API const char *zvdbGetPathPrefix(ZVHANDLE handle);

/* ------------------------------------------------------------------------ */
/* Sessions.                                                                 */
/*                                                                           */
/* A session is the root of a handle tree and owns one engine instance.      */
/* Types 0 and 1 register an instance of their own at allocation, named by   */
/* "%p" of the handle, and make it current; types 3 and 4 work in the        */
/* instance that is current. Types 1 and 4 are logon-only (no session        */
/* dictionary is opened); type 4 is stored as 1 with the shared flag.        */
/* Logon starts the ISAM layer in the session's instance with the five start */
/* parameters (buffers, files, sectors, data buffers, user profile; 10, 32,  */
/* 32, 10, 513 by default, each taken as a 16-bit value); the profile gets   */
/* bits 0x21 for that start (targets in key form, integer keys byte-reversed */
/* so that host-order values sort by value), the stored parameter stays as   */
/* set. Logout closes what is open and stops the ISAM layer; the instance    */
/* stays registered until the session is freed.                              */
/* ------------------------------------------------------------------------ */

/* Session type: 0, 1, 3 or 4 (see above). */
typedef int32_t ZVSESSION_TYPE;
/* Start parameter number, 1..5. */
typedef int32_t ZVSESSION_PARAM;

/* A new session; NULL for types 2, 5 and above (or negative), when memory is
 * short or its instance cannot be registered. */
ZV_API ZVHANDLE zvdbAllocSession(ZVSESSION_TYPE type);
/* Logs a logged-on session out, runs the end entry of its callback library
 * (leaving the library mapped), unregisters its instance and frees it with
 * everything below it: 0; 4002 NULL, 4003 no session. */
ZV_API ZVDBRET zvdbFreeSession(ZVHANDLE handle);
/* Logs on: the non-NULL credentials replace the stored ones (4001), the
 * ISAM layer starts (its code on failure, nothing left started), operation
 * bit 0x2000000 is turned on, the user-defined-function table is cleared,
 * and unless the session is logon-only the session dictionary (session path
 * + "zvdbdict") is opened, once more exclusively when a shared open fails
 * for another reason than another process's hold (the session is then
 * exclusive); a dictionary failure stops the engine again and is returned.
 * Only an exclusive session keeps the dictionary's files open until its
 * logout: another session opens them for each of its dictionary operations
 * (shared to read, exclusively to change; see "Between processes" below)
 * and holds nothing between them. A dictionary whose files a process left not closed
 * cleanly (killed, 14) is repaired by the open itself, its entries kept:
 * the superfile rebuild of its host when the host was left so, then the
 * rebuild of its table. The repair holds a lock of its own on the file
 * "zvdbdict.qsd.repair" beside the dictionary (made at the first repair and
 * kept, counting the repairs); a logon or connect of another process that
 * meets it waits for it, up to 10 seconds, and then opens the repaired
 * dictionary. The on-logon callback
 * (kind 25) then runs with the session; a nonzero result undoes the logon
 * and is returned. 4003 no session, 4011 logged on already; 12 no session
 * dictionary under the session path (zvdbCreateSession makes it), another
 * process held it (an exclusive session, or an operation or repair at work)
 * past the open's wait of 10 seconds (zvGetSystemErrorCode() 11, EAGAIN),
 * or the system refused to open the
 * dictionary's host read-write (its reason in zvGetSystemErrorCode(): 30
 * EROFS on a read-only file system, 13 EACCES without write permission;
 * the dictionaries open read-write only); 36 or 48 a file of the
 * dictionary's name that is no whole dictionary (no make of this library
 * leaves one: see zvdbCreateSession). */
ZV_API ZVDBRET zvdbLogon(ZVHANDLE handle, const char *server, const char *user,
                         const char *password);
/* Creates a new session dictionary (the engine started for the call and
 * stopped again; the credentials are not kept); the session stays logged
 * off. The dictionary is made whole under its name with "~zvnew" before
 * the extension ("zvdbdict~zvnew.qsd"), closed, and then takes its name by
 * a link (a plain dictionary's directory by a rename into a free name)
 * that replaces nothing: a kill at any moment leaves no dictionary under
 * the name, or a whole one. The next make drops what a killed make left
 * under the temporary name. The make holds its files from their creation
 * to its end; another process's make of the same dictionary at work is
 * waited for, up to 10 seconds. 4002, 4003, 4011, the start-up's and the
 * creation's codes: 17 the dictionary file cannot be created, as when the
 * session path names no existing directory (the call makes none); 19 a
 * session dictionary is there already (also one another process made
 * meanwhile); 12 another process's make of it is still at work after the
 * wait (the lock's system error in zvGetSystemErrorCode()). */
ZV_API ZVDBRET zvdbCreateSession(ZVHANDLE handle, const char *server, const char *user,
                                 const char *password);
/* Logs out (an attached session detaches): disconnects the databases,
 * closes the open tables, runs the on-logout callback (kind 26), resets the
 * session (credentials and session path NULL, start parameters and defaults
 * as allocated, lock mode 0) and stops the ISAM layer (its codes 127 and
 * 128 accepted). 4003, 4012 not logged on. */
ZV_API ZVDBRET zvdbLogout(ZVHANDLE handle);
/* Attaches a logged-off session (the handle itself) to an instance started
 * by another: mode 1 the instance of the session `source` with its
 * credentials and lock mode; mode 2 the instance named by `source` (a
 * text); mode 3 the current instance. The session is then logged on
 * without starting the engine (a session that is not logon-only opens its
 * dictionary; when that fails it keeps its own instance). transaction_active
 * sets the transaction flag. 4003, 4011, 4007 no source or no instance
 * name, 4100 other modes, the instance switch's code. */
ZV_API ZVDBRET zvdbAttachSession(ZVHANDLE handle, void *source, int mode, int transaction_active);
/* Detaches: the session is reset onto its own instance, logged off. 4003,
 * 4101 not attached, 4012 not logged on. */
ZV_API ZVDBRET zvdbDetachSession(ZVHANDLE handle);
/* The attach mode (0 not attached); 0 unless the handle is a session. */
ZV_API int zvdbGetAttachMode(ZVHANDLE handle);
/* Type 0, 1 or 4 (stored as 1, shared); logon-only follows the stored type.
 * 4084 for other types, 4003. The instance is not changed. */
ZV_API ZVDBRET zvdbSetSessionType(ZVHANDLE handle, ZVSESSION_TYPE type);
/* The stored type; 0 without session. */
ZV_API ZVSESSION_TYPE zvdbGetSessionType(ZVHANDLE handle);
/* Start parameter n (1..5); 0 for other n or without session. */
ZV_API int32_t zvdbGetSessionParams(ZVHANDLE handle, ZVSESSION_PARAM n);
/* Sets start parameter n for the next logon: 0; 4004 n outside 1..5 (kept
 * as the session's last code), 4002 NULL, 4003. */
ZV_API ZVDBRET zvdbSetSessionParams(ZVHANDLE handle, ZVSESSION_PARAM n, int32_t value);
/* The stored credentials; NULL without session or when cleared by logout. */
ZV_API const char *zvdbGetServerName(ZVHANDLE handle);
ZV_API const char *zvdbGetUserLogonName(ZVHANDLE handle);
ZV_API const char *zvdbGetUserPassword(ZVHANDLE handle);
/* 1 while logged on or attached; 0 otherwise or without session. */
ZV_API int zvdbIsActiveSession(ZVHANDLE handle);
/* Directory of the session dictionary; a copy is kept (NULL clears it).
 * 0, 4001, 4002, 4003. */
ZV_API ZVDBRET zvdbSetSessionPath(ZVHANDLE handle, const char *path);
/* The session path into buffer ("" when none): 0; 4004 NULL buffer, 4006
 * when it does not fit in size bytes, 4002, 4003. */
ZV_API ZVDBRET zvdbGetSessionPath(ZVHANDLE handle, char *buffer, int32_t size);
/* printf format of floats turned into text; NULL clears it. 0, 4001, 4003. */
ZV_API ZVDBRET zvdbSetDefFloatFormat(ZVHANDLE handle, const char *format);
/* The format, or "%g" when none is set (also without session). */
ZV_API const char *zvdbGetDefFloatFormat(ZVHANDLE handle);
/* Logon-only flag: 0, 4003; Get 0 without session. */
ZV_API ZVDBRET zvdbSetLogonOnly(ZVHANDLE handle, int flag);
ZV_API int zvdbGetLogonOnly(ZVHANDLE handle);
/* Whether the session dictionary is opened exclusively: 0, 4003. */
ZV_API ZVDBRET zvdbSetSessionExclusive(ZVHANDLE handle, int flag);
ZV_API int zvdbIsSessionExclusive(ZVHANDLE handle);
/* Transaction mode of dictionary creation (3 by default): 0, 4003. */
ZV_API ZVDBRET zvdbSetDictTranMode(ZVHANDLE handle, int mode);
/* Directory of temporary files, set while logged off: 0 (also for a NULL
 * handle, with nothing done); 4003, 4011 logged on, 4008 NULL path, 4001. */
ZV_API ZVDBRET zvdbSetTempPath(ZVHANDLE handle, const char *path);
/* Makes the session's instance current: 0, 4003. */
ZV_API ZVDBRET zvdbSwitchInstance(ZVHANDLE handle);
/* The engine's node-name call (SETNODE): its code; 4003, 4012. */
ZV_API ZVDBRET zvdbSetCurrentNodeName(ZVHANDLE handle, const char *name);

/* Databases listed in the session dictionary. First and next fill the name
 * (its length must be below namesize, else 4006) and the path (directory,
 * separator, file name and extension; 4006 unless it fits) of each entry,
 * 101 at the end; at least one buffer is needed (4007). Find needs the name
 * and the path buffer (4007), by UID the name and path buffers. Count: -1 on
 * failure. The dictionary's codes pass through. */
ZV_API ZVDBRET zvdbFirstDatabase(ZVHANDLE handle, char *name, int32_t namesize, char *path,
                                 int32_t pathsize);
ZV_API ZVDBRET zvdbNextDatabase(ZVHANDLE handle, char *name, int32_t namesize, char *path,
                                int32_t pathsize);
ZV_API ZVDBRET zvdbFindDatabase(ZVHANDLE handle, const char *name, char *path, int32_t pathsize);
ZV_API ZVDBRET zvdbFindDatabaseByUID(ZVHANDLE handle, uint32_t uid, char *name, int32_t namesize,
                                     char *path, int32_t pathsize);
ZV_API int32_t zvdbGetDatabaseCount(ZVHANDLE handle);
/* Connected databases of the session: first sets *index to 0, next adds 1;
 * the database there, or NULL (4003 no session, 4007 NULL index kept as
 * the last code). Find: by name, any letter case, or by dictionary UID. */
ZV_API ZVHANDLE zvdbGetFirstActiveDatabase(ZVHANDLE handle, int *index);
ZV_API ZVHANDLE zvdbGetNextActiveDatabase(ZVHANDLE handle, int *index);
ZV_API ZVHANDLE zvdbFindActiveDatabase(ZVHANDLE handle, const char *name);
ZV_API ZVHANDLE zvdbFindActiveDatabaseByUID(ZVHANDLE handle, uint32_t uid);

/* "ZarvoCore" into buffer: 0; 4006 for a size below 10, 4007 NULL buffer. */
ZV_API ZVDBRET zvdbGetProductName(ZVHANDLE handle, char *buffer, int32_t size);
/* The engine's version as text ("V0.01(0000)"): 0; 4006 for a size below
 * 40, 4007 NULL buffer, the configuration read's code. */
ZV_API ZVDBRET zvdbGetProductVersion(ZVHANDLE handle, char *buffer, int32_t size);
/* Item 186 of the configuration record (-1: no limit): 0, 4007, the read's code. */
ZV_API ZVDBRET zvdbGetMaxConnections(ZVHANDLE handle, int32_t *out);
/* Item 0..255 of the engine's configuration record (SYSCFG); 0 for another
 * item or a failing read. */
ZV_API int32_t zvdbGetSystemConfig(int item);
/* Local date and time of a logged-on session's engine; 0 on failure, the
 * code (4003, 4012, 4033, 0 on success) kept as the session's last code. */
ZV_API ZVDATETIME zvdbServerDateTime(ZVHANDLE handle);
/* Registers a table in a database's dictionary in a session of its own
 * (an instance "zvdbAddTableToDatabase" marks the call while it runs; the
 * caller's current instance is current again afterwards): the database is
 * first created when createdb is nonzero, the table's entry is dropped and
 * added again. reserved1 and reserved2 are not used. 0 or the first
 * failing code (518 while another such call runs, 82 no session). The call
 * needs no session of the caller, but the caller's sessions are opens of
 * the files it changes like any other: it fails with 12 (nothing written)
 * when it must register the database (createdb, the database not yet in
 * the dictionary) in the session dictionary of the current directory while
 * a session there (the caller's own included) is logged on, and when a
 * session there has changed that dictionary since its logon. While a
 * session has the database connected, the table's old entry cannot be
 * dropped and the add finds it there (4022). */
ZV_API ZVDBRET zvdbAddTableToDatabase(const char *dbname, const char *dbpath, const char *tablename,
                                      const char *tablepath, void *reserved1, void *reserved2,
                                      int createdb);
/* The engine's zvSETENCRYPT: cipher of the data and index files created
 * from now on. */
ZV_API ZVDBRET zvdbSETENCRYPT(const char *code, const char *key, int32_t keylen);

/* ------------------------------------------------------------------------ */
/* Databases and dictionaries.                                               */
/*                                                                           */
/* A session's catalogue is its session dictionary, the table "zvdbdict" in  */
/* the superfile host "zvdbdict.qsd" of the session path (or, outside a      */
/* superfile, the plain table "zvdbdict" in a directory of that name); it    */
/* lists the databases by name and path. Each database has a database        */
/* dictionary, the same table in "name.qdd" in the database's directory,     */
/* which lists its tables, indexes and full-text indexes, virtual tables and */
/* an SQL mark. Every entry has a UID unique within its dictionary. Names   */
/* are found in any letter case. Index names are unique per database: a      */
/* name another table's index holds is refused when an index is defined      */
/* (4093) and when it is registered (4051); an index entry whose table has   */
/* no entry is taken over.                                                   */
/*                                                                           */
/* Every call that changes a dictionary (making, adding, dropping, deleting, */
/* renaming or altering a database, table or index) has written its change  */
/* to the files when it answers 0: ZVFLUSH(-1), every changed page of every  */
/* open file of the instance with the superfile hosts' headers and           */
/* directories, without a sync (an addition whose writing fails is taken     */
/* back, and its code returned). A new table's files, with their stored      */
/* definition, reach their names before its entry. After a kill every        */
/* database and table a call acknowledged is found by its name, and opens    */
/* or is repaired as zvdbOpenTable says.                                     */
/*                                                                           */
/* A program's start-up code, run the same way at its first start and at     */
/* every start after it (also after a kill at any moment of an earlier one), */
/* in as many processes at once as a service starts: zvdbLogon, and on 12    */
/* zvdbCreateSession (0 or 19) then zvdbLogon again; zvdbConnect, and on 101 */
/* zvdbCreateDatabase (on 19 zvdbAddDatabase) then, on 0 or 4021,            */
/* zvdbConnect again; zvdbOpenTable, and on 4023 the table's definition,     */
/* zvdbCreateTable (on 19 zvdbAddTable) and, on 0 or 4022, zvdbOpenTable     */
/* again; on 14 or 413 zvdbOpenTable with open bit 4 and                     */
/* zvdbRebuildTable(table, 1); and on a 12 that still comes, every handle    */
/* freed and the whole code run again on new ones after a short pause, a     */
/* bounded number of times (README.md, "The start-up code").                 */
/*                                                                           */
/* Every dictionary operation takes the session lock (mode 2 to read, 4 to   */
/* change) and releases it before it returns: afterwards the session's lock  */
/* mode is 6 when it was 0 or 6, else what it was. 101 means not found or    */
/* the end of a walk.                                                        */
/*                                                                           */
/* Between processes: every dictionary operation opens the dictionary's      */
/* files (its superfile host, or the plain table's files) at its start and   */
/* closes them before it answers: shared to read, exclusively to change.     */
/* An open that another process's hold refuses waits for it, up to 10        */
/* seconds, and then answers 12 (zvGetSystemErrorCode() 11); it never        */
/* becomes exclusive for it. Between operations a logged-on session or a     */
/* connected database holds nothing, and its next operation reads what any   */
/* process wrote meanwhile (a walk with the first and next calls goes on     */
/* past the entry it stood on). The files stay open, holding the dictionary, */
/* from the open to the close for a session or database exclusive by its     */
/* flag, and for a database from the first open or make of a table in its    */
/* dictionary's own host ("shop.qdd!") until its disconnect: such a table    */
/* shares the host's open with the dictionary, and a change of either holds  */
/* the host (and with it the dictionary) alone until then.                   */
/* ------------------------------------------------------------------------ */

/* Entry types. A walk or count by a type that fits in 16 bits compares the
 * low 16 bits of the stored type (tables include virtual tables); a look-up
 * by name compares the whole type. */
typedef uint32_t ZVDBDICT_TYPE;
#define ZVDBDICT_DATABASE 1u       /* a database (session dictionary only) */
#define ZVDBDICT_TABLE 2u          /* a table */
#define ZVDBDICT_INDEX 3u          /* an index or full-text index */
#define ZVDBDICT_SQLMARK 5u        /* the SQL mark "$ZVDB_SQL_FLAG$" */
#define ZVDBDICT_VTABLE 0x10002u   /* a virtual (multi-record-type) table */

/* One entry as every read fills it and every write takes it. Texts end with
 * a zero byte. The mirror fields travel inside the stored path as
 * "path|mirrorpath/mirrorname.ext". */
typedef struct ZVDBDICTENTRY {
    uint32_t type;          /* ZVDBDICT_TYPE */
    uint32_t status;        /* 0 in use, 1 reserved */
    char name[129];         /* logical name */
    char physname[129];     /* file name (the name when none is stored) */
    char link[129];         /* owning or host table */
    uint32_t linknbr;       /* UID of the table named in link */
    char path[256];         /* directory of the files */
    char supext[17];        /* ".qdd" for a database whose dictionary is a superfile host */
    char datext[17];
    char idxext[17];
    uint32_t version;       /* 0x10000; the SQL mark keeps its version here */
    uint32_t counter;       /* number of a virtual table within its host */
    uint32_t uid;
    char owner[129];
    char mirrorname[129];
    char mirrorpath[256];
} ZVDBDICTENTRY;

#ifdef __cplusplus
#define ZV_DICT_ASSERT(c, m) static_assert(c, m)
#else
#define ZV_DICT_ASSERT(c, m) _Static_assert(c, m)
#endif
ZV_DICT_ASSERT(sizeof(ZVDBDICTENTRY) == 1236, "ZVDBDICTENTRY is 1236 bytes");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, name) == 8, "entry name at 8");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, physname) == 137, "entry physical name at 137");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, link) == 266, "entry link at 266");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, linknbr) == 396, "entry link number at 396");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, path) == 400, "entry path at 400");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, supext) == 656, "entry supext at 656");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, datext) == 673, "entry datext at 673");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, idxext) == 690, "entry idxext at 690");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, version) == 708, "entry version at 708");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, counter) == 712, "entry counter at 712");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, uid) == 716, "entry UID at 716");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, owner) == 720, "entry owner at 720");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, mirrorname) == 849, "entry mirror name at 849");
ZV_DICT_ASSERT(offsetof(ZVDBDICTENTRY, mirrorpath) == 978, "entry mirror path at 978");

/* A dictionary object (opaque): the session's, or a database handle's. */
struct ZVDBDICT;

/* Kinds 23 (after connect; its result is the connect's) and 24 (before
 * disconnect) are called with the database handle. */
typedef ZVDBRET (*ZVDB_DATABASE_CALLBACK)(ZVHANDLE database);

/* ---- Database handles ---- */

/* A new handle under the session, not connected (transaction mode 3, in
 * superfile 1, the session's callback words); NULL with 4001 or 4003 kept. */
ZV_API ZVHANDLE zvdbAllocDatabase(ZVHANDLE session);
/* Closes what is open below a connected handle, unlinks and frees it: 0;
 * 4010 not a database handle. */
ZV_API ZVDBRET zvdbFreeDatabase(ZVHANDLE database);
/* Connects to the database of that name in the session dictionary: opens
 * its dictionary (exclusively when the handle says so, or when a shared open
 * fails for another reason than another process's hold, which then makes
 * the handle exclusive; a handle not exclusive closes it again and opens
 * it for each operation, as "Between processes" above says), repairing it
 * as zvdbLogon repairs the session dictionary (its repair lock is "name.qdd.repair";
 * other connects wait for it as logons do). 4010, 4011 connected, 4003,
 * 4012 the session is not logged on (a failed logon leaves it logged off),
 * 4007 NULL name, 101 no such database (zvdbCreateDatabase makes it; when
 * that answers 19, zvdbAddDatabase registers the dictionary that is
 * there), 12 as for zvdbLogon, 14 a dictionary left not closed cleanly
 * whose repair failed, the dictionary's codes, the connect callback's
 * result (the handle stays connected). */
ZV_API ZVDBRET zvdbConnect(ZVHANDLE database, const char *name);
/* Runs the disconnect callback, closes the handle's tables and its
 * dictionary: 4003, 4010, 4012 not connected, the dictionary's close code
 * (the handle is disconnected then). */
ZV_API ZVDBRET zvdbDisconnect(ZVHANDLE database);
/* Disconnects every connected database of the session; the first failure
 * stops it. 4003. */
ZV_API ZVDBRET zvdbDisconnectAll(ZVHANDLE session);
/* Creates the dictionary directory/name.qdd (name reduced to its file-name
 * part; a trailing separator of the path dropped) and registers the
 * database in the session dictionary. The path is stored as given, and the
 * tables made in the database store it as their directory (unless given
 * one of their own, zvdbSetTablePath): a relative path is taken
 * from the process's current directory (or the session's path prefix) at
 * every open, an absolute one names the same files wherever the
 * dictionaries are copied. No file is made when the name is taken. The
 * dictionary is made as zvdbCreateSession makes the session's
 * ("name~zvnew.qdd" until it is whole), then the entry is added and
 * written to the files: a kill leaves no dictionary, a whole one without
 * its entry (the next make answers 19), or both. 4007 NULL name, 4043 a
 * name over 127 or a path over 254 characters, 4021 the name is taken,
 * 4003, 4025 the session's dictionary transaction mode is not 0, 1 or 3,
 * 19 a dictionary of that name is there (zvdbAddDatabase registers it;
 * also one another process made meanwhile, whose make at work is waited
 * for up to 10 seconds), 12 another process's make of it still at work
 * after the wait (the lock's system error kept), the dictionary's and
 * engine's codes. */
ZV_API ZVDBRET zvdbCreateDatabase(ZVHANDLE handle, const char *name, const char *path);
/* Registers an existing dictionary directory/name; one that a process left
 * not closed cleanly is repaired first, as at connect. 4012 session logged
 * off, 4007, 4043, 4094 it cannot be opened, 4021. */
ZV_API ZVDBRET zvdbAddDatabase(ZVHANDLE session, const char *name, const char *path);
/* Deletes the dictionary's files, then removes the entry: 4003, 4007, 4012,
 * 101 unknown (0 with the database handle's drop-delete option), the
 * engine's codes (the entry is kept after a failure). */
ZV_API ZVDBRET zvdbDeleteDatabase(ZVHANDLE session, const char *name);
/* Removes the entry only: 4003, 4007, 4012, 101. */
ZV_API ZVDBRET zvdbDropDatabase(ZVHANDLE session, const char *name);
/* The session-dictionary UID of a database: 4002, 4007, 101. */
ZV_API ZVDBRET zvdbGetDatabaseUID(ZVHANDLE session, const char *name, uint32_t *uid);
/* Of a connected database handle: 4010, 4007. */
ZV_API ZVDBRET zvdbGetActiveDatabaseUID(ZVHANDLE database, uint32_t *uid);
ZV_API int zvdbIsActiveDatabase(ZVHANDLE database);
/* The connected database's name and directory; NULL when not connected. */
ZV_API const char *zvdbGetDatabaseName(ZVHANDLE database);
ZV_API const char *zvdbGetDatabasePath(ZVHANDLE database);
ZV_API void *zvdbGetDatabaseObjptr(ZVHANDLE database);
ZV_API ZVDBRET zvdbSetDatabaseObjptr(ZVHANDLE database, void *object);
/* The default SQL table owner (a copy is kept): 4001, 4010. */
ZV_API const char *zvdbGetDefaultSqlTableOwner(ZVHANDLE database);
ZV_API ZVDBRET zvdbSetDefaultSqlTableOwner(ZVHANDLE database, const char *owner);
/* Always 0. */
ZV_API int zvdbIsSQLDatabase(ZVHANDLE database);
/* Open the dictionary exclusively at the next connect: 4010. */
ZV_API ZVDBRET zvdbSetDatabaseExclusive(ZVHANDLE database, int flag);
ZV_API int zvdbIsDatabaseExclusive(ZVHANDLE database);
/* From the dictionary's file mode at connect: 1 for 16, 3 for 48, else 0;
 * 4007 bad handle or NULL out. */
ZV_API ZVDBRET zvdbGetDatabaseTransactionMode(ZVHANDLE database, int32_t *mode);
/* With flag 1, deleting a virtual table also deletes its host: 4010. */
ZV_API ZVDBRET _zvdbSetDatabaseDropLastMRT(ZVHANDLE database, int flag);
/* With flag 1, dropping or deleting a table or database whose entry or
 * files are missing succeeds: 4010. */
ZV_API ZVDBRET _zvdbSetDatabaseDropDelOpt(ZVHANDLE database, int flag);
/* Whether new database dictionaries are superfile hosts, on a database
 * handle or else on the session: 0, 4003. */
ZV_API ZVDBRET zvdbSetDictInSuperfile(ZVHANDLE handle, int flag);
/* Position of the connected database (any letter case) in the session's
 * list, of an open table of the database in its list; -1 none. */
ZV_API int32_t _zvdbLocateDatabase(ZVHANDLE session, const char *name);
ZV_API int32_t _zvdbLocateTable(ZVHANDLE database, const char *name);

/* ---- Tables of a database ---- */

/* Table entries, virtual tables included: the name, and the file path
 * (directory, separator, physical name, data extension) into the buffers.
 * 4007 NULL name buffer, 4010, 4012, 4006, 101 at the end. */
ZV_API ZVDBRET zvdbFirstTable(ZVHANDLE handle, char *name, int32_t namesize, char *path, int32_t pathsize);
ZV_API ZVDBRET zvdbNextTable(ZVHANDLE handle, char *name, int32_t namesize, char *path, int32_t pathsize);
/* The file path of the table of that name: 4007, 4010, 4012, 4006, 101. */
ZV_API ZVDBRET zvdbFindTable(ZVHANDLE handle, const char *name, char *path, int32_t size);
/* By UID: 4023 the UID is not a table's. */
ZV_API ZVDBRET zvdbFindTableByUID(ZVHANDLE handle, uint32_t uid, char *name, int32_t namesize, char *path,
                                  int32_t pathsize);
/* Registers an existing data file under a logical name. The path is the
 * directory (NULL: the file name's directory) and may carry "|mirror path".
 * The database's extension hint says how the names are taken: 0 and 1 the
 * file-name parts of both, the extension from the file (hint 0: ".dat"
 * when it has none); 2 both as given, ".dat"; 3 the file as given, the
 * logical name's file-name part; 4 the logical name as given, the physical
 * name and extension from the file. Files that a process left not closed
 * cleanly (14), or in a superfile host left so (413), are registered as
 * they lie, their definition read through open bit 4: zvdbOpenTable then
 * answers 14 (413) until the table is repaired. Index entries that name
 * the table, or whose table has no entry, are left over from a kill (or a
 * failure) between a table's entries: they give their names up. 4007,
 * 4010, 4012, 4025 another hint, 4022 the name is taken, 4051 an index name
 * another table's index holds, the open's and dictionary's codes. */
ZV_API ZVDBRET zvdbAddTableXtd(ZVHANDLE handle, const char *name, const char *file, const char *path);
ZV_API ZVDBRET zvdbAddTable(ZVHANDLE handle, const char *name, const char *path);
/* Removes the entry with those of its indexes: 4007, 4010, 4011 open
 * through the handle, 4012, 4131 a host of virtual tables, 101 unknown (0
 * with the drop-delete option). */
ZV_API ZVDBRET zvdbDropTable(ZVHANDLE handle, const char *name);
/* Deletes the table's files (a virtual table: its host's resource), then
 * its entry; a failure keeps the entry, and a repeat with the drop-delete
 * option finishes what files are left. 4007, 4010, 4011 open, 4023 unknown
 * (0 with the option), the engine's codes. */
ZV_API ZVDBRET zvdbDeleteTable(ZVHANDLE handle, const char *name, const char *password);
/* Registers a virtual table over a host table: 4007, 4010, 4012, 4022,
 * 4023 no such host. */
ZV_API ZVDBRET zvdbAddMRTTable(ZVHANDLE database, const char *name, const char *host, int32_t number);
/* UID of a table entry: 4002, 4007, 101. */
ZV_API ZVDBRET zvdbGetTableUID(ZVHANDLE handle, const char *name, uint32_t *uid);
/* Number of table entries (virtual tables included); -1 on failure. */
ZV_API int32_t zvdbGetTableCount(ZVHANDLE handle);
/* UID of an index entry: 4002, 4007, 101 no such index. */
ZV_API ZVDBRET zvdbGetIndexUID(ZVHANDLE handle, const char *name, uint32_t *uid);
/* The entry's name (4006 unless it fits), and its directory, separator,
 * physical name and data extension (no separator after a directory ending
 * in '!' or the separator; no directory when it is empty): 0, 4006. */
ZV_API ZVDBRET _zvdbTableMakePath(const ZVDBDICTENTRY *entry, char *name, int32_t namesize, char *path,
                                  int32_t pathsize, int separator);
/* The directory of a table from its entry: 4010, 4012, 4006, 101. */
ZV_API ZVDBRET _zvdbGetTableDirectory(ZVHANDLE handle, const char *name, char *buffer, int32_t size);
/* A list of the virtual tables of a host: capacity entries, each with a
 * 128-byte name buffer; count may pass the capacity (the entries past it
 * are not written). */
typedef struct ZVDBVTENTRY {
    int32_t number;         /* number of the virtual table within its host */
    uint32_t kind;          /* 0x10000 for a multi-record-type table, else 0 */
    char *name;             /* 128 bytes */
} ZVDBVTENTRY;
typedef struct ZVDBVTINFO {
    ZVHANDLE table;         /* the host table */
    ZVDBVTENTRY *items;
    uint16_t capacity;
    uint16_t count;
} ZVDBVTINFO;
/* For each entry of the type linked to the host: its counter, kind and
 * (virtual tables) name into the next item while there is room; every one
 * is counted. 4007 NULL list or host, 4010, 4058, 4012. */
ZV_API ZVDBRET zvdbGetVTableInfoFromDict(ZVHANDLE database, const char *host, uint32_t type, ZVDBVTINFO *list);

/* ---- Open tables of a database ---- */

/* First sets *index to 0, next adds 1: the open table there, or NULL. */
ZV_API ZVHANDLE zvdbGetFirstActiveTable(ZVHANDLE database, int *index);
ZV_API ZVHANDLE zvdbGetNextActiveTable(ZVHANDLE database, int *index);
/* The open table of that name (any letter case), or NULL. */
ZV_API ZVHANDLE zvdbFindActiveTable(ZVHANDLE database, const char *name);
/* The open table of that UID; NULL with 4023 (4010 bad handle). */
ZV_API ZVHANDLE zvdbFindActiveTableByUID(ZVHANDLE database, uint32_t uid);
ZV_API ZVHANDLE zvdbGetActiveTableByUID(ZVHANDLE database, uint32_t uid);
/* The n-th open table; NULL for a negative n or no database. */
ZV_API ZVHANDLE zvdbGetTable(ZVHANDLE database, int32_t n);
/* Position of the table in its database's open list; -1. */
ZV_API int32_t zvdbGetTableNbr(ZVHANDLE table);

/* ---- Dictionary objects ----
 * Each takes the object first and keeps a failure as the session's last
 * code. 4007 NULL argument, 4003 no session, 4010 no database, 4058 no
 * dictionary object, 4012 not open, 4055 bad lock mode. */

/* A closed object of kind 1 (session dictionary) or 0 for the handle's
 * session; NULL with 4001 kept. */
ZV_API struct ZVDBDICT *_zvdbAllocDict(ZVHANDLE handle, int kind);
ZV_API ZVDBRET _zvdbFreeDict(struct ZVDBDICT *dict);
/* Creates the dictionary of name (path and base name, no extension): a
 * superfile host name.qsd (kind 1) or name.qdd holding "zvdbdict", or with
 * insuper 0 a directory of that name holding it; closed afterwards. 4025
 * for a dictionary transaction mode other than 0, 1, 3 (nothing made). */
ZV_API ZVDBRET _zvdbCreateDict(struct ZVDBDICT *dict, const char *name, int insuper);
/* Opens it (open mode 3 exclusive, else 0), first as a superfile member when
 * trysuper, falling back to the plain form when the host is a directory
 * (920 when neither is found; 12 with the system's reason in
 * zvGetSystemErrorCode() when the host is a file that does not open
 * read-write, such as EROFS); then moves the serial number past the
 * highest UID (4129 when that fails, the dictionary closed again). 4008.
 * Opened shared, the files are closed again before it answers: each lock
 * (below) opens them for its operation, and each routine called outside
 * one opens them shared until the next operation ends. An open that
 * another's hold refuses waits up to 10 seconds, then answers 12. */
ZV_API ZVDBRET _zvdbOpenDict(struct ZVDBDICT *dict, const char *name, int exclusive, int trysuper);
ZV_API ZVDBRET _zvdbReopenDict(struct ZVDBDICT *dict, int exclusive);
/* Closes the table, then the host, each whatever the other answers: 0
 * (also when not open), or the first close's failure. */
ZV_API ZVDBRET _zvdbCloseDict(struct ZVDBDICT *dict);
/* Closes it and deletes its files. */
ZV_API ZVDBRET _zvdbDeleteDict(struct ZVDBDICT *dict);
/* Mode 2 (read) or 4 (write) opens the files (shared, or exclusively to
 * write; a nested lock shares the outer one's open, reopening it
 * exclusively for a write inside a read) and takes the session lock; 0
 * releases, and the release of the outermost lock closes the files of a
 * dictionary opened shared. 4055; the open's code (12 past its wait). */
ZV_API ZVDBRET _zvdbLockDict(struct ZVDBDICT *dict, int mode);
ZV_API ZVDBRET _zvdbUnlockDict(struct ZVDBDICT *dict);
/* Positions on an entry: 101 none. */
ZV_API ZVDBRET _zvdbFindDict(struct ZVDBDICT *dict, uint32_t type, uint32_t status, const char *name);
ZV_API ZVDBRET _zvdbFindDictByUID(struct ZVDBDICT *dict, uint32_t uid);
ZV_API ZVDBRET _zvdbRemoveDict(struct ZVDBDICT *dict, uint32_t type, uint32_t status, const char *name);
ZV_API ZVDBRET _zvdbRemoveDictByUID(struct ZVDBDICT *dict, uint32_t uid);
/* Walks the entries of that type and status in name order: 101 at the end. */
ZV_API ZVDBRET _zvdbFirstDict(struct ZVDBDICT *dict, uint32_t type, uint32_t status);
ZV_API ZVDBRET _zvdbNextDict(struct ZVDBDICT *dict, uint32_t type, uint32_t status);
/* Number of such entries; 0 on failure. */
ZV_API int32_t _zvdbGetDictCount(struct ZVDBDICT *dict, uint32_t type, uint32_t status);
/* A set over the entries (type, status, link) in "DICTLINK" order, walked
 * with _zvdbFirstDict and _zvdbNextDict. */
ZV_API ZVDBRET _zvdbRecordSetByLinkOn(struct ZVDBDICT *dict, uint32_t type, uint32_t status, const char *link);
ZV_API ZVDBRET _zvdbRecordSetByLinkOff(struct ZVDBDICT *dict);
/* The current entry; the entry into the record (4137 a physical name other
 * than the name in a dictionary of the older structure). */
ZV_API ZVDBRET _zvdbGetDict(struct ZVDBDICT *dict, ZVDBDICTENTRY *entry);
ZV_API ZVDBRET _zvdbPutDict(struct ZVDBDICT *dict, const ZVDBDICTENTRY *entry);
/* The UID of the next new entry. */
ZV_API ZVDBRET _zvdbGetDictUID(struct ZVDBDICT *dict, uint32_t *uid);
/* Empties the record (a new entry); writes it (added, or rewritten when it
 * was read). */
ZV_API ZVDBRET _zvdbClearDict(struct ZVDBDICT *dict);
ZV_API ZVDBRET _zvdbWriteDict(struct ZVDBDICT *dict);
/* One header line, a rule of 181 '-', a line per entry in name order and a
 * rule, to an open stream (a FILE *). */
ZV_API ZVDBRET _zvdbDumpDictionary(void *stream, struct ZVDBDICT *dict);
/* Writes "zvdbdict.txt": the session dictionary, then the database
 * dictionary of the handle's database when it has one. */
ZV_API ZVDBRET _zvdbDumpDict(ZVHANDLE handle);
/* Brings the named database's dictionary to the current structure: the
 * database is connected exclusively, each missing field is inserted at its
 * place, each field of another type or length changed, each missing index
 * added, and the table altered (action 0x8000; its entries are copied into
 * the new structure). With checkonly nothing is changed and a difference
 * answers 4137. 0; 4003, 4007, the codes of zvdbConnect and
 * zvdbAlterTable. */
ZV_API ZVDBRET _zvdbUpdateDictStruct(ZVHANDLE handle, const char *database, int checkonly);

/* ---- Session dictionary entries (any handle of the session) ---- */

ZV_API ZVDBRET _zvdbDictAddDatabase(ZVHANDLE handle, const char *name, const char *path, int insuper);
ZV_API ZVDBRET _zvdbDictDropDatabase(ZVHANDLE handle, const char *name);
ZV_API ZVDBRET _zvdbDictFirstDatabase(ZVHANDLE handle, ZVDBDICTENTRY *entry);
ZV_API ZVDBRET _zvdbDictNextDatabase(ZVHANDLE handle, ZVDBDICTENTRY *entry);
ZV_API ZVDBRET _zvdbDictFindDatabase(ZVHANDLE handle, const char *name, ZVDBDICTENTRY *entry);
ZV_API ZVDBRET _zvdbDictFindDatabaseByUID(ZVHANDLE handle, uint32_t uid, ZVDBDICTENTRY *entry);
/* -1 on failure. */
ZV_API int32_t _zvdbDictGetDatabaseCount(ZVHANDLE handle);
ZV_API ZVDBRET _zvdbDictGetDatabaseUID(ZVHANDLE handle, const char *name, uint32_t *uid);

/* ---- Database dictionary entries (a database handle or below) ---- */

ZV_API ZVDBRET _zvdbDictFirstTable(ZVHANDLE handle, ZVDBDICTENTRY *entry);
ZV_API ZVDBRET _zvdbDictNextTable(ZVHANDLE handle, ZVDBDICTENTRY *entry);
/* A table, else a virtual table, of that name. */
ZV_API ZVDBRET _zvdbDictFindTable(ZVHANDLE handle, const char *name, ZVDBDICTENTRY *entry);
/* 4023 the UID is not a table's. */
ZV_API ZVDBRET _zvdbDictFindTableByUID(ZVHANDLE handle, uint32_t uid, ZVDBDICTENTRY *entry);
ZV_API int32_t _zvdbDictGetTableCount(ZVHANDLE handle);
ZV_API ZVDBRET _zvdbDictGetTableUID(ZVHANDLE handle, const char *name, uint32_t *uid);
/* The UID of the entry of that name, written as reserved when none exists. */
ZV_API ZVDBRET _zvdbDictReserveTable(ZVHANDLE handle, const char *name, const char *physname, uint32_t *uid);
ZV_API ZVDBRET _zvdbDictReserveIndex(ZVHANDLE handle, const char *name, uint32_t *uid);
/* Opens the table's files to register it with its indexes; a failure
 * leaves no entry. 4022 the name is taken, 4051 an index name is taken. */
ZV_API ZVDBRET _zvdbDictAddTable(ZVHANDLE database, const char *name, const char *physname, const char *path,
                                 const char *dataext, const char *mirrorname, const char *mirrorpath);
/* 4131 a host of virtual tables. */
ZV_API ZVDBRET _zvdbDictDropTable(ZVHANDLE handle, const char *name);
/* Renames a table entry (path too when given) with the links of its index
 * and virtual-table entries: 4007, 101. */
ZV_API ZVDBRET _zvdbDictMoveTable(ZVHANDLE handle, const char *oldname, const char *newpath, const char *newname,
                                  const char *newphysname);
/* Index n of the table: 4013, 4018, 4051 the name is taken. */
ZV_API ZVDBRET _zvdbDictAddIndex(ZVHANDLE table, int32_t n);
ZV_API ZVDBRET _zvdbDictAddAllIndex(ZVHANDLE table);
ZV_API ZVDBRET _zvdbDictAddFTI(ZVHANDLE table, const char *name);
/* Index entries of the table made to match its index handles. */
ZV_API ZVDBRET _zvdbDictUpdateIndex(ZVHANDLE table);
/* Renames an index entry in place, keeping its UID: 101, 4051. */
ZV_API ZVDBRET _zvdbDictUpdateIndexName(ZVHANDLE table, const char *newname, const char *oldname);
ZV_API ZVDBRET _zvdbDictDropIndex(ZVHANDLE handle, const char *name);
ZV_API ZVDBRET _zvdbDictDropAllIndex(ZVHANDLE handle, const char *table);
ZV_API ZVDBRET _zvdbDictFindIndex(ZVHANDLE handle, const char *name, ZVDBDICTENTRY *entry);
/* 4045 the UID is not an index's. */
ZV_API ZVDBRET _zvdbDictFindIndexByUID(ZVHANDLE handle, uint32_t uid, ZVDBDICTENTRY *entry);
/* Registers a virtual table (flag 0x10000) over the host: 4022, 4023. */
ZV_API ZVDBRET _zvdbDictAddVTable(ZVHANDLE database, const char *host, const char *name, int32_t number,
                                  uint32_t flag);
/* 4131 when a virtual table names the host, else 0. */
ZV_API ZVDBRET _zvdbDictCheckMRTTable(ZVHANDLE handle, const char *host);
/* The SQL mark: version 2 and up, newer than the stored one (4006 below 2,
 * 4025 not newer); its version, 0 without a mark. */
ZV_API ZVDBRET _zvdbDictMarkSQLDB(ZVHANDLE handle, int32_t version);
ZV_API int32_t _zvdbDictGetSQLDBVersion(ZVHANDLE handle);

/* ---- Merging one dictionary into another ----
 *
 * The entries of a source dictionary are merged into a destination
 * dictionary of the same kind (session into session, database into
 * database) by a plan: one action per entry of each side. Without a planner
 * the destination's entries are all deleted and the source's all added,
 * each keeping its UID; the destination's serial number is then set so that
 * its next UID is one above its highest. A merge that fails in execution or
 * in that last step puts the destination back as it was: what it added is
 * deleted, what it deleted or rewrote is written again with its UID.
 *
 * Messages: level 1 the public call's summary, 2 a failed stage, 3 a failing
 * step inside a stage; detail is NULL or the entry's name. */

/* A growable vector of pointers: count items in items[0..count-1]. */
typedef struct ZVDBLIST {
    int32_t capacity;       /* slots in items */
    int32_t count;          /* slots in use */
    void **items;
} ZVDBLIST;

/* Merge actions. */
#define ZVDB_MERGE_NONE 0u     /* fresh item, no action chosen */
#define ZVDB_MERGE_KEEP 1u     /* destination: leave the entry as it is */
#define ZVDB_MERGE_DELETE 2u   /* destination: delete the entry */
#define ZVDB_MERGE_REWRITE 3u  /* destination: rewrite the entry (found by UID) from the item */
#define ZVDB_MERGE_SKIP 4u     /* source: leave the entry out */
#define ZVDB_MERGE_ADD 5u      /* source: add the entry, with its UID, to the destination */

/* One item of the lists a planner receives (1240 bytes). */
typedef struct ZVDBMERGEITEM {
    ZVDBDICTENTRY entry;
    uint32_t action;        /* ZVDB_MERGE_* */
} ZVDBMERGEITEM;
ZV_DICT_ASSERT(sizeof(ZVDBMERGEITEM) == 1240, "ZVDBMERGEITEM is 1240 bytes");
ZV_DICT_ASSERT(offsetof(ZVDBMERGEITEM, action) == 1236, "merge action at 1236");

/* Called once with the source and the destination items (ZVDBMERGEITEM *),
 * each list in ascending UID order and every action 0: sets every action
 * and returns 0, or a code that stops the merge before anything changes. */
typedef ZVDBRET (*ZVDB_MERGE_PLANNER)(ZVDBLIST *source, ZVDBLIST *destination);
/* Receives a message of a failure: level, text, code, detail. */
typedef void (*ZVDB_MERGE_MESSAGE)(int level, const char *text, ZVDBRET code, const char *detail);

/* Merges the session dictionary of the source's session into that of the
 * destination's (planner and messages may be NULL). Both sessions must be
 * logged on with their dictionaries open exclusively. 4003 a handle leads
 * to no session, 4012 not logged on, 4084 not exclusive (refused before any
 * entry is read), 4025 a plan with a missing or wrong action or an entry
 * not found by UID, the planner's code, the dictionary's codes. A failure
 * is kept as both sessions' last code. */
ZV_API ZVDBRET zvdbMergeSessionDictionary(ZVHANDLE source, ZVHANDLE destination, ZVDB_MERGE_PLANNER planner,
                                          ZVDB_MERGE_MESSAGE messages);
/* The same for the dictionaries of two database handles (or handles below
 * them): 4010 not a database, or not connected exclusively; 4012 not
 * connected. */
ZV_API ZVDBRET zvdbMergeDatabaseDictionary(ZVHANDLE source, ZVHANDLE destination, ZVDB_MERGE_PLANNER planner,
                                           ZVDB_MERGE_MESSAGE messages);
/* The merge of two open dictionary objects, as above but without the
 * checks of the sessions or databases and without taking their locks: 4007,
 * 4012 an object not open. */
ZV_API ZVDBRET _zvdbMergeDictionary(struct ZVDBDICT *source, struct ZVDBDICT *destination,
                                    ZVDB_MERGE_PLANNER planner, ZVDB_MERGE_MESSAGE messages);

/* ------------------------------------------------------------------------ */
/* Transactions, save points and session locks.                              */
/*                                                                           */
/* This library has no transaction processing (zvdbGetLibType gives 128, bit */
/* 64 clear): begin, commit, abort and the save points keep only the         */
/* session's transaction flag and its list of files dropped inside a         */
/* transaction. Session locks set the ISAM lock mode of the session's        */
/* instance.                                                                 */
/* ------------------------------------------------------------------------ */

/* Session lock mode: 0 free; 1..4 locking on (variants); 5 variant 3
 * through the plain enable request; 6 suspend; 7..10 restore 1..4. */
typedef int32_t ZVLOCK_MODE;

/* 128: this library's type word. */
ZV_API int zvdbGetLibType(void);
/* Clear the transaction flag: 0, 4003 (commit and abort also forget the
 * dropped files without closing them). */
ZV_API ZVDBRET zvdbBegin(ZVHANDLE handle);
ZV_API ZVDBRET zvdbCommit(ZVHANDLE handle);
ZV_API ZVDBRET zvdbAbort(ZVHANDLE handle);
/* 0 while an engine transaction is open; else the flag is cleared, the lock
 * mode read again and the engine's 71 (or other code) kept and returned. */
ZV_API ZVDBRET zvdbPrepareCommit(ZVHANDLE handle);
/* 1 when the transaction flag is set. */
ZV_API int zvdbIsTransActive(ZVHANDLE handle);
/* No save point is made: 0. The current instance's pending engine code,
 * when nonzero, is kept as the session's last code (-1 without instance). */
ZV_API ZVDBRET zvdbSetSavePoint(ZVHANDLE handle);
/* 0; 4003 kept when no session is reachable. */
ZV_API ZVDBRET zvdbSetSingleSavePoint(ZVHANDLE handle);
/* 0; 4002 NULL, 4003. */
ZV_API ZVDBRET zvdbRestoreSavePoint(ZVHANDLE handle, int savepoint);
ZV_API ZVDBRET zvdbClearSavePoint(ZVHANDLE handle);
/* Sets the session lock mode: 0, 4003, 4055 mode outside 0..10, or the
 * engine's code (464 ISAM not started, 112 locks held), the stored mode then
 * unchanged. */
ZV_API ZVDBRET zvdbLock(ZVHANDLE handle, ZVLOCK_MODE mode);
/* zvdbLock(handle, 0). */
ZV_API ZVDBRET zvdbUnlock(ZVHANDLE handle);
/* The session lock mode that the engine's ISAM lock state stands for (-1
 * for a state without one); 0 without session. */
ZV_API ZVLOCK_MODE zvdbGetLockMode(ZVHANDLE handle);
/* 1 when that mode is 1..4. */
ZV_API int zvdbIsLockActive(ZVHANDLE handle);
/* Isolation level 1..3 (kept only): 0; 4003, 4012 not logged on, 4070
 * outside 0..3, 4054 level 0. Get: -1 until set or without session. */
ZV_API ZVDBRET zvdbSetTransactionIsolation(ZVHANDLE handle, int level);
ZV_API int zvdbGetTransactionIsolation(ZVHANDLE handle);
/* Kept for the caller: 0, 4003; Get 0 without session. */
ZV_API ZVDBRET zvdbSetKeepLock(ZVHANDLE handle, ZVKEEP_MODE mode);
ZV_API ZVKEEP_MODE zvdbGetKeepLock(ZVHANDLE handle);
/* Mode 0..31, kept for the caller: 0, 4003, 4004. */
ZV_API ZVDBRET zvdbSetTransactionMode(ZVHANDLE handle, ZVBEGIN_MODE mode);
ZV_API ZVBEGIN_MODE zvdbGetTransactionMode(ZVHANDLE handle);
/* The engine's operation-mode word (SETOPS): action 0 turns bits off, 2 on,
 * 3 only reads; the new word is cached in the session. 0, 4003, the
 * engine's code. Get: the cached word, read once from the engine. */
ZV_API ZVDBRET zvdbSetOperationState(ZVHANDLE handle, int32_t bits, int action);
ZV_API int32_t zvdbGetOperationState(ZVHANDLE handle);
/* Operation bit 0x40000. */
ZV_API ZVDBRET zvdbSetAutoCommit(ZVHANDLE handle, int on);
ZV_API int zvdbGetAutoCommit(ZVHANDLE handle);

/* ------------------------------------------------------------------------ */
/* Callbacks, callback libraries and user-defined functions.                 */
/*                                                                           */
/* Session, database, table and record handles keep one routine per         */
/* callback kind (0..26) they own: a session all 27, a database 0..24, a     */
/* table 0..22, a record 0..9. A kind a handle does not own climbs to its    */
/* owner (record -> table -> database -> session); index, field and segment  */
/* handles climb to their table. Kind 25 runs at logon and 26 at logout,     */
/* each with the session handle; the other kinds run at the operations that */
/* name them.                                                                */
/* ------------------------------------------------------------------------ */

/* Callback kind, 0..26. */
typedef int32_t ZVDB_CALLBACK_KIND;
/* A callback routine as stored; the operation that runs a kind calls it as
 * that kind's own type (kinds 25 and 26: ZVDB_SESSION_CALLBACK). */
typedef void (*ZVDB_CALLBACK)(void);
/* Kinds 25 and 26: called with the session; a nonzero result of kind 25
 * fails the logon. */
typedef ZVDBRET (*ZVDB_SESSION_CALLBACK)(ZVHANDLE session);
/* Entries of a callback library: "zvsqlSetCallback" is called with the
 * handle and argument given to zvdbLoadCallbackLib, "zvsqlEndCallback" with
 * the session and 0 when the library is unloaded. */
typedef int (*ZVDB_CBLIB_SET)(ZVHANDLE handle, void *argument);
typedef int (*ZVDB_CBLIB_END)(ZVHANDLE session, int reserved);

/* 0; 4090 NULL handle, a handle of another kind or a climb that ends at no
 * handle; 4091 kind outside 0..26. Not kept as the session's last code. */
ZV_API ZVDBRET zvdbSetCallback(ZVHANDLE handle, ZVDB_CALLBACK_KIND kind, ZVDB_CALLBACK routine);
/* The routine, or NULL; a table without database takes kinds 23 and up from
 * its session. */
ZV_API ZVDB_CALLBACK zvdbGetCallback(ZVHANDLE handle, ZVDB_CALLBACK_KIND kind);
ZV_API ZVDBRET zvdbClearCallback(ZVHANDLE handle, ZVDB_CALLBACK_KIND kind);
/* Clears every kind a session, database, table or record owns: 0, 4090. */
ZV_API ZVDBRET zvdbClearAllCallback(ZVHANDLE handle);
/* Stores the session's SQL callback and clears its state; the session
 * handle, or NULL when none is reachable. */
ZV_API ZVHANDLE zvdbSetSqlCallBack(ZVHANDLE handle, ZVDB_CALLBACK routine);
/* Loads a callback library into a logged-off session (immediate binding),
 * first unloading one loaded before. With initialise 1 its set entry runs
 * with (handle, argument); a nonzero result unloads it again and is
 * returned. 0; 4003, 4011 logged on, 4007 NULL path, 4091 not loadable. */
ZV_API ZVDBRET zvdbLoadCallbackLib(ZVHANDLE handle, const char *path, void *argument, int initialise);
/* Runs the end entry of an initialised library and, unless keep_mapped,
 * unloads it; the session forgets it in every case. 0; 4003, 4011. */
ZV_API ZVDBRET zvdbUnLoadCallbackLib(ZVHANDLE handle, int keep_mapped);
/* Registers a function that expressions parsed afterwards in the session's
 * instance can call (udfAdd of zvdbpt.h): its code (13 name taken, 5 no
 * memory); 4003. Logon clears the table, logout frees it. */
ZV_API ZVDBRET zvdbAddUserDefFunc(ZVHANDLE handle, const char *name, int resulttype, int argcount,
                                  const int *argtypes, void (*routine)(void **args, void *result));

/* ------------------------------------------------------------------------ */
/* Clocks and small utilities.                                               */
/* ------------------------------------------------------------------------ */

/* The local time now, split; every output is optional. 4033 when the split
 * fails (nothing written). */
ZV_API ZVDBRET _zvdbSysTime(int *year, int *month, int *day, int *hour, int *minute,
                            int *second);
/* The real-time clock; the clock call's result (0 on success), 4007 for NULL. */
ZV_API ZVDBRET _zvdbUnixTime(tagZVDBUNIXTIME *out);
/* Seconds since 1970 split in UTC; every output is optional; 4033 on failure. */
ZV_API ZVDBRET _zvdbUTCTime(int64_t seconds, int *year, int *month, int *day, int *hour,
                            int *minute, int *second);
/* Reverses text in place and returns it (NULL stays NULL). */
ZV_API char *_zvdb_strrev(char *text);

/* ------------------------------------------------------------------------ */
/* File-system routines.                                                     */
/*                                                                           */
/* Plain file operations for applications and the object layer. They take   */
/* no handle, need no session and keep no last code.                         */
/* ------------------------------------------------------------------------ */

/* Copies source to target, created as fopen's "w" creates (0666 less the
 * umask) or truncated, in blocks of 4096 bytes. 0; 4068 when either file
 * cannot be opened, or when a read fails, a write is short or the target
 * cannot be closed, and then no target is left behind; 4007 for NULL. A
 * target that is the source itself (same device and inode, as "a" and
 * "./a" or a hard link) is left alone: 0. */
ZV_API ZVDBRET zvdbCopyFile(const char *source, const char *target);
/* Removes a file: 0, 4015 when it cannot be removed, 4007 for NULL. */
ZV_API ZVDBRET zvdbDeleteFile(const char *name);
/* Moves source to target by zvdbCopyFile, then deletes source: the first
 * failing code. The source is deleted only after a complete copy. A target
 * that is the source itself: 0, nothing touched. */
ZV_API ZVDBRET zvdbRenameFile(const char *source, const char *target);
/* Creates a directory with permission bits 0777 less the umask: 0, 4067
 * when it cannot be created (an existing one included), 4007 for NULL. */
ZV_API ZVDBRET zvdbCreateDir(const char *path);

/* A directory search, owned by the caller. The directory text is kept in
 * text, and the full name of each entry tried is built behind it; the text
 * together with one entry name and its terminator must fit in 4096 bytes. */
typedef struct tagZVDBFINDFILE {
    void *dir;          /* directory stream; NULL when none is open */
    char entry[256];    /* name of the current entry */
    char text[4096];    /* directory text, then directory text and entry name */
} ZVDBFINDFILE;

/* Opens the directory and returns the name of its first entry that is not
 * a directory (its status read through symbolic links), or NULL. The
 * directory is given with its trailing "/", since entry names are appended
 * to it as they stand. Entries whose status cannot be read (a dangling
 * link) and entries whose full name would not fit are skipped. NULL also
 * for a NULL record or directory, a directory text without room for one
 * entry name, and a directory that cannot be opened. The name lives in the
 * record until the next call. */
ZV_API const char *zvdbFindFirstFile(ZVDBFINDFILE *find, const char *directory);
/* The next such entry, or NULL at the end (or without an open stream). */
ZV_API const char *zvdbFindNextFile(ZVDBFINDFILE *find);
/* Closes the record's stream: the close's result, 0 when none is open, -1
 * for NULL. */
ZV_API int zvdbFindClose(ZVDBFINDFILE *find);

/* Reduces a path: runs of "/" become one, "/./" becomes "/", a leading
 * "./" is dropped (with the "/" that follow it), and trailing "/" and "/."
 * go, but the first character always stays ("/" stays "/", "./" gives ""
 * and "/." is kept). ".." is not resolved. At most max characters of path
 * are read; out receives the result and its terminator (max + 1 bytes at
 * most). With lower nonzero letters become lower case. 0; 4007 for NULL,
 * 4004 for a negative max. */
ZV_API ZVDBRET _zvdbReducePath(const char *path, char *out, int32_t max, int lower);
/* strncmp of the two reduced paths over at most 255 characters; the second
 * form lower-cases both. NULL stands for "". */
ZV_API int _zvdbPathCmp(const char *a, const char *b);
ZV_API int _zvdbPathiCmp(const char *a, const char *b);

/* ------------------------------------------------------------------------ */
/* Services this library does not have.                                      */
/*                                                                           */
/* Servers, secure connections, impersonation, external configuration and   */
/* logs, full-text search and session ids are not part of this library.     */
/* Their entries stay callable and answer in a fixed way: arguments are     */
/* ignored, a NULL handle is accepted, and no session's last code changes   */
/* (zvdbGetSessionId aside).                                                 */
/* ------------------------------------------------------------------------ */

/* 4054. */
ZV_API ZVDBRET zvdbSetLocalDirectory(ZVHANDLE handle, const char *path);
ZV_API ZVDBRET zvdbSetSessionSSLParams(ZVHANDLE handle, const char *params);
ZV_API ZVDBRET zvdbSetSSL(ZVHANDLE handle, int on);
ZV_API ZVDBRET zvdbSyncTransactionState(ZVHANDLE handle);
ZV_API ZVDBRET zvdbSetConfigurationFile(const char *path);
ZV_API ZVDBRET zvdbBeginImpersonation(ZVHANDLE handle, int task);
ZV_API ZVDBRET zvdbEndImpersonation(ZVHANDLE handle);
ZV_API ZVDBRET zvdbSETENCRYPTParam(ZVHANDLE handle, const char *params);
ZV_API ZVDBRET zvdbSetLogPath(ZVHANDLE handle, const char *path);
ZV_API ZVDBRET zvdbSetStatusLogPath(ZVHANDLE handle, const char *path);
ZV_API ZVDBRET _zvdbMOVFTS(ZVHANDLE record, int mode);
/* 0: no, none, nothing done. */
ZV_API int zvdbIsSSLActive(ZVHANDLE handle);
ZV_API int zvdbIsSQLServer(ZVHANDLE handle);
ZV_API ZVDBRET zvdbStartDatabaseEngine(void);
ZV_API int32_t zvdbAcquireSessionId(ZVHANDLE handle);
ZV_API int32_t zvdbGetZarvoOWNER(void);
ZV_API int _zvdbAGGRLOCK(ZVHANDLE table, int mode);
/* Nothing. */
ZV_API void zvdbStopDatabaseEngine(void);
ZV_API void zvdbSetSessionId(ZVHANDLE handle, int32_t id);
ZV_API void zvdbSetZarvoOWNER(int32_t owner);
/* Returns id. */
ZV_API int32_t zvdbReleaseSessionId(int32_t id);
/* Asks the engine's snapshot service, which this library lacks (454): -1,
 * with the engine's 454 kept as the last code of the session the handle
 * leads to. */
ZV_API int32_t zvdbGetSessionId(ZVHANDLE handle);

/* A sample call through the library: appends the line
 * "zvdbHelloWorld: | HelloFileName={path} | HelloTextData={text} |
 * HelloNintData={integer} | HelloULongData={unsigned} |
 * HelloFloatData={real, six decimals}" to the file path (a NULL text is
 * written as ""). 0; -1 when the file cannot be opened or the line cannot
 * be written. */
ZV_API int zvdbHelloWorld(const char *path, const char *text, int integer, unsigned int value,
                          double real);


/* ------------------------------------------------------------------------ */
/* Tables, fields, indexes and segments: definitions.                        */
/*                                                                           */
/* A table handle hangs under a session (a free table) or a database. It     */
/* keeps an ordered list of field handles (record order) and of index        */
/* handles (index order); each index keeps an ordered list of key segments.  */
/* A segment covers a field (linked both ways with it) or a stretch of the   */
/* record given by offset and length (an extended segment). Nothing here     */
/* touches a file: creation turns the lists into engine definitions and open */
/* rebuilds them.                                                            */
/*                                                                           */
/* Every edit keeps change-status bits that alteration consumes:             */
/*   field    1 new, 2 deleted, 4 moved, 16 renamed, 32 type, 64 length,     */
/*            128 attributes (null flag, precision, scale, binary flag),     */
/*            0x100 made the identity field;                                 */
/*   index    1 new, 2 deleted, 16 key type, 32 empty character, 64          */
/*            duplicates, 128 null keys, 0x100 own file, 0x200 name, 0x400    */
/*            distinct-key counts;                                           */
/*   segment  1 new, 2 deleted, 4 moved, 16 mode, 32 field.                  */
/* A new item that is deleted goes away; an existing one stays listed with   */
/* bit 2. Unless said otherwise a failing call keeps its code as the         */
/* session's last code and returns it (or NULL, -1, 0 as stated).            */
/* ------------------------------------------------------------------------ */

/* A field type: one of the ZV_ codes of zvtypes.h. */
typedef int32_t ZVFIELDTYPE;

/* Field callback slots 0 (type), 1 (length) and 7 (segment mode) are called
 * as this type with the field handle, a pointer to the int32_t to fill and
 * two words 0; slot 8 with the field and the new segment handle as value,
 * when a segment with mode bit 0x400 is built on the field. A nonzero
 * result is a failure of the call that asked. Slots 2..6 belong to the
 * record layer. */
typedef ZVDBRET (*ZVDB_FIELD_CALLBACK)(ZVHANDLE field, void *value, intptr_t word1, intptr_t word2);

/* A superfile host descriptor (opaque). */
struct ZVDBSUPER;

/* Key-segment transform block: the engine's KSEGDEF (zarvo.h), 64 bytes. */
#define ZVDB_KSEG_SIZE 64

/* ---- Table handle and properties ---- */

/* A new closed table under the database or session the handle leads to:
 * name and physical name "table", path the database's ("" without one),
 * extensions ".dat" and ".idx", permission 6366, data file -1, the owner's
 * callback words; listed among the owner's children. NULL (4001 kept) when
 * memory is short or no session is reachable. */
ZV_API ZVHANDLE zvdbAllocTable(ZVHANDLE handle);
/* Frees the table with its fields, indexes, segments, full-text indexes,
 * strings and lists, and unlinks it from its owner; NULL always. */
ZV_API ZVHANDLE zvdbFreeTable(ZVHANDLE table);
/* The getters take any handle below the table; a handle that leads to no
 * table gives 0, NULL or -1. Strings are the table's own (not copies). */
ZV_API int zvdbIsActiveTable(ZVHANDLE table);
ZV_API const char *zvdbGetTableName(ZVHANDLE table);
ZV_API const char *zvdbGetTablePath(ZVHANDLE table);
ZV_API const char *zvdbGetTableExtension(ZVHANDLE table);
ZV_API const char *zvdbGetIndexExtension(ZVHANDLE table);
ZV_API const char *zvdbGetTablePassword(ZVHANDLE table);
ZV_API const char *zvdbGetTableGroupid(ZVHANDLE table);
ZV_API const char *zvdbGetTableOwner(ZVHANDLE table);
ZV_API int32_t zvdbGetTableIndexCount(ZVHANDLE table);
ZV_API int32_t zvdbGetTableFieldCount(ZVHANDLE table);
ZV_API uint32_t zvdbGetTableOpenMode(ZVHANDLE table);
ZV_API uint32_t zvdbGetTableCreateMode(ZVHANDLE table);
ZV_API uint32_t zvdbGetTableDefaultDataExtentSize(ZVHANDLE table);
ZV_API uint32_t zvdbGetTableDefaultIndexExtentSize(ZVHANDLE table);
ZV_API uint32_t zvdbGetTablePermission(ZVHANDLE table);
ZV_API void *zvdbGetTableObjptr(ZVHANDLE table);
/* Setters: 0, 4013 no table (kept on the handle given). */
ZV_API ZVDBRET zvdbSetTableObjptr(ZVHANDLE table, void *object);
/* The text before a '|' becomes the path, the text after it the mirror path
 * (cleared without a '|'); the caller's text is not changed. 4011 while
 * the table is active, 4007 NULL, 4001. */
ZV_API ZVDBRET zvdbSetTablePath(ZVHANDLE table, const char *path);
/* 4007 NULL, 4001. */
ZV_API ZVDBRET zvdbSetTableExtension(ZVHANDLE table, const char *extension);
/* NULL restores ".idx"; 4001. */
ZV_API ZVDBRET zvdbSetIndexExtension(ZVHANDLE table, const char *extension);
/* NULL clears; 4011 while active (not for the owner); 4001. */
ZV_API ZVDBRET zvdbSetTablePassword(ZVHANDLE table, const char *password);
ZV_API ZVDBRET zvdbSetTableGroupid(ZVHANDLE table, const char *groupid);
ZV_API ZVDBRET zvdbSetTableOwner(ZVHANDLE table, const char *owner);
ZV_API ZVDBRET zvdbSetTablePermission(ZVHANDLE table, uint32_t permission);
ZV_API ZVDBRET zvdbSetTableDefaultDataExtentSize(ZVHANDLE table, uint32_t size);
ZV_API ZVDBRET zvdbSetTableDefaultIndexExtentSize(ZVHANDLE table, uint32_t size);
/* Stores the create-mode bits used by the next creation. */
ZV_API ZVDBRET _zvdbSetCreateMode(ZVHANDLE table, uint32_t mode);
/* The table's dictionary UID into *uid: 0, 4007, 4013. */
ZV_API ZVDBRET zvdbGetActiveTableUID(ZVHANDLE table, uint32_t *uid);
/* The superfile host descriptor of which the table is a member (not owned).
 * Set: 4007 NULL, 4012 a descriptor whose host is not open. */
ZV_API struct ZVDBSUPER *zvdbGetTableSuperFile(ZVHANDLE table);
ZV_API ZVDBRET zvdbSetTableSuperFile(ZVHANDLE table, struct ZVDBSUPER *descriptor);
ZV_API ZVDBRET zvdbClearTableSuperFile(ZVHANDLE table);
/* Whether the open table's schema carries "$NULFLD$", "$DELFLD$", the
 * "$RECBYT$" index, "$ROWID$"; 0 without table. */
ZV_API int zvdbHasNullFieldSupport(ZVHANDLE table);
ZV_API int zvdbHasDelField(ZVHANDLE table);
ZV_API int zvdbHasRecbyt(ZVHANDLE table);
ZV_API int zvdbHasRowid(ZVHANDLE table);
/* Pad and field-delimiter bytes kept in the handle (outputs may be NULL). */
ZV_API ZVDBRET zvdbGetPadChar(ZVHANDLE table, unsigned char *pad, unsigned char *delimiter);
ZV_API ZVDBRET zvdbSetPadChar(ZVHANDLE table, unsigned char pad, unsigned char delimiter);
/* Writes both bytes into the table's "QV!DPAD" resource: rewritten when
 * present, added when absent (also on a file whose resources were never
 * enabled, which then answers the add with 401); the handle's bytes are
 * not changed. 4013, the engine's code of the read, add or rewrite. */
ZV_API ZVDBRET zvdbUpdatePadChar(ZVHANDLE table, unsigned char pad, unsigned char delimiter);
/* The engine's data file number of the open table; -1 with 4012 when it is
 * closed, -1 with 4013. */
ZV_API int zvdbGetDatno(ZVHANDLE table);
/* The engine file number of index n (or of the index of that name) of the
 * open table; -1 with the index lookup's code or 4012. */
ZV_API int zvdbGetIdxnoByNumber(ZVHANDLE table, int32_t n);
ZV_API int zvdbGetIdxnoByName(ZVHANDLE table, const char *name);
/* The table's type, recomputed: 1 a session-dictionary table, 2 the
 * "zvdbdict" table of a database dictionary, 3 another table inside a
 * database-dictionary host, 4 a user table; 0 for a closed table. */
ZV_API int zvdbGetTableType(ZVHANDLE table);
/* Progress of a rebuild under way; all bits set without table. */
ZV_API uint32_t zvdbGetRebuildProgress(ZVHANDLE table);
/* 1 when the table is a user table with a callback set in any slot. */
ZV_API int zvdbTableHasCallback(ZVHANDLE table);
/* Releases every record lock (every write lock) of the data file: the
 * engine's code; 4013 (not kept). */
ZV_API ZVDBRET zvdbUnlockTable(ZVHANDLE table);
ZV_API ZVDBRET zvdbUnlockTableWriteLocks(ZVHANDLE table);
/* Not supported: 4054. */
ZV_API ZVDBRET zvdbSetTableKSeg(ZVHANDLE table, void *block);
ZV_API ZVDBRET zvdbGetTableKSeg(ZVHANDLE table, void *block);
/* Conditional expression of an index of the open table, as the engine
 * keeps it. Length: with its terminator, -1 when it has none (4018 no
 * index, 4013, 4012 closed table, the engine's code). Get: the text into
 * buffer, "" and 0 when there is none; 4006 when it does not fit in size
 * bytes, 4007 NULL buffer. */
ZV_API int32_t zvdbGetCndxIndexLength(ZVHANDLE index);
ZV_API int32_t zvdbGetCndxIndexLengthByName(ZVHANDLE table, const char *name);
ZV_API ZVDBRET zvdbGetCndxIndex(ZVHANDLE index, char *buffer, int32_t size);
ZV_API ZVDBRET zvdbGetCndxIndexByName(ZVHANDLE table, const char *name, char *buffer, int32_t size);

/* ---- Table files: create, open, attach, close, remove ---- */

/* Table callbacks of open, attach and close (kinds 10..15, 18..20; kind 14
 * gets the number of fields as value, the others 0), called with the table.
 * They run for a user table not opened raw (open bits 0x20 and 0x100
 * together). A nonzero result fails the operation, except after the reads
 * of kinds 12, 13 and 18, where the result replaces the read's code (kept as
 * the table's last result), so that a callback can stand in for what a file
 * lacks. */
typedef ZVDBRET (*ZVDB_TABLE_CALLBACK)(ZVHANDLE table, int32_t value);

/* Makes the files of a closed table from its field and index handles and
 * leaves the handle closed and reset ("table", no fields, no indexes). The
 * name becomes the file name (text after a '|': the mirror's; the caller's
 * text is not changed). Create bits: 32 no "$RECBYT$" index, 64 no
 * "$ROWID$", 0x100 64-bit positions, 0x200 no "$DELFLD$", 0x400 no
 * "$NULFLD$", 0x1000 a 4-byte "$DELFLD$", 0x2000 an extended
 * variable-length file, 0x800 partitioned (a host whose records go to
 * member files by the partition rule on the key of the partition index:
 * see "Partitioned tables"); bits 1 and 2 give the files no mode. Bit
 * 0x8000 (a partitioned data file without partition index, which no member
 * could be chosen for) is refused with 4004 before any file is made. Bit 4
 * makes the data and index files write-through (the engine's file mode
 * 0x0040, kept in the files, so every later open has it): each record add,
 * rewrite and delete writes its pages and nodes to the files at once and
 * syncs the data file and its index files (fsync) before it returns; a
 * close then writes the files' clean marks without a further sync. Without
 * it changes wait in the caches (see "Flushing a table" below). A path
 * ending in '!' names a superfile host, made when missing.
 * The files are made under temporary names (each file's name with
 * "~zvnew" before its extension: "items~zvnew.dat", "items~zvnew.idx"),
 * written and closed, and then take their names by links that replace
 * nothing, the data file last; the entry in the database's dictionary
 * follows and is written to the files before the call answers. The make
 * holds its files (and a host it makes) from their creation to its end,
 * and another process's make of the same table at work is waited for, up
 * to 10 seconds: then the table is there (19) or made by this call. An
 * entry the dictionary refuses takes the files back, the data file's name
 * first (a host the make made goes whole with them; members of a host that
 * exists go back to their temporary names by the swap the other way, or
 * stay whole under their names while another process has the host open). A
 * kill at any moment, the take-back included, leaves no data file under
 * the table's name, or the whole set closed cleanly (the next make answers
 * 19: zvdbAddTable registers it); the next make drops what a killed make
 * left under the temporary names. A partitioned table is made so too. A superfile host the make makes is
 * made so ("kh~zvnew" for "kh!"), with the members in it, or empty when an
 * index has a file of its own in it; in a host that exists (the
 * database's dictionary host, under any spelling of its name, or one
 * another table was made in) the members are made under temporary member
 * names ("kh!items~zvnew.dat"), closed, and renamed to their names by the
 * engine's swap of members (SWPIFILX, with its note "kh!items.dat.swap"
 * beside the host), which the next open of the data member finishes or
 * drops after a kill. A host that a kill left not closed cleanly has its
 * superfile rebuild run first (its other tables then answer 14 until
 * their rebuild). A temporary or mirrored table, a partitioned one in a
 * host and one placed in a host by zvdbSetTableSuperFile are made under
 * their own names. A failure leaves no file and the handle with its
 * lists: a make tried again takes the handle as it stands, cleared
 * (zvdbDelIndex, zvdbDelField) and defined again, or a new handle; the
 * fields and indexes added again to the failed handle as it stands are
 * refused (zvdbAddField NULL with 4016, zvdbAddIndex NULL with 4051).
 * Index names are unique in the database (see "Databases and
 * dictionaries": 4051 for one registered meanwhile). 4013, 4007 NULL name, 4011 open, 4095 an index without segments,
 * 4012 the session is not logged on (a failed logon leaves it logged off)
 * or the table's database is not connected,
 * 4161 a row-id segment without "$ROWID$", 4146 a segment offset that
 * cannot be worked out, 4014 a segment field not in the schema, 4004 bad
 * partition settings (bit 0x800 without partition index or with one that
 * is not among the caller's indexes, bit 0x8000), 4025, 4001, 19 a file of
 * the data file's name is there (a member of its name; also a table
 * another process made meanwhile), 18 one of an index file's, 12 another
 * process's make of the same table is still at work after the wait,
 * another process has the superfile host open too (or holds it
 * exclusively), or another process's lock refuses the entry (each with
 * the refused lock's system error in zvGetSystemErrorCode()), the
 * dictionary's codes for a refused entry (4051 an index name another
 * table took), the engine's code (747 a partition rule that does not
 * parse; 414 a host whose open answers 413; the superfile rebuild's
 * codes). */
ZV_API ZVDBRET zvdbCreateTable(ZVHANDLE table, const char *name, uint32_t createmode);
/* Opens a free table by path (split into name and extension as the
 * table's extension hint says) or a table of a database by name, and
 * builds its field, index and segment handles from the files. Open bits:
 * 1 exclusive, 2, 4 files left unclosed, 8, 16, 32 read only, 64 through
 * the stored definition, 0x20|0x100 raw (no callbacks; a file without
 * schema gives one ZV_ARRAY field "rawfld"). A failure leaves the handle
 * closed: 4013, 4007, 4011 an open table (which is closed), 4004, 4023,
 * 4014, 4001, a callback's code, the engine's code (12 not found, or held
 * by another open as below; 14 left unclosed).
 *
 * Between processes (and between sessions of one process):
 *  - 0, shared: others open the table shared or read only and read it. A
 *    shared open changes the table only alone: an add, rewrite or delete
 *    fails with 12 (nothing written) while another open holds the table,
 *    and once it has changed the table, other opens fail with 12 until it
 *    is closed.
 *  - 1, exclusive: every other open fails with 12, read only included.
 *  - 32, read only: reads only (changes fail with 54); others open it as
 *    beside a shared open that has not changed it. With 32, bit 1 makes no
 *    exclusive open.
 *  - 4: a table whose last opener ended without closing it (a killed
 *    process) opens with 14 until it is rebuilt. Bit 4 opens it anyway,
 *    shared unless bit 1 is given, to read it or to rebuild it:
 *    zvdbOpenTable gives 14, zvdbOpenTable with bit 4 gives 0, then
 *    zvdbRebuildTable(table, 1) mends the files and reopens them without
 *    bit 4 (12 while another open holds the table; mode 1 also removes the
 *    second copy a moved record may have left, answering 650). Until then
 *    the files hold what the killed process had written when it ended: the
 *    records it still cached are gone, and a walk of an index it changed may fail
 *    with 519 (a node beyond the index file's recorded end) or 69 (a node
 *    of another index); with 32 as well (open bits 36) the recorded end is
 *    not checked, and such a walk may fail with 36 (a node past the file's
 *    end) or 69 instead. A table in a superfile host that was left not
 *    closed cleanly answers 413 without bit 4; with bit 4 (and without 32)
 *    the host gets its superfile rebuild first, unless another open holds
 *    it. That rebuild empties the index members of every table of the
 *    host until each is rebuilt: the table opened then answers 0 and
 *    zvdbRebuildTable(table, 1) restores it, and the host's other tables
 *    answer 14 until their own rebuild. */
ZV_API ZVDBRET zvdbOpenTable(ZVHANDLE table, const char *name, uint32_t openmode);
/* Opens the table of the database entry of that UID: 0 also when it is
 * open already; 4010 no database, 4023, codes as zvdbOpenTable. */
ZV_API ZVDBRET zvdbOpenTableByUID(ZVHANDLE table, uint32_t uid, uint32_t openmode);
/* Binds a free table to a data file the caller opened (datno), with its
 * schema and definition read from the file, or copied from count DATOBJ
 * entries and an IFIL when given. A failure leaves the table marked open
 * until it is detached: 4013, 4011, 4153 a table of a database, a
 * callback's code, the engine's code. */
struct DATOBJ;
struct IFIL;
ZV_API ZVDBRET zvdbAttachTableXtd(ZVHANDLE table, int datno, int32_t count, const struct DATOBJ *fields,
                                  const struct IFIL *ifil);
ZV_API ZVDBRET zvdbAttachTable(ZVHANDLE table, int datno);
/* Closes the files of an open table and resets the handle ("table", no
 * fields, no indexes); a closed table gives 0. A nonzero close callback
 * (kind 11) keeps the table open and is returned; so is an engine refusal
 * that left the data file open (817, 820). A close after which the files
 * are released leaves the handle closed and returns the first failure
 * (a lock release other than 26, the engine's close). */
ZV_API ZVDBRET zvdbCloseTable(ZVHANDLE table);
/* Flushing a table. The record level has no flush call of its own; the
 * engine's ZVFLUSH (zarvo.h) takes the open table's file numbers:
 * ZVFLUSH(zvdbGetDatno(table)) writes the data file's changed pages and
 * syncs it (fsync), ZVFLUSH(zvdbGetIdxnoByNumber(table, 0)) the same for
 * the index file of the table's indexes (ZVFLUSH(zvdbGetIdxno(index)) for
 * an index with a file of its own). ZVFLUSH(-1) writes every open file
 * without syncing any, and a close writes the table's files without
 * syncing them. A table in a superfile host is flushed only by
 * ZVFLUSH(-1) (a member answers 23). A table created with bit 4 needs no
 * flush: each change is synced as it is made. */

/* Closes every open table of a database: past the tables that ended
 * closed, the first failure is returned; it stops at one that stays open.
 * 0 without database. */
ZV_API ZVDBRET zvdbCloseAll(ZVHANDLE database);
/* Resets an attached (or open) table without closing its files: 4013, 4012
 * not open, the close callback's code, the lock release's code. */
ZV_API ZVDBRET zvdbDetachTable(ZVHANDLE table);
/* Deletes the files of a table (closing them first when it is open; a
 * failed delete reopens them): 4013, the engine's code. */
ZV_API ZVDBRET zvdbRemoveTable(ZVHANDLE table);

/* ---- Fields ---- */

/* The name of a type code ("ZV_INT4"); NULL for 231, 239 and unknown codes. */
ZV_API const char *_zvdbFieldTypeName(ZVFIELDTYPE type);
/* The length a type forces (1, 2, 4, 8 or 20), else length. */
ZV_API int32_t _zvdbFixFieldLength(ZVFIELDTYPE type, int32_t length);
/* 1 for "$DELFLD$", "$NULFLD$", "$RECBYT$" and "$ROWID$" in any case. */
ZV_API int _zvdbIsReservedName(const char *name);

/* A new unlisted field (status 1). NULL with 4001, 4013, 4007. */
ZV_API ZVHANDLE zvdbAllocField(ZVHANDLE table, const char *name, ZVFIELDTYPE type, int32_t length);
/* Frees a field: its name, default and segment list; a listed field first
 * leaves its table's list. */
ZV_API void zvdbFreeField(ZVHANDLE field);
/* A new field appended (inserted before position n, before the named
 * field). NULL with: 4013, 4007 NULL name, 4005 bad position, 4014 unknown
 * field name, 4136 reserved name and 4016 a name used already (any case;
 * both only while the table's reserved-name check is on), 4006 negative
 * length, 4043 a length above 255 (ZV_FPSTRING, ZV_PSTRING) or 65535,
 * 4001. The list is unchanged after a failure. */
ZV_API ZVHANDLE zvdbAddField(ZVHANDLE table, const char *name, ZVFIELDTYPE type, int32_t length);
ZV_API ZVHANDLE zvdbInsField(ZVHANDLE table, int32_t n, const char *name, ZVFIELDTYPE type,
                             int32_t length);
ZV_API ZVHANDLE zvdbInsFieldByName(ZVHANDLE table, const char *before, const char *name,
                                   ZVFIELDTYPE type, int32_t length);
/* Moves the field to position n (status 4): 0, 4017, 4013, 4014 not listed,
 * 4005. */
ZV_API ZVDBRET zvdbMoveField(ZVHANDLE field, int32_t n);
/* Field n: NULL with 4013, 4005. */
ZV_API ZVHANDLE zvdbGetField(ZVHANDLE table, int32_t n);
/* By name, any letter case: NULL with 4013, 4014. */
ZV_API ZVHANDLE zvdbGetFieldByName(ZVHANDLE table, const char *name);
/* Position of the named field; -1 with 4013, 4007, 4014. */
ZV_API int32_t zvdbGetFieldNumber(ZVHANDLE table, const char *name);
/* Position of the field in its table's list; -1 (nothing kept). */
ZV_API int32_t zvdbGetFieldNbr(ZVHANDLE field);
/* Deletes field n: first every segment built on it, then a new field goes
 * away and an existing one is marked 2; an identity field stops being one.
 * 4013, 4005, a segment deletion's code. */
ZV_API ZVDBRET zvdbDelField(ZVHANDLE table, int32_t n);
ZV_API ZVDBRET zvdbDelFieldByName(ZVHANDLE table, const char *name);
/* Name, type and length (each output optional; type and length through
 * callback slots 0 and 1 when set): 0, 4017, a callback's code. */
ZV_API ZVDBRET zvdbGetFieldProperties(ZVHANDLE field, const char **name, ZVFIELDTYPE *type,
                                      int32_t *length);
/* Renames (name not NULL and different in more than letter case), retypes
 * (type not 0 and different), then sets the length normalised by the type
 * given. 4017, 4013, 4016, 4001, 4006, 4043; nothing changes on failure. */
ZV_API ZVDBRET zvdbSetFieldProperties(ZVHANDLE field, const char *name, ZVFIELDTYPE type,
                                      int32_t length);
ZV_API const char *zvdbGetFieldName(ZVHANDLE field);
/* The type (callback slot 0 when set); 0 for a bad handle or a failing
 * callback. */
ZV_API ZVFIELDTYPE zvdbGetFieldType(ZVHANDLE field);
/* The length (callback slot 1 when set); -1 for a bad handle or a failing
 * callback. */
ZV_API int32_t zvdbGetFieldLength(ZVHANDLE field);
/* The stored length and type, without callbacks; -1 and 0 for a bad
 * handle. */
ZV_API int32_t _zvdbGetPhysicalFieldLength(ZVHANDLE field);
ZV_API ZVFIELDTYPE _zvdbGetPhysicalFieldType(ZVHANDLE field);
/* Returned, not kept: rename (status 16; 4017, 4007, 4016, 4001); retype
 * (status 32, length normalised again; 4017); length (status 64 when it
 * changes; 4017, 4006, 4043). */
ZV_API ZVDBRET zvdbSetFieldName(ZVHANDLE field, const char *name);
ZV_API ZVDBRET zvdbSetFieldType(ZVHANDLE field, ZVFIELDTYPE type);
ZV_API ZVDBRET zvdbSetFieldLength(ZVHANDLE field, int32_t length);
/* Attributes; each set marks 128 (4017). Precision and scale: 4039
 * negative, 4038 above 32767; read back a stored value above 0, else the
 * type's default (precision 32 ZV_NUMBER, 19 ZV_CURRENCY, 10 ZV_MONEY, the
 * length otherwise; scale 4 ZV_CURRENCY, 2 ZV_MONEY, 0 otherwise). The
 * getters give -1 for a bad handle. */
ZV_API int zvdbGetFieldNullFlag(ZVHANDLE field);
ZV_API ZVDBRET zvdbSetFieldNullFlag(ZVHANDLE field, int flag);
ZV_API int32_t zvdbGetFieldPrecision(ZVHANDLE field);
ZV_API ZVDBRET zvdbSetFieldPrecision(ZVHANDLE field, int32_t precision);
ZV_API int32_t zvdbGetFieldScale(ZVHANDLE field);
ZV_API ZVDBRET zvdbSetFieldScale(ZVHANDLE field, int32_t scale);
/* Binary flag 0..17 (1 for a new field): how the record layer treats string
 * and array content. Set marks 128 when the value changes; returned, not
 * kept: 4017, 4004 outside 0..17. Get: -1 for a bad handle. */
ZV_API int32_t zvdbGetFieldBinaryFlag(ZVHANDLE field);
ZV_API ZVDBRET zvdbSetFieldBinaryFlag(ZVHANDLE field, int32_t flag);
ZV_API int32_t zvdbGetBinaryFlag(ZVHANDLE table, int32_t n);
ZV_API ZVDBRET zvdbSetBinaryFlag(ZVHANDLE table, int32_t n, int32_t flag);
ZV_API uint32_t zvdbGetFieldStatus(ZVHANDLE field);
/* 1 for the numeric types (integers, money, date, time, floats, number,
 * date-times, currency). */
ZV_API int zvdbIsFieldNumeric(ZVHANDLE field);
/* Stores a routine in slot 0..8: 0; returned, not kept: 4090 not a field
 * handle, 4091 another slot. */
ZV_API ZVDBRET zvdbSetFieldCallback(ZVHANDLE field, int slot, ZVDB_CALLBACK routine);
/* Virtual fields are not supported: NULL and 4054 kept; 4054. */
ZV_API ZVHANDLE zvdbAddVirtualField(ZVHANDLE table, const char *name, ZVFIELDTYPE type, int32_t length);
ZV_API ZVDBRET zvdbSetVirtualFieldClear(ZVHANDLE table, int flag);

/* Defaults. Kinds: 0 none, 1 literal bytes, 2 the user's logon name, 3 NULL,
 * 4..6 the current date and time. The table counts its defaulted fields. */
/* A copy of length bytes, kind 1: 4017, 4013, 4007 NULL bytes, 4004 length
 * below 1, 4001. */
ZV_API ZVDBRET zvdbSetFieldDefaultValue(ZVHANDLE field, const void *bytes, int32_t length);
/* The stored bytes and their count when the kind is not 0, else NULL
 * (4017). */
ZV_API const void *zvdbGetFieldDefaultValue(ZVHANDLE field, int32_t *length);
/* A kind other than 1 drops the stored bytes: 4017, 4013, 4004 kind 0. */
ZV_API ZVDBRET zvdbSetFieldDefaultValueType(ZVHANDLE field, int32_t kind);
ZV_API int32_t zvdbGetFieldDefaultValueType(ZVHANDLE field);
/* Text forms of a date or time default: 4017. The getters give 1 and 3
 * for a bad handle. */
ZV_API ZVDBRET zvdbSetFieldDefaultDateTimeType(ZVHANDLE field, ZVDATE_TYPE datetype,
                                               ZVTIME_TYPE timetype);
ZV_API ZVDATE_TYPE zvdbGetFieldDefaultDateType(ZVHANDLE field);
ZV_API ZVTIME_TYPE zvdbGetFieldDefaultTimeType(ZVHANDLE field);
ZV_API int zvdbIsFieldDefaultValueSet(ZVHANDLE field);
/* 4017, 4013. ClearAll stops at the first failure. */
ZV_API ZVDBRET zvdbClearFieldDefaultValue(ZVHANDLE field);
ZV_API ZVDBRET zvdbClearAllFieldDefaultValue(ZVHANDLE table);
/* The default as the bytes the field holds in a record buffer. *size is the
 * buffer's size and becomes the byte count; a NULL buffer with *size 0
 * asks the size. A literal's text is its bytes without a last zero byte.
 * 4017; 4008 NULL size, or NULL buffer with a nonzero size; 4006 a buffer
 * too small (*size the size needed); 4054 kind 0 or unknown, or a type
 * without a default form; 4042 a boolean text other than TRUE, YES, 1,
 * FALSE, NO, 0; 4038 a float out of range, a prefixed text of 256 x its
 * prefix width or more, or more bytes than a fixed-length text field
 * holds; the value parsers' codes. Kind 3 gives *size 0. */
ZV_API ZVDBRET zvdbGetFieldDefaultValueAsBinary(ZVHANDLE field, void *buffer, int32_t *size);

/* ---- Indexes ---- */

/* A new unlisted index (status 1): 4013, 4001. */
ZV_API ZVHANDLE zvdbAllocIndex(ZVHANDLE table);
/* Frees an index with its segments; a listed index first leaves its
 * table's list. */
ZV_API void zvdbFreeIndex(ZVHANDLE index);
/* A new index appended. With duplicates its key length starts at the
 * suffix: 8 on an active table created with mode bit 0x100, else 4. NULL
 * with 4013, 4136 reserved name (always), 4053 NULL or empty name, 4051 a
 * name used already (any case), 4001. */
ZV_API ZVHANDLE zvdbAddIndex(ZVHANDLE table, const char *name, int32_t keytype, int dupflag,
                             int nullflag);
/* Deletes index n: a new index goes away (its segments leave their fields),
 * an existing one is marked 2. 4013, 4005, 4064 "$RECBYT$", 4065 "$ROWID$". */
ZV_API ZVDBRET zvdbDelIndex(ZVHANDLE table, int32_t n);
/* Index n; 10003 the partition index. NULL with 4013, 4005. */
ZV_API ZVHANDLE zvdbGetIndex(ZVHANDLE table, int32_t n);
/* As zvdbGetIndex; with hidden set, 10000 gives the "$RECBYT$" index and
 * 10001 the "$ROWID$" index (4045 when absent). */
ZV_API ZVHANDLE _zvdbGetIndex(ZVHANDLE table, int32_t n, int hidden);
/* By name, any letter case: NULL / -1 with 4013, 4007, 4045. */
ZV_API ZVHANDLE zvdbGetIndexByName(ZVHANDLE table, const char *name);
ZV_API int32_t zvdbGetIndexNbrByName(ZVHANDLE table, const char *name);
/* Position of the index in its table's list: 0, 4018, 4013, 4007, 4045. */
ZV_API ZVDBRET zvdbGetIndexNbr(ZVHANDLE index, int32_t *n);
/* The index of an active table with that dictionary UID; NULL with 4045. */
ZV_API ZVHANDLE zvdbGetIndexByUID(ZVHANDLE table, uint32_t uid);
ZV_API const char *zvdbGetIndexName(ZVHANDLE index);
/* Renames (status 0x200): 4018, 4007, 4004 empty, 4051 used by another
 * index, 4001. */
ZV_API ZVDBRET zvdbSetIndexName(ZVHANDLE index, const char *name);
ZV_API const char *zvdbGetIndexFilename(ZVHANDLE index);
/* Gives the index a file of its own: directory path (the table's path when
 * only name is given) joined with name (the table's physical name when
 * NULL) and the table's index extension; status 0x100. Both NULL: back to
 * the table's index file, 0. 4018, 4013, 4001 (no own file then). */
ZV_API ZVDBRET zvdbSetIndexFilename(ZVHANDLE index, const char *path, const char *name);
/* -1 with 4018. */
ZV_API int32_t zvdbGetIndexSegmentCount(ZVHANDLE index);
ZV_API int32_t zvdbGetIndexKeyLength(ZVHANDLE index);
/* Key type: bits within 0x100EC (4019 others); status 16 when it changes.
 * 0x7FFFFFFF for a bad handle. */
ZV_API int32_t zvdbGetIndexKeyType(ZVHANDLE index);
ZV_API ZVDBRET zvdbSetIndexKeyType(ZVHANDLE index, int32_t keytype);
/* Empty character: status 32 when it changes; 0x7FFFFFFF for a bad handle. */
ZV_API int32_t zvdbGetIndexEmptyChar(ZVHANDLE index);
ZV_API ZVDBRET zvdbSetIndexEmptyChar(ZVHANDLE index, int32_t value);
/* Duplicates: on adds the suffix to the key length, off takes away the
 * suffix it had and the distinct-key-count flag; status 64. 4018, 4013. */
ZV_API int zvdbGetIndexDuplicateFlag(ZVHANDLE index);
ZV_API ZVDBRET zvdbSetIndexDuplicateFlag(ZVHANDLE index, int flag);
/* Null keys: status 128 when it changes. 4018. */
ZV_API int zvdbGetIndexNullFlag(ZVHANDLE index);
ZV_API ZVDBRET zvdbSetIndexNullFlag(ZVHANDLE index, int flag);
/* Temporary index: read once from the engine's file mode of an open index
 * (bit 32), 0 for a new index or a closed table. Set keeps the flag. */
ZV_API int zvdbGetIndexTemporaryFlag(ZVHANDLE index);
ZV_API ZVDBRET zvdbSetIndexTemporaryFlag(ZVHANDLE index, int flag);
/* Distinct-key counts: status 0x400 when it changes, and for 0 on 0 when
 * the engine definition keeps counts (ikeydup 3, 4 or 5). 4018, 4013. */
ZV_API int zvdbGetIndexDistinctKeyCountFlag(ZVHANDLE index);
ZV_API ZVDBRET zvdbSetIndexDistinctKeyCountFlag(ZVHANDLE index, int flag);
ZV_API uint32_t zvdbGetIndexStatus(ZVHANDLE index);
/* Keeps a copy of the conditional expression for the next creation (NULL
 * keeps ""): 4018, 4001. */
ZV_API ZVDBRET zvdbSetIndexCndxExpr(ZVHANDLE index, const char *text);
/* The engine's file number of the index; -1 with 4018, 4012 closed table. */
ZV_API int zvdbGetIdxno(ZVHANDLE index);
/* The key type of the index's engine definition (0 kept); -1 with 4018,
 * 4025 no definition. */
ZV_API int32_t _zvdbGetIndexikeytyp(ZVHANDLE index);
/* The engine's estimate of distinct keys into *count: with capacity 0 the
 * whole index, else also up to capacity 16-byte entries, one per
 * leading-segment prefix, and their number into *levels. 0; 4018, 4007 NULL
 * count, the engine's code; -1 without instance. */
ZV_API ZVDBRET zvdbEstimateNumberOfDistinctKeyEntries(ZVHANDLE index, int32_t capacity, void *entries,
                                                      int32_t *levels, uint64_t *count);
/* The 120-byte background-load status of the table's data file: 0, 4013,
 * 4012, 4007, 4165 none, the engine's code. */
ZV_API ZVDBRET zvdbCheckIndexBackgroundLoad(ZVHANDLE table, void *status);
/* Not supported: 4054. */
ZV_API ZVDBRET zvdbSetIndexKSeg(ZVHANDLE index, void *block);
ZV_API ZVDBRET zvdbGetIndexKSeg(ZVHANDLE index, void *block);

/* ---- Segments ---- */

/* 1 for the modes of extended segments: 256, or low four bits 0..5, 8..11. */
ZV_API int zvdbIsExtSegment(int32_t mode);
/* A new unlisted segment (mode 12, status 1): 4018, 4001. */
ZV_API ZVHANDLE zvdbAllocSegment(ZVHANDLE index);
/* Frees a segment; a listed one first leaves its index (with its key
 * bytes) and its field's list. */
ZV_API void zvdbFreeSegment(ZVHANDLE segment);
/* A field segment appended (inserted before position n): the mode is
 * checked against the field's type (callback slot 0 may report the type,
 * slot 7 the mode) unless the table is temporary, slot 8 runs for mode bit
 * 0x400, and the key length grows by the field's length. NULL with 4018,
 * 4017 bad field (4014 for an insert), 4014 a field of another table, 4054
 * a ZV_JSON field, 4005, 4047 mode refused, a callback's code, 4001. */
ZV_API ZVHANDLE zvdbAddSegment(ZVHANDLE index, ZVHANDLE field, int32_t mode);
ZV_API ZVHANDLE zvdbAddSegmentByNbr(ZVHANDLE table, int32_t index, int32_t field, int32_t mode);
ZV_API ZVHANDLE zvdbAddSegmentByName(ZVHANDLE table, int32_t index, const char *field, int32_t mode);
ZV_API ZVHANDLE zvdbInsSegment(ZVHANDLE index, int32_t n, ZVHANDLE field, int32_t mode);
ZV_API ZVHANDLE zvdbInsSegmentByNbr(ZVHANDLE table, int32_t index, int32_t n, int32_t field,
                                    int32_t mode);
ZV_API ZVHANDLE zvdbInsSegmentByName(ZVHANDLE table, int32_t index, int32_t n, const char *field,
                                     int32_t mode);
/* An extended segment over length bytes at offset; insertion checks that
 * the mode is an extended mode (4047). 4018, 4005, 4004 negative length,
 * 4001. */
ZV_API ZVHANDLE zvdbAddSegmentEx(ZVHANDLE index, int32_t offset, int32_t length, int32_t mode);
ZV_API ZVHANDLE zvdbInsSegmentEx(ZVHANDLE index, int32_t n, int32_t offset, int32_t length,
                                 int32_t mode);
/* The row-id segment (length -1, mode 0xFFFF): the key length grows by 8. */
ZV_API ZVHANDLE zvdbAddRowIdSegment(ZVHANDLE index);
/* A segment on a ZV_JSON field whose slot-0 callback reports the type it
 * is keyed as: the key path, value type and key length are kept; the key
 * length grows by length. NULL with 4017, 4054 (not a JSON field, or no
 * other type reported), 4004 negative length, the add's codes. */
ZV_API ZVHANDLE zvdbAddJSONSegment(ZVHANDLE index, ZVHANDLE field, const char *keypath,
                                   int32_t valuetype, int32_t length);
/* Segment n: NULL with 4018, 4005. */
ZV_API ZVHANDLE zvdbGetSegment(ZVHANDLE index, int32_t n);
/* Its position into *n: 0, 4020, 4018, 4007, 4049. */
ZV_API ZVDBRET zvdbGetSegmentNbr(ZVHANDLE segment, int32_t *n);
/* Deletes segment n (it leaves its field; the key length loses its bytes):
 * a new segment goes away, an existing one is marked 2. 4018, 4005, 4092
 * already deleted. */
ZV_API ZVDBRET zvdbDelSegment(ZVHANDLE index, int32_t n);
ZV_API ZVDBRET zvdbDelSegmentEx(ZVHANDLE segment);
/* Moves to position n (0..count): a new segment moves (status 4); an
 * existing one stays, marked 2, and a copy marked 1|4 takes the position.
 * 4020, 4018, 4049, 4005, 4092 deleted, 4001. */
ZV_API ZVDBRET zvdbMoveSegment(ZVHANDLE segment, int32_t n);
/* The field (NULL for extended and row-id segments; 4020). */
ZV_API ZVHANDLE zvdbGetSegmentField(ZVHANDLE segment);
ZV_API const char *zvdbGetSegmentFieldName(ZVHANDLE segment);
/* The field a segment covers, also for an extended segment of a table with
 * a record schema; NULL when none. */
ZV_API ZVHANDLE zvdbGetSegmentPartialField(ZVHANDLE segment);
/* Mode: set marks 16 when it changes; 4020, 4054 a JSON field. Get: 0 for
 * a bad handle. */
ZV_API int32_t zvdbGetSegmentMode(ZVHANDLE segment);
ZV_API ZVDBRET zvdbSetSegmentMode(ZVHANDLE segment, int32_t mode);
/* Key bytes (-1 the row-id segment); 0 with 4020. */
ZV_API int32_t zvdbGetSegmentLength(ZVHANDLE segment);
ZV_API uint32_t zvdbGetSegmentStatus(ZVHANDLE segment);
/* Re-points the segment to a field (status 32), dropping its transform:
 * 4020, 4018, 4017, 4014 another table's field, 4054 a JSON field. */
ZV_API ZVDBRET zvdbSetSegmentField(ZVHANDLE segment, ZVHANDLE field);
/* Re-points the segment to a JSON field with a key path, value type and
 * key length (status 32): 4020, 4018, 4017, 4054 not a JSON field. */
ZV_API ZVDBRET zvdbSetJSONSegmentField(ZVHANDLE segment, ZVHANDLE field, const char *keypath,
                                       int32_t valuetype, int32_t length);
/* The JSON settings (outputs optional): 4020, 4046 not a JSON segment. */
ZV_API ZVDBRET zvdbGetJSONSegmentProperties(ZVHANDLE segment, const char **keypath, int32_t *valuetype,
                                            int32_t *length);
/* Fills a 64-byte transform block with the defaults: words 0, 0, -2, 1, 1,
 * 160, 0, 0 and the locale "en_US". Returned, not kept: 4007. */
ZV_API ZVDBRET zvdbSetKSegDefaults(void *block);
/* Copies a 64-byte transform block in or out. 4020, 4007, 4046 (get: the
 * segment uses none; the block of an existing index of an open table is
 * read from the index once). */
ZV_API ZVDBRET zvdbSetSegmentKSeg(ZVHANDLE segment, const void *block);
ZV_API ZVDBRET zvdbGetSegmentKSeg(ZVHANDLE segment, void *block);

/* ---- Table alteration: the pending work ---- */

/* Alteration mask: the work the pending edits of a table ask for.
 *   1      record schema rewritten in place (names, types the stored values
 *          keep, lengths of variable-length fields)
 *   2      field attributes rewritten (null flag, precision, scale, binary)
 *   4      indexes added or dropped in place; 0x400 with it: additions only
 *   8      every index rebuilt
 *   16     every record copied into a new table (excludes all other work)
 *   32     distinct-key counts recomputed
 *   64     identity field added
 * Work is done in the order 16, else 1, 2, 64, then 8 (which leaves 4 and
 * 32 undone) or 4 and 32. */
typedef uint32_t ZVALTERMASK;
/* Alteration action. Low byte: 0 the mask of the pending edits, 1 rebuild
 * the indexes only, 3 copy every record (others refused). Higher bits:
 * 0x100 the new table of a copy takes create-mode bit 0x1000; 0x1000
 * records with duplicate keys are left out; 0x2000 recreate the table empty
 * (implies 3); 0x4000 apply the table's owner to every file again; 0x8000
 * the new table keeps its transaction modes while records are copied. */
typedef uint32_t ZVALTERACTION;

/* The mask of the pending edits: the field part (1, 2, 64, or 16 alone when
 * a field asks for a copy) OR the index part (4, 8, 16, 32, 0x400). A field
 * renamed, retyped or resized is weighed on each change: a type the stored
 * values keep (same width) or a longer variable-length field is rewritten
 * in place, any other change copies the records. The check leaves marks
 * that stay: segments of a variable-length field whose length changed, and
 * segments keyed by the type of a field retyped in place, get status 32 (so
 * their indexes are rebuilt); an existing index whose segments are all
 * deleted gets status 2; dropping the partition index ends the
 * partitioning. 0 for none; 0 with 4013, 4018 (an index list item that is
 * no index) kept. */
ZV_API ZVALTERMASK zvdbGetTableStatus(ZVHANDLE table);

/* Applies the pending edits of an open table (any handle leading to one)
 * to its files with the work its mask asks for, in place, by an index
 * rebuild or by copying every record into a new table that takes the
 * table's place (a numeric field retyped to another numeric type gets each
 * value converted, never its bytes); the alteration callback (kind 16)
 * runs at the start, once the mask is known (it may change the table's
 * alteration mask then) and at the end, also after a failure; the copy
 * reports its progress to kind 17.
 * Transaction-controlled tables run inside a transaction (begun here when
 * none is active). After the call the handles are read again from the
 * files; after a failure the files are as before the call, or, when the
 * failure came after the work was on disk, as altered. 0; 4013 no table,
 * 4088 opened read only, 4054 mirrored or virtual table, or a new index
 * built later by the engine without a file of its own (454 with one), 4012
 * not active, 4095 an index without segments, 4085 a bad action, 4048
 * action 1 without any index, 990 a data file whose header was patched, 2
 * a duplicate key while copying (without 0x1000), 4038 / 4039 a copied
 * value above / below the range of its field's new type (a negative integer
 * part into an unsigned type is below; NaN and the infinities fit only the
 * float types), 4042 a field retyped to or from ZV_EFLOAT (before any file
 * changes), a callback's nonzero result, record, field and engine codes
 * (12 when another open has the table at its exclusive reopen). A copy
 * holds the table from that exclusive reopen until the new files have the
 * table's names (the engine's swap takes the open files into its hold):
 * another open meanwhile answers 12, so no record another process writes
 * is lost to the swap. */
ZV_API ZVDBRET zvdbAlterTable(ZVHANDLE handle, ZVALTERACTION action);
/* Sets index n's condition (NULL or "" removes it) and rebuilds the indexes
 * (action 1); the condition it holds already returns 0 at once. 4013, 4018,
 * and the codes of zvdbAlterTable. */
ZV_API ZVDBRET zvdbUpdateCndxIndex(ZVHANDLE table, int32_t n, const char *text);
ZV_API ZVDBRET zvdbUpdateCndxIndexByName(ZVHANDLE table, const char *name, const char *text);
/* Gives the table a new create mode by copying its records (action 3), in
 * a transaction of its own (inside the caller's one, between save points).
 * The create mode it has already returns 0 at once. 4013, 4088 opened read
 * only, and the codes of zvdbAlterTable. */
ZV_API ZVDBRET zvdbUpdateCreateMode(ZVHANDLE table, uint32_t createmode);

/* ---- Full-text index definitions of a table (none in this build) ---- */

/* Index n: NULL with 4013, 4005. Count: -1 without list. Status: 0 for a
 * bad handle. */
ZV_API ZVHANDLE zvdbGetFTI(ZVHANDLE table, int32_t n);
ZV_API int32_t zvdbGetTableFTICount(ZVHANDLE table);
ZV_API uint32_t zvdbGetFTIStatus(ZVHANDLE fti);
/* By name, any letter case: -1 / NULL with 4150, 4007, 4013. */
ZV_API int32_t zvdbGetFTINbrByName(ZVHANDLE table, const char *name);
ZV_API ZVHANDLE zvdbGetFTIByName(ZVHANDLE table, const char *name);
/* Fields of a full-text index: -1 / NULL with 4149 no index, 4005, 4014. */
ZV_API int32_t zvdbGetFTIFieldCount(ZVHANDLE fti);
ZV_API ZVHANDLE zvdbGetFTIField(ZVHANDLE fti, int32_t n);
ZV_API int32_t zvdbGetFTIFieldMode(ZVHANDLE fti, int32_t n);
/* Not supported: 4054 (NULL), kept. */
ZV_API ZVDBRET zvdbSetFTICndxExpr(ZVHANDLE fti, const char *text);
ZV_API ZVDBRET zvdbGetFTINbr(ZVHANDLE fti);
ZV_API const char *zvdbGetFTIName(ZVHANDLE fti);
ZV_API ZVHANDLE zvdbGetFTIByUID(ZVHANDLE table, uint32_t uid);

/* Full-text index and dictionary handles and their parameter texts. The
 * definitions can be built and exchanged; nothing can be added, removed or
 * loaded (4054), and the engine's full-text entry point answers 454.
 * Index handle: a table, status 1, an empty field list, no dictionary.
 * Dictionary handle: words 0x002D and 1, five empty texts, flag 0. */
/* A new unlisted index handle: NULL with 4013, 4001. */
ZV_API ZVHANDLE zvdbAllocFTI(ZVHANDLE table);
/* Frees its field entries, texts and the handle (NULL ignored). */
ZV_API void zvdbFreeFTI(ZVHANDLE fti);
/* A new dictionary handle on the session the handle leads to: NULL without
 * session, NULL with 4001. */
ZV_API ZVHANDLE zvdbAllocFTIDict(ZVHANDLE handle);
ZV_API void zvdbFreeFTIDict(ZVHANDLE dict);
/* 4054, kept (AddFTI gives NULL). */
ZV_API ZVHANDLE zvdbAddFTI(ZVHANDLE table, const char *name);
ZV_API ZVDBRET zvdbDelFTI(ZVHANDLE table, int32_t n);
ZV_API ZVDBRET zvdbSetFTIOption(ZVHANDLE fti, int32_t option, const char *text, uint32_t value);
ZV_API ZVDBRET zvdbSetFTIDictOption(ZVHANDLE dict, int32_t option, const char *text, uint32_t value);
/* 4054, not kept. */
ZV_API ZVDBRET zvdbAddFTIField(ZVHANDLE fti, ZVHANDLE field, uint32_t mode);
/* Full-text index n of the table and the named field, then
 * zvdbAddFTIField: 4013, 4149 no such index, 4007, 4014, else 4054; kept. */
ZV_API ZVDBRET zvdbAddFTIFieldByName(ZVHANDLE table, int32_t n, const char *field, uint32_t mode);
/* 4054, not kept. */
ZV_API ZVDBRET zvdbStartFTIBackgroundLoad(ZVHANDLE table, int32_t n);
ZV_API ZVDBRET zvdbFTIStartBackgroundLoad(ZVHANDLE table, int32_t n);
ZV_API ZVDBRET zvdbCheckFTIBackgroundLoad(ZVHANDLE table, int32_t n, void *status);
ZV_API ZVDBRET zvdbFTICheckBackgroundLoad(ZVHANDLE table, int32_t n, void *status);
ZV_API ZVDBRET _zvdbParseFTIDictResourceParam(ZVHANDLE dict, const char *text);
ZV_API ZVDBRET _zvdbParseFTIAttribParam(ZVHANDLE fti, const char *text);
ZV_API ZVDBRET _zvdbParseFTIResourceParam(ZVHANDLE fti, const char *text);
ZV_API ZVDBRET _zvdbUpdateNameInFTIParam(ZVHANDLE fti, const char *name);
ZV_API ZVDBRET _zvdbGetFTIResources(ZVHANDLE table);
/* Parameter texts, handed out in a block released with _zvdb_free:
 *   dictionary "0002|%04x,%04x|" (the two words), [length "%04x," text 1]
 *     "|" [length "%04x," text 2] "|" text 4 "|" ["!" when the flag is set]
 *     text 5 "|" length of text 3 as "%08x" "|" text 3;
 *   attributes "";
 *   index "0004|", "!" "*" "+" for mode 1, 2, 3, the description,
 *     "|%04x|" with the option, the dictionary text, "|%03d" with the field
 *     count, per field ";" name "," mode as "%04x", "|", [length "%04x,"
 *     further text], "|", the attributes, "|".
 * 4007 NULL out; 4043 a text of 65536 bytes or more; 4025 no dictionary
 * (NULL or no dictionary handle); 4149 no index handle; 4152 an index
 * without fields; 4001. Nothing is kept. */
ZV_API ZVDBRET _zvdbCreateFTIDictResourceParam(ZVHANDLE dict, char **text);
ZV_API ZVDBRET _zvdbCreateFTIAttribParam(ZVHANDLE fti, char **text);
ZV_API ZVDBRET _zvdbCreateFTIResourceParam(ZVHANDLE fti, char **text);
/* Asks the engine's full-text entry point for the parameter text of a
 * dictionary kept with an open file, with a reply buffer from 128 bytes
 * grown while the engine asks for more (153): the engine's code (454 in
 * this library); on 0 the text into *text (optional) and, with dict, its
 * parse into the handle. */
ZV_API ZVDBRET _zvdbGetFTIDictResourceParamFromFile(int file, const char *name, char **text, ZVHANDLE *dict);
/* Hands the parameter text of full-text index n (-1: every index) of the
 * table to the engine's full-text entry point; kept: 4013, 4066 the table
 * has no "$ROWID$", 4005 n outside the list, the text's codes, the
 * engine's code (454). flag is not read. */
ZV_API ZVDBRET _zvdbCreateFTI(ZVHANDLE table, int32_t n, int flag);
/* Hands the removal of full-text index n (mode -1 or -2) to the engine's
 * full-text entry point with the table's files closed, then reopens them
 * on an open table: the first failing code, kept (454 in this library);
 * 4013. */
ZV_API ZVDBRET _zvdbRemoveFTI(ZVHANDLE table, int32_t n, int32_t mode);
/* Whether a file belongs to a table by its name: the first occurrence of
 * the table name in the file name that starts it or follows the separator
 * and is followed by "_" gives 1, by "." or the end of the name 2; *start
 * and *end (each optional) then bound it (end one past its last byte).
 * Other occurrences are passed over; 0 when none counts (or NULL, or an
 * empty table name). */
ZV_API int _zvdbIsNameTableDep(const char *table, const char *file, int separator, const char **start,
                               const char **end);

/* ---- Table resources ---- */

/* A resource handle is a buffer for one resource record of a table's data
 * file: a type, a number (0xFFFFFFFF: the engine numbers it on add), an
 * optional name and data bytes. The record handed to the engine is type
 * and number (host order), the name and a zero byte, then the data.
 * A call that finds no resource handle returns 4007 (NULL) or 4099 without
 * keeping it; once the table is known codes are kept in its session. A
 * handle read with a lock holds it until the next operation releases it
 * (add, update, delete, unlock, a read, the free). */
/* A new handle for the table the handle leads to (unlocked, no data): NULL
 * with 4013, 4001. */
ZV_API ZVHANDLE zvdbAllocResource(ZVHANDLE table, uint32_t type, uint32_t number, const char *name);
/* Releases its lock, its data, its name and the handle: 0, 4099. */
ZV_API ZVDBRET zvdbFreeResource(ZVHANDLE resource);
/* 0 / NULL for a bad handle. The data belongs to the handle. */
ZV_API uint32_t zvdbGetResourceType(ZVHANDLE resource);
ZV_API uint32_t zvdbGetResourceNumber(ZVHANDLE resource);
ZV_API const char *zvdbGetResourceName(ZVHANDLE resource);
ZV_API int32_t zvdbGetResourceDataLength(ZVHANDLE resource);
ZV_API const void *zvdbGetResourceData(ZVHANDLE resource);
ZV_API int zvdbIsResourceLocked(ZVHANDLE resource);
/* 4007, 4099; the name is copied (NULL: none), the data copied when bytes
 * is not NULL and length is 1 or more (else none); 4001. */
ZV_API ZVDBRET zvdbSetResourceType(ZVHANDLE resource, uint32_t type);
ZV_API ZVDBRET zvdbSetResourceNumber(ZVHANDLE resource, uint32_t number);
ZV_API ZVDBRET zvdbSetResourceName(ZVHANDLE resource, const char *name);
ZV_API ZVDBRET zvdbSetResourceData(ZVHANDLE resource, const void *bytes, int32_t length);
/* Releases the lock the handle holds: 0 (also when it holds none), 4013,
 * the engine's code. */
ZV_API ZVDBRET zvdbUnlockResource(ZVHANDLE resource);
/* The bytes become the handle's data, then the record is added (a number
 * 0xFFFFFFFF becomes the one the engine gave) or rewritten: 4013, 4004 NULL
 * bytes or a length below 1 (nothing changes), 4001, the engine's code
 * (405 exists, 408 absent, 401 resources not enabled). */
ZV_API ZVDBRET zvdbAddResource(ZVHANDLE resource, const void *bytes, int32_t length);
ZV_API ZVDBRET zvdbUpdateResource(ZVHANDLE resource, const void *bytes, int32_t length);
/* Deletes the resource of the handle's type and number; its data goes:
 * 4013, 4001, the engine's code (408 absent). */
ZV_API ZVDBRET zvdbDeleteResource(ZVHANDLE resource);
/* Reads a resource whole into the handle (type, number, name, data): the
 * table's first, the one after the handle's type and number, the one of
 * the given type and number, or of the given name. With lock the handle
 * then holds the record's lock. 4013, 4007 NULL name, the engine's code
 * (408 none, 401 resources not enabled), 407 a record that holds no
 * zero-terminated name, 4001; a failed read leaves the handle as it was. */
ZV_API ZVDBRET zvdbFirstResource(ZVHANDLE resource, int lock);
ZV_API ZVDBRET zvdbNextResource(ZVHANDLE resource, int lock);
ZV_API ZVDBRET zvdbFindResource(ZVHANDLE resource, uint32_t type, uint32_t number, int lock);
ZV_API ZVDBRET zvdbFindResourceByName(ZVHANDLE resource, const char *name, int lock);

/* ---- Field extensions and pad characters kept in the data file ---- */

/* Beside the engine's record schema a table's data file keeps, as
 * resources: "QV!DFLD" (type 1, number 1; 20 + 32 x fields bytes) the null
 * flag, precision, scale, binary flag, default length and default kind of
 * every field; "QV!DFL2" (type 1, number 4) the bytes of the literal
 * defaults; "QV!DPAD" (type 1, number 2; 256 bytes) the pad and delimiter
 * characters. Their integers after the 16-byte header are little-endian;
 * the header and the record position at 20 (high word) and 24 (low word)
 * of "QV!DPAD" are in host order. Nothing here keeps a code. */
/* A zeroed "QV!DFLD" buffer of 20 + 32 x (schema entries or fields, the
 * larger); NULL without table or memory. Freed with _zvdb_free. */
ZV_API void *_zvdbAllocFldx(ZVHANDLE table);
/* Adds "QV!DFLD" (version 6) and, when any literal default has bytes,
 * "QV!DFL2": 0, 4013, 4001, 4017, the engine's code (nothing more is
 * written after a failure). */
ZV_API ZVDBRET _zvdbPutFldx(ZVHANDLE table);
/* Sets every field's attributes and default from the resources ("QV!DFLD"
 * or, when absent, type 0x0F000000 number 1), reading entries and default
 * bytes only as far as the resources hold them; fields beyond them keep
 * what they have. 0, 4013, 4017, 4001, 407 a record shorter than its
 * header, the engine's code. */
ZV_API ZVDBRET _zvdbGetFldx(ZVHANDLE table);
/* "QV!DPAD" (or type 0xF0000000 number 2) into a 256-byte buffer (zeroed
 * first) with its record position at 20 and 24 and its words in host
 * order; with lock the read takes the record's lock. 0, 4013, 4007, the
 * engine's code (-1 without engine instance). */
ZV_API ZVDBRET _zvdbGetPadResource(ZVHANDLE table, void *buffer, int lock);
/* Adds or rewrites a 256-byte "QV!DPAD" record given in host order; the
 * caller's record is handed back unchanged. 4013, 4007, the engine's code. */
ZV_API ZVDBRET _zvdbAddPadResource(ZVHANDLE table, void *record);
ZV_API ZVDBRET _zvdbUpdPadResource(ZVHANDLE table, void *record);
/* Loads the handle's pad and delimiter bytes from "QV!DPAD": 0 also when
 * it is absent (the bytes then stay), 4013, the engine's code. */
ZV_API ZVDBRET _zvdbReadPadChar(ZVHANDLE table);
/* Pads a fixed-length string: when 0 <= used < size, bytes used .. size-2
 * become the pad byte and byte size-1 the delimiter; else nothing. 4007. */
ZV_API ZVDBRET _zvdbPadField(void *buffer, int32_t size, int32_t used, unsigned char pad,
                             unsigned char delimiter);
/* Trims a padded string whose last byte is the delimiter: the pad bytes
 * before it are dropped, a zero byte ends what is kept and *length
 * (optional) gets its count; another last byte changes nothing. 4007. */
ZV_API ZVDBRET _zvdbTrimField(void *buffer, int32_t size, int32_t *length, unsigned char pad,
                              unsigned char delimiter);

/* ---- Identity field, record expressions and table services ---- */

/* Makes the named field the identity field, with a seed and an increment
 * (64-bit, as the engine keeps them); unless the table is being altered
 * the field is marked 0x100. 0 kept; 4013, 4133 the table has one, 4014
 * no such field, 4001. Deleting the field clears it. */
ZV_API ZVDBRET zvdbSetIdentityField(ZVHANDLE table, const char *name, ZVBIGINT seed, ZVBIGINT increment);
/* The identity field's name (NULL: none) and its settings (outputs
 * optional) of an open table; 0 kept; NULL with 4013, 4012 closed. */
ZV_API const char *zvdbGetIdentityField(ZVHANDLE table);
ZV_API const char *zvdbGetIdentityFieldDetails(ZVHANDLE table, ZVBIGINT *seed, ZVBIGINT *increment);
/* The last identity value the engine assigned: its next value less the
 * increment. 4013, 4012, 4134 no identity field, 4007, the engine's code. */
ZV_API ZVDBRET zvdbGetLastIdentity(ZVHANDLE table, ZVBIGINT *value);
/* Defines the identity field in the engine at the field's position among
 * every record-schema entry (the hidden ones counted): 4013, 4014 no
 * identity field or no schema entry of that name, the engine's code. Not
 * kept. */
ZV_API ZVDBRET _zvdb_AddIDField(ZVHANDLE table);
/* Parses an expression over the table's fields and keeps it: its number
 * (position among the table's expressions, from 0) into *number and the
 * field type of its value into *type (ZV_INT4, ZV_DATE, ZV_TIME,
 * ZV_TIME_MS, ZV_TIMES, ZV_NUMBER, ZV_STRING; both outputs optional). 4013,
 * 4007 NULL text, 4004 "", 4019 a truth value or a value of another kind
 * (the expression stays kept), 4071 + the parser's error number for a text
 * that does not parse, the engine's code (454 a full-text condition), 4054
 * for a table without record schema; kept. */
ZV_API ZVDBRET zvdbParseRecordExpr(ZVHANDLE table, const char *text, ZVFIELDTYPE *type, int32_t *number);
/* How a path given to open a free table splits into name and extension.
 * A table handle takes 0..2, a database handle 0..4 for the tables it adds
 * (larger: 4004); the get answers the hint of the handle given. Any
 * other handle: -1 and 4090; kept. */
ZV_API int32_t zvdbGetExtensionHint(ZVHANDLE table);
ZV_API ZVDBRET zvdbSetExtensionHint(ZVHANDLE table, uint32_t hint);
/* The engine's PUTHDR on the open table's data file: 4013, 4012, the
 * engine's code; kept. */
ZV_API ZVDBRET zvdbPUTHDR(ZVHANDLE table, int32_t value, int mode);
/* The engine's lock time-out (zvLOKTIMOUT, 454 in this library) on the
 * open table's data file, or with NULL on no file: 4013, 4012, the
 * engine's code; kept with a table. */
ZV_API ZVDBRET zvdbLOKTIMOUT(ZVHANDLE table, int mode, int32_t timeout);
/* Not offered by this library: 454; 4054; 4054. The arguments are not
 * read. */
ZV_API int zvSQLImportTable(ZVHANDLE handle, const char *source, const char *target, void *options);
ZV_API ZVDBRET zvdbCheckRecordSchemaConversion(ZVHANDLE table, void *status);
ZV_API ZVDBRET zvdbStartRecordSchemaConversion(ZVHANDLE table, void *options);

/* ---- Table files as a whole: rebuild, compaction, system filters ---- */

/* Rebuild mode bits (zvdbRebuildTable: 1, 2, 8 below). */
typedef int32_t ZVREBUILD_MODE;

/* Rebuilds (or with mode bit 8 compacts) the open table's data file and
 * every index in place, through the engine's file-set rebuild: the files are
 * closed, rebuilt from their stored definition under the table's path and
 * physical name, and opened again with the open mode less bits 4 and 64.
 * Mode bit 1 purges records whose keys are rejected (duplicates in a unique
 * index), bit 2 stores the definition again. A transaction that is active
 * is committed first and begun again afterwards. 0, or 650 (keys were
 * rejected and purged; the table is open again; after a kill, mode 1 removes
 * the second copy that a record moved by a rewrite may leave, where mode 0
 * answers 652 and leaves the table not active); 4013 and 4012 (a closed
 * table) are returned, not kept. The files' cached bytes are written out
 * first: a failure there leaves the table open as it was. The new index
 * files take the places of the old ones only when they are complete. Any
 * later failure leaves the table not active with its definition, records
 * and keys (record calls give 4012;
 * zvdbOpenTable opens it again, or, for files the failed close could not
 * mark closed (14), open bit 4 does and a rebuild mends them) and is kept:
 * the engine's code, 12 among them when another open (another process or
 * instance) has the files once they are closed here (nothing changed; the
 * lock's system error in zvGetSystemErrorCode()). From the engine's first
 * look at the closed files to the end of its rebuild no other open reaches
 * them (it answers 12), so nothing another process writes is lost. */
ZV_API ZVDBRET zvdbRebuildTable(ZVHANDLE table, int32_t mode);
/* The engine's rebuild progress routine: (count of records or keys of the
 * phase, code, text); its answer is not read. */
typedef int (*ZVDB_REBUILD_CALLBACK)(uint32_t count, int32_t code, const char *text);
/* Installs the progress routine of the current engine instance's rebuilds
 * (NULL: none), called every value records or keys (value 0 keeps the
 * interval): the engine's code. */
ZV_API ZVDBRET zvdbSetCallbackOnRebuild(ZVDB_REBUILD_CALLBACK callback, int32_t value);
/* System filter mode: 1 reads, 2 writes, 3 both. */
typedef int32_t ZVSYSFILTER;
/* The system filters of the open table's data file: mode 1 reads ("@@?"
 * and the physical name), 2 writes ("@@!" and the physical name), 3 both;
 * off sets the marks alone. The engine's filter code is returned at its
 * first failure (this library has no system filters: 454, the record
 * filter staying as it was). 4013, 4004 another mode, 4012; kept. */
ZV_API ZVDBRET zvdbSystemFilterOn(ZVHANDLE table, int32_t mode);
ZV_API ZVDBRET zvdbSystemFilterOff(ZVHANDLE table, int32_t mode);
/* Appends the table's state, record schema and file definition to the
 * debug trace file target (NULL: "zvdbdbug.txt"), after a line naming the
 * failing function when code is not 0; nothing for "zvdbdict". Returns
 * code. */
ZV_API ZVDBRET _zvdbTableDisplayDetail(const char *function, ZVHANDLE table, ZVDBRET code, const char *target);

/* ---- Table files as a whole: move, rename, clone, temporary tables ---- */

/* Moves a closed table to the directory newpath and/or renames it newname
 * (at least one given). The handle is a database handle, a table of a
 * database or a session handle. A table of a connected database is named
 * by its logical name; a free table by its name in the directory of the
 * closed table handle given (with its extensions and password), or by a
 * file path with its extension when the handle is not a table. The data
 * file and its index file take the new name and directory; an index file
 * of its own named after the table ("cust_nm.idx" for "cust") is named
 * after the new name ("client_nm.idx"), in the new directory, and, with a
 * new name, so is its index ("client_nm") and its dictionary entry. The
 * dictionary entry takes the new name (logical and physical) and
 * directory, and the index entries' links follow. Refusals come before
 * any file changes: 4003, 4012 a database not connected, 4011 the table
 * handle given is open, 4007 NULL name, 4008 neither new path nor new
 * name, 4022 the new name is in the dictionary, 4006 a new name that does
 * not fit (128 characters for names, 255 for file names); then the open's
 * codes (4023 unknown name), the engine's (67 a file of a new name exists).
 * A failure after the files were renamed puts files, definition and
 * dictionary entries back. Codes are kept. */
ZV_API ZVDBRET zvdbMoveTable(ZVHANDLE handle, const char *name, const char *newpath, const char *newname);
/* A move without a new path. */
ZV_API ZVDBRET zvdbRenameTable(ZVHANDLE handle, const char *name, const char *newname);

/* Renames the open file set of the table to newname (directory and name,
 * without extension): the index files of their own whose names equal
 * oldnames[i] (after the session's path prefix) take newnames[i], the
 * others keep theirs; count pairs, entries may be NULL. The engine renames
 * every file or none and never over an existing file (67). The table
 * handle keeps its names. 0, 4013, 4007, 4012 the set is not open, the
 * engine's code. */
ZV_API ZVDBRET _zvdbRenameTable(ZVHANDLE table, const char *newname, const char *const *oldnames,
                                const char *const *newnames, int32_t count);
/* The default index file name: '?' and the table's index extension, into
 * buffer: 0, 4013, 4007, 4006 when it does not fit in size bytes. */
ZV_API ZVDBRET _zvdbDefaultIndexName(ZVHANDLE table, char *buffer, int32_t size);
/* A new working base name, from the engine's temporary file name (made in
 * the engine's temporary directory, or as "zarvo.tmp.XXXXXXXX" in the
 * working directory): the text after its last separator (all of it without
 * one) behind a 'c', each '.' made 'd', so "czarvodtmpd" and 8 characters,
 * or "cZ" and 7 hex digits. Freed with _zvdb_free; NULL with the code
 * kept (4013, 155 no unique name could be made, 4001). */
ZV_API char *_zvdbTemporaryName(ZVHANDLE table);
/* Makes target (closed) a new table from source's definition under name,
 * in source's directory: fields, indexes and segments not marked deleted
 * (an index needs a live segment), their attributes, defaults and
 * conditional expressions, pad bytes, extents, permission, password,
 * alignment and partition settings; the files take source's cipher. An
 * index with a file of its own gets a working file name
 * (_zvdbTemporaryName); when oldnames and newnames are given (one slot per
 * index of source's list) slot i receives copies of both file names of
 * index i (freed with _zvdb_free). The target is temporary and stays open,
 * out of every dictionary; with keepopen its files keep source's
 * transaction modes (create bits 1, 2), else they are left to the
 * engine's temporary modes. Then source's application resources (types
 * above 0x10000, types 2 and 10, type 0 numbers 11 and 12) are copied,
 * and source's identity field is set when it is new in source or identity
 * is nonzero. A failure leaves target closed and empty, and deletes the
 * files it made. The engine's next-create cipher is reset on every exit. Codes kept on source: 4013,
 * 4001 also for a NULL name, 4011 target open, the create's, the engine's. */
ZV_API ZVDBRET _zvdbCreateTemporary(ZVHANDLE source, ZVHANDLE target, const char *name, char **oldnames,
                                    char **newnames, int keepopen, int identity);
/* Makes table a clone of source under name (_zvdbCreateTemporary with
 * keepopen and identity), lists it among its database's open tables and
 * closes it: the files exist, encrypted when source's are, and the clone
 * is in no dictionary; a failure deletes the files it made. In a
 * transaction of its own when none is active.
 * The result is kept on source: 4013, the create's, the close's. */
ZV_API ZVDBRET zvdbCloneTable(ZVHANDLE table, const char *name, ZVHANDLE source);
/* 1 when an index without pending changes has a field segment without
 * pending changes of a serial-number mode (mode & 0x10F is 3 or 257). */
ZV_API int _zvdbHasSRLSEG(ZVHANDLE table);
/* The names of the open table's record schema packed for the engine's
 * filters: per entry a count byte (name length + 2), the name and a zero
 * byte, then one zero byte. Freed with _zvdb_free; NULL with 4013, 438 no
 * record schema, 4043 a name of 254 characters or more, 4001. The code
 * (0 on success) is kept. */
ZV_API char *_zvdbGenerateFilterNames(ZVHANDLE table);

/* ---- Virtual tables ----
 * A multi-record-type table (kind 0x10000) keeps its records in another
 * table's data file, its host, with a field list of its own and a filter
 * that selects its records among the host's. The host keeps its
 * definition as the resource "QV!VFLT" (type 2, number = the virtual
 * table's number, 0..198) and the last number given as "QV!VTNB" (type 3,
 * number 0: "%03d" and a zero byte, "-01" when none is left). */

/* Creates the virtual table name over the host table of its database from
 * the field and index handles of table (closed): its record schema takes
 * the host's hidden fields, and its fixed record length must equal the
 * host's (a host with variable-length records: at least its fixed length).
 * The host gets its definition and the database dictionary its entry. The
 * handle is left empty, whatever the outcome; a failure leaves the host's
 * resources and the dictionary as they were. 4013, 4094 no database, 4007
 * NULL name, host or filter, 4011 table open, 4164 record lengths that do
 * not fit, 4130, 4022 the name is taken (in the host or the dictionary),
 * 4001, the codes of the host's open and the dictionary's; kept. */
ZV_API ZVDBRET zvdbCreateMRTTable(ZVHANDLE table, const char *name, const char *host, uint32_t createmode,
                                  const char *filter);
/* Adds the definition of vtable to the open host and gives it the highest
 * free number below the last given, else the next (its number is set in
 * vtable); "QV!VTNB" is written when the number is above the last (or it
 * was absent: the highest definition present then stands for the last).
 * 4013, 4012 host not open, 4004 no definition, 4025 a damaged definition,
 * 4054 a definition of another kind, 4022 the name is taken, 4130 no number
 * left, 4043 a field name too long, the resource calls' codes; kept. */
ZV_API ZVDBRET zvdbAddVTableResource(ZVHANDLE host, ZVHANDLE vtable);
/* Deletes definition number of the open host; when it was the last, the
 * last number becomes the highest present below it (-1 when none). 4013,
 * 4012, the resource calls' codes (408 none); kept. */
ZV_API ZVDBRET zvdbRemoveVTableResource(ZVHANDLE host, int32_t number);
/* The last number given of the open host (0 when none is stored); writes
 * it (rewritten, or added when absent). 4013, 4007, 4012, the resource
 * calls' codes; kept. */
ZV_API ZVDBRET _zvdbGetLastVTableNbr(ZVHANDLE table, int32_t *number);
ZV_API ZVDBRET _zvdbUpdateLastVTableNbr(ZVHANDLE table, int32_t number);
/* A list for zvdbGetVTableInfoFromTable with capacity entries of 128-byte
 * names, owned by the table handle given (the host); NULL with 4001 kept. */
ZV_API ZVDBVTINFO *zvdbAllocVTableInfo(ZVHANDLE table, uint16_t capacity);
ZV_API void zvdbFreeVTableInfo(ZVDBVTINFO *list);
/* Lists the definitions of the open host of the list (numbers 0..199):
 * number, kind and name of each while there is room; every one is
 * counted. 4007 NULL list or owner, 4012 (kept), the resource calls'
 * codes (kept). */
ZV_API ZVDBRET zvdbGetVTableInfoFromTable(ZVDBVTINFO *list);
/* Of an open table: 1 when it is a virtual table; its number. */
ZV_API int zvdbIsVTable(ZVHANDLE table);
ZV_API int32_t zvdbGetVTableNumber(ZVHANDLE table);
/* Replaces the filter of an open multi-record-type table ("" leaves none);
 * the records take it when they take the filter next. Returned, not kept:
 * 4013, 4004 not a multi-record-type table, 4007 NULL, 4001. */
ZV_API ZVDBRET zvdbSetMRTTableFilter(ZVHANDLE table, const char *filter);
/* The default-index settings of a multi-record-type table: the index, a
 * copy of len1 bytes of key1 and (when key2 is not NULL) of len2 bytes of
 * key2, both lengths and value. Returned, not kept: 4013, 4004, 4007 NULL
 * key1 or len1 below 1, 4001. */
ZV_API ZVDBRET zvdbSetMRTTableDefaultIndex(ZVHANDLE table, int32_t index, const void *key1, int32_t len1,
                                           const void *key2, int32_t len2, int32_t value);

/* ---- Partitioned tables ----
 * A partitioned table (create bit 0x800) keeps its records in member files
 * chosen by a rule on the key of its partition index. zvdbCreateTable
 * makes the host files and stores the rule set here: an expression over
 * the fields of the partition index's schema segments giving the member
 * number (members "name.dat.001", ...), or, without a rule text, the date
 * rule (the key is a day serial or seconds; one member per day). A member
 * is made by the first record that goes to it. */

/* The partition index as the caller counts indexes (the hidden "$RECBYT$"
 * and "$ROWID$" not counted); -1 none. */
ZV_API int32_t zvdbGetTablePartitionIndexNbr(ZVHANDLE table);
/* Sets the partition index for the next creation (kept counted with the
 * hidden indexes the table has, or, before creation, that its create mode
 * gives): number bits 0, create bit 0x800, and, when no rule was ever set,
 * "no rule text" (the date rule). -1 clears it and bit 0x800. Returned, not
 * kept: 4013, 4148 set already, 4004 a number that does not fit 32 bits
 * once counted with the hidden indexes. A number outside the caller's
 * indexes is refused by the creation (4004). */
ZV_API ZVDBRET zvdbSetTablePartitionIndexNbr(ZVHANDLE table, int32_t index);
/* Returned, not kept: 4013, also without a partition index or for -1. */
ZV_API ZVDBRET zvdbSetTablePartitionNumberBits(ZVHANDLE table, int32_t bits);
/* A copy of the rule text; NULL drops a text kept ("no rule text").
 * Returned, not kept: 4013, 4148 a text is kept already, 4001. */
ZV_API ZVDBRET zvdbSetTablePartitionRule(ZVHANDLE table, const char *rule);
/* Keeps the dynamic-members setting: 0 kept; 4090 not a table (kept). */
ZV_API ZVDBRET zvdbSetTablePartitionDynMbrs(ZVHANDLE table, int32_t value);
/* Partition administration mode bits (zvdbPartAdminByName and the others). */
typedef int32_t ZVPART_MODE_E;
/* The engine's partition administration of the open table's data file, the
 * member named, designated by a key of the partition index, or by its raw
 * number (mode | 1, 2, 4; the action in the other bits). With mode bit
 * 0x800 the engine's system error word (the member's state of an ask; -1
 * without instance) goes to *status (optional). 4013, the engine's code;
 * kept. */
ZV_API ZVDBRET zvdbPartAdminByName(ZVHANDLE table, const char *name, int32_t mode, int16_t *status);
ZV_API ZVDBRET zvdbPartAdminByKey(ZVHANDLE table, const char *key, int32_t mode, int16_t *status);
ZV_API ZVDBRET zvdbPartAdminByNumber(ZVHANDLE table, int32_t number, int32_t mode, int16_t *status);
/* The first / last active partition number of the open table's data file
 * as the engine gives it; -1 with 4013, 4012 kept. */
ZV_API int32_t zvdbGetFirstPartition(ZVHANDLE table);
ZV_API int32_t zvdbGetLastPartition(ZVHANDLE table);

/* ------------------------------------------------------------------------ */
/* Records: the record handle, its image and typed field access.            */
/*                                                                           */
/* A record handle is one row buffer bound to an open table. Its image is    */
/* the record exactly as the engine stores it: a fixed part of the table's   */
/* fixed length with every field at its schema offset, then, in a           */
/* variable-length table, a variable part in which the fields follow one    */
/* another in their own forms: ZV_STRING as its text ended by the table's    */
/* delimiter byte, ZV_PSTRING, ZV_2STRING, ZV_4STRING and ZV_JSON as a       */
/* length prefix of 1, 2, 4, 4 bytes and the value, every other field with   */
/* its defined length. Lengths and values are in host byte order. In a       */
/* fixed-length table the variable string types are laid out as their fixed  */
/* counterparts (ZV_STRING as ZV_FSTRING, ZV_PSTRING as ZV_FPSTRING, ...).   */
/*                                                                           */
/* Fields are numbered 0..n-1 over the user fields; the hidden fields are    */
/* -1 "$DELFLD$", -2 "$NULFLD$" (one bit per user field, bit n % 8 of byte   */
/* n / 8) and -3 "$ROWID$". Fixed-size values are written in place; a        */
/* variable-part value of a new length waits in a buffer of its slot until   */
/* the image is packed again, which every call that hands out the image      */
/* does first. Every failing call keeps its code as the session's last code. */
/* ------------------------------------------------------------------------ */

/* One field of a record handle. The record keeps one slot per schema field,
 * hidden fields included; the pointers stay valid until the next call on
 * the record. Layout fixed on LP64 (see the checks below). */
typedef struct ZVDBFIELDSLOT {
    int32_t number;          /* field number: user 0..n-1, hidden -1, -2, -3 */
    int32_t index;           /* user field number; -1 for hidden fields */
    ZVHANDLE field;          /* the field handle; NULL for hidden fields */
    uint32_t type;           /* field type as laid out in the image */
    unsigned char *data;     /* start of the field in the image (its prefix) */
    unsigned char *value;    /* the value bytes; NULL when there are none */
    uint32_t deflength;      /* length in the schema */
    uint32_t curlength;      /* length of the value (ZV_STRING: with the delimiter) */
    uint32_t ownsvalue;      /* 1: value lies in a buffer of the slot */
    uint32_t offset;         /* offset of the field in the image */
    uint32_t reserved;       /* 0 after the image is read, 1 after a typed write */
    uint32_t hasextras;      /* 1: the field's extras word is positive */
    ZVHANDLE record;         /* the record handle; NULL for hidden fields */
} ZVDBFIELDSLOT;

#ifdef __cplusplus
#define ZV_SLOT_ASSERT(c, m) static_assert(c, m)
#else
#define ZV_SLOT_ASSERT(c, m) _Static_assert(c, m)
#endif
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, index) == 4, "slot index at 4");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, field) == 8, "slot field at 8");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, type) == 16, "slot type at 16");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, data) == 24, "slot data at 24");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, value) == 32, "slot value at 32");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, deflength) == 40, "slot deflength at 40");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, curlength) == 44, "slot curlength at 44");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, ownsvalue) == 48, "slot ownsvalue at 48");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, offset) == 52, "slot offset at 52");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, reserved) == 56, "slot reserved at 56");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, hasextras) == 60, "slot hasextras at 60");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || offsetof(ZVDBFIELDSLOT, record) == 64, "slot record at 64");
ZV_SLOT_ASSERT(sizeof(void *) != 8 || sizeof(ZVDBFIELDSLOT) == 72, "ZVDBFIELDSLOT is 72 bytes");
#undef ZV_SLOT_ASSERT

/* Default indexes beside the index numbers 0..n-1. */
typedef int32_t ZVDB_SPECIAL_INDEX;
#define ZVDB_INDEX_RECBYT    10000 /* record-position index "$RECBYT$" */
#define ZVDB_INDEX_ROWID     10001 /* row-identifier index "$ROWID$" */
#define ZVDB_INDEX_PHYSICAL  10002 /* physical order, no index */
#define ZVDB_INDEX_FULLTEXT  10003 /* the full-text index */

/* Mode word of zvdbSetRecordBuffer: low 16 bits nonzero, the buffer stays
 * the caller's (never freed or grown); raw, the record is neither cleared
 * before nor read from the buffer after it is taken. */
#define ZVDB_BUFFER_CALLER   0x0001
#define ZVDB_BUFFER_RAW      0x10000

/* Record callbacks: kind 2 runs after the record's slots are built, kind 3
 * before a reset or free of a record whose slots were built; kind 4 before
 * a target key is built from the record and kind 5 after; kind 6 before a
 * read (moves, finds, reads by position) and kind 7 after it, with the
 * record read; kind 8 before a write and kind 9 after it. Each gets the
 * record (kind 6 as ZVDB_READ_CALLBACK); a nonzero result fails the call.
 * They run for user tables not opened with both open bits 0x20 and 0x100.
 * The result of kind 7 is the read's result, unless the table's database
 * filters by it: 0 then passes the record over (a find or a read by
 * position gives 101), 4109 to 4128 take it, anything else fails the read. */
typedef ZVDBRET (*ZVDB_RECORD_CALLBACK)(ZVHANDLE record);
/* Kind 6: a read by position gets the position, a find its key-form target
 * and its find mode, which the callback may change; the others 0 and NULL. */
typedef ZVDBRET (*ZVDB_READ_CALLBACK)(ZVHANDLE record, uint64_t position, const void *target, int32_t *findmode);

/* Value kinds handed to a field's value callbacks, with the size given. */
#define ZVDB_VALUE_BOOL      1  /* int32_t 0/1, 4 */
#define ZVDB_VALUE_SIGNED    2  /* int32_t, 4 */
#define ZVDB_VALUE_UNSIGNED  3  /* uint32_t, 4 */
#define ZVDB_VALUE_DOUBLE    4  /* double, 8 */
#define ZVDB_VALUE_TEXT      5  /* text into a buffer of the size given (get) */
#define ZVDB_VALUE_FIXTEXT   6  /* ZVDBFIXTEXT block (set) */
#define ZVDB_VALUE_VARTEXT   7  /* ZVDBVARTEXT block (set) */
#define ZVDB_VALUE_BIGINT    8  /* int64_t, 8 */
#define ZVDB_VALUE_UBIGINT   9  /* uint64_t, 8 */
#define ZVDB_VALUE_CURRENCY  10 /* ZVCURRENCY, 8 */
#define ZVDB_VALUE_NUMBER    11 /* tagZVNUMBER, 20 */

/* Field value callbacks, kept in slots 2..6 of a field handle
 * (zvdbSetFieldCallback): 2 reads the value (get), 3 writes it (set), 4
 * tells whether the field is null (get, an int32_t 0/1, kind 1), 5 clears it
 * (set, no value), 6 gives its data length (get, an int32_t, kind 2). A get
 * callback writes the value and its size through the pointers; its result
 * is the result of the read or write that called it. A field with slot 2 or
 * 3 set has value callbacks: its typed reads and writes reach the callbacks
 * instead of the image. */
typedef ZVDBRET (*ZVDB_FIELD_GET_CALLBACK)(ZVDBFIELDSLOT *slot, void *value, int32_t *size, int32_t kind);
typedef ZVDBRET (*ZVDB_FIELD_SET_CALLBACK)(ZVDBFIELDSLOT *slot, const void *value, int32_t size, int32_t kind);
/* The text written to a fixed-length text field: the bytes, the table's
 * pad and delimiter bytes, and whether an over-long text is cut. */
typedef struct ZVDBFIXTEXT {
    const void *data;
    int32_t length;
    uint8_t pad;
    uint8_t delimiter;
    int32_t truncate;
} ZVDBFIXTEXT;
/* The text written to a variable-length text field. */
typedef struct ZVDBVARTEXT {
    const void *data;
    int32_t length;
    ZVHANDLE record;
} ZVDBVARTEXT;

/* ---- Record handles ---- */

/* A new record on the table (new, not edited, default index 0, the table's
 * callback words, the session's next set number), listed with the table's
 * records. Slots and image appear at its first use. NULL with 4013, 4001,
 * 4025 a virtual-table kind the library does not know, or the code of the
 * type filter of a multi-record-type table; NULL for a table whose session
 * was freed (zvdbGetError on the table then gives 4003). */
ZV_API ZVHANDLE zvdbAllocRecord(ZVHANDLE table);
/* Runs callback kind 3, releases the record's context, takes it off the
 * table's list and frees it with its image (unless the caller's), slots,
 * value buffers and field mask. NULL always. */
ZV_API ZVHANDLE zvdbFreeRecord(ZVHANDLE record);
/* Back to the state of a new handle: callback kind 3 first (its failure
 * stops the reset), the context released, image (unless the caller's, which
 * is let go), slots and value buffers freed, default index 0. 4024. */
ZV_API ZVDBRET zvdbResetRecord(ZVHANDLE record);
/* Resets every record of the table, stopping at the first failure. 4013. */
ZV_API ZVDBRET zvdbResetAll(ZVHANDLE table);
/* A new record of the same table sharing the source's context, with a copy
 * of its image, position, flags and default index. NULL with 4024, 4012,
 * 4001 (nothing left behind). */
ZV_API ZVHANDLE zvdbDuplicateRecord(ZVHANDLE record);
/* Packs the source and copies its image, position, new and edited flags and
 * default index into the target of the same layout; a target that is not
 * new becomes the current record of its context. 4024, 4012, 4001, 4063 a
 * caller's buffer of the target too small. */
ZV_API ZVDBRET zvdbCopyRecordBuffer(ZVHANDLE source, ZVHANDLE target);
/* The handle when it is a record (its session's instance made current). */
ZV_API ZVHANDLE zvdbGetRecordHandle(ZVHANDLE handle);
/* Makes the record's context current: 0, 4024, 4012, the context's codes. */
ZV_API ZVDBRET zvdbSwitchContext(ZVHANDLE record);
/* Position of the record in its table's list (-1 on failure); the n-th
 * record of a table (NULL when absent). */
ZV_API int32_t zvdbGetRecordNbr(ZVHANDLE record);
ZV_API ZVHANDLE zvdbGetRecord(ZVHANDLE table, int32_t n);

/* ---- The record image ---- */

/* The packed image, its data length and its allocated size, each after a
 * pack to the exact length. NULL / 0 with 4024, 4012, 4001, 4063. */
ZV_API void *zvdbGetRecordBuffer(ZVHANDLE record);
ZV_API int32_t zvdbGetRecordLength(ZVHANDLE record);
ZV_API int32_t zvdbGetRecordSize(ZVHANDLE record);
/* Lends the record a buffer of size bytes (mode word above), which becomes
 * its image: new and edited, no position, its fields read from it unless
 * raw. A NULL buffer gives the record back an image of its own, cleared.
 * 4024, 4012, 4004 size below 1, 4108 a buffer whose bytes do not hold a
 * record of the table (the record unchanged). */
ZV_API ZVDBRET zvdbSetRecordBuffer(ZVHANDLE record, void *buffer, int32_t size, uint32_t mode);
/* Copies size bytes into a new image of exactly that size and reads the
 * fields from it (edited); a record read from the table keeps its row id.
 * 4024, 4012, 4054 the record uses a caller's buffer, 4004 NULL data or size
 * below 1, 4001, 4025 no row-id slot, 4108 bytes that do not hold a record
 * of the table: a length or delimiter leading out of them (the record
 * unchanged; nothing is read past size). */
ZV_API ZVDBRET zvdbAssignRecordBuffer(ZVHANDLE record, const void *data, int32_t size);
/* Flags: 0 for a bad handle; the setters 4024. */
ZV_API int zvdbIsNewRecord(ZVHANDLE record);
ZV_API int zvdbIsEditedRecord(ZVHANDLE record);
ZV_API ZVDBRET zvdbSetNewRecord(ZVHANDLE record, int flag);
ZV_API ZVDBRET zvdbSetEditedRecord(ZVHANDLE record, int flag);
/* Packs both: 0 when they hold the same data length and the same bytes from
 * the first user field on; 4086 otherwise; 4024, 4012. */
ZV_API ZVDBRET zvdbCompareRecords(ZVHANDLE a, ZVHANDLE b);
/* The record's target-key buffer (NULL when none). */
ZV_API void *zvdbGetKeyval(ZVHANDLE record);
/* Key length of the default index; -1 with 80 in physical order, -1 for
 * another special index, -1 with 4024, 4013. */
ZV_API int32_t zvdbGetKeylen(ZVHANDLE record);

/* ---- Field geometry and masks ---- */

/* 1 when the table is variable-length and field n (counted with the hidden
 * fields before it) lies in the variable part. */
ZV_API int zvdbIsVariableField(ZVHANDLE record, int32_t n);
/* Offset of field n (its prefix) in the packed image; 0 on failure. */
ZV_API int32_t zvdbGetFieldOffset(ZVHANDLE record, int32_t n);
/* The value pointer of field n (NULL for an empty prefixed value and on
 * failure), and its slot. */
ZV_API void *zvdbGetFieldAddress(ZVHANDLE record, int32_t n);
ZV_API ZVDBFIELDSLOT *zvdbGetFieldData(ZVHANDLE record, int32_t n);
/* The value's length (callback slot 6 when set) and the defined length
 * (callback slot 1 when set); -1 with 4024, 4012, 4017. */
ZV_API int32_t zvdbGetFieldDataLength(ZVHANDLE record, int32_t n);
ZV_API int32_t zvdbGetFieldSize(ZVHANDLE record, int32_t n);
/* Masked reads fetch only the fields of the mask; typed reads of other user
 * fields give 4169. Add: 4097 during a batch, 4017 n outside the user
 * fields, 4016 already in the mask, 4001. Remove: 4097. */
ZV_API ZVDBRET zvdbAddToFieldMask(ZVHANDLE record, int32_t n);
ZV_API ZVDBRET zvdbRemoveFieldMask(ZVHANDLE record);
ZV_API int zvdbIsFieldMaskOn(ZVHANDLE record);
/* Identity values are assigned at writes; they cannot be turned off (4054). */
ZV_API ZVDBRET zvdbSetIdentityOn(ZVHANDLE record);
ZV_API ZVDBRET zvdbSetIdentityOff(ZVHANDLE record);
ZV_API int zvdbIsIdentityOff(ZVHANDLE record);
/* The row id held in "$ROWID$" (host order; a shorter field zero-extended).
 * 4024, 4012, 4066 no row-id field, 4007. */
ZV_API ZVDBRET zvdbGetRowid(ZVHANDLE record, ZVBIGINT *out);
/* 1 when field n's handle has value callbacks (slot 2 or 3); the slot's
 * type (0 when absent); virtual field information (always 0). */
ZV_API int _zvdbGetFieldAsWithCallback(ZVHANDLE record, int32_t n);
ZV_API int32_t _zvdbGetFieldDataType(ZVHANDLE record, int32_t n);
ZV_API int _zvdbGetFieldDataVirtInfo(void);

/* ---- Default index ---- */

/* 0 and 1..count-1, 10000, 10001, 10003 are taken as given; 10002 physical
 * order. 4024, 4045 another number, 4054 an index of a table opened with
 * open bit 64 (which reads in physical order only). */
ZV_API ZVDBRET zvdbSetDefaultIndex(ZVHANDLE record, int32_t n);
/* "$RECBYT$" and "$ROWID$" (any case) or an index name: 4045 unknown, 4013. */
ZV_API ZVDBRET zvdbSetDefaultIndexByName(ZVHANDLE record, const char *name);
ZV_API int32_t zvdbGetDefaultIndex(ZVHANDLE record);
ZV_API const char *zvdbGetDefaultIndexName(ZVHANDLE record);

/* ---- Navigation and search ---- */

/* Every read leaves the record read in the image, its fields read, its
 * position stored, new and edited cleared; 101 means the end of the order
 * or nothing found and keeps the stored position (a move past the end
 * keeps the image too). Records of a variable-length table are read whole: the
 * record's own image grows as needed (4063 for a caller's buffer too
 * small); a shorter record leaves the rest of the image filled with the
 * table's delimiter byte. Common codes: 4024, 4003, 4012, the engine's
 * codes of the reads (519 and 69 on a table opened with bit 4 over the
 * indexes of a killed process: see zvdbOpenTable), the callbacks' results.
 *
 * A walk follows the record's own position. A rewrite through the walking
 * record that changes its default-index key moves the walk there: the next
 * move goes on from the new key, so that the records between the old and
 * the new key are passed over (a key moved forward) or read again (moved
 * back). A rewrite through another record handle leaves the walk where it
 * was: it may then meet the rewritten record again at its new key. */

/* Moves: 1 first, 2 last, 3 next, 4 previous, 5 a jump by an offset. */
typedef int32_t ZVDB_MOVE_MODE;
/* Find modes: 0 equal, 1 less, 2 less or equal, 3 greater, 4 greater or
 * equal; 4026 for any other. On an index with duplicates, equal finds the
 * first of the equal keys, 2 the last and 3 the first key past them. */
typedef int32_t ZVFIND_MODE;

/* Moves in the record's order: its default index (10002 physical order),
 * or its range or key-prefix set when one is active. */
ZV_API ZVDBRET zvdbFirstRecord(ZVHANDLE record);
ZV_API ZVDBRET zvdbLastRecord(ZVHANDLE record);
ZV_API ZVDBRET zvdbNextRecord(ZVHANDLE record);
ZV_API ZVDBRET zvdbPrevRecord(ZVHANDLE record);
/* The record offset records from the current one (4004 for 0); on failure
 * the record the jump started from is read again and the jump's code
 * returned (4025 when that read fails too). */
ZV_API ZVDBRET zvdbJumpToRecord(ZVHANDLE record, int32_t offset);

/* Finds on the default index by the key of the record's fields: 4048 a
 * table without indexes or a default index without a key, 80 physical
 * order, 4026. */
ZV_API ZVDBRET zvdbFindRecord(ZVHANDLE record, ZVFIND_MODE mode);
/* By a key-form target the caller built (4007 NULL). */
ZV_API ZVDBRET zvdbFindTarget(ZVHANDLE record, const void *target, ZVFIND_MODE mode);
/* The default index's key of the record's fields for a find of the mode,
 * into target of *length bytes; *length becomes the key length. 4008 NULL
 * target or length, 4006 a shorter area (*length the key length), 4048, 80. */
ZV_API ZVDBRET zvdbBuildTargetKey(ZVHANDLE record, ZVFIND_MODE mode, void *target, int32_t *length);
/* The record with this row id ("$ROWID$" index), the default index kept:
 * 4066 a table without row ids. */
ZV_API ZVDBRET zvdbFindRowid(ZVHANDLE record, ZVBIGINT rowid, ZVFIND_MODE mode);
/* Finds without reading: the position of the key found into *position, the
 * key into the record's key buffer (zvdbGetKeyval); the image is left
 * alone. 4007 NULL position or target. */
ZV_API ZVDBRET zvdbFindKey(ZVHANDLE record, uint64_t *position, ZVFIND_MODE mode);
ZV_API ZVDBRET zvdbFindTargetKey(ZVHANDLE record, const void *target, uint64_t *position, ZVFIND_MODE mode);
/* Key moves on the default index, the same way. */
ZV_API ZVDBRET zvdbFirstKey(ZVHANDLE record, uint64_t *position);
ZV_API ZVDBRET zvdbLastKey(ZVHANDLE record, uint64_t *position);
ZV_API ZVDBRET zvdbNextKey(ZVHANDLE record, uint64_t *position);
ZV_API ZVDBRET zvdbPrevKey(ZVHANDLE record, uint64_t *position);

/* Reads by record position: the record at position (made current);
 * the record at the stored position again. */
ZV_API ZVDBRET zvdbSeekRecord(ZVHANDLE record, uint64_t position);
ZV_API ZVDBRET zvdbReadRecord(ZVHANDLE record);
/* The stored position (0: none): 4007. */
ZV_API ZVDBRET zvdbGetRecordPos(ZVHANDLE record, uint64_t *position);
/* Makes position current with the record's image, without reading, and
 * stores it; Offset only stores it. */
ZV_API ZVDBRET zvdbSetRecordPos(ZVHANDLE record, uint64_t position);
ZV_API ZVDBRET zvdbSetRecordOffset(ZVHANDLE record, uint64_t position);

/* Blocking read: finds and moves read through the engine's blocking read
 * with a wait parameter and a condition (copied; NULL an empty one). On
 * 4012, 4001; Off ends it. */
ZV_API ZVDBRET zvdbRecordBlockingReadOn(ZVHANDLE record, int32_t wait, const char *condition);
ZV_API ZVDBRET zvdbRecordBlockingReadOff(ZVHANDLE record);
ZV_API int zvdbIsRecordBlockingReadOn(ZVHANDLE record);

/* ---- Positions and counts ---- */

/* The ordinal (from 1) of the current record's key in the default index:
 * 80, 4048, 4007, 101 none. */
ZV_API ZVDBRET zvdbGetRecordKeyPos(ZVHANDLE record, uint64_t *ordinal);
/* Reads the first record, then gives the position of the record the low 32
 * bits of *position entries after it in *position: 4046 none, 80, 4048. */
ZV_API ZVDBRET zvdbRecordPosAtOffset(ZVHANDLE record, uint64_t *position);
/* Reads the record at percent (0..100) of the default index. */
ZV_API ZVDBRET zvdbRecordAtPercentile(ZVHANDLE record, int32_t percent);
/* The engine's estimate of the keys between two key-form targets; 0 with
 * the engine's code kept. */
ZV_API int64_t zvdbEstimateSpan(ZVHANDLE record, const void *key1, const void *key2);
/* The table's records: the entries of "$RECBYT$", "$ROWID$" or an index
 * whose entries count every record, else the data file's count. 4007;
 * 4155 on a multi-record-type table (the count is stored). */
ZV_API ZVDBRET zvdbGetRecordCount(ZVHANDLE record, uint64_t *count);
/* Key entries of user index n; -1 with 4013, 4045 n out of range, 4018, the
 * engine's code. */
ZV_API int64_t zvdbNumberOfKeyEntries(ZVHANDLE table, int32_t n);

/* ---- Writing, deleting and locking ---- */

/* Adds a new record or rewrites the record read, when edited (else 0, and
 * nothing is written). The identity field, when the table has one, gets
 * its value from the engine and is not null. On failure new, edited and
 * the position stay; a key refused gives the engine's code (2 a duplicate
 * key) with zvdbGetErrorIndex naming the index (0..n-1, 10000, 10001; -1
 * otherwise). 4169 with a field mask, 4014 the identity field missing. A
 * rewrite that changes the key of the record's default index moves its
 * walk to the new key ("Navigation and search" above). */
ZV_API ZVDBRET zvdbWriteRecord(ZVHANDLE record);
/* Deletes the record read (a new record: 0, nothing deleted); the image
 * keeps it. 4169 with a field mask. */
ZV_API ZVDBRET zvdbDeleteRecord(ZVHANDLE record);
/* Empties the record: every byte zeroed, texts empty, numbers the zero
 * number, fixed-length texts padded when the table pads and keeps no null
 * bits, every field null; new, not edited. */
ZV_API ZVDBRET zvdbClearRecord(ZVHANDLE record);
/* Empties field n (its clear callback, slot 5, when it has one) and marks
 * it null; a record read becomes edited. 4017, 4025 a type without an
 * empty value. */
ZV_API ZVDBRET zvdbClearField(ZVHANDLE record, int32_t n);
/* Record locks, modes 0 (release) to 4: 4055 another mode, 4012 a new
 * record, 4013. */
ZV_API ZVDBRET zvdbLockRecord(ZVHANDLE record, int32_t mode);
ZV_API ZVDBRET zvdbUnlockRecord(ZVHANDLE record);
/* The lock held on the current record (0: none, also without position). */
ZV_API int zvdbGetRecordLock(ZVHANDLE record);
/* The index whose key refused the last write; -1 none or a bad handle. */
ZV_API int32_t zvdbGetErrorIndex(ZVHANDLE record);

/* ---- Debug dumps into the trace file "zvdbdbug.txt" ---- */

/* The result of a call and the record's state with the first bytes of its
 * image; its fields and values. Records of "zvdbdict" are not dumped. */
ZV_API void _zvdbRecordDebugCall(const char *callname, ZVHANDLE record, ZVDBRET code);
ZV_API void _zvdbDEBUGData(ZVHANDLE record);

/* ---- Typed field access ---- */

/* Field n of the record read as a C type, converted from the field's type.
 * Common codes: 4024, 4013, 4012, 4169 masked, 4017 no field n, 4007 (Date,
 * Time, TimeMsec) or 4008 (others) NULL output, 4019 no reading of the type
 * this way, 4042 no such conversion, 4038 text out of range, the value
 * routines' codes. Hidden fields read by their own type. The null flag is
 * not consulted. */
ZV_API ZVDBRET zvdbGetFieldAsBool(ZVHANDLE record, int32_t n, uint32_t *out);
ZV_API ZVDBRET zvdbGetFieldAsSigned(ZVHANDLE record, int32_t n, int32_t *out);
ZV_API ZVDBRET zvdbGetFieldAsUnsigned(ZVHANDLE record, int32_t n, uint32_t *out);
ZV_API ZVDBRET zvdbGetFieldAsDate(ZVHANDLE record, int32_t n, ZVDATE *out);
/* Seconds; TimeMsec milliseconds. */
ZV_API ZVDBRET zvdbGetFieldAsTime(ZVHANDLE record, int32_t n, ZVTIME *out);
ZV_API ZVDBRET zvdbGetFieldAsTimeMsec(ZVHANDLE record, int32_t n, ZVTIME *out);
ZV_API ZVDBRET zvdbGetFieldAsMoney(ZVHANDLE record, int32_t n, ZVMONEY *out);
ZV_API ZVDBRET zvdbGetFieldAsFloat(ZVHANDLE record, int32_t n, double *out);
/* A date, time or millisecond time replaces that part of *out only. */
ZV_API ZVDBRET zvdbGetFieldAsDateTime(ZVHANDLE record, int32_t n, ZVDATETIME *out);
ZV_API ZVDBRET zvdbGetFieldAsBigint(ZVHANDLE record, int32_t n, ZVBIGINT *out);
ZV_API ZVDBRET zvdbGetFieldAsUnsignedBigint(ZVHANDLE record, int32_t n, ZVUBIGINT *out);
ZV_API ZVDBRET zvdbGetFieldAsCurrency(ZVHANDLE record, int32_t n, ZVCURRENCY *out);
/* 4144 for a result longer than 17 bytes. */
ZV_API ZVDBRET zvdbGetFieldAsNumber(ZVHANDLE record, int32_t n, tagZVNUMBER *out);
/* Text of the value with its terminator within size bytes: 4006 when a
 * formatted value does not fit (nothing written past size), 4052 a text
 * value cut to size - 1 bytes and terminated, 4059 ZV_TIME_MS. */
ZV_API ZVDBRET zvdbGetFieldAsString(ZVHANDLE record, int32_t n, char *buffer, int32_t size);
/* A ZV_JSON field's text as above; 4059 for the other types. */
ZV_API ZVDBRET zvdbGetFieldAsJSON(ZVHANDLE record, int32_t n, char *buffer, int32_t size);
/* The field's bytes in host order (numbers at their width, texts their data). */
ZV_API ZVDBRET zvdbGetFieldAsBlob(ZVHANDLE record, int32_t n, tagZVBLOB *blob);
/* The same into a buffer: 4008 NULL buffer or size below 1, 4006 more bytes
 * than size. */
ZV_API ZVDBRET zvdbGetFieldAsBinary(ZVHANDLE record, int32_t n, void *buffer, int32_t size);
/* 1 when field n's bit of "$NULFLD$" is set (or its null callback says so);
 * 0 otherwise, with 4017 for n outside the user fields. */
ZV_API int zvdbIsNullField(ZVHANDLE record, int32_t n);
/* The field number of the field so named (any case); -1 when none, or with
 * 4024, 4007. */
ZV_API int32_t zvdbGetFieldNumberByName(ZVHANDLE record, const char *name);

/* Field n of the record written from a C type, converted into the field's
 * type; the record becomes edited and the field's null bit is cleared.
 * Nothing of this happens on failure (a fixed-part byte may be written).
 * Common codes: 4024, 4013, 4012, 4017 (hidden fields too), 4019 the field
 * does not take the value this way, 4025 a type the setter does not know,
 * 4042 no such conversion, 4043 text too long, 4038 out of range, the value
 * routines' codes. */
ZV_API ZVDBRET zvdbSetFieldAsBool(ZVHANDLE record, int32_t n, int32_t value);
ZV_API ZVDBRET zvdbSetFieldAsSigned(ZVHANDLE record, int32_t n, int32_t value);
ZV_API ZVDBRET zvdbSetFieldAsUnsigned(ZVHANDLE record, int32_t n, uint32_t value);
ZV_API ZVDBRET zvdbSetFieldAsDate(ZVHANDLE record, int32_t n, ZVDATE value);
/* Seconds; TimeMsec milliseconds (4147 into ZV_TIME). Into a date-time the
 * time part of the stored value is replaced. */
ZV_API ZVDBRET zvdbSetFieldAsTime(ZVHANDLE record, int32_t n, ZVTIME value);
ZV_API ZVDBRET zvdbSetFieldAsTimeMsec(ZVHANDLE record, int32_t n, ZVTIME value);
ZV_API ZVDBRET zvdbSetFieldAsMoney(ZVHANDLE record, int32_t n, ZVMONEY value);
/* Into ZV_MONEY rounded half away from zero (4038 out of range, 4060 NaN). */
ZV_API ZVDBRET zvdbSetFieldAsFloat(ZVHANDLE record, int32_t n, double value);
ZV_API ZVDBRET zvdbSetFieldAsDateTime(ZVHANDLE record, int32_t n, ZVDATETIME value);
ZV_API ZVDBRET zvdbSetFieldAsBigint(ZVHANDLE record, int32_t n, ZVBIGINT value);
ZV_API ZVDBRET zvdbSetFieldAsUnsignedBigint(ZVHANDLE record, int32_t n, ZVUBIGINT value);
ZV_API ZVDBRET zvdbSetFieldAsCurrency(ZVHANDLE record, int32_t n, ZVCURRENCY value);
/* 4007 NULL number. */
ZV_API ZVDBRET zvdbSetFieldAsNumber(ZVHANDLE record, int32_t n, const tagZVNUMBER *value);
/* 4007 NULL text. A fixed-length text field takes the text cut to its
 * length; a ZV_STRING refuses a text holding the table's delimiter byte
 * (4004); ZV_BOOL takes "TRUE", "YES", "1", "FALSE", "NO", "0" (letters in
 * any case), else 4042. */
ZV_API ZVDBRET zvdbSetFieldAsString(ZVHANDLE record, int32_t n, const char *text);
/* A ZV_JSON field's text: 4007 NULL, 4059 another field type. */
ZV_API ZVDBRET zvdbSetFieldAsJSON(ZVHANDLE record, int32_t n, const char *text);
/* The blob's bytes as the field's bytes (numbers take their width, texts
 * their data; a ZV_STRING drops trailing delimiter bytes): 4008 NULL blob. */
ZV_API ZVDBRET zvdbSetFieldAsBlob(ZVHANDLE record, int32_t n, const tagZVBLOB *blob);
ZV_API ZVDBRET zvdbSetFieldAsBinary(ZVHANDLE record, int32_t n, const void *data, int32_t size);


/* ------------------------------------------------------------------------ */
/* Filters, expressions, key-prefix sets, ranges, locate criteria, result   */
/* sets and batches of records.                                             */
/*                                                                           */
/* Each narrows what the moves of one record return: the engine applies a   */
/* record's filter to every read in the record's own ISAM context (another  */
/* record of the table is not narrowed by it); a key-prefix set or a range  */
/* replaces the default index's whole order. Common codes: 4024 no record,  */
/* 4013 no table, 4012 the table is not open; engine codes pass unchanged.  */
/* ------------------------------------------------------------------------ */

/* ---- Filters ---- */

/* The expression language of filters, conditions (zvdbCndxCompile) and
 * conditional indexes:
 *  - operators, loosest first: OR (||); AND (&&); |; ^; &; == (=), !=
 *    (<>, ^=); < > <= >=; + -; * / % (all left-associative); unary !
 *    (NOT), ~, +, -; casts (int), (unsigned), (double) and CAST(x AS type)
 *    or CAST(x, type) with type one of BIGINT BINARY BIT CHAR CHARACTER
 *    DATE DECIMAL FLOAT INTEGER LVARBINARY LVARCHAR MONEY NUMBER NUMERIC
 *    REAL SMALLINT TIME TIMESTAMP TINYINT VARBINARY VARCHAR; "name IS
 *    NULL", "name IS NOT NULL"; parentheses.
 *  - literals: integers (decimal, 0x hex; from 10 digits a number), numbers
 *    with a decimal point or exponent, texts in double quotes with C
 *    escapes, a character in single quotes ('A' is 65), dates,
 *    times and date-times in single quotes ('2024-03-01', '12:30:00') or as
 *    {d '...'}, {t '...'}, {ts '...'}.
 *  - names: the table's field names (letters, digits, '_' and '.', or any
 *    text in [ ]); any letter case for keywords and functions.
 *  - functions: ABS ACOS ADD_DAYS ADD_MONTHS ASCII ASIN ATAN ATOF ATOI
 *    ATOL CEIL CEILING CHR CONCAT COS CURDATE CURTIME DAYNAME DAYOFMONTH
 *    DAYOFWEEK DAYOFYEAR EXP FABS FIELD FLOOR FMOD HOUR INSERT LABS
 *    LAST_DAY LEFT LENGTH LOCATE LOG10 LOWER LPAD LTRIM MATCH MATCHI MEMCMP
 *    MINUTE MOD MONTH MONTHNAME NOW PI POWER QUARTER RAND REPEAT RIGHT
 *    ROWID RPAD RTRIM SECOND SIGN SIN SPACE SQRT STRCMP STRICMP STRLEN
 *    STRNCMP STRNICMP SUBSTRING SYSDATE SYSTIME SYSTIMESTAMP TAN
 *    TIMET2ZVDATE TIMET2ZVTIME TIMET2ZVTIMES UPPER WEEK YEAR, and those
 *    added with zvdbAddUserDefFunc.
 * A text that does not parse, or names no field of the table, gives 597.
 * Example: id > 2 AND STRNCMP(name, "tea", 3) == 0.
 *
 * Replaces the record's filter. Type 1: text is an expression, copied (an
 * empty text sets none); type 2: text is a parse tree (zvdbpt.h) handed to
 * the engine, which frees it when the filter is cleared or replaced; type 0
 * or a NULL text: no filter. The old filter is cleared in the engine first;
 * when that fails its code is returned and the old filter stays. 4059 while
 * a result set drives the filter, 4054 on a virtual table, 4025 any other
 * type (the old filter removed). */
ZV_API ZVDBRET zvdbSetFilter(ZVHANDLE record, const char *text, int32_t type);
/* zvdbSetFilter with type 1. */
ZV_API ZVDBRET zvdbFilterRecord(ZVHANDLE record, const char *text);
/* The filter the caller set: the base filter kept under locate criteria or
 * a result set when there is one, else the filter text (a type-2 filter's
 * parse tree); NULL when none. */
ZV_API const char *zvdbGetFilter(ZVHANDLE record);
ZV_API int zvdbIsFilteredRecord(ZVHANDLE record);
ZV_API int32_t zvdbGetFilterType(ZVHANDLE record);
/* The type filter of a multi-record-type table as the record's filter;
 * 4004 on any other table. */
ZV_API ZVDBRET zvdbMTRFilter(ZVHANDLE record);
/* zvdbMTRFilter on every record of a multi-record-type table with a type
 * filter: 0 or the first failure; 0 on other tables. */
ZV_API ZVDBRET zvdbFilterAll(ZVHANDLE table);

/* ---- Conditional and record expressions ---- */

/* Compiles a condition for the record (against its table's fields): 4007
 * NULL, 4004 empty, 4001, 4071 plus the parser's error. A text beginning
 * with "@" names a filter callback. */
ZV_API ZVDBRET zvdbCndxCompile(ZVHANDLE record, const char *text);
/* Evaluates the compiled condition on the record's image: 0 true, 4071
 * false or nothing compiled, 4071 + e when the evaluator failed with e. */
ZV_API ZVDBRET zvdbCndxEval(ZVHANDLE record);
ZV_API ZVDBRET zvdbCndxFree(ZVHANDLE record);
/* The compiled text; NULL when none. */
ZV_API const char *zvdbCndxGetExpression(ZVHANDLE record);
/* Evaluates the table's record expression n (zvdbParseRecordExpr) on the
 * record and gives its value in the form asked: 4004 no expression n, 4007
 * NULL output, 4071 + e an evaluation error e, 4025 no value, 4038 a value
 * beyond 32 bits. The string form is cut to size - 1 bytes (4006 size
 * below 1). */
ZV_API ZVDBRET zvdbEvalExprAsSigned(ZVHANDLE record, int32_t n, int32_t *out);
ZV_API ZVDBRET zvdbEvalExprAsDate(ZVHANDLE record, int32_t n, ZVDATE *out);
ZV_API ZVDBRET zvdbEvalExprAsTime(ZVHANDLE record, int32_t n, ZVTIME *out);
ZV_API ZVDBRET zvdbEvalExprAsDateTime(ZVHANDLE record, int32_t n, ZVDATETIME *out);
ZV_API ZVDBRET zvdbEvalExprAsNumber(ZVHANDLE record, int32_t n, tagZVNUMBER *out);
ZV_API ZVDBRET zvdbEvalExprAsString(ZVHANDLE record, int32_t n, char *buffer, int32_t size);

/* ---- Key-prefix sets and ranges ---- */

/* Moves return only the records whose default-index key shares its first
 * prefix bytes with the key of the record's image now: 4048 no index (or
 * a default index without a key), 80 physical order, 4004 a negative
 * prefix, 4043 a prefix longer than the key. */
ZV_API ZVDBRET zvdbRecordSetOn(ZVHANDLE record, int32_t prefix);
ZV_API ZVDBRET zvdbRecordSetOff(ZVHANDLE record);
ZV_API int zvdbIsRecordSetOn(ZVHANDLE record);
/* Moves return only the default index's keys in the range: one operator
 * word per segment (193 =, 38 <>, 130 >, 195 >=, 196 <=, 69 <, 199 low to
 * high, 72 low included to high excluded, 137 low excluded to high
 * included, 10 strictly between, 43 below low or above high) with the
 * values in key form in low and high (high may be NULL when no operator
 * needs it). 4004 segments below 1, 4008 NULL low or operators, 4048 no
 * index. Xtd keeps bit 0 of options. */
ZV_API ZVDBRET zvdbRecordRangeOn(ZVHANDLE record, int32_t segments, const void *low, const void *high,
                                const int32_t *operators);
ZV_API ZVDBRET zvdbRecordRangeXtdOn(ZVHANDLE record, int32_t segments, const void *low, const void *high,
                                   const int32_t *operators, int32_t options);
ZV_API ZVDBRET zvdbRecordRangeOff(ZVHANDLE record);
ZV_API int zvdbIsRecordRangeOn(ZVHANDLE record);

/* ---- Full-text search: not available in this library (4054) ---- */

ZV_API ZVDBRET zvdbFTSearchOn(ZVHANDLE record, const char *query, int32_t options);
ZV_API ZVDBRET zvdbGetFTSErrorDetails(ZVHANDLE record, int32_t *code, int32_t *position);
ZV_API ZVDBRET zvdbFTSearchOff(ZVHANDLE record);
ZV_API int zvdbIsFTSearchOn(ZVHANDLE record);
/* 0 <= n <= the table's full-text index count, else 4005. */
ZV_API ZVDBRET zvdbSetDefaultFTI(ZVHANDLE record, int32_t n);

/* ---- Locate criteria ---- */

/* Locate modes: 0 exact, 1 exact in any case, 2 prefix, 3 prefix in any
 * case; they apply to fields of the string types. A value of any other
 * field must be one literal (an optional sign and a decimal or "0x"
 * number, or a single-quoted date or time), else 4004; a text value is
 * matched as it is, whatever characters it holds. */
typedef int32_t ZVDB_LOCATE_MODE;
/* Adds a field name and value pair (both copied): 4007, 4001. */
ZV_API ZVDBRET zvdbAddLocateCriteria(ZVHANDLE record, const char *field, const char *value);
/* Chooses the index that best fits the criteria's fields as the record's
 * default index (physical order when none fits), then as Update. 4004 no
 * criteria. */
ZV_API ZVDBRET zvdbSetRecordCriteria(ZVHANDLE record, ZVDB_LOCATE_MODE mode);
/* Filters the record by the criteria, joined by "&&" after the filter it
 * had before the first criteria (its base filter), and on the chosen index
 * writes the criteria's values into the record and starts a key-prefix set
 * over the leading segments they fill. 4004 no criteria, 4017 a name that
 * is no field of the table. */
ZV_API ZVDBRET zvdbUpdateRecordCriteria(ZVHANDLE record, ZVDB_LOCATE_MODE mode);
/* Reads into the record the first record matching the criteria that its
 * own filter and set accept: 1 found, 0 not (the code kept: 101 none,
 * else the failure). The criteria are consumed. */
ZV_API int zvdbLocateRecord(ZVHANDLE record, ZVDB_LOCATE_MODE mode);
/* The index that best fits the fields named in a NULL-terminated array,
 * or NULL. */
ZV_API ZVHANDLE zvdbGetBestIndex(ZVHANDLE record, const char *const *names, ZVDB_LOCATE_MODE mode);

/* ---- Result sets ---- */

/* Criterion operators: as the range operators, a single value for 193,
 * 38, 130, 195, 196, 69 and two for 199, 72, 137, 10, 43; but 43 here is
 * below the first value and above the second ("< v1 && > v2"), so it
 * selects nothing when the first value is below the second. */
typedef int32_t ZVDB_CRITERIA_OP;
/* A new result set of the table with a name no other of its sets has
 * (compared with case): 4004 the name is taken, 4007, 4001. */
ZV_API ZVHANDLE zvdbAllocateResultSet(ZVHANDLE table, const char *name);
ZV_API ZVHANDLE zvdbGetResultSetByName(ZVHANDLE table, const char *name);
/* Adds a criterion on a field of the set's table (values copied; an empty
 * second value is none): 4090 not a result set, 4017 not a field, 4014 a
 * field of another table, 4004 an operator outside the eleven, 4001. */
ZV_API ZVHANDLE zvdbAddCriteria(ZVHANDLE resultset, ZVHANDLE field, const char *value1, const char *value2,
                                ZVDB_CRITERIA_OP op);
/* Replaces a criterion's values (NULL first value: the empty text; NULL or
 * empty second value: none): 4090, 4001. */
ZV_API ZVDBRET zvdbUpdateCriteria(ZVHANDLE criterion, const char *value1, const char *value2);
ZV_API ZVDBRET zvdbRemoveCriteria(ZVHANDLE resultset, ZVHANDLE criterion);
/* Frees the set and its criteria; a record it drives keeps its filter as
 * its own. */
ZV_API ZVDBRET zvdbFreeResultSet(ZVHANDLE resultset);
/* On: the criteria become the record's filter (compare mode as the locate
 * modes; 4004 another mode on a string field) and, with chooseIndex, the
 * index that best fits them its default index (physical order when none
 * does). 4059 a record with a filter of its own, 4004 no criteria or a
 * record of another table. Off: the record's filter is removed. */
ZV_API ZVDBRET zvdbResultSetOnOff(ZVHANDLE resultset, ZVHANDLE record, int32_t on, int32_t chooseIndex,
                                  ZVDB_LOCATE_MODE mode);
ZV_API ZVHANDLE zvdbGetActiveResultSet(ZVHANDLE record);

/* ---- Batches ---- */

/* Batch mode word: the low byte the operation, with option bits. */
typedef uint32_t ZVBATCH_MODE;
#define ZVBATCH_BY_PREFIX   1         /* retrieve the records of a key prefix */
#define ZVBATCH_BY_RANGE    2         /* retrieve the records of the range of the default index */
#define ZVBATCH_PHYSICAL    3         /* retrieve in the order the records are stored */
#define ZVBATCH_DELETE      4         /* delete the records of a key prefix */
#define ZVBATCH_INSERT      5         /* insert the records given */
#define ZVBATCH_UPDATE      6         /* rewrite the records given (by a unique default index) */
#define ZVBATCH_GROW        0x80000   /* the buffer grows when an entry needs it */
#define ZVBATCH_COMPACT     0x200000  /* retrieval: positions only */
/* Starts a batch. Key prefixes are the first target bytes of the default
 * index's key of the record's image. bufferSize 0: a buffer of 128 records
 * that grows (ZVBATCH_GROW is added). 4097 a batch is active, 4098 a bad
 * operation, 4054 a field mask (or operations 3 to 6 under a batch filter
 * or range), 80 physical order for a key prefix, 4043 target longer than
 * the key, 4154 no batch number, 4001. */
ZV_API ZVDBRET zvdbSetBatch(ZVHANDLE record, ZVBATCH_MODE mode, int32_t target, int32_t bufferSize);
/* Loads the next record of a retrieval batch: 0, 428 when no record is
 * left (the record keeps the last one, the batch stays until ended), 4096
 * no batch, 4098 not a retrieval. */
ZV_API ZVDBRET zvdbNextBatch(ZVHANDLE record);
/* Appends the record's image to an insert or update batch; a full buffer
 * is handed to the engine first. A failed hand-over returns its code,
 * keeps the records the engine did not take and does not append. 4096,
 * 4098. */
ZV_API ZVDBRET zvdbInsertBatch(ZVHANDLE record);
/* Hands over what waits, ends the batch in the engine and gives its
 * number back: 0 or the first failure (the batch ends in any case). */
ZV_API ZVDBRET zvdbEndBatch(ZVHANDLE record);
/* Counts of an active retrieval batch (records left in the buffer, locked,
 * selected), else 0; -4024 for a bad handle. */
ZV_API int32_t zvdbBatchLoaded(ZVHANDLE record);
ZV_API int32_t zvdbBatchLocked(ZVHANDLE record);
ZV_API int32_t zvdbBatchTotal(ZVHANDLE record);
ZV_API ZVBATCH_MODE zvdbBatchMode(ZVHANDLE record);
ZV_API int zvdbIsBatchActive(ZVHANDLE record);
/* A filter for the retrievals of the next batches (NULL or "" removes it):
 * 4097, 4170 a batch filter or a record filter is set, 4001. */
ZV_API ZVDBRET zvdbSetBatchFilter(ZVHANDLE record, const char *text);
/* A range for the retrievals of the next batches, as zvdbRecordRangeOn
 * with keys of the default index's key length (copied): 4097, 4004, 4170
 * a range is set, 4008, 608 more segments than the default index has (no
 * operator word is read), 4001. */
ZV_API ZVDBRET zvdbSetBatchRangeOn(ZVHANDLE record, int32_t segments, const void *low, const void *high,
                                  const int32_t *operators);
ZV_API ZVDBRET zvdbSetBatchRangeOff(ZVHANDLE record);

#ifdef __cplusplus
}
#endif

#endif /* ZARVO_ZVDB_H */
