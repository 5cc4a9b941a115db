// ZVHelloWorld: a sample class of the layer, with no handle of its own.
// Its flag is 1 while the object lives.
#include "objapi/zvppxcep.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvpphelo");

}  // namespace

ZVHelloWorld::ZVHelloWorld() : flag(1) {}

ZVHelloWorld::~ZVHelloWorld() noexcept { flag = 0; }

int ZVHelloWorld::HelloWorld(const ZVString &fileName, const ZVString &text, int integer, unsigned value,
                             double real) {
    kModule.check(zvdbHelloWorld(fileName.c_str(), text.c_str(), integer, value, real),
                  "ZVHelloWorld::HelloWorld error.", __LINE__);
    return 0;
}
