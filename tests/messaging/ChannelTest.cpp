#include <zolib/messaging/Channel.h>
#include <zolib/messaging/Pipe.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "messaging/LooperHelpers.h"
#include "messaging/PipeSeam.h"

namespace {

using zotest::FlatBytes;
using zotest::Unread;

bool WriteAll(ZoChannel& channel, const std::string& bytes) {
    return channel.Write(bytes.data(), static_cast<unsigned int>(bytes.size()), nullptr);
}

TEST(ChannelBuffer, OwnedBuffersAreFreedExternalOnesNever) {
    // LeakSanitizer and AddressSanitizer judge this test: a leaked owned
    // buffer or a freed stack buffer fails it.
    char mine[256];
    {
        ZoPipe pipe(0);
        pipe.SetBuffer(64);
        pipe.SetBuffer(64);
        pipe.SetBuffer(sizeof(mine), mine);
        ZoBag bag(1, 0);
        ASSERT_TRUE(pipe.Send(&bag, nullptr));  // goes through `mine`
        ZoBag* got = nullptr;
        ASSERT_TRUE(pipe.Receive(&got));
        delete got;
        pipe.SetBuffer(16);
    }
    ZoPipe pipe(0);
    pipe.SetBuffer(sizeof(mine), mine);
}

TEST(ChannelBuffer, NullExternalBufferHasNoSize) {
    ZoPipe pipe(0);
    pipe.SetBuffer(4096, nullptr);
    ZoBag bag(1, 0);
    EXPECT_FALSE(pipe.Send(&bag, nullptr));
    EXPECT_EQ(Unread(pipe.Device(WAY_READ)), 0);
}

TEST(ChannelBuffer, WithoutBufferNothingTravelsAndNothingBlocks) {
    ZoPipe pipe(0);
    ZoBag bag(1, 0);
    EXPECT_FALSE(pipe.Send(&bag, nullptr));
    ASSERT_TRUE(WriteAll(pipe, "abc"));
    ZoBag* got = nullptr;
    char* data = nullptr;
    unsigned int length = 0;
    EXPECT_FALSE(pipe.Receive(&got));  // reads 0 bytes, does not wait
    EXPECT_FALSE(pipe.Receive(&got, &data, &length));
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(Unread(pipe.Device(WAY_READ)), 3);
}

TEST(PipeBytes, WriteThenReadCountsBothWays) {
    ZoPipe pipe(0);
    ASSERT_TRUE(pipe.InitCheck());
    EXPECT_NE(pipe.Device(WAY_READ), pipe.Device(WAY_WRITE));
    ASSERT_TRUE(WriteAll(pipe, "0123456789"));
    char data[100];
    unsigned int length = sizeof(data);
    ASSERT_TRUE(pipe.Read(data, &length));
    EXPECT_EQ(std::string(data, length), "0123456789");
    unsigned int received = 0, sent = 0;
    pipe.Traffic(&received, &sent);
    EXPECT_EQ(received, 10u);
    EXPECT_EQ(sent, 10u);
}

TEST(PipeBytes, ReadAtEndOfFileFailsAndCountsNothing) {
    zotest::ClosablePipe pipe;
    ASSERT_TRUE(WriteAll(pipe, "xy"));
    pipe.CloseWriteEnd();
    char data[8];
    unsigned int length = sizeof(data);
    ASSERT_TRUE(pipe.Read(data, &length));  // drains
    length = sizeof(data);
    EXPECT_FALSE(pipe.Read(data, &length));
    unsigned int received = 0;
    pipe.Traffic(&received, nullptr);
    EXPECT_EQ(received, 2u);
}

TEST(PipeBytes, RawReceiveNeverReadsPastTheBuffer) {
    ZoPipe pipe(0);
    pipe.SetBuffer(4);
    ASSERT_TRUE(WriteAll(pipe, "0123456789"));
    char* data = nullptr;
    unsigned int length = 100;
    ASSERT_TRUE(pipe.Receive(&data, &length));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(std::string(data, length), "0123");
}

TEST(PipeBytes, PipeThatCouldNotBeMadeRefusesEverything) {
    std::unique_ptr<ZoPipe> pipe;
    {
        seam::NoPipes failing;
        pipe.reset(new ZoPipe(0));
    }
    EXPECT_FALSE(pipe->InitCheck());
    EXPECT_EQ(pipe->Device(WAY_READ), -1);
    EXPECT_FALSE(pipe->Write("x", 1, nullptr));
    char byte;
    unsigned int length = 1;
    EXPECT_FALSE(pipe->Read(&byte, &length));
}

class PipeBags : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pipe.InitCheck());
        pipe.SetBuffer(4096);
        bag.who = 2;
        bag.Setstring("text", "hello", 0);
        bag.Setint32("n", 7, 0);
    }
    // After every receive below, the message must have left the pipe.
    void TearDown() override { EXPECT_EQ(Unread(pipe.Device(WAY_READ)), 0); }

    ZoPipe pipe{0};
    ZoBag bag{0x1234, 0};
    ZoBag sentinel{0, 0};
};

TEST_F(PipeBags, SentBagArrivesWithDataNull) {
    ASSERT_TRUE(pipe.Send(&bag, nullptr));
    ZoBag* got = &sentinel;
    char* data = reinterpret_cast<char*>(&bag);
    unsigned int length = 0;
    ASSERT_TRUE(pipe.Receive(&got, &data, &length));
    ASSERT_NE(got, &sentinel);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(got->what, 0x1234u);
    EXPECT_EQ(got->who, 2u);
    EXPECT_EQ(zotest::NumberOf(got), 7);
    delete got;
}

TEST_F(PipeBags, RawBytesArriveAsDataAndLeaveTheBagAlone) {
    ASSERT_TRUE(WriteAll(pipe, "hello"));
    ZoBag* got = &sentinel;
    char* data = nullptr;
    unsigned int length = 0;
    ASSERT_TRUE(pipe.Receive(&got, &data, &length));
    EXPECT_EQ(got, &sentinel);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(std::string(data, length), "hello");
}

TEST_F(PipeBags, BagOnlyReceiveDropsRawBytes) {
    ASSERT_TRUE(WriteAll(pipe, "hello"));
    ZoBag* got = &sentinel;
    EXPECT_FALSE(pipe.Receive(&got));
    EXPECT_EQ(got, &sentinel);
}

TEST_F(PipeBags, SendRefusesBagLargerThanTheBuffer) {
    unsigned long bound = bag.FlatSize(true);
    pipe.SetBuffer(static_cast<unsigned int>(bound - 1));
    EXPECT_FALSE(pipe.Send(&bag, nullptr));
    EXPECT_EQ(Unread(pipe.Device(WAY_READ)), 0);
    pipe.SetBuffer(static_cast<unsigned int>(bound));
    ASSERT_TRUE(pipe.Send(&bag, nullptr));
    ZoBag* got = nullptr;
    ASSERT_TRUE(pipe.Receive(&got));
    delete got;
}

// Damaged flat bags: each must fail with a null bag and be consumed whole.
TEST_F(PipeBags, DamagedFlatBagsFailAndAreConsumed) {
    std::string zipped = FlatBytes(&bag, true);
    std::string plain = FlatBytes(&bag, false);
    std::string biggerSize = plain;
    biggerSize[16] = static_cast<char>(biggerSize[16] + 1);  // size field says one more byte
    std::string manyItems = plain;
    memset(&manyItems[20], 0x7f, 4);  // item count far beyond the bytes
    std::string shortZip = zipped;
    memcpy(&shortZip[4], "\1\0\0\0", 4);  // the zip block claims 1 byte
    const std::string damaged[] = {zipped.substr(0, zipped.size() / 2),
                                   plain.substr(0, plain.size() - 1),
                                   biggerSize,
                                   manyItems,
                                   shortZip,
                                   std::string("BaG\0", 4),
                                   std::string("BaG\1\xff\xff\xff\xff", 8)};
    for (const std::string& bytes : damaged) {
        for (int form = 0; form < 2; form++) {
            ASSERT_TRUE(WriteAll(pipe, bytes));
            ZoBag* got = &sentinel;
            char* data = nullptr;
            unsigned int length = 0;
            bool ok = form == 0 ? pipe.Receive(&got) : pipe.Receive(&got, &data, &length);
            EXPECT_FALSE(ok) << "form " << form << ", " << bytes.size() << " bytes";
            EXPECT_EQ(got, nullptr);
            EXPECT_EQ(Unread(pipe.Device(WAY_READ)), 0);
        }
    }
}

TEST_F(PipeBags, TwoBagsReadTogetherDeliverOnlyTheFirst) {
    ZoBag second(0x5678, 0);
    ASSERT_TRUE(pipe.Send(&bag, nullptr));
    ASSERT_TRUE(pipe.Send(&second, nullptr));
    ZoBag* got = nullptr;
    ASSERT_TRUE(pipe.Receive(&got));
    EXPECT_EQ(got->what, 0x1234u);
    delete got;
}

}  // namespace
