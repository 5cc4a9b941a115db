/*
 * zvtypes.h - field type codes of record schemas.
 *
 * One code per field type of a record schema. The engine reads them when it
 * forms keys from schema fields and walks records; the record-level API
 * uses them for the fields of its tables. Both public headers include this
 * one (zarvo.h and zvdb.h).
 *
 * A code's value divided by 8 is its type class: the classes decide field
 * widths and key transforms. The codes 177 to 207 are the classes of
 * wide-character strings (2-byte units): 185 is a string of 2-byte units
 * ended by a zero unit, 201 one with a 16-bit byte count before it.
 *
 * This header compiles as C11 and as C++.
 */
#ifndef ZARVO_ZVTYPES_H
#define ZARVO_ZVTYPES_H

#ifdef __cplusplus
extern "C" {
#endif

enum ZVFIELDTYPE_CODE {
    ZV_BOOL = 8,        /* boolean byte */
    ZV_CHAR = 16,       /* 1-byte signed integer */
    ZV_CHARU = 24,      /* 1-byte unsigned integer */
    ZV_INT2 = 33,       /* 2-byte signed integer */
    ZV_INT2U = 41,      /* 2-byte unsigned integer */
    ZV_INT4 = 51,       /* 4-byte signed integer */
    ZV_INT4U = 59,      /* 4-byte unsigned integer */
    ZV_MONEY = 67,      /* money (hundredths), 4 bytes */
    ZV_DATE = 75,       /* date (day number), 4 bytes */
    ZV_TIME = 83,       /* time of day, 4 bytes */
    ZV_SFLOAT = 91,     /* 4-byte float */
    ZV_DFLOAT = 103,    /* 8-byte float */
    ZV_NUMBER = 105,    /* decimal number value, 20 bytes */
    ZV_EFLOAT = 119,    /* extended float */
    ZV_TIMES = 124,     /* date-time stamp, 8 bytes */
    ZV_ARRAY = 128,     /* fixed-length bytes */
    ZV_CURRENCY = 143,  /* currency (scaled 64-bit) */
    ZV_FSTRING = 144,   /* fixed-length string */
    ZV_STRING = 146,    /* variable-length string ended by the delimiter byte */
    ZV_FPSTRING = 152,  /* fixed-length string with a 1-byte length prefix */
    ZV_PSTRING = 154,   /* variable-length string with a 1-byte length prefix */
    ZV_F2STRING = 160,  /* fixed-length string with a 2-byte length prefix */
    ZV_2STRING = 162,   /* variable-length string with a 2-byte length prefix */
    ZV_F4STRING = 168,  /* fixed-length string with a 4-byte length prefix */
    ZV_4STRING = 170,   /* variable-length string with a 4-byte length prefix */
    ZV_BIGINT = 231,    /* 8-byte signed integer */
    ZV_UBIGINT = 239,   /* 8-byte unsigned integer */
    ZV_TIMES_MS = 257,  /* date-time stamp with milliseconds, 8 bytes */
    ZV_TIME_MS = 258,   /* time of day with milliseconds, 4 bytes */
    ZV_JSON = 259       /* JSON text with a 4-byte length prefix */
};

#ifdef __cplusplus
}
#endif

#endif /* ZARVO_ZVTYPES_H */
