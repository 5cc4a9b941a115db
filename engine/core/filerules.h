// Per-file rules: name patterns that give files a treatment (memory files,
// uncached files, dedicated cache and further yes/no lists).
#pragma once

#include <cstdint>

struct FCB;
struct INSTGV;

// Rule kinds the engine reads.
enum : int32_t {
    kRuleDedicatedCache = 1,  // value: bytes of dedicated cache
    kRuleNoCache = 3,         // data file read and written around the cache
    kRuleMemoryFile = 9,      // value: memory size of the file
    kRulePrefill = 12,
    kRuleTransaction = 15,
};

// The rule-list operation; zvFILELIST (zarvo.h) is this call without the
// pointer argument. `ptr` carries the pointer of modes 0x84 (stored) and
// 0x104 (returned).
int64_t izvFILELIST(char *name, int32_t *value, int32_t value2, int32_t kind, int32_t mode, void **ptr);

extern "C" {
// Dedicated cache pages allowed to a file by the rule list (0: none).
int zvsplche(FCB *fcb);
// Memory-file size of a name by the rule list: 0 when no rule matches,
// 0xFFFFFFFF when one matches with size 0; *out (may be null) receives the
// rule's size.
uint32_t zvmemfil(const char *name, uint32_t *out);
// 1 when a data file's name is in the no-caching rules, else 0.
int zvno_che(FCB *fcb, const char *name);
// 1 (kind 12) and 2 (kind 15) when the name matches a rule of the kind, else 0.
int zvatoprefillst(const char *name);
int zvatotrnfillst(const char *name);
}

namespace zv {

// Frees the rule list of an instance (instance removal).
void release_rules(INSTGV *g);

}  // namespace zv
