#include <zolib/messaging/MsgBox.h>

#include <gtest/gtest.h>

#include "messaging/LooperHelpers.h"

namespace {

TEST(MsgBox, PointersArriveUnchangedInOrder) {
    ZoMsgBox box(0);
    ASSERT_TRUE(box.InitCheck());
    ZoBag a(1, 0), b(2, 0), c(3, 0);
    for (ZoBag* bag : {&a, &b, &c})
        ASSERT_TRUE(box.Send(bag, nullptr));
    for (ZoBag* bag : {&a, &b, &c}) {
        ZoBag* got = nullptr;
        ASSERT_TRUE(box.Receive(&got));
        EXPECT_EQ(got, bag);
    }
    unsigned int received = 0, sent = 0;
    box.Traffic(&received, &sent);
    EXPECT_EQ(received, 3 * sizeof(void*));
    EXPECT_EQ(sent, 3 * sizeof(void*));
}

TEST(MsgBox, BagOrRawFormAlwaysGivesABag) {
    ZoMsgBox box(0);
    ZoBag bag(1, 0);
    ASSERT_TRUE(box.Send(&bag, nullptr));
    ZoBag* got = nullptr;
    char marker = 0;
    char* data = &marker;
    unsigned int length = 0;
    ASSERT_TRUE(box.Receive(&got, &data, &length));
    EXPECT_EQ(got, &bag);
    EXPECT_EQ(data, &marker);
    EXPECT_EQ(length, sizeof(void*));
}

TEST(MsgBox, NeedsNoBufferAndRefusesNull) {
    ZoMsgBox box(0);  // no buffer: pointers do not go through it
    EXPECT_FALSE(box.Send(nullptr, nullptr));
    EXPECT_EQ(zotest::Unread(box.Device(WAY_READ)), 0);
}

TEST(MsgBox, LessThanAPointerGivesNoBag) {
    ZoMsgBox box(0);
    ASSERT_TRUE(box.Write("abc", 3, nullptr));  // not something Send writes
    ZoBag sentinel(0, 0);
    ZoBag* got = &sentinel;
    EXPECT_FALSE(box.Receive(&got));
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(zotest::Unread(box.Device(WAY_READ)), 0);
}

}  // namespace
