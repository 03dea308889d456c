// What the two directions of the JSON form share: the JSON type, the type
// names, base64 and the error texts.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace zolib_json_internal {

// Ordered objects, so that members keep the form's documented order.
using Json = nlohmann::ordered_json;

// The name of a type code ("int32"), or null for a code without one.
const char* TypeName(int32_t code);
// The code of a type name; false for an unknown name.
bool TypeCode(const std::string& name, int32_t* code);

// Sets *error to "path: message" (or the message alone at the top) and
// returns false.
bool Fail(std::string* error, const std::string& path, const std::string& message);
// The JSON pointer of element i of a member: path + "/items/2".
std::string Index(const std::string& path, const char* member, size_t i);

// Canonical padded base64 (the original alphabet).
std::string ToBase64(const char* p, size_t n);
// Canonical padded base64 only (libsodium refuses stray characters, missing
// padding and non-zero spare bits), so each byte string has one spelling.
bool FromBase64(const std::string& text, std::string* bytes);

}  // namespace zolib_json_internal
