// Bags in files: the three stored forms, told apart by their bytes.
//
// A bag file is a 4-byte length and the flat bag that follows (compressed
// when SaveToFile wrote it); a flat bag starts with "BaG" and a flag byte, 0
// for the plain form and 1 for the compressed one. Readers take every input as
// untrusted and turn it into the plain flat form, which the other operations
// work on.
//
// Ownership: BagOfPlain returns a new bag the caller deletes.
// Failure: false or null, with a message in *error; nothing is printed.
#pragma once

#include <string>

class ZoBag;

enum class BagForm {
    File,    // a length word and a flat bag
    Plain,   // a plain flat bag
    Zipped,  // a compressed flat bag
};

// "bag file", "plain flat bag", "compressed flat bag".
const char* BagFormName(BagForm form);

// The whole content of `path`; "-" reads standard input.
bool ReadFile(const std::string& path, std::string* bytes, std::string* error);
// Creates or truncates `path` and writes `bytes`; "-" writes standard output.
bool WriteFile(const std::string& path, const std::string& bytes, std::string* error);

// Tells the form of `bytes` and gives the plain flat bag they hold. Checks the
// lead, the lengths and the size field; the records are checked by BagOfPlain.
bool PlainFlatOf(const std::string& bytes, BagForm* form, std::string* plain, std::string* error);

// The bag of a plain flat form, or null when its records are not valid.
ZoBag* BagOfPlain(const std::string& plain, std::string* error);

// PlainFlatOf and BagOfPlain over the file at `path`.
ZoBag* LoadBag(const std::string& path, std::string* error);

// The bytes of `bag` in `form`: the same bytes SaveToFile, or Flatten in
// plain or compressed form, would give.
bool BagBytes(ZoBag* bag, BagForm form, std::string* bytes, std::string* error);
