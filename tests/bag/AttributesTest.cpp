#include <zolib/bag/Attributes.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Attributes, NothingBeforeTheFirstSetter) {
    ZoAttributes attrs;
    int i = 3;
    char* s = nullptr;
    void* p = &i;
    ZoBag* bag = nullptr;
    void* data = nullptr;
    int size = 9;
    T_Data type = T_BAG;
    EXPECT_FALSE(attrs.Getint32Attr("n", &i, 1));
    EXPECT_FALSE(attrs.GetstringAttr("s", &s, 1));
    EXPECT_FALSE(attrs.GetpointerAttr("p", &p, 1));
    EXPECT_FALSE(attrs.GetbagAttr("b", &bag, 1));
    EXPECT_FALSE(attrs.GetdataAttr("d", T_BUFFER, &data, &size, 1));
    EXPECT_FALSE(attrs.HasAttr("n", &type));
    EXPECT_FALSE(attrs.HasAttr("n", T_INT32));
    EXPECT_FALSE(attrs.RemoveAttr("n", 0));
    EXPECT_EQ(i, 3);
    EXPECT_EQ(size, 9);
    EXPECT_EQ(type, T_BAG);
}

TEST(Attributes, EveryTypeRoundTrips) {
    ZoAttributes attrs;
    int target = 0;
    ASSERT_TRUE(attrs.SetboolAttr("b", true, 0));
    ASSERT_TRUE(attrs.Setint8Attr("i8", -8, 0));
    ASSERT_TRUE(attrs.Setint16Attr("i16", -16, 0));
    ASSERT_TRUE(attrs.Setint32Attr("n", 5, 0));
    ASSERT_TRUE(attrs.Setint64Attr("i64", 1LL << 40, 0));
    ASSERT_TRUE(attrs.SetfloatAttr("f", 0.5f, 0));
    ASSERT_TRUE(attrs.SetdoubleAttr("d", 0.25, 0));
    ASSERT_TRUE(attrs.SetstringAttr("s", "text", 0));
    ASSERT_TRUE(attrs.SetpointerAttr("p", &target, 0));
    ASSERT_TRUE(attrs.SetdataAttr("raw", T_BUFFER, "xyz", 3, 0));
    ZoBag inner(0x31, 0);
    inner.Setint32("deep", 1, 0);
    ASSERT_TRUE(attrs.SetbagAttr("bag", &inner, 0));

    bool b = false;
    char i8 = 0;
    short i16 = 0;
    int n = 0;
    long long i64 = 0;
    float f = 0;
    double d = 0;
    char* s = nullptr;
    void* p = nullptr;
    void* data = nullptr;
    int size = 0;
    ZoBag* bag = nullptr;
    EXPECT_TRUE(attrs.GetboolAttr("b", &b, 1) && b);
    EXPECT_TRUE(attrs.Getint8Attr("i8", &i8, 1) && i8 == -8);
    EXPECT_TRUE(attrs.Getint16Attr("i16", &i16, 1) && i16 == -16);
    EXPECT_TRUE(attrs.Getint32Attr("n", &n, 1) && n == 5);
    EXPECT_TRUE(attrs.Getint64Attr("i64", &i64, 1) && i64 == 1LL << 40);
    EXPECT_TRUE(attrs.GetfloatAttr("f", &f, 1) && f == 0.5f);
    EXPECT_TRUE(attrs.GetdoubleAttr("d", &d, 1) && d == 0.25);
    EXPECT_TRUE(attrs.GetstringAttr("s", &s, 1));
    EXPECT_STREQ(s, "text");
    EXPECT_TRUE(attrs.GetpointerAttr("p", &p, 1) && p == &target);
    EXPECT_TRUE(attrs.GetdataAttr("raw", T_BUFFER, &data, &size, 1));
    EXPECT_EQ(std::string(static_cast<char*>(data), size), "xyz");
    ASSERT_TRUE(attrs.GetbagAttr("bag", &bag, 1));
    EXPECT_EQ(bag->what, 0x31u);
    EXPECT_NE(bag, &inner);
    delete bag;

    T_Data type = T_BAG;
    EXPECT_TRUE(attrs.HasAttr("n", &type));
    EXPECT_EQ(type, T_INT32);
    EXPECT_TRUE(attrs.HasAttr("n", T_INT32));
    EXPECT_FALSE(attrs.HasAttr("n", T_INT16));
}

TEST(Attributes, BagRulesApply) {
    ZoAttributes attrs;
    attrs.Setint32Attr("n", 5, 0);
    attrs.Setint32Attr("n", 6, 0);
    short wrong = 77;
    EXPECT_FALSE(attrs.Getint16Attr("n", &wrong, 1));  // type mismatch
    EXPECT_EQ(wrong, 77);
    EXPECT_FALSE(attrs.SetstringAttr("n", "x", 0));
    int v = 0;
    EXPECT_TRUE(attrs.Getint32Attr("n", &v, 2));
    EXPECT_EQ(v, 6);
    EXPECT_TRUE(attrs.RemoveAttr("n", 1));
    EXPECT_TRUE(attrs.Getint32Attr("n", &v, 1));
    EXPECT_EQ(v, 6);
    EXPECT_TRUE(attrs.RemoveAttr("n", 0));
    EXPECT_FALSE(attrs.HasAttr("n", nullptr));
    EXPECT_FALSE(attrs.RemoveAttr("n", 0));
}

TEST(Attributes, StringIsTheStoredCopy) {
    ZoAttributes attrs;
    char text[] = "first";
    attrs.SetstringAttr("s", text, 0);
    text[0] = 'F';  // the attribute holds its own copy
    char* s = nullptr;
    ASSERT_TRUE(attrs.GetstringAttr("s", &s, 1));
    EXPECT_STREQ(s, "first");
    attrs.SetstringAttr("s", "a longer replacement", 1);
    ASSERT_TRUE(attrs.GetstringAttr("s", &s, 1));
    EXPECT_STREQ(s, "a longer replacement");
}

}  // namespace
