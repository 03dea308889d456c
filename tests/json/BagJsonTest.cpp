#include <zolib/bag/Bag.h>
#include <zolib/json/BagJson.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bag/FlatBytes.h"

namespace {

using nlohmann::json;
using std::string;
using namespace std::string_literals;

string ToJson(ZoBag& bag, int indent = -1) {
    string text, error;
    EXPECT_TRUE(ZoBagToJson(&bag, indent, &text, &error)) << error;
    return text;
}

std::unique_ptr<ZoBag> FromJson(const string& text) {
    string error;
    std::unique_ptr<ZoBag> bag(ZoBagFromJson(text.data(), text.size(), &error));
    EXPECT_NE(bag, nullptr) << error << "\n" << text;
    return bag;
}

// Bag -> JSON -> bag must give the same plain flat form, byte for byte.
void ExpectRoundTrip(ZoBag& bag) {
    for (int indent : {-1, 2}) {
        std::unique_ptr<ZoBag> back = FromJson(ToJson(bag, indent));
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(PlainOf(*back), PlainOf(bag));
    }
}

string RefusalOf(const string& text) {
    string error;
    std::unique_ptr<ZoBag> bag(ZoBagFromJson(text.data(), text.size(), &error));
    EXPECT_EQ(bag, nullptr) << text;
    return error;
}

TEST(JsonForm, EveryTypeHasItsNaturalForm) {
    ZoBag bag(0x1234, 0);
    bag.who = 2;
    bag.when = 0xFFFFFFFF;
    bag.Setstring("s", "hi", 0);
    bag.Setbool("b", false, 0);
    bag.Setint8("c", -1, 0);
    bag.Setint16("h", -300, 0);
    bag.Setint32("n", 7, 0);
    bag.Setint32("n", -8, 0);
    bag.Setint64("l", -5, 0);
    bag.Setfloat32("f", 1.5f, 0);
    bag.Setfloat64("d", 0.25, 0);
    bag.Setdata("buf", T_BUFFER, "\1\2\3", 3, 0);
    ZoBag inner(9, 0);
    inner.Setint32("x", 1, 0);
    bag.Setbag("bag", &inner, 0);

    EXPECT_EQ(ToJson(bag),
              R"({"zobag":1,"what":4660,"who":2,"when":4294967295,"items":[)"
              R"({"name":"s","type":"string","values":["hi"]},)"
              R"({"name":"b","type":"bool","values":[false]},)"
              R"({"name":"c","type":"int8","values":[-1]},)"
              R"({"name":"h","type":"int16","values":[-300]},)"
              R"({"name":"n","type":"int32","values":[7,-8]},)"
              R"({"name":"l","type":"int64","values":[-5]},)"
              R"({"name":"f","type":"float32","values":[1.5]},)"
              R"({"name":"d","type":"float64","values":[0.25]},)"
              R"({"name":"buf","type":"buffer","values":["AQID"]},)"
              R"({"name":"bag","type":"bag","values":[{"what":9,"who":0,"when":0,"items":[)"
              R"({"name":"x","type":"int32","values":[1]}]}]}]})");
    EXPECT_NE(ToJson(bag, 2).find("\n  \"items\": ["), string::npos);
    ExpectRoundTrip(bag);
}

TEST(JsonForm, EmptyBagAndDefaults) {
    ZoBag empty(0, 0);
    EXPECT_EQ(ToJson(empty), R"({"zobag":1,"what":0,"who":0,"when":0,"items":[]})");
    std::unique_ptr<ZoBag> bag = FromJson("{}");
    ASSERT_NE(bag, nullptr);
    EXPECT_EQ(PlainOf(*bag), PlainOf(empty));
    // A header word may be written signed: -1 is 0xFFFFFFFF.
    bag = FromJson(R"({"what": -1, "who": 4294967295, "when": -2147483648})");
    ASSERT_NE(bag, nullptr);
    EXPECT_EQ(bag->what, 0xFFFFFFFFu);
    EXPECT_EQ(bag->who, 0xFFFFFFFFu);
    EXPECT_EQ(bag->when, 0x80000000u);
}

// Elements the natural form cannot hold exactly keep their bytes.
TEST(JsonRoundTrip, ElementsOfAnySizeKeepTheirBytes) {
    ZoBag bag(0, 0);
    bag.Setdata("short", T_INT32, "\1\2", 2, 0);            // shorter than its type
    bag.Setdata("short", T_INT32, "\1\2\3\4\5", 5, 0);      // longer
    bag.Setdata("empty", T_INT64, "", 0, 0);                // no bytes at all
    bag.Setdata("bool", T_BOOL, "\2", 1, 0);                // neither false nor true
    bag.Setdata("text", T_STRING, "no nul", 6, 0);          // no terminating NUL
    bag.Setdata("text", T_STRING, "a\0b\0", 4, 0);          // an embedded NUL reads as text
    bag.Setdata("text", T_STRING, "\xff\xfe\0", 3, 0);      // not UTF-8
    bag.Setdata("text", T_STRING, "\xed\xa0\x80\0", 4, 0);  // a UTF-16 surrogate
    bag.Setdata("text", T_STRING, "\xc0\xaf\0", 3, 0);      // overlong
    bag.Setdata("text", T_STRING, "", 0, 0);                // nothing, not even the NUL
    bag.Setdata("text", T_STRING, "\t\n\"\\\x01\0", 6, 0);  // control characters are text
    bag.Setdata("buf", T_BUFFER, "", 0, 0);
    bag.Setdata("bag", T_BAG, "not a bag", 9, 0);
    ExpectRoundTrip(bag);

    json doc = json::parse(ToJson(bag));
    EXPECT_EQ(doc["items"][0]["values"][0], json::parse(R"({"bytes":"AQI="})"));
    EXPECT_EQ(doc["items"][2]["values"][0], json::parse(R"({"bytes":"Ag=="})"));
    EXPECT_EQ(doc["items"][3]["values"][1], string("a\0b", 3));
    EXPECT_EQ(doc["items"][3]["values"][6], "\t\n\"\\\x01");
    EXPECT_TRUE(doc["items"][3]["values"][2].is_object());
}

TEST(JsonRoundTrip, FloatsKeepEveryBit) {
    ZoBag bag(0, 0);
    std::mt19937_64 random(20240611);
    std::vector<uint32_t> floats = {0x00000000, 0x80000000, 0x00000001, 0x807FFFFF, 0x7F7FFFFF,
                                    0xFF7FFFFF, 0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00000,
                                    0x7FC00001, 0x7F800001, 0x3DCCCCCD};
    std::vector<uint64_t> doubles = {0,
                                     1ull << 63,
                                     1,
                                     0x7FEFFFFFFFFFFFFF,
                                     0x7FF0000000000000,
                                     0xFFF0000000000000,
                                     0x7FF8000000000000,
                                     0xFFF8000000000000,
                                     0x7FF8000000000001,
                                     0x7FF0000000000001,
                                     0x3FB999999999999A};
    for (int i = 0; i < 20000; i++) {
        uint64_t bits = random();
        floats.push_back(static_cast<uint32_t>(bits));
        doubles.push_back(bits);
    }
    for (uint32_t bits : floats)
        bag.Setdata("f", T_FLOAT32, &bits, 4, 0);
    for (uint64_t bits : doubles)
        bag.Setdata("d", T_FLOAT64, &bits, 8, 0);
    ExpectRoundTrip(bag);

    // Only NaNs with a payload need raw bytes; ordinary values read as numbers.
    json doc = json::parse(ToJson(bag));
    json f = doc["items"][0]["values"];
    json d = doc["items"][1]["values"];
    EXPECT_EQ(f[0], 0.0);
    EXPECT_TRUE(std::signbit(f[1].get<double>()));
    EXPECT_EQ(f[6], "inf");
    EXPECT_EQ(f[9], "-nan");
    EXPECT_TRUE(f[10].is_object());
    EXPECT_TRUE(f[11].is_object());
    EXPECT_EQ(f[12].dump(), "0.1");  // the float 0.1 reads as 0.1, not 0.10000000149011612
    EXPECT_EQ(d[7], "-nan");
    EXPECT_TRUE(d[8].is_object());
    EXPECT_EQ(d[10].dump(), "0.1");
    for (const json* values : {&f, &d}) {
        for (const json& value : *values) {
            if (!value.is_object()) continue;
            string bytes = value["bytes"];
            EXPECT_TRUE(bytes.size() == 8 || bytes.size() == 12) << value;  // 4 or 8 bytes
        }
    }
}

TEST(JsonRoundTrip, Int64BeyondDoublePrecisionIsWrittenAsText) {
    ZoBag bag(0, 0);
    const long long values[] = {(1ll << 53), (1ll << 53) + 1, -(1ll << 53) - 1, INT64_MIN,
                                INT64_MAX};
    for (long long value : values)
        bag.Setint64("l", value, 0);
    ExpectRoundTrip(bag);
    EXPECT_EQ(json::parse(ToJson(bag))["items"][0]["values"],
              json::parse(R"([9007199254740992, "9007199254740993", "-9007199254740993",
                              "-9223372036854775808", "9223372036854775807"])"));

    // Either spelling is read, for any integer type.
    std::unique_ptr<ZoBag> read = FromJson(
        R"({"items": [{"name": "l", "type": "int64", "values": [9007199254740993, "-12"]},
                      {"name": "n", "type": "int32", "values": ["-2147483648"]}]})");
    ASSERT_NE(read, nullptr);
    long long value = 0;
    int number = 0;
    EXPECT_TRUE(read->Getint64("l", &value, 1));
    EXPECT_EQ(value, (1ll << 53) + 1);
    EXPECT_TRUE(read->Getint64("l", &value, 2));
    EXPECT_EQ(value, -12);
    EXPECT_TRUE(read->Getint32("n", &number, 1));
    EXPECT_EQ(number, INT32_MIN);
}

// Foreign bytes can give a bag what the item API never makes: odd names,
// hashes that are not the name's, items sharing one hash, unknown types.
TEST(JsonRoundTrip, ForeignItemsSurvive) {
    std::unique_ptr<ZoBag> bag =
        BagOf(FlatOf(7, {{ZoBag::Hash("\xff\x01"), "\xff\x01", T_INT8, {"\x05"}},
                         {12345, "stored", T_INT32, {"\1\0\0\0"s}},
                         {ZoBag::Hash("ab"), "ab", T_BOOL, {"\1"}},
                         {ZoBag::Hash("ba"), "ba", T_BOOL, {"\0"s}},
                         {ZoBag::Hash("x"), "x", 42, {"\1\2", ""}},
                         {ZoBag::Hash("x"), "x", -3, {"z"}},
                         {0, "", T_INT8, {"\x01"}}}));
    ASSERT_NE(bag, nullptr);
    ExpectRoundTrip(*bag);

    json items = json::parse(ToJson(*bag))["items"];
    EXPECT_EQ(items[0]["name"], json::parse(R"({"bytes": "/wE="})"));
    EXPECT_FALSE(items[0].contains("hash"));
    EXPECT_EQ(items[1]["hash"], 12345);  // only where it is not the name's
    EXPECT_EQ(items[2]["name"], "ab");
    EXPECT_EQ(items[3]["name"], "ba");
    EXPECT_EQ(items[4]["type"], 42);
    EXPECT_EQ(items[4]["values"], json::parse(R"(["AQI=", ""])"));
    EXPECT_EQ(items[5]["type"], -3);
    EXPECT_EQ(items[6]["name"], "");
}

TEST(JsonRoundTrip, NestedBagsBecomeObjectsOnlyWhenExact) {
    ZoBag inner(5, 0);
    inner.Setstring("s", "in", 0);
    string plain = PlainOf(inner);
    ZoBag bag(0, 0);
    bag.Setbag("b", &inner, 0);
    string zipped(inner.FlatSize(true), '\0');
    unsigned long size = 0;
    ASSERT_TRUE(inner.Flatten(&zipped[0], &size, true));
    bag.Setdata("b", T_BAG, zipped.data(), static_cast<int>(size), 0);  // compressed
    string trailing = plain + "!";  // a byte past the records, within its own size field
    trailing.replace(16, 4, Le32(static_cast<uint32_t>(trailing.size())));
    bag.Setdata("b", T_BAG, trailing.data(), static_cast<int>(trailing.size()), 0);
    ExpectRoundTrip(bag);

    json values = json::parse(ToJson(bag))["items"][0]["values"];
    EXPECT_EQ(values[0]["what"], 5);
    EXPECT_FALSE(values[0].contains("zobag"));
    EXPECT_TRUE(values[1].contains("bytes"));
    EXPECT_TRUE(values[2].contains("bytes"));
}

TEST(JsonRoundTrip, DeepNestingFallsBackToBytes) {
    std::unique_ptr<ZoBag> bag(new ZoBag(0, 0));
    bag->Setint32("leaf", 1, 0);
    for (int level = 0; level < ZoBagJsonMaxDepth + 6; level++) {
        std::unique_ptr<ZoBag> outer(new ZoBag(level, 0));
        outer->Setbag("in", bag.get(), 0);
        bag = std::move(outer);
    }
    ExpectRoundTrip(*bag);
    json node = json::parse(ToJson(*bag));
    int depth = 0;
    while (!node["items"][0]["values"][0].contains("bytes")) {
        node = node["items"][0]["values"][0];
        depth++;
    }
    EXPECT_EQ(depth, ZoBagJsonMaxDepth);
}

TEST(JsonRefusal, PointersHaveNoJsonForm) {
    ZoBag bag(0, 0);
    bag.Setint32("n", 1, 0);
    bag.Setpointer("p", &bag, 0);
    string text, error;
    EXPECT_FALSE(ZoBagToJson(&bag, -1, &text, &error));
    EXPECT_EQ(error.rfind("/items/1: ", 0), 0u) << error;
    EXPECT_NE(error.find("pointers"), string::npos) << error;

    ZoBag outer(0, 0);
    outer.Setbag("in", &bag, 0);
    EXPECT_FALSE(ZoBagToJson(&outer, -1, &text, &error));
    EXPECT_EQ(error.rfind("/items/0/values/0/items/1: ", 0), 0u) << error;

    EXPECT_NE(RefusalOf(R"({"items":[{"name":"p","type":"pointer","values":[{"bytes":""}]}]})")
                  .find("/items/0/type: pointers"),
              string::npos);
    EXPECT_NE(RefusalOf(R"({"items":[{"name":"p","type":10,"values":["AA=="]}]})")
                  .find("/items/0/type: pointers"),
              string::npos);
}

// Every refusal names the place it found wrong.
TEST(JsonRefusal, MalformedInputIsRefusedWithItsPlace) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"", "not valid JSON"},
        {"{", "not valid JSON: parse error at line 1, column 2"},
        {"[]", "a bag is an object"},
        {R"({"what": 1, "what": 2})", "names the member \"what\" twice"},
        {R"({"items": [{"name": "a", "name": "b", "type": "bool", "values": [true]}]})",
         "names the member \"name\" twice"},
        {R"({"zobag": 2})", "/zobag: this reader knows version 1"},
        {R"({"colour": 1})", "unknown member \"colour\""},
        {R"({"what": 4294967296})", "/what: a header word"},
        {R"({"what": -2147483649})", "/what: a header word"},
        {R"({"who": 1.5})", "/who: a header word"},
        {R"({"when": "3"})", "/when: a header word"},
        {R"({"items": {}})", "/items: items is an array"},
        {R"({"items": [1]})", "/items/0: an item is an object"},
        {R"({"items": [{"type": "bool", "values": [true]}]})", "/items/0: an item needs"},
        {R"({"items": [{"name": "a", "type": "bool", "values": []}]})",
         "/items/0/values: values is an array of at least one element"},
        {R"({"items": [{"name": "a", "type": "bool", "values": true}]})", "/items/0/values"},
        {R"({"items": [{"name": "a", "type": "bool", "values": [true], "x": 1}]})",
         "/items/0: unknown member \"x\""},
        {R"({"items": [{"name": "a", "type": "word", "values": [1]}]})", "/items/0/type"},
        {R"({"items": [{"name": "a", "type": 2147483648, "values": ["AA=="]}]})", "/items/0/type"},
        {R"({"items": [{"name": 5, "type": "bool", "values": [true]}]})", "/items/0/name"},
        {R"({"items": [{"name": "a\u0000b", "type": "bool", "values": [true]}]})",
         "/items/0/name: a name cannot hold a NUL byte"},
        {R"({"items": [{"name": {"bytes": "YQA="}, "type": "bool", "values": [true]}]})",
         "/items/0/name: a name cannot hold a NUL byte"},
        {R"({"items": [{"name": "a", "hash": 4294967296, "type": "bool", "values": [true]}]})",
         "/items/0/hash"},
        {R"({"items": [{"name": "a", "type": "bool", "values": [1]}]})",
         "/items/0/values/0: a bool element is true or false"},
        {R"({"items": [{"name": "a", "type": "int8", "values": [1, 128]}]})",
         "/items/0/values/1: an int8 element is an integer from -128 to 127"},
        {R"({"items": [{"name": "a", "type": "int16", "values": [-32769]}]})", "int16"},
        {R"({"items": [{"name": "a", "type": "int32", "values": [2147483648]}]})", "int32"},
        {R"({"items": [{"name": "a", "type": "int32", "values": [1.0]}]})", "int32"},
        {R"({"items": [{"name": "a", "type": "int32", "values": ["+1"]}]})", "int32"},
        {R"({"items": [{"name": "a", "type": "int32", "values": ["1 "]}]})", "int32"},
        {R"({"items": [{"name": "a", "type": "int64", "values": [9223372036854775808]}]})",
         "int64"},
        {R"({"items": [{"name": "a", "type": "int64", "values": ["9223372036854775808"]}]})",
         "int64"},
        {R"({"items": [{"name": "a", "type": "float32", "values": [1e39]}]})", "float32 range"},
        {R"({"items": [{"name": "a", "type": "float32", "values": ["NaN"]}]})", "float32"},
        {R"({"items": [{"name": "a", "type": "float64", "values": [null]}]})", "float64"},
        {R"({"items": [{"name": "a", "type": "float64", "values": [1e400]}]})", "not valid JSON"},
        {R"({"items": [{"name": "a", "type": "string", "values": [1]}]})",
         "a string element is a string"},
        {R"({"items": [{"name": "a", "type": "buffer", "values": ["AQI"]}]})", "base64"},
        {R"({"items": [{"name": "a", "type": "buffer", "values": ["AR=="]}]})", "base64"},
        {R"({"items": [{"name": "a", "type": "buffer", "values": [" AQ=="]}]})", "base64"},
        {R"({"items": [{"name": "a", "type": 77, "values": [5]}]})",
         "an element of type 77 is canonical padded base64"},
        {R"({"items": [{"name": "a", "type": "int32", "values": [{"bytes": "A"}]}]})",
         "/items/0/values/0/bytes: not canonical padded base64"},
        {R"({"items": [{"name": "a", "type": "int32", "values": [{"bytes": "", "x": 1}]}]})",
         "raw bytes are written"},
        {R"({"items": [{"name": "a", "type": "bag", "values": ["AA=="]}]})",
         "a bag element is a bag object"},
        {R"({"items": [{"name": "a", "type": "bag", "values": [{"items": [{"name": "b",
             "type": "int8", "values": [300]}]}]}]})",
         "/items/0/values/0/items/0/values/0: an int8 element"},
    };
    for (const auto& c : cases) {
        string error = RefusalOf(c.text);
        EXPECT_NE(error.find(c.error), string::npos)
            << "input: " << c.text << "\nerror: " << error << "\nexpected: " << c.error;
    }
    // Null arguments are refused too, and the error text is optional.
    string text = "kept";
    EXPECT_FALSE(ZoBagToJson(nullptr, -1, &text));
    EXPECT_FALSE(ZoJsonToFlat(nullptr, 1, &text));
    EXPECT_EQ(ZoBagFromJson("{", 1), nullptr);
    EXPECT_EQ(text, "kept");
}

TEST(JsonRefusal, NestingBeyondTheLimit) {
    auto nested = [](int levels) {
        string text = "{\"items\": [";
        for (int i = 0; i < levels; i++)
            text += R"({"name": "b", "type": "bag", "values": [{"items": [)";
        text += R"({"name": "x", "type": "int8", "values": [1]})";
        for (int i = 0; i < levels; i++)
            text += "]}]}";
        return text + "]}";
    };
    string error;
    string deepest = nested(ZoBagJsonMaxDepth);
    std::unique_ptr<ZoBag> bag(ZoBagFromJson(deepest.data(), deepest.size(), &error));
    EXPECT_NE(bag, nullptr) << error;
    EXPECT_NE(RefusalOf(nested(ZoBagJsonMaxDepth + 1)).find("deeper than"), string::npos);
    // Deep JSON that is not bags is refused without recursion trouble.
    string arrays(100000, '[');
    EXPECT_NE(RefusalOf(arrays + string(100000, ']')).find("a bag is an object"), string::npos);
}

TEST(JsonReading, LenientWhereNothingIsLost) {
    std::unique_ptr<ZoBag> bag = FromJson(R"({"items": [
        {"name": "f", "type": "float32", "values": [3, 3.40282356e38, -1e-50, "-inf"]},
        {"name": "d", "type": "float64", "values": [18446744073709551615, "nan"]},
        {"name": "t", "type": 4, "values": [7]},
        {"name": "h", "hash": -1, "type": "int8", "values": [1]}]})");
    ASSERT_NE(bag, nullptr);
    float f = 0;
    EXPECT_TRUE(bag->Getfloat32("f", &f, 1));
    EXPECT_EQ(f, 3.0f);
    EXPECT_TRUE(bag->Getfloat32("f", &f, 2));  // rounds down to the largest float
    EXPECT_EQ(f, FLT_MAX);
    EXPECT_TRUE(bag->Getfloat32("f", &f, 3));
    EXPECT_EQ(f, 0.0f);
    EXPECT_TRUE(std::signbit(f));
    EXPECT_TRUE(bag->Getfloat32("f", &f, 4));
    EXPECT_EQ(f, -INFINITY);
    double d = 0;
    EXPECT_TRUE(bag->Getfloat64("d", &d, 1));
    EXPECT_EQ(d, 18446744073709551616.0);
    EXPECT_TRUE(bag->Getfloat64("d", &d, 2));
    EXPECT_TRUE(std::isnan(d));
    int n = 0;
    EXPECT_TRUE(bag->Getint32("t", &n, 1));  // a known type by its code
    EXPECT_EQ(n, 7);
    // The stored hash is the one given: the item answers to it, not to its name.
    EXPECT_FALSE(bag->HasItem("h", T_INT8));
    EXPECT_EQ(ToJson(*bag).find(R"("name":"h","hash":-1,)") != string::npos, true);
}

}  // namespace
