// Capture to a file, under the Tools menu: the record of everything the
// program adds to the log, written as it comes by the widget-free LogCapture;
// and time stamps to the millisecond. The window asks for the file, tells in
// the log how the capture began and ended, and shows it on the information line.

#include "ui/frmKelvane.h"

#include "log/LogCapture.h"
#include "log/LogEntry.h"
#include "ui/CommonDialog.h"
#include "ui/LogView.h"
#include "ui/MessageBox.h"
#include "ui/StatusLine.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace {

enum Answer
{
    Append,
    Replace
};

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

void frmKelvane::setUpCapture(QMenu* mnTools)
{
    mnTools->addSeparator();
    mnTools_Capture = mnTools->addAction(QStringLiteral("Capture to &File..."));
    mnTools_Capture->setObjectName(QStringLiteral("mnTools_Capture"));
    connect(mnTools_Capture, &QAction::triggered, this, &frmKelvane::mnTools_Capture_Click);
    mnTools_StopCapture = mnTools->addAction(QStringLiteral("S&top Capture"));
    mnTools_StopCapture->setObjectName(QStringLiteral("mnTools_StopCapture"));
    mnTools_StopCapture->setEnabled(false);
    connect(mnTools_StopCapture, &QAction::triggered, this, &frmKelvane::mnTools_StopCapture_Click);
    QAction* mnTools_Milliseconds = mnTools->addAction(QStringLiteral("Time Stamps with Mi&lliseconds"));
    mnTools_Milliseconds->setObjectName(QStringLiteral("mnTools_Milliseconds"));
    mnTools_Milliseconds->setCheckable(true);
    connect(mnTools_Milliseconds, &QAction::toggled, this, [this](bool on) { m_milliseconds = on; });

    cdCapture = new CommonDialog(this);
    cdCapture->setObjectName(QStringLiteral("cdCapture"));
    cdCapture->setDialogTitle(QStringLiteral("Capture to File"));
    cdCapture->setFilter(QStringLiteral("Log Files (*.log *.txt);;All Files (*)"));
    cdCapture->setFileName(QDir::home().filePath(QStringLiteral("kelvane-capture.log")));
    // Whether a file that exists is appended to or replaced is asked here.
    cdCapture->setBackend(CommonDialog::defaultBackend(false));

    m_capture = new LogCapture(&txtOutput->store());
    m_capture->setObjectName(QStringLiteral("logCapture"));
    connect(m_capture, &LogCapture::stopped, this, &frmKelvane::logCapture_Stopped);
    // Clear empties the window's log, not the record, which tells where it happened.
    connect(txtOutput, &LogView::cleared, this, [this] {
        m_capture->note(logEntry(QStringList{QStringLiteral("The log was cleared; the capture goes on.")},
                                 currentTimestamp(m_milliseconds)));
    });
}

void frmKelvane::restoreCaptureSettings(const SavedSettings& saved)
{
    m_captureAppend = saved.captureAppend != QLatin1String("0");
    findChild<QAction*>(QStringLiteral("mnTools_Milliseconds"))
        ->setChecked(saved.milliseconds == QLatin1String("1"));
    if (!saved.captureFile.isEmpty()) {
        cdCapture->setFileName(saved.captureFile);
        startCapture(saved.captureFile, true, true);
    }
}

void frmKelvane::startCapture(const QString& path, bool append, bool resumed)
{
    const QString failure = m_capture->start(path, append);
    if (!failure.isEmpty()) {
        Echo({QStringLiteral("Capture to ") + shown(path) +
              (resumed ? QStringLiteral(" not resumed: ") : QStringLiteral(" not started: ")) + failure});
        return;
    }
    mnTools_Capture->setEnabled(false);
    mnTools_StopCapture->setEnabled(true);
    m_captureChanged = true;
    // The record begins with this entry.
    Echo({QStringLiteral("Capturing to ") + shown(path) +
          (resumed  ? QStringLiteral(" again, appending, as when the window closed.")
           : append ? QStringLiteral(", appending.")
                    : QStringLiteral("."))});
}

void frmKelvane::mnTools_Capture_Click()
{
    reporting(
        [&] {
            if (m_capture->isBusy() || !cdCapture->ChooseSave())
                return;
            const QString path = cdCapture->FileName();
            bool append = false;
            if (QFileInfo::exists(path)) {
                const int answer = m_messageBox->ask(
                    this, applicationTitle(),
                    shown(path) +
                        QStringLiteral(" already exists. Add the capture to its end, or replace it?"),
                    {QStringLiteral("&Append"), QStringLiteral("&Replace"), QStringLiteral("Cancel")},
                    m_captureAppend ? Append : Replace);
                if (answer != Append && answer != Replace)
                    return;
                append = answer == Append;
                m_captureAppend = append;
            }
            startCapture(path, append, false);
        },
        {QStringLiteral("Error")});
}

void frmKelvane::mnTools_StopCapture_Click()
{
    mnTools_StopCapture->setEnabled(false);
    m_capture->stop();
}

// Told once all it took is on the disk, or at once when it could not go on.
void frmKelvane::logCapture_Stopped(const QString& path, qint64 written, qint64 size, const QString& reason)
{
    mnTools_Capture->setEnabled(true);
    mnTools_StopCapture->setEnabled(false);
    m_captureChanged = true;
    Echo({reason.isEmpty()
              ? QStringLiteral("Capture to ") + shown(path) + QStringLiteral(" stopped; the file holds ") +
                    byteSize(size) + QLatin1Char('.')
              : QStringLiteral("Capture to ") + shown(path) + QStringLiteral(" stopped after ") +
                    byteSize(written) + QStringLiteral(" written: ") + reason});
}
