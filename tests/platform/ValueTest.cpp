#include "platform/Value.h"

#include "platform/Format.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {
struct Named : Object {
    std::string className() const override { return "Named"; }
    std::string description() const override { return "a named thing"; }
};
} // namespace

TEST(Value, AbsentValueFormatsAsNullAndReadsAsZeroCopiesAreDeepAndMovesLeaveNull) {
    Dict d;
    const Value& v = d.get("Preferred Block Size");
    EXPECT_TRUE(v.isNull());
    EXPECT_EQ(v.description(), "(null)");
    EXPECT_EQ(v.intValue(), 0);
    EXPECT_EQ(v.uint64Value(), 0u);
    EXPECT_FALSE(v.boolValue());
    EXPECT_EQ(v.stringValue(), "");
    EXPECT_TRUE(v.arrayValue().empty());
    EXPECT_EQ(format("%@", d.get("device model")), "(null)");
    Dict inner{{"Path", "/dev/sdb"}};
    Dict outer{{"drive", inner}, {"list", Array{1, 2, 3}}};
    Value a(outer);
    Value b = a;
    b.dict()->get("drive"); // reading does not add
    (*b.dict())["drive"].dict()->set("Path", "/dev/sdc");
    b.dict()->get("list");
    (*b.dict())["list"].array()->push_back(4);
    EXPECT_EQ(a.dictValue().get("drive").dictValue().get("Path").stringValue(), "/dev/sdb");
    EXPECT_EQ(a.dictValue().get("list").arrayValue().size(), 3u);
    EXPECT_EQ(b.dictValue().get("list").arrayValue().size(), 4u);

    Value c = std::move(b);
    EXPECT_TRUE(b.isNull());
    EXPECT_TRUE(b.arrayValue().empty());
    EXPECT_EQ(c.dictValue().get("drive").dictValue().get("Path").stringValue(), "/dev/sdc");
}

TEST(Value, NumbersConvertCompareAcrossKindsAndFormatDescriptionsObjectsHeldByReference) {
    Value big(static_cast<unsigned long long>(0xFFFFFFFF00000200ull));
    EXPECT_EQ(big.uint64Value(), 0xFFFFFFFF00000200ull);
    EXPECT_EQ(big.unsignedIntValue(), 0x200u); // low bits kept
    EXPECT_EQ(Value(-1).uint64Value(), UINT64_MAX);
    EXPECT_EQ(Value(3.9).intValue(), 3);
    EXPECT_EQ(Value(-3.9).int64Value(), -3);
    EXPECT_EQ(Value(true).intValue(), 1);
    EXPECT_DOUBLE_EQ(Value(7u).doubleValue(), 7.0);
    EXPECT_EQ(Value("12").intValue(), 0); // a string is not a number
    EXPECT_EQ(Value(1e300).int64Value(), INT64_MAX);
    EXPECT_EQ(Value(512), Value(512u));
    EXPECT_EQ(Value(1), Value(true));
    EXPECT_EQ(Value(2.0), Value(2));
    EXPECT_FALSE(Value(-1) == Value(UINT64_MAX));
    EXPECT_FALSE(Value("1") == Value(1));
    EXPECT_EQ(Value(Array{1, "a"}).description(), "(\n    1,\n    a\n)");
    EXPECT_EQ(Value(Dict{{"k", 5}}).description(), "{\n    k = 5;\n}");
    EXPECT_EQ(Value(Data{0xde, 0xad, 0xbe, 0xef, 0x01}).description(), "<deadbeef 01>");
    EXPECT_EQ(Value(std::make_shared<Named>()).description(), "a named thing");
    EXPECT_EQ(Value(1.5).description(), "1.5");
    auto obj = std::make_shared<Named>();
    Value v(obj);
    Value w = v;
    EXPECT_EQ(v, w);
    EXPECT_EQ(w.objectAs<Named>().get(), obj.get());
    EXPECT_FALSE(Value(std::make_shared<Named>()) == v);
    EXPECT_EQ(Value(ObjectPtr()).type(), Value::Type::Null);
    // The formatter's object and numeric conversions.
    EXPECT_EQ(format("Unable to read from the drive %@ error: %d", "/dev/sdb", 5),
              "Unable to read from the drive /dev/sdb error: 5");
    EXPECT_EQ(format("%.2f KB", 1.5), "1.50 KB");
    EXPECT_EQ(format("%llu sectors", 123456789012ull), "123456789012 sectors");
    EXPECT_EQ(format("%u%%", 50), "50%");
    EXPECT_EQ(format("0%@", 7), "07");
    EXPECT_EQ(format("LostFolder%d", 3), "LostFolder3");
    // Missing arguments show as absent values, never read past the list.
    EXPECT_EQ(format("%@ and %@", "one"), "one and (null)");
    EXPECT_EQ(format("%d", Value()), "0");
    // A trailing lone percent sign is kept as written.
    EXPECT_EQ(format("100%"), "100%");
}
