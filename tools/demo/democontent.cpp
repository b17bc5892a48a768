#include "democontent.h"

#include "contentwriter.h"

#include <QBuffer>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QRadialGradient>
#include <QtMath>

namespace DemoContent {

namespace {
const char *const FONT = "WenQuanYi Zen Hei";

struct Poster
{
    const char *from;
    const char *to;
    const char *title;
    const char *subtitle;
    const char *line;
};

// Main zone pictures of the welcome template, then the two of the insert.
const Poster POSTERS[] = {
    {"#0f2027", "#2c5364", "Luma signage demo",
        "Scheduled by the simulator · downloaded by lumalink · played by lumaview",
        "欢迎使用 Luma 信息发布终端"},
    {"#f7971e", "#c0392b", "Fresh every morning", "Bread and pastries from 7:00",
        "每日新鲜 · 早上七点开门"},
    {"#3e2723", "#a1887f", "Coffee & cake", "Any coffee with a slice of cake: 5.90",
        "咖啡与蛋糕 · 套餐价 5.90"},
    {"#11998e", "#38ef7d", "Grown nearby", "Fruit and vegetables from farms within 50 km",
        "本地农场直供"},
    {"#141e30", "#243b55", "Open late tonight", "Until 22:00, every Friday and Saturday",
        "周五周六营业至晚上十点"},
    {"#7b241c", "#e74c3c", "Flash sale: 30 % off",
        "Insert programme: for the next few minutes only", "限时特卖 · 全场七折"},
    {"#4a148c", "#e040fb", "Ask us about the loyalty card",
        "Insert programme: the template list of the insert window", "会员卡 · 积分换礼"},
};
constexpr int MAIN_POSTERS = 5;

QFont font(int pixelSize, bool bold)
{
    QFont f(QString::fromLatin1(FONT));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

void fill(QImage &image, const Poster &p)
{
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = image.rect();
    QLinearGradient ground(r.topLeft(), r.bottomRight());
    ground.setColorAt(0, QColor(QString::fromLatin1(p.from)));
    ground.setColorAt(1, QColor(QString::fromLatin1(p.to)));
    painter.fillRect(r, ground);
    // A few soft discs give the ground some depth.
    for (int i = 0; i < 5; ++i) {
        const QPointF centre(r.width() * (0.15 + 0.19 * i), r.height() * (i % 2 ? 0.25 : 0.8));
        const qreal radius = r.height() * (0.18 + 0.05 * i);
        QRadialGradient disc(centre, radius);
        disc.setColorAt(0, QColor(255, 255, 255, 60));
        disc.setColorAt(1, QColor(255, 255, 255, 0));
        painter.setBrush(disc);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(centre, radius, radius);
    }
}
} // namespace

QImage poster(QSize size, int index)
{
    const Poster &p = POSTERS[index % int(sizeof(POSTERS) / sizeof(POSTERS[0]))];
    QImage image(size, QImage::Format_RGB32);
    fill(image, p);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const int h = size.height();
    const QRect inner = image.rect().adjusted(h / 12, h / 12, -h / 12, -h / 12);
    painter.setPen(Qt::white);
    painter.setFont(font(h / 9, true));
    painter.drawText(
        inner, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, QString::fromUtf8(p.title));
    painter.setFont(font(h / 24, false));
    painter.drawText(inner.adjusted(0, h / 4, 0, 0),
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, QString::fromUtf8(p.subtitle));
    painter.setFont(font(h / 18, true));
    painter.drawText(inner, Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(p.line));
    painter.setFont(font(h / 36, false));
    painter.setPen(QColor(255, 255, 255, 180));
    painter.drawText(inner, Qt::AlignRight | Qt::AlignBottom,
        QStringLiteral("Luma demo · picture %1").arg(index + 1));
    return image;
}

QImage videoFrame(QSize size, int frame, int count)
{
    QImage image(size, QImage::Format_RGB32);
    const qreal t = qreal(frame) / qMax(1, count);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient ground(0, 0, size.width(), size.height());
    ground.setColorAt(0, QColor::fromHsvF(t, 0.7, 0.35));
    ground.setColorAt(1, QColor::fromHsvF(std::fmod(t + 0.5, 1.0), 0.7, 0.6));
    painter.fillRect(image.rect(), ground);
    // A ball bouncing across, and bars that grow, so motion is plain to see.
    const qreal x = size.width() * (0.1 + 0.8 * t);
    const qreal y = size.height() * (0.55 - 0.35 * std::fabs(std::sin(t * 4 * M_PI)));
    painter.setBrush(QColor("#f1c40f"));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(x, y), size.height() / 10.0, size.height() / 10.0);
    for (int i = 0; i < 8; ++i) {
        const qreal level = 0.5 + 0.5 * std::sin(2 * M_PI * (t * 3 + i / 8.0));
        const int barH = int(size.height() * 0.25 * level);
        painter.fillRect(QRect(size.width() / 10 + i * size.width() / 10,
                             size.height() - size.height() / 12 - barH, size.width() / 14, barH),
            QColor(255, 255, 255, 150));
    }
    painter.setPen(Qt::white);
    painter.setFont(font(size.height() / 12, true));
    painter.drawText(image.rect().adjusted(0, size.height() / 20, 0, 0),
        Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Luma demo video"));
    painter.setFont(font(size.height() / 24, false));
    painter.drawText(image.rect().adjusted(0, size.height() / 6, 0, 0),
        Qt::AlignHCenter | Qt::AlignTop,
        QStringLiteral("encoded at build time by GStreamer (VP8 in WebM) · frame %1/%2")
            .arg(frame + 1)
            .arg(count));
    return image;
}

QByteArray priceListPdf()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(100);
    writer.setTitle(QStringLiteral("Luma demo price list"));
    writer.setCreator(QStringLiteral("lumademo"));
    QPainter painter(&writer);
    const QRect page(0, 0, writer.width(), writer.height());
    const int margin = page.width() / 12;

    struct Row
    {
        const char *item;
        const char *price;
    };
    const QList<QList<Row>> pages = {
        {{"Espresso 浓缩咖啡", "2.20"}, {"Cappuccino 卡布奇诺", "3.10"},
            {"Flat white 澳白", "3.40"}, {"Green tea 绿茶", "2.60"}, {"Croissant 牛角包", "1.80"},
            {"Cheesecake 芝士蛋糕", "3.90"}, {"Coffee & cake 套餐", "5.90"}},
        {{"Monday – Thursday", "7:00 – 20:00"}, {"Friday, Saturday", "7:00 – 22:00"},
            {"Sunday", "9:00 – 18:00"}, {"Holidays 节假日", "10:00 – 16:00"}}};
    const char *titles[] = {"Price list 价目表", "Opening hours 营业时间"};

    for (int n = 0; n < pages.size(); ++n) {
        if (n > 0)
            writer.newPage();
        QLinearGradient band(0, 0, page.width(), 0);
        band.setColorAt(0, QColor("#1b2631"));
        band.setColorAt(1, QColor("#2e86c1"));
        painter.fillRect(QRect(0, 0, page.width(), page.height() / 7), band);
        painter.setPen(Qt::white);
        painter.setFont(font(page.height() / 22, true));
        painter.drawText(QRect(margin, 0, page.width() - 2 * margin, page.height() / 7),
            Qt::AlignVCenter | Qt::AlignLeft, QString::fromUtf8(titles[n]));
        painter.setFont(font(page.height() / 40, false));
        int y = page.height() / 7 + page.height() / 20;
        const int rowH = page.height() / 14;
        for (int i = 0; i < pages[n].size(); ++i) {
            if (i % 2 == 0)
                painter.fillRect(
                    QRect(margin, y, page.width() - 2 * margin, rowH), QColor("#eaf2f8"));
            painter.setPen(QColor("#1b2631"));
            const QRect row(
                margin + margin / 3, y, page.width() - 2 * margin - 2 * margin / 3, rowH);
            painter.drawText(
                row, Qt::AlignVCenter | Qt::AlignLeft, QString::fromUtf8(pages[n][i].item));
            painter.drawText(
                row, Qt::AlignVCenter | Qt::AlignRight, QString::fromUtf8(pages[n][i].price));
            y += rowH;
        }
        painter.setPen(QColor("#7f8c8d"));
        painter.setFont(font(page.height() / 70, false));
        painter.drawText(
            QRect(margin, page.height() - margin, page.width() - 2 * margin, margin / 2),
            Qt::AlignLeft | Qt::AlignVCenter,
            QStringLiteral("Luma demo · a PDF made at build time · page %1 of %2")
                .arg(n + 1)
                .arg(pages.size()));
    }
    painter.end();
    return bytes;
}

QByteArray webPage()
{
    return QByteArrayLiteral(R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Luma demo page</title>
<style>
 html, body { margin: 0; height: 100%; font-family: "WenQuanYi Zen Hei", sans-serif; }
 body { background: linear-gradient(135deg, #283c86, #45a247); color: #fff; overflow: hidden; }
 .box { padding: 4vh 5vw; }
 h1 { font-size: 9vh; margin: 0 0 2vh 0; }
 p { font-size: 5vh; margin: 1vh 0; }
 #time { font-size: 12vh; font-weight: bold; letter-spacing: 0.5vw; }
 .tag { display: inline-block; background: rgba(255,255,255,0.2); padding: 0.5vh 1.5vw;
        border-radius: 2vh; font-size: 4vh; }
</style></head>
<body><div class="box">
 <h1>A local web page · 本地网页</h1>
 <p><span class="tag">file://</span> loaded from the terminal's own disk</p>
 <p>Its script keeps this clock running: <span id="time">--:--:--</span></p>
</div>
<script>
 function two(n) { return (n < 10 ? "0" : "") + n; }
 function tick() {
   var d = new Date();
   document.getElementById("time").textContent =
     two(d.getHours()) + ":" + two(d.getMinutes()) + ":" + two(d.getSeconds());
 }
 tick(); setInterval(tick, 1000);
</script></body></html>
)");
}

bool writeVideoFrames(const QString &dir, int count, QString *error)
{
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create ") + dir;
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const QString path = dir + QStringLiteral("/frame%1.png").arg(i, 3, 10, QLatin1Char('0'));
        if (!videoFrame(QSize(640, 360), i, count).save(path)) {
            *error = QStringLiteral("cannot write ") + path;
            return false;
        }
    }
    return true;
}

bool writeContent(const QString &dir, const QString &videoFile, QString *error)
{
    using Area = ContentWriter::Area;
    ContentWriter out(dir);
    const QSize design(1920, 1080);

    // Template "Welcome": pictures, weather, clock, scrolling caption.
    const QString welcome = out.addTemplate(design, QStringLiteral("#101820"),
        {Area {QStringLiteral("main"), QRect(0, 0, 1280, 900)},
            Area {QStringLiteral("weather"), QRect(1280, 0, 640, 560)},
            Area {QStringLiteral("clock"), QRect(1280, 560, 640, 340)},
            Area {QStringLiteral("ticker"), QRect(0, 900, 1920, 180), 2}});
    QList<ContentWriter::Material> pictures;
    const int transitions[MAIN_POSTERS] = {1, 5, 6, 14, 18};
    for (int i = 0; i < MAIN_POSTERS; ++i)
        pictures << ContentWriter::picture(
            out.addImage(poster(QSize(1280, 900), i), "JPEG"), 8, transitions[i]);
    out.writeZone(QStringLiteral("z5001.z"), QStringLiteral("main"), pictures);
    out.writeZone(QStringLiteral("z5002.z"), QStringLiteral("weather"),
        {ContentWriter::weather(QStringLiteral("weather"),
            {QStringLiteral("北京"), QStringLiteral("上海"), QStringLiteral("广州"),
                QStringLiteral("深圳")},
            40, QStringLiteral("#FFFFFF"), 5)});
    out.writeZone(QStringLiteral("z5003.z"), QStringLiteral("clock"),
        {ContentWriter::clock(QStringLiteral("beijing"), QStringLiteral("China Standard Time"), 40,
            40, QStringLiteral("#FFFFFF"), QStringLiteral("#1B2631"), QStringLiteral("4"),
            QStringLiteral("北京时间 $d$HH:mm:ss"))});
    out.writeZone(QStringLiteral("z5004.z"), QStringLiteral("ticker"),
        {ContentWriter::text(QStringLiteral("caption"),
            QStringLiteral("Welcome to the Luma demo — every picture, text and clock here was "
                           "scheduled by the simulator, downloaded by lumalink and is played by "
                           "lumaview · 欢迎光临，新品上市，敬请关注！"),
            60, 40, QStringLiteral("#F1C40F"), QStringLiteral("#000000"), 15, 1)});

    // Template "Media": video, PDF, local web page and a clock bar.
    const bool withVideo = !videoFile.isEmpty();
    QList<Area> mediaAreas {Area {QStringLiteral("web"), QRect(0, 540, 960, 360)},
        Area {QStringLiteral("pdf"), QRect(960, 0, 960, 900)},
        Area {QStringLiteral("bar"), QRect(0, 900, 1920, 180), 2}};
    if (withVideo)
        mediaAreas.prepend(Area {QStringLiteral("video"), QRect(0, 0, 960, 540)});
    else
        mediaAreas[0].rect = QRect(0, 0, 960, 900);
    const QString media = out.addTemplate(design, QStringLiteral("#1b2631"), mediaAreas);
    if (withVideo)
        out.writeZone(QStringLiteral("z5005.z"), QStringLiteral("video"),
            {ContentWriter::video(out.addFileFrom(videoFile), 12)});
    // The player opens local pages only from the files the service
    // downloaded; where they are depends on the terminal's home.
    const QString page = out.addFile(webPage(), QStringLiteral("html"));
    out.writeZone(QStringLiteral("z5006.z"), QStringLiteral("web"),
        {ContentWriter::web(
            QStringLiteral("file://@DATA_ROOT@/data/mtl/") + page, 40, 60000, page)});
    out.writeZone(QStringLiteral("z5007.z"), QStringLiteral("pdf"),
        {ContentWriter::pdf(out.addFile(priceListPdf(), QStringLiteral("pdf")), 40)});
    out.writeZone(QStringLiteral("z5008.z"), QStringLiteral("bar"),
        {ContentWriter::clock(QStringLiteral("kathmandu"), QStringLiteral("Nepal Standard Time"),
            40, 40, QStringLiteral("#FFFFFF"), QStringLiteral("#000000"), QStringLiteral("4"),
            QStringLiteral("加德满都 YYYY-MM-DD $dd$ HH:mm:ss"))});

    // Insert programme: full-screen pictures and a still caption.
    const QString insert = out.addTemplate(design, QStringLiteral("#7b241c"),
        {Area {QStringLiteral("insert"), QRect(0, 0, 1920, 900)},
            Area {QStringLiteral("notice"), QRect(0, 900, 1920, 180), 2}});
    out.writeZone(QStringLiteral("z6001.z"), QStringLiteral("insert"),
        {ContentWriter::picture(out.addImage(poster(QSize(1920, 900), 5), "JPEG"), 12, 2),
            ContentWriter::picture(out.addImage(poster(QSize(1920, 900), 6), "JPEG"), 12, 22)});
    out.writeZone(QStringLiteral("z6002.z"), QStringLiteral("notice"),
        {ContentWriter::text(QStringLiteral("notice"),
            QStringLiteral("插播 · Insert programme, in its own time window"), 60, 30,
            QStringLiteral("#FFFFFF"), QStringLiteral("#7B241C"), 0, 0)});

    out.writeList(QStringLiteral("tl500.l"), {{welcome, 40}, {media, 40}});
    out.writeList(QStringLiteral("tl600.l"), {{insert, 60}});

    QList<QPair<QString, QString>> dayZones {{QStringLiteral("z5001.z"), QStringLiteral("main")},
        {QStringLiteral("z5002.z"), QStringLiteral("weather")},
        {QStringLiteral("z5003.z"), QStringLiteral("clock")},
        {QStringLiteral("z5004.z"), QStringLiteral("ticker")}};
    if (withVideo)
        dayZones << qMakePair(QStringLiteral("z5005.z"), QStringLiteral("video"));
    dayZones << qMakePair(QStringLiteral("z5006.z"), QStringLiteral("web"))
             << qMakePair(QStringLiteral("z5007.z"), QStringLiteral("pdf"))
             << qMakePair(QStringLiteral("z5008.z"), QStringLiteral("bar"));
    out.writeDayPlay(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Day>\n")
        + ContentWriter::dayEntry(QStringLiteral("TPL"), QStringLiteral("tl500.l"),
            QStringLiteral("0"), QStringLiteral("86399"), dayZones, 40)
        + ContentWriter::dayEntry(QStringLiteral("ITPL"), QStringLiteral("tl600.l"),
            QStringLiteral("@INSERT_BEGIN@"), QStringLiteral("@INSERT_END@"),
            {{QStringLiteral("z6001.z"), QStringLiteral("insert")},
                {QStringLiteral("z6002.z"), QStringLiteral("notice")}},
            60)
        + QStringLiteral("</Day>\n"));
    out.writeText(QStringLiteral("templates.txt"),
        (welcome + QStringLiteral("\tWelcome (pictures, weather, clock, caption)\n") + media
            + (withVideo ? QStringLiteral("\tMedia (video, PDF, web page, clock)\n")
                         : QStringLiteral("\tMedia (PDF, web page, clock)\n"))
            + insert + QStringLiteral("\tInsert programme\n"))
            .toUtf8());
    if (!out.ok())
        *error = out.error();
    return out.ok();
}

} // namespace DemoContent
