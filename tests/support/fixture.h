// Test fixture shared by every engine test: each test runs in a fresh
// temporary directory as its current directory, with an empty instance ring,
// and leaves no instance, file or directory behind.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zvtest {

// Stops and removes every registered instance.
void clear_instance_ring();

// Reads a whole file; empty when it does not exist.
std::string read_file(const std::string &path);
// Writes a whole file.
void write_file(const std::string &path, const std::string &bytes);
// Copies every file of the current directory (but the status log) into
// the directory `tpl`; restore_template copies them back, so that a fault
// sweep starts each run from the same files.
void save_template(const std::string &tpl = "tpl");
void restore_template(const std::string &tpl = "tpl");
// The same with the directories below the current one (a database's
// directory, say): each is saved whole, and put back whole in place of
// what it holds then.
void save_tree(const std::string &tpl = "tpl");
void restore_tree(const std::string &tpl = "tpl");
// Splits text into lines (without their newlines).
std::vector<std::string> lines_of(const std::string &text);

class ZvTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The test's temporary directory (also the current directory).
    const std::string &dir() const { return dir_; }

private:
    std::string dir_;
    std::string olddir_;
};

}  // namespace zvtest
