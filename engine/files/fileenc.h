// Encryption of a file at rest (fileenc.cpp): the services that creation,
// open and close of files call, the rebuild's reader of the security
// resource, and the re-sealing of a stored key block that a master-key
// change (keychange.cpp) uses.
//
// A file layer header: the maintenance utilities and the ISAM layer above
// use it as well. The instance's pending cipher, which a create consumes,
// belongs to the encryption subsystem (engine/crypto/crypto_files.h).
#pragma once

#include <cstdint>

struct FCB;

namespace zv {

// Whether a create must call zvsetcamo: a cipher is pending, or the create
// block gives a file security value (word 8).
bool camo_wanted(uint32_t secvalue);
// At creation, once the header and resources are in place: draws the file
// key, stores it (sealed under the master key) or the security value as
// the file's security resource, and encrypts everything from the start
// offset on. 0, or an error code also left as the user error; the create
// then deletes the file.
int zvsetcamo(FCB *fcb, uint32_t secvalue, int filno);
// At open: reads the security resource and sets the file's encryption
// fields and key. 0 (also for a file without one), 408 a missing or
// malformed resource, 606 a wrong or missing master key (or no page hook,
// or the masking class), 952 a master key of an unusable length, 82 no
// memory.
int zvgetcamo(FCB *fcb);
// The rebuild's reader: the same from the security resource's bytes on
// disk, without the resource ring. 0, 408, 606, 952, 65 (no memory) or the
// read's error.
int zvxtrcamo(FCB *fcb);
// At close: wipes and frees the file's key and clears its encryption fields.
void zvclncamo(FCB *fcb);
// The file's security resource: its key-length word, with that many bytes
// from offset 40 copied to out when they fit in outsize; 0 when the file
// has none; -82 without memory; minus the read's error.
int zvkeycamo(FCB *fcb, void *out, int32_t outsize);

// Bytes of a security record up to the end of its key block.
constexpr uint32_t kSecImage = 152;
// Re-seals the key block of a security record (its kSecImage bytes as
// stored) from under one master key to under another (the part of each
// that the record's flags select). 0; 408 a record that holds no usable key
// block; 952 a master key length that does not fit the record; 606 a key
// block that does not open under the old key.
int reseal_key_block(unsigned char *rec, const unsigned char *oldkey, const unsigned char *newkey);

}  // namespace zv
