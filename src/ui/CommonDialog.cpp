#include "ui/CommonDialog.h"

#include "platform/KvError.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QWidget>

namespace {

class QtFileDialogBackend : public FileDialogBackend
{
public:
    explicit QtFileDialogBackend(bool confirmOverwrite) : m_confirmOverwrite(confirmOverwrite) {}
    int showOpen(QWidget* parent, const QString& title, const QString& filter, QString& fileName) override
    {
        return show(parent, title, filter, fileName, QFileDialog::AcceptOpen, true);
    }
    int showSave(QWidget* parent, const QString& title, const QString& filter, QString& fileName) override
    {
        return show(parent, title, filter, fileName, QFileDialog::AcceptSave, m_confirmOverwrite);
    }

private:
    static int show(QWidget* parent, const QString& title, const QString& filter, QString& fileName,
                    QFileDialog::AcceptMode mode, bool confirmOverwrite)
    {
        QFileDialog dialog(parent, title);
        // Qt's own dialog: it works with any event dispatcher and on any desktop.
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
        dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                           : QFileDialog::AnyFile);
        dialog.setAcceptMode(mode);
        dialog.setNameFilters(filter.split(QStringLiteral(";;")));
        if (!fileName.isEmpty()) {
            const QFileInfo preset(fileName);
            if (preset.isDir()) {
                dialog.setDirectory(preset.absoluteFilePath());
            } else if (preset.absoluteDir().exists()) {
                dialog.setDirectory(preset.absoluteDir());
                dialog.selectFile(preset.fileName());
            } else {
                return KvErr::DialogBadFileName;
            }
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return KvErr::DialogCancel;
        fileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
        return 0;
    }

    const bool m_confirmOverwrite;
};

} // namespace

CommonDialog::CommonDialog(QWidget* parent)
    : QObject(parent), m_parentWidget(parent), m_backend(defaultBackend())
{
}

std::unique_ptr<FileDialogBackend> CommonDialog::defaultBackend(bool confirmOverwrite)
{
    return std::make_unique<QtFileDialogBackend>(confirmOverwrite);
}

CommonDialog::~CommonDialog() = default;

int FileDialogBackend::showSave(QWidget*, const QString&, const QString&, QString&)
{
    return KvErr::DialogCancel;
}

void CommonDialog::ShowOpen()
{
    QString chosen = m_fileName;
    takeAnswer(m_backend->showOpen(m_parentWidget, m_title, m_filter, chosen), chosen);
}

void CommonDialog::ShowSave()
{
    QString chosen = m_fileName;
    takeAnswer(m_backend->showSave(m_parentWidget, m_title, m_filter, chosen), chosen);
}

bool CommonDialog::ChooseOpen()
{
    return choose(&CommonDialog::ShowOpen);
}

bool CommonDialog::ChooseSave()
{
    return choose(&CommonDialog::ShowSave);
}

bool CommonDialog::choose(void (CommonDialog::*show)())
{
    for (int attempt = 0;; ++attempt) {
        try {
            (this->*show)();
            return true;
        } catch (const KvError& e) {
            if (e.number() == KvErr::DialogCancel)
                return false;
            if (e.number() != KvErr::DialogBadFileName || attempt > 0)
                throw;
            m_fileName.clear();
        }
    }
}

void CommonDialog::takeAnswer(int code, const QString& chosen)
{
    if (code == KvErr::DialogCancel)
        throw KvError(code, QStringLiteral("Cancel was selected."));
    if (code == KvErr::DialogBadFileName)
        throw KvError(code, QStringLiteral("Invalid file name: ") + m_fileName);
    if (code != 0)
        throw KvError(code, QStringLiteral("The file dialog failed."));
    m_fileName = chosen;
}

void CommonDialog::setBackend(std::unique_ptr<FileDialogBackend> backend)
{
    m_backend = std::move(backend);
}
