// A non-visual log component: turns a text into a time-stamped line, hands the line to an
// optional event handler and, when switched on, appends it to a text file that is opened
// and closed again on every call (so each line is on disk as soon as Log returns).
#pragma once

#include "platform/Component.h"
#include "platform/Exception.h"

#include <ctime>
#include <functional>

// Line format: "dd-mm-yyyy hh:nn:ss" (the time separator of the user's locale between
// hours, minutes and seconds), then " - " when ID is empty or " " + ID + ": " otherwise,
// then the text. On disk each line ends in CR LF, and every LF inside the text is written as
// CR LF too (a CR LF in the text therefore becomes CR CR LF).
//
// Calls on one component must not overlap (every caller here is on the window's thread).
class TQuickLogFile : public TComponent
{
public:
    // The source of the local date and time of a line; by default the system's local time.
    using TClock = std::function<std::tm()>;

    explicit TQuickLogFile(QObject* Owner);

    // Builds the line, calls OnEvent with it (before any file work, whatever LogToFile is),
    // then, when LogToFile is true, appends it to LogFileName (created when missing, never
    // truncated, with one write of the whole line). Returns false when LogToFile is true and
    // the line did not reach the file: it cannot be opened (an empty name included), or the
    // write or the close failed (a full disk); true otherwise. An
    // exception from OnEvent passes out of Log, and the line is then not written.
    bool Log(const AnsiString& text);

    // Plain settings: reading and writing them has no side effect; a change takes effect
    // with the next call of Log.
    bool LogToFile = false;
    // Handed to the file system unchanged: a relative name is resolved against the current
    // directory at the moment of each call.
    AnsiString LogFileName;
    // Optional tag between the time stamp and the text.
    AnsiString ID;
    // Called once for every line, with the line without its line end.
    std::function<void(TObject* Sender, const AnsiString& Event)> OnEvent;

    // Replaceable for exact time stamps in tests; defaults to the local time of the system.
    TClock Clock;
    // Separator of hours, minutes and seconds; taken from the user's locale when the
    // component is created (":" when the locale names none). Replaceable.
    char TimeSeparator;
};
