// Least stand-in of the record clear (nav_calls.h): zero the image and read
// it again with delimiters set.
#include <cstring>

#include "recapi/records/nav_calls.h"
#include "recapi/records/record.h"
#include "recapi/base/session.h"

extern "C" {

ZVDBRET zvdbClearRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = nullptr;
    if (ZVDBRET rc = zv::open_record(record, &r)) return zv::keep_code(record, rc);
    if (r->buffer && r->size > 0) std::memset(r->buffer, 0, size_t(r->size));
    return zv::keep_code(record, _zvdbUpdateRecord(r, 1));
}

}  // extern "C"
