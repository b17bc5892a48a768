// The player's play log read back: the input is the sender's work file.
// Every line goes to the service as a local command (answered here instead).
// A pass whose service turns one statement away, followed by a pass that
// takes everything, must hand over exactly what one pass hands over: no line
// lost, none sent twice.

#include "fuzzenv.h"
#include "playlog/sendthread.h"

#include <QFile>
#include <QStringList>

namespace {
class Sender : public SendThread
{
public:
    explicit Sender(int refuse = -1)
        : m_refuse(refuse)
    { }

    QString notifyService(const QString &cmd, const QString &param) override
    {
        const bool refused = m_calls++ == m_refuse;
        // A command other than SQL is not sent again, refused or not.
        if (!refused || cmd != QLatin1String("SQL"))
            delivered.append(cmd + QLatin1Char('|') + param);
        return refused ? QString() : QStringLiteral("{\"code\":0}");
    }

    QStringList delivered;

private:
    int m_refuse;
    int m_calls = 0;
};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray lines = FuzzEnv::bytes(data, size);
    FuzzEnv::freshDataFolder();

    Sender once;
    FuzzEnv::writeFile(once.workFilePath(), lines);
    once.checkMessageFile();
    FUZZ_CHECK(!QFile::exists(once.workFilePath()));

    Sender refusing(static_cast<int>(size % 5));
    FuzzEnv::writeFile(refusing.workFilePath(), lines);
    refusing.checkMessageFile();
    Sender taking;
    taking.checkMessageFile();
    FUZZ_CHECK(refusing.delivered + taking.delivered == once.delivered);
    FUZZ_CHECK(!QFile::exists(taking.workFilePath()));
    FUZZ_CHECK(!QFile::exists(taking.progressFilePath()));
    return 0;
}
