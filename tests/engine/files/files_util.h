// Helpers shared by the tests of data and index files: a started engine per
// test, raw access to the bytes of files on disk, and the process's count of
// open descriptors.
#pragma once

#include <cstdint>
#include <dirent.h>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "tests/support/engine.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace filestest {

using Bytes = std::vector<unsigned char>;

// Fixture: a started engine with 1024-byte nodes and 20 file numbers.
class FilesTest : public zvtest::ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
        zv::fault_reset();
    }
    void TearDown() override {
        zv::fault_reset();
        zvtest::stop_engine();
        ZvTest::TearDown();
    }
    INSTGV *g() { return zvWNGV; }
    FCB *fcb(int filno) { return zvWNGV->fcbtab[filno]; }
    long writes() { return zv::io_calls(zv::IoKind::Write); }
};

inline Bytes file_bytes(const std::string &path) {
    std::string s = zvtest::read_file(path);
    return Bytes(s.begin(), s.end());
}

inline void put_file(const std::string &path, const Bytes &b) {
    zvtest::write_file(path, std::string(b.begin(), b.end()));
}

// Overwrites bytes of a file at an offset.
inline void patch(const std::string &path, size_t off, const Bytes &with) {
    Bytes b = file_bytes(path);
    if (b.size() < off + with.size()) b.resize(off + with.size());
    for (size_t i = 0; i < with.size(); i++) b[off + i] = with[i];
    put_file(path, b);
}

inline uint32_t le32(const Bytes &b, size_t off) {
    return uint32_t(b[off]) | uint32_t(b[off + 1]) << 8 | uint32_t(b[off + 2]) << 16 | uint32_t(b[off + 3]) << 24;
}

inline uint16_t le16(const Bytes &b, size_t off) { return uint16_t(b[off] | b[off + 1] << 8); }

inline Bytes slice(const Bytes &b, size_t off, size_t n) {
    if (off >= b.size()) return {};
    if (off + n > b.size()) n = b.size() - off;
    return Bytes(b.begin() + long(off), b.begin() + long(off + n));
}

// Descriptors the process holds now.
inline int open_descriptors() {
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d)) n++;
        closedir(d);
    }
    return n;
}

}  // namespace filestest
