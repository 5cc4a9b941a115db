// Full-text dictionary objects: each owns a dictionary handle made on the
// handle of a session, database or table object and freed with it
// (AddressSanitizer checks the release); this library refuses its options.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "tests/objapi/objtest.h"
#include "tests/support/fixture.h"

namespace {

using objtest::expect_thrown;
using objtest::ThrowCase;
using objtest::thrown_by;

// A session object that offers no handle to the objects built on it.
class Handleless : public ZVSession {
public:
    Handleless() : ZVSession(0) {}
    ZVHANDLE GetHandle() const override { return nullptr; }
};

class FullTextDictionary : public zvtest::ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        session_ = std::make_unique<ZVSession>(1);
        session_->Logon("", "", "");
        database_ = std::make_unique<ZVDatabase>(*session_);
        table_ = std::make_unique<ZVTable>(*database_);
    }
    void TearDown() override {
        table_.reset();
        database_.reset();
        session_.reset();
        ZvTest::TearDown();
    }

    std::unique_ptr<ZVSession> session_;
    std::unique_ptr<ZVDatabase> database_;
    std::unique_ptr<ZVTable> table_;
};

TEST_F(FullTextDictionary, MadeOnEachOwnerAndOptionsRefused) {
    const std::function<ZVFullTextIndexDictionary *()> makers[] = {
        [&] { return new ZVFullTextIndexDictionary(*session_); },
        [&] { return new ZVFullTextIndexDictionary(*database_); },
        [&] { return new ZVFullTextIndexDictionary(*table_); },
    };
    for (const auto &make : makers) {
        std::unique_ptr<ZVFullTextIndexDictionary> dict(make());
        ASSERT_NE(dict->GetHandle(), nullptr);
        EXPECT_EQ(zvdbGetFTIDictHandle(dict->GetHandle()), dict->GetHandle());
        EXPECT_EQ(zvdbGetSessionHandle(dict->GetHandle()), session_->GetHandle());
        ZVString text("words");
        const ThrowCase refused = {"option", [&] { dict->SetOption(1, text, 2); }, ZVDB_NOT_SUPPORTED,
                                   "Can't set the Full Text index Dictionary option", "zvppindx", -1};
        expect_thrown(thrown_by(refused.call), refused);
    }
}

// A resource object that shows its handle.
class VisibleResource : public ZVResource {
public:
    using ZVResource::ZVResource;
    ZVHANDLE handle_of() const { return handle; }
};

// Full-text dictionary and resource handles are of no kind the base class
// names: asking for the kind throws, as for no handle at all.
TEST_F(FullTextDictionary, HandlesOfFullTextAndResourcesHaveNoKind) {
    ZVFullTextIndexDictionary dict(*table_);
    VisibleResource resource(*table_);
    ASSERT_NE(resource.handle_of(), nullptr);
    ZVBase holder;
    holder.SetHandle(resource.handle_of());
    ZVFullTextIndex index;
    const ThrowCase cases[] = {
        {"dictionary", [&] { dict.GetHandleType(); }, ZVDB_NULL_HANDLE, "Invalid handle type", "zvppbase", -1},
        {"resource", [&] { holder.GetHandleType(); }, ZVDB_NULL_HANDLE, "Invalid handle type", "zvppbase", -1},
        {"full-text index", [&] { index.GetHandleType(); }, ZVDB_NULL_HANDLE, "Invalid handle type", "zvppbase",
         -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
    holder.SetHandle(nullptr);
}

TEST_F(FullTextDictionary, AnOwnerWithoutHandleGivesNone) {
    Handleless owner;
    const ThrowCase c = {"no handle", [&] { ZVFullTextIndexDictionary dict(owner); }, ZVDB_NO_MEMORY,
                         "Can't allocate Full Text Index Dictionary handle", "zvppindx", -1};
    expect_thrown(thrown_by(c.call), c);
}

}  // namespace
