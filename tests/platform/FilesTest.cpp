#include "platform/InfoPlist.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/SystemLog.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {
// Sets an environment variable for one test and restores it after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};
} // namespace

TEST(Paths, StateAndDataFoldersFollowXdgAreCreatedAnOverrideReplacesBothAndSessionsGoToTheDesktop) {
    fs::path tmp = testsupport::makeTempDir("xdg");
    ScopedEnv noOverride("DRENTIC_STATE_DIR", "");
    ::unsetenv("DRENTIC_STATE_DIR");
    ScopedEnv state("XDG_STATE_HOME", (tmp / "state").string());
    ScopedEnv data("XDG_DATA_HOME", (tmp / "data").string());
    EXPECT_EQ(stateDir(), (tmp / "state" / "drentic-recovery").string());
    EXPECT_EQ(dataDir(), (tmp / "data" / "drentic-recovery").string());
    EXPECT_TRUE(fs::is_directory(tmp / "state" / "drentic-recovery"));
    struct stat st {};
    ASSERT_EQ(::stat((tmp / "state" / "drentic-recovery").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    {
        ScopedEnv o("DRENTIC_STATE_DIR", (tmp / "all").string());
        EXPECT_EQ(stateDir(), (tmp / "all").string());
        EXPECT_EQ(dataDir(), (tmp / "all").string());
    }
    ::unsetenv("DRENTIC_STATE_DIR");
    ScopedEnv home("HOME", tmp.string());
    ScopedEnv rel("XDG_STATE_HOME", "relative/path");
    EXPECT_EQ(stateDir(), (tmp / ".local/state/drentic-recovery").string());
    // Sessions go to the desktop folder, else home.
    ScopedEnv cfg("XDG_CONFIG_HOME", (tmp / ".config").string());
    EXPECT_EQ(defaultSessionDir(), tmp.string());
    fs::create_directories(tmp / "Schreibtisch");
    fs::create_directories(tmp / ".config");
    std::ofstream(tmp / ".config/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    EXPECT_EQ(defaultSessionDir(), (tmp / "Schreibtisch").string());
}

TEST(InfoPlist, ReadsVersionAndUpdateAddressFromTheBundleAndNothingFromGarbage) {
    ScopedEnv res("DRENTIC_RESOURCE_DIR", DRENTIC_RESOURCES_SOURCE);
    auto info = InfoPlist::loadFromBundle();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->shortVersionString(), "1.0.1");
    EXPECT_TRUE(info->dictionary().contains("cloudPlistUrl"));
    fs::path tmp = testsupport::makeTempDir("plist");
    EXPECT_FALSE(InfoPlist::load((tmp / "none.plist").string()));
    for (const char* text :
         {"<?xml version=\"1.0\"?><plist><dict><key>a</key>", "<?xml version=\"1.0\"?><plist><array/></plist>"}) {
        testsupport::writeText(tmp / "bad.plist", text);
        EXPECT_FALSE(InfoPlist::load((tmp / "bad.plist").string())) << text;
    }
}

TEST(PropertyList, ValuesRoundTripThroughXml) {
    Value v(Dict{{"name", "x"}, {"n", -7}, {"list", Array{1.5, true, Data{1, 2}}}});
    auto xml = PropertyList::toXml(v);
    ASSERT_TRUE(xml);
    auto back = PropertyList::read(Data(xml->begin(), xml->end()));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v);
}

TEST(SystemLog, FormattedLinesReachTheSink) {
    std::vector<std::string> lines;
    setLogSink([&](const std::string& l) { lines.push_back(l); });
    logFormat("Unable to read from the drive %@ error: %d", "/dev/sdz", 6);
    setLogSink(nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Unable to read from the drive /dev/sdz error: 6");
}

TEST(SystemLog, ControlCharactersAndStrayBytesOfAMediumsTextAreEscapedAndUTF8Kept) {
    EXPECT_EQ(escapedText("a\nb\tc\r\x1b[31m\\\x7f\xc2\x9b\xff\xe2\x82 \xc3\x9cn\xc3\xaf \xe2\x82\xac"),
              "a\\nb\\tc\\r\\x1b[31m\\\\\\x7f\\xc2\\x9b\\xff\\xe2\\x82 \xc3\x9cn\xc3\xaf \xe2\x82\xac");
    testsupport::LogCapture log;
    logFormat("Cannot save %@", "evil\n\x1b]0;name\x07.txt");
    EXPECT_EQ(log.lines, std::vector<std::string>{"Cannot save evil\\n\\x1b]0;name\\x07.txt"});
}
