// Partition settings of a table and the partition administration calls:
// the partition index, rule, number bits and dynamic-members setting a
// table is created with, the rule read back from a partitioned data file,
// and the engine's administration of the members of an open partitioned
// table.
//
// The partition index is kept as the engine counts indexes, the hidden
// "$RECBYT$" and "$ROWID$" indexes first; callers count their own indexes
// only. The rule is "never set" (NULL), "no rule text" ((char *)1) or an
// owned text.
#include <cstdint>
#include <cstring>
#include <vector>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"
#include "recapi/schema/vtable.h"

namespace zv {

namespace {

// The rule resource of a partitioned data file: type 0, number 10; its
// text "NONE" stands for the date rule.
constexpr uint32_t kRuleType = 0;
constexpr uint32_t kRuleNumber = 10;
constexpr const char *kDateRule = "NONE";
char *const kNoRuleText = reinterpret_cast<char *>(uintptr_t{1});

// Administration designations and the mode bit that asks for the
// system error word.
constexpr int kByName = 1;
constexpr int kByKey = 2;
constexpr int kByNumber = 4;
constexpr int32_t kReportStatus = 0x800;
// File attributes of the first and last active partition.
constexpr int kFirstPartition = 38;
constexpr int kLastPartition = 39;

bool has_rule_text(const tagZVDBTABLE *t) { return reinterpret_cast<uintptr_t>(t->partrule) > 1; }

ZVDBRET admin(ZVHANDLE table, const char *text, int32_t raw, int32_t mode, int designation, int16_t *status) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    const int rc = _zvdbPTADMIN(t->datno, text, raw, int(mode) | designation);
    if ((mode & kReportStatus) && status) *status = int16_t(instance_sysio());
    return keep_code(table, rc);
}

int32_t partition_bound(ZVHANDLE table, int which) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), -1;
    if (!t->active || t->datno < 0) return keep_code(table, ZVDB_NOT_ACTIVE), -1;
    int64_t value = -1;
    _zvdbGETFIL(t->datno, which, &value);
    return int32_t(value);
}

}  // namespace

// How many hidden indexes come before the caller's: those of the open
// files, or, before creation, those the create mode gives.
int32_t hidden_indexes(const tagZVDBTABLE *t) {
    if (t->active) return (t->hasrowid ? 1 : 0) + (t->hasrecbyt ? 1 : 0);
    return (t->createmode & cmode::kNoRowid ? 0 : 1) + (t->createmode & cmode::kNoRecbyt ? 0 : 1);
}

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

ZVDBRET _allocAndGetPARTRES(ZVHANDLE table, char **rule) {
    if (rule) *rule = nullptr;
    tagZVDBTABLE *t = table_of(table);
    if (!t || !rule) return ZVDB_NULL_ARGUMENT;
    std::vector<unsigned char> data;
    int rc = zv::resource_data(t->datno, zv::kRuleType, zv::kRuleNumber, &data);
    if (rc == 408) return 0;
    if (rc) return rc;
    data.push_back(0);
    const auto *text = reinterpret_cast<const char *>(data.data());
    if (!*text || std::strcmp(text, zv::kDateRule) == 0) return 0;
    *rule = _zvdb_strdup(text);
    return *rule ? 0 : ZVDB_NO_MEMORY;
}

ZV_API int32_t zvdbGetTablePartitionIndexNbr(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t || t->partindex < 0) return -1;
    return t->partindex - zv::hidden_indexes(t);
}

ZV_API ZVDBRET zvdbSetTablePartitionIndexNbr(ZVHANDLE table, int32_t index) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (index == -1) {
        t->partindex = -1;
        t->createmode &= ~zv::cmode::kPartitioned;
        return 0;
    }
    if (t->partindex >= 0) return ZVDB_PARTITION_SET;
    // The stored number must fit its 32 bits.
    const int32_t hidden = zv::hidden_indexes(t);
    if (index > INT32_MAX - hidden) return ZVDB_BAD_ARGUMENT;
    t->partindex = index + hidden;
    t->partbits = 0;
    t->createmode |= zv::cmode::kPartitioned;
    if (!t->partrule) t->partrule = zv::kNoRuleText;
    return 0;
}

ZV_API ZVDBRET zvdbSetTablePartitionNumberBits(ZVHANDLE table, int32_t bits) {
    tagZVDBTABLE *t = table_of(table);
    if (!t || t->partindex < 0 || bits == -1) return ZVDB_NO_TABLE;
    t->partbits = bits;
    return 0;
}

ZV_API ZVDBRET zvdbSetTablePartitionRule(ZVHANDLE table, const char *rule) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!rule) {
        if (zv::has_rule_text(t)) _zvdb_free(t->partrule);
        t->partrule = zv::kNoRuleText;
        return 0;
    }
    if (zv::has_rule_text(t)) return ZVDB_PARTITION_SET;
    char *copy = _zvdb_strdup(rule);
    if (!copy) return ZVDB_NO_MEMORY;
    t->partrule = copy;
    return 0;
}

ZV_API ZVDBRET zvdbSetTablePartitionDynMbrs(ZVHANDLE table, int32_t value) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_BAD_TAG_HANDLE);
    t->partdynmembers = value;
    zvdbSetError(table, 0);
    return 0;
}

ZV_API ZVDBRET zvdbPartAdminByName(ZVHANDLE table, const char *name, int32_t mode, int16_t *status) {
    return zv::admin(table, name, 0, mode, zv::kByName, status);
}

ZV_API ZVDBRET zvdbPartAdminByKey(ZVHANDLE table, const char *key, int32_t mode, int16_t *status) {
    return zv::admin(table, key, 0, mode, zv::kByKey, status);
}

ZV_API ZVDBRET zvdbPartAdminByNumber(ZVHANDLE table, int32_t number, int32_t mode, int16_t *status) {
    return zv::admin(table, nullptr, number, mode, zv::kByNumber, status);
}

ZV_API int32_t zvdbGetFirstPartition(ZVHANDLE table) { return zv::partition_bound(table, zv::kFirstPartition); }

ZV_API int32_t zvdbGetLastPartition(ZVHANDLE table) { return zv::partition_bound(table, zv::kLastPartition); }

}  // extern "C"
