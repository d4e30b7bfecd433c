#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

// What the record and page-check tests need from the system, on Linux and on Windows.
namespace assign::test {

/// A folder of its own under the system's temporary folder, removed with the fixture.
class TemporaryFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        std::random_device random;
        for (int attempt = 0; attempt < 16 && m_dir.empty(); ++attempt) {
            const fs::path dir =
                fs::temp_directory_path() / ("assign-record-" + std::to_string(random()));
            if (fs::create_directory(dir)) {
                m_dir = dir.string();
            }
        }
        ASSERT_FALSE(m_dir.empty());
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string m_dir;
};

/// A listening socket on 127.0.0.1 with a port the system chose.
class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    void listen();
    /// Accepts one connection, reads the request and answers with text.
    void answerOnce(const std::string& text);

    std::uint16_t port = 0;
    std::string request;

private:
    std::uintptr_t m_socket;
};

} // namespace assign::test
