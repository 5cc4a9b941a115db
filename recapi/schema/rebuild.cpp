// Rebuild and compaction of an open table's files in place, the rebuild
// progress routine, the system filters of a data file, and the debug dump of
// a table's definition.
//
// Invariants:
//  1. A rebuild runs on closed files and ends with the table open again on
//     the rebuilt files, or, when the close, the engine's rebuild or the
//     reopen fails, with the table not active: no handle keeps a data file number that
//     the engine may have given to another file. The handle keeps its
//     definition, and opening it by name binds it to the files again.
//  2. The files are written out before they are closed: a write that fails
//     then fails the rebuild with the table still open and nothing lost.
//  3. A transaction that was active when the rebuild began is active again
//     when it returns, whatever the outcome.
#include "recapi/schema/rebuild.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "recapi/base/paths.h"
#include "recapi/base/session.h"
#include "recapi/base/super.h"
#include "recapi/base/utility.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/schema/field.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"

static_assert(std::is_same_v<ZVDB_REBUILD_CALLBACK, RBLCBFN>, "the engine's progress routine type");

namespace zv {

namespace {

// Rebuild mode bits.
constexpr int32_t kModePurge = 1;
constexpr int32_t kModeStore = 2;
constexpr int32_t kModeCompact = 8;
// Rebuild option values of the definition's tfilno.
constexpr int16_t kOptPurge = -101;
constexpr int16_t kOptStore = -99;
// The engine's answer for a rebuild that purged rejected keys: it finished.
constexpr int kRebuiltPurged = 650;
// The file kind attribute (GETFIL) and its value for a superfile member.
constexpr int kFileKind = 23;
constexpr int64_t kSuperfileMember = 2;
// Open bits a rebuilt table is not reopened with.
constexpr uint32_t kNotReopened = 4 | 64;

// The table after a failed rebuild or reopen: not active, out of its
// database's list of open tables, its definition kept.
void leave_inactive(tagZVDBTABLE *t) {
    t->active = 0;
    t->datno = -1;
    if (t->database) _zvdbRemoveActiveTable(t->database, t);
    new_layout(t);
}

ZVDBRET rebuild(tagZVDBTABLE *t, int32_t mode) {
    RebuildDefinition def;
    if (ZVDBRET rc = rebuild_definition(t, mode, &def)) return rc;
    if (int rc = flush_set(t)) return rc;
    if (ZVDBRET rc = _zvdbCloseZarvo(t)) {
        leave_inactive(t);
        return rc;
    }
    const auto perm = int32_t(t->permission);
    int rc = (mode & kModeCompact)
                 ? _zvdbCMPIFILX(t, def.ifil, t->dataext, t->indexext, perm, t->groupid, t->password)
                 : _zvdbRBLIFILX(t, def.ifil, t->dataext, t->indexext, perm, t->groupid, t->password);
    if (rc != 0 && rc != kRebuiltPurged) {
        leave_inactive(t);
        return rc;
    }
    const uint32_t reopen = t->openmode & ~kNotReopened;
    if (ZVDBRET again = _zvdbReopenZarvo(t, reopen)) {
        leave_inactive(t);
        return again;
    }
    t->openmode = reopen;
    new_layout(t);
    return rc;
}

// Sets or clears the read and write system filters: 0 or the first engine
// code.
ZVDBRET system_filter(ZVHANDLE table, int32_t mode, bool on) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (mode < 1 || mode > 3) return keep_code(table, ZVDB_BAD_ARGUMENT);
    if (!t->active || t->datno < 0) return keep_code(table, ZVDB_NOT_ACTIVE);
    const std::string name = !on ? "" : t->physname && *t->physname ? t->physname : " ";
    for (const auto &[bit, mark] : {std::pair{1, "@@?"}, std::pair{2, "@@!"}}) {
        if (!(mode & bit)) continue;
        const std::string text = mark + name;
        if (int rc = _zvdbSETFLTR(t->datno, text.c_str())) return keep_code(table, rc);
    }
    return 0;
}

// The dump of a table's definition.
void print_rule(FILE *f, int indent, int dashes) { std::fprintf(f, "%*s%s\n", indent, "", std::string(size_t(dashes), '-').c_str()); }

void print_schema(FILE *f, const tagZVDBTABLE *t) {
    std::fputs("    Table DODA:\n", f);
    std::fprintf(f, "    %-32s fadr     %-12s flen\n", "fsymb", "ftype");
    for (int32_t i = 0; t->doda && i < t->dodacount; i++) {
        const DATOBJ &e = t->doda[i];
        const char *type = _zvdbFieldTypeName(e.ftype);
        std::fprintf(f, "    %-32s %8p %-12s %d\n", e.fsymb ? e.fsymb : "", reinterpret_cast<void *>(e.fadr),
                     type ? type : "", int(e.flen));
    }
    print_rule(f, 4, 60);
}

void print_definition(FILE *f, const IFIL *x) {
    auto text = [](const char *s) { return s ? s : "(null)"; };
    std::fputs("    Table IFIL\n", f);
    std::fprintf(f, "    pfilnam: %s\n", text(x->pfilnam));
    std::fprintf(f, "    dfilno : %d\n", int(x->dfilno));
    std::fprintf(f, "    dreclen: %d\n", int(x->dreclen));
    std::fprintf(f, "    dxtdsiz: %d\n", int(x->dxtdsiz));
    std::fprintf(f, "    dfilmod: %d\n", int(x->dfilmod));
    std::fprintf(f, "    ixtdsiz: %d\n", int(x->ixtdsiz));
    std::fprintf(f, "    ifilmod: %d\n", int(x->ifilmod));
    std::fprintf(f, "    rfstfld: %s\n", text(x->rfstfld));
    std::fprintf(f, "    tlstfld: %s\n", text(x->tlstfld));
    std::fprintf(f, "    tfilno:  %d\n", int(x->tfilno));
    std::fprintf(f, "    dnumidx: %d\n", int(x->dnumidx));
    for (int k = 0; x->iidxarr && k < x->dnumidx; k++) {
        const IIDX &ix = x->iidxarr[k];
        print_rule(f, 8, 56);
        std::fprintf(f, "        IIDX[%d]\n", k);
        std::fprintf(f, "        ikeylen: %d\n", int(ix.ikeylen));
        std::fprintf(f, "        ikeytyp: %d\n", int(ix.ikeytyp));
        std::fprintf(f, "        ikeydup: %d\n", int(ix.ikeydup));
        std::fprintf(f, "        inulkey: %d\n", int(ix.inulkey));
        std::fprintf(f, "        iempchr: %d\n", int(ix.iempchr));
        std::fprintf(f, "        ridxnam: %s\n", text(ix.ridxnam));
        std::fprintf(f, "        aidxnam: %s\n", text(ix.aidxnam));
        std::fprintf(f, "        inumseg: %d\n", int(ix.inumseg));
        for (int g = 0; ix.isegarr && g < ix.inumseg; g++) {
            const ISEG &s = ix.isegarr[g];
            print_rule(f, 12, 52);
            std::fprintf(f, "            ISEG[%d]\n", g);
            std::fprintf(f, "            soffset: %d\n", int(s.soffset));
            std::fprintf(f, "            slength: %d\n", int(s.slength));
            std::fprintf(f, "            segmode: %d\n", int(s.segmode));
        }
    }
    print_rule(f, 4, 60);
}

}  // namespace

ZVDBRET close_clean(tagZVDBTABLE *t, ZVDBSUPER *host) {
    // What a rebuild of the closed files takes, kept before the close
    // resets the handle.
    RebuildDefinition def;
    const bool rebuildable = rebuild_definition(t, 0, &def) == 0;
    const std::string dataext = t->dataext ? t->dataext : ".dat", indexext = t->indexext ? t->indexext : ".idx";
    const std::string group = t->groupid ? t->groupid : "", password = t->password ? t->password : "";
    const bool hasgroup = t->groupid != nullptr, haspassword = t->password != nullptr;
    const auto perm = int32_t(t->permission);
    const ZVDBRET rc = zvdbCloseTable(t);
    const ZVDBRET hostrc = host ? _zvdbSuperClose(host) : 0;
    const ZVDBRET failed = rc ? rc : hostrc;
    if (failed == 0 || t->active || !rebuildable) return failed;
    const char *pw = haspassword ? password.c_str() : nullptr;
    // A host whose own close failed is rebuilt first: its index members
    // are then empty until the set is rebuilt.
    if (hostrc && _zvdbZVSBLDX(t, _zvdbSuperGetName(host), pw) != 0) return failed;
    const int rebuilt = _zvdbRBLIFILX(t, def.ifil, dataext.c_str(), indexext.c_str(), perm,
                                      hasgroup ? group.c_str() : nullptr, pw);
    return rebuilt == 0 ? 0 : failed;
}

RebuildDefinition::~RebuildDefinition() { _zvdb_free(ifil); }

int flush_set(const tagZVDBTABLE *t) {
    std::vector<int> files{t->datno};
    for (int k = 0; t->ifil && k < t->ifil->dnumidx; k++) {
        if (k == 0 || t->ifil->iidxarr[k].aidxnam) files.push_back(t->datno + 1 + k);
    }
    // The engine writes no superfile member alone (23): its pages are the
    // host's. A set with one writes every file out.
    for (int f : files) {
        int64_t kind = 0;
        if (_zvdbGETFIL(f, kFileKind, &kind) == 0 && kind == kSuperfileMember) return ZVFLUSH(-1);
    }
    for (int f : files) {
        if (int rc = ZVFLUSH(f)) return rc;
    }
    return 0;
}

ZVDBRET rebuild_definition(tagZVDBTABLE *t, int32_t mode, RebuildDefinition *out) {
    if (!t->active || t->datno < 0) return ZVDB_NOT_ACTIVE;
    int32_t length = 0;
    if (int rc = _zvdbGETIFIL(t->datno, &out->ifil, &length)) return rc;
    out->name = t->superfile ? std::string(_zvdbSuperGetName(t->superfile)) + "!" + t->physname
                             : file_path(t, t->path, t->physname);
    if (out->name.empty()) return ZVDB_NO_MEMORY;
    IFIL *x = out->ifil;
    x->pfilnam = out->name.c_str();
    x->dfilno = -1;
    x->tfilno = (mode & kModePurge) ? kOptPurge : 0;
    if (mode & kModeStore) x->tfilno = int16_t(x->tfilno + kOptStore);
    return 0;
}

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

ZV_API ZVDBRET zvdbRebuildTable(ZVHANDLE table, int32_t mode) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!t->active || t->datno < 0) return ZVDB_NOT_ACTIVE;
    // The rebuild runs outside a transaction; one that was active is begun
    // again afterwards.
    const bool restart = t->session && t->session->tranactive;
    if (restart) {
        if (ZVDBRET rc = zvdbCommit(t)) return keep_code(table, rc);
    }
    ZVDBRET rc = zv::rebuild(t, mode);
    if (restart) {
        const ZVDBRET begun = zvdbBegin(t);
        if (rc == 0) rc = begun;
    }
    return keep_code(table, rc);
}

ZV_API ZVDBRET zvdbSetCallbackOnRebuild(ZVDB_REBUILD_CALLBACK callback, int32_t value) {
    return _zvdbSETCBRBL(callback, value);
}

ZV_API ZVDBRET zvdbSystemFilterOn(ZVHANDLE table, int32_t mode) { return zv::system_filter(table, mode, true); }

ZV_API ZVDBRET zvdbSystemFilterOff(ZVHANDLE table, int32_t mode) { return zv::system_filter(table, mode, false); }

ZV_API ZVDBRET _zvdbTableDisplayDetail(const char *function, ZVHANDLE table, ZVDBRET code, const char *target) {
    tagZVDBTABLE *t = table_of(table);
    if (!t || zv::same_name(t->name, "zvdbdict")) return code;
    FILE *f = nullptr;
    if (_zvdbStartDebug(&f, target) != 0) return code;
    if (code != 0) std::fprintf(f, "\n%s returned %d <<< ERROR >>>\n", function ? function : "", code);
    std::fprintf(f, "   Table status => name: %s, active: %s, uid: %u, datno: %d,", t->name ? t->name : "",
                 t->active ? "YES" : "NO", t->uid, int(t->datno));
    std::fprintf(f, " database: %s\n", t->database && t->database->name ? t->database->name : "NULL");
    zv::print_schema(f, t);
    if (t->ifil) zv::print_definition(f, t->ifil);
    _zvdbEndDebug(f);
    return code;
}

}  // extern "C"
