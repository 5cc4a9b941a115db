// Untrusted texts: long tokens, deep nesting and long chains, random texts,
// allocation failures at every step, and the saved fuzz corpus.
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/core/pools.h"
#include "engine/expr/parser.h"
#include "tests/engine/expr/exprfix.h"
#include "tests/engine/expr/texts.h"

namespace {

using namespace exprtest;

using RobustTest = ExprTest;

std::string repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; i++) out += s;
    return out;
}

TEST_F(RobustTest, LongTokens) {
    int64_t base = zv::pool_blocks_in_use();
    struct Case {
        std::string what, text;
        int code;
    } cases[] = {
        {"a 9,000-byte name after a condition", "x == 1 " + std::string(9000, 'n'), 1},
        {"a 9,000-byte name in brackets", "x == [" + std::string(9000, 'n') + "]", 1},
        {"a 9,000-digit number", "x == " + std::string(9000, '1'), 1},
        {"an 8,192-byte name that is no field", std::string(8192, 'n') + " == 1", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PTNODE *tree = nullptr;
        EXPECT_EQ(parse(c.text, &tree), c.code);
        EXPECT_EQ(tree, nullptr);
        EXPECT_EQ(zv::pool_blocks_in_use(), base);
    }
    // Strings have no limit.
    std::string bytes;
    for (int i = 0; i < 100000; i++) bytes += char('a' + i % 26);
    const PTNODE *text = condition("\"" + bytes + "\"");
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(zv::ptGetLength(text), 100000);
    EXPECT_EQ(memcmp(zv::ptGetText(text), bytes.data(), bytes.size()), 0);
    text = condition("Name = \"" + repeat("\\n", 70000) + "\"");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(zv::ptGetLength(zv::ptGetRight(text)), 70000);
    EXPECT_EQ(zv::ptGetText(zv::ptGetRight(text))[69999], '\n');
}

TEST_F(RobustTest, HeightAndNestingLimits) {
    int64_t base = zv::pool_blocks_in_use();
    struct Case {
        std::string what, text;
        int code;
    } cases[] = {
        {"100,000 open parentheses", std::string(100000, '('), 2},
        {"a chain of 1,023 additions", "1" + repeat("+1", 1023), 0},
        {"a chain of 1,024 additions", "1" + repeat("+1", 1024), 2},
        {"a chain of 5,000 ORs", "a" + repeat(" OR a", 5000), 2},
        {"1,023 nested negations", repeat("-(", 1023) + "1" + repeat(")", 1023), 0},
        {"1,024 nested negations", repeat("-(", 1024) + "1" + repeat(")", 1024), 2},
        {"1,023 NOTs", repeat("NOT ", 1023) + "a", 0},
        {"1,024 NOTs", repeat("NOT ", 1024) + "a", 2},
        {"1,023 casts", repeat("(int)", 1023) + "a", 0},
        {"1,024 casts", repeat("(int)", 1024) + "a", 2},
        {"a right-deep chain of 1,023", repeat("a - (", 1023) + "a" + repeat(")", 1023), 0},
        {"511 nested calls", repeat("ABS(", 511) + "a" + repeat(")", 511), 0},
        {"512 nested calls", repeat("ABS(", 512) + "a" + repeat(")", 512), 2},
        {"2,000 parentheses around a name", repeat("(", 2000) + "a" + repeat(")", 2000), 0},
        {"3,000 parentheses around a name", repeat("(", 3000) + "a" + repeat(")", 3000), 2},
        {"a deep chain with a syntax error at its end", "1" + repeat("+1", 500) + " +", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PTNODE *tree = nullptr;
        EXPECT_EQ(parse(c.text, &tree), c.code);
        EXPECT_EQ(tree != nullptr, c.code == 0);
        zv::ptDestroy(tree);
        EXPECT_EQ(zv::pool_blocks_in_use(), base);
    }
}

TEST_F(RobustTest, RandomTextsOfTokensAndBytes) {
    static const char *const pieces[] = {
        "a", "b", "Price", "Name", "Born", "At", "Stamp", "Ext", "[and]", "[a-b]", "note", "zz", "1", "0x1F",
        "1234567890", "1.5e3", ".5", "'A'", "'\\x41'", "'2024-2-29'", "'12:30:05:250'", "{d '2024-2-29'}",
        "{t '1:2:3'}", "\"str\"", "\"a\\x41\"", "+", "-", "*", "/", "%", "&", "|", "^", "~", "!", "&&",
        "||", "==", "=", "!=", "<>", "^=", "<", "<=", ">", ">=", "(", ")", ",", "AND", "OR", "XOR", "NOT",
        "IS", "NULL", "CAST", "AS", "DATE", "int", "unsigned", "double", "ABS", "NOW", "LOCATE", "PI", " ",
        "\t", "'", "\"", "[", "]", "{", "}", "\\", "$", "#", "@",
    };
    std::mt19937 rng(20240229);
    int64_t base = zv::pool_blocks_in_use();
    int results[3] = {};
    for (int i = 0; i < 100000; i++) {
        std::string text;
        int n = int(rng() % 12) + 1;
        for (int k = 0; k < n; k++) {
            if (rng() % 8 == 0) text += char(rng() % 256);
            else text += pieces[rng() % (sizeof pieces / sizeof *pieces)];
            if (rng() % 2) text += ' ';
        }
        PTNODE *tree = nullptr;
        int rc = parse(text, &tree);
        ASSERT_TRUE(rc >= 0 && rc <= 2) << text;
        ASSERT_EQ(tree != nullptr, rc == 0) << text;
        results[rc]++;
        zv::ptDestroy(tree);
        ASSERT_EQ(zv::pool_blocks_in_use(), base) << text;
    }
    EXPECT_GT(results[0], 1000);  // the generator also makes good texts
    EXPECT_GT(results[1], 1000);
}

TEST_F(RobustTest, EveryAllocationFailureIsCleanedUp) {
    const std::string text =
        "LOCATE(Name, \"abc\\x41\", 2) > 0 AND Born >= {d '2024-2-29'} OR CAST(Price AS NUMBER) * 1.5 > "
        "(double) a OR At < '12:30:05:250' OR NOT [a-b] IS NULL OR \"" + std::string(600, 's') + "\" = Name";
    int64_t base = zv::pool_blocks_in_use();
    long n = 1;
    for (; n < 1000; n++) {
        SCOPED_TRACE(n);
        PTNODE *tree = nullptr;
        zv::fail_pool_at(n);
        int rc = parse(text, &tree);
        zv::fail_pool_at(0);
        if (rc == 0) {
            zv::ptDestroy(tree);
            EXPECT_EQ(zv::pool_blocks_in_use(), base);
            break;
        }
        EXPECT_EQ(rc, n == 1 ? 2 : 1);  // the first allocation is the lexer's state
        EXPECT_EQ(tree, nullptr);
        ASSERT_EQ(zv::pool_blocks_in_use(), base);
    }
    EXPECT_GT(n, 40);
    EXPECT_LT(n, 1000);
}

std::vector<std::string> corpus() {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(ZV_EXPR_CORPUS))
        if (e.is_regular_file()) out.push_back(zvtest::read_file(e.path().string()));
    return out;
}

TEST_F(RobustTest, TheSavedCorpusReplaysCleanly) {
    std::vector<std::string> inputs = corpus();
    int results[3] = {};
    for (const std::string &in : inputs) {
        int rc = zvfuzz::expr_fuzz_one(reinterpret_cast<const uint8_t *>(in.data()), in.size());
        ASSERT_GE(rc, 0) << in;
        if (rc <= 2) results[rc]++;
    }
    EXPECT_GT(results[0], 0);
    EXPECT_GT(results[1], 0);
    EXPECT_GT(results[2], 0);
    // Every text of the tables is in the corpus.
    std::set<std::string> saved(inputs.begin(), inputs.end());
    for (const std::string &t : good_texts()) EXPECT_TRUE(saved.count(t)) << t;
    for (const BadCase &c : bad_cases()) EXPECT_TRUE(saved.count(c.text)) << c.text;
}

}  // namespace
