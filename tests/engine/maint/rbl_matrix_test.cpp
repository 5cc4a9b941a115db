// The damage matrix of the set rebuild: each good set (fixed-length,
// variable-length with an identity field, 8-byte offsets) damaged in one
// way at a time, then rebuilt. Afterwards the set verifies, holds every
// record the damage left intact with all its keys (and a fixed-length
// file's active count agrees), its application resources are unchanged,
// the next identity value lies above every stored one, and a record can be
// added.
#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>

#include "tests/engine/maint/rblfix.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace rbltest;
using zvtest::HeaderField;

enum class Damage {
    TruncatedTail,
    ZeroUpdateFlag,
    ZeroActiveCount,
    ZeroDeleteStack,
    ZeroLastByteUsed,
    ZeroFirstResource,
    StackLinkedToItself,
    StackPastTheEnd,
    NodeBytes,
    DeletedIndexFile,
    DuplicatedResource,
    GarbageStretch,
};

const char *damage_name(Damage d) {
    switch (d) {
    case Damage::TruncatedTail: return "truncated tail";
    case Damage::ZeroUpdateFlag: return "zeroed update flag";
    case Damage::ZeroActiveCount: return "zeroed active count";
    case Damage::ZeroDeleteStack: return "zeroed delete-stack head";
    case Damage::ZeroLastByteUsed: return "zeroed last byte used";
    case Damage::ZeroFirstResource: return "zeroed first-resource pointer";
    case Damage::StackLinkedToItself: return "delete stack linked to itself";
    case Damage::StackPastTheEnd: return "delete stack past the end";
    case Damage::NodeBytes: return "random leaf and non-leaf bytes, a child link upward";
    case Damage::DeletedIndexFile: return "deleted index file";
    case Damage::DuplicatedResource: return "duplicated resource";
    case Damage::GarbageStretch: return "garbage stretch";
    }
    return "?";
}

constexpr uint32_t kRecords = 300;
constexpr uint32_t kNode = 512;

class RblMatrixTest : public RblTest, public ::testing::WithParamInterface<std::tuple<Kind, Damage>> {
protected:
    void SetUp() override {
        if (kind() == Kind::Encrypted) with_encryption();
        RblTest::SetUp();
    }
    Kind kind() const { return std::get<0>(GetParam()); }
    Damage damage() const { return std::get<1>(GetParam()); }

    // Position and image of the record at the highest position.
    static std::pair<uint64_t, std::string> last_record(const zvtest::SetState &st) {
        auto it = st.records.rbegin();
        return {it->first, it->second};
    }

    // Applies the damage to the closed set; the records it leaves intact
    // (by image) come out of `live`.
    void apply(RblSet &s, std::multiset<std::string> &live, const zvtest::SetState &before) {
        const bool wide = s.wide();
        const uint32_t ext = 128;  // start of the extended header part
        switch (damage()) {
        case Damage::TruncatedTail: {
            auto [pos, img] = last_record(before);
            uint64_t frame = s.variable() ? 10 : 0;
            zvtest::truncate_to(s.dat(), pos + frame + img.size() / 2);
            live.erase(live.find(img));
            break;
        }
        case Damage::ZeroUpdateFlag: zvtest::zero_header_field(s.dat(), HeaderField::UpdateFlag); break;
        case Damage::ZeroActiveCount: zvtest::zero_header_field(s.dat(), HeaderField::ActiveCount); break;
        case Damage::ZeroDeleteStack: zvtest::zero_header_field(s.dat(), HeaderField::DeleteStack); break;
        case Damage::ZeroLastByteUsed: zvtest::zero_header_field(s.dat(), HeaderField::LastByteUsed); break;
        case Damage::ZeroFirstResource: zvtest::zero_header_field(s.dat(), HeaderField::FirstResource); break;
        case Damage::StackLinkedToItself: {
            if (s.variable()) {
                // The free-space index's root names the header itself.
                zvtest::put_le32(s.dat(), 28, 0);
                zvtest::put_le32(s.dat(), 24, 7);
                break;
            }
            uint32_t head = zvtest::get_le32(s.dat(), 4);
            ASSERT_NE(head, 0u);
            zvtest::put_le32(s.dat(), head + 1, head);
            if (wide) zvtest::put_le32(s.dat(), head + 5, 0);
            break;
        }
        case Damage::StackPastTheEnd:
            zvtest::put_le32(s.dat(), s.variable() ? 28 : 4, 0x7FFFFF00u);
            if (wide) zvtest::put_le32(s.dat(), ext + 4, 0);
            break;
        case Damage::NodeBytes: {
            // The file of index 2 (unique 24-byte keys): random bytes over
            // a leaf and over the root, whose second child link first names
            // the root itself.
            if (s.encrypted()) {
                // Its nodes are cipher text on disk: noise over four pages.
                zvtest::write_bytes(s.nm(), 2 * kNode, zvtest::garbage(4 * kNode, 7));
                break;
            }
            const uint32_t hs = wide ? 28 : 18, ps = wide ? 8 : 4, key = 24;
            uint32_t root = zvtest::get_le32(s.nm(), 28);
            std::string node = zvtest::read_bytes(s.nm(), root, kNode);
            ASSERT_EQ(node.size(), kNode);
            ASSERT_EQ(node[17], 0) << "the root is a leaf: the tree is too small for this damage";
            uint32_t leaf = zvtest::get_le32(s.nm(), root + hs);
            zvtest::write_bytes(s.nm(), leaf + 4, zvtest::garbage(kNode - 8, 7));
            zvtest::put_le32(s.nm(), root + hs + ps + key, root);
            zvtest::write_bytes(s.nm(), root + hs + 2 * (ps + key), zvtest::garbage(kNode / 2, 9));
            break;
        }
        case Damage::DeletedIndexFile: zvtest::delete_file(s.nm()); break;
        case Damage::DuplicatedResource: {
            // A second, smaller copy of the application resource of the
            // data file right after its last byte used: the larger stays.
            uint32_t first = zvtest::get_le32(s.dat(), 12);
            const uint32_t hs = wide ? 30 : 22;
            std::string h = zvtest::read_bytes(s.dat(), first, hs);
            uint32_t fwd = zvtest::get_le32(s.dat(), first + 14);
            std::string app = zvtest::read_bytes(s.dat(), fwd, 64);
            while (app.size() >= 12 && zvtest::get_le32(s.dat(), fwd + hs) != 6000) {
                fwd = zvtest::get_le32(s.dat(), fwd + 14);
                app = zvtest::read_bytes(s.dat(), fwd, 64);
            }
            std::string body = app_resource(1, "short");
            std::string copy = zvtest::read_bytes(s.dat(), fwd, hs);
            uint32_t area = hs + uint32_t(body.size());
            for (int i = 0; i < 4; i++) copy[size_t(2 + i)] = char(area >> (8 * i));
            for (int i = 0; i < 4; i++) copy[size_t(6 + i)] = char(body.size() >> (8 * i));
            uint64_t at = uint64_t(zvtest::get_le32(s.dat(), 8)) + 1;
            zvtest::write_bytes(s.dat(), at, copy + body);
            (void)h;
            break;
        }
        case Damage::GarbageStretch: {
            auto it = before.records.begin();
            std::advance(it, 40);
            zvtest::insert_bytes(s.dat(), it->first, zvtest::garbage(100, 3));
            break;
        }
        }
    }
};

TEST_P(RblMatrixTest, RebuildRepairsTheSet) {
    RblSet s("mx", kind());
    std::multiset<std::string> live = build(s, kRecords);
    ASSERT_EQ(live.size(), kRecords - kRecords / 7);
    std::string verdict;
    zvtest::SetState before;
    contents(s, &verdict, &before);
    ASSERT_EQ(verdict, "");
    const int d0 = s.ifil.tfilno;
    const std::string dres = resource_of(d0, 1), ires = resource_of(d0 + 1, 1);
    ASSERT_FALSE(dres.empty());
    ASSERT_FALSE(ires.empty());
    ASSERT_EQ(CLIFIL(&s.ifil), 0);

    apply(s, live, before);
    const int16_t options = damage() == Damage::GarbageStretch ? int16_t(-(0x4000 + 0x200)) : int16_t(-1);
    ASSERT_EQ(s.rebuild(options), 0) << damage_name(damage()) << ", file " << zvGetIsamFileNbr() << "\n"
                                     << status_log();

    EXPECT_TRUE(zvtest::verify_set(s.dat()));
    if (s.encrypted()) {
        // The set stays encrypted; a new index file takes the data file's class.
        const int32_t cls = cipher_class(s.dat());
        EXPECT_GE(cls, 2);
        EXPECT_EQ(cipher_class(s.idxfile()), cls);
        EXPECT_EQ(cipher_class(s.nm()), cls);
    }
    zvtest::SetState after;
    std::multiset<std::string> now = contents(s, &verdict, &after);
    EXPECT_EQ(verdict, "");
    EXPECT_EQ(now, live) << now.size() << " records, " << live.size() << " intact";
    const int d = s.ifil.tfilno;
    if (kind() != Kind::Variable) {
        EXPECT_EQ(after.datent, live.size());
    }
    EXPECT_EQ(resource_of(d, 1), dres);
    EXPECT_EQ(resource_of(d + 1, 1), ires);
    if (s.variable()) {
        int64_t next = 0;
        ASSERT_EQ(getIDfield(d, 2, &next), 0);
        uint32_t highest = 0;
        for (const std::string &img : now) {
            Rec r;
            memcpy(&r, img.data(), sizeof r);
            highest = std::max(highest, r.amount);
        }
        EXPECT_GT(next, int64_t(highest));
    }
    // A record can be added and the set stays sound.
    std::string img = image(rec(99999), s.variable() ? 17 : 0);
    EXPECT_EQ(s.variable() ? ADDVREC(d, img.data(), int32_t(img.size())) : ADDREC(d, img.data()), 0);
    EXPECT_EQ(zvtest::check_set(d), "");
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
}

std::string case_name(const ::testing::TestParamInfo<std::tuple<Kind, Damage>> &info) {
    std::string n = std::string(kind_name(std::get<0>(info.param))) + "_" + damage_name(std::get<1>(info.param));
    for (char &c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

const Damage kEveryFile[] = {
    Damage::TruncatedTail,      Damage::ZeroUpdateFlag,   Damage::ZeroActiveCount,  Damage::ZeroDeleteStack,
    Damage::ZeroLastByteUsed,   Damage::ZeroFirstResource, Damage::StackLinkedToItself, Damage::StackPastTheEnd,
    Damage::NodeBytes,          Damage::DeletedIndexFile, Damage::DuplicatedResource,
};

INSTANTIATE_TEST_SUITE_P(Fixed, RblMatrixTest,
                         ::testing::Combine(::testing::Values(Kind::Fixed, Kind::Wide), ::testing::ValuesIn(kEveryFile)),
                         case_name);
// Damage from outside reaches the clear header and whole files; bytes
// written into the encrypted part of a file would read back as noise.
INSTANTIATE_TEST_SUITE_P(Encrypted, RblMatrixTest,
                         ::testing::Combine(::testing::Values(Kind::Encrypted),
                                            ::testing::Values(Damage::TruncatedTail, Damage::ZeroUpdateFlag,
                                                              Damage::ZeroActiveCount, Damage::ZeroDeleteStack,
                                                              Damage::ZeroLastByteUsed, Damage::ZeroFirstResource,
                                                              Damage::StackPastTheEnd, Damage::NodeBytes,
                                                              Damage::DeletedIndexFile)),
                         case_name);
INSTANTIATE_TEST_SUITE_P(Variable, RblMatrixTest,
                         ::testing::Combine(::testing::Values(Kind::Variable),
                                            ::testing::Values(Damage::TruncatedTail, Damage::ZeroUpdateFlag,
                                                              Damage::ZeroActiveCount, Damage::ZeroDeleteStack,
                                                              Damage::ZeroLastByteUsed, Damage::ZeroFirstResource,
                                                              Damage::StackLinkedToItself, Damage::StackPastTheEnd,
                                                              Damage::NodeBytes, Damage::DeletedIndexFile,
                                                              Damage::DuplicatedResource, Damage::GarbageStretch)),
                         case_name);

}  // namespace
