// ZoAttributes: each typed pair reaches the bag accessor of its own type (a
// value set through one reads back through it and is refused through another
// width), and nothing is there before the first setter makes the bag.
#include <zolib/bag/Attributes.h>

#include <gtest/gtest.h>

namespace {

TEST(Attributes, EveryTypeBehavesAsBagItems) {
    ZoAttributes attrs, empty;
    bool b = false;
    char i8 = 0;
    short i16 = 77;
    int i32 = 0;
    long long i64 = 0;
    float f = 0;
    double d = 0;
    void* p = nullptr;
    char* s = nullptr;
    void* data = nullptr;
    int size = 0;
    ZoBag* bag = nullptr;
    T_Data type = T_BAG;
    EXPECT_FALSE(empty.GetboolAttr("b", &b, 1) || empty.Getint8Attr("i8", &i8, 1) ||
                 empty.Getint16Attr("i16", &i16, 1) || empty.Getint32Attr("n", &i32, 1) ||
                 empty.Getint64Attr("i64", &i64, 1) || empty.GetfloatAttr("f", &f, 1) ||
                 empty.GetdoubleAttr("d", &d, 1) || empty.GetstringAttr("s", &s, 1) ||
                 empty.GetdataAttr("raw", T_BUFFER, &data, &size, 1) ||
                 empty.GetbagAttr("bag", &bag, 1) || empty.HasAttr("n", &type) ||
                 empty.HasAttr("n", T_INT32) || empty.RemoveAttr("n", 0));
    EXPECT_EQ(type, T_BAG);
    int target = 0;
    char text[] = "first";
    ZoBag inner(0x31, 0);
    ASSERT_TRUE(attrs.SetboolAttr("b", true, 0) && attrs.Setint8Attr("i8", -8, 0) &&
                attrs.Setint16Attr("i16", -1600, 0) && attrs.Setint32Attr("n", 5, 0) &&
                attrs.Setint32Attr("n", 6, 0) && attrs.Setint64Attr("i64", -6400000000LL, 0) &&
                attrs.SetfloatAttr("f", 1.5f, 0) && attrs.SetdoubleAttr("d", 0.25, 0) &&
                attrs.SetpointerAttr("p", &target, 0) && attrs.SetstringAttr("s", text, 0) &&
                attrs.SetdataAttr("raw", T_BUFFER, "\1\2\3", 3, 0) &&
                attrs.SetbagAttr("bag", &inner, 0));
    text[0] = 'F';  // the stored string is a copy
    EXPECT_TRUE(attrs.GetboolAttr("b", &b, 1) && b);
    EXPECT_TRUE(attrs.Getint8Attr("i8", &i8, 1) && static_cast<signed char>(i8) == -8);
    EXPECT_TRUE(attrs.Getint16Attr("i16", &i16, 1) && i16 == -1600);
    EXPECT_TRUE(attrs.Getint64Attr("i64", &i64, 1) && i64 == -6400000000LL);
    EXPECT_TRUE(attrs.GetfloatAttr("f", &f, 1) && f == 1.5f);
    EXPECT_TRUE(attrs.GetdoubleAttr("d", &d, 1) && d == 0.25);
    EXPECT_TRUE(attrs.GetpointerAttr("p", &p, 1) && p == &target);
    EXPECT_TRUE(attrs.GetstringAttr("s", &s, 1));
    EXPECT_STREQ(s, "first");
    EXPECT_TRUE(attrs.GetdataAttr("raw", T_BUFFER, &data, &size, 1) && size == 3);
    ASSERT_TRUE(attrs.GetbagAttr("bag", &bag, 1));
    EXPECT_EQ(bag->what, 0x31u);
    delete bag;
    // Types are the bag's: other widths and types are refused.
    EXPECT_FALSE(attrs.Getint16Attr("n", &i16, 1) || attrs.Getint8Attr("i16", &i8, 1) ||
                 attrs.GetdoubleAttr("f", &d, 1) ||
                 attrs.GetdataAttr("raw", T_BAG, &data, &size, 1));
    EXPECT_EQ(i16, -1600);
    EXPECT_FALSE(attrs.SetstringAttr("n", "x", 0));
    EXPECT_TRUE(attrs.HasAttr("n", T_INT32));
    EXPECT_TRUE(attrs.RemoveAttr("n", 1));
    EXPECT_TRUE(attrs.Getint32Attr("n", &i32, 1) && i32 == 6);
}

}  // namespace
