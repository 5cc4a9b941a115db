// Replication work lists: files, transactions and the commit queue.
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/engine/core/platfix.h"
#include "zarvo/zarvo.h"

namespace {

class ReplTest : public zvtest::PlatTest {
protected:
    void SetUp() override {
        PlatTest::SetUp();
        ctx.filetabsize = 7;
        ctx.optabsize = 5;
        ctx.cmttabsize = 3;
        ASSERT_EQ(zvReplFileListCreate(&ctx), 0);
        ASSERT_EQ(zvReplOpListInit(&ctx), 0);
        ASSERT_EQ(zvReplTranCmtListCreate(&ctx), 0);
    }
    void TearDown() override {
        EXPECT_EQ(zvReplTranCmtListDestroy(&ctx), 0);
        EXPECT_EQ(zvReplOpListDestroy(&ctx), 0);
        EXPECT_EQ(zvReplFileListDestroy(&ctx), 0);
        PlatTest::TearDown();
    }
    ZVREPLFILE *file(uint32_t id) {
        auto *e = static_cast<ZVREPLFILE *>(zvReplAllocMem(sizeof(ZVREPLFILE)));
        ids[n] = id;
        e->data = &ids[n++];
        return e;
    }
    static ZVREPLREC rec(uint8_t kind, uint64_t key, uint64_t id = 0) {
        ZVREPLREC r{};
        r.kind = kind;
        r.key = key;
        r.id = id;
        return r;
    }
    ZVREPLCTX ctx{};
    uint32_t ids[32] = {};
    int n = 0;
};

TEST_F(ReplTest, NullContext) {
    EXPECT_EQ(zvReplFileListCreate(nullptr), 540);
    EXPECT_EQ(zvReplOpListInit(nullptr), 540);
    EXPECT_EQ(zvReplTranCmtListCreate(nullptr), 540);
    ZVREPLREC r = rec(7, 0, 1);
    EXPECT_EQ(zvReplTranCmtListAdd(nullptr, &r), 540);
    EXPECT_EQ(zvReplTranCmtGetOldestAck(nullptr, &r), 540);
    EXPECT_EQ(zvReplOpListDestroy(nullptr), 540);
    zvReplFreeMem(nullptr);
}

TEST_F(ReplTest, FileEntries) {
    // Ids 1 and 8 share a chain of the 7-slot table.
    for (uint32_t id : {1u, 8u, 15u, 3u}) ASSERT_EQ(zvReplFileListAdd(&ctx, file(id)), 0);
    void *data = nullptr;
    ASSERT_EQ(zvReplFileListGet(&ctx, 8, &data), 0);
    EXPECT_EQ(*static_cast<uint32_t *>(data), 8u);
    EXPECT_EQ(zvReplFileListDelete(&ctx, 8), 0);
    EXPECT_EQ(zvReplFileListGet(&ctx, 8, &data), 101);
    EXPECT_EQ(zvReplFileListDelete(&ctx, 8), 101);
    ASSERT_EQ(zvReplFileListGet(&ctx, 15, &data), 0);
    EXPECT_EQ(*static_cast<uint32_t *>(data), 15u);
}

TEST_F(ReplTest, TransactionsAndTheirOperations) {
    ZVREPLREC begin = rec(ZV_REPL_BEGIN, 42);
    ZVREPLREC wrong = rec(3, 42);
    EXPECT_EQ(zvReplOpListCreate(&ctx, &wrong), 446);
    ASSERT_EQ(zvReplOpListCreate(&ctx, &begin), 0);
    ZVREPLREC op = rec(3, 42);
    ZVREPLREC other = rec(3, 43);
    EXPECT_EQ(zvReplOpListAdd(&ctx, &op), 0);
    EXPECT_EQ(zvReplOpListAdd(&ctx, &op), 0);
    EXPECT_EQ(zvReplOpListAdd(&ctx, &other), 101);
    ZVREPLREC out{};
    ASSERT_EQ(zvReplOpListGet(&ctx, &op, &out), 0);
    EXPECT_EQ(out.key, 42u);
    EXPECT_EQ(out.count, 2);
    EXPECT_EQ(out.flags, 0);
    EXPECT_EQ(zvReplOpListSetCmtAck(&ctx, &op), 0);
    ASSERT_EQ(zvReplOpListGet(&ctx, &op, &out), 0);
    EXPECT_EQ(out.flags, ZV_REPL_ACKPOS);
    EXPECT_EQ(zvReplOpListGet(&ctx, &other, &out), 101);
    EXPECT_EQ(ctx.opcount, 2);
}

TEST_F(ReplTest, TheCommitQueue) {
    ZVREPLREC out{};
    EXPECT_EQ(zvReplTranCmtGetOldestAck(&ctx, &out), 0);
    EXPECT_EQ(out.kind, 0);
    ZVREPLREC commit = rec(ZV_REPL_COMMIT, 0, 77);
    ASSERT_EQ(zvReplTranCmtListAdd(&ctx, &commit), 0);
    ZVREPLREC begin = rec(ZV_REPL_BEGIN, 9);
    ASSERT_EQ(zvReplOpListCreate(&ctx, &begin), 0);
    ZVREPLREC ack = rec(ZV_REPL_ACK, 9);
    ack.pos = 500;
    ack.flags = ZV_REPL_ACKPOS;
    ack.ackpos = 480;
    ASSERT_EQ(zvReplTranCmtListAdd(&ctx, &ack), 0);
    ZVREPLREC lost = rec(ZV_REPL_ACK, 10);
    EXPECT_EQ(zvReplTranCmtListAdd(&ctx, &lost), 101);
    ZVREPLREC bad = rec(3, 9);
    EXPECT_EQ(zvReplTranCmtListAdd(&ctx, &bad), 446);

    ASSERT_EQ(zvReplTranCmtGetOldestAck(&ctx, &out), 0);
    EXPECT_EQ(out.kind, 7);
    EXPECT_EQ(out.id, 77u);
    EXPECT_EQ(zvReplTranCmtListRemove(&ctx, &commit), 0);
    ASSERT_EQ(zvReplTranCmtGetOldestAck(&ctx, &out), 0);
    EXPECT_EQ(out.kind, ZV_REPL_ACK);
    EXPECT_EQ(out.id, 9u);
    EXPECT_EQ(out.pos, 500u);
    EXPECT_EQ(out.flags, ZV_REPL_ACKPOS);
    EXPECT_EQ(out.ackpos, 480u);

    FILE *sink = tmpfile();
    setZarvoSTDOUT(sink);
    EXPECT_EQ(zvReplTranCmtListRemove(&ctx, &commit), 101);
    setZarvoSTDOUT(nullptr);
    rewind(sink);
    char buf[200] = {};
    size_t got = fread(buf, 1, sizeof buf - 1, sink);
    fclose(sink);
    EXPECT_EQ(std::string(buf, got), "Error: Could not find the specified transaction in the transaction commit list\n");
    // The transaction entry stays with its operations after leaving the queue.
    EXPECT_EQ(zvReplTranCmtListRemove(&ctx, &ack), 0);
    ASSERT_EQ(zvReplTranCmtGetOldestAck(&ctx, &out), 0);
    EXPECT_EQ(out.kind, 0);
    EXPECT_EQ(zvReplOpListGet(&ctx, &ack, &out), 0);
    // Queued again, it is freed with the operation list.
    ASSERT_EQ(zvReplTranCmtListAdd(&ctx, &ack), 0);
}

}  // namespace
