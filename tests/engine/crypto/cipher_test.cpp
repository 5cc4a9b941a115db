// The block ciphers against their published vectors: AES (FIPS-197), RIJ's
// word order, DES (FIPS 81, the SP 800-17 known-answer tables), triple DES,
// Blowfish (the zero vector and the variable-key-length set), Twofish (the
// algorithm paper's vectors, 4-byte groups reversed) and MDC's key stream.
#include <cstring>

#include "engine/crypto/ciphers.h"
#include "tests/engine/crypto/crypto_util.h"
#include "tests/support/fixture.h"
#include "zarvo/qvs.h"

namespace {

using zvtest::Bytes;
using zvtest::from_hex;
using zvtest::reverse_groups;
using zvtest::to_hex;

// data through a fresh context in ECB (or another mode with an IV).
Bytes run(int alg, const Bytes &key, Bytes data, bool decrypt = false, int mode = QVS_ECB, const Bytes &iv = {}) {
    QVSCTX ctx;
    int rc = QVSInit(&ctx, alg, mode, key.data(), int32_t(key.size()), iv.empty() ? nullptr : iv.data(),
                     int32_t(iv.size()));
    EXPECT_EQ(rc, 0) << "alg " << alg << " key " << key.size();
    rc = decrypt ? QVSDecrypt(&ctx, data.data(), int32_t(data.size()))
                 : QVSEncrypt(&ctx, data.data(), int32_t(data.size()));
    EXPECT_EQ(rc, 0);
    QVSFinal(&ctx);
    return data;
}

std::string upper(std::string s) {
    for (auto &c : s) c = char(toupper(c));
    return s;
}

struct Vector {
    const char *key;
    const char *plain;
    const char *cipher;
};

const Vector kFips197[] = {
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
     "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(Aes, Fips197AppendixC) {
    zvtest::for_each_road([&] {
        for (int alg : {QVS_AES, QVS_AES_ALT})
            for (const Vector &v : kFips197) {
                Bytes c = run(alg, from_hex(v.key), from_hex(v.plain));
                EXPECT_EQ(to_hex(c), v.cipher) << alg << " " << v.key;
                EXPECT_EQ(to_hex(run(alg, from_hex(v.key), c, true)), v.plain);
            }
    });
}

// RIJ takes key and data words first byte most significant:
// RIJ(K, P) = R(AES(R(K), R(P))).
TEST(Rij, IsAesOnGroupReversedWords) {
    zvtest::for_each_road([&] {
        for (const Vector &v : kFips197) {
            Bytes k = reverse_groups(from_hex(v.key)), p = reverse_groups(from_hex(v.plain));
            Bytes c = run(QVS_RIJ, k, p);
            EXPECT_EQ(to_hex(c), to_hex(reverse_groups(from_hex(v.cipher)))) << v.key;
            EXPECT_EQ(run(QVS_RIJ, k, c, true), p);
        }
    });
}

TEST(Des, Fips81AndParityIgnored) {
    const Bytes key = from_hex("0123456789abcdef");
    EXPECT_EQ(upper(to_hex(run(QVS_DES, key, zvtest::bytes_of("Now is t")))), "3FA40E8A984D4815");
    // Flipping every parity bit (the low bit of each key byte) changes nothing.
    Bytes flipped = key;
    for (auto &b : flipped) b ^= 1;
    EXPECT_EQ(upper(to_hex(run(QVS_DES, flipped, zvtest::bytes_of("Now is t")))), "3FA40E8A984D4815");
}

// The known-answer tables of NIST SP 800-17 (variable plaintext, inverse
// permutation, variable key, permutation operation, substitution table).
TEST(Des, Sp80017KnownAnswerTables) {
    static const char *const kVarPlain[64] = {
        "95F8A5E5DD31D900", "DD7F121CA5015619", "2E8653104F3834EA", "4BD388FF6CD81D4F", "20B9E767B2FB1456",
        "55579380D77138EF", "6CC5DEFAAF04512F", "0D9F279BA5D87260", "D9031B0271BD5A0A", "424250B37C3DD951",
        "B8061B7ECD9A21E5", "F15D0F286B65BD28", "ADD0CC8D6E5DEBA1", "E6D5F82752AD63D1", "ECBFE3BD3F591A5E",
        "F356834379D165CD", "2B9F982F20037FA9", "889DE068A16F0BE6", "E19E275D846A1298", "329A8ED523D71AEC",
        "E7FCE22557D23C97", "12A9F5817FF2D65D", "A484C3AD38DC9C19", "FBE00A8A1EF8AD72", "750D079407521363",
        "64FEED9C724C2FAF", "F02B263B328E2B60", "9D64555A9A10B852", "D106FF0BED5255D7", "E1652C6B138C64A5",
        "E428581186EC8F46", "AEB5F5EDE22D1A36", "E943D7568AEC0C5C", "DF98C8276F54B04B", "B160E4680F6C696F",
        "FA0752B07D9C4AB8", "CA3A2B036DBC8502", "5E0905517BB59BCF", "814EEB3B91D90726", "4D49DB1532919C9F",
        "25EB5FC3F8CF0621", "AB6A20C0620D1C6F", "79E90DBC98F92CCA", "866ECEDD8072BB0E", "8B54536F2F3E64A8",
        "EA51D3975595B86B", "CAFFC6AC4542DE31", "8DD45A2DDF90796C", "1029D55E880EC2D0", "5D86CB23639DBEA9",
        "1D1CA853AE7C0C5F", "CE332329248F3228", "8405D1ABE24FB942", "E643D78090CA4207", "48221B9937748A23",
        "DD7C0BBD61FAFD54", "2FBC291A570DB5C4", "E07C30D7E4E26E12", "0953E2258E8E90A1", "5B711BC4CEEBF2EE",
        "CC083F1E6D9E85F6", "D2FD8867D50D2DFE", "06E7EA22CE92708F", "166B40B44ABA4BD6",
    };
    static const char *const kVarKey[56] = {
        "95A8D72813DAA94D", "0EEC1487DD8C26D5", "7AD16FFB79C45926", "D3746294CA6A6CF3", "809F5F873C1FD761",
        "C02FAFFEC989D1FC", "4615AA1D33E72F10", "2055123350C00858", "DF3B99D6577397C8", "31FE17369B5288C9",
        "DFDD3CC64DAE1642", "178C83CE2B399D94", "50F636324A9B7F80", "A8468EE3BC18F06D", "A2DC9E92FD3CDE92",
        "CAC09F797D031287", "90BA680B22AEB525", "CE7A24F350E280B6", "882BFF0AA01A0B87", "25610288924511C2",
        "C71516C29C75D170", "5199C29A52C9F059", "C22F0A294A71F29F", "EE371483714C02EA", "A81FBD448F9E522F",
        "4F644C92E192DFED", "1AFA9A66A6DF92AE", "B3C1CC715CB879D8", "19D032E64AB0BD8B", "3CFAA7A7DC8720DC",
        "B7265F7F447AC6F3", "9DB73B3C0D163F54", "8181B65BABF4A975", "93C9B64042EAA240", "5570530829705592",
        "8638809E878787A0", "41B9A79AF79AC208", "7A9BE42F2009A892", "29038D56BA6D2745", "5495C6ABF1E5DF51",
        "AE13DBD561488933", "024D1FFA8904E389", "D1399712F99BF02E", "14C1D7C1CFFEC79E", "1DE5279DAE3BED6F",
        "E941A33F85501303", "DA99DBBC9A03F379", "B7FC92F91D8E92E9", "AE8E5CAA3CA04E85", "9CC62DF43B6EED74",
        "D863DBB5C59A91A0", "A1AB2190545B91D7", "0875041E64C570F7", "5A594528BEBEF1CC", "FCDB3291DE21F0C0",
        "869EFD7F9F265A09",
    };
    static const Vector kPermOp[] = {
        {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
        {"1007103489988020", "0000000000000000", "0C0CC00C83EA48FD"},
        {"10071034C8980120", "0000000000000000", "83BC8EF3A6570183"},
        {"1046103489988020", "0000000000000000", "DF725DCAD94EA2E9"},
        {"1086911519190101", "0000000000000000", "E652B53B550BE8B0"},
        {"1086911519580101", "0000000000000000", "AF527120C485CBB0"},
        {"5107B01519580101", "0000000000000000", "0F04CE393DB926D5"},
        {"1007B01519190101", "0000000000000000", "C9F00FFC74079067"},
        {"3107915498080101", "0000000000000000", "7CFD82A593252B4E"},
        {"3107919498080101", "0000000000000000", "CB49A2F9E91363E3"},
        {"10079115B9080140", "0000000000000000", "00B588BE70D23F56"},
        {"3107911598080140", "0000000000000000", "406A9A6AB43399AE"},
        {"1007D01589980101", "0000000000000000", "6CB773611DCA9ADA"},
        {"9107911589980101", "0000000000000000", "67FD21C17DBB5D70"},
        {"9107D01589190101", "0000000000000000", "9592CB4110430787"},
        {"1007D01598980120", "0000000000000000", "A6B7FF68A318DDD3"},
        {"1007940498190101", "0000000000000000", "4D102196C914CA16"},
        {"0107910491190401", "0000000000000000", "2DFA9F4573594965"},
        {"0107910491190101", "0000000000000000", "B46604816C0E0774"},
        {"0107940491190401", "0000000000000000", "6E7E6221A4F34E87"},
        {"19079210981A0101", "0000000000000000", "AA85E74643233199"},
        {"1007911998190801", "0000000000000000", "2E5A19DB4D1962D6"},
        {"10079119981A0801", "0000000000000000", "23A866A809D30894"},
        {"1007921098190101", "0000000000000000", "D812D961F017D320"},
        {"100791159819010B", "0000000000000000", "055605816E58608F"},
        {"1004801598190101", "0000000000000000", "ABD88E8B1B7716F1"},
        {"1004801598190102", "0000000000000000", "537AC95BE69DA1E1"},
        {"1004801598190108", "0000000000000000", "AED0F6AE3C25CDD8"},
        {"1002911498100104", "0000000000000000", "B3E35A5EE53E7B8D"},
        {"1002911598190104", "0000000000000000", "61C79C71921A2EF8"},
        {"1002911598100201", "0000000000000000", "E2F5728F0995013C"},
        {"1002911698100101", "0000000000000000", "1AEAC39A61F0A464"},
    };
    static const Vector kSubst[] = {
        {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
        {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
        {"07A1133E4A0B2686", "0248D43806F67172", "868EBB51CAB4599A"},
        {"3849674C2602319E", "51454B582DDF440A", "7178876E01F19B2A"},
        {"04B915BA43FEB5B6", "42FD443059577FA2", "AF37FB421F8C4095"},
        {"0113B970FD34F2CE", "059B5E0851CF143A", "86A560F10EC6D85B"},
        {"0170F175468FB5E6", "0756D8E0774761D2", "0CD3DA020021DC09"},
        {"43297FAD38E373FE", "762514B829BF486A", "EA676B2CB7DB2B7A"},
        {"07A7137045DA2A16", "3BDD119049372802", "DFD64A815CAF1A0F"},
        {"04689104C2FD3B2F", "26955F6835AF609A", "5C513C9C4886C088"},
        {"37D06BB516CB7546", "164D5E404F275232", "0A2AEEAE3FF4AB77"},
        {"1F08260D1AC2465E", "6B056E18759F5CCA", "EF1BF03E5DFA575A"},
        {"584023641ABA6176", "004BD6EF09176062", "88BF0DB6D70DEE56"},
        {"025816164629B007", "480D39006EE762F2", "A1F9915541020B56"},
        {"49793EBC79B3258F", "437540C8698F3CFA", "6FBF1CAFCFFD0556"},
        {"4FB05E1515AB73A7", "072D43A077075292", "2F22E49BAB7CA1AC"},
        {"49E95D6D4CA229BF", "02FE55778117F12A", "5A6B612CC26CCE4A"},
        {"018310DC409B26D6", "1D9D5C5018F728C2", "5F4C038ED12B2E41"},
        {"1C587F1C13924FEF", "305532286D6F295A", "63FAC0D034D9F793"},
    };
    const Bytes ones = from_hex("0101010101010101");
    for (int i = 0; i < 64; i++) {
        Bytes p(8, 0);
        p[i / 8] = uint8_t(0x80 >> (i % 8));
        EXPECT_EQ(upper(to_hex(run(QVS_DES, ones, p))), kVarPlain[i]) << "variable plaintext " << i;
        // Inverse permutation: the cipher text decrypts to the single bit.
        EXPECT_EQ(run(QVS_DES, ones, from_hex(kVarPlain[i]), true), p) << "inverse permutation " << i;
    }
    int n = 0;
    for (int i = 0; i < 64; i++) {
        if (i % 8 == 7) continue;  // parity bits
        Bytes k = ones;
        k[i / 8] = uint8_t((0x80 >> (i % 8)) | 1);
        EXPECT_EQ(upper(to_hex(run(QVS_DES, k, Bytes(8, 0)))), kVarKey[n]) << "variable key " << n;
        n++;
    }
    for (const Vector &v : kPermOp)
        EXPECT_EQ(upper(to_hex(run(QVS_DES, from_hex(v.key), from_hex(v.plain)))), v.cipher) << v.key;
    for (const Vector &v : kSubst)
        EXPECT_EQ(upper(to_hex(run(QVS_DES, from_hex(v.key), from_hex(v.plain)))), v.cipher) << v.key;
}

// Triple DES with K1 = K2 = K3 (16 or 24 bytes) is single DES.
TEST(Des, TripleWithEqualKeysIsSingle) {
    std::mt19937 rng(46);
    const Bytes k = zvtest::random_bytes(rng, 8), data = zvtest::random_bytes(rng, 64);
    Bytes k2 = k, k3 = k;
    k2.insert(k2.end(), k.begin(), k.end());
    k3.insert(k3.end(), k2.begin(), k2.end());
    const Bytes single = run(QVS_DES, k, data);
    EXPECT_EQ(run(QVS_DES, k2, data), single);
    EXPECT_EQ(run(QVS_DES, k3, data), single);
    EXPECT_NE(single, data);
}

TEST(Blowfish, ZeroVectorAndVariableKeyLengthSet) {
    EXPECT_EQ(upper(to_hex(run(QVS_BLOWFISH, Bytes(8, 0), Bytes(8, 0)))), "4EF997456198DD78");
    // Keys of 1..24 bytes, the prefixes of one key, on one plain block.
    static const char *const kCipher[24] = {
        "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05", "B39E44481BDB1E6E",
        "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82", "15750E7A4F4EC577", "122BA70B3AB64AE0",
        "3A833C9AFFC537F6", "9409DA87A90F6BF2", "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F",
        "93142887EE3BE15C", "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
        "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
    };
    const Bytes key = from_hex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
    const Bytes plain = from_hex("FEDCBA9876543210");
    uint32_t in[2], out[2], back[2];
    _pack32(plain.data(), in, 2);
    for (int len = 1; len <= 24; len++) {
        zv::BlfSchedule s;
        ASSERT_EQ(zv::BLFInit(&s, key.data(), len), 1);
        zv::BLFEncrypt(&s, in, out);
        unsigned char c[8];
        _unpack32(out, 2, c);
        EXPECT_EQ(upper(to_hex(c, 8)), kCipher[len - 1]) << "key length " << len;
        zv::BLFDecrypt(&s, out, back);
        EXPECT_EQ(back[0], in[0]);
        EXPECT_EQ(back[1], in[1]);
    }
    zv::BlfSchedule s;
    EXPECT_EQ(zv::BLFInit(&s, key.data(), 0), 0);
    EXPECT_EQ(zv::BLFInit(&s, key.data(), 57), 0);
}

// The algorithm paper's vectors: the context takes data words first byte
// most significant, so plain and cipher text appear with every 4-byte
// group reversed.
TEST(Twofish, PaperVectorsWithGroupsReversed) {
    const Vector cases[] = {
        {"00000000000000000000000000000000", "00000000000000000000000000000000", "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
        {"00000000000000000000000000000000", "9F589F5CF6122C32B6BFEC2F2AE8C35A", "D491DB16E7B1C39E86CB086B789F5419"},
        {"9F589F5CF6122C32B6BFEC2F2AE8C35A", "D491DB16E7B1C39E86CB086B789F5419", "019F9809DE1711858FAAC3A3BA20FBC3"},
        {"0123456789ABCDEFFEDCBA98765432100011223344556677", "00000000000000000000000000000000",
         "CFD1D2E5A9BE9CDF501F13B892BD2248"},
        {"000000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
         "EFA71F788965BD4453F860178FC19101"},
        {"0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF", "00000000000000000000000000000000",
         "37527BE0052334B89F0CFCCAE87CFA20"},
        {"0000000000000000000000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
         "57FF739D4DC92C1BD7FC01700CC8216F"},
    };
    for (const Vector &v : cases) {
        const Bytes key = from_hex(v.key), p = reverse_groups(from_hex(v.plain));
        Bytes c = run(QVS_TWOFISH, key, p);
        EXPECT_EQ(upper(to_hex(reverse_groups(c))), v.cipher) << v.key << " / " << v.plain;
        EXPECT_EQ(run(QVS_TWOFISH, key, c, true), p);
    }
}

TEST(Twofish, TablesAreBuiltOnce) {
    const Bytes key(32, 7);
    for (int i = 0; i < 50; i++) {
        zv::TwfSchedule s;
        ASSERT_EQ(zv::TWFInit(&s, key.data(), 16 + 8 * (i % 3)), 1);
    }
    EXPECT_EQ(zv::twofish_table_builds(), 1);
    zv::TwfSchedule s;
    EXPECT_EQ(zv::TWFInit(&s, key.data(), 20), 0);
}

// The MD5 of a byte string, through the library's own MD5 (its vectors are
// proven above) and, where installed, through openssl as well.
std::string md5_hex(const Bytes &b) {
    unsigned char d[16];
    QVSMD5CTX c;
    MD5Init(&c);
    MD5Update(&c, b.data(), uint32_t(b.size()));
    MD5Final(d, &c);
    if (zvtest::have_tool("openssl")) {
        std::vector<std::string> want;
        EXPECT_TRUE(zvtest::openssl_digests("md5", {b}, &want));
        if (!want.empty()) {
            EXPECT_EQ(to_hex(d, 16), want[0]);
        }
    }
    return to_hex(d, 16);
}

class Mdc : public zvtest::ZvTest {};

// The first key stream is MD5(key) with every 4-byte group reversed; the
// second is the MD5 of the key, its MD5 padding and length, and the first
// cipher block from byte 15 down to 0, groups reversed.
TEST_F(Mdc, KeyStreamFollowsTheRunningMd5) {
    std::mt19937 rng(6);
    for (size_t klen : {8u, 16u, 24u, 32u}) {
        const Bytes key = zvtest::random_bytes(rng, klen);
        Bytes plain(16, 0);
        const Bytes second = zvtest::random_bytes(rng, 16);
        plain.insert(plain.end(), second.begin(), second.end());
        const Bytes c = run(QVS_MDC, key, plain);
        const Bytes c0(c.begin(), c.begin() + 16);
        EXPECT_EQ(to_hex(c0), to_hex(reverse_groups(from_hex(md5_hex(key))))) << klen;

        Bytes stream = key;
        stream.push_back(0x80);
        while (stream.size() % 64 != 56) stream.push_back(0);
        const uint64_t bits = uint64_t(klen) * 8;
        for (int i = 0; i < 8; i++) stream.push_back(uint8_t(bits >> (8 * i)));
        for (int i = 15; i >= 0; i--) stream.push_back(c0[size_t(i)]);
        const Bytes ks = reverse_groups(from_hex(md5_hex(stream)));
        for (int i = 0; i < 16; i++) EXPECT_EQ(c[16 + size_t(i)], second[size_t(i)] ^ ks[size_t(i)]) << i;
    }
}

TEST(MdcCipher, DecryptionInvertsAndByteZeroReachesEveryLaterBlock) {
    std::mt19937 rng(60);
    const Bytes key = zvtest::random_bytes(rng, 16);
    const Bytes plain = zvtest::random_bytes(rng, 80);
    const Bytes c = run(QVS_MDC, key, plain);
    EXPECT_EQ(run(QVS_MDC, key, c, true), plain);
    EXPECT_EQ(run(QVS_MDC, key, plain), c);  // the same key and text give the same output
    Bytes changed = plain;
    changed[0] ^= 1;
    const Bytes c2 = run(QVS_MDC, key, changed);
    EXPECT_NE(c2[0], c[0]);
    for (int blk = 1; blk < 5; blk++)
        EXPECT_NE(Bytes(c2.begin() + 16 * blk, c2.begin() + 16 * blk + 16),
                  Bytes(c.begin() + 16 * blk, c.begin() + 16 * blk + 16))
            << blk;
}

}  // namespace
