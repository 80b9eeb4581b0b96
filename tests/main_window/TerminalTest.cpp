// The terminal pane's cap: whole rows discarded from the top before an append so that the
// pane never holds more than 10000 characters (a line break counting as two).
#include "tests/main_window/WindowFixture.h"
#include "tests/support/TestApp.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

namespace mainwindow {
namespace {

class Terminal : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        WriteIni("[Ports]\nCOM2=" + (dir / "none").string() + "\n");
        CreateWindows();
        ShowAndActivate();
        // The port named is missing: the pane begins with what to do about it. These tests
        // start from an empty pane.
        EXPECT_TRUE(form->Memo1->toPlainText().contains("does not exist"));
        form->Memo1->clear();
    }

    QString Pane() const { return form->Memo1->toPlainText(); }
    // The pane's length with each line break counted as two characters.
    qsizetype PaneLength() const { return Pane().size() + Pane().count(QLatin1Char('\n')); }

    // `lines` lines of eight characters, each followed by CR LF: 10 characters a line.
    static std::string Lines(int lines, char first = 'a')
    {
        std::string text;
        for (int i = 0; i < lines; ++i)
            text += std::string(8, char(first + i % 26)) + "\r\n";
        return text;
    }
};

TEST_F(Terminal, AppendsUnchangedWithoutALineEndAndScrollsToTheEnd)
{
    form->AppendToTerminal("ab");
    form->AppendToTerminal("cd\r\nef");
    EXPECT_EQ(Pane(), "abcd\nef");
    form->AppendToTerminal(Lines(200));
    testapp::ProcessFor(std::chrono::milliseconds(20));
    QScrollBar* bar = form->Memo1->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(form->Memo1->textCursor().atEnd());
    EXPECT_FALSE(form->Memo1->textCursor().hasSelection());
}

struct CapCase
{
    const char* name;
    int lines;          // pane before: this many lines of 10 characters
    int added;          // characters appended
    int linesDiscarded; // whole lines expected to go
};

TEST_F(Terminal, DiscardsWholeLinesOnlyWhenTheCapWouldBeExceeded)
{
    const std::vector<CapCase> cases = {
        {"9990 + 20 loses one line", 999, 20, 1},    {"9980 + 20 is untouched", 998, 20, 0},
        {"9990 + 31 loses three lines", 999, 31, 3}, {"10000 + 1 loses one line", 1000, 1, 1},
        {"0 + 10000 fills the pane", 0, 10000, 0},
    };
    for (const CapCase& c : cases) {
        SCOPED_TRACE(c.name);
        form->Memo1->clear();
        const std::string before = Lines(c.lines);
        form->AppendToTerminal(before);
        ASSERT_EQ(PaneLength(), c.lines * 10);
        form->AppendToTerminal(std::string(c.added, 'z'));

        const QString expected = QString::fromLatin1(
            before.substr(std::size_t(c.linesDiscarded) * 10) + std::string(c.added, 'z'));
        EXPECT_EQ(Pane(), QString(expected).replace("\r\n", "\n"));
        EXPECT_LE(PaneLength(), 10000);
    }
}

TEST_F(Terminal, AWrappedLineLosesOnlyItsFirstRow)
{
    // A first line long enough for the pane to wrap it into several rows.
    std::string longLine;
    for (int i = 0; longLine.size() < 300; ++i)
        longLine += "word" + std::to_string(i) + " ";
    const std::string filler = Lines(969); // 9690 characters
    form->AppendToTerminal(longLine + "\r\n" + filler);
    const qsizetype length = PaneLength();
    ASSERT_LE(length, 10000);

    // The pane's own layout of that line, at the pane's width.
    QTextDocument* doc = form->Memo1->document();
    const QTextBlock first = doc->firstBlock();
    doc->documentLayout()->blockBoundingRect(first);
    ASSERT_GT(first.layout()->lineCount(), 2);
    const int firstRow = first.layout()->lineAt(0).textLength();
    ASSERT_GT(firstRow, 0);

    // Room for the new text once the first row is gone, but not before.
    const int added = int(10000 - length) + 1;
    ASSERT_LE(added, firstRow);
    form->AppendToTerminal(std::string(added, 'z'));
    EXPECT_TRUE(Pane().startsWith(QString::fromLatin1(longLine.substr(std::size_t(firstRow)))))
        << Pane().left(80).toStdString();
    EXPECT_EQ(doc->blockCount(), 1 + 969 + 1);
    EXPECT_LE(PaneLength(), 10000);
}

// The cap's rule applied one row at a time, on a pane of the same width and font: what
// the window's pane must hold after each append.
class RowByRowPane
{
public:
    explicit RowByRowPane(const QPlainTextEdit* like)
    {
        pane.setFont(like->font());
        pane.setLineWrapMode(like->lineWrapMode());
        pane.setWordWrapMode(like->wordWrapMode());
        pane.setFrameStyle(like->frameStyle());
        pane.setVerticalScrollBarPolicy(like->verticalScrollBarPolicy());
        pane.document()->setDocumentMargin(like->document()->documentMargin());
        pane.resize(like->size());
        pane.show();
    }

    int ViewportWidth() const { return pane.viewport()->width(); }

    void Append(const QString& text)
    {
        QTextDocument* doc = pane.document();
        while (!doc->isEmpty() && Length() + text.size() > 10000) {
            const QTextBlock first = doc->firstBlock();
            doc->documentLayout()->blockBoundingRect(first);
            int row = first.length() - 1;
            if (first.layout()->lineCount() > 1)
                row = first.layout()->lineAt(0).textLength();
            QTextCursor cursor(doc);
            if (row < first.length() - 1)
                cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, row);
            else
                cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        QTextCursor end(doc);
        end.movePosition(QTextCursor::End);
        end.insertText(text);
    }

    QString Text() const { return pane.toPlainText(); }

private:
    qsizetype Length() const { return pane.document()->characterCount() - 1; }
    QPlainTextEdit pane;
};

TEST_F(Terminal, AStreamWithoutLineBreaksLosesWholeRowsAsOneAtATime)
{
    // The unit's chatter as the pane gets it: one running line of words (line ends shown as
    // "--"), in packets of up to 160 characters.
    RowByRowPane reference(form->Memo1);
    ASSERT_EQ(reference.ViewportWidth(), form->Memo1->viewport()->width());
    std::string stream;
    for (int i = 0; stream.size() < 40000; ++i)
        stream += "seq " + std::to_string(i) + " unit status ok, temperature 41 C--";
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t size = 40 + (at * 7) % 121;
        const std::string packet = stream.substr(at, size);
        at += packet.size();
        form->AppendToTerminal(packet);
        reference.Append(QString::fromLatin1(packet));
        ASSERT_EQ(Pane(), reference.Text()) << "after " << at << " characters";
    }
}

TEST_F(Terminal, ATextLongerThanTheCapKeepsItsLastPart)
{
    form->AppendToTerminal(Lines(50));
    std::string huge;
    for (int i = 0; i < 1500; ++i)
        huge += "0123456789";
    form->AppendToTerminal(huge);
    EXPECT_EQ(Pane().toStdString(), huge.substr(huge.size() - 10000));

    // With line breaks each counts as two: the pane still holds at most 10000.
    form->AppendToTerminal(Lines(1500));
    EXPECT_LE(PaneLength(), 10000);
    EXPECT_GE(PaneLength(), 9990);
    EXPECT_TRUE(Pane().endsWith("\n"));
}

} // namespace
} // namespace mainwindow
