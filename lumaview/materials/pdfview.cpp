#include "materials/pdfview.h"

#include "formats/zonegeometry.h"
#include "materials/pdfutils.h"
#include "materials/swipesurface.h"

#include <QLabel>
#include <QPushButton>

namespace {
const char *const BACK_STYLE
    = "QPushButton{border-image:url(:/images/back.png);}                                     "
      "QPushButton:hover{border-image:url(:/images/back1.png);}                                    "
      " "
      "QPushButton:pressed{border-image:url(:/images/back2.png);}";
const char *const NEXT_STYLE
    = "QPushButton{border-image:url(:/images/next.png);}                                     "
      "QPushButton:hover{border-image:url(:/images/next1.png);}                                    "
      " "
      "QPushButton:pressed{border-image:url(:/images/next2.png);}";
} // namespace

PdfView::PdfView(ZoneContext &zone)
    : ZoneView(zone)
{ }

PdfView::~PdfView()
{
    delete m_imageLabel;
    if (m_pdf)
        m_pdf->ClosePdf();
    delete m_pdf;
    delete m_pageCounter;
    delete m_backButton;
    delete m_nextButton;
}

void PdfView::play(const ContentXml::ZONE_MTL &mtl)
{
    if (!m_imageLabel)
        m_imageLabel = ZoneViews::newImageLabel(m_zone);
    const QString path = m_zone.mtlPath(mtl.name);
    m_refused = path.isEmpty();
    if (!m_pdf)
        m_pdf = new PdfUtils;
    if (path == m_openPdfPath && m_pdf->isOpen()) {
        // The same document again keeps its page, shown afresh in its place.
        m_imageLabel->setGeometry(m_pageFit);
        m_imageLabel->setPixmap(m_pagePixmap);
        return;
    }
    if (!m_openPdfPath.isEmpty())
        m_pdf->ClosePdf();
    m_openPdfPath.clear();
    m_pageIndex = 0;
    m_pageCount = 0;
    m_pagePixmap = QPixmap();
    m_imageLabel->clear();
    if (m_refused || !m_pdf->OpenPdf(path))
        return; // nothing of it on screen for this slot
    m_openPdfPath = path;
    m_pageCount = m_pdf->getNumPages();
    // Each page is drawn for the zone, not at a fixed resolution: a page that
    // claims to be metres wide costs no more than one that fits.
    const QImage first = m_pdf->getPdfImage(0, m_zone.zoneWidget()->size());
    // The fit of the first page serves every page.
    m_pageFit = ZoneGeometry::pdfFit(m_zone.zoneWidget()->size(), first.size());
    m_imageLabel->setGeometry(m_pageFit);
    m_pagePixmap = QPixmap::fromImage(first);
    m_imageLabel->setPixmap(m_pagePixmap);
    if (!m_pageCounter)
        createPageControls();
    showPageInfo();
}

bool PdfView::isShowing() const
{
    return !m_openPdfPath.isEmpty() && m_pageCount > 0;
}

QString PdfView::failure() const
{
    if (isShowing())
        return QString();
    return m_refused ? QString::fromLatin1(ZoneViews::NAME_REFUSED)
                     : QStringLiteral("document could not be opened");
}

void PdfView::setActive(bool active)
{
    // A document that failed to open shows neither a page nor its controls.
    const bool visible = active && isShowing();
    for (QWidget *widget :
        {static_cast<QWidget *>(m_imageLabel), static_cast<QWidget *>(m_pageCounter),
            static_cast<QWidget *>(m_backButton), static_cast<QWidget *>(m_nextButton)}) {
        if (widget)
            widget->setVisible(visible);
    }
}

bool PdfView::swipe(int direction)
{
    showPage(m_pageIndex + direction);
    return false;
}

void PdfView::createPageControls()
{
    QWidget *zone = m_zone.zoneWidget();
    const int W = zone->width();
    const int H = zone->height();
    m_backButton = new QPushButton(zone);
    m_backButton->setObjectName(QStringLiteral("backButton"));
    m_backButton->setGeometry(0, H - 40, 40, 40);
    m_backButton->setStyleSheet(QString::fromLatin1(BACK_STYLE));
    m_pageCounter = new QLabel(zone);
    m_pageCounter->setObjectName(QStringLiteral("pageCounter"));
    m_pageCounter->setGeometry((W - 100) / 2, H - 40, 100, 40);
    m_pageCounter->setAlignment(Qt::AlignCenter);
    QFont font = m_pageCounter->font();
    font.setPointSize(14);
    m_pageCounter->setFont(font);
    m_nextButton = new QPushButton(zone);
    m_nextButton->setObjectName(QStringLiteral("nextButton"));
    m_nextButton->setGeometry(W - 40, H - 40, 40, 40);
    m_nextButton->setStyleSheet(QString::fromLatin1(NEXT_STYLE));
    QObject::connect(m_backButton, &QPushButton::clicked, m_backButton, [this] { sltBackPage(); });
    QObject::connect(m_nextButton, &QPushButton::clicked, m_nextButton, [this] { sltNextPage(); });
    for (QWidget *control : {static_cast<QWidget *>(m_backButton),
             static_cast<QWidget *>(m_pageCounter), static_cast<QWidget *>(m_nextButton)}) {
        control->raise();
        control->show();
    }
}

QString PdfView::pageText() const
{
    return m_pageCounter ? m_pageCounter->text() : QString();
}

void PdfView::showPageInfo()
{
    if (m_pageCounter)
        m_pageCounter->setText(QStringLiteral("%1 / %2").arg(m_pageIndex + 1).arg(m_pageCount));
}

void PdfView::showPage(int index)
{
    if (!m_pdf || m_pageCount <= 0)
        return;
    if (index >= m_pageCount)
        index = 0;
    if (index < 0)
        index = m_pageCount - 1;
    m_pageIndex = index;
    m_pagePixmap = QPixmap::fromImage(m_pdf->getPdfImage(index, m_zone.zoneWidget()->size()));
    m_imageLabel->setPixmap(m_pagePixmap);
    showPageInfo();
}

void PdfView::sltNextPage()
{
    showPage(m_pageIndex + 1);
}

void PdfView::sltBackPage()
{
    showPage(m_pageIndex - 1);
}
