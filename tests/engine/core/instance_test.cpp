// Instance registry: ring order, current instance, ids and codes.
#include <string>

#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::ZvTest;

class InstanceTest : public ZvTest {};

TEST_F(InstanceTest, EmptyRingAnswers) {
    EXPECT_EQ(WCHZARVO(), nullptr);
    EXPECT_EQ(NXTZARVO(), nullptr);
    EXPECT_EQ(SWTZARVO("A"), 516);
    EXPECT_EQ(UNRZARVO("A"), 516);
    EXPECT_EQ(GETZARVO("A"), nullptr);
}

TEST_F(InstanceTest, RegisterMakesCurrentAndDuplicateKeepsCurrent) {
    ASSERT_EQ(REGZARVO("A"), 0);
    ASSERT_EQ(REGZARVO("B"), 0);
    EXPECT_STREQ(WCHZARVO(), "B");
    EXPECT_EQ(REGZARVO("A"), 518);
    EXPECT_STREQ(WCHZARVO(), "B");
    EXPECT_STREQ(NXTZARVO(), "A");
    EXPECT_STREQ(NXTZARVO(), "B");
    EXPECT_NE(GETZARVO("A"), nullptr);
    EXPECT_NE(GETZARVO("A"), GETZARVO("B"));
}

TEST_F(InstanceTest, DuplicateOfNonCurrentLeavesCurrentUnchanged) {
    ASSERT_EQ(REGZARVO("A"), 0);
    ASSERT_EQ(REGZARVO("B"), 0);
    ASSERT_EQ(REGZARVO("C"), 0);
    ASSERT_EQ(SWTZARVO("A"), 0);
    EXPECT_EQ(REGZARVO("C"), 518);
    EXPECT_STREQ(WCHZARVO(), "A");
}

TEST_F(InstanceTest, RemovingCurrentMakesPredecessorCurrent) {
    ASSERT_EQ(REGZARVO("A"), 0);
    ASSERT_EQ(REGZARVO("B"), 0);
    ASSERT_EQ(REGZARVO("C"), 0);
    EXPECT_EQ(UNRZARVO("nope"), 517);
    EXPECT_STREQ(WCHZARVO(), "C");
    EXPECT_EQ(UNRZARVO("C"), 0);
    EXPECT_STREQ(WCHZARVO(), "B");
    EXPECT_EQ(SWTZARVO("C"), 517);
    // Removing a non-current instance keeps the current one.
    EXPECT_EQ(UNRZARVO("A"), 0);
    EXPECT_STREQ(WCHZARVO(), "B");
    EXPECT_STREQ(NXTZARVO(), "B");
    EXPECT_EQ(UNRZARVO("B"), 0);
    EXPECT_EQ(WCHZARVO(), nullptr);
    EXPECT_EQ(SWTZARVO("B"), 516);
}

TEST_F(InstanceTest, SwitchSearchesWholeRing) {
    for (const char *id : {"one", "two", "three", "four"}) ASSERT_EQ(REGZARVO(id), 0);
    for (const char *id : {"one", "three", "two", "four", "one"}) {
        ASSERT_EQ(SWTZARVO(id), 0);
        EXPECT_STREQ(WCHZARVO(), id);
    }
}

TEST_F(InstanceTest, IdsCompareCaseSensitively) {
    ASSERT_EQ(REGZARVO("abc"), 0);
    EXPECT_EQ(REGZARVO("ABC"), 0);
    EXPECT_EQ(SWTZARVO("abc"), 0);
    EXPECT_EQ(SWTZARVO("Abc"), 517);
}

TEST_F(InstanceTest, LongIdIsCutTo31Characters) {
    std::string longid(40, 'x');
    for (int i = 0; i < 40; i++) longid[i] = static_cast<char>('a' + i % 26);
    ASSERT_EQ(REGZARVO(longid.c_str()), 0);
    std::string cut = longid.substr(0, 31);
    EXPECT_EQ(std::string(WCHZARVO()), cut);
    EXPECT_EQ(SWTZARVO(longid.c_str()), 517);
    EXPECT_EQ(SWTZARVO(cut.c_str()), 0);
    // Exactly 32 characters is also cut and then differs from the stored id.
    EXPECT_EQ(SWTZARVO(longid.substr(0, 32).c_str()), 517);
    EXPECT_EQ(UNRZARVO(cut.c_str()), 0);
}

TEST_F(InstanceTest, ErrorGettersReadCurrentInstance) {
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    ASSERT_EQ(REGZARVO("A"), 0);
    EXPECT_EQ(uerr(33), 33);
    usys(5);
    EXPECT_EQ(zvGetUserErrorCode(), 33);
    EXPECT_EQ(zvGetSystemErrorCode(), 5);
    EXPECT_EQ(zvGetIsamErrorCode(), 0);
    EXPECT_EQ(zvGetIsamFileNbr(), 0);
    ASSERT_EQ(REGZARVO("B"), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    ASSERT_EQ(SWTZARVO("A"), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 33);
}

TEST_F(InstanceTest, NullIdsAreRefused) {
    EXPECT_EQ(SWTZARVO(nullptr), 516);
    ASSERT_EQ(REGZARVO("A"), 0);
    EXPECT_EQ(SWTZARVO(nullptr), 517);
    EXPECT_EQ(UNRZARVO(nullptr), 517);
    EXPECT_EQ(GETZARVO(nullptr), nullptr);
    zvFreeWNGV(nullptr);
}

}  // namespace
