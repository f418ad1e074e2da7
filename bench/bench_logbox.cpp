// What it costs to write the log: LogView against the same work done by a
// QPlainTextEdit (PlainLogBox). Every step is the program's own pattern: append,
// put the caret at the end, and let the event loop paint.
//
//  1. One log entry appended to logs of 100 KB, 10 MB and 100 MB.
//  2. One line grown to 64 MB in 64 KB pieces, as the flat view does when a
//     peer streams data without line breaks.
//  3. Memory held per logged character.
//
// QPlainTextEdit runs stop once they have spent their time budget; their
// figures are then marked "partial" (measured on what was done) or
// "extrapolated". Run on the offscreen platform in a Release build.

#include "PlainLogBox.h"
#include "ui/LogView.h"

#include "benchsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace BenchSupport;

namespace {

constexpr qsizetype KB = 1024;
constexpr qsizetype MB = 1024 * 1024;
constexpr double PlainBudgetSeconds = 20.0;

struct Box
{
    std::unique_ptr<QWidget> holder;
    std::unique_ptr<LogViewBox> adapter;
    LogBox* log = nullptr;
    PaintCounter* paints = nullptr;
};

Box makeBox(bool plain)
{
    Box box;
    if (plain) {
        auto* w = new PlainLogBox;
        box.holder.reset(w);
        box.log = w;
        box.paints = new PaintCounter(w->viewport());
    } else {
        auto* w = new LogView;
        box.holder.reset(w);
        box.adapter = std::make_unique<LogViewBox>(w);
        box.log = box.adapter.get();
        box.paints = new PaintCounter(w->viewport());
    }
    box.holder->resize(502, 189); // the log box's size in the window
    box.holder->show();
    QCoreApplication::processEvents();
    return box;
}

// The program's write pattern: append, caret to the end, paint.
double timeOneAppend(LogBox& log, const QString& text)
{
    return secondsOf([&]() {
        log.append(text);
        log.setCaretPosition(log.length());
        QCoreApplication::processEvents();
    });
}

struct Series
{
    std::vector<double> seconds;
    double total = 0;
    bool stopped = false; // the time budget ran out first

    double median() const { return BenchSupport::median(seconds); }
    double max() const { return seconds.empty() ? 0 : *std::max_element(seconds.begin(), seconds.end()); }
};

// Runs count steps, or fewer when the budget is spent.
Series runSeries(int count, double budgetSeconds, const std::function<double(int)>& step)
{
    Series series;
    for (int i = 0; i < count; ++i) {
        if (series.total >= budgetSeconds) {
            series.stopped = true;
            break;
        }
        const double s = step(i);
        series.seconds.push_back(s);
        series.total += s;
    }
    return series;
}

// Total of count steps whose cost grows in a straight line, fitted to the
// steps measured.
double extrapolateLinearGrowth(const std::vector<double>& measured, int count)
{
    const double n = double(measured.size());
    if (n < 2)
        return measured.empty() ? 0 : measured[0] * count;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t k = 0; k < measured.size(); ++k) {
        const double x = double(k + 1);
        sx += x;
        sy += measured[k];
        sxx += x * x;
        sxy += x * measured[k];
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double offset = (sy - slope * sx) / n;
    const double c = count;
    return offset * c + slope * c * (c + 1) / 2;
}

// ---- the table ---------------------------------------------------------------

std::vector<QStringList> rows;

QString ratioOf(double plain, double view)
{
    if (view <= 0)
        return QStringLiteral("-");
    return QStringLiteral("%1x").arg(plain / view, 0, 'f', plain / view < 10 ? 1 : 0);
}

// ---- the cases -----------------------------------------------------------------

struct AppendFigure
{
    double median = 0;
    double build = 0;
    int appends = 0;
    int paints = 0;
    bool stopped = false;
};

AppendFigure appendToLogOf(bool plain, const QString& log, double budget)
{
    AppendFigure f;
    Box box = makeBox(plain);
    f.build = secondsOf([&]() {
        box.log->setText(log);
        box.log->setCaretPosition(box.log->length());
        QCoreApplication::processEvents();
    });
    // Glyphs and style caches are filled on the first paints: not measured.
    for (int i = 0; i < 20; ++i)
        timeOneAppend(*box.log, logEntry(i));
    const int paintsBefore = box.paints->paints;
    const Series s = runSeries(200, std::max(0.0, budget - f.build),
                               [&](int i) { return timeOneAppend(*box.log, logEntry(i)); });
    f.median = s.median();
    f.appends = int(s.seconds.size());
    f.paints = box.paints->paints - paintsBefore;
    f.stopped = s.stopped;
    return f;
}

void appendCost()
{
    const qsizetype sizes[] = {100 * KB, 10 * MB, 100 * MB};
    double viewSmall = 0;
    double viewLarge = 0;
    for (qsizetype size : sizes) {
        QString log = logOfSize(size);
        const AppendFigure view = appendToLogOf(false, log, 1e9);
        const AppendFigure plain = appendToLogOf(true, log, PlainBudgetSeconds);
        log.clear();
        if (size == sizes[0])
            viewSmall = view.median;
        viewLarge = view.median;
        const QString label =
            size >= MB ? QStringLiteral("%1 MB").arg(size / MB) : QStringLiteral("%1 KB").arg(size / KB);
        QString plainText = ms(plain.median);
        if (plain.appends == 0)
            plainText = QStringLiteral("n/a (setting the log took %1)").arg(sec(plain.build));
        else if (plain.stopped)
            plainText += QStringLiteral(" (partial: %1 appends)").arg(plain.appends);
        rows.push_back({QStringLiteral("append entry to %1 log (median of %2; %3 paints)")
                            .arg(label)
                            .arg(view.appends)
                            .arg(view.paints),
                        ms(view.median), plainText, plain.appends ? ratioOf(plain.median, view.median) : "-",
                        QString(), QString()});
        rows.push_back({QStringLiteral("  set the whole %1 log once").arg(label), sec(view.build),
                        sec(plain.build), ratioOf(plain.build, view.build), QString(), QString()});
        std::fflush(stdout);
    }
    const double growth = viewLarge / viewSmall;
    rows.push_back({QStringLiteral("append cost, 100 MB log / 100 KB log"),
                    QStringLiteral("%1x").arg(growth, 0, 'f', 2), QString(), QString(),
                    QStringLiteral("<= 2x"), verdict(growth <= 2)});
}

void longLine()
{
    const qsizetype piece = 64 * KB;
    const int pieces = int(64 * MB / piece);
    std::vector<QString> data;
    for (int i = 0; i < 16; ++i)
        data.push_back(binaryPiece(piece, i));

    auto run = [&](bool plain, double budget, int* paints) {
        Box box = makeBox(plain);
        const Series s =
            runSeries(pieces, budget, [&](int i) { return timeOneAppend(*box.log, data[size_t(i) % 16]); });
        *paints = box.paints->paints;
        return s;
    };
    int viewPaints = 0;
    int plainPaints = 0;
    const Series view = run(false, 1e9, &viewPaints);
    const Series plain = run(true, PlainBudgetSeconds, &plainPaints);

    // Each QPlainTextEdit append lays out the whole line again: its cost grows
    // with the line. A straight line fitted to the appends measured gives the
    // rest.
    const double plainTotal = plain.stopped ? extrapolateLinearGrowth(plain.seconds, pieces) : plain.total;
    const QString plainTotalText = plain.stopped
                                       ? QStringLiteral("%1 (extrapolated; %2 MB took %3)")
                                             .arg(sec(plainTotal))
                                             .arg(double(plain.seconds.size() * piece) / MB, 0, 'f', 1)
                                             .arg(sec(plain.total))
                                       : sec(plain.total);
    rows.push_back({QStringLiteral("64 MB line in 64 KB pieces, total (%1 paints)").arg(viewPaints),
                    sec(view.total), plainTotalText, ratioOf(plainTotal, view.total), QStringLiteral("< 2 s"),
                    verdict(view.total < 2)});
    rows.push_back({QStringLiteral("64 MB line, slowest append"), ms(view.max()),
                    plain.stopped ? ms(plain.max()) + QStringLiteral(" (partial)") : ms(plain.max()),
                    ratioOf(plain.max(), view.max()), QStringLiteral("< 20 ms"),
                    verdict(view.max() < 0.020)});
    rows.push_back(
        {QStringLiteral("64 MB line, last append"), ms(view.seconds.back()),
         plain.stopped ? ms(plain.seconds.back()) + QStringLiteral(" (partial)") : ms(plain.seconds.back()),
         ratioOf(plain.seconds.back(), view.seconds.back()), QString(), QString()});
}

// Peak memory while a LogView takes 100 MB of entries one by one.
void memory()
{
    const qsizetype size = 100 * MB;
    Box box = makeBox(false);
    std::vector<QString> entries;
    for (int i = 0; i < 3600; ++i)
        entries.push_back(logEntry(i));
    QCoreApplication::processEvents();
    const qint64 baseKb = TestSupport::procStatusKb("VmRSS:");
    resetPeakMemory();
    for (int i = 0; box.log->length() < size; ++i)
        box.log->append(entries[size_t(i) % entries.size()]);
    box.log->setCaretPosition(box.log->length());
    QCoreApplication::processEvents();
    const qint64 peakKb = TestSupport::procStatusKb("VmHWM:");
    const double perChar = double(peakKb - baseKb) * 1024 / double(box.log->length());
    rows.push_back({QStringLiteral("peak memory per logged character, 100 MB of entries"),
                    QStringLiteral("%1 bytes").arg(perChar, 0, 'f', 2), QStringLiteral("not measured"),
                    QString(), QStringLiteral("< 4 bytes"), verdict(perChar < 4)});
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const QByteArray load = loadAverage();
    std::printf("Log box: LogView against QPlainTextEdit (PlainLogBox); QPlainTextEdit series stop after "
                "%.0f s.\nLoad average at the start: %s (the machine has %d cores).\n\n",
                PlainBudgetSeconds, load.constData(), QThread::idealThreadCount());
    memory();
    appendCost();
    longLine();
    printTable({QStringLiteral("case"), QStringLiteral("LogView"), QStringLiteral("QPlainTextEdit"),
                QStringLiteral("ratio"), QStringLiteral("target"), QStringLiteral("result")},
               rows);
    return 0;
}
