#include "tests/recapi/schema/custfix.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "recapi/base/wrappers.h"

namespace schematest {

Stored::~Stored() { _zvdb_free(ifil); }

const DATOBJ *Stored::entry(const char *name) const {
    for (size_t i = 0; i < doda.size(); i++) {
        if (names[i] == name) return &doda[i];
    }
    return nullptr;
}

const IIDX *Stored::index(const char *name) const {
    for (int k = 0; ifil && k < ifil->dnumidx; k++) {
        if (ifil->iidxarr[k].ridxnam && std::strcmp(ifil->iidxarr[k].ridxnam, name) == 0) return &ifil->iidxarr[k];
    }
    return nullptr;
}

void CustTest::SetUp() {
    SchemaTest::SetUp();
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
}

void CustTest::cust() {
    tagZVDBFIELD *id = field("id", ZV_INT4);
    tagZVDBFIELD *name = field("name", ZV_FSTRING, 20);
    field("amount", ZV_MONEY);
    ASSERT_NE(zvdbAddSegment(index("pk"), id, 12), nullptr);
    ASSERT_NE(zvdbAddSegment(index("byname", 1), name, 12), nullptr);
}

std::vector<std::string> CustTest::files() {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(".")) {
        const std::string n = e.path().filename().string();
        if (e.is_regular_file() && n != "ZVSTATUS.QVS") out.push_back(n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void CustTest::read_back(const char *name, Stored *out) {
    const int datno = OPNRFILX(-1, name, 0, nullptr);
    if (datno < 0) {
        out->code = zv::instance_isamerr();
        return;
    }
    DATOBJ *doda = nullptr;
    int32_t size = 0;
    out->code = _zvdbGETDODA(datno, &doda, &size);
    for (int32_t i = 0; doda && doda[i].fend != 0xFFFF; i++) {
        out->doda.push_back(doda[i]);
        out->names.emplace_back(doda[i].fsymb);
    }
    _zvdb_free(doda);
    if (out->code == 0) out->code = _zvdbGETIFIL(datno, &out->ifil, &size);
    out->filemode = GETFIL(datno, 3);
    out->xmode = GETFIL(datno, 26);
    CLRFIL(datno);
}

}  // namespace schematest
