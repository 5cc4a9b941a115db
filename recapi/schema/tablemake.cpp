// The files of a new table made under temporary names and put in place when
// whole (recapi/base/making.h).
//
// Plain files: the set is created with "~zvnew" in each file's name, held
// at once (making::Made: the engine's hold of each file, kept through its
// close and its links to the make's end), written (schema, resources,
// stored definition naming the final index files) and closed cleanly;
// then each index file takes its final name by a link, the data file
// last. The temporary names stay beside the final ones, and the files
// held, until the make's end (the table's entry written, or the make taken
// back: create_table). A kill at any moment leaves no data file under the
// table's name (and what is under its index names is a second link of a
// temporary file, which the next make drops), or the whole set, closed
// cleanly. A make that finds another's files held waits for its end.
//
// Members of a superfile host that exists (the database dictionary's host,
// one another table was made in, or one the make made empty first): the
// set is created in the host under the temporary member names, written and
// closed, and then put in place by the engine's swap of member sets
// (SWPIFILX), which stores the final definition in the new data member,
// writes a note beside the host listing every move and renames each member
// to its name, the host written out after each step. The swap holds the
// host from its first look to its end, and every open of the data member
// under its name finishes a swap that a kill cut short once a member had
// moved, or drops the new members when none had. A kill leaves the host
// not closed cleanly: its superfile rebuild (by the database's connect for
// the dictionary's host, by the make for another) comes first, and then the
// table is absent under its names (the next make drops the members left
// under the temporary names) or whole under them. A make that fails after
// the swap (its entry refused) takes the set back by the swap the other
// way, with its note beside the host ("host!member~zvnew.dat.swap"), then
// drops the members: the next make's drop opens the temporary data member
// first, which finishes such a swap, and a make that finds the data member
// under its name drops the note of one that never began.
//
// Invariants:
//  1. No final name is ever replaced: a link refuses a name that exists,
//     and the make then takes back the links it made and its files; a
//     member swap runs only after every final member name was found free,
//     with the host open in this instance from that look to the swap.
//  2. A name found on disk is dropped only when it is a temporary name no
//     open holds, or a final index name that is the same file as such a
//     temporary name while the data file's final name is free.
//  3. The data file takes its final name last, and a take-back removes it
//     first: a data file under the table's name always has its index files
//     under theirs (a data member under its name may wait for its index
//     members until its next open finishes the swap from the note).
//  4. A plain file of a make is held from its creation (the engine's
//     create locks it) to the make's end: no other make deletes it.
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "recapi/base/making.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/alter.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"

namespace zv {

namespace {

constexpr int kDataExists = 19;
constexpr int kIndexExists = 18;
constexpr int kNotMoved = 67;
constexpr int kHeld = 12;
constexpr int kNotClosed = 14;
// Open mode of a member looked at or deleted: exclusive, accepted as it
// stands (a kill, or the superfile rebuild, may have left it marked).
constexpr uint16_t kOpenAsItStands = 0x4000;
// Create-block word 10 of a definition store: the data file is open
// already under tfilno, and its indexes with it.
constexpr uint32_t kXcreDataOpen = 0x1;
constexpr uint32_t kXcreIndexesOpen = 0x10000;

bool relative_to_data(const char *a) { return a[0] == '*' || a[0] == '+' || a[0] == '?'; }

// The directory part of a name as the engine takes it for "*x" and "+x":
// up to its last separator.
std::string directory_of(const std::string &name) {
    const size_t at = name.find_last_of("/:\\");
    return at == std::string::npos ? std::string() : name.substr(0, at + 1);
}

std::string with_ext(const char *base, const char *ext, const char *dflt) {
    const bool given = ext && ext[std::strspn(ext, " ")];
    return std::string(base) + (given ? ext : dflt);
}

// One file of a set: its index (-1 the data file) and its name.
struct SetFile {
    int k;
    std::string name;
};

// The files of a definition as the engine names them: the data file, then
// index 0's file and each index file of its own (a name shared by two
// indexes once).
std::vector<SetFile> names_of(const IFIL &f, const char *dext, const char *iext) {
    std::vector<SetFile> out;
    const std::string data = with_ext(f.pfilnam, dext, ".dat");
    out.push_back({-1, data});
    const int n = f.dnumidx > 0 && f.iidxarr ? f.dnumidx : 0;
    for (int k = 0; k < n; k++) {
        const char *a = f.iidxarr[k].aidxnam;
        std::string name;
        if (!a) {
            if (k > 0) continue;
            name = with_ext(f.pfilnam, iext, ".idx");
        } else if (!relative_to_data(a)) {
            name = a;
        } else if (a[0] == '?') {
            name = data + (a + 1);
        } else {
            name = directory_of(data) + (a + 1);
        }
        bool seen = false;
        for (const SetFile &s : out) seen = seen || s.name == name;
        if (!seen) out.push_back({k, name});
    }
    return out;
}

// The definition of the same set under temporary names: the data file's
// name with the marker (its index files without a name of their own, and
// those named after it, follow), and each index file of its own the
// temporary name of its name.
struct TempDefinition {
    IFIL ifil;
    std::string pfilnam;
    std::vector<IIDX> idx;
    std::vector<std::string> aidx;
    explicit TempDefinition(const IFIL &from) : ifil(from), pfilnam(std::string(from.pfilnam) + making::kMarker) {
        ifil.pfilnam = pfilnam.c_str();
        const int n = from.dnumidx > 0 && from.iidxarr ? from.dnumidx : 0;
        idx.assign(from.iidxarr, from.iidxarr + n);
        aidx.resize(size_t(n));
        for (int k = 0; k < n; k++) {
            const char *a = from.iidxarr[k].aidxnam;
            if (!a || a[0] == '?') continue;
            aidx[size_t(k)] = relative_to_data(a) ? a[0] + making::temp_name(a + 1) : making::temp_name(a);
            idx[size_t(k)].aidxnam = aidx[size_t(k)].c_str();
        }
        ifil.iidxarr = n ? idx.data() : nullptr;
    }
    TempDefinition(const TempDefinition &) = delete;
    TempDefinition &operator=(const TempDefinition &) = delete;
    // Whether an index file of its own has another name here than in the
    // final definition: the stored definition must then be the final one.
    bool renames_index_files() const {
        for (const std::string &a : aidx)
            if (!a.empty()) return true;
        return false;
    }
};

// What a make that a kill cut short left under the names of this one: a
// final index name that is a second link of a temporary file no open
// holds, and the temporary files themselves. 0, 12 when an open holds a
// temporary file (a make of the same table at work: *busy names it), 55.
int drop_leftovers(const std::vector<SetFile> &finals, const std::vector<SetFile> &temps, std::string *busy) {
    for (size_t i = 0; i < temps.size() && i < finals.size(); i++) {
        if (making::held(temps[i].name)) {
            *busy = temps[i].name;
            return kHeld;
        }
    }
    for (size_t i = 1; i < temps.size() && i < finals.size(); i++) {
        if (making::same_file(finals[i].name, temps[i].name)) dltfil(finals[i].name.c_str());
    }
    // The data file's temporary name last: while it is there, the make it
    // belongs to is found again.
    for (size_t i = temps.size(); i-- > 0;) {
        const int rc = making::drop_leftover(temps[i].name);
        if (rc == kHeld) *busy = temps[i].name;
        if (rc) return rc;
    }
    return 0;
}

// Second links that a make left under temporary names of files now under
// their final names: dropped while no open holds them (a make at work
// keeps them to its end); nothing of the set changes.
void drop_second_links(const std::vector<SetFile> &finals, const std::vector<SetFile> &temps) {
    for (size_t i = 0; i < temps.size() && i < finals.size(); i++) {
        if (making::same_file(finals[i].name, temps[i].name) && !making::held(temps[i].name))
            dltfil(temps[i].name.c_str());
    }
}

// Clears the way for a make of the set: 0 when its names are free (what a
// killed make left taken away), 19 when the data file is under its name
// (another make of it, in this process or another, went through), 12 when
// another process's make of it is still at work at `until` (the lock's
// system error kept), 55. A make at work is waited for.
int clear_the_way(const std::vector<SetFile> &finals, const std::vector<SetFile> &temps, making::Deadline until) {
    for (;;) {
        std::string busy = temps[0].name;
        if (making::exists(finals[0].name)) {
            // A make at work keeps its data file's temporary name, held,
            // beside the final name until its end.
            if (!making::same_file(finals[0].name, temps[0].name) || !making::held(temps[0].name)) {
                drop_second_links(finals, temps);
                return kDataExists;
            }
        } else if (int rc = drop_leftovers(finals, temps, &busy); rc != kHeld) {
            return rc;
        }
        if (int rc = making::wait_while_held(busy, until)) return rc;
    }
}

// Whether the superfile member `name` is there, its host open in this
// instance (an open of a host that is not makes the engine open it, in the
// same mode): 1 (also when it was left not closed cleanly, 14, or when an
// open holds it: 12 with the lock's system error), 0 (12 alone: no such
// member), or minus the code that tells neither (413: the host does not
// open, or was left not closed cleanly when mode does not accept that).
// room: file numbers for an index member with the index members inside
// it. The open of a data member finishes or drops the swap of members a
// kill left beside its host first.
int member_there(const std::string &name, int room, uint16_t mode) {
    int f = -1;
    if (int rc = _zvdbAVLFILNBR(room, &f)) return -rc;
    const int rc = OPNFIL(f, name.c_str(), mode);
    if (rc == 0) _zvdbCLSFIL(f);
    if (rc == kHeld) return zvGetSystemErrorCode() == 0 ? 0 : 1;
    return rc == 0 || rc == kNotClosed ? 1 : -rc;
}

// Deletes the member `name` inside its host when it is there: 0 when it is
// gone, 12 when an open holds it (a make at work), or the code.
int drop_member(const std::string &name, int room) {
    int f = -1;
    if (int rc = _zvdbAVLFILNBR(room, &f)) return rc;
    int rc = OPNFIL(f, name.c_str(), kOpenAsItStands);
    if (rc == kHeld && zvGetSystemErrorCode() == 0) return 0;
    if (rc) return rc;
    if ((rc = _zvdbDELFIL(f)) != 0) _zvdbCLSFIL(f);
    return rc;
}

}  // namespace

bool makes_in_place(const tagZVDBTABLE *t, const IFIL *copy) {
    return !t->temporary && copy->pfilnam &&
           !std::strpbrk(copy->pfilnam, "!|");
}

bool makes_in_host(const tagZVDBTABLE *t, const IFIL *copy) {
    return !t->temporary && !t->superfile && !(t->createmode & cmode::kPartitioned) && copy->pfilnam &&
           std::strchr(copy->pfilnam, '!') && !std::strchr(copy->pfilnam, '|');
}

int make_in_host(tagZVDBTABLE *t, IFIL *copy, XCREblk *xcre) {
    TempDefinition temp(*copy);
    const std::vector<SetFile> finals = names_of(*copy, t->dataext, t->indexext);
    const std::vector<SetFile> temps = names_of(temp.ifil, t->dataext, t->indexext);
    const int room = (copy->dnumidx > 0 ? copy->dnumidx : 0) + 1;
    // The data member under its name: the table is there. Its open
    // finishes or drops a swap that a kill left first; a host that is not
    // open, or that a kill left not closed cleanly, is left to the caller
    // (413).
    const int there = member_there(finals[0].name, room, 0);
    if (there < 0) return -there;
    if (there) {
        // The note of a take-back's swap (below) that a kill cut short
        // before its first move, the data member's: the set is whole under
        // its names, and the note goes (the host is open here alone).
        const std::string note = temps[0].name + ".swap";
        if (making::exists(note)) dltfil(note.c_str());
        return kDataExists;
    }
    // What a make cut short left under the temporary names goes, the data
    // member first (its open finishes a take-back's swap that a kill cut
    // short, which moves the index members to temporary names too); an
    // index member under its name is not the make's.
    for (const SetFile &f : temps) {
        if (int rc = drop_member(f.name, room)) return rc;
    }
    for (size_t i = 1; i < finals.size(); i++) {
        const int taken = member_there(finals[i].name, room, kOpenAsItStands);
        if (taken < 0) return -taken;
        if (taken) return kIndexExists;
    }
    int rc = CREIFILX8(&temp.ifil, t->dataext, t->indexext, int32_t(t->permission), t->groupid, t->password, xcre);
    if (rc) return rc == ZVDB_NO_MEMORY ? 83 : rc;
    const int datno = temp.ifil.tfilno;
    rc = write_set(t, t->ifil, datno);
    t->datno = -1;
    if (rc) {
        delete_set_files(datno, &temp.ifil);
        return rc;
    }
    // The members as the engine named them (under the host's name as it
    // is open), for a failure's delete.
    const std::vector<std::string> made = set_file_names(datno, temp.ifil.dnumidx);
    if ((rc = CLIFIL(&temp.ifil)) == 0) rc = SWPIFILX(&temp.ifil, copy, t->dataext, t->indexext);
    // A failed swap has put every member back under its temporary name.
    if (rc) {
        delete_closed_files(made, room);
        return rc;
    }
    if (t->made) {
        // The take-back, should the make fail after this (its entry
        // refused): the swap the other way, every member back under its
        // temporary name through the swap's note, then those members, the
        // data member first. A kill leaves the set whole under its names,
        // or the note, which the next make's open of the temporary data
        // member finishes before it drops the members; a swap refused (12:
        // another process has the host) leaves the set whole under its
        // names, as a kill after the make would.
        auto final_def = std::make_shared<DefBuilder>(*copy, copy->pfilnam, -1);
        auto temp_def = std::make_shared<DefBuilder>(temp.ifil, temp.ifil.pfilnam, -1);
        for (int k = 0; k < copy->dnumidx; k++) {
            const IIDX &f = copy->iidxarr[k], &m = temp.ifil.iidxarr[k];
            final_def->add(f, f.ridxnam, f.aidxnam, std::vector<ISEG>(f.isegarr, f.isegarr + f.inumseg));
            temp_def->add(m, m.ridxnam, m.aidxnam, std::vector<ISEG>(m.isegarr, m.isegarr + m.inumseg));
        }
        const std::string dext = t->dataext, iext = t->indexext;
        t->made->undo([final_def, temp_def, temps, dext, iext, room] {
            if (SWPIFILX(final_def->ifil(), temp_def->ifil(), dext.c_str(), iext.c_str()) != 0) return;
            for (const SetFile &f : temps) drop_member(f.name, room);
        });
    }
    return 0;
}

int make_in_place(tagZVDBTABLE *t, IFIL *copy, XCREblk *xcre) {
    TempDefinition temp(*copy);
    const std::vector<SetFile> finals0 = names_of(*copy, t->dataext, t->indexext);
    const std::vector<SetFile> temps0 = names_of(temp.ifil, t->dataext, t->indexext);
    // The files are held to the end of the caller's make (create_table
    // gives it the handle), or, alone, to the end of this one.
    making::Made alone;
    making::Made &made = t->made ? *t->made : alone;
    const size_t from = made.size();
    const making::Deadline until = making::deadline();
    for (;;) {
        std::vector<SetFile> finals = finals0, temps = temps0;
        if (int rc = clear_the_way(finals, temps, until)) return rc;
        int rc = CREIFILX8(&temp.ifil, t->dataext, t->indexext, int32_t(t->permission), t->groupid, t->password, xcre);
        if ((rc == kDataExists || rc == kIndexExists) && std::chrono::steady_clock::now() < until) {
            // A temporary name taken since the way was clear: another make
            // of the table began meanwhile, and is waited for.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (rc) return rc == ZVDB_NO_MEMORY ? 83 : rc;
        const int datno = temp.ifil.tfilno;
        // The names the engine gave the files: a name made of the data
        // file's name and an extension (the engine's default one, say) has
        // its final name made alike; any other must be the one worked out.
        char buf[256];
        for (size_t i = 0; rc == 0 && i < temps.size(); i++) {
            SetFile &f = temps[i];
            if (_zvdbGETNAM(datno + 1 + f.k, buf, int32_t(sizeof buf), 0) != 0) {
                rc = kNotMoved;
            } else if (f.name != buf) {
                const std::string name = buf;
                const bool follows = f.k < 0 || !temp.ifil.iidxarr[f.k].aidxnam;
                if (!follows || name.compare(0, temp.pfilnam.size(), temp.pfilnam) != 0) {
                    rc = kNotMoved;
                } else {
                    f.name = name;
                    finals[i].name = copy->pfilnam + name.substr(temp.pfilnam.size());
                }
            }
        }
        // Held from their creation (the create's lock) to the make's end,
        // so that no make of the same table takes them for a kill's
        // leftovers.
        for (size_t i = 0; rc == 0 && i < temps.size(); i++) {
            rc = made.hold(datno + 1 + temps[i].k, temps[i].name, finals[i].name);
        }
        if (rc == 0 && !made.own(from)) {
            // Another make took a file for a leftover between its create and
            // its lock, and makes the table now: these files go with their
            // names that are still theirs, and that make is waited for.
            CLIFIL(&temp.ifil);
            made.take_back(from);
            continue;
        }
        if (rc == 0) rc = write_set(t, t->ifil, datno);
        if (rc == 0 && temp.renames_index_files()) {
            // The stored definition names the index files by their final
            // names.
            std::vector<XCREblk> blocks(size_t(copy->dnumidx > 0 ? copy->dnumidx : 0) + 1);
            blocks[0].flags = kXcreDataOpen | kXcreIndexesOpen;
            copy->tfilno = int16_t(datno);
            rc = PUTIFILX8(copy, t->dataext, t->indexext, t->password, blocks.data());
        }
        t->datno = -1;
        // A failure deletes the open set (its names are the held files), or
        // the closed files by the names that are still theirs; the
        // failure's system error stays.
        auto fail = [&](int code, bool open) {
            const int sys = zvGetSystemErrorCode();
            if (open) delete_set_files(datno, &temp.ifil);
            made.take_back(from);
            usys(sys);
            return code;
        };
        if (rc) return fail(rc, true);
        if ((rc = CLIFIL(&temp.ifil)) != 0) return fail(rc, false);
        // The index files first, the data file last.
        for (size_t i = 1; rc == 0 && i <= temps.size(); i++) {
            const size_t at = i % temps.size();
            rc = making::link_in(temps[at].name, finals[at].name);
            if (rc == kDataExists && at != 0) rc = kIndexExists;
        }
        if (rc) {
            fail(rc, false);
            // A name taken since the way was clear: the table is made when
            // another make of it went through meanwhile.
            return rc == kIndexExists && making::exists(finals[0].name) ? kDataExists : rc;
        }
        if (&made == &alone) made.finish();
        return 0;
    }
}

}  // namespace zv
