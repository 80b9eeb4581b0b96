// The file-open dialog component: a filter in the class library's "caption|pattern|..."
// form, a preset and a resulting file name, and Execute, which shows the dialog modally.
#pragma once

#include "platform/Component.h"
#include "platform/Exception.h"

#include <functional>

class TOpenDialog : public TComponent
{
public:
    explicit TOpenDialog(QObject* Owner);

    // The preset file name when Execute opens; the chosen file's full path after it.
    AnsiString FileName;
    // Pairs of caption and pattern separated by "|", for example
    // "Out Files (*.out)|*.out|All (*.*)|*.*"; the first pair is offered first. Several
    // patterns of one pair are separated by ";". "*.*" means every file, as on the platform
    // the format comes from.
    AnsiString Filter;

    // Shows the dialog modally for an existing file. True with FileName set to the chosen
    // file; false when the operator cancelled (FileName unchanged). With a hook installed
    // the hook answers instead of a dialog.
    bool Execute();

    // Lets tests answer Execute without a modal dialog: the hook may set FileName and returns
    // what Execute returns. An empty callable restores the dialog.
    static void SetExecuteHook(std::function<bool(TOpenDialog&)> hook);

    // The filter in Qt's form: one "Caption (patterns)" entry per pair.
    QStringList QtNameFilters() const;
};
