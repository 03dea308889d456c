#include <zolib/bag/Bag.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "BagFiles.h"
#include "bag/FlatBytes.h"

namespace {

using std::string;

void Fill(ZoBag* bag) {
    bag->who = 3;
    bag->Setstring("s", "text", 0);
    bag->Setint32("n", 1, 0);
    bag->Setint32("n", 2, 0);
}

string LengthWord(size_t n) {
    return Le32(static_cast<uint32_t>(n));
}

string SavedFile(ZoBag& bag) {
    char path[] = "/tmp/zobag_files_XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    EXPECT_TRUE(SaveToFile(path, &bag));
    string bytes, error;
    EXPECT_TRUE(ReadFile(path, &bytes, &error)) << error;
    unlink(path);
    return bytes;
}

// Refusal message for `bytes`, empty when they were taken.
string RefusalOf(const string& bytes) {
    string plain, error;
    BagForm form;
    if (PlainFlatOf(bytes, &form, &plain, &error)) return "";
    return error;
}

TEST(BagForms, EveryFormGivesThePlainFlatBag) {
    ZoBag bag(0xBEEF, 0);
    Fill(&bag);
    const string plain = PlainOf(bag);
    const struct {
        string bytes;
        BagForm form;
    } inputs[] = {
        {SavedFile(bag), BagForm::File},
        {plain, BagForm::Plain},
        {ZippedOf(bag), BagForm::Zipped},
        {LengthWord(plain.size()) + plain, BagForm::File},  // a bag file holding the plain form
    };
    for (const auto& input : inputs) {
        string out, error;
        BagForm form;
        ASSERT_TRUE(PlainFlatOf(input.bytes, &form, &out, &error)) << error;
        EXPECT_EQ(form, input.form);
        EXPECT_EQ(out, plain);
    }
}

TEST(BagForms, WrittenBytesAreTheLibrarysOwn) {
    ZoBag bag(0xBEEF, 0);
    Fill(&bag);
    string bytes, error;
    ASSERT_TRUE(BagBytes(&bag, BagForm::File, &bytes, &error));
    EXPECT_EQ(bytes, SavedFile(bag));
    ASSERT_TRUE(BagBytes(&bag, BagForm::Plain, &bytes, &error));
    EXPECT_EQ(bytes, PlainOf(bag));
    ASSERT_TRUE(BagBytes(&bag, BagForm::Zipped, &bytes, &error));
    EXPECT_EQ(bytes, ZippedOf(bag));
}

TEST(BagForms, DamagedInputsAreRefusedWithTheReason) {
    ZoBag bag(0xBEEF, 0);
    Fill(&bag);
    string plain = PlainOf(bag);
    string zipped = ZippedOf(bag);
    string file = LengthWord(zipped.size()) + zipped;

    EXPECT_EQ(RefusalOf(""), "the file is empty");
    EXPECT_NE(RefusalOf("hello, world").find("not a bag file or a flat bag"), string::npos);
    EXPECT_NE(RefusalOf(file.substr(0, file.size() - 1)).find("cut short"), string::npos);
    EXPECT_NE(RefusalOf(file + "xy").find("2 bytes after its flat bag"), string::npos);
    EXPECT_NE(RefusalOf(plain.substr(0, 20)).find("shorter than its 24-byte header"), string::npos);
    EXPECT_NE(RefusalOf(plain + "x").find("size field says"), string::npos);
    string flagged = plain;
    flagged[3] = 7;
    EXPECT_NE(RefusalOf(flagged).find("unknown compression flag 7"), string::npos);
    string damaged = zipped;
    damaged[damaged.size() / 2] ^= 0x55;
    damaged.back() ^= 0x55;
    EXPECT_NE(RefusalOf(damaged).find("does not decompress"), string::npos);
    EXPECT_NE(RefusalOf(zipped.substr(0, zipped.size() - 3)).find("does not decompress"),
              string::npos);

    // Records that run past the bag pass the header checks; the bag refuses them.
    string cut = FlatOf(0, {{ZoBag::Hash("n"), "n", T_INT32, {"\1\2\3\4"}}});
    cut.resize(cut.size() - 2);
    cut.replace(16, 4, LengthWord(cut.size()));
    string out, error;
    BagForm form;
    ASSERT_TRUE(PlainFlatOf(cut, &form, &out, &error)) << error;
    EXPECT_EQ(BagOfPlain(out, &error), nullptr);
    EXPECT_NE(error.find("records are not valid"), string::npos);
}

}  // namespace
