#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace Poppler {
class Document;
}

// Opens a PDF document and renders its pages to images.
class PdfUtils
{
public:
    PdfUtils();
    ~PdfUtils();
    PdfUtils(const PdfUtils &) = delete;
    PdfUtils &operator=(const PdfUtils &) = delete;

    bool OpenPdf(const QString &path);
    bool isOpen() const { return m_open; }
    int getNumPages() const { return m_pageCount; }
    QSize pageSize() const { return m_pageSize; }
    QString filePath() const { return m_filePath; }
    // The zero-based page drawn just large enough to fill a box of this size (its
    // shape kept), however large the page says it is.
    QImage getPdfImage(int index, QSize box) const;
    bool ClosePdf();

private:
    Poppler::Document *m_document = nullptr;
    bool m_open = false;
    int m_pageCount = 0;
    QSize m_pageSize;
    QString m_filePath;
};
