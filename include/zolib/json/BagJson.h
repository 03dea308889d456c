// Bags as JSON (libzolib_json, target ZoLib::zolib_json): a text form that
// keeps everything a bag holds, for programs that log, store, diff or serve
// bags, and for tools that generate them.
//
// The form keeps the header words, the item order, every name (bytes that are
// not UTF-8 as base64), a stored hash that is not its name's, every type code
// and the exact bytes of every element. Elements are shown in their natural
// JSON form where that form gives back the same bytes (numbers, strings,
// booleans, base64 buffers, nested bags as objects) and as {"bytes": base64}
// otherwise, so converting a bag to JSON and back gives the same plain flat
// form, byte for byte. docs/zobag.md describes the form.
//
// Pointers have no JSON form: they mean nothing outside the process that
// stored them, so both directions refuse them.
//
// Ownership: ZoBagFromJson returns a new bag the caller deletes; the other
// functions replace the strings they are given and keep nothing.
// Threads: no shared state; the functions are reentrant. The bag given to
// ZoBagToJson is read (flattened) and must not change meanwhile.
// Failure: false or null; when `error` is not null it receives one line that
// names the place in the JSON (or in the bag) as a JSON pointer
// ("/items/2/values/0: ..."). The output string is left unchanged. No
// exception leaves these functions and nothing is printed.
#pragma once

#include <zolib/Export.h>

#include <cstddef>
#include <string>

class ZoBag;

// Version written in the "zobag" member of a top-level object; the reader
// refuses any other.
constexpr int ZoBagJsonVersion = 1;
// Nested bags deeper than this are written as raw bytes, and nested bag
// objects deeper than this are refused, so a hostile input cannot exhaust the
// stack either way.
constexpr int ZoBagJsonMaxDepth = 64;

// Writes `bag` as JSON text into *json: indented by `indent` spaces per level,
// or on one line when `indent` is negative. False for a null bag, a bag that
// holds pointers, or one too large for the flat form.
ZOLIB_API bool ZoBagToJson(ZoBag* bag, int indent, std::string* json, std::string* error = nullptr);

// Reads the JSON form of a bag from `length` bytes of text into its plain flat
// form (*flat is replaced). False when the text is not valid JSON, does not
// follow the form (unknown or repeated members included), or describes a bag
// too large for the flat form.
ZOLIB_API bool ZoJsonToFlat(const char* text, size_t length, std::string* flat,
                            std::string* error = nullptr);

// ZoJsonToFlat, then the bag of those bytes: a new bag, or null.
ZOLIB_API ZoBag* ZoBagFromJson(const char* text, size_t length, std::string* error = nullptr);
