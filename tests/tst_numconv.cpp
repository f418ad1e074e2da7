#include "platform/KvError.h"
#include "platform/NumConv.h"

#include <QLocale>
#include <QTest>

#include <clocale>

class TestNumConv : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void val_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("plain digits") << "1000" << 1000.0;
        QTest::newRow("empty text") << "" << 0.0;
        QTest::newRow("letters only") << "abc" << 0.0;
        QTest::newRow("digits then letters") << "250ms" << 250.0;
        QTest::newRow("letters then digits") << "ms250" << 0.0;
        QTest::newRow("leading blanks") << "   42" << 42.0;
        QTest::newRow("blanks inside the digits") << "1 2 3" << 123.0;
        QTest::newRow("tab and line feed inside") << "1\t2\n3" << 123.0;
        QTest::newRow("carriage return ends it") << "12\r3" << 12.0;
        QTest::newRow("minus sign") << "-17" << -17.0;
        QTest::newRow("plus sign") << "+17" << 17.0;
        QTest::newRow("sign then blank") << "- 5" << -5.0;
        QTest::newRow("sign alone") << "-" << 0.0;
        QTest::newRow("decimal point") << "2.5" << 2.5;
        QTest::newRow("second point ends it") << "1.2.3" << 1.2;
        QTest::newRow("point first") << ".5" << 0.5;
        QTest::newRow("comma is no point") << "2,5" << 2.0;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("exponent upper case with sign") << "15E-1" << 1.5;
        QTest::newRow("D exponent") << "2d2" << 200.0;
        QTest::newRow("exponent without digits") << "7e" << 7.0;
        QTest::newRow("exponent alone") << "e5" << 0.0;
        QTest::newRow("hex prefix") << "&H1F" << 31.0;
        QTest::newRow("hex lower case") << "&hff" << 255.0;
        QTest::newRow("octal prefix") << "&O17" << 15.0;
        QTest::newRow("octal stops at 8") << "&O18" << 1.0;
        QTest::newRow("hex without digits") << "&H" << 0.0;
        QTest::newRow("ampersand alone") << "&5" << 0.0;
        QTest::newRow("stored true") << "-1" << -1.0;
        QTest::newRow("port with letter") << "80a" << 80.0;
        QTest::newRow("exponent with leading zeros") << "1e0000000000000003" << 1000.0;
        QTest::newRow("negative exponent with leading zeros") << "1e-00000000000000000001" << 0.1;
        QTest::newRow("exponent with more leading zeros") << "1e00000000000000000003" << 1000.0;
        QTest::newRow("exponent that underflows") << "1e-99999999999999999999" << 0.0;
        QTest::newRow("long mantissa cancels the exponent") << "0.0000000000000000000001e22" << 1.0;
    }
    void val()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(Val(text), expected);
    }

    void valIgnoresTheProcessLocale()
    {
        // A decimal-comma locale must not change how "." reads.
        const char* old = std::setlocale(LC_NUMERIC, nullptr);
        const std::string saved = old ? old : "C";
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
            QSKIP("no decimal-comma locale installed");
        const double value = Val(QStringLiteral("1.5"));
        std::setlocale(LC_NUMERIC, saved.c_str());
        QCOMPARE(value, 1.5);
    }

    void valOverflow_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("three-digit exponent") << "1e999";
        QTest::newRow("exponent of twenty digits") << "1e99999999999999999999";
    }
    void valOverflow()
    {
        QFETCH(QString, text);
        QVERIFY_THROWS_EXCEPTION(KvError, Val(text));
    }

    void numToText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("whole") << 1000.0 << "1000";
        QTest::newRow("negative whole") << -5.0 << "-5";
        QTest::newRow("large whole as plain digits") << 3000000000.0 << "3000000000";
        QTest::newRow("fraction") << 2.5 << "2.5";
    }
    void numToText()
    {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(NumToText(value), expected);
    }

    void roundToInt16_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("overflows");
        QTest::newRow("whole") << 1.0 << 1 << false;
        QTest::newRow("half to even down") << 2.5 << 2 << false;
        QTest::newRow("half to even up") << 3.5 << 4 << false;
        QTest::newRow("half of zero") << 0.5 << 0 << false;
        QTest::newRow("negative half") << -1.5 << -2 << false;
        QTest::newRow("negative half to even") << -2.5 << -2 << false;
        QTest::newRow("below half") << 1.49 << 1 << false;
        QTest::newRow("above half") << 1.51 << 2 << false;
        QTest::newRow("top of range") << 32767.0 << 32767 << false;
        QTest::newRow("bottom of range") << -32768.0 << -32768 << false;
        QTest::newRow("rounds into range") << 32767.4 << 32767 << false;
        QTest::newRow("rounds out of range") << 32767.5 << 0 << true;
        QTest::newRow("past the top") << 32768.0 << 0 << true;
        QTest::newRow("past the bottom") << -32769.0 << 0 << true;
    }
    void roundToInt16()
    {
        QFETCH(double, value);
        QFETCH(int, expected);
        QFETCH(bool, overflows);
        if (overflows) {
            try {
                RoundToInt16(value);
                QFAIL("no overflow");
            } catch (const KvError& e) {
                QCOMPARE(e.number(), KvErr::Overflow);
            }
        } else {
            QCOMPARE(int(RoundToInt16(value)), expected);
        }
    }

    void roundToInt32_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<qint64>("expected");
        QTest::addColumn<bool>("overflows");
        QTest::newRow("interval") << 1000.0 << qint64(1000) << false;
        QTest::newRow("half to even") << 10.5 << qint64(10) << false;
        QTest::newRow("top of range") << 2147483647.0 << qint64(2147483647) << false;
        QTest::newRow("past the top") << 2147483648.0 << qint64(0) << true;
        QTest::newRow("bottom of range") << -2147483648.0 << qint64(-2147483648LL) << false;
    }
    void roundToInt32()
    {
        QFETCH(double, value);
        QFETCH(qint64, expected);
        QFETCH(bool, overflows);
        if (overflows)
            QVERIFY_THROWS_EXCEPTION(KvError, RoundToInt32(value));
        else
            QCOMPARE(qint64(RoundToInt32(value)), expected);
    }

    void textToInt32_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("error"); // 0 when it converts
        QTest::newRow("port") << "5005" << 5005 << 0;
        QTest::newRow("blanks around") << "  80 " << 80 << 0;
        QTest::newRow("negative") << "-1" << -1 << 0;
        QTest::newRow("above a port still converts") << "70000" << 70000 << 0;
        QTest::newRow("hex") << "&H50" << 80 << 0;
        QTest::newRow("exponent") << "1e3" << 1000 << 0;
        QTest::newRow("fraction rounds to even") << "80.5" << 80 << 0;
        QTest::newRow("letters") << "abc" << 0 << int(KvErr::TypeMismatch);
        QTest::newRow("empty") << "" << 0 << int(KvErr::TypeMismatch);
        QTest::newRow("blanks only") << "   " << 0 << int(KvErr::TypeMismatch);
        QTest::newRow("digits then letter") << "80a" << 0 << int(KvErr::TypeMismatch);
        QTest::newRow("blank inside") << "8 0" << 0 << int(KvErr::TypeMismatch);
        QTest::newRow("too large") << "3000000000" << 0 << int(KvErr::Overflow);
    }
    void textToInt32()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QFETCH(int, error);
        try {
            const qint32 got = TextToInt32(text);
            QCOMPARE(error, 0);
            QCOMPARE(got, expected);
        } catch (const KvError& e) {
            QCOMPARE(e.number(), error);
            QVERIFY(!e.description().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestNumConv)
#include "tst_numconv.moc"
