#include "signatures/Sig.h"

#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"
#include "signatures/SigNode.h"

#include <gtest/gtest.h>

namespace {

Sig jpeg() {
    Sig s;
    s.preInstalled = true;
    s.categoryID = 3;
    s.category = "Images";
    s.typeOfFile = 3;
    s.software = "JPEG image";
    s.extension = "jpg";
    s.offset = 0;
    s.headerLength = 3;
    s.header = 0xFFD8FF;
    s.defaultSize = 40;
    s.userSize = 7;
    s.foundSize = 123;
    s.skipSize = 9;
    s.skipFileSize = true;
    return s;
}

std::shared_ptr<SigNode> fileType(const Sig& sig, std::uint8_t selected) {
    auto n = std::make_shared<SigNode>();
    n->fileTypeSigNode = SigNode::FileType;
    n->category = sig.category;
    n->selected = selected;
    n->setSig(sig);
    return n;
}

platform::Value roundTrip(const platform::Value& root, std::string* error = nullptr) {
    SigNode::registerArchiveClass();
    auto data = platform::KeyedArchiver::archivedDataWithRootObject(root, error);
    if (!data) return {};
    auto back = platform::KeyedUnarchiver::unarchiveObjectWithData(*data, error);
    return back ? *back : platform::Value();
}

bool sameFields(const Sig& a, const Sig& b) {
    return a.preInstalled == b.preInstalled && a.categoryID == b.categoryID && a.category == b.category &&
           a.typeOfFile == b.typeOfFile && a.software == b.software && a.extension == b.extension &&
           a.offset == b.offset && a.headerLength == b.headerLength && a.header == b.header &&
           a.defaultSize == b.defaultSize && a.userSize == b.userSize && a.foundSize == b.foundSize &&
           a.skipSize == b.skipSize && a.skipFileSize == b.skipFileSize;
}

} // namespace

TEST(Sig, CopiesAndArchivesCarryEveryStoredFieldButNeverTheChainedRecords) {
    Sig s = jpeg();
    s.addToExtraExts(s);
    s.addToExtraExts(s);
    ASSERT_EQ(s.extraExts().size(), 2u);
    EXPECT_NE(s.extraExts()[0], s.extraExts()[1]);
    EXPECT_TRUE(sameFields(*s.extraExts()[0], s));
    auto copy = s.mutableCopy();
    EXPECT_TRUE(sameFields(*copy, s));
    EXPECT_TRUE(copy->extraExts().empty());

    auto node = fileType(s, 1);
    EXPECT_NE(node->sig().get(), &s);
    auto back = std::dynamic_pointer_cast<SigNode>(roundTrip(platform::Value(node)).object());
    ASSERT_TRUE(back && back->sig());
    EXPECT_TRUE(sameFields(*back->sig(), s));
    EXPECT_TRUE(back->sig()->extraExts().empty());
    EXPECT_EQ(back->selected, 1);
    EXPECT_EQ(back->fileTypeSigNode, SigNode::FileType);
    // Values whose top bit is set survive the signed coder types.
    s.header = 0xFFFFFFFFFFFFFFFFull;
    s.userSize = 1ull << 63;
    s.typeOfFile = 0x80000001u;
    back = std::dynamic_pointer_cast<SigNode>(roundTrip(platform::Value(fileType(s, 0))).object());
    ASSERT_TRUE(back && back->sig());
    EXPECT_TRUE(sameFields(*back->sig(), s));
}

TEST(Sig, TheSizeLimitIsUserSizeElseDefaultSizeInSixtyFourBits) {
    Sig s;
    s.defaultSize = 5000;
    EXPECT_EQ(s.sizeLimitBytes(), 5000ull << 20);
    s.userSize = 1ull << 50;
    EXPECT_EQ(s.sizeLimitBytes(), ~0ull);
}

TEST(SigNode, CountsGoDepthFirstBelowTheNodeAndTheTreeDecodesWithoutParents) {
    auto category = std::make_shared<SigNode>();
    category->fileTypeSigNode = SigNode::Category;
    category->category = "Images";
    EXPECT_EQ(category->childrenSelected(), 0u);
    EXPECT_EQ(category->childrenCount(), 0u);
    for (int i = 0; i < 5; ++i) {
        auto child = fileType(jpeg(), i < 2);
        child->setParent(category);
        category->addChild(child);
    }
    auto nested = std::make_shared<SigNode>();
    nested->fileTypeSigNode = SigNode::Category;
    nested->addChild(fileType(jpeg(), 1));
    category->addChild(nested);
    EXPECT_EQ(category->childrenSelected(), 3u);
    EXPECT_EQ(category->childrenCount(), 7u);
    EXPECT_EQ(category->children()[0]->parent(), category);

    const platform::Array list{platform::Value(category)};
    const platform::Value back = roundTrip(list);
    ASSERT_TRUE(back.isArray());
    auto decoded = std::dynamic_pointer_cast<SigNode>(back.arrayValue().at(0).object());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->childrenCount(), 7u);
    EXPECT_EQ(decoded->childrenSelected(), 3u);
    EXPECT_EQ(decoded->children()[0]->parent(), nullptr);
    EXPECT_FALSE(decoded->containsPreInstalledChildren);
    EXPECT_EQ(decoded->sig(), nullptr);
}

TEST(SigNode, ARecordOfTheWrongClassFailsTheWholeList) {
    // A Sig where a child node belongs.
    class Impostor : public SigNode {
    public:
        void encodeWithCoder(platform::KeyedArchiver& coder) const override {
            SigNode::encodeWithCoder(coder);
            coder.encodeObject(platform::Array{platform::Value(std::make_shared<Sig>())}, "children");
        }
    };
    std::string error;
    EXPECT_TRUE(roundTrip(platform::Array{platform::Value(std::make_shared<Impostor>())}, &error).isNull());
    EXPECT_NE(error.find("not a SigNode"), std::string::npos) << error;
}
