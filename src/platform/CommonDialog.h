#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QWidget;

// What actually asks the user for a file. Tests put a scripted one in place.
class FileDialogBackend
{
public:
    virtual ~FileDialogBackend() = default;
    // Shows the dialog modally, preset with fileName. Returns 0 with fileName
    // set to the chosen path, or the code of the failure (cancel, unusable preset).
    virtual int showOpen(QWidget* parent, const QString& title, const QString& filter, QString& fileName) = 0;
};

// The file-open dialog `cdOpenFile`: a title, a filter, a file name that is
// both the preset and the result, and a modal ShowOpen.
class CommonDialog : public QObject
{
    Q_OBJECT
public:
    explicit CommonDialog(QWidget* parent = nullptr);
    ~CommonDialog() override;

    QString FileName() const { return m_fileName; }
    void setFileName(const QString& fileName) { m_fileName = fileName; }
    QString DialogTitle() const { return m_title; }
    void setDialogTitle(const QString& title) { m_title = title; }
    QString Filter() const { return m_filter; }
    void setFilter(const QString& filter) { m_filter = filter; }

    // Throws KvError: code 32755 for a cancel, 20477 for an unusable preset.
    void ShowOpen();

    // Qt's own file dialog, the one in place unless something else is set.
    static std::unique_ptr<FileDialogBackend> defaultBackend();
    void setBackend(std::unique_ptr<FileDialogBackend> backend);
    FileDialogBackend* backend() const { return m_backend.get(); }

private:
    QWidget* m_parentWidget;
    QString m_fileName;
    QString m_title;
    QString m_filter;
    std::unique_ptr<FileDialogBackend> m_backend;
};
