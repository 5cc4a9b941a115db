/*
 * zvdb.hpp - the object layer: C++ classes over the record-level API.
 *
 * Every class that stands for a record-level handle derives from ZVBase,
 * except ZVResource. A failing call throws a ZVException by value (only
 * ZVRecord::GetRecordKeyPos throws a heap pointer to one) carrying the
 * result code, a fixed message, the name of the throwing module and a line
 * number.
 * Text travels as ZVString; values of the record-level value types as
 * ZVBigint, ZVCurrency, ZVMoney, ZVNumber, ZVDate, ZVTime, ZVDateTime and
 * ZVBlob.
 *
 * Binary interface: each class holds a virtual-table pointer and exactly the
 * members declared here, and its virtual functions are declared in their
 * slot order. Both are fixed: a class derived by an application, or built
 * against an older copy of this header, relies on them. The string and
 * value classes have no virtual function but their destructors.
 *
 * Storage of strings, numbers and blobs comes from the record-level
 * allocator (_zvdb_alloc, _zvdb_free).
 */
#ifndef ZARVO_ZVDB_HPP
#define ZARVO_ZVDB_HPP

#include "zarvo.h" /* DATOBJ, IFIL */
#include "zvdb.h"

class ZVString;
class ZVBigint;
class ZVCurrency;
class ZVMoney;
class ZVNumber;
class ZVDate;
class ZVTime;
class ZVDateTime;
class ZVBlob;
// The library's own access to the value held by a value class.
class ZVValueAccess;

/* ------------------------------------------------------------------------ */
/* Exception.                                                                */
/* ------------------------------------------------------------------------ */

// A failure of the object layer. Thrown and caught by value (or reference);
// not derived from std::exception. The texts are constant texts, not owned.
class ZV_API ZVException {
public:
    // Message "", source "", line 0.
    explicit ZVException(int code);
    // Source "", line 0.
    ZVException(int code, const char *message);
    // Message "".
    ZVException(int code, const char *sourcepath, int line);
    // The source name is the part of sourcepath after its last '/', or ""
    // when it has none. A null text counts as "".
    ZVException(int code, const char *message, const char *sourcepath, int line);
    virtual ~ZVException() noexcept;

    virtual int GetErrorCode() const;
    virtual const char *GetErrorMsg() const;
    virtual const char *GetSourceFile() const;
    virtual int GetLineNbr() const;

private:
    int code;
    const char *message;
    const char *source;
    int line;
};

/* ------------------------------------------------------------------------ */
/* Strings.                                                                  */
/* ------------------------------------------------------------------------ */

// A NUL-terminated byte string in a buffer of the record-level allocator.
// A string may have no storage at all (c_str() is then null): its length is
// 0 and it is empty, yet it orders before an empty string with storage.
// Positions and lengths are int; a position out of range throws 4005, a
// failed allocation 4001.
class ZV_API ZVString {
public:
    ZVString();
    // A copy; null gives no storage.
    ZVString(const char *text);
    // A zeroed buffer of n + 1 bytes holding at most n bytes of text (fewer
    // when its NUL comes first).
    ZVString(const char *text, int n);
    ZVString(const ZVString &other);
    // "%d" and "%f" texts.
    explicit ZVString(int value);
    explicit ZVString(double value);
    virtual ~ZVString() noexcept;

    // The buffer; null without storage.
    const char *c_str() const;
    int Length() const;
    bool IsEmpty() const;

    void Copy(const char *text);
    void Copy(const ZVString &other);
    void Copy(int value);
    void Copy(double value);
    ZVString &operator=(const char *text);
    ZVString &operator=(const ZVString &other);

    // The C library's byte comparison; without storage orders first.
    int Compare(const ZVString &other) const;
    // -1, 0 or 1, ignoring case; the same rule for strings without storage.
    int CompareIC(const ZVString &other) const;
    bool operator<(const ZVString &other) const;
    bool operator<=(const ZVString &other) const;
    bool operator>(const ZVString &other) const;
    bool operator>=(const ZVString &other) const;
    bool operator==(const ZVString &other) const;
    bool operator!=(const ZVString &other) const;

    // The byte at i, 0 <= i <= Length() (Length() is the terminating NUL).
    char &operator[](int i);
    // Removes count bytes at pos (0 <= pos <= Length()); a count of 0 or
    // less removes nothing.
    void Delete(int pos, int count);
    // Inserts s before pos (0 <= pos <= Length()).
    void Insert(const ZVString &s, int pos);
    // Whether the byte at i (0 <= i < Length()) occurs in set.
    bool IsDelimiter(const ZVString &set, int i) const;
    // Whether the byte at i (0 <= i < Length()) is '/'.
    bool IsPathDelimiter(int i) const;
    // The last byte; null for an empty string.
    char *LastChar() const;
    // Position of the last byte that occurs in set; -1 when none.
    int LastDelimiter(const ZVString &set) const;
    // Position of the first occurrence of s; -1 when none.
    int Pos(const ZVString &s) const;

    void LowerCase();
    void UpperCase();
    void TrimLeft();
    void TrimRight();
    void Trim();
    // The C library's conversions; 0 without storage.
    int ToInt() const;
    double ToDouble() const;

    // Release the buffer: no storage afterwards.
    void Free();
    void Empty();
    // Negative: nothing; 0: no storage; else cuts or extends with NULs.
    void SetLength(int n);
    // Pads with c to length n, on the left or on the right.
    void PadLeft(int n, char c);
    void PadRight(int n, char c);
    // A zeroed buffer of n + 1 bytes in place of the text.
    void Alloc(int n);

    // n copies of c; no storage when n < 1.
    static ZVString StringOfChar(char c, int n);
    // count bytes from pos (pos < 0 throws 4005); no storage when pos is at
    // or past the end; empty for a count of 0 or less.
    ZVString SubString(int pos, int count) const;
    // The first or last n bytes (empty for n of 0 or less).
    ZVString Left(int n) const;
    ZVString Right(int n) const;
    // Lower-case hexadecimal of the value as unsigned, padded with '0' to
    // width; no storage for a width over 256.
    static ZVString IntToHex(int value, int width);

    ZVString &operator+=(const ZVString &s);

private:
    char *str;
};

// Concatenation: no storage when neither side has any, else the texts
// joined (an empty result has an empty buffer).
ZV_API ZVString operator+(const ZVString &a, const ZVString &b);
ZV_API ZVString operator+(const ZVString &a, const char *b);
ZV_API ZVString operator+(const char *a, const ZVString &b);

// Text of a JSON value: owns one heap ZVString (none after the default
// constructor).
class ZV_API ZVJsonString {
public:
    ZVJsonString();
    ZVJsonString(const char *text);
    ZVJsonString(const char *text, int n);
    ZVJsonString(const ZVJsonString &other);
    virtual ~ZVJsonString() noexcept;

    ZVJsonString &operator=(const char *text);
    ZVJsonString &operator=(const ZVString &text);
    ZVJsonString &operator=(const ZVJsonString &other);
    // The held text; null when no string (or no storage) is held.
    const char *c_str() const;
    // The held string (made, without storage, when none is held).
    ZVString &ToZVString();

private:
    ZVString *str;
};

/* ------------------------------------------------------------------------ */
/* Base class of every handle-owning class.                                  */
/* ------------------------------------------------------------------------ */

// Holds one record-level handle (null after construction) and offers the
// calls that every handle accepts. A failing call throws its result code.
// Whether the handle is freed with the object is the derived class's
// choice; this destructor does nothing. Derived classes keep these virtual
// functions first, in this order, and append their own.
class ZV_API ZVBase {
public:
    ZVBase();
    virtual ~ZVBase() noexcept;

    // The handle's last code; 4002 for a null handle (never throws).
    virtual ZVDBRET GetError() const;
    virtual void SetError(ZVDBRET code);
    virtual void ClearError();
    virtual bool IsTransActive() const;
    virtual void Begin();
    virtual void Commit();
    virtual void Abort();
    // The save point's number. This library makes no save points and gives
    // 0 ("none made", which RestoreSavePoint(0) accepts); it throws only
    // for a null handle (4002) or one that reaches no session (that code).
    virtual int SetSavePoint();
    virtual void RestoreSavePoint(int savepoint);
    virtual bool IsLockActive() const;
    virtual int GetLockMode() const;
    virtual void Lock(int mode);
    // Lock(0), through the virtual slot.
    virtual void Unlock();
    virtual ZVHANDLE GetHandle() const;
    virtual void SetHandle(ZVHANDLE handle);
    virtual int GetHandleId() const;
    virtual ZVDATE_TYPE GetDefDateType() const;
    virtual ZVTIME_TYPE GetDefTimeType() const;
    virtual void SetDefDateType(ZVDATE_TYPE type);
    virtual void SetDefTimeType(ZVTIME_TYPE type);
    virtual void SetDefFloatFormat(const ZVString &format);
    virtual ZVString GetDefFloatFormat() const;
    virtual void *GetUserTag() const;
    virtual void SetUserTag(void *tag);
    virtual ZVKEEP_MODE GetKeepLock() const;
    virtual void SetKeepLock(ZVKEEP_MODE mode);
    virtual void SwitchInstance();
    // The handle's kind; a handle of no kind throws 4002.
    virtual int GetHandleType() const;
    virtual int GetTableType() const;
    virtual int GetSystemConfig(int item) const;
    virtual ZVBEGIN_MODE GetTransactionMode() const;
    virtual void SetTransactionMode(ZVBEGIN_MODE mode);
    virtual int GetOperation() const;
    virtual void SetOperation(int bits, int action);
    virtual int GetAutoCommit() const;
    virtual void SetAutoCommit(int on);

protected:
    ZVHANDLE handle;
};

/* ------------------------------------------------------------------------ */
/* Value classes. Each holds one value and has no virtual function but its   */
/* destructor. A constructor taking a value calls the matching setter.       */
/* ------------------------------------------------------------------------ */

// A signed 64-bit integer. Arithmetic wraps around modulo 2^64.
class ZV_API ZVBigint {
public:
    ZVBigint();
    ZVBigint(int value);
    ZVBigint(double value);
    // The money's whole units.
    ZVBigint(const ZVMoney &value);
    ZVBigint(const ZVString &value);
    ZVBigint(const ZVBigint &other);
    ZVBigint &operator=(const ZVBigint &other) = default;
    virtual ~ZVBigint() noexcept;

    void SetBigint(int value);
    void SetBigint(double value);
    void SetBigint(const ZVMoney &value);
    void SetBigint(const ZVString &value);
    void SetBigint(const ZVBigint &value);

    int AsLong() const;
    double AsFloat() const;
    // The value as whole units of money.
    ZVMoney AsMoney() const;
    ZVString AsString() const;
    ZVBIGINT AsBigint() const;
    ZVUBIGINT AsUnsignedBigint() const;
    bool IsZero() const;
    void Zero();

private:
    friend class ZVValueAccess;
    ZVBIGINT value;
};

ZV_API ZVBigint abs(const ZVBigint &a);
ZV_API ZVBigint operator+(const ZVBigint &a, const ZVBigint &b);
ZV_API ZVBigint operator-(const ZVBigint &a, const ZVBigint &b);
ZV_API ZVBigint operator*(const ZVBigint &a, const ZVBigint &b);
// 4040 by zero.
ZV_API ZVBigint operator/(const ZVBigint &a, const ZVBigint &b);
ZV_API bool operator<(const ZVBigint &a, const ZVBigint &b);
ZV_API bool operator<=(const ZVBigint &a, const ZVBigint &b);
ZV_API bool operator>(const ZVBigint &a, const ZVBigint &b);
ZV_API bool operator>=(const ZVBigint &a, const ZVBigint &b);
ZV_API bool operator==(const ZVBigint &a, const ZVBigint &b);
ZV_API bool operator!=(const ZVBigint &a, const ZVBigint &b);

// Ten-thousandths in 64 bits.
class ZV_API ZVCurrency {
public:
    ZVCurrency();
    ZVCurrency(int value);
    ZVCurrency(double value);
    ZVCurrency(const ZVMoney &value);
    ZVCurrency(const ZVString &value);
    ZVCurrency(const ZVBigint &value);
    ZVCurrency(const ZVCurrency &other);
    ZVCurrency &operator=(const ZVCurrency &other) = default;
    virtual ~ZVCurrency() noexcept;

    void SetCurrency(int value);
    void SetCurrency(double value);
    void SetCurrency(const ZVMoney &value);
    void SetCurrency(const ZVString &value);
    void SetCurrency(const ZVBigint &value);

    // A copy cut to the given decimals; this object is unchanged.
    ZVCurrency Round(int decimals) const;
    int AsLong() const;
    double AsFloat() const;
    ZVMoney AsMoney() const;
    ZVBigint AsBigint() const;
    ZVString AsString() const;
    ZVCURRENCY AsCurrency() const;
    bool IsZero() const;
    void Zero();

private:
    friend class ZVValueAccess;
    ZVCURRENCY value;
};

ZV_API ZVCurrency abs(const ZVCurrency &a);
ZV_API ZVCurrency operator+(const ZVCurrency &a, const ZVCurrency &b);
ZV_API ZVCurrency operator-(const ZVCurrency &a, const ZVCurrency &b);
ZV_API ZVCurrency operator*(const ZVCurrency &a, const ZVCurrency &b);
// 4040 by zero.
ZV_API ZVCurrency operator/(const ZVCurrency &a, const ZVCurrency &b);
ZV_API bool operator<(const ZVCurrency &a, const ZVCurrency &b);
ZV_API bool operator<=(const ZVCurrency &a, const ZVCurrency &b);
ZV_API bool operator>(const ZVCurrency &a, const ZVCurrency &b);
ZV_API bool operator>=(const ZVCurrency &a, const ZVCurrency &b);
ZV_API bool operator==(const ZVCurrency &a, const ZVCurrency &b);
ZV_API bool operator!=(const ZVCurrency &a, const ZVCurrency &b);

// Hundredths in 32 bits.
class ZV_API ZVMoney {
public:
    ZVMoney();
    // Hundredths, as SetMoney(int).
    ZVMoney(int hundredths);
    ZVMoney(double value);
    ZVMoney(const ZVString &value);
    ZVMoney(const ZVMoney &other);
    ZVMoney &operator=(const ZVMoney &other) = default;
    virtual ~ZVMoney() noexcept;

    // Whole units.
    void SetInt(int units);
    void SetMoney(double value);
    // Hundredths, stored unchanged.
    void SetMoney(int hundredths);
    void SetMoney(const ZVString &value);
    void StringToMoney(const ZVString &value);
    void SetMoney(const ZVMoney &value);

    // Whole units, truncated.
    int AsLong() const;
    int AsInt() const;
    double AsFloat() const;
    // The hundredths.
    ZVMONEY AsMoney() const;
    ZVString AsString() const;

private:
    friend class ZVValueAccess;
    ZVMONEY value;
};

ZV_API ZVMoney abs(const ZVMoney &a);
ZV_API ZVMoney operator+(const ZVMoney &a, const ZVMoney &b);
ZV_API ZVMoney operator-(const ZVMoney &a, const ZVMoney &b);
ZV_API ZVMoney operator*(const ZVMoney &a, const ZVMoney &b);
ZV_API ZVMoney operator/(const ZVMoney &a, const ZVMoney &b);
ZV_API bool operator<(const ZVMoney &a, const ZVMoney &b);
ZV_API bool operator<=(const ZVMoney &a, const ZVMoney &b);
ZV_API bool operator>(const ZVMoney &a, const ZVMoney &b);
ZV_API bool operator>=(const ZVMoney &a, const ZVMoney &b);
ZV_API bool operator==(const ZVMoney &a, const ZVMoney &b);
ZV_API bool operator!=(const ZVMoney &a, const ZVMoney &b);

// A 20-byte decimal number, owned (each object its own).
class ZV_API ZVNumber {
public:
    // Zero.
    ZVNumber();
    ZVNumber(int value);
    ZVNumber(double value);
    ZVNumber(const ZVMoney &value);
    ZVNumber(const ZVString &value);
    ZVNumber(const ZVBigint &value);
    ZVNumber(const ZVCurrency &value);
    ZVNumber(const ZVNumber &other);
    // Null throws 4007.
    ZVNumber(tagZVNUMBER *number);
    // Copies the number into this object's own.
    ZVNumber &operator=(const ZVNumber &other);
    virtual ~ZVNumber() noexcept;

    void SetNumber(int value);
    void SetNumber(double value);
    void SetNumber(const ZVMoney &value);
    void SetNumber(const ZVString &value);
    void SetNumber(const ZVBigint &value);
    void SetNumber(const ZVCurrency &value);
    void SetNumber(const ZVNumber &value);
    void SetNumber(tagZVNUMBER *number);

    int AsLong() const;
    double AsFloat() const;
    ZVMoney AsMoney() const;
    ZVBigint AsBigint() const;
    ZVCurrency AsCurrency() const;
    ZVString AsString() const;
    // The owned number itself (no copy).
    tagZVNUMBER *AsNumber() const;
    bool IsZero() const;
    void Zero();
    int IntegralDigits() const;
    int DecimalDigits() const;
    // A copy rounded to the given decimals.
    ZVNumber Round(int decimals) const;

    // a = a op b; div throws 4040 when b is zero.
    void add(ZVNumber &a, const ZVNumber &b);
    void sub(ZVNumber &a, const ZVNumber &b);
    void mul(ZVNumber &a, const ZVNumber &b);
    void div(ZVNumber &a, const ZVNumber &b);

private:
    friend class ZVValueAccess;
    tagZVNUMBER *number;
};

ZV_API ZVNumber abs(const ZVNumber &a);
ZV_API ZVNumber operator+(const ZVNumber &a, const ZVNumber &b);
ZV_API ZVNumber operator-(const ZVNumber &a, const ZVNumber &b);
ZV_API ZVNumber operator*(const ZVNumber &a, const ZVNumber &b);
// 4040 by zero.
ZV_API ZVNumber operator/(const ZVNumber &a, const ZVNumber &b);
ZV_API bool operator<(const ZVNumber &a, const ZVNumber &b);
ZV_API bool operator<=(const ZVNumber &a, const ZVNumber &b);
ZV_API bool operator>(const ZVNumber &a, const ZVNumber &b);
ZV_API bool operator>=(const ZVNumber &a, const ZVNumber &b);
ZV_API bool operator==(const ZVNumber &a, const ZVNumber &b);
ZV_API bool operator!=(const ZVNumber &a, const ZVNumber &b);

// A day number (1 is 1 March 1700); 0 is no date.
class ZV_API ZVDate {
public:
    ZVDate();
    ZVDate(const ZVDate &other);
    ZVDate &operator=(const ZVDate &other) = default;
    virtual ~ZVDate() noexcept;

    // Each part is taken modulo 2^16 as a signed 16-bit value.
    void Pack(int year, int month, int day);
    void Unpack(int &year, int &month, int &day) const;
    int Year() const;
    int Month() const;
    int Day() const;
    // 0 Sunday .. 6 Saturday; -1 for no valid date (never throws).
    int DayOfWeek() const;
    bool IsLeapYear() const;
    void StringToDate(const ZVString &text, ZVDATE_TYPE type);
    ZVString DateToString(ZVDATE_TYPE type) const;
    static ZVDate CurrentDate();

private:
    friend class ZVValueAccess;
    ZVDATE value;
};

// Seconds since midnight.
class ZV_API ZVTime {
public:
    ZVTime();
    ZVTime(const ZVTime &other);
    ZVTime &operator=(const ZVTime &other) = default;
    virtual ~ZVTime() noexcept;

    void Pack(int hour, int minute, int second);
    void Unpack(int &hour, int &minute, int &second) const;
    int Hour() const;
    int Minute() const;
    int Second() const;
    void StringToTime(const ZVString &text, ZVTIME_TYPE type);
    ZVString TimeToString(ZVTIME_TYPE type) const;
    static ZVTime CurrentTime();

private:
    friend class ZVValueAccess;
    ZVTIME value;
};

// Days since 30 December 1899 plus the day's fraction.
class ZV_API ZVDateTime {
public:
    ZVDateTime();
    ZVDateTime(ZVDATE date, ZVTIME time);
    ZVDateTime(const ZVDate &date, const ZVTime &time);
    ZVDateTime(const ZVDateTime &other);
    ZVDateTime &operator=(const ZVDateTime &other) = default;
    virtual ~ZVDateTime() noexcept;

    void SetDateTime(ZVDATE date, ZVTIME time);
    void SetDateTime(const ZVDate &date, const ZVTime &time);
    void Pack(int year, int month, int day, int hour, int minute, int second);
    void Unpack(int &year, int &month, int &day, int &hour, int &minute, int &second) const;
    ZVDate GetDate() const;
    ZVTime GetTime() const;
    int Year() const;
    int Month() const;
    int Day() const;
    int Hour() const;
    int Minute() const;
    int Second() const;
    int DayOfWeek() const;
    bool IsLeapYear() const;
    void StringToDateTime(const ZVString &text, ZVDATE_TYPE datetype, ZVTIME_TYPE timetype);
    ZVString DateTimeToString(ZVDATE_TYPE datetype, ZVTIME_TYPE timetype) const;
    static ZVDateTime CurrentDateTime();
    // Today at time 0.
    static ZVDateTime CurrentDate();

private:
    friend class ZVValueAccess;
    ZVDATETIME value;
};

// Bytes with a used and an allocated size, owned (each object its own).
class ZV_API ZVBlob {
public:
    ZVBlob();
    ZVBlob(const void *data, int size);
    ZVBlob(tagZVBLOB *blob);
    ZVBlob(const ZVBlob &other);
    ZVBlob(const ZVString &text);
    virtual ~ZVBlob() noexcept;

    void SetBlob(const void *data, int size);
    // A copy of the other blob's used bytes; an empty one empties this.
    void SetBlob(tagZVBLOB *blob);
    void SetBlob(const ZVBlob &other);
    // The text with its terminator (length + 1 bytes).
    void SetBlob(const ZVString &text);
    ZVBlob &operator=(tagZVBLOB *blob);
    ZVBlob &operator=(const ZVBlob &other);

    // Copies the used bytes into out (an empty blob leaves it without bytes).
    void GetBlob(tagZVBLOB *out) const;
    // Frees *data (null or a block of _zvdb_alloc), then hands out a copy
    // of the used bytes from _zvdb_alloc (the caller frees it with
    // _zvdb_free); null and 0 when empty.
    void GetBlob(void *&data, int &size) const;
    // Writes size bytes at offset; the used size becomes offset + size.
    void UpdateBlob(const void *data, int size, int offset);
    // Used and allocated size become size; the first bytes are kept and the
    // rest zero.
    void Resize(int size);
    void AsString(ZVString &out) const;
    int GetSize() const;

    // Shorter first, then by bytes.
    bool operator<(const ZVBlob &other) const;
    bool operator<=(const ZVBlob &other) const;
    bool operator>(const ZVBlob &other) const;
    bool operator>=(const ZVBlob &other) const;
    bool operator==(const ZVBlob &other) const;
    bool operator!=(const ZVBlob &other) const;

private:
    friend class ZVValueAccess;
    tagZVBLOB *blob;
};

/* ------------------------------------------------------------------------ */
/* Sessions, databases, tables, records and schema objects.                  */
/*                                                                           */
/* Ownership. ZVSession, ZVDatabase, ZVTable, ZVRecord,                      */
/* ZVFullTextIndexDictionary and ZVResource allocate their handle and free   */
/* it in their destructor; apart from ZVRecord, whose copy duplicates the    */
/* record handle, they cannot be copied or assigned. ZVField, ZVIndex,       */
/* ZVSegment and ZVFullTextIndex borrow a handle that belongs to a table:    */
/* copying and assigning them copies the handle, destroying them frees       */
/* nothing, and they become unusable when the table deletes the field,       */
/* index or segment or is itself destroyed.                                  */
/*                                                                           */
/* Destruction order is the caller's to keep: a session outlives the         */
/* databases and tables built on it, a database its tables, and a table its  */
/* records, resources and the schema objects taken from it. As a safeguard,  */
/* destroying a session leaves the database and table objects that its       */
/* active lists reach (and destroying a database the table objects of its    */
/* active list) without a handle: their destructors then free nothing and    */
/* their calls fail with an error code. Objects no active list reaches (a    */
/* closed table, a record) have no such guard.                               */
/*                                                                           */
/* Moves, finds and look-ups return false where the call reports "none"     */
/* (101, 408 for resources, 428 for the next record of a batch, 4071 for a   */
/* false condition, 4086 for records that differ); any other failure throws. */
/* Calls that throw otherwise return the record-level result (0).            */
/* ------------------------------------------------------------------------ */

class ZVDatabase;
class ZVTable;
class ZVField;
class ZVIndex;
class ZVSegment;
class ZVFullTextIndex;

// A session of the record-level API: its own engine instance, logon and
// session dictionary. Owns its session handle.
class ZV_API ZVSession : public ZVBase {
public:
    // 4001 when no session handle can be made.
    explicit ZVSession(ZVSESSION_TYPE type);
    // Frees the handle (logging out a logged-on session).
    ~ZVSession() noexcept override;
    ZVSession(const ZVSession &) = delete;
    ZVSession &operator=(const ZVSession &) = delete;

    // Process-wide engine set-up; the record-level result as it is.
    static ZVDBRET SetConfigurationFile(const ZVString &path);
    static ZVDBRET StartDatabaseEngine();
    static void StopDatabaseEngine();

    virtual ZVDBRET Logon(const ZVString &server, const ZVString &user, const ZVString &password);
    virtual ZVDBRET Logout();
    // Makes a new session dictionary.
    virtual ZVDBRET Create(const ZVString &server, const ZVString &user, const ZVString &password);
    virtual ZVString GetServerName() const;
    virtual ZVString GetUserLogonName() const;
    virtual ZVString GetPassword() const;
    virtual int GetParam(ZVSESSION_PARAM param) const;
    virtual ZVDBRET SetParam(ZVSESSION_PARAM param, int value);
    virtual int IsActive() const;
    virtual ZVString GetPath() const;
    virtual ZVDBRET SetPath(ZVString path);
    // The databases of the session dictionary; false after the last (name
    // and path then empty).
    virtual bool FirstDatabase(ZVString &name, ZVString &path);
    virtual bool NextDatabase(ZVString &name, ZVString &path);
    // False for an unknown name, leaving the outputs as they were.
    virtual bool FindDatabase(const ZVString &name, ZVString &path);
    virtual bool FindDatabase(const ZVString &name, ZVString &path, unsigned &uid);
    virtual bool FindDatabase(unsigned uid, ZVString &name, ZVString &path);
    virtual ZVDBRET DisconnectAll();
    virtual ZVDBRET CreateDatabase(const ZVString &name, const ZVString &path);
    virtual ZVDBRET AddDatabase(const ZVString &name, const ZVString &path);
    virtual ZVDBRET DeleteDatabase(const ZVString &name);
    virtual ZVDBRET DropDatabase(const ZVString &name);
    virtual ZVDBRET GetDatabaseUID(const ZVString &name, unsigned &uid);
    // The connected database objects; null after the last. The forms
    // without argument walk with this object's own cursor.
    virtual ZVDatabase *GetFirstActive(int &cursor) const;
    virtual ZVDatabase *GetFirstActive();
    virtual ZVDatabase *GetNextActive(int &cursor) const;
    virtual ZVDatabase *GetNextActive();
    virtual ZVDatabase *FindActive(const ZVString &name) const;
    virtual ZVDatabase *FindActive(unsigned uid) const;
    virtual ZVDBRET SetLogonOnly(int flag);
    virtual int GetLogonOnly() const;
    virtual int GetDatabaseCount() const;
    virtual ZVDBRET SetSessionType(ZVSESSION_TYPE type);
    virtual ZVSESSION_TYPE GetSessionType() const;
    virtual ZVDBRET SetCurrentNodeName(const ZVString &name);
    virtual ZVDBRET SetPathPrefix(const ZVString &prefix);
    virtual ZVDBRET ClearPathPrefix();
    virtual ZVString GetPathPrefix() const;
    virtual int IsSQLServer() const;
    virtual ZVDBRET SetExclusive(int flag);
    virtual int IsExclusive() const;
    // Attach modes 3 (current session), 2 (named instance), 1 (another
    // session object).
    virtual ZVDBRET Attach(int flag);
    virtual ZVDBRET Attach(const ZVString &instance, int flag);
    virtual ZVDBRET Attach(const ZVSession &other);
    virtual ZVDBRET Detach();
    virtual int GetAttachMode() const;
    virtual ZVDBRET BeginImpersonation(int task);
    virtual ZVDBRET EndImpersonation();
    virtual ZVDateTime ServerDateTime() const;
    virtual ZVDBRET SetLogPath(const ZVString &path);
    virtual ZVDBRET SetStatusLogPath(const ZVString &path);
    virtual ZVDBRET SetTempPath(const ZVString &path);

private:
    int cursor;
};

// A database of a session. Owns its database handle, which refers back to
// this object so that the session's active-database calls find it.
// Destroy it before its session.
class ZV_API ZVDatabase : public ZVBase {
public:
    // 4001 when no database handle can be made; the pointer form throws
    // 4003 "Invalid session handle" for a null pointer.
    explicit ZVDatabase(const ZVSession &session);
    explicit ZVDatabase(const ZVSession *session);
    // Disconnects and frees the handle.
    ~ZVDatabase() noexcept override;
    ZVDatabase(const ZVDatabase &) = delete;
    ZVDatabase &operator=(const ZVDatabase &) = delete;

    virtual int IsActive() const;
    virtual ZVDBRET Connect(const ZVString &name);
    virtual ZVDBRET Create(const ZVString &name, const ZVString &path);
    virtual ZVDBRET Disconnect();
    // The tables of the database dictionary; false after the last (name
    // and path then empty).
    virtual bool FirstTable(ZVString &name, ZVString &path);
    virtual bool NextTable(ZVString &name, ZVString &path);
    // False for an unknown name: path empty here, and the outputs of the
    // other two forms (the UID included) left as they were.
    virtual bool FindTable(const ZVString &name, ZVString &path);
    virtual bool FindTable(const ZVString &name, ZVString &path, unsigned &uid);
    virtual bool FindTable(unsigned uid, ZVString &name, ZVString &path);
    virtual ZVDBRET AddTable(const ZVString &name, const ZVString &path);
    virtual ZVDBRET DeleteTable(const ZVString &name, const ZVString &password);
    virtual ZVDBRET DropTable(const ZVString &name);
    virtual ZVDBRET GetTableUID(const ZVString &name, unsigned &uid);
    // The open table objects; null after the last. The forms without
    // argument walk with this object's own cursor.
    virtual ZVTable *GetFirstActive(int &cursor) const;
    virtual ZVTable *GetFirstActive();
    virtual ZVTable *GetNextActive(int &cursor) const;
    virtual ZVTable *GetNextActive();
    virtual ZVTable *FindActive(const ZVString &name) const;
    virtual ZVTable *FindActive(unsigned uid) const;
    virtual ZVString GetPath() const;
    virtual ZVString GetName() const;
    virtual ZVDBRET CloseAll();
    virtual int GetTableCount() const;
    virtual ZVString GetDefaultSqlTableOwner() const;
    virtual ZVDBRET SetDefaultSqlTableOwner(const ZVString &owner);
    virtual int IsSQL() const;
    virtual ZVDBRET SetExclusive(int flag);
    virtual int IsExclusive() const;
    virtual ZVDBRET RenameTable(const ZVString &oldName, const ZVString &newName);

private:
    int cursor;
};

// A sample class: appends one line about its arguments to a file.
class ZV_API ZVHelloWorld : public ZVBase {
public:
    ZVHelloWorld();
    ~ZVHelloWorld() noexcept override;

    virtual int HelloWorld(const ZVString &fileName, const ZVString &text, int integer,
                           unsigned value, double real);

private:
    int flag;
};

// A field of a table definition (borrowed handle).
class ZV_API ZVField : public ZVBase {
public:
    // No handle.
    ZVField();
    ZVField(const ZVField &other);
    ~ZVField() noexcept override;

    virtual ZVField &operator=(const ZVField &other);
    virtual ZVString GetName() const;
    virtual int GetType() const;
    virtual int GetLength() const;
    virtual ZVDBRET SetName(const ZVString &name);
    // Sets the type and, for a length of 1 or more, the length as well.
    virtual ZVDBRET SetType(int type, int length);
    virtual ZVDBRET SetLength(int length);
    // Position in the table's field list.
    virtual int GetNumber() const;
    virtual int GetNullFlag() const;
    virtual int GetPrecision() const;
    virtual int GetScale() const;
    virtual ZVDBRET SetNullFlag(int flag);
    virtual ZVDBRET SetPrecision(int precision);
    virtual ZVDBRET SetScale(int scale);
    virtual int IsNumeric() const;
    virtual ZVDBRET SetFieldDefaultValue(const ZVString &value);
    virtual ZVDBRET SetFieldDefaultValue(char *value, int length);
    // The default's length, 0 without one; out is null without one (the
    // field's own bytes otherwise).
    virtual int GetFieldDefaultValue(char *&out) const;
    // As above; without a default out is left as it was.
    virtual int GetFieldDefaultValue(ZVString &out) const;
    virtual ZVDBRET ClearFieldDefaultValue();
    virtual ZVDBRET SetFieldDefaultDateTimeType(ZVDATE_TYPE datetype, ZVTIME_TYPE timetype);
    virtual int IsFieldDefaultValueSet() const;
    virtual ZVDATE_TYPE GetFieldDefaultDateType() const;
    virtual ZVTIME_TYPE GetFieldDefaultTimeType() const;
    virtual unsigned GetStatus() const;
};

// A segment of an index (borrowed handle).
class ZV_API ZVSegment : public ZVBase {
public:
    // No handle.
    ZVSegment();
    ZVSegment(const ZVSegment &other);
    ~ZVSegment() noexcept override;

    virtual ZVSegment &operator=(const ZVSegment &other);
    // The segment's field; an extended segment (record bytes, no field)
    // throws, and so do the name forms.
    virtual ZVField GetField() const;
    virtual ZVString GetFieldName() const;
    virtual ZVField GetPartialField() const;
    virtual ZVString GetPartialFieldName() const;
    virtual int GetMode() const;
    virtual ZVDBRET SetMode(int mode);
    // Position in the index's segment list.
    virtual int GetNumber() const;
    virtual unsigned GetStatus() const;
    virtual ZVDBRET MoveSegment(int newPosition);
    virtual ZVDBRET SetField(ZVField &field);
    virtual ZVDBRET SetJSONField(ZVField &field, char *keyPath, int valueType, int length);
};

// An index of a table definition (borrowed handle).
class ZV_API ZVIndex : public ZVBase {
public:
    // No handle.
    ZVIndex();
    ZVIndex(const ZVIndex &other);
    ~ZVIndex() noexcept override;

    virtual ZVIndex &operator=(const ZVIndex &other);
    virtual int GetKeyLength() const;
    virtual int GetKeyType() const;
    virtual int GetEmptyChar() const;
    virtual int GetDuplicateFlag() const;
    virtual int GetNullFlag() const;
    virtual int GetTemporaryFlag() const;
    virtual ZVDBRET SetEmptyChar(int value);
    virtual ZVDBRET SetDuplicateFlag(int flag);
    virtual ZVDBRET SetNullFlag(int flag);
    virtual ZVDBRET SetTemporaryFlag(int flag);
    virtual int GetSegmentCount() const;
    // A segment on a field, or (offset, length) an extended segment on
    // record bytes.
    virtual ZVSegment AddSegment(const ZVField &field, int mode);
    virtual ZVSegment AddSegment(int offset, int length, int mode);
    virtual ZVSegment InsertSegment(int position, const ZVField &field, int mode);
    virtual ZVSegment InsertSegment(int position, int offset, int length, int mode);
    virtual ZVDBRET DelSegment(int segment);
    virtual ZVSegment GetSegment(int segment) const;
    // Position in the table's index list.
    virtual int GetNumber() const;
    // "" without handle or name (no record-level call).
    virtual ZVString GetName() const;
    // UID from the database dictionary.
    virtual unsigned GetUID() const;
    virtual ZVDBRET SetName(const ZVString &name);
    virtual ZVDBRET SetKeyType(int keyType);
    // A null path or name passes none.
    virtual ZVDBRET SetFilename(const ZVString *path, const ZVString *name);
    virtual ZVString GetFilename() const;
    virtual int GetIdxno() const;
    virtual unsigned GetStatus() const;
    virtual void MoveSegment(int segment, int newPosition);
    virtual ZVSegment AddJSONSegment(const ZVField &field, char *keyPath, int valueType, int length);
};

// A full-text index definition of a table (borrowed handle).
class ZV_API ZVFullTextIndex : public ZVBase {
public:
    // No handle.
    ZVFullTextIndex();
    ZVFullTextIndex(const ZVFullTextIndex &other);
    ~ZVFullTextIndex() noexcept override;

    virtual ZVFullTextIndex &operator=(const ZVFullTextIndex &other);
    virtual ZVDBRET AddField(const ZVField &field, unsigned mode);
    virtual int GetFieldCount() const;
    virtual ZVField GetField(int n) const;
    virtual int GetFieldMode(int n) const;
    virtual unsigned GetStatus() const;
    virtual ZVDBRET SetOption(unsigned short option, ZVString &text, unsigned value);
    virtual int GetNumber() const;
    virtual ZVString GetName() const;
};

// A full-text dictionary definition. Owns its handle.
class ZV_API ZVFullTextIndexDictionary : public ZVBase {
public:
    // 4001 when no handle can be made.
    explicit ZVFullTextIndexDictionary(const ZVSession &session);
    explicit ZVFullTextIndexDictionary(const ZVDatabase &database);
    explicit ZVFullTextIndexDictionary(const ZVTable &table);
    ~ZVFullTextIndexDictionary() noexcept override;
    ZVFullTextIndexDictionary(const ZVFullTextIndexDictionary &) = delete;
    ZVFullTextIndexDictionary &operator=(const ZVFullTextIndexDictionary &) = delete;

    virtual ZVDBRET SetOption(unsigned short option, ZVString &text, unsigned value);
};

// A table of a database (or of a session alone). Owns its table handle,
// which refers back to this object so that the database's active-table
// calls find it. Destroy it before its database and session, and after its
// records and resources. The field, index, segment and full-text objects it
// hands out borrow handles of this table.
//
// The segment operations resolve an index or field given by number or name
// through the virtual GetIndex and GetField, and end in the virtual
// AddSegment(const ZVIndex &, const ZVField &, int) or InsertSegment(const
// ZVIndex &, int, const ZVField &, int), so a derived class that overrides a
// look-up changes every form.
class ZV_API ZVTable : public ZVBase {
public:
    // 4001 when no table handle can be made; the pointer forms throw 4010
    // ("Invalid database handle", "Invalid session handle") for a null
    // pointer.
    explicit ZVTable(const ZVDatabase &database);
    explicit ZVTable(const ZVDatabase *database);
    explicit ZVTable(const ZVSession &session);
    explicit ZVTable(const ZVSession *session);
    // Frees the handle, closing an active table and freeing its records.
    ~ZVTable() noexcept override;
    ZVTable(const ZVTable &) = delete;
    ZVTable &operator=(const ZVTable &) = delete;

    virtual int IsActive() const;
    virtual ZVString GetName() const;
    virtual ZVString GetPath() const;
    virtual ZVString GetDataExtension() const;
    virtual ZVString GetIndexExtension() const;
    virtual unsigned GetOpenMode() const;
    virtual unsigned GetCreateMode() const;
    virtual unsigned GetDataDefaultExtentSize() const;
    virtual unsigned GetIndexDefaultExtentSize() const;
    virtual ZVString GetPassword() const;
    virtual ZVString GetGroupid() const;
    virtual unsigned GetPermission() const;
    virtual ZVDBRET SetPath(const ZVString &path);
    virtual ZVDBRET SetDataExtension(const ZVString &extension);
    virtual ZVDBRET SetIndexExtension(const ZVString &extension);
    virtual ZVDBRET SetDataDefaultExtentSize(int size);
    virtual ZVDBRET SetIndexDefaultExtentSize(int size);
    virtual ZVDBRET SetPassword(const ZVString &password);
    virtual ZVDBRET SetGroupid(const ZVString &groupid);
    virtual ZVDBRET SetPermission(int permission);
    virtual ZVDBRET Create(const ZVString &name, int createMode);
    virtual ZVDBRET Open(const ZVString &name, int openMode);
    virtual ZVDBRET Close();
    virtual ZVDBRET Remove();
    virtual int GetFieldCount() const;
    virtual ZVField AddField(const ZVString &name, int type, int length);
    virtual ZVField InsertField(int before, const ZVString &name, int type, int length);
    virtual ZVField InsertField(const ZVString &before, const ZVString &name, int type, int length);
    virtual ZVDBRET DelField(int field);
    virtual ZVDBRET DelField(const ZVString &field);
    virtual ZVDBRET MoveField(int from, int to);
    virtual ZVDBRET MoveField(const ZVString &field, int to);
    virtual ZVField GetField(int field) const;
    virtual ZVField GetField(const ZVString &field) const;
    virtual int GetFieldNumber(const ZVString &field) const;
    virtual int GetIndexCount() const;
    virtual ZVIndex AddIndex(const ZVString &name, int keyType, int duplicates, int nullKey);
    virtual ZVDBRET DelIndex(int index);
    // An unknown name throws 4045 without calling DelIndex(int).
    virtual ZVDBRET DelIndex(const ZVString &index);
    virtual ZVIndex GetIndex(int index) const;
    virtual ZVIndex GetIndex(const ZVString &index) const;
    virtual ZVSegment GetSegment(const ZVIndex &index, int segment) const;
    virtual ZVSegment AddSegment(const ZVIndex &index, const ZVField &field, int mode);
    virtual ZVSegment AddSegment(const ZVIndex &index, const ZVString &field, int mode);
    virtual ZVSegment AddSegment(const ZVIndex &index, int field, int mode);
    virtual ZVSegment AddSegment(const ZVIndex &index, int offset, int length, int mode);
    virtual ZVSegment AddSegment(int index, int field, int mode);
    virtual ZVSegment AddSegment(int index, const ZVString &field, int mode);
    virtual ZVSegment AddSegment(int index, const ZVField &field, int mode);
    virtual ZVSegment AddSegment(const ZVString &index, const ZVString &field, int mode);
    virtual ZVSegment AddSegment(const ZVString &index, int field, int mode);
    virtual ZVSegment AddSegment(const ZVString &index, const ZVField &field, int mode);
    virtual ZVSegment InsertSegment(const ZVIndex &index, int position, const ZVField &field, int mode);
    virtual ZVSegment InsertSegment(const ZVIndex &index, int position, const ZVString &field, int mode);
    virtual ZVSegment InsertSegment(const ZVIndex &index, int position, int field, int mode);
    virtual ZVSegment InsertSegment(const ZVIndex &index, int position, int offset, int length,
                                    int mode);
    virtual ZVSegment InsertSegment(int index, int position, int field, int mode);
    virtual ZVSegment InsertSegment(int index, int position, const ZVString &field, int mode);
    virtual ZVSegment InsertSegment(const ZVString &index, int position, const ZVString &field,
                                    int mode);
    virtual ZVSegment InsertSegment(const ZVString &index, int position, int field, int mode);
    virtual ZVSegment InsertSegment(const ZVString &index, int position, const ZVField &field,
                                    int mode);
    virtual ZVSegment InsertSegment(int index, int position, const ZVField &field, int mode);
    virtual void DelSegment(int index, int segment);
    virtual void DelSegment(const ZVString &index, int segment);
    virtual ZVDBRET Alter(int action);
    virtual ZVDBRET ResetAll();
    virtual int HasNullFieldSupport() const;
    virtual ZVIndex GetIndexByUID(unsigned uid) const;
    // False without handle.
    virtual bool HasRecbyt() const;
    virtual bool HasRowid() const;
    virtual ZVDBRET UnlockTable();
    virtual ZVDBRET UpdateCndxIndex(int index, const ZVString &expression);
    virtual ZVDBRET UpdateCndxIndex(const ZVString &index, const ZVString &expression);
    // The index's condition into out; "" without one.
    virtual ZVDBRET GetCndxIndex(int index, ZVString &out) const;
    virtual ZVDBRET GetCndxIndex(const ZVString &index, ZVString &out) const;
    // Not supported on tables (record objects have filters): throw 4054.
    virtual ZVDBRET FilterRecord(const ZVString &expression);
    virtual int IsFilteredRecord() const;
    virtual ZVDBRET GetFilter(ZVString &out) const;
    virtual ZVDBRET GetPadChar(char &pad, char &delimiter) const;
    virtual ZVDBRET SetPadChar(int pad, int delimiter);
    // Stores pad and delimiter in the table's files; the third argument is
    // not read.
    virtual ZVDBRET UpdatePadChar(int pad, int delimiter, int reserved);
    virtual ZVDBRET UpdateCreateMode(int createMode);
    virtual int HasDelField() const;
    // A null path or name passes none.
    virtual void SetIndexFilename(int index, const ZVString *path, const ZVString *name);
    virtual void SetIndexFilename(const ZVString &index, const ZVString *path, const ZVString *name);
    virtual ZVString GetIndexFilename(int index) const;
    virtual ZVString GetIndexFilename(const ZVString &index) const;
    virtual int GetDatno() const;
    virtual int GetIdxno(int index) const;
    virtual int GetIdxno(const ZVString &index) const;
    virtual ZVDBRET SystemFilterOn(ZVSYSFILTER mode);
    virtual ZVDBRET SystemFilterOff(ZVSYSFILTER mode);
    virtual ZVDBRET ClearAllFieldDefaultValue();
    // The first form works on its own copy of the index object.
    virtual void MoveSegment(ZVIndex index, int segment, int newPosition);
    virtual void MoveSegment(int index, int segment, int newPosition);
    virtual void MoveSegment(const ZVString &index, int segment, int newPosition);
    virtual unsigned GetStatus() const;
    virtual ZVDBRET Attach(int dataFileNumber);
    virtual ZVDBRET AttachXtd(int dataFileNumber, int fieldCount, DATOBJ *fields, IFIL *ifil);
    virtual ZVDBRET Detach();
    virtual ZVString GetOwner() const;
    // An empty owner clears it.
    virtual ZVDBRET SetOwner(const ZVString &owner);
    virtual ZVDBRET Rebuild(ZVREBUILD_MODE mode);
    // The progress routine of the rebuilds of this table's engine instance,
    // called every interval records or keys (0 keeps the interval); the
    // record-level result, never thrown.
    virtual ZVDBRET SetRebuildCallback(ZVDB_REBUILD_CALLBACK callback, unsigned short interval);
    // The engine's status word of the operation when mode has bit 0x800,
    // else 0.
    virtual int PartAdminByName(char *name, ZVPART_MODE_E mode);
    virtual int PartAdminByKey(void *key, ZVPART_MODE_E mode);
    virtual int PartAdminByNumber(int number, ZVPART_MODE_E mode);
    virtual int GetLastPartition() const;
    virtual int GetFirstPartition() const;
    // target becomes a new table named name with this table's definition.
    virtual ZVDBRET Clone(ZVTable &target, const ZVString &name);
    virtual ZVDBRET CreateMRTTable(const ZVString &name, const ZVString &host, int createMode,
                                   const ZVString &filter);
    // On the given database handle; this object is not used.
    virtual ZVDBRET AddMRTTable(ZVHANDLE database, const ZVString &name, const ZVString &host,
                                unsigned number);
    virtual int GetVTableNumber() const;
    virtual int IsVTable() const;
    // On the given host table handle; this object is not used.
    virtual ZVDBRET RemoveVTableResource(ZVHANDLE host, int number);
    virtual ZVDBRET SetMRTTableFilter(const ZVString &filter);
    virtual int GetFullTextIndexCount() const;
    virtual ZVFullTextIndex AddFullTextIndex(const ZVString &name);
    virtual ZVDBRET DelFullTextIndex(int index);
    virtual ZVDBRET DelFullTextIndex(const ZVString &index);
    virtual ZVFullTextIndex GetFullTextIndex(int index) const;
    virtual ZVFullTextIndex GetFullTextIndex(const ZVString &index) const;
    virtual void SetFullTextIndexOption(ZVFullTextIndex &index, unsigned short option, ZVString &text,
                                        unsigned value);
    virtual void SetFullTextIndexOption(int index, unsigned short option, ZVString &text,
                                        unsigned value);
    virtual void SetFullTextIndexOption(const ZVString &index, unsigned short option, ZVString &text,
                                        unsigned value);
};

// A record buffer of a table with its position, default index, filters,
// ranges, record sets and batches. Owns its record handle; destroy it before
// its table. A copy is a second record of the same table with a copy of the
// buffer and position; records are not assigned.
//
// Fields are given by number or by name; a name the table lacks throws
// 4014 "No such field" before any field is touched. 64-bit positions,
// counts and row ids are long long.
class ZV_API ZVRecord : public ZVBase {
public:
    // A table whose session or database object was destroyed has lost its
    // handle: 4013 "Table is not open". Otherwise the code the record-level
    // call gave when no record handle can be made (4001 when out of
    // memory); the pointer forms throw 4013 "Invalid table handle" and 4024
    // "Invalid record handle" for a null pointer.
    explicit ZVRecord(const ZVTable &table);
    explicit ZVRecord(const ZVTable *table);
    ZVRecord(const ZVRecord &other);
    explicit ZVRecord(const ZVRecord *other);
    ~ZVRecord() noexcept override;
    ZVRecord &operator=(const ZVRecord &) = delete;

    // Moves and buffer.
    virtual bool First();
    virtual bool Last();
    virtual bool Next();
    virtual bool Prev();
    virtual bool Find(ZVFIND_MODE mode);
    virtual bool FindTarget(void *target, ZVFIND_MODE mode);
    virtual ZVDBRET Clear();
    virtual ZVDBRET Read();
    virtual ZVDBRET Write();
    virtual ZVDBRET Delete();
    virtual ZVDBRET Reset();
    virtual ZVDBRET CopyBuffer(const ZVRecord &source);
    virtual ZVDBRET CopyBuffer(const ZVRecord *source);
    virtual int IsNew() const;
    virtual int IsEdited() const;
    virtual ZVDBRET SetNew(int flag);
    virtual ZVDBRET SetEdited(int flag);
    virtual void *GetRecordBuffer() const;
    virtual long long GetRecordPos() const;
    virtual ZVDBRET SetRecordPos(long long position);
    virtual ZVDBRET SetRecordOffset(long long position);
    virtual ZVDBRET SeekRecord(long long position);
    virtual int GetRecordLength() const;
    virtual int GetRecordSize() const;

    // Fields by number.
    virtual int IsNullField(int field) const;
    virtual int GetDefaultIndex() const;
    virtual ZVString GetDefaultIndexName() const;
    virtual ZVDBRET SetDefaultIndex(int index);
    virtual ZVDBRET SetDefaultIndex(const ZVString &index);
    virtual ZVString GetFieldName(int field) const;
    virtual int GetFieldType(int field) const;
    virtual int GetFieldAsBool(int field) const;
    virtual int GetFieldAsSigned(int field) const;
    virtual unsigned GetFieldAsUnsigned(int field) const;
    virtual ZVDate GetFieldAsDate(int field) const;
    virtual ZVTime GetFieldAsTime(int field) const;
    virtual ZVDateTime GetFieldAsDateTime(int field) const;
    virtual ZVMoney GetFieldAsMoney(int field) const;
    virtual double GetFieldAsFloat(int field) const;
    virtual ZVString GetFieldAsString(int field) const;
    virtual ZVJsonString GetFieldAsJSON(int field) const;
    virtual ZVDBRET GetFieldAsBlob(int field, ZVBlob &out) const;
    virtual ZVDBRET SetFieldAsBool(int field, int value);
    virtual ZVDBRET SetFieldAsSigned(int field, int value);
    virtual ZVDBRET SetFieldAsUnsigned(int field, unsigned value);
    virtual ZVDBRET SetFieldAsDate(int field, const ZVDate &value);
    virtual ZVDBRET SetFieldAsTime(int field, const ZVTime &value);
    virtual ZVDBRET SetFieldAsDateTime(int field, const ZVDateTime &value);
    virtual ZVDBRET SetFieldAsMoney(int field, const ZVMoney &value);
    virtual ZVDBRET SetFieldAsFloat(int field, double value);
    virtual ZVDBRET SetFieldAsString(int field, const ZVString &value);
    virtual ZVDBRET SetFieldAsString(int field, const char *value);
    virtual ZVDBRET SetFieldAsJSON(int field, char *value);
    virtual ZVDBRET SetFieldAsJSON(int field, const ZVJsonString &value);
    virtual ZVDBRET SetFieldAsBlob(int field, const ZVBlob &value);
    virtual ZVBigint GetFieldAsBigint(int field) const;
    virtual ZVCurrency GetFieldAsCurrency(int field) const;
    virtual ZVNumber GetFieldAsNumber(int field) const;
    virtual ZVDBRET SetFieldAsBigint(int field, const ZVBigint &value);
    virtual ZVDBRET SetFieldAsCurrency(int field, const ZVCurrency &value);
    virtual ZVDBRET SetFieldAsNumber(int field, const ZVNumber &value);

    // Fields by name, and the narrow forms: the low 8 or 16 bits of the
    // signed or unsigned value.
    virtual int GetFieldType(const ZVString &field) const;
    virtual int IsNullField(const ZVString &field) const;
    virtual int GetFieldAsBool(const ZVString &field) const;
    virtual signed char GetFieldAsChar(int field) const;
    virtual unsigned char GetFieldAsByte(int field) const;
    virtual short GetFieldAsShort(int field) const;
    virtual unsigned short GetFieldAsWord(int field) const;
    virtual signed char GetFieldAsChar(const ZVString &field) const;
    virtual unsigned char GetFieldAsByte(const ZVString &field) const;
    virtual short GetFieldAsShort(const ZVString &field) const;
    virtual unsigned short GetFieldAsWord(const ZVString &field) const;
    virtual int GetFieldAsSigned(const ZVString &field) const;
    virtual unsigned GetFieldAsUnsigned(const ZVString &field) const;
    virtual ZVDate GetFieldAsDate(const ZVString &field) const;
    virtual ZVTime GetFieldAsTime(const ZVString &field) const;
    virtual ZVDateTime GetFieldAsDateTime(const ZVString &field) const;
    virtual ZVMoney GetFieldAsMoney(const ZVString &field) const;
    virtual double GetFieldAsFloat(const ZVString &field) const;
    virtual ZVString GetFieldAsString(const ZVString &field) const;
    virtual ZVJsonString GetFieldAsJSON(const ZVString &field) const;
    virtual ZVDBRET GetFieldAsBlob(const ZVString &field, ZVBlob &out) const;
    virtual ZVDBRET SetFieldAsBool(const ZVString &field, int value);
    virtual ZVDBRET SetFieldAsChar(int field, char value);
    virtual ZVDBRET SetFieldAsByte(int field, unsigned char value);
    virtual ZVDBRET SetFieldAsShort(int field, short value);
    virtual ZVDBRET SetFieldAsWord(int field, unsigned short value);
    virtual ZVDBRET SetFieldAsChar(const ZVString &field, char value);
    virtual ZVDBRET SetFieldAsByte(const ZVString &field, unsigned char value);
    virtual ZVDBRET SetFieldAsShort(const ZVString &field, short value);
    virtual ZVDBRET SetFieldAsWord(const ZVString &field, unsigned short value);
    virtual ZVDBRET SetFieldAsSigned(const ZVString &field, int value);
    virtual ZVDBRET SetFieldAsUnsigned(const ZVString &field, unsigned value);
    virtual ZVDBRET SetFieldAsDate(const ZVString &field, const ZVDate &value);
    virtual ZVDBRET SetFieldAsTime(const ZVString &field, const ZVTime &value);
    virtual ZVDBRET SetFieldAsDateTime(const ZVString &field, const ZVDateTime &value);
    virtual ZVDBRET SetFieldAsMoney(const ZVString &field, const ZVMoney &value);
    virtual ZVDBRET SetFieldAsFloat(const ZVString &field, double value);
    virtual ZVDBRET SetFieldAsString(const ZVString &field, const ZVString &value);
    virtual ZVDBRET SetFieldAsString(const ZVString &field, const char *value);
    virtual ZVDBRET SetFieldAsJSON(const ZVString &field, char *value);
    virtual ZVDBRET SetFieldAsBlob(const ZVString &field, const ZVBlob &value);
    virtual ZVBigint GetFieldAsBigint(const ZVString &field) const;
    virtual ZVCurrency GetFieldAsCurrency(const ZVString &field) const;
    virtual ZVNumber GetFieldAsNumber(const ZVString &field) const;
    virtual ZVDBRET SetFieldAsBigint(const ZVString &field, const ZVBigint &value);
    virtual ZVDBRET SetFieldAsCurrency(const ZVString &field, const ZVCurrency &value);
    virtual ZVDBRET SetFieldAsNumber(const ZVString &field, const ZVNumber &value);

    // Record sets and field layout.
    virtual long long GetRecordCount() const;
    virtual ZVDBRET RecordSetOn(int prefixLength);
    virtual int IsRecordSetOn() const;
    virtual ZVDBRET RecordSetOff();
    virtual int IsVariableField(int field) const;
    // Length of the field's data in the buffer.
    virtual int GetFieldLength(int field) const;
    virtual int GetFieldSize(int field) const;
    virtual int GetFieldOffset(int field) const;
    virtual void *GetFieldAddress(int field) const;
    virtual int IsVariableField(const ZVString &field) const;
    virtual int GetFieldLength(const ZVString &field) const;
    virtual int GetFieldSize(const ZVString &field) const;
    virtual int GetFieldOffset(const ZVString &field) const;
    virtual void *GetFieldAddress(const ZVString &field) const;
    // The field's number; 4014 "No such field" for a name the table lacks.
    virtual int GetFieldByName(const ZVString &field) const;
    virtual ZVDBRET ClearField(int field);
    virtual ZVDBRET ClearField(const ZVString &field);

    // Locks, row id, conditions, keys and ranges.
    virtual ZVDBRET LockRecord(int mode);
    // LockRecord(0), through the virtual slot.
    virtual ZVDBRET UnlockRecord();
    virtual int GetRecordLock() const;
    virtual long long GetRowid() const;
    virtual bool FindRowid(long long rowid, ZVFIND_MODE mode);
    virtual ZVDBRET CndxCompile(const ZVString &expression);
    // False when the condition is false or none is compiled.
    virtual bool CndxEval();
    virtual ZVDBRET CndxFree();
    // The compiled condition into out ("" without one).
    virtual void CndxGetExpression(ZVString &out) const;
    // True when both records pack to the same bytes.
    virtual bool Compare(ZVRecord *other) const;
    virtual ZVDBRET BuildTargetKey(ZVFIND_MODE mode, void *target, int *length) const;
    virtual ZVDBRET AtPercentile(int percent);
    // Keys between the two; 0 without an error is 0, not a failure.
    virtual long long EstimateSpan(void *key1, void *key2) const;
    virtual long long NumberOfKeyEntries(int index) const;
    virtual long long NumberOfKeyEntries(const ZVString &index) const;
    virtual ZVDBRET RangeOn(int segments, void *low, void *high, int *operators);
    virtual ZVDBRET RangeOff();
    virtual int IsRangeOn() const;
    virtual ZVDBRET SwitchContext();

    // Filters, batches and full-text search.
    virtual ZVDBRET SetFilter(const ZVString &expression);
    virtual int IsFiltered() const;
    // The filter into out ("" without one).
    virtual void GetFilter(ZVString &out) const;
    virtual int BatchLoaded() const;
    virtual int BatchLocked() const;
    virtual int BatchTotal() const;
    virtual unsigned BatchMode() const;
    virtual int IsBatchActive() const;
    virtual ZVDBRET EndBatch();
    virtual ZVDBRET InsertBatch();
    virtual ZVDBRET NextBatch();
    // The next record of the batch; false when the batch has no more.
    virtual bool NextInBatch();
    virtual ZVDBRET SetBatch(unsigned mode, int targetLength, int bufferSize);
    virtual int GetErrorIndex() const;
    virtual bool JumpTo(int offset);
    // Unlike every other call of this layer, a failure here throws a
    // pointer to a ZVException made with new: catch ZVException * and
    // delete it.
    virtual long long GetRecordKeyPos() const;
    virtual ZVDBRET SetDefaultFullTextIndex(int index);
    virtual ZVDBRET FullTextSearchOn(ZVString &query);
    virtual int IsFullTextSearchOn() const;
    virtual ZVDBRET FullTextSearchOff();
    virtual ZVDBRET GetFullTextSearchErrorDetails(int *code, int *position) const;
};

// A resource of a table: typed, numbered, named bytes kept with the table.
// No base class; owns its resource handle. Destroy it before its table.
class ZV_API ZVResource {
public:
    // Type 0, number 0 and no name unless given; 4001 when no handle can be
    // made.
    explicit ZVResource(const ZVTable &table);
    ZVResource(const ZVTable &table, unsigned type, unsigned number);
    ZVResource(const ZVTable &table, unsigned type, unsigned number, const ZVString &name);
    virtual ~ZVResource() noexcept;
    ZVResource(const ZVResource &) = delete;
    ZVResource &operator=(const ZVResource &) = delete;

    virtual ZVDBRET Unlock();
    virtual ZVDBRET Add(void *data, int length);
    virtual ZVDBRET Delete();
    virtual ZVDBRET Update(void *data, int length);
    // Reads into this object; false when there is no (further) resource.
    virtual bool First(int lock);
    virtual bool Next(int lock);
    virtual bool Find(unsigned type, unsigned number, int lock);
    virtual bool Find(const ZVString &name, int lock);
    virtual int IsLocked() const;
    virtual unsigned GetType() const;
    virtual ZVDBRET SetType(unsigned type);
    virtual unsigned GetNumber() const;
    virtual ZVDBRET SetNumber(unsigned number);
    virtual ZVString GetName() const;
    virtual ZVDBRET SetName(const ZVString &name);
    virtual int GetDataLength() const;
    virtual const void *GetData() const;
    virtual ZVDBRET SetData(void *data, int length);

protected:
    ZVHANDLE handle;
};

#endif /* ZARVO_ZVDB_HPP */
