// Resources of a file, as creation uses them.
//
// Creation enables the resources of a new data file. Until the resource
// ring is built, enabling leaves the file without resources (the header's
// resource position stays 0), so every resource read answers "not found".
#pragma once

extern "C" {
// Enables the resources of an open file: 0 or an error code.
int ENARES(int filno);
}
