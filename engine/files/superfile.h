// Superfiles: hosts that keep many data and index files as members, with a
// directory index of the member names (see superfile.cpp). GETMNAME is
// declared in zarvo.h.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

extern "C" {
// 1-based position of the member separator in a name; 0 when the name has
// none or starts with it.
int zvsname1(const char *name);
}

namespace zv {

// Bytes of a member-name field buffer (the longest limit and a NUL).
constexpr int kFieldBuf = 256;

// Member-name field of the part of name after the separator at position
// seppos (1-based), padded to the member-name limit L with the padding byte
// of the host hostno (0x20 when it has none). Returns the field's length L,
// or 418 (returned negated) when the part is longer than L. Without a host
// the field is all blanks and the result 0.
int zvsname4(const char *name, int seppos, int hostno, unsigned char (&field)[kFieldBuf]);
// L when the bytes of the field from L to 254 are all padding, else L + 1
// (L when L is 255).
int zvsnamel(const unsigned char *field, const FCB *host);

// Creates a member: area position (0: allocate one), host and member file
// numbers, name, name field (null for the directory), record or key
// length, key type (-1 data member), duplicate flag, additional index
// members, file mode, create block. 0 or an error code.
int cresmem(uint64_t area, int hostno, int memno, const char *name, const unsigned char *field, int32_t len,
            int keytype, int dup, int nmem, uint16_t mode, const XCREblk *x);
// Creates the directory of a new host (on hostno + 1). 0 or an error.
int zvcresi(int hostno, uint16_t mode);
// Renames member f within its host from the old to the new member part.
int rensup(FCB *f, const char *oldpart, const char *newpart);

// Creation of a name with the member separator (data when keytype is -1).
int superfile_member_create(int filno, const char *name, int32_t len, int keytype, int dup, int nmem,
                            uint16_t mode, const XCREblk *x);
// Open of a member into the free block f: host links, name and header
// position. 0, 413 host not open, 418 name too long, 12 not a member.
int superfile_member_open(FCB *f, const char *name);
// Binds the block after the host as its directory (header read at open).
int superfile_host_bind(FCB *host);
// Reads and sets up the directory of an open host: 0 or an error.
int superfile_open_directory(FCB *host);
// Frees the directory block of a host whose open failed.
void superfile_host_unbind(FCB *host);
// Closes the open members of a host and then its directory: 0 or the first
// error.
int superfile_close_members(FCB *host, int mode);
// Opens the host of a member name: 0, or 413.
int zvhstopn(FCB *fcb, int filno, const char *name, uint16_t mode);
// Whether a member name names a member of an open host: -1 yes, 0 no, -2
// its host is not open.
int member_exists(const char *name);
// The member part of a delete: removes the member from its host's
// directory and marks its area deleted. The member is closed first.
int member_delete(FCB *f);
// Writes the headers of a changed host's open members (each with its
// additional index members), of its directory and of the host itself, so
// that a flush leaves on disk where the directory lies, how many members
// the host has and each member's counters. 0 or the first error.
int superfile_write_headers(FCB *host);
// Number of open members of a host (its directory not counted).
int open_members_of(const FCB *host);

}  // namespace zv
