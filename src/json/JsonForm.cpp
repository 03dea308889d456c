// The type names, base64 and error texts of the JSON form.
#include "json/internal/JsonForm.h"

#include <zolib/bag/Bag.h>

#include <sodium.h>

namespace zolib_json_internal {

using std::string;

namespace {

constexpr int kBase64 = sodium_base64_VARIANT_ORIGINAL;

const struct {
    int32_t code;
    const char* name;
} kTypeNames[] = {{T_STRING, "string"},   {T_BOOL, "bool"},       {T_INT8, "int8"},
                  {T_INT16, "int16"},     {T_INT32, "int32"},     {T_INT64, "int64"},
                  {T_FLOAT32, "float32"}, {T_FLOAT64, "float64"}, {T_BUFFER, "buffer"},
                  {T_BAG, "bag"},         {T_POINTER, "pointer"}};

}  // namespace

const char* TypeName(int32_t code) {
    for (const auto& type : kTypeNames)
        if (type.code == code) return type.name;
    return nullptr;
}

bool TypeCode(const string& name, int32_t* code) {
    for (const auto& type : kTypeNames) {
        if (name == type.name) {
            *code = type.code;
            return true;
        }
    }
    return false;
}

bool Fail(string* error, const string& path, const string& message) {
    *error = path.empty() ? message : path + ": " + message;
    return false;
}

string Index(const string& path, const char* member, size_t i) {
    return path + "/" + member + "/" + std::to_string(i);
}

string ToBase64(const char* p, size_t n) {
    string text(sodium_base64_encoded_len(n, kBase64), '\0');
    sodium_bin2base64(&text[0], text.size(), reinterpret_cast<const unsigned char*>(p), n, kBase64);
    text.pop_back();  // the NUL the encoder adds
    return text;
}

bool FromBase64(const string& text, string* bytes) {
    string out(text.size() / 4 * 3 + 3, '\0');
    size_t n = 0;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(&out[0]), out.size(), text.data(),
                          text.size(), nullptr, &n, nullptr, kBase64) != 0)
        return false;
    out.resize(n);
    *bytes = std::move(out);
    return true;
}

}  // namespace zolib_json_internal
