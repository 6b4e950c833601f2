#include "SizeCalcFixture.h"
#include "formats/CarvingFormat.h"
#include "sizecalc/SizeCalculator.h"

#include <gtest/gtest.h>

class SizeCalculatorChainTest : public SizeCalcFixture {};

// Every row of the carving table that this build measures has its calculator, in table order.
TEST_F(SizeCalculatorChainTest, CalculatorsComeInTableOrderAndAnswerForTheirRow) {
    std::vector<std::string_view> keys;
    for (const CarvingFormat& f : CarvingFormat::table())
        keys.push_back(f.key);
    const auto image = imageWith(std::string(512, '\0'), 0);
    SizeCalculatorChain chain(contextOver(image), keys);
    std::size_t row = 0;
    for (const auto& c : chain.calculators()) {
        while (CarvingFormat::table()[row].key != c->parentKey())
            ++row;
        EXPECT_EQ(c->firstByteOfHeader(), CarvingFormat::table()[row].firstByteOfHeader);
    }
    EXPECT_FALSE(chain.measure(platform::ByteView(leadingBytes(image, 0)), 0));
}
