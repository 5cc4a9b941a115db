// Merging one dictionary into another of the same kind. Both sides are read
// whole into lists of items (entry and action) in UID order; a plan sets
// every action (the caller's planner, or the default: replace the
// destination's entries by the source's); the plan is carried out on the
// destination, and its serial number is set past its highest UID.
//
// The engine gives the dictionary no transaction, so the merge keeps the
// destination's entries as collected and undoes itself from them: when
// carrying out the plan or setting the serial number fails, every UID it
// deleted, rewrote or added is removed and the kept entries of those UIDs
// are written again. Removing first and writing afterwards meets no
// duplicate name: what is left is a subset of the old entries, and the old
// entries fitted together.
#include <algorithm>
#include <vector>

#include "recapi/base/list.h"
#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dictionary.h"

using namespace zv::dict;
using zv::keep_code;

namespace {

constexpr char kSummary[] = "Error while merging DataBase Dictionary:";

// Message levels: the public call's summary, a failed stage, a failing step.
enum Level : int { kCall = 1, kStage = 2, kStep = 3 };

struct Messages {
    ZVDB_MERGE_MESSAGE fn;
    // Hands the message to the caller's routine, when there is one: rc.
    ZVDBRET operator()(int level, const char *text, ZVDBRET rc, const char *detail = nullptr) const {
        if (fn) fn(level, text, rc, detail);
        return rc;
    }
};

// A list of merge items, freed with its items.
class Items {
public:
    Items() : list_(_zvdbListAlloc()) {}
    Items(const Items &) = delete;
    Items &operator=(const Items &) = delete;
    ~Items() {
        for (int32_t i = 0; i < _zvdbListCount(list_); i++) _zvdb_free(_zvdbListItem(list_, i));
        _zvdbListFree(list_);
    }
    ZVDBLIST *list() const { return list_; }
    int32_t count() const { return _zvdbListCount(list_); }
    ZVDBMERGEITEM *at(int32_t i) const { return static_cast<ZVDBMERGEITEM *>(_zvdbListItem(list_, i)); }

private:
    ZVDBLIST *list_;
};

class Merge {
public:
    Merge(ZVDBDICT *source, ZVDBDICT *destination, ZVDB_MERGE_MESSAGE messages)
        : src_(source), dst_(destination), say_{messages} {}

    ZVDBRET run(ZVDB_MERGE_PLANNER planner) {
        if (!from_.list()) return say_(kStage, "Cannot Allocate List (src) error:", ZVDB_NO_MEMORY);
        if (!to_.list()) return say_(kStage, "Cannot Allocate List (dst) error:", ZVDB_NO_MEMORY);
        if (ZVDBRET rc = collect(src_, from_)) {
            return say_(kStage, "Cannot Collect Dictionary information (src) error:", rc);
        }
        if (ZVDBRET rc = collect(dst_, to_)) {
            return say_(kStage, "Cannot Collect Dictionary information (dst) error:", rc);
        }
        kept_.reserve(size_t(to_.count()));
        for (int32_t i = 0; i < to_.count(); i++) kept_.push_back(to_.at(i)->entry);
        if (ZVDBRET rc = plan(planner)) return say_(kStage, "Merge planning error:", rc);
        ZVDBRET rc = execute();
        if (rc) say_(kStage, "Merge execution error:", rc);
        if (rc == 0) rc = set_serial();
        // The merge is done once it has reached the files: a failed write
        // there takes it back like a failed step.
        if (rc == 0 && (rc = hand_over())) say_(kStage, "Cannot write Dictionary information (dst) error:", rc);
        if (rc) {
            restore();
            hand_over();
        }
        return rc;
    }

private:
    // The entries of a dictionary in UID order.
    ZVDBRET collect(ZVDBDICT *d, Items &items) const {
        _zvdbRecordSetByLinkOff(d);
        ZVDBRET rc = zvdbSetDefaultIndex(d->record, kByUid);
        return rc ? rc : _zvdbCollectDictInfo(items.list(), d, say_.fn);
    }

    // The caller's plan, or every source entry added and every destination
    // entry deleted.
    ZVDBRET plan(ZVDB_MERGE_PLANNER planner) {
        if (planner) return planner(from_.list(), to_.list());
        for (int32_t i = 0; i < from_.count(); i++) {
            if (!from_.at(i)) return ZVDB_BAD_MODE;
            from_.at(i)->action = ZVDB_MERGE_ADD;
        }
        for (int32_t i = 0; i < to_.count(); i++) {
            ZVDBMERGEITEM *item = to_.at(i);
            if (!item || item->action != ZVDB_MERGE_NONE) return ZVDB_BAD_MODE;
            item->action = ZVDB_MERGE_DELETE;
        }
        return 0;
    }

    ZVDBRET execute() {
        for (int32_t i = 0; i < to_.count(); i++) {
            ZVDBMERGEITEM *item = to_.at(i);
            const uint32_t action = item ? item->action : ZVDB_MERGE_NONE;
            if (action == ZVDB_MERGE_KEEP) continue;
            if (action != ZVDB_MERGE_DELETE && action != ZVDB_MERGE_REWRITE) return unplanned(item);
            if (ZVDBRET rc = change(*item)) return rc;
        }
        for (int32_t i = 0; i < from_.count(); i++) {
            ZVDBMERGEITEM *item = from_.at(i);
            const uint32_t action = item ? item->action : ZVDB_MERGE_NONE;
            if (action == ZVDB_MERGE_SKIP) continue;
            if (action != ZVDB_MERGE_ADD) return unplanned(item);
            if (ZVDBRET rc = add(item->entry)) return rc;
        }
        return 0;
    }

    ZVDBRET unplanned(const ZVDBMERGEITEM *item) {
        return say_(kStep, "Not action set (dst):", ZVDB_BAD_MODE, item ? item->entry.name : nullptr);
    }

    // Deletes or rewrites the destination entry of the item's UID.
    ZVDBRET change(const ZVDBMERGEITEM &item) {
        constexpr char kUpdating[] = "Updating Dictionary information (dst) error:";
        const uint32_t uid = item.entry.uid;
        ZVDBRET rc = _zvdbFindDictByUID(dst_, uid);
        if (rc == 101) {
            say_(kStep, "Cannot find entry on dictionary (dst):", ZVDB_BAD_MODE, item.entry.name);
            return say_(kStep, kUpdating, ZVDB_BAD_MODE);
        }
        if (rc) return say_(kStep, kUpdating, rc);
        // Found: put back from the kept copy on the way back, whatever a
        // failing step below leaves.
        changed_.push_back(uid);
        if (item.action == ZVDB_MERGE_DELETE) {
            rc = zvdbDeleteRecord(dst_->record);
            return rc ? say_(kStep, kUpdating, rc) : 0;
        }
        // The record read stays current: putting the entry and writing
        // rewrites it.
        if ((rc = _zvdbPutDict(dst_, &item.entry))) return say_(kStep, "_zvdbPutDict (dst) error:", rc);
        if ((rc = _zvdbWriteDict(dst_))) return say_(kStep, kUpdating, rc);
        return 0;
    }

    // Adds a source entry with its UID.
    ZVDBRET add(const ZVDBDICTENTRY &e) {
        ZVDBRET rc = _zvdbClearDict(dst_);
        if (rc) return say_(kStep, "zvdbClearRecord Dictionary information (dst) error:", rc);
        if ((rc = _zvdbPutDict(dst_, &e))) return say_(kStep, "_zvdbPutDict (dst) error:", rc);
        // A write that fails adds nothing (the record layer takes back what
        // it did), and its UID may be that of an entry left alone.
        if ((rc = _zvdbWriteDict(dst_))) return say_(kStep, "zvdbWriteRecord Dictionary information (dst) error:", rc);
        changed_.push_back(e.uid);
        return 0;
    }

    // The serial number past the highest UID, so that the next UID is one
    // above it; an empty destination keeps its serial number and with it
    // every UID handed out before.
    ZVDBRET set_serial() {
        ZVDBRET rc = zvdbSetDefaultIndex(dst_->record, kByUid);
        if (rc) return say_(kStage, "Cannot set index to UID index:", rc);
        rc = zvdbLastRecord(dst_->record);
        if (rc == 101) return 0;
        ZVDBDICTENTRY last;
        if (rc == 0) rc = _zvdbGetDict(dst_, &last);
        if (rc) return say_(kStage, "Cannot Get Dictionary information (src) error:", rc);
        // UIDs are the serial number's low word plus 998, so this is exact
        // in 32 bits.
        const uint32_t serial = last.uid - (kUidBase - 1);
        if ((rc = _zvdbUpdateSerial(dst_->table, serial))) return say_(kStage, "Cannot set UID:", rc);
        return 0;
    }

    // Puts the destination back as collected; goes on past failures.
    void restore() {
        std::sort(changed_.begin(), changed_.end());
        changed_.erase(std::unique(changed_.begin(), changed_.end()), changed_.end());
        for (uint32_t uid : changed_) _zvdbRemoveDictByUID(dst_, uid);
        for (const ZVDBDICTENTRY &e : kept_) {
            if (!std::binary_search(changed_.begin(), changed_.end(), e.uid)) continue;
            if (_zvdbClearDict(dst_) == 0 && _zvdbPutDict(dst_, &e) == 0) _zvdbWriteDict(dst_);
        }
    }

    ZVDBDICT *src_;
    ZVDBDICT *dst_;
    Messages say_;
    Items from_;
    Items to_;
    std::vector<ZVDBDICTENTRY> kept_;  // the destination's entries as collected, in UID order
    std::vector<uint32_t> changed_;    // UIDs the merge deleted, rewrote or added in the destination
};

// The session dictionary of a handle's session for a merge: 0, 4003, 4012
// not logged on (or no dictionary open), 4084 not open exclusively.
ZVDBRET session_side(ZVHANDLE handle, ZVDBDICT **out) {
    tagZVDBSESSION *s = zv::session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (!s->loggedon || !s->dict || !s->dict->open) return ZVDB_NOT_ACTIVE;
    if (!s->dict->exclusive) return ZVDB_BAD_SESSION_TYPE;
    *out = s->dict;
    return 0;
}

// The dictionary of the database a handle leads to: 0, 4010 no database or
// not open exclusively, 4012 not connected.
ZVDBRET database_side(ZVHANDLE handle, ZVDBDICT **out) {
    auto *db = static_cast<tagZVDBDATABASE *>(zvdbGetDatabaseHandle(handle));
    if (!db) return ZVDB_NO_DATABASE;
    if (!db->connected || !db->dict || !db->dict->open) return ZVDB_NOT_ACTIVE;
    if (!db->dict->exclusive) return ZVDB_NO_DATABASE;
    *out = db->dict;
    return 0;
}

// Both sides checked by `side`, then merged under the session locks (the
// source read, the destination written). A failure is kept as the last code
// of both sessions and reported as the call's summary.
ZVDBRET merge_call(ZVHANDLE source, ZVHANDLE destination, ZVDB_MERGE_PLANNER planner, ZVDB_MERGE_MESSAGE messages,
                   ZVDBRET (*side)(ZVHANDLE, ZVDBDICT **)) {
    ZVDBDICT *from = nullptr;
    ZVDBDICT *to = nullptr;
    ZVDBRET rc = side(source, &from);
    if (rc == 0) rc = side(destination, &to);
    if (rc == 0) {
        rc = locked(source, from, kRead, [&] {
            // The merge hands its changes to the system itself, before it
            // counts as done.
            return locked(
                destination, to, kWrite, [&] { return _zvdbMergeDictionary(from, to, planner, messages); }, false);
        });
    }
    if (rc) {
        keep_code(source, rc);
        keep_code(destination, rc);
        Messages{messages}(kCall, kSummary, rc);
    }
    return rc;
}

}  // namespace

extern "C" {

ZVDBRET _zvdbCollectDictInfo(ZVDBLIST *list, ZVDBDICT *d, ZVDB_MERGE_MESSAGE messages) {
    if (!list || !d) return ZVDB_NULL_ARGUMENT;
    const Messages say{messages};
    ZVDBRET rc = zvdbFirstRecord(d->record);
    for (; rc == 0; rc = zvdbNextRecord(d->record)) {
        auto *item = static_cast<ZVDBMERGEITEM *>(_zvdb_alloc(1, sizeof(ZVDBMERGEITEM)));
        if (!item) return say(kStep, "Cannot Allocate item Dictionary information error:", ZVDB_NO_MEMORY);
        if ((rc = _zvdbGetDict(d, &item->entry))) {
            _zvdb_free(item);
            break;
        }
        if ((rc = _zvdbListAdd(list, item))) {
            _zvdb_free(item);
            return say(kStep, "Cannot add info to the list of databases (src):", rc);
        }
    }
    return rc == 101 ? 0 : say(kStep, "Cannot Get Dictionary information (src) error:", rc);
}

ZV_API ZVDBRET _zvdbMergeDictionary(ZVDBDICT *source, ZVDBDICT *destination, ZVDB_MERGE_PLANNER planner,
                                    ZVDB_MERGE_MESSAGE messages) {
    if (!source || !destination) return ZVDB_NULL_ARGUMENT;
    if (!source->open || !destination->open) return keep_code(destination->session, ZVDB_NOT_ACTIVE);
    Merge merge(source, destination, messages);
    return merge.run(planner);
}

ZV_API ZVDBRET zvdbMergeSessionDictionary(ZVHANDLE source, ZVHANDLE destination, ZVDB_MERGE_PLANNER planner,
                                          ZVDB_MERGE_MESSAGE messages) {
    return merge_call(source, destination, planner, messages, session_side);
}

ZV_API ZVDBRET zvdbMergeDatabaseDictionary(ZVHANDLE source, ZVHANDLE destination, ZVDB_MERGE_PLANNER planner,
                                           ZVDB_MERGE_MESSAGE messages) {
    return merge_call(source, destination, planner, messages, database_side);
}

}  // extern "C"
