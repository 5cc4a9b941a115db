// Fixture of the file-encryption tests: an engine started under the ISAM
// layer in a fresh directory with advanced encryption support on (without
// the prompt) and the master key of the password "pw"; helpers that read a
// file's security record from its bytes on disk.
#pragma once

#include <cstdint>
#include <string>

#include "engine/crypto/masterkey.h"
#include "tests/support/setfix.h"
#include "zarvo/zarvo.h"

namespace camotest {

// A file's security record as it stands on disk, decoded by hand: the
// header's position word (+116), the resource header (22 bytes) and the
// record's words (little-endian).
struct DiskRec {
    uint32_t pos = 0;       // resource position; 0 when the header has none
    uint16_t mark = 0;      // resource header: 0xFEFE
    uint32_t arealen = 0;   //   area length
    uint32_t usedlen = 0;   //   body length
    uint32_t type = 0, number = 0;
    uint32_t start = 0;
    int32_t keylen = 0, cls = 0;
    uint32_t phyend = 0, unit = 0, flags = 0;
    std::string keyblock;   // the 112 bytes at offset 40
};

uint32_t le32(const std::string &b, size_t at);
void put_le32(std::string &b, size_t at, uint32_t v);
DiskRec disk_rec(const std::string &file);
// Offset in the file of the record's body (position + 22).
inline size_t body_at(const DiskRec &r) { return size_t(r.pos) + 22; }

// The request block of a master-password change.
std::string change_request(uint32_t options, const char *oldpw, const char *newpw,
                           std::initializer_list<const char *> files);

class CamoTest : public settest::SetTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Sets "62" (AES, 32-byte keys) for the following creates.
    static void encrypt_creates(const char *code = "62");
};

}  // namespace camotest
