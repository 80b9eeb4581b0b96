// The terminal pane: text appended at the end, the oldest rows discarded so that the pane
// never holds more than TerminalCapacity characters.
#include "app/Uploader.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>

namespace {

constexpr qsizetype TerminalCapacity = 10000;
// The shortest time between two updates of the pane while the unit's text keeps coming: a
// unit that chatters at the line rate sends a packet every few milliseconds, and laying out
// the pane's capped text for each of them took most of a core.
constexpr std::chrono::milliseconds TerminalFrame{100};

// The pane's length with each line break counted as two characters (CR LF), as the
// operator's platform counts the text of a multi-line control.
qsizetype PaneLength(const QTextDocument* doc)
{
    const qsizetype blocks = doc->blockCount();
    // characterCount() holds one separator per block, the last one included.
    const qsizetype characters = doc->characterCount() - blocks;
    return characters + 2 * (blocks - 1);
}

// The length a text takes in the pane: a line break (CR LF, a lone LF or a lone CR, as the
// pane reads them) counts as two characters.
qsizetype TextLength(QStringView text)
{
    qsizetype length = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        length += text[i] == u'\n' || text[i] == u'\r' ? 2 : 1;
    }
    return length;
}

// The longest end of a text whose length in the pane is at most `capacity`.
QString LastPart(const QString& text, qsizetype capacity)
{
    qsizetype start = text.size();
    qsizetype length = 0;
    while (start > 0) {
        qsizetype step = 1;
        qsizetype cost = 1;
        const QChar c = text[start - 1];
        if (c == u'\n' || c == u'\r') {
            cost = 2;
            if (c == u'\n' && start >= 2 && text[start - 2] == u'\r')
                step = 2;
        }
        if (length + cost > capacity)
            break;
        length += cost;
        start -= step;
    }
    return text.mid(start);
}

// Discards rows from the top, as the pane shows them, until the pane's length plus
// `addedLength` is within the cap: the first line with its line break, or only the first
// wrapped rows of a line that the pane wraps. The pane wraps a line greedily from its start,
// so the rows left after its first rows are cut keep their breaks: each line is laid out
// once, not once per row (a line of 10000 characters takes hundreds of rows).
void DiscardRows(QTextDocument* doc, qsizetype addedLength)
{
    qsizetype excess = PaneLength(doc) + addedLength - TerminalCapacity;
    while (excess > 0 && !doc->isEmpty()) {
        const QTextBlock first = doc->firstBlock();
        // Asking for the block's rectangle makes the pane lay the block out at its width.
        doc->documentLayout()->blockBoundingRect(first);
        const QTextLayout* layout = first.layout();
        const int textLength = first.length() - 1;
        int cut = 0;
        // Every row but the last, while they are needed.
        const int rows = layout ? layout->lineCount() : 0;
        for (int i = 0; i + 1 < rows && excess > 0; ++i) {
            const int row = layout->lineAt(i).textLength();
            cut += row;
            excess -= row;
        }

        QTextCursor cursor(doc);
        cursor.movePosition(QTextCursor::Start);
        if (excess <= 0 && cut < textLength) {
            cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, cut);
        } else if (first.next().isValid()) {
            // The whole line goes, its line break (two characters) with it.
            excess -= textLength - cut + 2;
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
        } else {
            excess -= textLength - cut;
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        }
        cursor.removeSelectedText();
    }
}

} // namespace

void TForm1::AppendToTerminal(const AnsiString& text)
{
    // Each byte is one character: the unit's bytes are shown as they came, and the cap counts
    // them one to one.
    QString added = QString::fromLatin1(text.data(), qsizetype(text.size()));
    QTextDocument* doc = Memo1->document();

    qsizetype addedLength = TextLength(added);

    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    if (addedLength > TerminalCapacity) {
        // No discarding brings such a text within the cap: it replaces the pane's text, cut
        // to its last TerminalCapacity characters.
        added = LastPart(added, TerminalCapacity);
        addedLength = TextLength(added);
        doc->clear();
    }
    DiscardRows(doc, addedLength);
    cursor.movePosition(QTextCursor::End);
    // Inserted within the same batch, the pane lays its text out once for the discards and
    // the append together, not once for each.
    cursor.insertText(added);
    cursor.endEditBlock();

    Memo1->setTextCursor(cursor);
    Memo1->ensureCursorVisible();
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

void TForm1::ShowInTerminal(const AnsiString& text)
{
    const auto now = std::chrono::steady_clock::now();
    if (terminalBacklog.empty() && now - terminalShown >= TerminalFrame) {
        AppendToTerminal(text);
        terminalShown = now;
        return;
    }
    // Appending the texts as one shows what appending them one by one shows: the rows
    // discarded from the top are the same, and the text at the end is the same.
    // ... as long as the gathered text alone stays within the cap (a line break counted as
    // two characters, a CR LF pair split between two texts as two breaks: never too few).
    terminalBacklog += text;
    for (const char c : text)
        terminalBacklogLength += c == '\n' || c == '\r' ? 2 : 1;
    if (terminalBacklogLength >= TerminalCapacity) {
        FlushTerminal();
        return;
    }
    if (!terminalTimer) {
        terminalTimer = new QTimer(this);
        terminalTimer->setSingleShot(true);
        connect(terminalTimer, &QTimer::timeout, this, [this] { FlushTerminal(); });
    }
    if (!terminalTimer->isActive()) {
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(terminalShown + TerminalFrame - now);
        terminalTimer->start(std::max(wait, std::chrono::milliseconds(0)));
    }
}

void TForm1::FlushTerminal()
{
    if (terminalTimer)
        terminalTimer->stop();
    if (terminalBacklog.empty())
        return;
    AnsiString text;
    text.swap(terminalBacklog);
    terminalBacklogLength = 0;
    AppendToTerminal(text);
    terminalShown = std::chrono::steady_clock::now();
}
