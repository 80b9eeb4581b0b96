#include "platform/LocaleInfo.h"

#include <cstring>
#include <langinfo.h>
#include <locale.h>

namespace {

// A byte that can stand alone in the stamp: printable ASCII that is no letter or digit. A
// letter ("%Hh%M") is no separator, and a byte above 0x7F is part of a multi-byte character
// ("%H時%M分%S秒") that one byte of it would break.
char SeparatorOrColon(char c)
{
    const auto u = static_cast<unsigned char>(c);
    const bool alnum = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
    return u >= 0x20 && u < 0x7F && !alnum ? c : ':';
}

} // namespace

char TimeSeparatorFromFormat(const char* format)
{
    if (!format)
        return ':';
    for (const char* p = format; *p; ++p) {
        if (*p != '%')
            continue;
        ++p;
        // Flags, field width and the E/O modifiers of glibc's conversions.
        while (*p &&
               (std::strchr("_-0^#", *p) || (*p >= '0' && *p <= '9') || *p == 'E' || *p == 'O'))
            ++p;
        if (!*p)
            break;
        switch (*p) {
        case 'T':
        case 'R':
        case 'r':
            return ':';
        case 'H':
        case 'I':
        case 'k':
        case 'l':
            if (p[1] && p[1] != '%')
                return SeparatorOrColon(p[1]);
            return ':';
        default:
            break;
        }
    }
    return ':';
}

// A locale object of its own instead of setlocale(), so the process's global locale (which
// the toolkit owns) is left as it is.
char LocaleTimeSeparator()
{
    locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0))
        return ':';
    const char separator = TimeSeparatorFromFormat(nl_langinfo_l(T_FMT, locale));
    freelocale(locale);
    return separator;
}
