// Resources of a file, as creation and the record space use them.
//
// Creation enables the resources of a new data file. Until the resource
// ring is built, enabling leaves the file without resources (the header's
// resource position stays 0), so every resource read answers "not found".
// Record conversion between stored and host layout belongs to the same
// module; on this little-endian host no file has a conversion map yet.
#pragma once

#include <cstdint>

extern "C" {
// Enables the resources of an open file: 0 or an error code.
int ENARES(int filno);
// The resource calls, in the form the resource ring will give them. Until
// it exists no file has resources: every call answers 401.
int ADDRES(int filno, void *body, int32_t len);
int UPDRES(int filno, void *body, int32_t len);
int DELRES(int filno, const void *body);
uint32_t GETRES(int filno, const void *key, void *buf, int32_t buflen, int mode);
// Converts a structure in place field by field along a conversion map
// (16-byte head, then 6-byte entries): direction 2 host to stored layout,
// 1 stored to host. `limit` is the fixed record length (-1 for none).
// 1 when a field was converted, 0 when none was, minus an error code when
// the structure does not fit its map.
int zvconvert18(void *buf, const unsigned char *head, const unsigned char *entries, int32_t len,
                int delim, int direction, int32_t limit);
}

namespace zv {

// ---- Test support (not exported) -----------------------------------------
// Until record conversion exists, zvconvert18 hands its work to this
// converter when one is set (same result convention); null converts nothing.
using TestConverter = int (*)(void *buf, int32_t len, int direction);
void set_test_converter(TestConverter fn);

}  // namespace zv
