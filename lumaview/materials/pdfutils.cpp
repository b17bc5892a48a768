#include "materials/pdfutils.h"

#include <poppler-qt5.h>

#include <memory>

PdfUtils::PdfUtils() = default;

PdfUtils::~PdfUtils()
{
    // Closing here too means a forgotten ClosePdf() cannot leak the document.
    ClosePdf();
}

bool PdfUtils::OpenPdf(const QString &path)
{
    ClosePdf();
    m_filePath = path;
    std::unique_ptr<Poppler::Document> document(Poppler::Document::load(path));
    if (!document || document->isLocked())
        return false;
    document->setRenderHint(Poppler::Document::TextAntialiasing, true);
    m_pageCount = document->numPages();
    if (m_pageCount > 0) {
        std::unique_ptr<Poppler::Page> first(document->page(0));
        if (first)
            m_pageSize = first->pageSize();
    }
    m_document = document.release();
    m_open = true;
    return true;
}

QImage PdfUtils::getPdfImage(int index, QSize box) const
{
    if (!m_open || !m_document || index < 0 || index >= m_pageCount || box.isEmpty())
        return QImage();
    std::unique_ptr<Poppler::Page> page(m_document->page(index));
    if (!page)
        return QImage();
    const QSizeF points = page->pageSizeF(); // 72 to the inch
    if (!(points.width() > 0) || !(points.height() > 0))
        return QImage();
    const double dpi = 72.0 * qMin(box.width() / points.width(), box.height() / points.height());
    return page->renderToImage(dpi, dpi, -1, -1, -1, -1, Poppler::Page::Rotate0);
}

bool PdfUtils::ClosePdf()
{
    delete m_document;
    m_document = nullptr;
    m_open = false;
    m_pageCount = 0;
    return true;
}
