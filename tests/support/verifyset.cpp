#include "tests/support/verifyset.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/isam/isam_services.h"
#include "zarvo/zarvo.h"

namespace zvtest {

namespace {

std::vector<std::string> *g_lines = nullptr;

int keep_line(const char *text) {
    if (g_lines) g_lines->push_back(text);
    return 0;
}

int keep_error(VERIFYERR *err, const char *text) {
    if (g_lines) g_lines->push_back("ERROR [" + std::to_string(err->errcode) + "] " + text);
    return 0;
}

}  // namespace

bool verify_set(const std::string &datname) {
    std::vector<std::string> lines;
    g_lines = &lines;
    bool ok = true;
    std::string report;
    VERIFYFILEOPT fo{};
    fo.flags = 4 | 16;
    fo.filename = datname.c_str();
    fo.output = keep_line;
    fo.error = keep_error;
    int rc = zvVerifyFile(&fo);
    if (rc != 0) {
        ok = false;
        report += "zvVerifyFile(" + datname + ") = " + std::to_string(rc) + "\n";
    }
    int datno = OPNRFILX(-1, datname.c_str(), 4104, nullptr);
    if (datno < 0) {
        ok = false;
        report += "the set does not open: " + std::to_string(zvGetUserErrorCode()) + "\n";
    } else {
        for (int slot = 0; slot < 64; slot++) {
            int ix = zv::isam_map_index(datno, slot);
            if (ix == -1) break;
            if (ix < 0) continue;
            VERIFYIDXOPT vo{1, 1 | 2 | 8, 15, 0, keep_line, nullptr};
            VERIFYIDXRES vr{};
            int vrc = zvVERIFYidx(ix, &vo, &vr);
            if (vrc != 0) {
                ok = false;
                report += "zvVERIFYidx(index " + std::to_string(slot + 1) + ") = " + std::to_string(vrc) + "\n";
            }
        }
        CLRFIL(datno);
    }
    g_lines = nullptr;
    if (!ok) {
        for (const std::string &l : lines) report += l + "\n";
        ADD_FAILURE() << report;
    }
    return ok;
}

}  // namespace zvtest
