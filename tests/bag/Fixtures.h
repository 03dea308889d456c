// The bag behind the committed fixtures under tests/bag/fixtures/<arch>/:
// written on every architecture by MakeFixtures, read on every architecture
// by FlatFixtures (FlatTest.cpp).
#pragma once

#include <zolib/bag/Bag.h>

#include <memory>
#include <string>

// Every element type but T_POINTER, whose bytes belong to the host that
// stored them (their width and order are that host's). Multi-byte values
// have a different value in each byte, so a swap missed or done twice shows.
inline std::unique_ptr<ZoBag> FixtureBag() {
    ZoBag deeper(0x44454550, 0);
    deeper.Setstring("where", "deep", 0);
    deeper.Setint16("short", 0x0102, 0);
    ZoBag inner(0x494E4E52, 0);
    inner.who = 0x01020304;
    inner.Setint32("int32", 0x0A0B0C0D, 0);
    inner.Setfloat64("float64", 0.1, 0);
    inner.Setbag("deeper", &deeper, 0);

    auto bag = std::make_unique<ZoBag>(0x46495854, 0);
    bag->who = 0xA1B2C3D4;
    bag->when = 1700000000;
    bag->Setstring("text", "hi", 0);
    bag->Setstring("text", "", 0);
    bag->Setbool("bool", true, 0);
    bag->Setbool("bool", false, 0);
    bag->Setint8("int8", -5, 0);
    bag->Setint16("int16", 0x1234, 0);
    bag->Setint16("int16", -2, 0);
    bag->Setint32("int32", 0x12345678, 0);
    bag->Setint32("int32", -123456789, 0);
    bag->Setint64("int64", 0x0102030405060708LL, 0);
    bag->Setint64("int64", -(1LL << 40) - 3, 0);
    bag->Setfloat32("float32", 3.14159f, 0);
    bag->Setfloat32("float32", -0.15625f, 0);
    bag->Setfloat64("float64", 2.718281828459045, 0);
    bag->Setfloat64("float64", -1e300, 0);
    const unsigned char buffer[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xFF};
    bag->Setdata("buffer", T_BUFFER, buffer, sizeof buffer, 0);
    ZoBag empty(0, 0);
    bag->Setbag("bag", &inner, 0);
    bag->Setbag("bag", &empty, 0);
    return bag;
}

// The fixture files: the plain and the compressed flat form, and a bag file.
constexpr const char* kFixturePlain = "plain.flat";
constexpr const char* kFixtureZipped = "zipped.flat";
constexpr const char* kFixtureFile = "file.bag";
