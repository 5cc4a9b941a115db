// Locate criteria of record handles: field/value pairs that become a record
// filter (written on the record's own filter, its base filter) and, when
// an index fits their fields, a key-prefix set on that index; the choice
// of that index; the search of a record matching them; and the writing of
// comparisons from callers' values that result sets share (locate.h).
//
// Invariants:
//  1. criteria is NULL or a list of owned pairs (name and value copies).
//  2. While locate criteria drive the filter, filtertext2 holds the filter
//     the record had before the first of them (its base filter): a second
//     update builds on it, not on the previous locate filter.
#include "recapi/records/locate.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <strings.h>
#include <vector>

#include "recapi/base/session.h"
#include "recapi/records/record.h"
#include "recapi/records/set_calls.h"
#include "recapi/schema/field.h"
#include "recapi/schema/table.h"
#include "zarvo/zvdbpt.h"

namespace zv {

namespace {

struct LocatePair {
    char *name;
    char *value;
};

LocatePair *pair_at(const tagZVDBRECORD *r, int32_t i) { return static_cast<LocatePair *>(_zvdbListItem(r->criteria, i)); }

// Segment modes that compare text without regard to case.
bool any_case_mode(int32_t mode) { return mode == 2 || mode == 5 || mode == 13 || mode == 15; }

bool name_char(char c, bool first) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    return first ? letter : letter || (c >= '0' && c <= '9') || c == '.';
}

// A name of letters, digits, underscores and dots that begins with a letter
// or an underscore.
bool plain_name(const char *name) {
    if (!name_char(name[0], true)) return false;
    for (const char *p = name + 1; *p; p++) {
        if (!name_char(*p, false)) return false;
    }
    return true;
}

// Whether the expression language reads the name alone as a field of the
// table (no keyword, type word or function name, whatever its case).
bool reads_as_field(tagZVDBTABLE *t, const char *name) {
    ZVDBRET rc = 0;
    void *tree = parse_expression(t, name, &rc);
    if (!tree) return false;
    const bool field = zvdbptGetNodeType(zvdbptGetRight(static_cast<PTNODE *>(tree))) == PT_FIELD;
    cndxfree(tree);
    return field;
}

ZVDBRET append_name(std::string &text, tagZVDBTABLE *t, const char *name) {
    if (!name || !*name) return ZVDB_BAD_ARGUMENT;
    if (plain_name(name) && reads_as_field(t, name)) {
        text += name;
        return 0;
    }
    if (std::strpbrk(name, " ]")) return ZVDB_BAD_ARGUMENT;
    text += '[';
    text += name;
    text += ']';
    return 0;
}

bool digit(char c) { return c >= '0' && c <= '9'; }
bool hex_digit(char c) { return digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
// Characters of a quoted date or time literal.
bool date_char(char c) { return digit(c) || name_char(c, true) || c == '-' || c == '/' || c == ':' || c == ' '; }

// Whether the whole text is one literal of the expression language: an
// optional sign and a decimal or "0x" number, or a single-quoted date or
// time.
bool one_literal(const char *v) {
    if (*v == '\'') {
        const char *p = v + 1;
        while (date_char(*p)) p++;
        return p > v + 1 && p[0] == '\'' && p[1] == 0;
    }
    if (*v == '+' || *v == '-') v++;
    if (v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        const char *p = v + 2;
        while (hex_digit(*p)) p++;
        return p - (v + 2) >= 1 && p - (v + 2) <= 8 && *p == 0;
    }
    int digits = 0;
    for (; digit(*v); v++) digits++;
    if (*v == '.') {
        for (v++; digit(*v); v++) digits++;
    }
    if (digits == 0) return false;
    if (*v == 'e' || *v == 'E') {
        v++;
        if (*v == '+' || *v == '-') v++;
        if (!digit(*v)) return false;
        while (digit(*v)) v++;
    }
    return *v == 0;
}

// The opening of a text comparison by compare mode; NULL for other modes.
const char *text_function(int32_t mode) {
    switch (mode) {
    case 0: return "strcmp( ";
    case 1: return "stricmp( ";
    case 2: return "strncmp( ";
    case 3: return "strnicmp( ";
    default: return nullptr;
    }
}

// The value of the criterion for a field name (any case), or NULL.
const char *value_for(const tagZVDBRECORD *r, const char *name) {
    for (int32_t i = 0; i < _zvdbListCount(r->criteria); i++) {
        if (same_name(pair_at(r, i)->name, name)) return pair_at(r, i)->value;
    }
    return nullptr;
}

// Builds the locate filter on the base filter and sets it on the record.
ZVDBRET set_locate_filter(tagZVDBRECORD *r, int32_t mode) {
    tagZVDBTABLE *t = r->table;
    if (!t) return ZVDB_NO_TABLE;
    if (!r->filtertext2) {
        // A type-2 filter is a parse tree, no text to build on.
        r->filtertext2 = _zvdb_strdup(r->filtertype == 1 && r->filtertext ? r->filtertext : "");
        if (!r->filtertext2) return ZVDB_NO_MEMORY;
    }
    if (_zvdbListCount(r->criteria) == 0) return ZVDB_LOCATE_FILTER;
    try {
        std::string text;
        if (*r->filtertext2) {
            text += "( ";
            text += r->filtertext2;
            text += " ) ";
        }
        for (int32_t i = 0; i < _zvdbListCount(r->criteria); i++) {
            const LocatePair *p = pair_at(r, i);
            const tagZVDBFIELD *f = find_field(t, p->name);
            if (!f) return ZVDB_NO_FIELD;
            if (!text.empty()) text += "&& ";
            if (ZVDBRET rc = append_comparison(text, t, f, mode, "== ", p->value, true)) return rc;
        }
        return zvdbFilterRecord(r, text.c_str());
    } catch (const std::bad_alloc &) {
        return ZVDB_NO_MEMORY;
    }
}

// Writes the criteria of the criteria index's leading segments into the
// record and starts a key-prefix set over them.
ZVDBRET set_on_criteria(tagZVDBRECORD *r, int32_t mode) {
    tagZVDBTABLE *t = r->table;
    if (r->defindex != r->criteriaindex) {
        if (ZVDBRET rc = zvdbSetDefaultIndex(r, r->criteriaindex)) return rc;
    }
    const auto *ix = static_cast<const tagZVDBINDEX *>(_zvdbListItem(t->indexes, r->criteriaindex));
    int32_t prefix = 0;
    for (int32_t k = 0; ix && k < _zvdbListCount(ix->segments); k++) {
        const auto *s = static_cast<const tagZVDBSEGMENT *>(ix->segments->items[k]);
        const tagZVDBFIELD *f = s->field;
        if (!f || f == rowid_field()) break;
        const char *value = value_for(r, f->name);
        if (!value) break;
        if (ZVDBRET rc = zvdbSetFieldAsString(r, _zvdbListIndexOf(t->fields, f), value)) return rc;
        if ((mode == 2 || mode == 3) && string_field_type(f->type)) {
            // A prefix search: the value's bytes only, within the segment.
            prefix += std::min<int32_t>(int32_t(std::strlen(value)), s->length);
            break;
        }
        prefix += s->length;
    }
    return prefix > 0 ? zvdbRecordSetOn(r, prefix) : 0;
}

ZVDBRET update_criteria(tagZVDBRECORD *r, int32_t mode) {
    if (!r->table || !r->table->active) return ZVDB_NOT_ACTIVE;
    if (_zvdbListCount(r->criteria) == 0) return ZVDB_BAD_ARGUMENT;
    if (!r->isnew || r->edited) {
        if (ZVDBRET rc = zvdbClearRecord(r)) return rc;
    }
    if (ZVDBRET rc = set_locate_filter(r, mode)) return rc;
    return r->criteriaindex == ZVDB_INDEX_PHYSICAL ? 0 : set_on_criteria(r, mode);
}

ZVDBRET set_criteria(tagZVDBRECORD *r, int32_t mode) {
    if (_zvdbListCount(r->criteria) == 0) return ZVDB_BAD_ARGUMENT;
    if (ZVDBRET rc = zvdbSetDefaultIndex(r, ZVDB_INDEX_PHYSICAL)) return rc;
    // Physical order has no key: a set of earlier criteria ends.
    zvdbRecordSetOff(r);
    r->criteriaindex = ZVDB_INDEX_PHYSICAL;
    std::vector<const char *> names;
    try {
        for (int32_t i = 0; i < _zvdbListCount(r->criteria); i++) names.push_back(pair_at(r, i)->name);
        names.push_back(nullptr);
    } catch (const std::bad_alloc &) {
        return ZVDB_NO_MEMORY;
    }
    if (ZVHANDLE ix = zvdbGetBestIndex(r, names.data(), mode)) {
        const int32_t n = _zvdbListIndexOf(r->table->indexes, ix);
        if (ZVDBRET rc = zvdbSetDefaultIndex(r, n)) return rc;
        r->criteriaindex = n;
    }
    return update_criteria(r, mode);
}

// Whether index ix keeps its place among the candidates at segment k.
bool fits_at(const tagZVDBINDEX *ix, int32_t k, const char *const *names, int32_t mode) {
    const auto *s = static_cast<const tagZVDBSEGMENT *>(_zvdbListItem(ix->segments, k));
    if (!s || !s->field || s->field == rowid_field()) return false;
    bool named = false;
    for (const char *const *n = names; *n && !named; n++) named = same_name(*n, s->field->name);
    return named && (any_case_mode(s->mode) || mode == 0 || mode == 2);
}

const tagZVDBINDEX *best_index(const tagZVDBTABLE *t, const char *const *names, int32_t mode) {
    std::vector<const tagZVDBINDEX *> candidates;
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
        candidates.push_back(static_cast<const tagZVDBINDEX *>(t->indexes->items[i]));
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const tagZVDBINDEX *a, const tagZVDBINDEX *b) {
        return strcasecmp(a->name ? a->name : "", b->name ? b->name : "") < 0;
    });
    for (int32_t k = 0; !candidates.empty(); k++) {
        for (size_t i = candidates.size(); i-- > 0;) {
            if (fits_at(candidates[i], k, names, mode)) continue;
            // Past the first segment the first candidate left is the answer.
            if (k >= 1 && i == 0) return candidates[0];
            candidates.erase(candidates.begin() + ptrdiff_t(i));
        }
    }
    return nullptr;
}

}  // namespace

bool string_field_type(int32_t type) {
    switch (type) {
    case ZV_FSTRING: case ZV_STRING: case ZV_FPSTRING: case ZV_PSTRING:
    case ZV_F2STRING: case ZV_2STRING: case ZV_F4STRING: case ZV_4STRING:
        return true;
    default:
        return false;
    }
}

ZVDBRET append_comparison(std::string &text, tagZVDBTABLE *t, const tagZVDBFIELD *f, int32_t mode, const char *op,
                          const char *value, bool spaced) {
    if (!value) value = "";
    try {
        if (ZVDBRET rc = expression_schema(t)) return rc;
        if (!string_field_type(f->type)) {
            if (!one_literal(value)) return ZVDB_BAD_ARGUMENT;
            if (ZVDBRET rc = append_name(text, t, f->name)) return rc;
            if (spaced) text += ' ';
            text += op;
            text += value;
            if (spaced) text += ' ';
            return 0;
        }
        const char *function = text_function(mode);
        if (!function) return ZVDB_BAD_ARGUMENT;
        text += function;
        if (ZVDBRET rc = append_name(text, t, f->name)) return rc;
        text += ", \"";
        for (const char *p = value; *p; p++) {
            if (*p == '"' || *p == '\\') text += '\\';
            text += *p;
        }
        text += '"';
        if (mode >= 2) {
            char length[32];
            std::snprintf(length, sizeof length, ", %zu", std::strlen(value));
            text += length;
        }
        text += " ) ";
        text += op;
        text += "0 ";
        return 0;
    } catch (const std::bad_alloc &) {
        return ZVDB_NO_MEMORY;
    }
}

}  // namespace zv

using namespace zv;

extern "C" {

void _zvdbFreeCriteria(tagZVDBRECORD *r) {
    for (int32_t i = 0; i < _zvdbListCount(r->criteria); i++) {
        LocatePair *p = pair_at(r, i);
        _zvdb_free(p->name);
        _zvdb_free(p->value);
        _zvdb_free(p);
    }
    _zvdbListFree(r->criteria);
    r->criteria = nullptr;
}

ZV_API ZVDBRET zvdbAddLocateCriteria(ZVHANDLE record, const char *field, const char *value) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!field || !value) return keep_code(record, ZVDB_NULL_ARGUMENT);
    if (!r->criteria && !(r->criteria = _zvdbListAlloc())) return keep_code(record, ZVDB_NO_MEMORY);
    auto *p = static_cast<LocatePair *>(_zvdb_alloc(1, sizeof(LocatePair)));
    if (p) {
        p->name = _zvdb_strdup(field);
        p->value = _zvdb_strdup(value);
    }
    if (!p || !p->name || !p->value || _zvdbListAdd(r->criteria, p)) {
        if (p) {
            _zvdb_free(p->name);
            _zvdb_free(p->value);
        }
        _zvdb_free(p);
        return keep_code(record, ZVDB_NO_MEMORY);
    }
    return 0;
}

ZV_API ZVDBRET zvdbSetRecordCriteria(ZVHANDLE record, int32_t mode) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return keep_code(record, set_criteria(r, mode));
}

ZV_API ZVDBRET zvdbUpdateRecordCriteria(ZVHANDLE record, int32_t mode) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return keep_code(record, update_criteria(r, mode));
}

ZV_API int zvdbLocateRecord(ZVHANDLE record, int32_t mode) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD), 0;
    // A scout record walks the records of the criteria; the caller's record
    // reads each of them through its own filter and set.
    auto *scout = static_cast<tagZVDBRECORD *>(r->table ? zvdbAllocRecord(r->table) : nullptr);
    if (!scout) {
        _zvdbFreeCriteria(r);
        return keep_code(record, r->table ? ZVDB_NO_MEMORY : ZVDB_NO_TABLE), 0;
    }
    scout->criteria = r->criteria;
    r->criteria = nullptr;
    ZVDBRET rc = zvdbSetRecordCriteria(scout, mode);
    if (rc == 0) rc = zvdbFirstRecord(scout);
    int found = 0;
    while (rc == 0) {
        rc = zvdbSeekRecord(r, scout->position);
        if (rc == 0) {
            found = 1;
            break;
        }
        // 739: the caller's filter refuses the record.
        if (rc != 739) break;
        rc = zvdbNextRecord(scout);
    }
    zvdbFreeRecord(scout);
    if (rc) keep_code(record, rc);
    return found;
}

ZV_API ZVHANDLE zvdbGetBestIndex(ZVHANDLE record, const char *const *names, int32_t mode) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD), nullptr;
    if (!r->table) return keep_code(record, ZVDB_NO_TABLE), nullptr;
    if (!names) return keep_code(record, ZVDB_NULL_ARGUMENT), nullptr;
    try {
        return const_cast<tagZVDBINDEX *>(best_index(r->table, names, mode));
    } catch (const std::bad_alloc &) {
        return keep_code(record, ZVDB_NO_MEMORY), nullptr;
    }
}

}  // extern "C"
