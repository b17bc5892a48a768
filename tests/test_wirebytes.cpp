#include "wiredump.h"

#include <QFile>
#include <QtTest>

// The bytes the terminal sends and the figures it reports, for a fixed set of
// inputs, against the record kept with the sources. The record was taken on
// x86_64; an arm64 build runs the same test, so both give the same bytes.
class TestWireBytes : public QObject
{
    Q_OBJECT
private slots:
    void sameBytesAsRecorded();
};

void TestWireBytes::sameBytesAsRecorded()
{
    QFile file(QStringLiteral(LUMA_WIREBYTES_RECORD));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QList<QByteArray> expected = file.readAll().split('\n');
    const QList<QByteArray> actual = WireDump::text().split('\n');
    for (int i = 0; i < qMax(expected.size(), actual.size()); ++i) {
        const QByteArray want = expected.value(i, "<no line>");
        const QByteArray got = actual.value(i, "<no line>");
        if (want != got)
            QFAIL(qPrintable(QStringLiteral("line %1 differs\n   recorded: %2\n   now:      %3")
                                 .arg(i + 1)
                                 .arg(QString::fromUtf8(want), QString::fromUtf8(got))));
    }
}

QTEST_GUILESS_MAIN(TestWireBytes)
#include "test_wirebytes.moc"
