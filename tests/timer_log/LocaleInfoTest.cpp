// The regional time separator: read from the locale's time format.
#include "platform/LocaleInfo.h"

#include <QByteArray>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <string>

namespace {

TEST(LocaleInfoTest, SeparatorIsTheCharacterAfterTheHours)
{
    struct Case
    {
        const char* format;
        char separator;
    };
    const Case cases[] = {
        {"%H:%M:%S", ':'},
        {"%H.%M.%S", '.'},
        {"%T", ':'},
        {"%R", ':'},
        {"%r", ':'},
        {"%I:%M:%S %p", ':'},
        {"%p %I.%M", '.'},
        {"%k h %M", ' '},
        {"%OH:%OM", ':'},
        {"%-H.%M", '.'},
        {"", ':'},
        {"%H", ':'},
        {"%H%M", ':'},
        {"%%H", ':'},
        {"%", ':'},
        {nullptr, ':'},
        // Not plain ASCII punctuation: a letter, or the first byte of a multi-byte
        // character (glibc's ja_JP and zh_CN formats), would be a stray byte in the stamp.
        {"%Hh%M", ':'},
        {"%H\xE6\x99\x82%M\xE5\x88\x86%S\xE7\xA7\x92", ':'},
        {"%H\xB5%M", ':'},
        {"%H-%M", '-'},
        {"%H'%M", '\''},
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

// The C library's own ja_JP locale (time format "%H時%M分%S秒"), compiled into a folder of
// the test's own with localedef.
TEST(LocaleInfoTest, LocaleWithoutAnAsciiSeparatorGivesAColon)
{
    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/ja_JP.UTF-8";
    QProcess localedef;
    localedef.start("localedef", {"-i", "ja_JP", "-f", "UTF-8", path});
    ASSERT_TRUE(localedef.waitForFinished(60000)) << "localedef (package locales) missing?";
    ASSERT_EQ(localedef.exitCode(), 0) << localedef.readAllStandardError().toStdString();

    // In a child process: glibc keeps what a newlocale() under LOCPATH allocates for the
    // process's life, which the leak checker would report.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            qputenv("LOCPATH", dir.path().toLocal8Bit());
            qputenv("LC_ALL", "ja_JP.UTF-8");
            locale_t ja = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
            const bool japanese =
                ja != static_cast<locale_t>(0) && std::string(nl_langinfo_l(T_FMT, ja)) ==
                                                      "%H\xE6\x99\x82%M\xE5\x88\x86%S\xE7\xA7\x92";
            std::fprintf(stderr, "japanese format %d, separator %c\n", japanese ? 1 : 0,
                         LocaleTimeSeparator());
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "japanese format 1, separator :");
}

} // namespace
