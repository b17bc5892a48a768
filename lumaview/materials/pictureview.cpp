#include "materials/pictureview.h"

#include "clock.h"
#include "materials/effectlabel.h"
#include "materials/swipesurface.h"

#include <QImageReader>
#include <QLabel>

QPixmap PictureView::readPicture(const QString &path)
{
    // The size is read from the file's header first: a picture whose size is
    // unknown or too large is never decoded (it would take gigabytes).
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > MAX_PICTURE_PIXELS)
        return QPixmap();
    return QPixmap::fromImageReader(&reader);
}

PictureView::PictureView(ZoneContext &zone)
    : ZoneView(zone)
{ }

PictureView::~PictureView()
{
    delete m_effectLabel;
    delete m_imageLabel;
}

EffectLabel *PictureView::newEffectLabel()
{
    auto *label = new EffectLabel(m_zone.zoneWidget());
    label->setStyleSheet(QStringLiteral("background:transparent"));
    label->setAttribute(Qt::WA_TranslucentBackground);
    // Swipes during a transition reach the picture under it.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->hide(); // until a transition shows it, also when the zone is shown later
    label->raise();
    return label;
}

void PictureView::play(const ContentXml::ZONE_MTL &mtl)
{
    if (!m_imageLabel)
        m_imageLabel = ZoneViews::newImageLabel(m_zone);
    if (!m_effectLabel)
        m_effectLabel = newEffectLabel();
    // Every picture fills the whole zone, whatever was shown before it.
    const QRect whole(QPoint(0, 0), m_zone.zoneWidget()->size());
    m_imageLabel->setGeometry(whole);
    m_effectLabel->setScaledContents(true);
    m_effectLabel->setGeometry(whole);
    m_path = m_zone.mtlPath(mtl.name);
    if (mtl.ttype >= 1) {
        startTransitionEffect(mtl.ttype);
        m_unreadable = m_effectPixmap.isNull();
        return;
    }
    // No effect (a negative number included: the picture is shown rather than
    // leaving the one before it on screen for this material's slot).
    finishTransitionEffect();
    const QPixmap picture = readPicture(m_path);
    m_unreadable = picture.isNull();
    m_imageLabel->setPixmap(picture);
    m_imageLabel->show();
}

QString PictureView::failure() const
{
    if (!m_unreadable)
        return QString();
    return m_path.isEmpty() ? QString::fromLatin1(ZoneViews::NAME_REFUSED)
                            : QStringLiteral("picture missing or unreadable");
}

void PictureView::setActive(bool active)
{
    // A transition belongs to its picture: another material ends it.
    if (!active)
        finishTransitionEffect();
    const bool effectHidesPicture
        = m_transition.isRunning() && TransitionEffect::hidesImageLabel(m_transition.effect());
    if (m_imageLabel)
        m_imageLabel->setVisible(active && !effectHidesPicture);
}

void PictureView::startTransitionEffect(int n)
{
    finishTransitionEffect(); // the previous picture's, when it still runs
    const qint64 now = Clock::nowMs();
    if (!m_transition.start(n, now))
        return;
    m_effectPixmap = readPicture(m_path);
    m_imageLabel->setPixmap(m_effectPixmap);
    m_imageLabel->show();
    // Step 0 at once rather than on the first tick: the new picture is never
    // seen uncovered before its curtain closes over it.
    follow(m_transition.tick(now), now);
}

void PictureView::runTransitionEffect(int step)
{
    if (TransitionEffect::hidesImageLabel(m_transition.effect()))
        m_imageLabel->hide();
    m_effectLabel->startPaint(m_transition.effect(), step, m_effectPixmap);
    if (m_effectLabel->isHidden()) {
        m_effectLabel->raise();
        m_effectLabel->show();
    }
}

qint64 PictureView::dueMs() const
{
    if (!m_transition.isRunning())
        return -1;
    // The next step, or the time limit when a late tick brought it closer.
    return qMin(m_lastStepMs + TransitionControl::TICK_MS, m_transition.endTime());
}

void PictureView::runDue(qint64 nowMs)
{
    follow(m_transition.tick(nowMs), nowMs);
}

void PictureView::slotEnded(qint64 nowMs)
{
    // The zone calls this only when its list did not wrap round.
    follow(m_transition.slotEnded(nowMs, false), nowMs);
}

void PictureView::follow(TransitionControl::Tick tick, qint64 nowMs)
{
    switch (tick.action) {
    case TransitionControl::Action::Paint:
        runTransitionEffect(tick.step);
        m_lastStepMs = nowMs;
        break;
    case TransitionControl::Action::Finish:
        showFinishedPicture();
        break;
    case TransitionControl::Action::None:
        break;
    }
}

void PictureView::finishTransitionEffect()
{
    if (m_transition.finish())
        showFinishedPicture();
}

void PictureView::showFinishedPicture()
{
    m_effectLabel->hide();
    m_imageLabel->setPixmap(m_effectPixmap);
    m_imageLabel->show();
}
