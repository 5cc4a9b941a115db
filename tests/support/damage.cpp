#include "tests/support/damage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace zvtest {

uint64_t file_size(const std::string &path) {
    std::error_code ec;
    uint64_t n = std::filesystem::file_size(path, ec);
    if (ec) ADD_FAILURE() << "no size of " << path;
    return ec ? 0 : n;
}

std::string read_bytes(const std::string &path, uint64_t offset, size_t len) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    in.seekg(std::streamoff(offset));
    std::string out(len, '\0');
    in.read(out.data(), std::streamsize(len));
    out.resize(size_t(in.gcount()));
    return out;
}

void write_bytes(const std::string &path, uint64_t offset, const std::string &bytes) {
    std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
    if (!io) {
        ADD_FAILURE() << "cannot write " << path;
        return;
    }
    io.seekp(std::streamoff(offset));
    io.write(bytes.data(), std::streamsize(bytes.size()));
}

int stamp_older_id(const std::string &path, uint32_t fileid) {
    std::string all = read_bytes(path, 0, size_t(file_size(path)));
    if (all.size() < 92) {
        ADD_FAILURE() << "no header in " << path;
        return 0;
    }
    const std::string id = all.substr(32, 8), time = all.substr(88, 4);
    std::string older(8, '\0');
    for (int i = 0; i < 4; i++) older[size_t(i)] = char(fileid >> (8 * i));
    int n = 0;
    for (size_t at = 0; at + 60 <= all.size(); at++) {
        if (all.compare(at, 8, id) != 0 || all.compare(at + 56, 4, time) != 0) continue;
        all.replace(at, 8, older);
        n++;
    }
    write_bytes(path, 0, all);
    return n;
}

void truncate_to(const std::string &path, uint64_t size) {
    std::error_code ec;
    std::filesystem::resize_file(path, size, ec);
    if (ec) ADD_FAILURE() << "cannot cut " << path;
}

void delete_file(const std::string &path) {
    if (std::remove(path.c_str()) != 0) ADD_FAILURE() << "cannot delete " << path;
}

void insert_bytes(const std::string &path, uint64_t offset, const std::string &bytes) {
    std::string all = read_bytes(path, 0, size_t(file_size(path)));
    if (offset > all.size()) {
        ADD_FAILURE() << "insert past the end of " << path;
        return;
    }
    all.insert(size_t(offset), bytes);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(all.data(), std::streamsize(all.size()));
}

uint32_t get_le32(const std::string &path, uint64_t offset) {
    std::string b = read_bytes(path, offset, 4);
    if (b.size() < 4) return 0;
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = (v << 8) | uint8_t(b[size_t(i)]);
    return v;
}

void put_le32(const std::string &path, uint64_t offset, uint32_t value) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; i++) b[size_t(i)] = char(value >> (8 * i));
    write_bytes(path, offset, b);
}

std::string garbage(size_t len, uint32_t seed) {
    std::string out(len, '\0');
    uint32_t x = seed ? seed : 1;
    for (size_t i = 0; i < len; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x >> 11);
    }
    return out;
}

void zero_header_field(const std::string &path, HeaderField field) {
    // Offsets of the low word in the base part, and of the high word in the
    // extended part (0: none).
    struct Where {
        uint64_t low;
        size_t width;
        uint64_t high;
    };
    Where w{};
    switch (field) {
    case HeaderField::UpdateFlag: w = {56, 1, 0}; break;
    case HeaderField::ActiveCount: w = {24, 4, 152}; break;
    case HeaderField::DeleteStack: w = {4, 4, 132}; break;
    case HeaderField::LastByteUsed: w = {8, 4, 136}; break;
    case HeaderField::FirstResource: w = {12, 4, 140}; break;
    }
    write_bytes(path, w.low, std::string(w.width, '\0'));
    std::string flags = read_bytes(path, 98, 2);
    bool extended = flags.size() == 2 && (uint8_t(flags[0]) & 0x4A);
    if (w.high && extended) write_bytes(path, w.high, std::string(4, '\0'));
}

uint32_t header_bytes(const std::string &path) {
    const uint32_t flags = get_le32(path, 96) >> 16, flags2 = get_le32(path, 100);
    if ((flags & 0x4A) == 0) return 128;
    return (flags2 & 0x100) ? 512 : 256;
}

const char *header_field_name(HeaderField field) {
    switch (field) {
    case HeaderField::UpdateFlag: return "update flag";
    case HeaderField::ActiveCount: return "active count";
    case HeaderField::DeleteStack: return "delete-stack head";
    case HeaderField::LastByteUsed: return "last byte used";
    case HeaderField::FirstResource: return "first-resource pointer";
    }
    return "?";
}

}  // namespace zvtest
