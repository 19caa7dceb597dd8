// Numbers as shown in the window and as typed by the user, in German and English.

#include "window/number_format.h"

#include <QLocale>
#include <QTest>

#include "window_test_main.h"

using quelvan::FormatNumber;
using quelvan::NumberPattern;
using quelvan::ParseDecimal;

Q_DECLARE_METATYPE(quelvan::NumberPattern)

namespace {
const QLocale kGerman(QLocale::German, QLocale::Germany);
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
}  // namespace

class NumberFormatTest : public QObject {
    Q_OBJECT
private slots:
    void formatsWithPattern_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<NumberPattern>("pattern");
        QTest::addColumn<QString>("german");
        QTest::addColumn<QString>("english");
        const auto pct = [](int channelValue) { return channelValue * 100 / 4096.0; };
        const auto twoDec = NumberPattern::UpToTwoDecimals;
        QTest::newRow("half") << pct(2048) << twoDec << "50"
                              << "50";
        QTest::newRow("two decimals") << pct(1000) << twoDec << "24,41"
                                      << "24.41";
        QTest::newRow("smallest step") << pct(1) << twoDec << "0,02"
                                       << "0.02";
        QTest::newRow("full") << pct(4096) << twoDec << "100"
                              << "100";
        QTest::newRow("negative") << pct(-2048) << twoDec << "-50"
                                  << "-50";
        QTest::newRow("trailing zero dropped") << 11.8 << twoDec << "11,8"
                                               << "11.8";
        QTest::newRow("no thousands group") << 1234.5 << twoDec << "1234,5"
                                            << "1234.5";
        QTest::newRow("half to even down") << 0.125 << twoDec << "0,12"
                                           << "0.12";
        QTest::newRow("half to even up") << 0.375 << twoDec << "0,38"
                                         << "0.38";
        QTest::newRow("tiny negative is zero") << -0.001 << twoDec << "0"
                                               << "0";
        QTest::newRow("one decimal kept") << 25.0 << NumberPattern::OneDecimal << "25,0"
                                          << "25.0";
        QTest::newRow("one decimal negative") << -4.5 << NumberPattern::OneDecimal << "-4,5"
                                              << "-4.5";
        QTest::newRow("one decimal rounds") << 25.34 << NumberPattern::OneDecimal << "25,3"
                                            << "25.3";
        QTest::newRow("optional decimal absent") << 12.0 << NumberPattern::UpToOneDecimal << "12"
                                                 << "12";
        QTest::newRow("optional decimal shown") << 12.5 << NumberPattern::UpToOneDecimal << "12,5"
                                                << "12.5";
        QTest::newRow("two digits padded") << 7.0 << NumberPattern::TwoDigits << "07"
                                           << "07";
        QTest::newRow("two digits zero") << 0.0 << NumberPattern::TwoDigits << "00"
                                         << "00";
        QTest::newRow("two digits wide") << 123.0 << NumberPattern::TwoDigits << "123"
                                         << "123";
        QTest::newRow("two digits negative") << -5.0 << NumberPattern::TwoDigits << "-05"
                                             << "-05";
    }
    void formatsWithPattern() {
        QFETCH(double, value);
        QFETCH(NumberPattern, pattern);
        QFETCH(QString, german);
        QFETCH(QString, english);
        QCOMPARE(FormatNumber(value, pattern, kGerman), german);
        QCOMPARE(FormatNumber(value, pattern, kEnglish), english);
    }

    void formatUsesDefaultLocale() {
        QLocale::setDefault(kGerman);
        QCOMPARE(FormatNumber(24.4140625, NumberPattern::UpToTwoDecimals), QStringLiteral("24,41"));
        QLocale::setDefault(kEnglish);
        QCOMPARE(FormatNumber(24.4140625, NumberPattern::UpToTwoDecimals), QStringLiteral("24.41"));
    }

    // A comma and a point are both the decimal separator, whatever the locale.
    void parsesCommaOrPoint_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("german");  // parse with the German locale, else English
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        QTest::newRow("german decimal comma") << "33,3" << true << true << 33.3;
        QTest::newRow("german integer") << "50" << true << true << 50.0;
        QTest::newRow("spaces around") << " 50 " << true << true << 50.0;
        QTest::newRow("negative") << "-12,5" << true << true << -12.5;
        QTest::newRow("german takes a point") << "26.5" << true << true << 26.5;
        QTest::newRow("point is no group separator") << "1.000" << true << true << 1.0;
        QTest::newRow("two separators") << "1.000,5" << true << false << 0.0;
        QTest::newRow("separator only") << "," << true << false << 0.0;
        QTest::newRow("exponent") << "1e2" << true << false << 0.0;
        QTest::newRow("letters") << "abc" << true << false << 0.0;
        QTest::newRow("trailing letters") << "50x" << true << false << 0.0;
        QTest::newRow("empty") << "" << true << false << 0.0;
        QTest::newRow("only spaces") << "   " << true << false << 0.0;
        QTest::newRow("infinity") << "inf" << true << false << 0.0;
        QTest::newRow("not a number") << "nan" << true << false << 0.0;
        QTest::newRow("english decimal point") << "33.3" << false << true << 33.3;
        QTest::newRow("english takes a comma") << "12,5" << false << true << 12.5;
        QTest::newRow("comma is no group separator") << "1,000" << false << true << 1.0;
        QTest::newRow("english negative comma") << "-0,25" << false << true << -0.25;
    }
    void parsesCommaOrPoint() {
        QFETCH(QString, text);
        QFETCH(bool, german);
        QFETCH(bool, ok);
        QFETCH(double, value);
        const std::optional<double> parsed = ParseDecimal(text, german ? kGerman : kEnglish);
        QCOMPARE(parsed.has_value(), ok);
        if (ok) QCOMPARE(*parsed, value);
    }

    void formatThenParseRoundTrips() {
        for (int channelValue : {0, 1, 1000, 2048, 4095, 4096, -7}) {
            const double percent = channelValue * 100 / 4096.0;
            const QString shown = FormatNumber(percent, NumberPattern::UpToTwoDecimals, kGerman);
            const std::optional<double> back = ParseDecimal(shown, kGerman);
            QVERIFY2(back.has_value(), qPrintable(shown));
            QVERIFY(std::abs(*back - percent) <= 0.005);
        }
    }
};

QUELVAN_WINDOW_TEST(NumberFormatTest)
#include "number_format_test.moc"
