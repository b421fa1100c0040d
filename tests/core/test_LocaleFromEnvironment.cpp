// The locale name both programs take from the environment, and that the C locale gives
// the same texts however it is spelled.

#include "uDateTime.h"
#include "uLocaleFormat.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets the three variables for one case and puts back what the test process had.
class TEnvironment {
public:
    TEnvironment(std::optional<std::string> all, std::optional<std::string> time,
                 std::optional<std::string> lang)
    {
        Set("LC_ALL", all);
        Set("LC_TIME", time);
        Set("LANG", lang);
    }
    ~TEnvironment()
    {
        for (auto& [name, value] : FSaved)
            value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    TEnvironment(const TEnvironment&) = delete;
    TEnvironment& operator=(const TEnvironment&) = delete;

private:
    void Set(const char* name, const std::optional<std::string>& value)
    {
        const char* old = std::getenv(name);
        FSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    std::vector<std::pair<const char*, std::optional<std::string>>> FSaved;
};

struct TEnvironmentCase {
    const char* Name;
    std::optional<std::string> All, Time, Lang;
    const char* Expected;
};

class LocaleFromEnvironment : public testing::TestWithParam<TEnvironmentCase> {};

TEST_P(LocaleFromEnvironment, Name)
{
    const TEnvironmentCase& c = GetParam();
    const TEnvironment environment(c.All, c.Time, c.Lang);
    EXPECT_EQ(LocaleNameFromEnvironment(), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocaleFromEnvironment,
    testing::Values(
        TEnvironmentCase{"AllBeatsTheOthers", "de_DE.UTF-8", "fr_FR.UTF-8", "en_GB.UTF-8", "de_DE"},
        TEnvironmentCase{"TimeBeatsLang", std::nullopt, "fr_FR.UTF-8", "en_GB.UTF-8", "fr_FR"},
        TEnvironmentCase{"LangLast", std::nullopt, std::nullopt, "en_GB.UTF-8", "en_GB"},
        // An empty variable counts as not set, as for the C library.
        TEnvironmentCase{"EmptyIsNotSet", "", "", "pt_BR", "pt_BR"},
        TEnvironmentCase{"ModifierDropped", "de_DE.ISO-8859-15@euro", std::nullopt, std::nullopt, "de_DE"},
        TEnvironmentCase{"ModifierWithoutEncoding", "ca_ES@valencia", std::nullopt, std::nullopt, "ca_ES"},
        TEnvironmentCase{"CUtf8", "C.UTF-8", std::nullopt, "de_DE.UTF-8", "en_US_POSIX"},
        TEnvironmentCase{"C", std::nullopt, "C", std::nullopt, "en_US_POSIX"},
        TEnvironmentCase{"Posix", std::nullopt, std::nullopt, "POSIX", "en_US_POSIX"},
        TEnvironmentCase{"NothingSet", std::nullopt, std::nullopt, std::nullopt, "en_US_POSIX"}),
    [](const testing::TestParamInfo<TEnvironmentCase>& info) { return info.param.Name; });

// However the C locale is named, and when nothing is set, the texts are the same as
// those of the default formatter, so neither program can differ from the other.
TEST(LocaleFromEnvironmentTexts, CLocaleAgreesWithTheDefaultFormatter)
{
    const double morning = *EncodeDateTime({2021, 3, 4, 8, 15, 24});
    std::u16string first;
    for (const char* spelling : {"C.UTF-8", "C", "POSIX", ""}) {
        const TEnvironment environment(spelling, std::nullopt, std::nullopt);
        const std::u16string named =
            MakeIcuLocaleFormat(LocaleNameFromEnvironment())->DateTimeText(morning, true);
        EXPECT_EQ(MakeIcuLocaleFormat()->DateTimeText(morning, true), named) << spelling;
        if (first.empty())
            first = named;
        EXPECT_EQ(named, first) << spelling;
    }
    EXPECT_EQ(first, u"3/4/2021 8:15:24 AM");
}

}  // namespace
