#include "clocktext.h"
#include "dailylog.h"
#include "fakerunner.h"
#include "service.h"
#include "stats/statthread.h"
#include "statusfile.h"
#include "testenv.h"
#include "ui/configwindow.h"

#include <QApplication>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

// The service starts the real session thread, so every address given to it is
// 127.0.0.1 with a closed port: nothing leaves the machine. Its watchdog may
// start the player: every service here records commands instead.
class TestServiceWindow : public QObject
{
    Q_OBJECT
private slots:
    void firstStartShowsFilledForm();
    void okWithEmptyPortWarnsAndSavesNothing();
    void okWithAddressSavesAndHides();
    void configuredTerminalStartsHidden();
    void storedAddressWithoutUsablePortShowsTheForm_data();
    void storedAddressWithoutUsablePortShowsTheForm();
    void okWithUnusablePortWarnsAndKeepsTheAddress_data();
    void okWithUnusablePortWarnsAndKeepsTheAddress();
    void sqlCommandIsStoredDecoded();
    void secondServiceLeaves();
};

namespace {
template<typename T>
T *child(QWidget &window, const char *name)
{
    T *widget = window.findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("missing widget %s", name);
    return widget;
}

// Closes the next modal box and reports its title and text.
void answerNextMessageBox(QString *title, QString *text)
{
    QTimer::singleShot(50, [title, text] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        *title = box->windowTitle();
        *text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
}
} // namespace

void TestServiceWindow::firstStartShowsFilledForm()
{
    TestEnv env;
    writeFile(env.dataRoot() + "/data/status.json", "{\"mac\":\"00-1A-2B-3C-4D-5E\"}");
    Service service(DataLayout(), std::make_shared<FakeRunner>());
    QVERIFY(service.start());
    ConfigWindow &window = *service.window();
    QVERIFY(window.isVisible());
    QCOMPARE(window.size(), QSize(374, 301));
    QCOMPARE(child<QLineEdit>(window, "textTid")->text(), QString("001A2B3C4D5E100"));
    QCOMPARE(child<QLineEdit>(window, "textMac")->text(), QString("00-1A-2B-3C-4D-5E"));
    QCOMPARE(child<QLineEdit>(window, "textIp")->text(), QString());
    QCOMPARE(child<QLineEdit>(window, "textPort")->text(), QString());
    // No password shown, and none built in.
    QCOMPARE(child<QLineEdit>(window, "textPass")->text(), QString());
    QCOMPARE(child<QLineEdit>(window, "textPass")->echoMode(), QLineEdit::Password);
    QCOMPARE(child<QLabel>(window, "labelIp")->text(), QString::fromUtf8("信发IP："));
    QCOMPARE(child<QPushButton>(window, "pushButtonOk")->text(), QString::fromUtf8("确定"));
    QCOMPARE(child<QPushButton>(window, "pushButtonOk")->geometry(), QRect(140, 251, 106, 36));

    QLineEdit *port = child<QLineEdit>(window, "textPort");
    QCOMPARE(port->maxLength(), 5);
    int pos = 0;
    QString text = "65536";
    QVERIFY(port->validator()->validate(text, pos) != QValidator::Acceptable);
    text = "0";
    QVERIFY(port->validator()->validate(text, pos) != QValidator::Acceptable);
    text = "8800";
    QCOMPARE(port->validator()->validate(text, pos), QValidator::Acceptable);

    for (const char *dir : {"", "/logs", "/data", "/data/zone", "/data/tpl", "/data/mtl"})
        QVERIFY2(QDir(env.dataRoot() + dir).exists(), dir);
    // The status file written open by hand (or by an older version) and the
    // data folder are the user's alone after the start.
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(QFileInfo(StatusFile::defaultPath()).permissions() & others, 0);
    QCOMPARE(QFileInfo(env.dataRoot()).permissions() & others, 0);
    QCOMPARE(QFileInfo(env.dataRoot() + "/data").permissions() & others, 0);
}

void TestServiceWindow::okWithEmptyPortWarnsAndSavesNothing()
{
    TestEnv env;
    Service service(DataLayout(), std::make_shared<FakeRunner>());
    QVERIFY(service.start());
    ConfigWindow &window = *service.window();
    const QByteArray before = readFile(StatusFile::defaultPath());
    QVERIFY(!before.isEmpty());
    child<QLineEdit>(window, "textIp")->setText("127.0.0.1");
    QString title;
    QString text;
    answerNextMessageBox(&title, &text);
    QTest::mouseClick(child<QPushButton>(window, "pushButtonOk"), Qt::LeftButton);
    QCOMPARE(title, QString::fromUtf8("提示"));
    QCOMPARE(text, QString::fromUtf8("信发IP和端口不能为空!!!"));
    QVERIFY(window.isVisible());
    QCOMPARE(readFile(StatusFile::defaultPath()), before);
}

void TestServiceWindow::okWithAddressSavesAndHides()
{
    TestEnv env;
    Service service(DataLayout(), std::make_shared<FakeRunner>());
    QVERIFY(service.start());
    ConfigWindow &window = *service.window();
    child<QLineEdit>(window, "textIp")->setText("127.0.0.1");
    child<QLineEdit>(window, "textPort")->setText("9");
    child<QLineEdit>(window, "textPass")->setText("s3cret");
    QTest::mouseClick(child<QPushButton>(window, "pushButtonOk"), Qt::LeftButton);
    QVERIFY(!window.isVisible());
    const QJsonObject object = StatusFile::read(StatusFile::defaultPath());
    QCOMPARE(object["connHost"].toString(), QString("127.0.0.1:9"));
    QCOMPARE(object["password"].toString(), QString("s3cret"));
    QCOMPARE(object["rtdaHost"].toString(), QString(":2100")); // set only when created
    // Shown again, the field is empty; left empty, the stored password stays.
    QCOMPARE(child<QLineEdit>(window, "textPass")->text(), QString());
    QTest::mouseClick(child<QPushButton>(window, "pushButtonOk"), Qt::LeftButton);
    QCOMPARE(StatusFile::read(StatusFile::defaultPath())["password"].toString(), QString("s3cret"));
}

void TestServiceWindow::configuredTerminalStartsHidden()
{
    TestEnv env;
    writeFile(env.dataRoot() + "/data/status.json",
        R"({"connHost":"127.0.0.1:9","terminalId":"T","mac":"M","password":"p"})");
    Service service(DataLayout(), std::make_shared<FakeRunner>());
    QVERIFY(service.start());
    ConfigWindow &window = *service.window();
    QVERIFY(!window.isVisible());
    QCOMPARE(child<QLineEdit>(window, "textIp")->text(), QString("127.0.0.1"));
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QVERIFY(
        log.contains(QString::fromUtf8("  [ Main ] - [ INFO ]  开启运行终端连接服务lumalink\r\n")));
}

void TestServiceWindow::storedAddressWithoutUsablePortShowsTheForm_data()
{
    QTest::addColumn<QString>("connHost");
    QTest::newRow("port 0") << "127.0.0.1:0";
    QTest::newRow("no port") << "127.0.0.1:";
    QTest::newRow("too large") << "127.0.0.1:70000";
    QTest::newRow("not a number") << "127.0.0.1:abc";
}

void TestServiceWindow::storedAddressWithoutUsablePortShowsTheForm()
{
    QFETCH(QString, connHost);
    TestEnv env;
    writeFile(env.dataRoot() + "/data/status.json",
        QString(R"({"connHost":"%1","terminalId":"T","mac":"M","password":"p"})")
            .arg(connHost)
            .toUtf8());
    Service service(DataLayout(), std::make_shared<FakeRunner>());
    QVERIFY(service.start());
    ConfigWindow &window = *service.window();
    QVERIFY(window.isVisible());
}

void TestServiceWindow::okWithUnusablePortWarnsAndKeepsTheAddress_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("0") << "0";
    QTest::newRow("too large") << "70000";
}

void TestServiceWindow::okWithUnusablePortWarnsAndKeepsTheAddress()
{
    QFETCH(QString, port);
    TestEnv env;
    writeFile(env.dataRoot() + "/data/status.json",
        R"({"connHost":"127.0.0.1:9","terminalId":"T","mac":"M","password":"p"})");
    Service service(DataLayout(), std::make_shared<FakeRunner>());
    QVERIFY(service.start());
    ConfigWindow &window = *service.window();
    const QByteArray before = readFile(StatusFile::defaultPath());
    child<QLineEdit>(window, "textIp")->setText("127.0.0.2");
    child<QLineEdit>(window, "textPort")->setText(port);
    QString title;
    QString text;
    answerNextMessageBox(&title, &text);
    QTest::mouseClick(child<QPushButton>(window, "pushButtonOk"), Qt::LeftButton);
    QCOMPARE(text, QString::fromUtf8("信发IP和端口不能为空!!!"));
    QCOMPARE(readFile(StatusFile::defaultPath()), before);
    QCOMPARE(service.settings().connIp.get() + ":" + service.settings().connPort.get(),
        QString("127.0.0.1:9"));
}

void TestServiceWindow::sqlCommandIsStoredDecoded()
{
    TestEnv env;
    Service service(DataLayout(), std::make_shared<FakeRunner>());
    QVERIFY(service.start());
    QVERIFY(service.statThread());
    // The listener runs on this thread: wait for the answer with the event loop.
    const QByteArray answer = localRequest(12222,
        "POST /notify?cmd=SQL&param=INSERT%20INTO%20play_detail(name,%20play_time,%20play_type,"
        "%20times,%20duration,%20mtl_type)%20VALUES('a%26b',%20'2024-01-02%2003:04:05',%200,%201,"
        "%205,%20'pic')&timestamp=1 HTTP/1.1\r\n\r\n");
    QVERIFY2(answer.startsWith("HTTP/1.1 200\r\n"), answer.constData());
    QVERIFY(answer.endsWith("{\"code\":0}"));

    // The statistics thread stores it within a pass or two.
    const QString dbPath = env.dataRoot() + QStringLiteral("/data/playdata.db");
    QString stored;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("r"));
        db.setDatabaseName(dbPath);
        QVERIFY(db.open());
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QSqlQuery q(db);
                if (q.exec(QStringLiteral("SELECT name FROM play_detail")) && q.next())
                    stored = q.value(0).toString();
                return !stored.isEmpty();
            }(),
            10000);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("r"));
    QCOMPARE(stored, QString("a&b"));
}

void TestServiceWindow::secondServiceLeaves()
{
    TestEnv env;
    Service first(DataLayout(), std::make_shared<FakeRunner>());
    QVERIFY(first.start());
    TestEnv other;
    Service second(DataLayout(), std::make_shared<FakeRunner>());
    QVERIFY(!second.start());
    // The second instance touched no file of its home.
    QVERIFY(!QDir(other.dataRoot()).exists());
}

QTEST_MAIN(TestServiceWindow)
#include "test_servicewindow.moc"
