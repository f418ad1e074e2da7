// What a long line costs in the line box: LineBox against QLineEdit doing the
// same work. A line of 1 MB of payload in spaced hex (3 MB of text) is pasted,
// then one key is typed at its end and in its middle, and the box is painted
// after each step. Run on the offscreen platform in a Release build.

#include "ui/LineBox.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <cstdio>
#include <functional>

namespace {

constexpr int PayloadBytes = 1000000;
constexpr double TargetMs = 50;

struct Figures
{
    double paste = 0;
    double keyAtEnd = 0;
    double keyInMiddle = 0;
    qsizetype length = 0;
};

double timed(QWidget* box, const std::function<void()>& step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    box->repaint(); // what the user waits for: the step and its paint
    return clock.nsecsElapsed() / 1e6;
}

template <typename Box> Figures measure(Box* box, const std::function<void(qsizetype)>& moveTo)
{
    box->resize(500, box->sizeHint().height());
    box->show();
    (void)QTest::qWaitForWindowExposed(box);
    box->setFocus();
    Figures f;
    f.paste = timed(box, [&] { box->paste(); });
    f.length = box->text().size();
    f.keyAtEnd = timed(box, [&] { QTest::keyClick(box, Qt::Key_A); });
    moveTo(f.length / 2);
    f.keyInMiddle = timed(box, [&] { QTest::keyClick(box, Qt::Key_B); });
    return f;
}

const char* verdict(double ms)
{
    return ms <= TargetMs ? "PASS" : "MISS";
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString line;
    line.reserve(3 * PayloadBytes);
    for (int i = 0; i < PayloadBytes; ++i)
        line += QStringLiteral("%1 ").arg(i & 0xFF, 2, 16, QLatin1Char('0'));
    line.chop(1);
    QApplication::clipboard()->setText(line);

    LineBox ours;
    const Figures a = measure(&ours, [&](qsizetype pos) { ours.setCursorPosition(pos); });
    QLineEdit stock;
    stock.setMaxLength(2147483647);
    const Figures b = measure(&stock, [&](qsizetype pos) { stock.setCursorPosition(int(pos)); });

    std::printf("Line box: a pasted line of %lld characters (1 MB of payload in spaced hex)\n\n",
                static_cast<long long>(a.length));
    std::printf("| step, with its paint | LineBox | QLineEdit | target |\n|---|---|---|---|\n");
    const struct
    {
        const char* name;
        double ours, stock;
    } rows[] = {{"paste", a.paste, b.paste},
                {"one key at the end", a.keyAtEnd, b.keyAtEnd},
                {"one key in the middle", a.keyInMiddle, b.keyInMiddle}};
    for (const auto& r : rows)
        std::printf("| %s | %.2f ms | %.0f ms | <= %.0f ms %s |\n", r.name, r.ours, r.stock, TargetMs,
                    verdict(r.ours));
    return 0;
}
