#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class CommonDialog;
class FindBox;
class LogSaver;
class LogSearch;
class LogView;
class QAction;
class QProgressDialog;

// What the log offers beyond editing: Find... (Ctrl+F, then F3 and Shift+F3),
// Save Log As... (Ctrl+S) and Clear, in its context menu and on its keys while
// it has the focus. Searching and saving run a few milliseconds a pass of the
// event loop; a long one shows a progress dialog that can cancel it. A save
// never touches the log: its outcome, a failure, a file written as UTF-8 or
// a cancel that came after the file took its name, is told in a warning box.
class LogTools : public QObject
{
    Q_OBJECT

public:
    // Adds the tools to view; they go with it.
    explicit LogTools(LogView* view);
    ~LogTools() override;

    // Shows a warning; Qt's message box unless the window puts its own in place.
    void setWarning(std::function<void(const QString& text)> warning);

    CommonDialog* saveDialog() const { return m_saveDialog; }
    // Made on first use.
    FindBox* findBox();
    QAction* findAction() const { return m_findAction; }
    QAction* saveAction() const { return m_saveAction; }
    QAction* clearAction() const { return m_clearAction; }

    // A search or a save shows its progress dialog after this long.
    static constexpr int SearchProgressMs = 1000;
    static constexpr int SaveProgressMs = 500;

public slots:
    // Opens the find box, with a short one-line selection as what to find.
    void openFindBox();
    void findAgain(bool forward);
    void saveAs();

private:
    void found(qsizetype position, qsizetype length, bool wrapped);
    void searchEnded(const QString& status);
    void saveEnded();
    QProgressDialog* progressDialog(const QString& name, const QString& label, int minimumMs);
    QString utf8Note(const QString& path) const;
    void warn(const QString& text);

    LogView* m_view;
    LogSearch* m_search;
    LogSaver* m_saver;
    CommonDialog* m_saveDialog;
    QPointer<FindBox> m_findBox;
    QAction* m_findAction;
    QAction* m_saveAction;
    QAction* m_clearAction;
    QPointer<QProgressDialog> m_searchProgress;
    QPointer<QProgressDialog> m_saveProgress;
    bool m_forward = true;
    std::function<void(const QString&)> m_warning;
};
