#include "clock.h"
#include "mediaform.h"
#include "playlogutil.h"
#include "testenv.h"

#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QSignalSpy>
#include <QVideoWidget>
#include <QtTest>

using CONVERTXMLDATA::ZONE_CTRL;
using CONVERTXMLDATA::ZONE_MTL;

// A zone window offscreen: what it shows, and the play records it writes.
class TestMediaForm : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void picturesCycleAndRecord();
    void swipeSkipsWithoutRecord();
    void stopRecordsCompletedPlays();
    void pdfPagesWrap();
    void missingVideoKeepsSlotAndVolume();
    void unknownTypeHidesEverything();
    void textZoneAsksToBePutBack();

private:
    QStringList messageLines() const;
    QString mtlDir() const { return m_env->dataRoot() + "/data/mtl/"; }
    std::unique_ptr<MediaForm> makeZone(const QList<ZONE_MTL> &mtls, QSize size = QSize(400, 300));

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<PlayLogUtil> m_log;
    qint64 m_now = 0;
};

static ZONE_MTL mtl(const QString &name, int len, const QString &type = "pic", int etimes = 1)
{
    ZONE_MTL m;
    m.name = name;
    m.len = len;
    m.etimes = etimes;
    m.type = type;
    m.kind = CONVERTXMLDATA::mtlKind(type);
    return m;
}

void TestMediaForm::init()
{
    m_env = std::make_unique<TestEnv>();
    QDir().mkpath(mtlDir());
    for (const char *name : {"a.png", "b.png"}) {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(name[0] == 'a' ? Qt::red : Qt::blue);
        image.save(mtlDir() + name);
    }
    m_log = std::make_unique<PlayLogUtil>();
    m_now = QDateTime(QDate(2026, 12, 8), QTime(12, 0, 30)).toMSecsSinceEpoch();
    Clock::setFixedMs(m_now);
}

void TestMediaForm::cleanup()
{
    Clock::reset();
    m_log.reset();
    m_env.reset();
}

QStringList TestMediaForm::messageLines() const
{
    return QString::fromUtf8(readFile(m_env->dataRoot() + "/data/storageMsg.txt"))
        .split("\r\n", Qt::SkipEmptyParts);
}

std::unique_ptr<MediaForm> TestMediaForm::makeZone(const QList<ZONE_MTL> &mtls, QSize size)
{
    auto form = std::make_unique<MediaForm>(nullptr);
    form->initParam("127.0.0.1:2100", 0.5, 10, 20, size.width(), size.height());
    form->setGeometry(form->zoneRect());
    form->show();
    ZONE_CTRL zone;
    zone.name = "main";
    zone.mtls = mtls;
    form->setZoneCtrl(zone, m_log.get(), 2);
    return form;
}

void TestMediaForm::picturesCycleAndRecord()
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

void TestMediaForm::swipeSkipsWithoutRecord()
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

void TestMediaForm::stopRecordsCompletedPlays()
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

void TestMediaForm::pdfPagesWrap()
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
    auto *next = form->findChild<QPushButton *>();
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
    form->sltNextPage();
    QCOMPARE(form->pageText(), QString("1 / 3"));
    form->sltBackPage();
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

void TestMediaForm::missingVideoKeepsSlotAndVolume()
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
    QVERIFY(messageLines().last().contains("VALUES('missing.mp4', '2026-12-08 12:00:30', 2, 1, 7, "
                                           "'video')"));
}

void TestMediaForm::unknownTypeHidesEverything()
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

void TestMediaForm::textZoneAsksToBePutBack()
{
    ZONE_MTL text = mtl("Special", 10, "text");
    text.caption = QString::fromUtf8("欢迎光临");
    auto form = makeZone({text});
    form->checkPlayZoneMtls();
    QSignalSpy spy(form.get(), &MediaForm::relocateMediaform);
    form->move(form->x() + 5, form->y());
    QTRY_VERIFY(!spy.isEmpty());
    QCOMPARE(spy.first().first().value<MediaForm *>(), form.get());
}

QTEST_MAIN(TestMediaForm)
#include "test_mediaform.moc"
