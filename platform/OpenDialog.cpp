#include "platform/OpenDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace {

std::function<bool(TOpenDialog&)>& ExecuteHook()
{
    static std::function<bool(TOpenDialog&)> hook;
    return hook;
}

} // namespace

TOpenDialog::TOpenDialog(QObject* Owner) : TComponent(Owner) {}

void TOpenDialog::SetExecuteHook(std::function<bool(TOpenDialog&)> hook)
{
    ExecuteHook() = std::move(hook);
}

QStringList TOpenDialog::QtNameFilters() const
{
    QStringList filters;
    const QStringList parts =
        QString::fromLocal8Bit(Filter.data(), qsizetype(Filter.size())).split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString caption = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            // "*.*" matches every file where the format comes from; here it would skip
            // names without a dot.
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        }
        // Qt takes the patterns from the caption's last parentheses; drop the caption's own
        // copy of them so the entry is not shown twice.
        const qsizetype open = caption.lastIndexOf(QLatin1Char('('));
        if (open > 0 && caption.endsWith(QLatin1Char(')')))
            caption = caption.left(open).trimmed();
        filters << caption + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    if (filters.isEmpty())
        filters << QStringLiteral("All (*)");
    return filters;
}

bool TOpenDialog::Execute()
{
    if (ExecuteHook())
        return ExecuteHook()(*this);

    QWidget* parentWindow = QApplication::activeWindow();
    QFileDialog dialog(parentWindow);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(QtNameFilters());
    if (!FileName.empty()) {
        const QFileInfo preset(QString::fromLocal8Bit(FileName.data(), qsizetype(FileName.size())));
        dialog.setDirectory(preset.absolutePath());
        dialog.selectFile(preset.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = QFileInfo(dialog.selectedFiles().constFirst())
                   .absoluteFilePath()
                   .toLocal8Bit()
                   .toStdString();
    return true;
}
