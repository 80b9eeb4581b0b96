// The regional time separator: read from the locale's time format.
#include "platform/LocaleInfo.h"

#include <QByteArray>
#include <QScopeGuard>
#include <QtGlobal>
#include <gtest/gtest.h>

namespace {

TEST(LocaleInfoTest, SeparatorIsTheCharacterAfterTheHours)
{
    struct Case
    {
        const char* format;
        char separator;
    };
    const Case cases[] = {
        {"%H:%M:%S", ':'}, {"%H.%M.%S", '.'},    {"%T", ':'},       {"%R", ':'},
        {"%r", ':'},       {"%I:%M:%S %p", ':'}, {"%p %I.%M", '.'}, {"%k h %M", ' '},
        {"%OH:%OM", ':'},  {"%-H.%M", '.'},      {"", ':'},         {"%H", ':'},
        {"%H%M", ':'},     {"%%H", ':'},         {"%", ':'},        {nullptr, ':'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format ? c.format : "(null)");
        EXPECT_EQ(TimeSeparatorFromFormat(c.format), c.separator);
    }
}

TEST(LocaleInfoTest, PlainLocaleGivesAColon)
{
    const QByteArray saved = qgetenv("LC_ALL");
    const bool had = qEnvironmentVariableIsSet("LC_ALL");
    auto restore = qScopeGuard([&] {
        if (had)
            qputenv("LC_ALL", saved);
        else
            qunsetenv("LC_ALL");
    });
    for (const char* name : {"C", "POSIX", "no_SUCH.locale"}) {
        SCOPED_TRACE(name);
        qputenv("LC_ALL", name);
        EXPECT_EQ(LocaleTimeSeparator(), ':');
    }
}

} // namespace
