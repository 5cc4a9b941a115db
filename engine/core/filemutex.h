// Named file mutexes of the instance.
#pragma once

namespace zv {

// Releases every named mutex the current instance holds and frees their
// table (stop road).
void filmtx_release_all();

}  // namespace zv
