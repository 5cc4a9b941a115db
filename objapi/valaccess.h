// The library's own access to the value a value class holds.
//
// The value classes keep their value private; the layer's own modules (the
// operators, the conversions between classes and the classes that pass
// values to typed field calls) read and store it here.
#pragma once

#include "zarvo/zvdb.hpp"

class ZVValueAccess {
public:
    static ZVBIGINT &of(ZVBigint &v) { return v.value; }
    static ZVCURRENCY &of(ZVCurrency &v) { return v.value; }
    static ZVMONEY &of(ZVMoney &v) { return v.value; }
    static tagZVNUMBER *of(const ZVNumber &v) { return v.number; }
    static ZVDATE &of(ZVDate &v) { return v.value; }
    static ZVTIME &of(ZVTime &v) { return v.value; }
    static ZVDATETIME &of(ZVDateTime &v) { return v.value; }
    static tagZVBLOB *of(const ZVBlob &v) { return v.blob; }
    static ZVDATE of(const ZVDate &v) { return v.value; }
    static ZVTIME of(const ZVTime &v) { return v.value; }
    static ZVDATETIME of(const ZVDateTime &v) { return v.value; }
};
