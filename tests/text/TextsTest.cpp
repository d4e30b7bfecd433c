#include "Texts.h"
#include "Environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

using text::Id;
using text::Lang;

/// Sets the four locale variables for one test and puts them back afterwards.
class LocaleEnvironment {
public:
    LocaleEnvironment()
    {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (const char* v = std::getenv(kNames[i])) {
                m_saved[i] = v;
            }
            testenv::unset(kNames[i]);
        }
    }
    ~LocaleEnvironment()
    {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (m_saved[i]) {
                testenv::set(kNames[i], m_saved[i]->c_str());
            } else {
                testenv::unset(kNames[i]);
            }
        }
    }
    void set(const char* name, const char* value) { testenv::set(name, value); }

private:
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string> m_saved[4];
};

struct EnvCase {
    const char* language;
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    Lang expected;
};

class LanguageRule : public testing::TestWithParam<EnvCase> {};

TEST_P(LanguageRule, FollowsTheDesktopsVariables)
{
    const EnvCase& c = GetParam();
    LocaleEnvironment env;
    for (const auto& [name, value] : {std::pair{"LANGUAGE", c.language}, {"LC_ALL", c.lcAll},
                                      {"LC_MESSAGES", c.lcMessages}, {"LANG", c.lang}}) {
        if (value != nullptr) {
            env.set(name, value);
        }
    }
    EXPECT_EQ(text::languageFromEnvironment(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Variables, LanguageRule,
    testing::Values(
        EnvCase{nullptr, nullptr, nullptr, nullptr, Lang::Japanese},         // nothing set
        EnvCase{nullptr, nullptr, nullptr, "C", Lang::Japanese},             // C locale
        EnvCase{nullptr, nullptr, nullptr, "C.UTF-8", Lang::Japanese},       // C locale
        EnvCase{nullptr, nullptr, nullptr, "POSIX", Lang::Japanese},         // POSIX locale
        EnvCase{nullptr, nullptr, nullptr, "ja_JP.UTF-8", Lang::Japanese},   // Japanese desktop
        EnvCase{nullptr, nullptr, nullptr, "en_US.UTF-8", Lang::English},    // English desktop
        EnvCase{nullptr, nullptr, nullptr, "de_DE.UTF-8", Lang::English},    // any other
        EnvCase{nullptr, "ja_JP.UTF-8", nullptr, "en_US.UTF-8", Lang::Japanese}, // LC_ALL wins
        EnvCase{nullptr, nullptr, "en_GB.UTF-8", "ja_JP.UTF-8", Lang::English},  // then messages
        EnvCase{"en:ja", nullptr, nullptr, "ja_JP.UTF-8", Lang::English},   // LANGUAGE first
        EnvCase{"ja", nullptr, nullptr, "en_US.UTF-8", Lang::Japanese},     // LANGUAGE first
        EnvCase{"en", nullptr, nullptr, "C", Lang::Japanese},               // ignored under C
        EnvCase{"", nullptr, nullptr, "en_US.UTF-8", Lang::English},        // empty LANGUAGE
        EnvCase{nullptr, nullptr, nullptr, "jam_JM", Lang::English}));      // not Japanese

struct WindowsCase {
    unsigned short langid;
    Lang expected;
};

class WindowsLanguageRule : public testing::TestWithParam<WindowsCase> {};

TEST_P(WindowsLanguageRule, FollowsThePrimaryLanguageOnly)
{
    EXPECT_EQ(text::languageFromWindows(GetParam().langid), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    LanguageIds, WindowsLanguageRule,
    testing::Values(WindowsCase{0x0411, Lang::Japanese},  // ja-JP
                    WindowsCase{0x0011, Lang::Japanese},  // Japanese, neutral sublanguage
                    WindowsCase{0x0409, Lang::English},   // en-US
                    WindowsCase{0x0809, Lang::English},   // en-GB
                    WindowsCase{0x0407, Lang::English},   // de-DE: any other is English
                    WindowsCase{0x0412, Lang::English},   // ko-KR, next to Japanese
                    WindowsCase{0x0000, Lang::English},   // LANG_NEUTRAL
                    WindowsCase{0x7C11, Lang::Japanese},  // any sublanguage (high six bits)
                    WindowsCase{0x0111, Lang::English})); // primary 0x111: ten bits, not eight

TEST(Catalogue, EveryTextHasBothLanguagesAndTheSamePlaceholders)
{
    for (int i = 0; i < static_cast<int>(Id::Count); ++i) {
        const auto id = static_cast<Id>(i);
        const std::string ja = text::tr(id, Lang::Japanese);
        const std::string en = text::tr(id, Lang::English);
        EXPECT_FALSE(ja.empty()) << i;
        EXPECT_FALSE(en.empty()) << i;
        for (char n = '1'; n <= '9'; ++n) {
            const std::string marker{'%', n};
            EXPECT_EQ(ja.find(marker) == std::string::npos, en.find(marker) == std::string::npos)
                << "text " << i << " (" << en << ") uses " << marker << " in one language only";
        }
    }
}

TEST(Catalogue, FormatFillsMarkersInOrderAndLeavesUnknownOnes)
{
    EXPECT_EQ(text::format("%2 and %1, %3 100%", {"a", "b"}), "b and a, %3 100%");
    text::setLanguage(Lang::English);
    EXPECT_EQ(text::format(Id::ErrorCode, {"98"}), "Error code: 98");
    text::setLanguage(Lang::Japanese);
    EXPECT_EQ(text::format(Id::ErrorCode, {"98"}), "エラーコード : 98");
}

} // namespace
