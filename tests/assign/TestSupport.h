#pragma once

#include "Twin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
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

/// The facts a sentence names: quoted values, options, and addresses or numbers that stand
/// alone (the 2 of "line 2", not the one in "C2-3D"), with how often each is named.
inline std::map<std::string, int> factsIn(const std::string& text)
{
    static const std::regex fact(
        "(?:^|[^0-9A-Za-z.-])('[^']*'|--[a-z][a-z-]*|[0-9][0-9A-Za-z.:/+-]*)");
    std::map<std::string, int> facts;
    for (std::sregex_iterator i(text.begin(), text.end(), fact), end; i != end; ++i) {
        ++facts[(*i)[1].str()];
    }
    return facts;
}

/// A refusal said in both languages: a Japanese sentence of its own that names every fact the
/// English one names, as often, so that the place of the fault is in both.
inline void expectBothLanguages(const text::Twin& said)
{
    EXPECT_FALSE(said.english.empty());
    EXPECT_NE(said.japanese, said.english);
    EXPECT_TRUE(std::any_of(said.japanese.begin(), said.japanese.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        << "not Japanese: " << said.japanese;
    const std::map<std::string, int> japanese = factsIn(said.japanese);
    for (const auto& [fact, times] : factsIn(said.english)) {
        const auto found = japanese.find(fact);
        EXPECT_GE(found == japanese.end() ? 0 : found->second, times)
            << "the Japanese lacks " << fact << ": " << said.japanese << " / " << said.english;
    }
}

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
