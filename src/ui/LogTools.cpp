#include "ui/LogTools.h"

#include "log/LogSaver.h"
#include "log/LogSearch.h"
#include "platform/KvError.h"
#include "ui/CommonDialog.h"
#include "ui/FindBox.h"
#include "ui/LogView.h"
#include "ui/MessageBox.h"

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QShortcut>

namespace {

// A selection this short and on one line is what Find... looks for at first.
constexpr qsizetype SelectionAsNeedle = 256;
// Steps of a progress dialog's bar: its int range does not hold a log's length.
constexpr int ProgressSteps = 1000;

int progressStep(qint64 done, qint64 total)
{
    return int(done * ProgressSteps / std::max<qint64>(1, total));
}

// Closes a progress dialog for good. Hidden only, it shows itself again
// when its time to appear comes, and a message box's event loop, where a
// deferred delete waits, gives it that time: so it goes at once. Only while
// it is telling of its own cancel does it wait for that to be over.
void closeProgress(QPointer<QProgressDialog>& dialog, bool fromItsCancel = false)
{
    if (!dialog)
        return;
    if (fromItsCancel) {
        dialog->hide();
        dialog->deleteLater();
        dialog = nullptr;
    } else {
        delete dialog.data();
    }
}

} // namespace

LogTools::LogTools(LogView* view)
    : QObject(view), m_view(view), m_search(new LogSearch(&view->store(), this)),
      m_saver(new LogSaver(&view->store(), this)), m_saveDialog(new CommonDialog(view))
{
    setObjectName(QStringLiteral("logTools"));
    m_saver->setObjectName(QStringLiteral("logSaver"));
    m_saveDialog->setObjectName(QStringLiteral("cdSaveLog"));
    m_saveDialog->setDialogTitle(tr("Save Log As..."));
    m_saveDialog->setFilter(tr("Log Files (*.log *.txt);;All Files (*)"));
    m_saveDialog->setFileName(QDir::home().filePath(QStringLiteral("kelvane.log")));

    // The keys act while the log has the focus; the window keeps its own.
    auto addAction = [view](const QString& text, const QString& name, const QKeySequence& key) {
        auto* action = new QAction(text, view);
        action->setObjectName(name);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
        view->addAction(action);
        return action;
    };
    m_findAction = addAction(tr("&Find..."), QStringLiteral("mnLog_Find"), QKeySequence::Find);
    m_saveAction = addAction(tr("&Save Log As..."), QStringLiteral("mnLog_SaveAs"), QKeySequence::Save);
    addAction(QString(), QString(), QKeySequence())->setSeparator(true);
    m_clearAction = addAction(tr("Clea&r"), QStringLiteral("mnLog_Clear"), QKeySequence());
    connect(m_findAction, &QAction::triggered, this, &LogTools::openFindBox);
    connect(m_saveAction, &QAction::triggered, this, &LogTools::saveAs);
    // The same as the clear button.
    connect(m_clearAction, &QAction::triggered, view, &LogView::clear);
    new QShortcut(
        QKeySequence::FindNext, view, this, [this] { findAgain(true); }, Qt::WidgetShortcut);
    new QShortcut(
        QKeySequence::FindPrevious, view, this, [this] { findAgain(false); }, Qt::WidgetShortcut);

    connect(m_search, &LogSearch::found, this, &LogTools::found);
    connect(m_search, &LogSearch::notFound, this, [this] { searchEnded(tr("Not found.")); });
    connect(m_search, &LogSearch::failed, this, &LogTools::searchEnded);
    connect(m_search, &LogSearch::progress, this, [this](qint64 done, qint64 total) {
        if (m_searchProgress)
            m_searchProgress->setValue(progressStep(done, total));
    });

    connect(m_saver, &LogSaver::progress, this, [this](qint64 done, qint64 total) {
        if (m_saveProgress)
            m_saveProgress->setValue(progressStep(done, total));
    });
    connect(m_saver, &LogSaver::saved, this, [this](const QString& path, bool utf8) {
        saveEnded();
        if (utf8)
            warn(utf8Note(path));
    });
    connect(m_saver, &LogSaver::failed, this, [this](const QString& description) {
        saveEnded();
        warn(description);
    });
}

LogTools::~LogTools()
{
    delete m_findBox;
    delete m_searchProgress;
    delete m_saveProgress;
}

void LogTools::setWarning(std::function<void(const QString&)> warning)
{
    m_warning = std::move(warning);
}

QString LogTools::utf8Note(const QString& path) const
{
    return tr("The log holds characters beyond Latin-1, so it was saved as UTF-8, in which "
              "each character from 0x80 on takes two bytes or more: %1")
        .arg(QDir::toNativeSeparators(path));
}

void LogTools::warn(const QString& text)
{
    if (m_warning)
        m_warning(text);
    else
        QtMessageBox().warning(m_view->window(), QGuiApplication::applicationDisplayName(), text);
}

// ---- find -------------------------------------------------------------------

FindBox* LogTools::findBox()
{
    if (m_findBox)
        return m_findBox;
    m_findBox = new FindBox(m_view->window());
    connect(m_findBox, &FindBox::findRequested, this, &LogTools::findAgain);
    // Back to the log, where the match stays selected for Ctrl+C.
    connect(m_findBox, &FindBox::closed, this, [this] {
        if (m_search->isRunning()) {
            m_search->cancel();
            searchEnded(QString());
        }
        m_view->window()->activateWindow();
        m_view->setFocus(Qt::OtherFocusReason);
    });
    return m_findBox;
}

void LogTools::openFindBox()
{
    FindBox* box = findBox();
    const qsizetype selected = m_view->selectionEnd() - m_view->selectionStart();
    if (selected > 0 && selected <= SelectionAsNeedle) {
        const QString text = m_view->selectedText();
        if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
            box->setNeedle(text);
    }
    box->open();
}

// From the selection on, or back from it.
void LogTools::findAgain(bool forward)
{
    FindBox* box = findBox();
    if (box->needle().isEmpty()) {
        openFindBox();
        return;
    }
    m_forward = forward;
    box->setStatus(tr("Searching..."));
    m_search->start(box->needle(), forward ? m_view->selectionEnd() : m_view->selectionStart(), forward,
                    box->caseSensitivity());
    if (!m_searchProgress) {
        m_searchProgress =
            progressDialog(QStringLiteral("dlgFindProgress"), tr("Searching the log..."), SearchProgressMs);
        connect(m_searchProgress, &QProgressDialog::canceled, this, [this] {
            m_search->cancel();
            closeProgress(m_searchProgress, true);
            searchEnded(tr("Search cancelled."));
        });
    }
}

void LogTools::found(qsizetype position, qsizetype length, bool wrapped)
{
    QString status;
    if (wrapped)
        status = m_forward ? tr("Found from the start: the end was passed.")
                           : tr("Found from the end: the start was passed.");
    searchEnded(status);
    m_view->setSelection(position, position + length);
}

void LogTools::searchEnded(const QString& status)
{
    if (m_findBox)
        m_findBox->setStatus(status);
    closeProgress(m_searchProgress);
}

// ---- save ---------------------------------------------------------------------

void LogTools::saveAs()
{
    if (m_saver->isRunning()) {
        if (m_saveProgress) {
            m_saveProgress->show();
            m_saveProgress->raise();
        }
        return;
    }
    try {
        if (!m_saveDialog->ChooseSave())
            return;
    } catch (const KvError& e) {
        warn(e.description());
        return;
    }
    m_saver->start(m_saveDialog->FileName());
    if (!m_saver->isRunning())
        return; // it failed at once, and said so
    m_saveAction->setEnabled(false);
    m_saveProgress =
        progressDialog(QStringLiteral("dlgSaveProgress"), tr("Saving the log..."), SaveProgressMs);
    connect(m_saveProgress, &QProgressDialog::canceled, this, [this] {
        const bool cancelled = m_saver->cancel();
        closeProgress(m_saveProgress, true);
        saveEnded();
        if (cancelled)
            return;
        QString text = tr("The log was saved before the cancel arrived.");
        if (m_saver->isUtf8())
            text += QStringLiteral("\n\n") + utf8Note(m_saveDialog->FileName());
        warn(text);
    });
}

// Before the outcome is shown.
void LogTools::saveEnded()
{
    m_saveAction->setEnabled(true);
    closeProgress(m_saveProgress);
}

QProgressDialog* LogTools::progressDialog(const QString& name, const QString& label, int minimumMs)
{
    auto* dialog = new QProgressDialog(label, tr("Cancel"), 0, ProgressSteps, m_view->window());
    dialog->setObjectName(name);
    dialog->setWindowTitle(QGuiApplication::applicationDisplayName());
    // Not modal: the log goes on showing what arrives meanwhile.
    dialog->setWindowModality(Qt::NonModal);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(minimumMs);
    dialog->setValue(0);
    return dialog;
}
