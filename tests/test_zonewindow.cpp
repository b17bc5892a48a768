#include "clock.h"
#include "materials/webpageview.h"
#include "playlog/playlog.h"
#include "testenv.h"
#include "zonefixture.h"
#include "zonemtl.h"
#include "zones/zonewindow.h"

#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QSignalSpy>
#include <QVideoWidget>
#include <QWebFrame>
#include <QWebSettings>
#include <QWebView>
#include <QtTest>

using ContentXml::ZONE_CTRL;
using ContentXml::ZONE_MTL;

// A zone window offscreen: what it shows, and the play records it writes.
class TestZoneWindow : public ZoneFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void picturesCycleAndRecord();
    void swipeSkipsWithoutRecord();
    void stopRecordsCompletedPlays();
    void pdfPagesWrap();
    void pdfAndPictureTakeTurns();
    void newContentsRecordTheCutPlay();
    void unshownMaterialsAreNotRecorded_data();
    void unshownMaterialsAreNotRecorded();
    void localPageShows();
    void failedPageIsRetried();
    void missingVideoKeepsSlotAndVolume();
    void unknownTypeHidesEverything();
    void textZoneAsksToBePutBack();

private:
    QStringList playedNames() const;
    QStringList logLines() const;
    void writePdf(const QString &name, const QList<QColor> &pages);
    std::unique_ptr<ZoneWindow> makeZone(const QList<ZONE_MTL> &mtls, QSize size = QSize(400, 300));
};

void TestZoneWindow::init()
{
    setUpZone();
}

void TestZoneWindow::cleanup()
{
    tearDownZone();
}

// Names of the plays recorded, in order.
QStringList TestZoneWindow::playedNames() const
{
    QStringList names;
    for (const QString &line : messageLines()) {
        const int start = line.indexOf("VALUES('");
        if (start >= 0)
            names << line.mid(start + 8, line.indexOf('\'', start + 8) - start - 8);
    }
    return names;
}

QStringList TestZoneWindow::logLines() const
{
    QStringList lines;
    const QDir logs(m_env->dataRoot() + "/logs");
    for (const QString &file : logs.entryList(QDir::Files))
        lines += QString::fromUtf8(readFile(logs.filePath(file))).split("\r\n", Qt::SkipEmptyParts);
    return lines;
}

// A PDF whose pages are filled with these colours.
void TestZoneWindow::writePdf(const QString &name, const QList<QColor> &pages)
{
    QPdfWriter writer(mtlDir() + name);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&writer);
    for (int page = 0; page < pages.size(); ++page) {
        if (page > 0)
            writer.newPage();
        painter.fillRect(QRect(0, 0, writer.width(), writer.height()), pages.at(page));
    }
}

std::unique_ptr<ZoneWindow> TestZoneWindow::makeZone(const QList<ZONE_MTL> &mtls, QSize size)
{
    auto form = std::make_unique<ZoneWindow>(nullptr);
    form->initParam("127.0.0.1:2100", 0.5, 10, 20, size.width(), size.height());
    form->setGeometry(form->zoneRect());
    form->show();
    ZONE_CTRL zone;
    zone.name = "main";
    zone.mtls = mtls;
    form->setZoneCtrl(zone, m_log.get(), 2);
    return form;
}

void TestZoneWindow::picturesCycleAndRecord()
{
    auto form = makeZone({mtl("a.png", 10, "pic", 3), mtl("b.png", 5)});
    form->checkPlayZoneMtls();
    QCOMPARE(form->currentType(), QString("pic"));
    QCOMPARE(form->cycle().current().name, QString("a.png"));
    auto *label = form->findChild<QLabel *>();
    QVERIFY(label && label->isVisible());
    QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage().pixel(1, 1), QColor(Qt::red).rgb());
    QVERIFY(form->isTicking()); // woken at the end of the slot, not polled
    QVERIFY(messageLines().isEmpty());

    // Three plays of 10 s later the next picture shows and one record is written.
    m_now += 30000;
    Clock::setFixedMs(m_now);
    form->checkPlayZoneMtls();
    QCOMPARE(form->cycle().current().name, QString("b.png"));
    QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage().pixel(1, 1), QColor(Qt::blue).rgb());
    const QStringList lines = messageLines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0],
        QString("SQL|UPDATE file_mgt SET access_time='2026-12-08 12:01:00' WHERE "
                "name='a.png'"));
    // The play began 30 s before it was written: 3 times 10 s.
    QCOMPARE(lines[1],
        QString("SQL|INSERT INTO play_detail(name, play_time, play_type, times, "
                "duration, mtl_type) VALUES('a.png', '2026-12-08 12:00:30', 2, 3, "
                "10, 'pic')"));
}

void TestZoneWindow::swipeSkipsWithoutRecord()
{
    auto form = makeZone({mtl("a.png", 10), mtl("b.png", 10)});
    form->checkPlayZoneMtls();
    const QPoint origin = form->mapToGlobal(QPoint(300, 100));
    form->processPicTouch(origin, origin + QPoint(-120, 10)); // to the left: next
    QTRY_COMPARE(form->cycle().current().name, QString("b.png"));
    form->processPicTouch(origin, origin + QPoint(0, 10)); // no swipe
    form->processPicTouch(origin, origin + QPoint(-120, 60)); // too steep for 300 px
    QTest::qWait(20);
    QCOMPARE(form->cycle().current().name, QString("b.png"));
    form->processPicTouch(origin, origin + QPoint(120, 0)); // to the right: previous
    QTRY_COMPARE(form->cycle().current().name, QString("a.png"));
    QVERIFY(messageLines().isEmpty());
}

void TestZoneWindow::stopRecordsCompletedPlays()
{
    auto form = makeZone({mtl("a.png", 5)});
    form->checkPlayZoneMtls();
    m_now += 12500;
    Clock::setFixedMs(m_now);
    form->saveLastPlayDetail();
    QVERIFY(!form->isTicking());
    const QStringList lines = messageLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[1].endsWith("VALUES('a.png', '2026-12-08 12:00:32', 2, 2, 5, 'pic')"));
}

void TestZoneWindow::pdfPagesWrap()
{
    {
        QPdfWriter writer(mtlDir() + "doc.pdf");
        writer.setPageSize(QPageSize(QPageSize::A4));
        QPainter painter(&writer);
        for (int page = 0; page < 3; ++page) {
            if (page > 0)
                writer.newPage();
            painter.drawText(200, 200, QString("page %1").arg(page + 1));
        }
    }
    auto form = makeZone({mtl("doc.pdf", 30, "pdf"), mtl("b.png", 5)}, QSize(800, 400));
    form->checkPlayZoneMtls();
    QCOMPARE(form->pageCount(), 3);
    QCOMPARE(form->pageText(), QString("1 / 3"));
    auto *next = form->findChild<QPushButton *>("nextButton");
    QVERIFY(next);
    auto *label = form->findChild<QLabel *>();
    // A4 portrait in an 800 x 400 zone: fitted to the height, centred.
    QCOMPARE(label->geometry().height(), 400);
    QCOMPARE(label->geometry().y(), 0);
    QVERIFY(label->geometry().x() > 200);
    QVERIFY(!label->pixmap(Qt::ReturnByValue).isNull());

    form->sltNextPage();
    form->sltNextPage();
    QCOMPARE(form->pageText(), QString("3 / 3"));
    next->click();
    QCOMPARE(form->pageText(), QString("1 / 3"));
    form->findChild<QPushButton *>("backButton")->click();
    QCOMPARE(form->pageText(), QString("3 / 3"));
    // A left swipe turns the page instead of leaving the document.
    const QPoint origin = form->mapToGlobal(QPoint(400, 100));
    form->processPicTouch(origin, origin + QPoint(-100, 0));
    QCOMPARE(form->pageText(), QString("1 / 3"));
    QCOMPARE(form->cycle().current().name, QString("doc.pdf"));

    // The picture after it hides the page controls.
    m_now += 30000;
    Clock::setFixedMs(m_now);
    form->checkPlayZoneMtls();
    QCOMPARE(form->currentType(), QString("pic"));
    QVERIFY(!next->isVisible());
}

void TestZoneWindow::pdfAndPictureTakeTurns()
{
    writePdf("doc.pdf", {Qt::green, Qt::yellow});
    // A landscape zone: the portrait pages leave bands on both sides.
    auto form = makeZone({mtl("doc.pdf", 5, "pdf"), mtl("a.png", 5)}, QSize(800, 400));
    const QPoint centre(400, 200);
    const QPoint corner(5, 5); // outside the pages' rectangle
    auto shown = [&](QPoint at) { return form->grab().toImage().pixelColor(at); };
    form->checkPlayZoneMtls();
    QCOMPARE(shown(centre), QColor(Qt::green));
    form->sltNextPage(); // the viewer turns to the second page
    QCOMPARE(shown(centre), QColor(Qt::yellow));
    for (int round = 0; round < 3; ++round) {
        advance(5000);
        form->checkPlayZoneMtls();
        // The picture takes the whole zone, without the page controls.
        QCOMPARE(form->currentType(), QString("pic"));
        QCOMPARE(shown(centre), QColor(Qt::red));
        QCOMPARE(shown(corner), QColor(Qt::red));
        QVERIFY(!form->findChild<QPushButton *>("nextButton")->isVisible());
        advance(5000);
        form->checkPlayZoneMtls();
        // The document again, at the page it was left on, in its own place.
        QCOMPARE(form->currentType(), QString("pdf"));
        QCOMPARE(form->pageText(), QString("2 / 2"));
        QCOMPARE(shown(centre), QColor(Qt::yellow));
        QVERIFY(shown(corner) != QColor(Qt::red));
        QVERIFY(form->findChild<QPushButton *>("nextButton")->isVisible());
    }
    QCOMPARE(
        playedNames(), QStringList({"doc.pdf", "a.png", "doc.pdf", "a.png", "doc.pdf", "a.png"}));
}

void TestZoneWindow::newContentsRecordTheCutPlay()
{
    // A new playbill keeps the template and changes the zone's contents while
    // a.png is on screen, a second before its end: that play counts (as any
    // play cut within two seconds of its end) before b.png starts.
    auto form = makeZone({mtl("a.png", 5)});
    form->checkPlayZoneMtls();
    advance(4000);
    form->checkPlayZoneMtls();
    QVERIFY(playedNames().isEmpty());
    ZONE_CTRL next;
    next.name = "z1";
    next.mtls = {mtl("b.png", 5)};
    form->setZoneCtrl(next, m_log.get(), 0);
    QCOMPARE(playedNames(), QStringList {"a.png"});
    form->checkPlayZoneMtls();
    advance(5000);
    form->checkPlayZoneMtls();
    QCOMPARE(playedNames(), QStringList({"a.png", "b.png"}));
}

void TestZoneWindow::unshownMaterialsAreNotRecorded_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::newRow("missing picture") << "gone.png"
                                     << "pic" << QByteArray();
    QTest::newRow("unreadable picture") << "bad.png"
                                        << "pic" << QByteArray("not a picture");
    QTest::newRow("missing picture with effect") << "gone.png"
                                                 << "pic+effect" << QByteArray();
    QTest::newRow("missing document") << "gone.pdf"
                                      << "pdf" << QByteArray();
    QTest::newRow("broken document") << "bad.pdf"
                                     << "pdf" << QByteArray("%PDF-1.4 broken");
    QTest::newRow("missing video") << "gone.mp4"
                                   << "video" << QByteArray();
    // Files outside the content folder, named by a path or address leading there.
    QTest::newRow("picture outside") << "../out.png"
                                     << "pic" << encodedPicture(QSize(8, 8));
    QTest::newRow("video outside") << "../out.mp4"
                                   << "video" << QByteArray("frames");
    QTest::newRow("page outside") << "../out.html"
                                  << "web" << QByteArray("<html>secret</html>");
    QTest::newRow("stream from a file") << "../out.ts"
                                        << "rtsp" << QByteArray("frames");
}

void TestZoneWindow::unshownMaterialsAreNotRecorded()
{
    QFETCH(QString, name);
    QFETCH(QString, type);
    QFETCH(QByteArray, content);
    if (!content.isEmpty())
        writeFile(mtlDir() + name, content);
    ZONE_MTL bad = mtl(name, 2, type == "pic+effect" ? "pic" : type);
    if (type == "pic+effect")
        bad.ttype = 3;
    bad.url = bad.address = QUrl::fromLocalFile(mtlDir() + name).toString();
    auto form = makeZone({bad, mtl("a.png", 2)});
    form->checkPlayZoneMtls();
    for (int slot = 0; slot < 6; ++slot) {
        advance(2000);
        form->checkPlayZoneMtls();
    }
    // Three rounds: only the picture that showed was played, and the failure
    // is said once.
    QCOMPARE(playedNames(), QStringList({"a.png", "a.png", "a.png"}));
    QStringList said;
    for (const QString &line : logLines())
        if (line.contains(name))
            said << line;
    QCOMPARE(said.size(), 1);
    QVERIFY2(said.first().contains("[ WARN ]"), qPrintable(said.first()));
    QCOMPARE(said.first().contains("refused"), name.startsWith(".."));
    // Nothing of the document or page is on screen in its slot.
    if (type == "pdf" || type == "web") {
        QCOMPARE(form->currentType(), type);
        for (QWidget *w : form->findChildren<QWidget *>())
            QVERIFY2(!w->isVisible(), qPrintable(w->metaObject()->className()));
    }
}

void TestZoneWindow::localPageShows()
{
    // It may frame nothing outside the content folder, nor read another file.
    const QString secret = QUrl::fromLocalFile(m_env->dataRoot() + "/data/secret.html").toString();
    writeFile(m_env->dataRoot() + "/data/secret.html", "<html><body>Secret</body></html>");
    writeFile(mtlDir() + "page.html",
        "<html><body>Local offers<iframe src=\"" + secret.toUtf8() + "\"></iframe></body></html>");
    ZONE_MTL page = mtl("", 10, "web");
    page.url = QUrl::fromLocalFile(mtlDir() + "page.html").toString();
    QVERIFY(page.url.startsWith("file:///"));
    auto form = makeZone({page, mtl("a.png", 5)});
    form->checkPlayZoneMtls();
    auto *web = static_cast<WebPageView *>(form->view(ContentXml::MtlKind::Web));
    QVERIFY(web && web->webView()->isVisible());
    QSignalSpy loads(web->webView(), &QWebView::loadFinished);
    QTRY_COMPARE(loads.count(), 1);
    QWebFrame *frame = web->webView()->page()->mainFrame();
    QVERIFY(frame->toPlainText().contains("Local offers"));
    QCOMPARE(web->webView()->url().scheme(), QString("file"));
    QCOMPARE(frame->childFrames().size(), 1);
    QVERIFY(!frame->childFrames().first()->toPlainText().contains("Secret"));
    QVERIFY(
        !web->webView()->settings()->testAttribute(QWebSettings::LocalContentCanAccessFileUrls));
    advance(10000);
    form->checkPlayZoneMtls();
    QCOMPARE(playedNames(), QStringList {page.url});
}

void TestZoneWindow::failedPageIsRetried()
{
    // A page that is not there yet, reloaded every 60 ms as the server sent it.
    const QString path = mtlDir() + "later.html";
    ZONE_MTL page = mtl("", 60, "web");
    page.url = QUrl::fromLocalFile(path).toString();
    page.refreshInterval = 60;
    auto form = makeZone({page});
    form->checkPlayZoneMtls();
    auto *web = static_cast<WebPageView *>(form->view(ContentXml::MtlKind::Web));
    QSignalSpy loads(web->webView(), &QWebView::loadFinished);
    QTRY_COMPARE(loads.count(), 1);
    QCOMPARE(loads.first().first().toBool(), false);
    // Never more often than every 10 s.
    QCOMPARE(form->webRefresh(), 10000);
    advance(5000);
    form->checkPlayZoneMtls();
    QTest::qWait(100);
    QCOMPARE(loads.count(), 1);

    // The page appears: the next interval loads it.
    writeFile(path, "<html><body>Now open</body></html>");
    advance(5000);
    form->checkPlayZoneMtls();
    QTRY_COMPARE(loads.count(), 2);
    QCOMPARE(loads.last().first().toBool(), true);
    QVERIFY(web->webView()->page()->mainFrame()->toPlainText().contains("Now open"));
    QVERIFY(web->failure().isEmpty());
}

void TestZoneWindow::missingVideoKeepsSlotAndVolume()
{
    ZONE_MTL video = mtl("missing.mp4", 7, "video");
    video.volume = 0.3;
    auto form = makeZone({video});
    form->checkPlayZoneMtls();
    QCOMPARE(form->currentType(), QString("video"));
    QCOMPARE(form->volume(), 0.3);
    QCOMPARE(form->cycle().endTime(), m_now + 7000);
    auto *videoWidget = form->findChild<QVideoWidget *>();
    QVERIFY(videoWidget && videoWidget->isVisible());
    form->setVolume(0.8);
    QCOMPARE(form->volume(), 0.8);
    m_now += 7000;
    Clock::setFixedMs(m_now);
    form->checkPlayZoneMtls();
    // Nothing was shown: no play.
    QVERIFY(playedNames().isEmpty());
}

void TestZoneWindow::unknownTypeHidesEverything()
{
    auto form = makeZone({mtl("a.png", 2), mtl("", 3, "hologram")});
    form->checkPlayZoneMtls();
    auto *label = form->findChild<QLabel *>();
    QVERIFY(label->isVisible());
    m_now += 2000;
    Clock::setFixedMs(m_now);
    form->checkPlayZoneMtls();
    QVERIFY(!label->isVisible());
    m_now += 3000;
    Clock::setFixedMs(m_now);
    form->checkPlayZoneMtls();
    QVERIFY(messageLines().last().contains("VALUES('hologram', "));
}

void TestZoneWindow::textZoneAsksToBePutBack()
{
    ZONE_MTL text = mtl("Special", 10, "text");
    text.caption = QString::fromUtf8("欢迎光临");
    auto form = makeZone({text});
    form->checkPlayZoneMtls();
    QSignalSpy spy(form.get(), &ZoneWindow::relocateRequested);
    form->move(form->x() + 5, form->y());
    QTRY_VERIFY(!spy.isEmpty());
    QCOMPARE(spy.first().first().value<ZoneWindow *>(), form.get());
}

QTEST_MAIN(TestZoneWindow)
#include "test_zonewindow.moc"
