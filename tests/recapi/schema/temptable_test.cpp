// Working names and temporary tables: the names made from the engine's
// temporary file names, and tables made from another table's definition.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <string>

#include "engine/core/platform.h"
#include "tests/recapi/schema/maintfix.h"

namespace {

class TempTableTest : public schematest::MaintTest {
protected:
    std::string name() {
        char *p = _zvdbTemporaryName(table_);
        std::string s = p ? p : "(null)";
        _zvdb_free(p);
        return s;
    }
};

TEST_F(TempTableTest, WorkingNamesComeFromTheEnginesTemporaryNames) {
    // In the working directory: "zarvo.tmp.XXXXXXXX" with its points made d.
    const std::string a = name(), b = name();
    ASSERT_EQ(a.size(), 19u) << a;
    EXPECT_EQ(a.substr(0, 11), "czarvodtmpd");
    EXPECT_EQ(a.find_first_of("./"), std::string::npos);
    EXPECT_NE(a, b);
    // In the engine's temporary directory: its "Z" and seven hex digits.
    std::filesystem::create_directory("t");
    ASSERT_EQ(zvSetZvTempDirName("t/"), 0);
    const std::string c = name();
    ASSERT_EQ(c.size(), 9u) << c;
    EXPECT_EQ(c.substr(0, 2), "cZ");
    for (char ch : c.substr(2)) EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(ch))) << c;
    EXPECT_TRUE(files().empty());
}

TEST_F(TempTableTest, NoWorkingNameWhenTheEngineCannotMakeOne) {
    zv::fault_set(zv::IoKind::Mkstemp, 1, EACCES);
    mark();
    EXPECT_EQ(name(), "(null)");
    EXPECT_EQ(last(), 155);
    mark();
    EXPECT_EQ(_zvdbTemporaryName(nullptr), nullptr);
}

}  // namespace
