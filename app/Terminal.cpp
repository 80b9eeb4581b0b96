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

namespace {

constexpr qsizetype TerminalCapacity = 10000;

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

// Removes the first row the pane shows: the first line with its line break, or only the
// first wrapped row of a line that the pane wraps.
void DiscardFirstRow(QTextDocument* doc)
{
    const QTextBlock first = doc->firstBlock();
    // Asking for the block's rectangle makes the pane lay the block out at its width.
    doc->documentLayout()->blockBoundingRect(first);
    const QTextLayout* layout = first.layout();
    int rowLength = first.length() - 1;
    if (layout && layout->lineCount() > 1)
        rowLength = layout->lineAt(0).textLength();

    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::Start);
    if (rowLength < first.length() - 1) {
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, rowLength);
    } else if (first.next().isValid()) {
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    } else {
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
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
    while (!doc->isEmpty() && PaneLength(doc) + addedLength > TerminalCapacity)
        DiscardFirstRow(doc);
    cursor.movePosition(QTextCursor::End);
    cursor.endEditBlock();

    Memo1->setTextCursor(cursor);
    Memo1->insertPlainText(added);
    Memo1->ensureCursorVisible();
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}
