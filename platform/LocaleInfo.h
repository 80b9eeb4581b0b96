// Regional settings the tool takes from the user's locale (the C library's locale data).
#pragma once

// The character between hours and minutes in the time format of the user's LC_TIME locale
// (from the environment: LC_ALL, LC_TIME, LANG); ':' when none can be found.
char LocaleTimeSeparator();

// The separator found in a strftime-style time format such as "%H:%M:%S" or "%H.%M":
// the literal character that follows the hours, when it is printable ASCII and no letter
// or digit; ':' otherwise (a multi-byte character such as in "%H時%M分%S秒"), for "%T", "%R",
// "%r", and when the format has no hours followed by a literal character.
char TimeSeparatorFromFormat(const char* format);
