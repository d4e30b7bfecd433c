// What the record on disk does against another user of a shared folder on Linux: symbolic
// links planted beside it or in its place, a FIFO swapped in, and the mode of the file written.
// Records of other users are record_owner.sh's (it needs root to act as them).
#include "RecordFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

RecordEntry entry()
{
    return {Mac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 1},
            ip("10.0.0.101"),
            ip("255.255.255.0"),
            ip("10.0.0.1"),
            localTimeText(),
            Confirmed::Pending,
            "",
            {},
            {},
            {}};
}

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// A racer swaps the checked record for a FIFO before it is opened: the read is refused at
// once instead of waiting for a writer that never comes.
TEST_F(RecordOnDisk, AFifoSwappedInIsRefusedNotWaitedOn)
{
    const std::string path = m_dir + "/record.csv";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string text;
        text::Twin why;
        const bool read = readFile(path, 1 << 20, text, why, true);
        ::_exit(!read && why.english.find("not a regular file") != std::string::npos ? 0 : 1);
    }
    int status = -1;
    for (int i = 0; i < 50 && ::waitpid(child, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (::waitpid(child, &status, WNOHANG) == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the read waited on the FIFO";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The rewritten record never takes a special bit or a wider mode from the old file, and one
// that others may write is refused before it is read.
TEST_F(RecordOnDisk, TheRewrittenRecordKeepsNoSpecialBit)
{
    const std::string path = m_dir + "/record.csv";
    const mode_t umask = ::umask(022);
    std::string error;
    text::Twin why;
    RecordFile file(path, {});
    ASSERT_TRUE(file.put(entry(), error)) << error;
    EXPECT_EQ(modeOf(path), 0644u);
    ASSERT_EQ(::chmod(path.c_str(), 06755), 0);
    ASSERT_TRUE(file.put(entry(), error)) << error;
    EXPECT_EQ(modeOf(path), 0644u);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(file.put(entry(), error)) << error;
    EXPECT_EQ(modeOf(path), 0600u);
    ::umask(077);
    ::unlink(path.c_str());
    ASSERT_TRUE(file.put(entry(), error)) << error;
    EXPECT_EQ(modeOf(path), 0600u);
    ::umask(umask);

    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    std::string text;
    EXPECT_FALSE(recordPathUsable(path, why));
    EXPECT_NE(why.english.find("others can write to it"), std::string::npos) << why.english;
    EXPECT_FALSE(readFile(path, 1 << 20, text, why, true));
    EXPECT_FALSE(file.put(entry(), error));
    EXPECT_EQ(modeOf(path), 0666u);
}

} // namespace
