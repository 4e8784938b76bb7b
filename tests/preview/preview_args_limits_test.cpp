// Frame sizes at the far end of int, where the size check itself must not
// overflow: the product of two such sides times 4 exceeds 64 bits.

#include <gtest/gtest.h>

#include <initializer_list>

#include "parse_words.h"
#include "preview_args.h"

namespace {

using Parsed = talvek::testing::Parsed<Args>;

Parsed parse(std::initializer_list<const char*> words) {
    return talvek::testing::parse_words<Args>("preview", words, parse_args);
}

TEST(PreviewArgsLimits, LargestIntSidesAreRefused) {
    // Numbers beyond int saturate at INT_MAX, so both spellings meet here.
    for (const char* side : {"2147483647", "99999999999"}) {
        Parsed p = parse({"--port", "5000", "--width", side, "--height", side});
        EXPECT_FALSE(p.ok) << side;
        EXPECT_EQ(p.errors, "[Preview] Error: Invalid dimensions 2147483647x2147483647\n");
    }
}

TEST(PreviewArgsLimits, LargestFrameThatFitsIsTakenAndOneMoreIsNot) {
    // 536870911 pixels are 2147483644 bytes; 536870912 would be 2^31.
    EXPECT_TRUE(parse({"--port", "5000", "--width", "536870911", "--height", "1"}).ok);
    EXPECT_FALSE(parse({"--port", "5000", "--width", "536870912", "--height", "1"}).ok);
    EXPECT_FALSE(parse({"--port", "5000", "--width", "1073741824", "--height", "1073741824"}).ok);
}

}  // namespace
