// Segmented data files: one logical file in several system files (see
// segments.cpp). The exported routines are declared in zarvo.h.
#pragma once

#include <cstdint>

#include "engine/files/files_services.h"
#include "zarvo/zarvo.h"

struct FCB;
struct INSTGV;

// One defined segment of an open segmented file. Limits are cumulative:
// limit(0) = size(0), limit(i) = limit(i-1) + size(i) - H; the last
// segment may have none (0: every offset from limit(i-1) on).
struct SegEntry {
    int32_t fd;          // descriptor; -1 when not open (segment 0 uses the file's own)
    uint32_t stamp;      // time the segment was created, copied into its header
    uint64_t limit;      // end limit (exclusive), 0 for none
    char name[256];      // file name
};

namespace zv {


// Name of the segment-definition resource.
constexpr const char *kSegResName = "QV!SEGM";

// Creates or takes over segment i: 0, 683 refused, 681 its header cannot
// be written. `setseg` names the caller in the log line of a missing name.
int zvnxtsegmdef(FCB *fcb, int setseg, int i);
// At open: builds the arrays and opens the segments present. 0, 676 a
// segment cannot be opened, 681 a header does not match, 408 no definition.
int zvopnsegmdef(FCB *fcb, int filno, uint16_t openmode);
// Closes every open segment descriptor; keep 0 also deletes the segment
// files (those below limit when limit > 0); free releases the arrays.
int zvclssegmdef(FCB *fcb, int keep, int free, int limit);
// Reads and checks (how 0) or writes (how 1) the header of segment i.
// 0 or 681.
int zvhdrsegmdef(FCB *fcb, int i, int how, int create, uint16_t openmode);
// Rewrites the headers of segments 1 to present-1: 0 or the first error.
int zvputsegmdef(FCB *fcb);
// Automatic name of segment i ("%s" then ".%03d"): 0 or 418 (over 250).
int zvatosegmdef(const char *name, int i, char (&out)[256]);
// Name of physical file i of `name` (0: the file, else its automatic
// segment i): 0 or 418.
int physical_name(const char *name, uint32_t i, char (&out)[256]);
// Physical files of an open file that move with its name: the file and,
// with automatic segments, the segment files present when it was opened.
uint32_t physical_files(const FCB *fcb);
// Segment settings of a new segmented file: segment size (megabytes, for
// automatic files) and count, H, one segment present, and the arrays. 0 or
// an error.
int segmented_create(FCB *fcb, uint32_t sizemb, uint32_t nsegs);
// Stores the definition resource of a named segmented file that is not a
// superfile member: 0 or the resource error.
int zvsetmges(FCB *fcb, int filno);
// The arrays: n entries (fatal 8960 for none; 82 no memory); resized
// keeping the first entries (fatal 8893 for none; 10, logged, no memory);
// released (returns code).
int zvalcsegmdef(FCB *fcb, int32_t n);
int zvrlcsegmdef(FCB *fcb, int32_t n);
int zvfresegmdef(FCB *fcb, int code);
// Segment i's size (megabytes as text) and name from a definition text;
// each returns the position after its string.
const char *zvsizsegmdef(FCB *fcb, const char *text, int i);
const char *zvnamsegmdef(FCB *fcb, const char *text, int i);
// The instance's segment list: an entry per (file, id); chkseglst gives an
// entry of the same file with a negative id the new id (1 when found).
int addseglst(FCB *fcb, int32_t id);
int chkseglst(FCB *fcb, int32_t id);
void clnseglst(INSTGV *g);
// SETSEGz.
int setseg(int filno, ZVSEGDEF *def);
// End of the last segment of a segmented file when it has one, rounded down
// to the instance page size; 0 when none.
uint64_t zvseglimit(FCB *fcb);
// Renames the automatic segment files of an open file from its old name to
// newname, rewriting their headers, all or nothing: 0, or the error with
// every file back under its old name.
int zvrensegmdef(FCB *fcb, const char *newname);
}  // namespace zv
