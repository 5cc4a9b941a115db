// The damage kit of the rebuild tests: changes made to closed files from
// outside the engine, as a failing disk or a stray program would make
// them. Every call fails the test (ADD_FAILURE) when the file cannot be
// reached.
#pragma once

#include <cstdint>
#include <string>

namespace zvtest {

uint64_t file_size(const std::string &path);
std::string read_bytes(const std::string &path, uint64_t offset, size_t len);
// Overwrites bytes in place (the file grows when they reach past its end).
void write_bytes(const std::string &path, uint64_t offset, const std::string &bytes);
// Cuts the file to size bytes.
void truncate_to(const std::string &path, uint64_t size);
void delete_file(const std::string &path);
// Inserts bytes at offset: everything after it moves up.
void insert_bytes(const std::string &path, uint64_t offset, const std::string &bytes);
uint32_t get_le32(const std::string &path, uint64_t offset);
void put_le32(const std::string &path, uint64_t offset, uint32_t value);
// Gives a closed file the unique id older code stamped (a file id from the
// process id, server id 0): every place holding the file id and server id
// found at +32 of the file's start, with its creation time 56 bytes on (the
// header, an index's members, a segment's header), takes fileid and server
// id 0. The number of places changed.
int stamp_older_id(const std::string &path, uint32_t fileid);
// Bytes of a fixed pseudo-random pattern (seeded).
std::string garbage(size_t len, uint32_t seed);

// Fields of the header of a plain file (at its start): the low word, and
// for the counters the high word of the extended part as well.
enum class HeaderField { UpdateFlag, ActiveCount, DeleteStack, LastByteUsed, FirstResource };
void zero_header_field(const std::string &path, HeaderField field);
// Bytes the header of a plain file takes as its base part describes it:
// 128, or 128 plus its extended part (128 or 384 bytes).
uint32_t header_bytes(const std::string &path);
const char *header_field_name(HeaderField field);

}  // namespace zvtest
