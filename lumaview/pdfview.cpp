#include "pdfview.h"

#include "pdfutils.h"
#include "swipesurface.h"
#include "zonegeometry.h"

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

void PdfView::play(const CONVERTXMLDATA::ZONE_MTL &mtl)
{
    if (!m_imageLabel)
        m_imageLabel = ZoneViews::newImageLabel(m_zone);
    const QString path = m_zone.mtlPath(mtl.name);
    if (!m_pdf)
        m_pdf = new PdfUtils;
    else if (m_openPdfPath != path)
        m_pdf->ClosePdf();
    // The same document again keeps the page last shown.
    if (m_openPdfPath == path)
        return;
    if (!m_pdf->OpenPdf(path)) {
        m_openPdfPath.clear();
        return;
    }
    m_openPdfPath = path;
    m_pageIndex = 0;
    m_pageCount = m_pdf->getNumPages();
    const QImage first = m_pdf->getPdfImage(0);
    m_imageLabel->setGeometry(ZoneGeometry::pdfFit(m_zone.zoneWidget()->size(), first.size()));
    m_imageLabel->setPixmap(QPixmap::fromImage(first));
    if (!m_pageCounter)
        createPageControls();
    showPageInfo();
}

void PdfView::setActive(bool active)
{
    for (QWidget *widget :
        {static_cast<QWidget *>(m_imageLabel), static_cast<QWidget *>(m_pageCounter),
            static_cast<QWidget *>(m_backButton), static_cast<QWidget *>(m_nextButton)}) {
        if (widget)
            widget->setVisible(active);
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
    m_backButton->setGeometry(0, H - 40, 40, 40);
    m_backButton->setStyleSheet(QString::fromLatin1(BACK_STYLE));
    m_pageCounter = new QLabel(zone);
    m_pageCounter->setGeometry((W - 100) / 2, H - 40, 100, 40);
    m_pageCounter->setAlignment(Qt::AlignCenter);
    QFont font = m_pageCounter->font();
    font.setPointSize(14);
    m_pageCounter->setFont(font);
    m_nextButton = new QPushButton(zone);
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
    m_imageLabel->setPixmap(QPixmap::fromImage(m_pdf->getPdfImage(index)));
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
