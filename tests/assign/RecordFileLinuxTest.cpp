// What the record on disk does against another user of a shared folder on Linux: symbolic
// links planted beside it or in its place.
#include "RecordFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

using namespace assign;

namespace {

using RecordOnDisk = assign::test::TemporaryFolder;

Ip ip(const char* text)
{
    text::Twin why;
    return *parseIp(text, why);
}

TEST_F(RecordOnDisk, SharedFolderAttacksAreRefusedOrHarmless)
{
    namespace fs = std::filesystem;
    const std::string path = m_dir + "/record.csv";
    const std::string victim = m_dir + "/victim";
    {
        std::FILE* f = std::fopen(victim.c_str(), "w");
        std::fputs("the operator's own file\n", f);
        std::fclose(f);
    }
    ::chmod(victim.c_str(), 0600);
    // Another user plants a link at the name the temporary file once had.
    fs::create_symlink(victim, path + ".tmp");
    RecordFile file(path, {});
    std::string error;
    text::Twin why;
    RecordEntry e{Mac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 1},
                  ip("10.0.0.101"),
                  ip("255.255.255.0"),
                  ip("10.0.0.1"),
                  localTimeText(),
                  Confirmed::Pending,
                  "",
                  {},
                  {},
                  {}};
    ASSERT_TRUE(file.put(e, error)) << error;
    std::string text;
    ASSERT_TRUE(readFile(victim, 1 << 20, text, why)) << why.english;
    EXPECT_EQ(text, "the operator's own file\n");
    EXPECT_TRUE(fs::is_symlink(path + ".tmp"));
    EXPECT_FALSE(fs::is_symlink(path));
    // Nothing else is left in the folder: the record, the victim and the planted link.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator{}), 3);

    // A record that is itself a link is refused, before the run and at every write.
    const std::string linked = m_dir + "/linked.csv";
    fs::create_symlink(path, linked);
    RecordFile viaLink(linked, {});
    EXPECT_FALSE(viaLink.writable(why));
    EXPECT_NE(why.english.find("is a symbolic link"), std::string::npos) << why.english;
    EXPECT_FALSE(viaLink.put(e, error));
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_FALSE(readFile(linked, 1 << 20, text, why, true));
    EXPECT_NE(why.english.find("is a symbolic link"), std::string::npos) << why.english;
}

} // namespace
