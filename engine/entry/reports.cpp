// Reports: the system-configuration record, the I/O counters, the batch
// that rewrites the file paths of stored file definitions, and the display
// name of a file. They read the state of every layer (open files, the
// stored definitions of the ISAM layer), so they sit above the engine's
// subsystems; the engine's standard output and error they write to are the
// core's (engine/core/reports.cpp).
#include "engine/entry/reports.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "engine/core/fileio.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/version.h"
#include "engine/core/fcb.h"
#include "engine/files/close.h"
#include "engine/isam/isam_services.h"

namespace {

constexpr int kNoInstance = -1;  // a configuration item that does not apply
constexpr int kNoLimit = -1;     // a count without limit

constexpr uint32_t kRedirectOpen = 0x40000000;  // fileopt[0] while the batch opens a file

void put_name(char *buffer, int32_t size, const char *text) {
    size_t n = strlen(text);
    if (size_t(size) < n + 1) {
        buffer[0] = '\0';
        return;
    }
    memcpy(buffer, text, n + 1);
}

// Reads a whole file through the platform seam into a NUL-terminated
// buffer of engine memory: 0, 12 cannot open, 35 size unknown, 82 no memory
// (each reported on the engine's standard output).
int read_list(const char *path, char **out) {
    *out = nullptr;
    int fd = zv::plat_open(path, zv::OpenHow::ReadOnly, 0);
    if (fd < 0) {
        zvrt_printf("Error: Could not open file %.128s\n", path);
        return 12;
    }
    int64_t size = zv::plat_seek(fd, 0, true);
    if (size < 0 || size > INT32_MAX - 1 || zv::plat_seek(fd, 0, false) != 0) {
        zv::plat_close(fd);
        zvrt_printf("Error: Could not read size of file list\n");
        return 35;
    }
    char *buf = static_cast<char *>(mballc(1, size_t(size) + 1));
    if (!buf) {
        zv::plat_close(fd);
        zvrt_printf("Error: Could not allocate file list buffer of size %d\n", int(size + 1));
        return 82;
    }
    int64_t got = 0;
    while (got < size) {
        int64_t n = zv::plat_read(fd, buf + got, size_t(size - got));
        if (n <= 0) break;
        got += n;
    }
    zv::plat_close(fd);
    buf[got] = '\0';
    *out = buf;
    return 0;
}

// The lowest free file number from 1 on (0 is the instance's own block);
// the table grows when every number is taken. -1 when none can be had.
int next_free_number() {
    INSTGV *g = zvWNGV;
    int n = 1;
    while (n <= g->filecount) {
        const FCB *f = zv::fcb_at(n);
        if (!f || f->state == 'n') return n;
        n++;
    }
    return zv::grow_table_for(n) == 0 ? n : -1;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// One file of the batch: open, rewrite the paths, close, report. The code
// of a failure, 0 otherwise (also for a file without a stored definition).
int redirect_one(const char *name) {
    INSTGV *g = zvWNGV;
    int filno = next_free_number();
    int rc = filno < 0 ? 46 : 0;
    if (!rc) {
        uint32_t had = g->fileopt[0] & kRedirectOpen;
        g->fileopt[0] |= kRedirectOpen;
        rc = OPNFIL(filno, name, 0);
        if (!had) g->fileopt[0] &= ~kRedirectOpen;
    }
    if (rc) {
        zvrt_printf("[ ERROR ] %s: Could not open file: %d\n", name, rc);
        return rc;
    }
    if (!tstfnm(filno)) {
        rc = g->uerr_cod;
        zvrt_printf("[ ERROR ] %s: Could not get file control block: %d\n", name, rc);
        iclsfil(filno, 0);
        return rc;
    }
    rc = zv::zvredirectifil(filno);
    int crc = iclsfil(filno, 0);
    if (rc == 408) {
        zvrt_printf("[  OK   ] %s (No IFIL resource)\n", name);
        rc = 0;
    } else if (rc) {
        zvrt_printf("[ ERROR ] %s: Could not update IFIL filenames: %d\n", name, rc);
    } else if (crc) {
        rc = crc;
        zvrt_printf("[ ERROR ] %s: Could not update IFIL filenames: %d\n", name, rc);
    } else {
        zvrt_printf("[  OK   ] %.128s\n", name);
    }
    return rc;
}

}  // namespace

void izvGetFileNameFromFCB(const FCB *fcb, char *buffer, int32_t size) {
    if (!fcb || !buffer || size <= 0) return;
    char text[300];
    if (fcb->hdr.base.sfiltyp == kSfMember) {
        const FCB *host = fcb->hostfcb && fcb->hostfcb != fcb ? fcb->hostfcb : fcb->sflink;
        snprintf(text, sizeof text, "%s M#%02u", host ? host->name : "", fcb->hdr.base.supmbr);
        put_name(buffer, size, text);
        return;
    }
    // An index without a name of its own is reached through the data file
    // it hangs from: it shows as that file's name with " DI".
    const FCB *data = fcb->hostfcb;
    if (!fcb->name[0] && fcb->kind == kKindIndex && data && data != fcb && data->kind != kKindIndex &&
        data->name[0]) {
        snprintf(text, sizeof text, "%s DI", data->name);
        put_name(buffer, size, text);
        return;
    }
    put_name(buffer, size, fcb->name);
}

extern "C" {

ZV_API int SYSCFG(int32_t *record) {
    if (!record) return zvWNGV ? zv::set_uerr(540) : 540;
    memset(record, 0, ZV_SYSCFG_SIZE);
    record[ZV_SYSCFG_SIZE_WORD] = ZV_SYSCFG_SIZE;
    record[ZV_SYSCFG_VERSION] = zv::kConfigVersion;
    record[ZV_SYSCFG_POINTER_BYTES] = int32_t(sizeof(void *));
    record[ZV_SYSCFG_MAX_FILE_NUMBERS] = 65536;
    record[ZV_SYSCFG_MAX_KEY_LENGTH] = 1024;
    record[ZV_SYSCFG_PROCESS_ID] = int32_t(getpid());
    record[ZV_SYSCFG_ADVANCED_ENCRYPTION] = 1;
    record[ZV_SYSCFG_PATH_SEPARATOR] = zv::kPathSeparator;
    record[ZV_SYSCFG_VERSION_WORD] = int32_t(zv::kVersionWord);
    record[ZV_SYSCFG_MAX_CONNECTIONS] = kNoLimit;
    record[ZV_SYSCFG_BUILD_ID] = int32_t(zv::kVersionId2);
    record[ZV_SYSCFG_BUILD_BASE] = int32_t(zv::kVersionIdBase);
    const INSTGV *g = zvWNGV;
    bool up = g && g->started && g->fcbtab;
    auto item = [up](int32_t v) { return up ? v : kNoInstance; };
    record[ZV_SYSCFG_FILE_NUMBERS] = item(g ? g->filecount + 1 : 0);
    record[ZV_SYSCFG_INDEX_BUFFERS] = item(g ? g->bufs : 0);
    record[ZV_SYSCFG_DATA_PAGES] = item(g ? g->dbufs : 0);
    record[ZV_SYSCFG_NODE_SIZE] = item(g ? g->nodesize : 0);
    record[ZV_SYSCFG_PAGE_SIZE] = item(g ? g->pc.pagesize : 0);
    record[ZV_SYSCFG_SPECIAL_PAGES] = item(g ? g->specialpages : 0);
    record[ZV_SYSCFG_OPEN_FILES] = item(g ? g->nfiles : 0);
    record[ZV_SYSCFG_PHYSICAL_FILES] = item(g ? g->nphysfiles : 0);
    record[ZV_SYSCFG_ALL_FILES] = item(g ? g->nallfiles : 0);
    record[ZV_SYSCFG_DESCRIPTOR_LIMIT] = item(g ? g->openvlimit : 0);
    record[ZV_SYSCFG_DESCRIPTORS] = item(g ? g->openvcount : 0);
    if (g) zv::set_uerr(0);
    return 0;
}

ZV_API int IOPERFORMANCE(uint32_t *buffer) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!buffer) return zv::set_uerr(540);
    const uint32_t c[8] = {g->dreads,          g->dreadbytes,       g->dwrites,
                           g->dwritebytes,     g->pc.requests,      g->pc.hits,
                           uint32_t(g->pc.usedbufs), uint32_t(g->pc.usedhigh)};
    memcpy(buffer, c, sizeof c);
    return zv::set_uerr(0);
}

ZV_API int IOPERFORMANCEX(uint32_t *buffer) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!buffer) return zv::set_uerr(540);
    memset(buffer, 0, ZV_IOPERFX_SIZE);
    IOPERFORMANCE(buffer);
    const uint32_t more[15] = {
        uint32_t(g->pc.dedtotal), uint32_t(g->pc.dedused), uint32_t(g->pc.dedhigh),
        uint32_t(g->pc.runthreshold),
        g->syncfiles,             g->syncsysfiles,
        uint32_t(g->nfiles),      uint32_t(g->nphysfiles), uint32_t(g->nallfiles),
        0,                        uint32_t(time(nullptr)),
        uint32_t(g->openvcount),  uint32_t(g->openvlimit), g->syncdos, uint32_t(g->physopen)};
    memcpy(buffer + 8, more, sizeof more);
    return zv::set_uerr(0);
}

ZV_API uint16_t zvredirectifil_list(const char *path) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!path) return uint16_t(zv::set_uerr(540));
    char *list = nullptr;
    if (int rc = read_list(path, &list)) return uint16_t(zv::set_uerr(rc));
    zvrt_printf("Updating the file paths in the IFIL resources of the specified files...\n\n");
    int last = 0, failed = 0;
    for (char *line = list; line && *line;) {
        char *end = strchr(line, '\n');
        char *next = end ? end + 1 : nullptr;
        if (end) *end = '\0';
        while (is_blank(*line)) line++;
        size_t n = strlen(line);
        while (n > 0 && is_blank(line[n - 1])) line[--n] = '\0';
        if (n > 0 && line[0] != ';') {
            int rc = redirect_one(line);
            if (rc) {
                last = rc;
                failed++;
            }
        }
        line = next;
    }
    mbfree(list);
    if (failed == 0) zvrt_printf("\nSuccessfully changed IFIL resource for all specified files\n");
    else zvrt_printf("\nError: Failed to update IFIL resource for %d %s\n", failed, failed == 1 ? "file" : "files");
    return uint16_t(zv::set_uerr(last));
}

}  // extern "C"
