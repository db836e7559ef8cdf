#include "platform/locale.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(Locale, LocaleNamesGiveWindowsLanguageIds)
{
    EXPECT_EQ(LangIdFromLocaleName("zh_CN.UTF-8"), 2052);
    EXPECT_EQ(LangIdFromLocaleName("zh_SG"), 2052);
    EXPECT_EQ(LangIdFromLocaleName("zh_TW.Big5"), 1028);
    EXPECT_EQ(LangIdFromLocaleName("zh_HK.UTF-8"), 1028);
    EXPECT_EQ(LangIdFromLocaleName("zh_MO"), 1028);
    EXPECT_EQ(LangIdFromLocaleName("zh-TW"), 1028);
    EXPECT_EQ(LangIdFromLocaleName("zh_Hant"), 1028);
    EXPECT_EQ(LangIdFromLocaleName("zh_Hans_SG"), 2052);
    EXPECT_EQ(LangIdFromLocaleName("zh"), 2052);
    EXPECT_EQ(LangIdFromLocaleName("en_US.UTF-8"), 1033);
    EXPECT_EQ(LangIdFromLocaleName("en_GB"), 2057);
    EXPECT_EQ(LangIdFromLocaleName("EN_gb.utf8"), 2057);
    EXPECT_EQ(LangIdFromLocaleName("de_DE@euro"), 1031);
    EXPECT_EQ(LangIdFromLocaleName("de_AT"), 3079);
    EXPECT_EQ(LangIdFromLocaleName("fr_FR.UTF-8"), 1036);
    EXPECT_EQ(LangIdFromLocaleName("fr_LU"), 1036); // known language, unknown region
    EXPECT_EQ(LangIdFromLocaleName("ja_JP.eucJP"), 1041);
    EXPECT_EQ(LangIdFromLocaleName("C"), 1033);
    EXPECT_EQ(LangIdFromLocaleName("C.UTF-8"), 1033);
    EXPECT_EQ(LangIdFromLocaleName("POSIX"), 1033);
    EXPECT_EQ(LangIdFromLocaleName(""), 1033);
    EXPECT_EQ(LangIdFromLocaleName("xx_YY"), 1033);
}

TEST(Locale, EnvironmentPrecedence)
{
    setenv("LC_ALL", "zh_TW.UTF-8", 1);
    setenv("LC_MESSAGES", "de_DE.UTF-8", 1);
    setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 1028);
    setenv("LC_ALL", "", 1);
    EXPECT_EQ(GetUserDefaultLangID(), 1031);
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(GetUserDefaultLangID(), 2052);
    unsetenv("LANG");
    unsetenv("LC_ALL");
    EXPECT_EQ(GetUserDefaultLangID(), 1033);
}

} // namespace
