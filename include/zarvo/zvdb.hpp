/*
 * zvdb.hpp - the object layer: C++ classes over the record-level API.
 *
 * Every class that stands for a record-level handle derives from ZVBase. A
 * failing call throws a ZVException (by value) carrying the result code, a
 * fixed message, the name of the throwing module and a line number.
 * Text travels as ZVString; values of the record-level value types as
 * ZVBigint, ZVCurrency, ZVMoney, ZVNumber, ZVDate, ZVTime, ZVDateTime and
 * ZVBlob.
 *
 * Binary interface: each class holds a virtual-table pointer and exactly the
 * members declared here, and its virtual functions are declared in their
 * slot order. Both are fixed: a class derived by an application, or built
 * against an older copy of this header, relies on them. Only ZVBase and
 * ZVException have virtual functions beyond their destructors.
 *
 * Storage of strings, numbers and blobs comes from the record-level
 * allocator (_zvdb_alloc, _zvdb_free).
 */
#ifndef ZARVO_ZVDB_HPP
#define ZARVO_ZVDB_HPP

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

#endif /* ZARVO_ZVDB_HPP */
