// Stop road of an instance.
//
// Until start-up exists an instance holds nothing but its free lists, which
// the caller releases; stopping it only clears the started flag.
#include "engine/core/lifecycle.h"

#include "engine/core/instance.h"

namespace zv {

void stop_instance() {
    if (zvWNGV) zvWNGV->started = 0;
}

}  // namespace zv
