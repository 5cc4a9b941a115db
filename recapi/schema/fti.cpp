// Full-text index and full-text dictionary handles, and the parameter texts
// that describe them to a full-text engine. This library has no full-text
// engine: its entry point answers 454, and the calls that would define,
// add, remove or load a full-text index answer 4054; the handles and texts
// exist so that definitions can be built and exchanged exactly.
//
// Parameter texts (ASCII, hexadecimal digits in lower case, "|" between
// parts):
//   dictionary  "0002|" word0 "," word1 "|" [len4 "," text1] "|"
//               [len4 "," text2] "|" text4 "|" ["!"] text5 "|" len8 "|" text3
//   attributes  ""
//   index       "0004|" ["!" "*" "+" by mode 1..3] description "|" option4
//               "|" dictionary "|" count3 {";" name "," mode4} "|"
//               [len4 "," further] "|" attributes "|"
// where lenN and optionN are N hexadecimal digits and count3 three decimal
// digits. A text whose length does not fit in four hexadecimal digits is
// refused (4043).
#include "recapi/schema/fti.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>

#include "recapi/base/session.h"
#include "recapi/schema/field.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"

namespace zv {

namespace {

// Texts of this many bytes or more have no four-digit length.
constexpr size_t kTextLimit = 65536;
// Code of a full-text index definition without fields.
constexpr ZVDBRET kNoFields = ZVDB_FTI_NO_FIELDS;
// First buffer of a dictionary parameter asked of the engine.
constexpr int32_t kFirstParamBuffer = 128;

// What the full-text entry point is asked: a request, the data file, a
// name, a parameter text, and a reply buffer whose size the engine raises
// (answering 153) when the reply does not fit.
struct FullTextRequest {
    int32_t request;
    int32_t datno;
    const char *name;
    const char *text;
    char *reply;
    int32_t replysize;
};
enum : int32_t { kCreateIndex = 1, kDictionaryParam = 2, kRemoveIndex = 3 };

tagZVDBFTIDICT *dict_itself(ZVHANDLE h) {
    return h && handle_kind(h) == ZVDB_FTIDICT_HANDLE ? static_cast<tagZVDBFTIDICT *>(h) : nullptr;
}

tagZVDBFTI *fti_itself(ZVHANDLE h) {
    return h && handle_kind(h) == ZVDB_FTI_HANDLE ? static_cast<tagZVDBFTI *>(h) : nullptr;
}

size_t length_of(const char *text) { return text ? std::strlen(text) : 0; }

// Appends printf output to a text.
template <typename... Args>
void append(std::string &out, const char *format, Args... args) {
    char piece[32];
    std::snprintf(piece, sizeof piece, format, args...);
    out += piece;
}

// Appends a text with its length in front ("%04x,"), when it is not empty.
void append_counted(std::string &out, const char *text) {
    if (const size_t n = length_of(text)) {
        append(out, "%04x,", unsigned(n));
        out.append(text, n);
    }
}

// Hands a built text to the caller in a block of the API's allocator: 0,
// 4001.
ZVDBRET hand_out(const std::string &text, char **out) {
    char *copy = _zvdb_stralloc(int32_t(text.size()));
    if (!copy) return ZVDB_NO_MEMORY;
    std::memcpy(copy, text.data(), text.size());
    *out = copy;
    return 0;
}

void dictionary_text(const tagZVDBFTIDICT *d, std::string &out) {
    append(out, "0002|%04x,%04x|", unsigned(d->words[0]), unsigned(d->words[1]));
    append_counted(out, d->texts[0]);
    out += '|';
    append_counted(out, d->texts[1]);
    out += '|';
    if (d->texts[3]) out += d->texts[3];
    out += '|';
    if (d->flag) out += '!';
    if (d->texts[4]) out += d->texts[4];
    out += '|';
    append(out, "%08x|", unsigned(length_of(d->texts[2])));
    if (d->texts[2]) out += d->texts[2];
}

ZVDBRET check_dictionary(const tagZVDBFTIDICT *d) {
    for (const char *text : d->texts) {
        if (length_of(text) >= kTextLimit) return ZVDB_NAME_TOO_LONG;
    }
    return 0;
}

ZVDBRET index_text(const tagZVDBFTI *x, std::string &out) {
    const tagZVDBFTIDICT *d = dict_itself(x->dict);
    if (!d) return ZVDB_BAD_MODE;
    const int32_t fields = _zvdbListCount(x->fieldlist);
    if (fields < 1) return kNoFields;
    if (length_of(x->further) >= kTextLimit) return ZVDB_NAME_TOO_LONG;
    if (ZVDBRET rc = check_dictionary(d)) return rc;
    out += "0004|";
    if (x->mode >= 1 && x->mode <= 3) out += "!*+"[x->mode - 1];
    if (x->description) out += x->description;
    append(out, "|%04x|", unsigned(x->option));
    dictionary_text(d, out);
    append(out, "|%03d", int(fields));
    for (int32_t i = 0; i < fields; i++) {
        auto *entry = static_cast<const ZVDBFTIFIELD *>(x->fieldlist->items[i]);
        out += ';';
        if (entry->name) out += entry->name;
        append(out, ",%04x", unsigned(entry->mode));
    }
    out += '|';
    append_counted(out, x->further);
    out += '|';
    out += '|';  // the attribute parameter is empty
    return 0;
}

// Builds a text with `build` and hands it out: 0, 4007 NULL out, the
// builder's code, 4001.
template <typename Build>
ZVDBRET build_text(char **out, Build build) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    try {
        std::string text;
        if (ZVDBRET rc = build(text)) return rc;
        return hand_out(text, out);
    } catch (const std::bad_alloc &) {
        return ZVDB_NO_MEMORY;
    }
}

// Asks the full-text entry point for a dictionary's parameter text, with
// a reply buffer grown while the engine asks for more: the engine's code,
// the reply into *reply when it answers 0.
ZVDBRET ask_dictionary_param(int file, const char *name, char **reply) {
    int32_t size = kFirstParamBuffer;
    for (;;) {
        char *buffer = _zvdb_stralloc(size);
        if (!buffer) return ZVDB_NO_MEMORY;
        FullTextRequest request{kDictionaryParam, file, name, nullptr, buffer, size};
        int rc = zvFullText(&request);
        if (rc == 153 && request.replysize > size) {
            size = request.replysize;
            _zvdb_free(buffer);
            continue;
        }
        if (rc == 0 && reply) *reply = buffer;
        else _zvdb_free(buffer);
        return rc;
    }
}

}  // namespace

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

ZV_API ZVHANDLE zvdbAllocFTI(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), nullptr;
    auto *x = static_cast<tagZVDBFTI *>(_zvdb_alloc(1, sizeof(tagZVDBFTI)));
    ZVDBLIST *fields = _zvdbListAlloc();
    if (!x || !fields) {
        _zvdb_free(x);
        _zvdbListFree(fields);
        return keep_code(table, ZVDB_NO_MEMORY), nullptr;
    }
    x->kind = ZVDB_FTI_HANDLE;
    x->table = t;
    x->status = 1;
    x->fieldlist = fields;
    return x;
}

ZV_API void zvdbFreeFTI(ZVHANDLE fti) {
    tagZVDBFTI *x = zv::fti_itself(fti);
    if (!x) return;
    for (int32_t i = 0; i < _zvdbListCount(x->fieldlist); i++) {
        auto *entry = static_cast<ZVDBFTIFIELD *>(x->fieldlist->items[i]);
        _zvdb_free(entry->name);
        _zvdb_free(entry);
    }
    _zvdbListFree(x->fieldlist);
    for (char *text : {x->name, x->description, x->further}) _zvdb_free(text);
    _zvdb_free(x);
}

ZV_API ZVHANDLE zvdbAllocFTIDict(ZVHANDLE handle) {
    tagZVDBSESSION *s = zv::session_of(handle);
    if (!s) return nullptr;
    auto *d = static_cast<tagZVDBFTIDICT *>(_zvdb_alloc(1, sizeof(tagZVDBFTIDICT)));
    if (!d) return keep_code(handle, ZVDB_NO_MEMORY), nullptr;
    d->kind = ZVDB_FTIDICT_HANDLE;
    d->session = s;
    d->word1 = 1;
    d->words[0] = 0x002D;
    d->words[1] = 1;
    return d;
}

ZV_API void zvdbFreeFTIDict(ZVHANDLE dict) {
    tagZVDBFTIDICT *d = zv::dict_itself(dict);
    if (!d) return;
    for (char *text : d->texts) _zvdb_free(text);
    _zvdb_free(d);
}

ZV_API ZVHANDLE zvdbAddFTI(ZVHANDLE table, const char *) {
    keep_code(table, ZVDB_NOT_SUPPORTED);
    return nullptr;
}

ZV_API ZVDBRET zvdbDelFTI(ZVHANDLE table, int32_t) { return keep_code(table, ZVDB_NOT_SUPPORTED); }

ZV_API ZVDBRET zvdbAddFTIField(ZVHANDLE, ZVHANDLE, uint32_t) { return ZVDB_NOT_SUPPORTED; }

ZV_API ZVDBRET zvdbAddFTIFieldByName(ZVHANDLE table, int32_t index, const char *field, uint32_t mode) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    ZVHANDLE fti = _zvdbListItem(t->ftis, index);
    if (!fti) return keep_code(table, ZVDB_NO_FTI);
    if (!field) return keep_code(table, ZVDB_NULL_ARGUMENT);
    tagZVDBFIELD *f = zv::find_field(t, field);
    if (!f) return keep_code(table, ZVDB_NO_FIELD_NAME);
    return keep_code(table, zvdbAddFTIField(fti, f, mode));
}

ZV_API ZVDBRET zvdbSetFTIOption(ZVHANDLE fti, int32_t, const char *, uint32_t) {
    return keep_code(fti, ZVDB_NOT_SUPPORTED);
}

ZV_API ZVDBRET zvdbSetFTIDictOption(ZVHANDLE dict, int32_t, const char *, uint32_t) {
    return keep_code(dict, ZVDB_NOT_SUPPORTED);
}

ZV_API ZVDBRET zvdbStartFTIBackgroundLoad(ZVHANDLE, int32_t) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbFTIStartBackgroundLoad(ZVHANDLE, int32_t) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbCheckFTIBackgroundLoad(ZVHANDLE, int32_t, void *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbFTICheckBackgroundLoad(ZVHANDLE, int32_t, void *) { return ZVDB_NOT_SUPPORTED; }

ZV_API ZVDBRET _zvdbParseFTIDictResourceParam(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET _zvdbParseFTIAttribParam(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET _zvdbParseFTIResourceParam(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET _zvdbUpdateNameInFTIParam(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET _zvdbGetFTIResources(ZVHANDLE) { return ZVDB_NOT_SUPPORTED; }

ZV_API ZVDBRET _zvdbCreateFTIDictResourceParam(ZVHANDLE dict, char **text) {
    const tagZVDBFTIDICT *d = zv::dict_itself(dict);
    if (!d) return ZVDB_BAD_MODE;
    return zv::build_text(text, [d](std::string &out) {
        if (ZVDBRET rc = zv::check_dictionary(d)) return rc;
        zv::dictionary_text(d, out);
        return ZVDBRET(0);
    });
}

ZV_API ZVDBRET _zvdbCreateFTIAttribParam(ZVHANDLE, char **text) {
    return zv::build_text(text, [](std::string &) { return ZVDBRET(0); });
}

ZV_API ZVDBRET _zvdbCreateFTIResourceParam(ZVHANDLE fti, char **text) {
    const tagZVDBFTI *x = zv::fti_itself(fti);
    if (!x) return ZVDB_NO_FTI;
    return zv::build_text(text, [x](std::string &out) { return zv::index_text(x, out); });
}

ZV_API ZVDBRET _zvdbGetFTIDictResourceParamFromFile(int file, const char *name, char **text, ZVHANDLE *dict) {
    char *reply = nullptr;
    ZVDBRET rc = zv::ask_dictionary_param(file, name, &reply);
    if (rc == 0 && dict) rc = _zvdbParseFTIDictResourceParam(*dict, reply);
    if (rc == 0 && text) *text = reply;
    else _zvdb_free(reply);
    return rc;
}

ZV_API ZVDBRET _zvdbCreateFTI(ZVHANDLE table, int32_t n, int) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (!t->hasrowid) return keep_code(table, ZVDB_NO_ROWID);
    const int32_t count = _zvdbListCount(t->ftis);
    if (n != -1 && (n < 0 || n >= count)) return keep_code(table, ZVDB_BAD_POSITION);
    for (int32_t i = n < 0 ? 0 : n; i < (n < 0 ? count : n + 1); i++) {
        char *text = nullptr;
        if (ZVDBRET rc = _zvdbCreateFTIResourceParam(t->ftis->items[i], &text)) return keep_code(table, rc);
        zv::FullTextRequest request{zv::kCreateIndex, t->datno, nullptr, text, nullptr, 0};
        ZVDBRET rc = zvFullText(&request);
        _zvdb_free(text);
        if (rc) return keep_code(table, rc);
    }
    return 0;
}

ZV_API ZVDBRET _zvdbRemoveFTI(ZVHANDLE table, int32_t n, int32_t mode) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    const bool active = t->active != 0;
    const uint32_t openmode = t->openmode;
    // The removal works on closed files: the table is reopened after it.
    ZVDBRET first = active ? _zvdbCloseZarvo(t) : 0;
    if (first == 0) {
        // The index number travels in the text's place, the mode in the
        // reply size.
        const std::string number = std::to_string(n);
        zv::FullTextRequest request{zv::kRemoveIndex, -1, t->physname, number.c_str(), nullptr, mode};
        first = zvFullText(&request);
    }
    if (active) {
        ZVDBRET rc = t->datno < 0 ? _zvdbReopenZarvo(t, openmode) : 0;
        if (!first) first = rc;
    }
    return keep_code(table, first);
}

ZV_API int _zvdbIsNameTableDep(const char *table, const char *file, int separator, const char **start,
                               const char **end) {
    const size_t n = zv::length_of(table);
    if (!n || !file) return 0;
    for (const char *p = std::strstr(file, table); p; p = std::strstr(p + 1, table)) {
        if (p != file && static_cast<unsigned char>(p[-1]) != static_cast<unsigned char>(separator)) continue;
        const char after = p[n];
        const int result = after == '_' ? 1 : (after == '.' || after == 0) ? 2 : 0;
        if (!result) continue;
        if (start) *start = p;
        if (end) *end = p + n;
        return result;
    }
    return 0;
}

}  // extern "C"
