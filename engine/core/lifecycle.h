// Engine start and stop of the current instance.
#pragma once

namespace zv {

// Runs the stop road of the current instance (close its files, release its
// buffers and pools) without unregistering it.
void stop_instance();

}  // namespace zv
