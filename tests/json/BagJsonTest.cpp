// Bags to JSON and back: the natural form of each type, raw bytes wherever the
// natural form would not give the same bytes back, lenient reading where
// nothing is lost, and a refusal that names its place for everything else.
#include <zolib/json/BagJson.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bag/FlatBytes.h"

namespace {

using std::string;
using zotest::Plain;
using namespace std::string_literals;

string ToJson(ZoBag& bag, int indent = -1) {
    string text, error;
    EXPECT_TRUE(ZoBagToJson(&bag, indent, &text, &error)) << error;
    return text;
}

// The compact JSON of the bag read from a text, or why it was refused.
string Reread(const string& text) {
    string error;
    std::unique_ptr<ZoBag> bag(ZoBagFromJson(text.data(), text.size(), &error));
    return bag != nullptr ? ToJson(*bag) : "refused: " + error;
}

// Bag -> JSON -> bag gives the same plain flat form, byte for byte.
void ExpectRoundTrip(ZoBag& bag) {
    for (int indent : {-1, 2}) {
        string text = ToJson(bag, indent);
        std::unique_ptr<ZoBag> back(ZoBagFromJson(text.data(), text.size()));
        ASSERT_NE(back, nullptr) << text;
        EXPECT_TRUE(Plain(*back) == Plain(bag)) << text;
    }
}

string Le64(uint64_t value) {
    return Le32(static_cast<uint32_t>(value)) + Le32(static_cast<uint32_t>(value >> 32));
}

// Each item as written, and read back to the same bytes: the natural form of
// its type where that gives the bytes back, raw bytes where not; names that
// are not text, stored hashes that are not the name's and unknown types too.
TEST(JsonForm, EachItemAsWrittenAndReadBack) {
    ZoBag inner(5, 0);
    inner.Setstring("s", "in", 0);
    string nested = Plain(inner), zipped = zotest::Compressed(inner);
    string trailing = nested + "!";  // a byte past the records, within its own size field
    trailing.replace(16, 4, Le32(static_cast<uint32_t>(trailing.size())));
    const uint64_t kExact = 1ull << 53;  // integers beyond it are written as text
    const struct {
        RawItem item;
        const char* json;
    } cases[] = {
        {{0, "", T_INT8, {"\xff"}}, R"({"name":"","type":"int8","values":[-1]})"},
        {{ZoBag::Hash("h"), "h", T_INT16, {"\xd4\xfe"}}, R"("type":"int16","values":[-300]})"},
        {{ZoBag::Hash("n"), "n", T_INT32, {Le32(7), Le32(-8), "\1\2", "\1\2\3\4\5", ""}},
         R"("values":[7,-8,{"bytes":"AQI="},{"bytes":"AQIDBAU="},{"bytes":""}]})"},
        {{ZoBag::Hash("l"),
          "l",
          T_INT64,
          {Le64(kExact), Le64(kExact + 1), Le64(-kExact), Le64(-kExact - 1), Le64(1ull << 63),
           Le64(~0ull >> 1), "\1\2"}},
         R"("values":[9007199254740992,"9007199254740993",-9007199254740992,)"
         R"("-9007199254740993","-9223372036854775808","9223372036854775807",{"bytes":"AQI="}]})"},
        {{ZoBag::Hash("b"), "b", T_BOOL, {"\0"s, "\1", "\2"}},
         R"("type":"bool","values":[false,true,{"bytes":"Ag=="}]})"},
        {{ZoBag::Hash("f"),
          "f",
          T_FLOAT32,
          {Le32(0x3FC00000), Le32(0), Le32(0x80000000), Le32(0x7F800000), Le32(0xFF800000),
           Le32(0x7FC00000), Le32(0xFFC00000), Le32(0x3DCCCCCD), Le32(0x7FC00001),
           Le32(0x7F800001)}},
         R"("type":"float32","values":[1.5,0.0,-0.0,"inf","-inf","nan","-nan",0.1,)"
         R"({"bytes":"AQDAfw=="},{"bytes":"AQCAfw=="}]})"},
        {{ZoBag::Hash("d"),
          "d",
          T_FLOAT64,
          {Le64(0x3FD0000000000000), Le64(0x3FB999999999999A), Le64(0x7FF8000000000001),
           Le64(0xFFF8000000000000)}},
         R"("type":"float64","values":[0.25,0.1,{"bytes":"AQAAAAAA+H8="},"-nan"]})"},
        {{ZoBag::Hash("t"),
          "t",
          T_STRING,
          {"hi\0"s, "no nul", "a\0b\0"s, "\xff\xfe\0"s, "\xed\xa0\x80\0"s, "\xc0\xaf\0"s, "",
           "\t\n\"\\\x01\0"s}},
         R"("type":"string","values":["hi",{"bytes":"bm8gbnVs"},"a\u0000b",{"bytes":"//4A"},)"
         R"({"bytes":"7aCAAA=="},{"bytes":"wK8A"},{"bytes":""},"\t\n\"\\\u0001"]})"},
        {{ZoBag::Hash("u"), "u", T_BUFFER, {"\1\2\3", ""}},
         R"("type":"buffer","values":["AQID",""]})"},
        {{ZoBag::Hash("bag"), "bag", T_BAG, {nested, trailing, "not a bag"}},
         R"("type":"bag","values":[{"what":5,"who":0,"when":0,"items":[)"
         R"({"name":"s","type":"string","values":["in"]}]},)"
         R"({"bytes":"QmFHAAUAAAAAAAAAAAAAADEAAAABAAAAcwAAAAEAAABzAAAAAAEAAAADAAAAaW4AIQ=="},)"
         R"({"bytes":"bm90IGEgYmFn"}]})"},
        {{ZoBag::Hash("z"), "z", T_BAG, {zipped}}, R"("values":[{"bytes":"QmFHAS)"},
        {{ZoBag::Hash("\xff\x01"), "\xff\x01", T_INT8, {"\x05"}}, R"({"name":{"bytes":"/wE="},)"},
        {{12345, "stored", T_INT32, {Le32(1)}}, R"({"name":"stored","hash":12345,"type":"int32")"},
        {{ZoBag::Hash("x"), "x", 42, {"\1\2", ""}}, R"("type":42,"values":["AQI=",""]})"},
        {{ZoBag::Hash("y"), "y", -3, {"z"}}, R"("type":-3,"values":["eg=="]})"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<ZoBag> bag = BagOf(FlatOf(0, {c.item}));
        string json = ToJson(*bag);
        EXPECT_EQ(json.rfind(R"({"zobag":1,"what":0,"who":0,"when":0,"items":[)", 0), 0u);
        EXPECT_NE(json.find(c.json), string::npos) << json;
        ExpectRoundTrip(*bag);
    }
    std::unique_ptr<ZoBag> twins =  // items of one hash stay two items
        BagOf(FlatOf(0, {{ZoBag::Hash("ab"), "ab", T_BOOL, {"\1"}},
                         {ZoBag::Hash("ba"), "ba", T_BOOL, {"\0"s}}}));
    ExpectRoundTrip(*twins);
    EXPECT_NE(ToJson(*twins, 2).find("\n  \"items\": ["), string::npos);
}

TEST(JsonForm, FloatsKeepEveryBit) {
    std::mt19937_64 random(20240611);
    RawItem f{ZoBag::Hash("f"), "f", T_FLOAT32, {}}, d{ZoBag::Hash("d"), "d", T_FLOAT64, {}};
    for (int i = 0; i < 10000; i++) {
        uint64_t bits = random();
        f.elements.push_back(Le32(static_cast<uint32_t>(bits)));
        d.elements.push_back(Le64(bits));
    }
    ExpectRoundTrip(*BagOf(FlatOf(0, {f, d})));
}

// Objects down to the limit, raw bytes below it, so that neither direction
// recurses without bound.
TEST(JsonForm, DeepNestingFallsBackToBytes) {
    auto bag = std::make_unique<ZoBag>(0, 0);
    bag->Setint32("leaf", 1, 0);
    for (int level = 0; level < ZoBagJsonMaxDepth + 6; level++) {
        auto outer = std::make_unique<ZoBag>(level, 0);
        outer->Setbag("in", bag.get(), 0);
        bag = std::move(outer);
    }
    ExpectRoundTrip(*bag);
    string json = ToJson(*bag);
    size_t bytes = json.find("{\"bytes\"");  // an items and a values array a level
    EXPECT_EQ(std::count(json.begin(), json.begin() + bytes, '['), 2 * ZoBagJsonMaxDepth + 2);
}

// What the reader makes of a text: the bag, written back compactly, where
// nothing is lost; otherwise a refusal that names the place it found wrong.
TEST(JsonReading, LenientWhereNothingIsLostElseRefusedWithThePlace) {
    auto nested = [](int levels) {
        string text = "{\"items\": [";
        for (int i = 0; i < levels; i++)
            text += R"({"name": "b", "type": "bag", "values": [{"items": [)";
        text += R"({"name": "x", "type": "int8", "values": [1]})";
        for (int i = 0; i < levels; i++)
            text += "]}]}";
        return text + "]}";
    };
    const struct {
        string text;
        const char* result;
    } bags[] = {
        {"{}", R"({"zobag":1,"what":0,"who":0,"when":0,"items":[]})"},
        {R"({"what": -1, "who": 4294967295, "when": -2147483648})",
         R"({"zobag":1,"what":4294967295,"who":4294967295,"when":2147483648,"items":[]})"},
        {nested(ZoBagJsonMaxDepth), R"("type":"int8","values":[1]})"},
        {"{", "not valid JSON: parse error at line 1, column 2"},
        {"[]", "a bag is an object"},
        {string(100000, '[') + string(100000, ']'), "a bag is an object"},
        {R"({"what": 1, "what": 2})", "names the member \"what\" twice"},
        {R"({"zobag": 2})", "/zobag: this reader knows version 1"},
        {R"({"colour": 1})", "unknown member \"colour\""},
        {R"({"what": 4294967296})", "/what: a header word"},
        {R"({"who": 1.5})", "/who: a header word"},
        {R"({"when": "3"})", "/when: a header word"},
        {R"({"items": {}})", "/items: items is an array"},
        {R"({"items": [1]})", "/items/0: an item is an object"},
        {nested(ZoBagJsonMaxDepth + 1), "deeper than"},
    };
    // The members of a bag's only item.
    const struct {
        const char* members;
        const char* result;
    } items[] = {
        {R"("name": "l", "type": "int64", "values": [9007199254740993, "-12"])",
         R"("values":["9007199254740993",-12]})"},
        {R"("name": "n", "type": "int32", "values": ["-2147483648"])", R"("values":[-2147483648])"},
        {R"("name": "f", "type": "float32", "values": [3, 3.40282356e38, -1e-50, "-inf"])",
         R"("values":[3.0,3.4028235e+38,-0.0,"-inf"]})"},
        {R"("name": "d", "type": "float64", "values": [18446744073709551615, "nan"])",
         R"("values":[1.8446744073709552e+19,"nan"]})"},
        {R"("name": "t", "type": 4, "values": [7])", R"("type":"int32","values":[7]})"},
        {R"("name": "h", "hash": 4294967295, "type": "int8", "values": [1])", R"("hash":-1,)"},
        {R"("type": "bool", "values": [true])", "/items/0: an item needs"},
        {R"("name": "a", "name": "b", "type": "bool", "values": [true])", "member \"name\" twice"},
        {R"("name": "a", "type": "bool", "values": [])", "/items/0/values: values is an array"},
        {R"("name": "a", "type": "bool", "values": true)", "/items/0/values: values is"},
        {R"("name": "a", "type": "bool", "values": [true], "x": 1)", "unknown member \"x\""},
        {R"("name": "a", "type": "word", "values": [1])", "/items/0/type: a type is"},
        {R"("name": "a", "type": 2147483648, "values": ["AA=="])", "/items/0/type: a type is"},
        {R"("name": "p", "type": "pointer", "values": [{"bytes": ""}])", "/type: pointers"},
        {R"("name": 5, "type": "bool", "values": [true])", "/items/0/name: a name is"},
        {R"("name": "a\u0000b", "type": "bool", "values": [true])", "/name: a name cannot hold"},
        {R"("name": {"bytes": "YQA="}, "type": "bool", "values": [true])", "cannot hold a NUL"},
        {R"("name": "a", "hash": 4294967296, "type": "bool", "values": [true])", "/0/hash: a hash"},
        {R"("name": "a", "type": "bool", "values": [1])", "/0: a bool element is true or false"},
        {R"("name": "a", "type": "int8", "values": [1, 128])",
         "/items/0/values/1: an int8 element is an integer from -128 to 127"},
        {R"("name": "a", "type": "int16", "values": [-32769])", "an int16 element"},
        {R"("name": "a", "type": "int32", "values": [2147483648])", "an int32 element"},
        {R"("name": "a", "type": "int32", "values": [1.0])", "an int32 element"},
        {R"("name": "a", "type": "int32", "values": ["+1"])", "an int32 element"},
        {R"("name": "a", "type": "int32", "values": ["1 "])", "an int32 element"},
        {R"("name": "a", "type": "int64", "values": [9223372036854775808])", "an int64 element"},
        {R"("name": "a", "type": "int64", "values": ["9223372036854775808"])", "an int64 element"},
        {R"("name": "a", "type": "float32", "values": [1e39])", "float32 range"},
        {R"("name": "a", "type": "float32", "values": ["NaN"])", "a float32 element"},
        {R"("name": "a", "type": "float64", "values": [null])", "a float64 element"},
        {R"("name": "a", "type": "string", "values": [1])", "a string element is a string"},
        {R"("name": "a", "type": "buffer", "values": ["AQI"])", "base64"},
        {R"("name": "a", "type": 77, "values": [5])", "type 77 is canonical padded base64"},
        {R"("name": "a", "type": "int32", "values": [{"bytes": "A"}])", "/bytes: not canonical"},
        {R"("name": "a", "type": "int32", "values": [{"bytes": "", "x": 1}])", "raw bytes are"},
        {R"("name": "a", "type": "bag", "values": ["AA=="])", "a bag element is a bag object"},
        {R"("name": "a", "type": "bag", "values": [{"items": [{"name": "b", "type": "int8",)"
         R"("values": [300]}]}])",
         "/items/0/values/0/items/0/values/0: an int8 element"},
    };
    std::vector<std::pair<string, const char*>> cases;
    for (const auto& c : bags)
        cases.emplace_back(c.text, c.result);
    for (const auto& c : items)
        cases.emplace_back(R"({"items": [{)" + string(c.members) + "}]}", c.result);
    for (const auto& [text, result] : cases)
        EXPECT_NE(Reread(text).find(result), string::npos)
            << Reread(text) << "\nexpected: " << result;
    // Null arguments are refused too, and the error text is optional.
    string text = "kept";
    EXPECT_FALSE(ZoBagToJson(nullptr, -1, &text) || ZoJsonToFlat(nullptr, 1, &text));
    EXPECT_EQ(ZoBagFromJson("{", 1), nullptr);
    EXPECT_EQ(text, "kept");
}

TEST(JsonForm, PointersHaveNone) {
    ZoBag bag(0, 0), outer(0, 0);
    bag.Setint32("n", 1, 0);
    bag.Setpointer("p", &bag, 0);
    outer.Setbag("in", &bag, 0);
    string text, error;
    EXPECT_FALSE(ZoBagToJson(&bag, -1, &text, &error));
    EXPECT_EQ(error.rfind("/items/1: the item holds pointers", 0), 0u) << error;
    EXPECT_FALSE(ZoBagToJson(&outer, -1, &text, &error));
    EXPECT_EQ(error.rfind("/items/0/values/0/items/1: ", 0), 0u) << error;
}

}  // namespace
