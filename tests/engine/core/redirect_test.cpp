// File-name redirection rules, two-name lines, white space and byte lists.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/redirect.h"
#include "tests/engine/core/platfix.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::read_file;
using zvtest::write_file;

class RedirectTest : public zvtest::PlatTest {
protected:
    // Redirects name; returns the result and leaves the output in out.
    int redirect(const std::string &name, const char *title = nullptr) {
        memset(out, 'Z', sizeof out);
        out[sizeof out - 1] = '\0';
        return zvredirect(name.c_str(), out, title, nullptr);
    }
    char out[255];
};

TEST_F(RedirectTest, RulesRewriteByPrefix) {
    ASSERT_EQ(zvredirectadd("/old /new"), 0);
    EXPECT_EQ(redirect("/old/a.dat"), 1);
    EXPECT_STREQ(out, "/new/a.dat");
    EXPECT_EQ(redirect("/other/b.dat"), 0);
    EXPECT_EQ(out[0], 'Z');
    // Case counts; the first rule that applies wins.
    ASSERT_EQ(zvredirectadd("/o /x"), 0);
    EXPECT_EQ(redirect("/OLD/a.dat"), 0);
    EXPECT_EQ(redirect("/oz"), 1);
    EXPECT_STREQ(out, "/xz");
    EXPECT_EQ(redirect("/old/q"), 1);
    EXPECT_STREQ(out, "/new/q");
}

TEST_F(RedirectTest, ResultsReaching255CharactersAreRefused) {
    ASSERT_EQ(zvredirectadd("/a /bbbb"), 0);
    // 254 characters after the rewrite fit; 255 do not.
    std::string fits = "/a" + std::string(249, 'x');   // becomes 5 + 249 = 254
    std::string over = "/a" + std::string(250, 'x');   // becomes 255
    EXPECT_EQ(redirect(fits), 1);
    EXPECT_EQ(strlen(out), 254u);
    EXPECT_EQ(redirect(over), 77);
    EXPECT_EQ(std::string(out), std::string(254, 'Z'));
    EXPECT_EQ(zvredirect(over.c_str(), out, nullptr, "refused: "), 77);
    auto msgs = log_messages();
    ASSERT_GE(msgs.size(), 2u);
    EXPECT_EQ(msgs[msgs.size() - 2], "refused: " + over);
    EXPECT_EQ(msgs.back(), "</a*></bbbb>");
}

TEST_F(RedirectTest, BackSlashesOfRulesAndTheSlashFlag) {
    ASSERT_EQ(zvredirectadd("c:\\data d:/files"), 0);
    EXPECT_EQ(redirect("c:/data/x.dat"), 1);  // '\\' and '/' stand for each other
    EXPECT_STREQ(out, "d:/files/x.dat");
    g->redirslash = 1;
    EXPECT_EQ(redirect("c:\\data\\y.dat"), 1);
    EXPECT_STREQ(out, "d:/files/y.dat");
    EXPECT_EQ(redirect("\\other\\z"), 1);  // no rule: the first character stays
    EXPECT_STREQ(out, "\\other/z");
    EXPECT_EQ(redirect("\\plain"), 0);
}

TEST_F(RedirectTest, ATitleLogsTheRewrite) {
    ASSERT_EQ(zvredirectadd("\"/my old\" \"/my new\""), 0);
    FILE *sink = tmpfile();
    setZarvoSTDOUT(sink);
    EXPECT_EQ(redirect("/my old/f", "redirecting files:"), 1);
    setZarvoSTDOUT(nullptr);
    EXPECT_STREQ(out, "/my new/f");
    rewind(sink);
    char buf[200] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, sink);
    fclose(sink);
    EXPECT_EQ(std::string(buf, n), "redirecting files:\n\t/my old/f -> /my new/f\n");
    auto msgs = log_messages();
    ASSERT_GE(msgs.size(), 2u);
    EXPECT_EQ(msgs[msgs.size() - 2], "redirecting files:");
    EXPECT_EQ(msgs.back(), "/my old/f -> /my new/f");
}

TEST_F(RedirectTest, TwoNamesFromALine) {
    struct Case {
        std::string line;
        int want;
        const char *first;
        const char *second;
    };
    const Case cases[] = {
        {"  a   b  ", 0, "a", "b"},
        {"\"a b\" \"c d\"", 0, "a b", "c d"},
        {"\"\" x", 0, "", "x"},
        {"only", 1, nullptr, nullptr},
        {"\"open x", 1, nullptr, nullptr},
        {"a \"open", 1, nullptr, nullptr},
        {"   ", 1, nullptr, nullptr},
        {std::string(253, 's') + " t", 0, nullptr, "t"},
        {std::string(254, 's') + " t", 1, nullptr, nullptr},
        {"s " + std::string(256, 't'), 0, "s", nullptr},
        {"s " + std::string(257, 't'), 1, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line.substr(0, 20));
        char first[254], second[257];
        EXPECT_EQ(ireadfilenames(c.line.c_str(), first, sizeof first, second, sizeof second), c.want);
        if (c.first) {
            EXPECT_STREQ(first, c.first);
        }
        if (c.second) {
            EXPECT_STREQ(second, c.second);
        }
    }
    // The rule form: a name too long for a rule is refused and logged.
    EXPECT_EQ(zvredirectadd((std::string(254, 's') + " t").c_str()), 2);
    EXPECT_EQ(log_messages().back(), "could not read REDIRECT file names: 5");
    EXPECT_EQ(g->redir.count, 0);
}

TEST_F(RedirectTest, LinesFromAStream) {
    write_file("names.txt", "a b\nc d");
    FILE *f = fopen("names.txt", "r");
    ASSERT_NE(f, nullptr);
    char first[64], second[64];
    EXPECT_EQ(readfilenames(f, first, sizeof first, second, sizeof second), 0);
    EXPECT_STREQ(second, "b");
    // The last line has no newline: its last character stays.
    EXPECT_EQ(readfilenames(f, first, sizeof first, second, sizeof second), 0);
    EXPECT_STREQ(second, "d");
    EXPECT_EQ(readfilenames(f, first, sizeof first, second, sizeof second), 1);
    fclose(f);
}

TEST_F(RedirectTest, StripWhiteSpaceAndExtensions) {
    char text[] = " \t a b \n";
    EXPECT_EQ(stripwhitespace(text), 3);
    EXPECT_STREQ(text, "a b");
    char empty[] = "   ";
    EXPECT_EQ(stripwhitespace(empty), 0);
    EXPECT_STREQ(empty, "");

    char out[256];
    strcpy(g->defext[0], ".dat");
    EXPECT_EQ(zv::zvundoiflnam("dir/cust.dat", "", out, 0), 0);
    EXPECT_STREQ(out, "dir/cust");
    EXPECT_EQ(zv::zvundoiflnam("dir/cust.idx", ".idx", out, 0), 0);
    EXPECT_STREQ(out, "dir/cust");
    EXPECT_EQ(zv::zvundoiflnam("dir/cust.idx", "   ", out, 0), 0);
    EXPECT_STREQ(out, "dir/cust.idx");
    EXPECT_EQ(zv::zvundoiflnam("dir/cust", ".dat", out, 0), 0);
    EXPECT_STREQ(out, "dir/cust");
}

int match_int(const void *key, const void *data) { return memcmp(key, data, sizeof(int)) == 0; }

std::vector<int> walk(ZVSLIST *l) {
    std::vector<int> out;
    void *p = nullptr;
    for (zvslstfrs(l, &p); p; zvslstnxt(l, &p)) out.push_back(*static_cast<int *>(p));
    return out;
}

TEST_F(RedirectTest, ByteLists) {
    ZVSLIST *l = nullptr;
    ASSERT_EQ(zvslstcre(&l), 0);
    int v[] = {1, 2, 3, 4};
    for (int i = 0; i < 3; i++) ASSERT_EQ(zvslstadd(l, &v[i], sizeof(int)), 0);
    EXPECT_EQ(zvslstadd(l, &v[0], 0), 634);
    EXPECT_EQ(walk(l), (std::vector<int>{1, 2, 3}));
    // Delete the last, add one: the new node is found last.
    EXPECT_EQ(zvslstdel(l, &v[2], match_int), 0);
    ASSERT_EQ(zvslstadd(l, &v[3], sizeof(int)), 0);
    EXPECT_EQ(walk(l), (std::vector<int>{1, 2, 4}));
    // Deleting the node under the cursor continues the walk after it.
    void *p = nullptr;
    zvslstfrs(l, &p);
    EXPECT_EQ(zvslstdel(l, &v[0], match_int), 0);
    zvslstnxt(l, &p);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*static_cast<int *>(p), 2);
    EXPECT_EQ(zvslstdel(l, &v[0], match_int), 101);
    EXPECT_EQ(zvslstdel(l, &v[0], nullptr), 540);
    EXPECT_EQ(zvslstfrs(nullptr, &p), 540);
    EXPECT_EQ(zvslstfre(l), 0);
    EXPECT_EQ(zvslstcre(nullptr), 540);
}

}  // namespace
