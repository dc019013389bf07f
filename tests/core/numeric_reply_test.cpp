// The grammar of voltage and current replies: which texts are accepted, which values they
// leave, and that nothing oversized is taken in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/numeric_reply.h"

namespace pz4 {
namespace {

constexpr const char* kSerial24 = "123456789012345678901234";

struct Case {
    std::string text;
    bool accepted;
    std::vector<std::int32_t> values;  // what was stored, in order
    const char* serial = "42";
};

TEST(NumericReplyTest, AcceptsTheGrammarAndStoresFieldByField) {
    const Case cases[] = {
        {"42,100,-5,0", true, {100, -5, 0}},
        {"42,1,2", true, {1, 2}},
        // Empty line or the leading token alone: a reply with no reading answers nothing.
        {"", false, {}},
        {"42", false, {}},
        {"43", false, {}},
        {"42 ", false, {}},
        {"43,1,2,3", false, {}},
        {"042,1", false, {}},
        // Blanks may stand before a comma or the end, never after a comma.
        {"42 ,1\t,2 \t,3  ", true, {1, 2, 3}},
        {"42, 1", false, {}},
        {"42,1, 2", false, {1}},
        {"4 2,1", false, {}},
        // Values convert as atoi does.
        {"42,+12,12-3,-", true, {12, 12, 0}},
        {"42,--5,+-1,+", true, {0, 0, 0}},
        {"42,123456789,-12345678", true, {123456789, -12345678}},
        // Any other character where a blank, comma or end may stand.
        {"42,7,1.5", false, {7}},
        {"42,1a", false, {}},
        {"42x,1", false, {}},
        {"42,1\v", false, {}},
        {"42,1\xFF", false, {}},
        {"ERR", false, {}},
        // Mended limits: no fourth field, no oversized token, no empty value.
        {"42,1,2,3,4", false, {1, 2, 3}},
        {"42,1234567890", false, {}},
        {"42,-123456789", false, {}},
        {"42,", false, {}},
        {"42,,1", false, {}},
        {"42,1,", false, {1}},
        {"42,1, ,2", false, {1}},
        {std::string(kSerial24) + ",9", true, {9}, kSerial24},
        {std::string(kSerial24) + "5", false, {}, kSerial24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + c.text + "\" against " + c.serial);
        Readings readings;
        readings.values = {-7, -7, -7};
        EXPECT_EQ(parseNumericReply(c.text, c.serial, readings), c.accepted);
        ASSERT_EQ(readings.count, static_cast<int>(c.values.size()));
        for (std::size_t i = 0; i < readings.values.size(); ++i) {
            // Slots no field reached keep what they held.
            EXPECT_EQ(readings.values[i], i < c.values.size() ? c.values[i] : -7) << "slot " << i;
        }
    }
}

}  // namespace
}  // namespace pz4
