// Shared set-up of the platform file layer tests: a registered instance with
// the start values the platform layer reads, FCBs made by hand, and a
// file-number table built the way start-up builds it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "tests/support/fixture.h"

namespace zvtest {

class PlatTest : public ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        zv::fault_reset();
        ASSERT_EQ(REGZARVO("plat"), 0);
        g = zvWNGV;
        g->filepermmode = 0660;
        g->openvlimit = 32767;
    }
    void TearDown() override {
        zv::fault_reset();
        zv::fail_alloc_at(0);
        if (zvWNGV && zvWNGV->fcbtab) {
            mbfree(zvWNGV->fcbtab);
            zvWNGV->fcbtab = nullptr;
        }
        ZvTest::TearDown();
    }

    // A zeroed FCB with no descriptor and the given name.
    std::unique_ptr<FCB> make_fcb(const std::string &name = "f.dat") {
        auto f = std::make_unique<FCB>();
        f->fd = -1;
        f->state = 'y';
        snprintf(f->name, sizeof f->name, "%s", name.c_str());
        return f;
    }

    // Builds a file-number table of fils + 1 slots, slot 0 holding the
    // instance's own block in state 'n' (the engine then counts as started).
    void make_table(int fils) {
        g->fcbtab = static_cast<FCB **>(mballc(size_t(fils) + 1, sizeof(FCB *)));
        ASSERT_NE(g->fcbtab, nullptr);
        g->filecount = fils;
        g->fcbtab[0] = new_slot_fcb();
        g->fcbtab[0]->state = 'n';
    }
    // Marks file numbers as in use (blocks in state 'y', no descriptor).
    void take(std::initializer_list<int> numbers) {
        for (int n : numbers) {
            if (!g->fcbtab[n]) g->fcbtab[n] = new_slot_fcb();
            g->fcbtab[n]->state = 'y';
            g->fcbtab[n]->fd = -1;
        }
    }
    FCB *new_slot_fcb() { return static_cast<FCB *>(zvgetlst(zv::kListFcb)); }

    std::vector<std::string> log_lines() { return lines_of(read_file("ZVSTATUS.QVS")); }
    // The user lines of the status log (every second line), without their
    // " - User# 00001<TAB>" prefix.
    std::vector<std::string> log_messages() {
        std::vector<std::string> out;
        auto lines = log_lines();
        for (size_t i = 1; i < lines.size(); i += 2) {
            auto tab = lines[i].find('\t');
            out.push_back(tab == std::string::npos ? lines[i] : lines[i].substr(tab + 1));
        }
        return out;
    }

    INSTGV *g = nullptr;
};

}  // namespace zvtest
