#include "tests/support/fixture.h"

#include <fstream>
#include <sstream>
#include <filesystem>
#include <unistd.h>

#include "zarvo/zarvo.h"

namespace zvtest {

void clear_instance_ring() {
    while (const char *id = WCHZARVO()) {
        std::string copy = id;
        if (UNRZARVO(copy.c_str()) != 0) break;
    }
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

void save_template(const std::string &tpl) {
    namespace fs = std::filesystem;
    fs::create_directory(tpl);
    for (const auto &e : fs::directory_iterator("."))
        if (e.is_regular_file() && e.path().filename() != "ZVSTATUS.QVS")
            fs::copy_file(e.path(), fs::path(tpl) / e.path().filename(), fs::copy_options::overwrite_existing);
}

void restore_template(const std::string &tpl) {
    namespace fs = std::filesystem;
    for (const auto &e : fs::directory_iterator(tpl))
        fs::copy_file(e.path(), e.path().filename(), fs::copy_options::overwrite_existing);
}

void save_tree(const std::string &tpl) {
    namespace fs = std::filesystem;
    fs::create_directory(tpl);
    for (const auto &e : fs::directory_iterator("."))
        if (e.path().filename() != tpl && e.path().filename() != "ZVSTATUS.QVS")
            fs::copy(e.path(), fs::path(tpl) / e.path().filename(),
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

void restore_tree(const std::string &tpl) {
    namespace fs = std::filesystem;
    for (const auto &e : fs::directory_iterator(tpl)) {
        fs::remove_all(e.path().filename());
        fs::copy(e.path(), e.path().filename(), fs::copy_options::recursive);
    }
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

void ZvTest::SetUp() {
    clear_instance_ring();
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) olddir_ = cwd;
    std::string base = std::filesystem::temp_directory_path().string() + "/zvtest.XXXXXX";
    std::vector<char> tmpl(base.begin(), base.end());
    tmpl.push_back('\0');
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl.data();
    ASSERT_EQ(chdir(dir_.c_str()), 0);
}

void ZvTest::TearDown() {
    clear_instance_ring();
    if (!olddir_.empty() && chdir(olddir_.c_str()) != 0) {
        ADD_FAILURE() << "cannot return to " << olddir_;
    }
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
}

}  // namespace zvtest
