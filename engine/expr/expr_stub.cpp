// Stand-in of expression evaluation: there are no callback filters to
// initialise, and evaluation is handed to the test evaluator when one is
// set.
#include "engine/expr/expr_services.h"

#include "engine/core/instance.h"

namespace {

// Test-only switch (see expr_services.h).
zv::TestEvaluator test_evaluator = nullptr;

int evaluate(const void *tree, const void *image, int32_t len) {
    if (!test_evaluator) return 1;
    int r = test_evaluator(tree, image, len);
    if (r < 0) {
        if (zvWNGV) zvWNGV->exprerr = -r;
        return 0;
    }
    return r > 0;
}

}  // namespace

namespace zv {

void set_test_evaluator(TestEvaluator fn) { test_evaluator = fn; }

}  // namespace zv

extern "C" {
int zvclbkinit(const char *, void *, int kind) { return (kind == 0 || kind == 1) ? 1 : 0; }
int cndxeval(void *tree, void *image, void *, int32_t, int32_t len) { return evaluate(tree, image, len); }
int clbkeval(void *filter, int, int, void *image, void *, int32_t, int32_t len) {
    return evaluate(filter, image, len);
}
}
