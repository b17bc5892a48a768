#pragma once

#include "materials/zoneview.h"

#include <QPixmap>
#include <QRect>

class PdfUtils;
class QLabel;
class QPushButton;

// "pdf" materials: one page at a time, fitted into the zone, with back and
// next buttons, a page counter and swipes that turn the pages.
class PdfView : public ZoneView
{
public:
    explicit PdfView(ZoneContext &zone);
    ~PdfView() override;

    void play(const ContentXml::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
    bool swipe(int direction) override;
    QString failure() const override;

    // Pages wrap around at both ends.
    void sltNextPage();
    void sltBackPage();
    int pageIndex() const { return m_pageIndex; }
    int pageCount() const { return m_pageCount; }
    QString pageText() const;
    QLabel *imageLabel() const { return m_imageLabel; }

private:
    bool isShowing() const;
    void showPage(int index);
    void showPageInfo();
    void createPageControls();

    QLabel *m_imageLabel = nullptr;
    PdfUtils *m_pdf = nullptr;
    QString m_openPdfPath;
    bool m_refused = false; // the name of the material playing was refused
    int m_pageIndex = 0;
    int m_pageCount = 0;
    QRect m_pageFit; // where the pages go in the zone
    QPixmap m_pagePixmap; // the page shown
    QPushButton *m_backButton = nullptr;
    QPushButton *m_nextButton = nullptr;
    QLabel *m_pageCounter = nullptr;
};
