#include "clock.h"
#include "materials/clockformat.h"
#include "materials/clockview.h"
#include "materials/textlayout.h"
#include "materials/textview.h"
#include "testenv.h"
#include "texttools.h"
#include "zones/zonewindow.h"

#include <QFontMetrics>
#include <QLabel>
#include <QtTest>

#include <memory>

using ContentXml::MtlKind;
using ContentXml::ZONE_CTRL;
using ContentXml::ZONE_MTL;

// Text and clock zones: line breaking, scrolling, clock texts, and the text
// timer that drives them.
class TestTextZone : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void breakLines_data();
    void breakLines();
    void lineFeedHeight();
    void scrollSteps_data();
    void scrollSteps();
    void scrollWrapsAround_data();
    void scrollWrapsAround();

    void clockFormats_data();
    void clockFormats();
    void clockTexts_data();
    void clockTexts();
    void weekdayReplacement_data();
    void weekdayReplacement();
    void clockColoursAndSize();
    void styleColours_data();
    void styleColours();

    void horizontalCaptionInZone();
    void verticalCaptionInZone();
    void stillCaptionFillsZone();
    void clockInZone();
    void textMovesAgainAfterOtherMaterial();

private:
    std::unique_ptr<ZoneWindow> makeZone(const QList<ZONE_MTL> &mtls, QSize size = QSize(400, 100));

    std::unique_ptr<TestEnv> m_env;
    // Tuesday 2024-05-07 08:18:30 UTC.
    const qint64 m_utcMs = 1715069910000;
};

static ZONE_MTL material(const QString &type, int len = 10)
{
    ZONE_MTL m;
    m.name = QStringLiteral("Special");
    m.type = type;
    m.kind = ContentXml::mtlKind(type);
    m.len = len;
    m.etimes = 1;
    return m;
}

static ZONE_MTL caption(const QString &text, int movemode, int speed)
{
    ZONE_MTL m = material(QStringLiteral("text"));
    m.caption = text;
    m.movemode = movemode;
    m.speed = speed;
    m.color = QStringLiteral("#ff0000ff");
    m.bgcolor = QStringLiteral("#0000ff");
    m.fsize = 20;
    return m;
}

void TestTextZone::init()
{
    m_env = std::make_unique<TestEnv>();
    Clock::setFixedMs(m_utcMs);
}

void TestTextZone::cleanup()
{
    Clock::reset();
    m_env.reset();
}

std::unique_ptr<ZoneWindow> TestTextZone::makeZone(const QList<ZONE_MTL> &mtls, QSize size)
{
    auto form = std::make_unique<ZoneWindow>(nullptr);
    form->initParam(QString(), 0.5, 0, 0, size.width(), size.height());
    form->setGeometry(form->zoneRect());
    form->show();
    ZONE_CTRL zone;
    zone.name = QStringLiteral("text");
    zone.mtls = mtls;
    form->setZoneCtrl(zone, nullptr, 0);
    form->checkPlayZoneMtls();
    return form;
}

void TestTextZone::breakLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("broken");
    QTest::addColumn<int>("lines");
    // Every character measures 10 pixels: a line holds what is narrower than the width.
    QTest::newRow("one character") << "a" << 5 << "a" << 1;
    QTest::newRow("fits") << "abcd" << 50 << "abcd" << 1;
    QTest::newRow("plain breaks") << "abcdefghij" << 50 << "abcd\nefgh\nij" << 3;
    QTest::newRow("comma takes the character before along")
        << QString::fromUtf8("abcd，efg") << 50 << QString::fromUtf8("abc\nd，ef\ng") << 3;
    QTest::newRow("chinese comma")
        << QString::fromUtf8("欢迎光临，谢谢") << 50 << QString::fromUtf8("欢迎光\n临，谢谢") << 2;
    QTest::newRow("full stop") << "abcd." << 50 << "abc\nd." << 2;
    QTest::newRow("mark after a lone character breaks before the mark")
        << QString::fromUtf8("a，b") << 15 << QString::fromUtf8("a\n，\nb") << 3;
    QTest::newRow("narrower than one character") << "abc" << 5 << "a\nb\nc" << 3;
}

void TestTextZone::breakLines()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, broken);
    QFETCH(int, lines);
    const int count = TextLayout::breakLines(
        text, width, [](const QString &piece) { return 10 * int(piece.size()); });
    QCOMPARE(text, broken);
    QCOMPARE(count, lines);
    // No line starts with a punctuation mark unless it could not be helped.
    if (width >= 30) {
        for (const QString &line : text.split(QLatin1Char('\n')))
            QVERIFY2(!TextTools::isPunctuationMark(line.left(1)), qPrintable(line));
    }
}

void TestTextZone::lineFeedHeight()
{
    QFont font;
    font.setPointSize(20);
    const QFontMetrics metrics(font);
    const int line = metrics.height() + metrics.leading();
    QString one = QString::fromUtf8("欢");
    QCOMPARE(TextLayout::setLineFeed(one, 10, font), line);
    QCOMPARE(one, QString::fromUtf8("欢"));

    QString long_ = QString::fromUtf8("欢迎光临本店，今天全场八折，欢迎选购。");
    const int height = TextLayout::setLineFeed(long_, 200, font);
    const QStringList lines = long_.split(QLatin1Char('\n'));
    QVERIFY(lines.size() > 1);
    QCOMPARE(height, line * lines.size());
    for (const QString &piece : lines) {
        QVERIFY(metrics.horizontalAdvance(piece) < 200);
        QVERIFY(!TextTools::isPunctuationMark(piece.left(1)));
    }
}

void TestTextZone::scrollSteps_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("step");
    QTest::newRow("0") << 0 << 40;
    QTest::newRow("10") << 10 << 40;
    QTest::newRow("11") << 11 << 26;
    QTest::newRow("20") << 20 << 26;
    QTest::newRow("21") << 21 << 13;
    QTest::newRow("99") << 99 << 13;
}

void TestTextZone::scrollSteps()
{
    QFETCH(int, speed);
    QFETCH(int, step);
    QCOMPARE(TextLayout::scrollStep(speed), step);
}

void TestTextZone::scrollWrapsAround_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("next");
    QTest::newRow("moves") << 300 << 40 << 100 << 260;
    QTest::newRow("partly out") << -60 << 40 << 100 << -100;
    QTest::newRow("just out: stays") << -87 << 13 << 100 << -100;
    QTest::newRow("beyond: comes in again") << -90 << 13 << 100 << 400;
    QTest::newRow("wider than the zone") << -1000 << 26 << 1000 << 400;
}

void TestTextZone::scrollWrapsAround()
{
    QFETCH(int, position);
    QFETCH(int, step);
    QFETCH(int, size);
    QFETCH(int, next);
    QCOMPARE(TextLayout::nextScrollX(position, step, size, 400), next);
    QCOMPARE(TextLayout::nextScrollY(position, step, size, 400), next);
}

void TestTextZone::clockFormats_data()
{
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QString>("custom");
    QTest::addColumn<QString>("format");
    QTest::newRow("0") << "0"
                       << ""
                       << "yyyy-MM-dd ddd HH:mm";
    QTest::newRow("1") << "1"
                       << ""
                       << "MM-dd ddd HH:mm";
    QTest::newRow("2") << "2"
                       << ""
                       << "MM-dd HH:mm";
    QTest::newRow("3") << "3"
                       << ""
                       << "HH:mm";
    QTest::newRow("4 without $") << "4"
                                 << "HH:mm"
                                 << "MM-dd ddd HH:mm:ss";
    QTest::newRow("4 weekday") << "4"
                               << "$dd$ HH:mm"
                               << "ddd HH:mm";
    QTest::newRow("4 upper-case date") << "4"
                                       << "YYYY-MM-DD $dd$ HH:mm"
                                       << "yyyy-MM-dd ddd HH:mm";
    QTest::newRow("4 day removed")
        << "4" << QString::fromUtf8("MM月DD日$d$ HH:mm$") << QString::fromUtf8("MM月dd日 HH:mm");
    QTest::newRow("custom ignored for 1") << "1"
                                          << "$dd$"
                                          << "MM-dd ddd HH:mm";
    QTest::newRow("empty") << ""
                           << ""
                           << "MM-dd ddd HH:mm:ss";
    QTest::newRow("other") << "7"
                           << ""
                           << "MM-dd ddd HH:mm:ss";
}

void TestTextZone::clockFormats()
{
    QFETCH(QString, selector);
    QFETCH(QString, custom);
    QFETCH(QString, format);
    QCOMPARE(ClockFormat::clockFormat(selector, custom), format);
}

void TestTextZone::clockTexts_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QString>("custom");
    QTest::addColumn<QString>("text");
    const QString nepal = QStringLiteral("Nepal Standard Time");
    QTest::newRow("0") << nepal << "0"
                       << "" << QString::fromUtf8("2024-05-07 周二 14:03");
    QTest::newRow("1") << nepal << "1"
                       << "" << QString::fromUtf8("05-07 周二 14:03");
    QTest::newRow("2") << nepal << "2"
                       << "" << QString::fromUtf8("05-07 14:03");
    QTest::newRow("3") << nepal << "3"
                       << "" << QString::fromUtf8("14:03");
    QTest::newRow("4 plain") << nepal << "4"
                             << "HH:mm" << QString::fromUtf8("05-07 周二 14:03:30");
    QTest::newRow("4 custom") << nepal << "4"
                              << "$dd$ HH:mm" << QString::fromUtf8("周二 14:03");
    QTest::newRow("4 custom date")
        << "China Standard Time"
        << "4"
        << "YYYY/MM/DD $dd$ HH:mm:ss" << QString::fromUtf8("2024/05/07 周二 16:18:30");
    QTest::newRow("across midnight") << "Tokyo Standard Time"
                                     << "4"
                                     << "$dd$ DD HH:mm" << QString::fromUtf8("周二 07 17:18");
    QTest::newRow("UTC") << "UTC"
                         << "0"
                         << "" << QString::fromUtf8("2024-05-07 周二 08:18");
}

void TestTextZone::clockTexts()
{
    QFETCH(QString, zone);
    QFETCH(QString, selector);
    QFETCH(QString, custom);
    QFETCH(QString, text);
    QCOMPARE(ClockFormat::clockText(zone, ClockFormat::clockFormat(selector, custom)), text);
    // Past local midnight in Tokyo (UTC+9) it is Wednesday there already.
    Clock::setFixedMs(m_utcMs + 7 * 3600 * 1000);
    QCOMPARE(ClockFormat::clockText(QStringLiteral("Tokyo Standard Time"), QStringLiteral("ddd")),
        QString::fromUtf8("周三"));
}

void TestTextZone::weekdayReplacement_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("replaced");
    QTest::newRow("each day") << "Mon Tue Wed Thu Fri Sat Sun"
                              << QString::fromUtf8("周一 Tue Wed Thu Fri Sat Sun");
    QTest::newRow("all occurrences of the first found")
        << "Sun 12 Sun" << QString::fromUtf8("周日 12 周日");
    QTest::newRow("searched Monday first, not by position")
        << "Sat Fri" << QString::fromUtf8("Sat 周五");
    QTest::newRow("none") << "12:00"
                          << "12:00";
    QTest::newRow("case-sensitive") << "MON"
                                    << "MON";
}

void TestTextZone::weekdayReplacement()
{
    QFETCH(QString, text);
    QFETCH(QString, replaced);
    QCOMPARE(ClockFormat::replaceWeekday(text), replaced);
}

void TestTextZone::clockColoursAndSize()
{
    QCOMPARE(ClockFormat::clockBackground("#FFFFFF"), QString("#000000"));
    QCOMPARE(ClockFormat::clockBackground("#ffffffcc"), QString("#000000"));
    QCOMPARE(ClockFormat::clockBackground("#ff0000"), QString("#ffffff"));
    QCOMPARE(ClockFormat::clockBackground(""), QString("#ffffff"));
    QCOMPARE(ClockFormat::clockPointSize(0), 30);
    QCOMPARE(ClockFormat::clockPointSize(5), 30);
    QCOMPARE(ClockFormat::clockPointSize(6), 6);
    QCOMPARE(ClockFormat::clockPointSize(48), 48);
    QCOMPARE(TextLayout::labelStyle("#ff0000ff", "#0000ff"),
        QString("color:#ff0000;background:#0000ff"));
}

void TestTextZone::styleColours_data()
{
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QString>("used"); // what goes into the style sheets
    const QList<QPair<const char *, const char *>> rows {{"#00ff00", "#00ff00"},
        {"#8000ff00", "#8000ff"}, {"red", "red"}, {"", ""},
        {"red; background-image: url(file:///etc/passwd)", ""}, {"#00ff00;x", ""}};
    for (const auto &[colour, used] : rows)
        QTest::addRow("%s", colour) << QString(colour) << QString(used);
}

void TestTextZone::styleColours()
{
    QFETCH(QString, colour);
    QFETCH(QString, used);
    ZONE_MTL m = caption(QStringLiteral("Welcome"), 0, 10);
    m.color = colour;
    m.bgcolor = colour;
    auto form = makeZone({m});
    const auto *view = static_cast<TextView *>(form->currentView());
    QCOMPARE(view->textLabel()->styleSheet(), QString("color:%1;background:%1").arg(used));
    QCOMPARE(form->styleSheet(), QString("background:") + used);
}

void TestTextZone::horizontalCaptionInZone()
{
    ZONE_MTL m = caption(QStringLiteral("Welcome"), 1, 10);
    m.bold = 1;
    m.italic = 1;
    m.udl = 1;
    m.font = QStringLiteral("no such font");
    auto form = makeZone({m});
    auto *view = static_cast<TextView *>(form->currentView());
    QVERIFY(view && form->view(MtlKind::Text) == view);
    QLabel *label = view->textLabel();
    QVERIFY(label->isVisible());
    QCOMPARE(label->styleSheet(), QString("color:#ff0000;background:#0000ff"));
    QCOMPARE(form->styleSheet(), QString("background:#0000ff"));
    QCOMPARE(label->font().weight(), int(QFont::Bold));
    QVERIFY(label->font().italic() && label->font().underline());
    QCOMPARE(label->font().family(), QString("KaiTi"));
    QCOMPARE(label->font().pointSize(), 20);

    // Right edge on the zone's right edge, centred vertically.
    const int w = label->width();
    QVERIFY(w > 0 && w < 400);
    QCOMPARE(label->x(), 400 - w);
    QCOMPARE(label->y(), (100 - label->height()) / 2);
    QVERIFY(form->textTimer() && form->textTimer()->isActive());
    QCOMPARE(form->textTimer()->interval(), 200);

    // 40 pixels a tick until it has left the zone, then in again from the right.
    int x = label->x();
    int ticks = 0;
    while (x - 40 >= -w) {
        form->sltShowText();
        QCOMPARE(label->x(), x - 40);
        x = label->x();
        ++ticks;
    }
    form->sltShowText();
    QCOMPARE(label->x(), 400);
    QCOMPARE(ticks, 10); // (400 - w) + w pixels to go
    QCOMPARE(label->width(), w);
}

void TestTextZone::verticalCaptionInZone()
{
    const QString text = QString::fromUtf8("欢迎光临本店，今天全场八折，欢迎选购。");
    auto form = makeZone({caption(text, 2, 21)});
    QLabel *label = static_cast<TextView *>(form->currentView())->textLabel();
    QString expected = text;
    const int height = TextLayout::setLineFeed(expected, 400, label->font());
    QCOMPARE(label->text(), expected);
    QCOMPARE(label->geometry(), QRect(0, 0, 400, height));

    form->sltShowText();
    QCOMPARE(label->pos(), QPoint(0, -13));
    while (label->y() - 13 >= -height)
        form->sltShowText();
    form->sltShowText();
    QCOMPARE(label->pos(), QPoint(0, 100));
}

void TestTextZone::stillCaptionFillsZone()
{
    auto form = makeZone({caption(QStringLiteral("Open daily"), 0, 10)});
    QLabel *label = static_cast<TextView *>(form->currentView())->textLabel();
    QCOMPARE(label->geometry(), QRect(0, 0, 400, 100));
    QCOMPARE(label->alignment() & Qt::AlignVertical_Mask, Qt::Alignment(Qt::AlignVCenter));
    QCOMPARE(label->text(), QString("Open daily"));
    QVERIFY(!form->textTimer()); // nothing moves
}

void TestTextZone::clockInZone()
{
    ZONE_MTL clock = material(QStringLiteral("clock"));
    clock.timeZoneID = QStringLiteral("Nepal Standard Time");
    clock.datefotmat = QStringLiteral("4");
    clock.customerFormat = QStringLiteral("$dd$ HH:mm:ss");
    clock.color = QStringLiteral("#FFFFFF");
    ZONE_MTL red = clock;
    red.color = QStringLiteral("#ff0000");
    red.fsize = 48;
    red.datefotmat = QStringLiteral("2");
    auto form = makeZone({clock, red});
    auto *view = static_cast<ClockView *>(form->currentView());
    QLabel *label = view->textLabel();
    // Shown at once, before the timer's first tick is handled.
    QCOMPARE(label->text(), QString::fromUtf8("周二 14:03:30"));
    QCOMPARE(label->styleSheet(), QString("color:#FFFFFF;background:#000000"));
    QCOMPARE(form->styleSheet(), QString("background:transparent"));
    QCOMPARE(label->geometry(), QRect(0, 0, 400, 100));
    QCOMPARE(label->alignment(), Qt::Alignment(Qt::AlignCenter));
    QVERIFY(label->wordWrap());
    QCOMPARE(label->font().pointSize(), 30);
    QCOMPARE(form->textTimer()->interval(), 500);
    // The ground is painted, not only named in the style sheet.
    QCOMPARE(form->grab().toImage().pixelColor(2, 2), QColor(Qt::black));

    Clock::advanceMs(1000);
    form->sltShowText();
    QCOMPARE(label->text(), QString::fromUtf8("周二 14:03:31"));

    Clock::advanceMs(9000);
    form->checkPlayZoneMtls();
    QCOMPARE(form->currentView(), view);
    QCOMPARE(label->text(), QString::fromUtf8("05-07 14:03"));
    QCOMPARE(label->styleSheet(), QString("color:#ff0000;background:#ffffff"));
    QCOMPARE(label->font().pointSize(), 48);
    QCOMPARE(form->grab().toImage().pixelColor(2, 2), QColor(Qt::white));
    QCOMPARE(view->clockFormat(), QString("MM-dd HH:mm"));
}

void TestTextZone::textMovesAgainAfterOtherMaterial()
{
    ZONE_MTL text = caption(QStringLiteral("Scrolling"), 1, 10);
    text.len = 1;
    ZONE_MTL other = material(QStringLiteral("hologram"), 1);
    auto form = makeZone({text, other});
    QLabel *label = static_cast<TextView *>(form->currentView())->textLabel();
    QTRY_VERIFY(label->x() < 400 - label->width()); // scrolls

    Clock::advanceMs(1000);
    form->checkPlayZoneMtls();
    QVERIFY(!label->isVisible());
    QVERIFY(form->textTimer()->isActive());
    QCOMPARE(form->textTimer()->interval(), 86400000); // idle

    Clock::advanceMs(1000);
    form->checkPlayZoneMtls();
    QVERIFY(label->isVisible());
    const int start = label->x();
    QCOMPARE(start, 400 - label->width());
    // Moves again at once, not after the day-long sleep has run out.
    QTRY_VERIFY_WITH_TIMEOUT(label->x() < start, 1000);
}

QTEST_MAIN(TestTextZone)
#include "test_textzone.moc"
