#include "clock.h"
#include "materials/effectlabel.h"
#include "materials/pictureview.h"
#include "playlog/playlog.h"
#include "testenv.h"
#include "zonefixture.h"
#include "zones/zonewindow.h"

#include <QDataStream>
#include <QDir>
#include <QLabel>
#include <QtTest>

using ContentXml::MtlKind;
using ContentXml::ZONE_CTRL;
using ContentXml::ZONE_MTL;

// Pictures brought into a zone by their transition effects, on a clock the
// test moves tick by tick.
class TestPictureView : public ZoneFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void curtainRunsItsStepsThenLeavesThePicture();
    void pictureEffectsHideTheImageLabel();
    void noEffect_data();
    void noEffect();
    void lateTicksEndAtTheLimit();
    void slotEndGivesOneMoreStepUnlessWrapped_data();
    void slotEndGivesOneMoreStepUnlessWrapped();
    void otherMaterialEndsTheTransition();
    void recordsUnchangedByTransitions();
    void readPictureRefuses_data();
    void readPictureRefuses();

private:
    std::unique_ptr<ZoneWindow> makeZone(const QList<ZONE_MTL> &mtls);
    void advance(ZoneWindow &form, qint64 ms);
    static PictureView *pictures(const ZoneWindow &form)
    {
        return static_cast<PictureView *>(form.view(MtlKind::Picture));
    }
    static QRgb shown(const QLabel *label)
    {
        return label->pixmap(Qt::ReturnByValue).toImage().pixel(1, 1);
    }
};

static ZONE_MTL pic(const QString &name, int len, int ttype, int etimes = 1)
{
    ZONE_MTL m;
    m.name = name;
    m.len = len;
    m.etimes = etimes;
    m.type = "pic";
    m.kind = ContentXml::mtlKind(m.type);
    m.ttype = ttype;
    return m;
}

static const QRgb RED = QColor(Qt::red).rgb();
static const QRgb BLUE = QColor(Qt::blue).rgb();

void TestPictureView::init()
{
    setUpZone();
}

void TestPictureView::cleanup()
{
    tearDownZone();
}

std::unique_ptr<ZoneWindow> TestPictureView::makeZone(const QList<ZONE_MTL> &mtls)
{
    auto form = std::make_unique<ZoneWindow>(nullptr);
    form->initParam("127.0.0.1:2100", 0.5, 10, 20, 300, 200);
    form->setGeometry(form->zoneRect());
    form->show();
    ZONE_CTRL zone;
    zone.name = "main";
    zone.mtls = mtls;
    form->setZoneCtrl(zone, m_log.get(), 0);
    return form;
}

// Moves the clock and runs the tick that the zone's timer would run then.
void TestPictureView::advance(ZoneWindow &form, qint64 ms)
{
    ZoneFixture::advance(ms);
    form.checkPlayZoneMtls();
}

void TestPictureView::curtainRunsItsStepsThenLeavesThePicture()
{
    auto form = makeZone({pic("a.png", 10, 3), pic("b.png", 10, 0)});
    const qint64 start = m_now;
    form->checkPlayZoneMtls();
    PictureView *view = pictures(*form);
    QVERIFY(view);
    EffectLabel *curtain = view->effectLabel();
    // At once: the picture under the curtain, which is closed (step 0).
    QVERIFY(curtain->isVisible());
    QCOMPARE(curtain->effect(), 3);
    QCOMPARE(curtain->step(), 0);
    QCOMPARE(curtain->geometry(), QRect(0, 0, 300, 200));
    QVERIFY(view->imageLabel()->isVisible());
    QCOMPARE(shown(view->imageLabel()), RED);
    QCOMPARE(view->dueMs(), start + 30);
    QVERIFY(form->isTicking());

    for (int step = 1; step <= 20; ++step) {
        advance(*form, 30);
        QCOMPARE(curtain->step(), step);
        QVERIFY(curtain->isVisible());
        QCOMPARE(view->dueMs(), m_now + 30);
    }
    advance(*form, 30);
    QVERIFY(!view->transition().isRunning());
    QVERIFY(!curtain->isVisible());
    QVERIFY(view->imageLabel()->isVisible());
    QCOMPARE(shown(view->imageLabel()), RED);
    QCOMPARE(m_now - start, 630);
    // Back to sleeping until the slot ends.
    QCOMPARE(view->dueMs(), -1);
    QCOMPARE(form->cycle().endTime(), start + 10000);
}

void TestPictureView::pictureEffectsHideTheImageLabel()
{
    for (int effect : {2, 5, 11, 14}) {
        auto form = makeZone({pic("a.png", 10, effect)});
        form->checkPlayZoneMtls();
        PictureView *view = pictures(*form);
        QVERIFY(!view->imageLabel()->isVisible());
        QVERIFY(view->effectLabel()->isVisible());
        advance(*form, 30);
        QVERIFY(!view->imageLabel()->isVisible());
        advance(*form, 3000);
        QVERIFY(view->imageLabel()->isVisible());
        QVERIFY(!view->effectLabel()->isVisible());
        QCOMPARE(shown(view->imageLabel()), RED);
    }
    // Effect 22 draws the picture over the image label, which stays.
    auto form = makeZone({pic("a.png", 10, 22)});
    form->checkPlayZoneMtls();
    QVERIFY(pictures(*form)->imageLabel()->isVisible());
}

void TestPictureView::noEffect_data()
{
    QTest::addColumn<int>("ttype");
    QTest::addColumn<bool>("effectShown");
    QTest::addColumn<int>("ticksToFinish");
    QTest::newRow("none") << 0 << false << 0;
    // Not an effect: shown at once, like none, instead of leaving the
    // previous picture on screen.
    QTest::newRow("negative") << -2 << false << 0;
    // Paints nothing, but runs the course of an effect over the picture.
    QTest::newRow("23") << 23 << true << 21;
}

void TestPictureView::noEffect()
{
    QFETCH(int, ttype);
    QFETCH(bool, effectShown);
    QFETCH(int, ticksToFinish);
    auto form = makeZone({pic("a.png", 5, 0), pic("b.png", 5, ttype)});
    form->checkPlayZoneMtls();
    PictureView *view = pictures(*form);
    QCOMPARE(shown(view->imageLabel()), RED);
    advance(*form, 5000);
    QCOMPARE(form->cycle().current().name, QString("b.png"));
    QVERIFY(view->imageLabel()->isVisible());
    QCOMPARE(shown(view->imageLabel()), BLUE);
    QCOMPARE(view->effectLabel()->isVisible(), effectShown);
    for (int i = 0; i < ticksToFinish; ++i)
        advance(*form, 30);
    QVERIFY(!view->effectLabel()->isVisible());
    QVERIFY(!view->transition().isRunning());
    QCOMPARE(shown(view->imageLabel()), BLUE);
}

void TestPictureView::lateTicksEndAtTheLimit()
{
    auto form = makeZone({pic("a.png", 10, 9)});
    form->checkPlayZoneMtls();
    PictureView *view = pictures(*form);
    advance(*form, 1000);
    advance(*form, 1990);
    QCOMPARE(view->effectLabel()->step(), 2);
    QVERIFY(view->transition().isRunning());
    advance(*form, 10); // 3 s after the start
    QVERIFY(!view->transition().isRunning());
    QVERIFY(!view->effectLabel()->isVisible());
}

void TestPictureView::slotEndGivesOneMoreStepUnlessWrapped_data()
{
    QTest::addColumn<bool>("wraps");
    QTest::addColumn<int>("lastStep");
    QTest::newRow("next material") << false << 3;
    QTest::newRow("wrapped to the first") << true << 2;
}

void TestPictureView::slotEndGivesOneMoreStepUnlessWrapped()
{
    // The effect's picture is cut short after two steps, its ticks held up.
    QFETCH(bool, wraps);
    QFETCH(int, lastStep);
    const ZONE_MTL effect = pic("a.png", 1, 4);
    const ZONE_MTL still = pic("b.png", 5, 0);
    auto form = makeZone(wraps ? QList<ZONE_MTL> {still, effect} : QList<ZONE_MTL> {effect, still});
    form->checkPlayZoneMtls();
    if (wraps)
        advance(*form, 5000);
    PictureView *view = pictures(*form);
    QCOMPARE(form->cycle().current().name, QString("a.png"));
    advance(*form, 30);
    advance(*form, 30);
    QCOMPARE(view->effectLabel()->step(), 2);
    advance(*form, 940);
    QCOMPARE(form->cycle().current().name, QString("b.png"));
    QCOMPARE(view->effectLabel()->step(), lastStep);
    // The still picture that follows ends the transition either way.
    QVERIFY(!view->transition().isRunning());
    QVERIFY(!view->effectLabel()->isVisible());
    QCOMPARE(shown(view->imageLabel()), BLUE);
}

void TestPictureView::otherMaterialEndsTheTransition()
{
    ZONE_MTL other;
    other.type = "hologram";
    other.len = 5;
    other.etimes = 1;
    auto form = makeZone({pic("a.png", 1, 6), other});
    form->checkPlayZoneMtls();
    PictureView *view = pictures(*form);
    advance(*form, 1000);
    QCOMPARE(form->currentType(), QString("hologram"));
    QVERIFY(!view->transition().isRunning());
    QVERIFY(!view->effectLabel()->isVisible());
    QVERIFY(!view->imageLabel()->isVisible());
    QCOMPARE(view->dueMs(), -1);
}

void TestPictureView::recordsUnchangedByTransitions()
{
    auto form = makeZone({pic("a.png", 2, 7, 2), pic("b.png", 1, 14)});
    form->checkPlayZoneMtls();
    // Two rounds on 30 ms ticks: every slot ends on time, one record each.
    const qint64 end = m_now + 2 * 5000 + 200;
    while (m_now < end)
        advance(*form, 30);
    QStringList inserts = messageLines().filter("INSERT");
    QCOMPARE(inserts.size(), 4);
    QVERIFY(inserts[0].endsWith("VALUES('a.png', '2026-12-08 12:00:30', 0, 2, 2, 'pic')"));
    QVERIFY(inserts[1].endsWith("VALUES('b.png', '2026-12-08 12:00:34', 0, 1, 1, 'pic')"));
    QVERIFY(inserts[2].endsWith("VALUES('a.png', '2026-12-08 12:00:35', 0, 2, 2, 'pic')"));
    QVERIFY(inserts[3].endsWith("VALUES('b.png', '2026-12-08 12:00:39', 0, 1, 1, 'pic')"));
}

void TestPictureView::readPictureRefuses_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("shown");
    // A BMP header that claims 20000 x 20000 pixels: 1.2 GB once decoded.
    QByteArray huge("BM");
    QDataStream out(&huge, QIODevice::Append);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(54) << quint32(0) << quint32(54) << quint32(40) << qint32(20000) << qint32(20000)
        << quint16(1) << quint16(24) << quint32(0) << quint32(0) << qint32(2835) << qint32(2835)
        << quint32(0) << quint32(0);
    QTest::newRow("huge") << huge << false;
    QTest::newRow("not a picture") << QByteArray("<html>") << false;
    QTest::newRow("small") << encodedPicture(QSize(8, 8)) << true;
}

void TestPictureView::readPictureRefuses()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, shown);
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(bytes);
    file.close();
    QCOMPARE(!PictureView::readPicture(file.fileName()).isNull(), shown);
}

QTEST_MAIN(TestPictureView)
#include "test_pictureview.moc"
