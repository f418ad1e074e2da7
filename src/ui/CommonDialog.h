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
    // The same for a file to write, which need not exist yet. A backend that
    // saves nothing answers as for a cancel.
    virtual int showSave(QWidget* parent, const QString& title, const QString& filter, QString& fileName);
};

// The file dialog: `cdOpenFile` for opening, the log's for saving. A title, a
// filter, a file name that is both the preset and the result, and a modal
// ShowOpen or ShowSave.
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
    // As ShowOpen; the file chosen may not exist yet, and one that does is
    // confirmed with the user before it is chosen.
    void ShowSave();

    // ShowOpen and ShowSave for a handler that asks for a file: a preset the
    // dialog cannot use (its folder gone) is dropped and the dialog shown once
    // more. False for a cancel; any other failure throws as above.
    bool ChooseOpen();
    bool ChooseSave();

    // Qt's own file dialog, the one in place unless something else is set.
    // Without confirmOverwrite, the caller asks about a file that exists.
    static std::unique_ptr<FileDialogBackend> defaultBackend(bool confirmOverwrite = true);
    void setBackend(std::unique_ptr<FileDialogBackend> backend);
    FileDialogBackend* backend() const { return m_backend.get(); }

private:
    void takeAnswer(int code, const QString& chosen);
    bool choose(void (CommonDialog::*show)());

    QWidget* m_parentWidget;
    QString m_fileName;
    QString m_title;
    QString m_filter;
    std::unique_ptr<FileDialogBackend> m_backend;
};
