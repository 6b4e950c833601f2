#include "results/ResultText.h"

#include "results/NewDirViewHelper.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace {
std::uint32_t dos(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned seconds) {
    const unsigned date = ((year - 1980) << 9) | (month << 5) | day;
    const unsigned time = (hour << 11) | (minute << 5) | (seconds / 2);
    return (date << 16) | time;
}
} // namespace

TEST(SizeText, UnitsOfAThousandInSinglePrecision) {
    EXPECT_EQ(ResultText::sizeString(0), "0 KB");
    EXPECT_EQ(ResultText::sizeString(1), "0.00 KB");
    EXPECT_EQ(ResultText::sizeString(999999), "1000.00 KB");
    EXPECT_EQ(ResultText::sizeString(1000000), "1.00 MB");
    EXPECT_EQ(ResultText::sizeString(1000000000), "1.00 GB");
    EXPECT_EQ(ResultText::sizeString(4500), "4.50 KB");
    EXPECT_EQ(ResultText::dataInFilesString(4500, 3), "4.50 KB in 3 Files");
}

// The progress screen and the saving's total keep their own zero and rounding.
TEST(SizeText, EachPlaceKeepsItsZeroAndRounding) {
    using R = ResultText;
    EXPECT_EQ(R::sizeString(0, R::ZeroSize::TwoPlaces), "0.00 KB");
    EXPECT_EQ(R::sizeString(5, R::ZeroSize::TwoPlaces), "0.00 KB");
    EXPECT_EQ(R::sizeString(5, R::ZeroSize::TwoPlaces, R::Precision::Double), "0.01 KB");
}

TEST(DateText, DosDatesWithoutPaddingAndImpossibleOnesAsADash) {
    EXPECT_EQ(ResultText::getStringForDOSDate(dos(2009, 7, 4, 13, 5, 58)), "2009-7-4 13:5:58");
    // Half past midnight and the first minute of an hour are real times.
    EXPECT_EQ(ResultText::getStringForDOSDate(dos(2009, 7, 4, 0, 30, 0)), "2009-7-4 0:30:0");
    EXPECT_EQ(ResultText::getStringForDOSDate(dos(2009, 7, 4, 13, 0, 2)), "2009-7-4 13:0:2");
    for (std::uint32_t impossible :
         {dos(1980, 1, 1, 10, 10, 10), dos(2009, 0, 4, 10, 10, 10), dos(2009, 13, 4, 10, 10, 10),
          dos(2009, 7, 0, 10, 10, 10), dos(2009, 7, 4, 24, 10, 10), dos(2009, 7, 4, 10, 60, 10)})
        EXPECT_EQ(ResultText::getStringForDOSDate(impossible), "-") << std::hex << impossible;
    EXPECT_EQ(ResultText::dateString(dos(2009, 7, 4, 13, 5, 58), 1), "2009-7-4 13:5:58");
}

TEST(DateText, HfsTimesInTheLocalZone) {
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(ResultText::dateString(0, 0), " - ");
    // 2011-03-07 09:05:00 GMT.
    EXPECT_EQ(ResultText::dateString(2082844800u + 1299488700u, 0), "2011-03-07 09:05:00");
    EXPECT_EQ(ResultText::dateString(1234, 3), "");
    if (oldTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// Names and extensions of named nodes show in the file-types view (see
// ArrangementTest); a node without a name shows an empty one.
TEST(OutlineItem, ANodeWithoutANameShowsAnEmptyName) {
    NewDir* unnamed = newdir::allocate();
    EXPECT_EQ(NewDirViewHelper::initWithNewDir(unnamed)->fileName(), "");
    auto counted = NewDirViewHelper::initWithNewDir(unnamed, true);
    counted->setFileName("jpg");
    EXPECT_EQ(counted->shownName(), "jpg [0]");
    delete unnamed;
}
