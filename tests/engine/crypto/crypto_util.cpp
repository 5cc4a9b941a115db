#include "tests/engine/crypto/crypto_util.h"

#include <cstdio>
#include <cstdlib>

#include "tests/support/fixture.h"

namespace zvtest {

std::vector<Road> roads() {
    const zv::CryptoRoad hw = zv::crypto_hardware();
    std::vector<Road> r = {{"portable road", {false, false, false, false}}};
    r.push_back({"processor's road, 128-bit registers", {hw.aes, false, hw.sha, hw.clmul}});
    if (hw.wide) r.push_back({"processor's road with VAES on 512-bit registers", hw});
    return r;
}

void for_each_road(const std::function<void()> &body) {
    struct Restore {
        ~Restore() { zv::crypto_set_road(zv::crypto_hardware()); }
    } restore;
    for (const Road &r : roads()) {
        SCOPED_TRACE(r.name);
        zv::crypto_set_road(r.road);
        body();
    }
}

bool processor_road_complete() {
    const zv::CryptoRoad r = zv::crypto_hardware();
    return r.aes && r.sha && r.clmul;
}

Bytes from_hex(const std::string &hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string to_hex(const unsigned char *p, size_t n) {
    static const char *digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

Bytes reverse_groups(Bytes b) {
    for (size_t i = 0; i + 4 <= b.size(); i += 4) {
        std::swap(b[i], b[i + 3]);
        std::swap(b[i + 1], b[i + 2]);
    }
    return b;
}

Bytes random_bytes(std::mt19937 &rng, size_t n) {
    Bytes b(n);
    for (auto &c : b) c = uint8_t(rng());
    return b;
}

bool have_tool(const char *name) {
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

bool openssl_run(const std::string &args, const Bytes &in, Bytes *out) {
    write_file("oracle.in", std::string(in.begin(), in.end()));
    std::remove("oracle.out");
    std::string cmd = "openssl " + args + " -in oracle.in -out oracle.out 2>oracle.err";
    if (std::system(cmd.c_str()) != 0) return false;
    std::string s = read_file("oracle.out");
    out->assign(s.begin(), s.end());
    return true;
}

bool openssl_enc(const std::string &cipher, const Bytes &key, const Bytes &iv, const Bytes &data, bool decrypt,
                 Bytes *out) {
    std::string args = "enc -" + cipher + (decrypt ? " -d" : "") + " -nopad -K " + to_hex(key);
    if (!iv.empty()) args += " -iv " + to_hex(iv);
    if (cipher.rfind("des", 0) == 0 || cipher.rfind("bf", 0) == 0) args += " -provider legacy -provider default";
    return openssl_run(args, data, out);
}

bool openssl_digests(const std::string &alg, const std::vector<Bytes> &inputs, std::vector<std::string> *hex) {
    std::string cmd = "openssl dgst -" + alg + " -r";
    for (size_t i = 0; i < inputs.size(); i++) {
        std::string name = "dgst." + std::to_string(i);
        write_file(name, std::string(inputs[i].begin(), inputs[i].end()));
        cmd += " " + name;
    }
    cmd += " >dgst.out 2>dgst.err";
    if (std::system(cmd.c_str()) != 0) return false;
    hex->clear();
    for (const std::string &line : lines_of(read_file("dgst.out"))) hex->push_back(line.substr(0, line.find(' ')));
    return hex->size() == inputs.size();
}

}  // namespace zvtest
