#include <zolib/bag/Attributes.h>

#include <gtest/gtest.h>

namespace {

TEST(Attributes, NothingBeforeTheFirstSetter) {
    ZoAttributes attrs;
    int i = 3;
    char* s = nullptr;
    ZoBag* bag = nullptr;
    T_Data type = T_BAG;
    EXPECT_FALSE(attrs.Getint32Attr("n", &i, 1));
    EXPECT_FALSE(attrs.GetstringAttr("s", &s, 1));
    EXPECT_FALSE(attrs.GetbagAttr("b", &bag, 1));
    EXPECT_FALSE(attrs.HasAttr("n", &type));
    EXPECT_FALSE(attrs.HasAttr("n", T_INT32));
    EXPECT_FALSE(attrs.RemoveAttr("n", 0));
    EXPECT_EQ(i, 3);
    EXPECT_EQ(type, T_BAG);
}

TEST(Attributes, BehaveAsBagItems) {
    ZoAttributes attrs;
    ASSERT_TRUE(attrs.Setint32Attr("n", 5, 0));
    ASSERT_TRUE(attrs.Setint32Attr("n", 6, 0));
    int v = 0;
    EXPECT_TRUE(attrs.Getint32Attr("n", &v, 1) && v == 5);
    short wrong = 77;
    EXPECT_FALSE(attrs.Getint16Attr("n", &wrong, 1));  // type mismatch
    EXPECT_EQ(wrong, 77);
    EXPECT_FALSE(attrs.SetstringAttr("n", "x", 0));
    EXPECT_TRUE(attrs.HasAttr("n", T_INT32));
    EXPECT_TRUE(attrs.RemoveAttr("n", 1));
    EXPECT_TRUE(attrs.Getint32Attr("n", &v, 1) && v == 6);

    double d = 0;
    ASSERT_TRUE(attrs.SetdoubleAttr("d", 0.25, 0));
    EXPECT_TRUE(attrs.GetdoubleAttr("d", &d, 1) && d == 0.25);
    int target = 0;
    void* p = nullptr;
    ASSERT_TRUE(attrs.SetpointerAttr("p", &target, 0));
    EXPECT_TRUE(attrs.GetpointerAttr("p", &p, 1) && p == &target);

    ZoBag inner(0x31, 0);
    ASSERT_TRUE(attrs.SetbagAttr("bag", &inner, 0));
    ZoBag* bag = nullptr;
    ASSERT_TRUE(attrs.GetbagAttr("bag", &bag, 1));
    EXPECT_EQ(bag->what, 0x31u);
    EXPECT_NE(bag, &inner);
    delete bag;
}

TEST(Attributes, StringIsTheStoredCopy) {
    ZoAttributes attrs;
    char text[] = "first";
    attrs.SetstringAttr("s", text, 0);
    text[0] = 'F';
    char* s = nullptr;
    ASSERT_TRUE(attrs.GetstringAttr("s", &s, 1));
    EXPECT_STREQ(s, "first");
    attrs.SetstringAttr("s", "a longer replacement", 1);
    ASSERT_TRUE(attrs.GetstringAttr("s", &s, 1));
    EXPECT_STREQ(s, "a longer replacement");
}

// Each typed pair reaches the bag's accessor of its own type: a value set
// through one is read back through it and refused through another width.
TEST(Attributes, EveryTypeRoundTrips) {
    ZoAttributes attrs;
    bool b = false;
    char i8 = 0;
    short i16 = 0;
    long long i64 = 0;
    float f = 0;
    void* data = nullptr;
    int size = 0;
    ASSERT_TRUE(attrs.SetboolAttr("b", true, 0));
    ASSERT_TRUE(attrs.Setint8Attr("i8", -8, 0));
    ASSERT_TRUE(attrs.Setint16Attr("i16", -1600, 0));
    ASSERT_TRUE(attrs.Setint64Attr("i64", -6400000000LL, 0));
    ASSERT_TRUE(attrs.SetfloatAttr("f", 1.5f, 0));
    ASSERT_TRUE(attrs.SetdataAttr("raw", T_BUFFER, "\1\2\3", 3, 0));
    EXPECT_TRUE(attrs.GetboolAttr("b", &b, 1) && b);
    EXPECT_TRUE(attrs.Getint8Attr("i8", &i8, 1) && static_cast<signed char>(i8) == -8);
    EXPECT_TRUE(attrs.Getint16Attr("i16", &i16, 1) && i16 == -1600);
    EXPECT_TRUE(attrs.Getint64Attr("i64", &i64, 1) && i64 == -6400000000LL);
    EXPECT_TRUE(attrs.GetfloatAttr("f", &f, 1) && f == 1.5f);
    ASSERT_TRUE(attrs.GetdataAttr("raw", T_BUFFER, &data, &size, 1));
    EXPECT_EQ(size, 3);
    EXPECT_EQ(static_cast<char*>(data)[2], 3);
    EXPECT_FALSE(attrs.Getint8Attr("i16", &i8, 1));
    EXPECT_FALSE(attrs.GetdataAttr("raw", T_BAG, &data, &size, 1));

    ZoAttributes empty;  // nothing stored yet: every getter refuses
    EXPECT_FALSE(empty.GetboolAttr("b", &b, 1));
    EXPECT_FALSE(empty.Getint8Attr("i8", &i8, 1));
    EXPECT_FALSE(empty.Getint16Attr("i16", &i16, 1));
    EXPECT_FALSE(empty.Getint64Attr("i64", &i64, 1));
    EXPECT_FALSE(empty.GetfloatAttr("f", &f, 1));
    EXPECT_FALSE(empty.GetdataAttr("raw", T_BUFFER, &data, &size, 1));
}

}  // namespace
