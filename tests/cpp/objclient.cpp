// A client of the object layer built against zvdb.hpp alone and linked to
// the shared library: it derives from the base class, catches an exception
// thrown inside the library and uses the free operators and abs that the
// library exports.
#include <cstring>

#include "../c/check.h"
#include "zarvo/zvdb.hpp"

namespace {

// Counts the unlocks that reach its Lock through the library's Unlock.
class Client : public ZVBase {
public:
    int unlocks = 0;
    void Lock(int mode) override {
        if (mode == 0) unlocks++;
    }
};

}  // namespace

int main() {
    Client client;
    ZVBase &base = client;
    base.Unlock();
    CHECK(client.unlocks == 1);
    CHECK(base.GetError() == 4002);
    bool refused = false;
    try {
        base.ClearError();
    } catch (const ZVException &e) {
        refused = e.GetErrorCode() == 4002 && std::strcmp(e.GetSourceFile(), "zvppbase") == 0;
    }
    CHECK(refused);

    bool caught = false;
    try {
        ZVBigint q = ZVBigint(1) / ZVBigint(0);
        (void)q;
    } catch (const ZVException &e) {
        caught = true;
        CHECK(e.GetErrorCode() == 4040);
        CHECK(std::strcmp(e.GetErrorMsg(), "BIGINT division by zero") == 0);
        CHECK(std::strcmp(e.GetSourceFile(), "zvppbint") == 0);
        CHECK(e.GetLineNbr() == 419);
    }
    CHECK(caught);

    CHECK((ZVBigint(40) + ZVBigint(2)).AsBigint() == 42);
    CHECK(abs(ZVBigint(-5)).AsBigint() == 5);
    CHECK(abs(ZVMoney(-250)) == ZVMoney(250));
    ZVString text = ZVString("ab") + "cd";
    CHECK(std::strcmp(text.c_str(), "abcd") == 0);
    return 0;
}
