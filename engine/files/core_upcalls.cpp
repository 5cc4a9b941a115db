// The file layer's side of the calls that the engine core makes into it
// (declared in engine/core/upcalls.h).
#include "engine/core/upcalls.h"

#include "engine/files/header.h"
#include "engine/files/segments.h"

namespace zv {

int write_header(FCB *fcb) { return wrthdr(fcb); }

uint64_t first_record_position(const FCB *fcb) { return first_record_offset(fcb); }

int rewrite_segment_headers(FCB *fcb) { return zvputsegmdef(fcb); }

}  // namespace zv
