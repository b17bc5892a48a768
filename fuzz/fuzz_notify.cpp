// The local notify request parser. The first input byte picks where the
// request is cut, the rest is the request as it reaches a listener; each
// piece is parsed on its own, as each read is, by both listeners' rules.
// The rest, taken as a statement, also goes the whole way from the
// player's sender to the service's decoding and must come out unchanged.

#include "fuzzenv.h"

#include "notifyprotocol.h"
#include "notifyrequest.h"
#include "version.h"

#include <QUrl>

namespace {
void parse(QByteArray bytes)
{
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString request = QString::fromUtf8(bytes);
    for (const bool trim : {true, false}) {
        QString cmd;
        QString param;
        if (!NotifyProtocol::parseRequest(request, cmd, param, trim))
            continue;
        FUZZ_CHECK(!cmd.isEmpty());
        FUZZ_CHECK(!trim || (cmd == cmd.trimmed() && param == param.trimmed()));
        NotifyProtocol::decodeStatement(param);
    }
}

// The request line the service receives for a statement.
QString requestLine(const QString &statement)
{
    const QUrl url(
        NotifyProtocol::buildUrl(SERVICE_PORT, QStringLiteral("SQL"), statement, FuzzEnv::NOW_MS),
        QUrl::TolerantMode);
    const QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
    return QStringLiteral("POST %1 HTTP/1.1\r\n").arg(QString::fromLatin1(target));
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray request = FuzzEnv::bytes(data + 1, size - 1);
    parse(request);
    // Collected across reads, a request comes out as it does read whole.
    NotifyRequest whole;
    whole.add(request);
    NotifyRequest assembled;
    for (const QByteArray &piece : FuzzEnv::pieces(request, data[0], 32)) {
        parse(piece);
        assembled.add(piece);
    }
    FUZZ_CHECK(assembled.state() == whole.state());
    FUZZ_CHECK(assembled.request() == whole.request());
    if (whole.state() == NotifyRequest::State::Complete) {
        FUZZ_CHECK(whole.request().size() <= NotifyRequest::MAX_BYTES);
        FUZZ_CHECK(!whole.request().contains('\0'));
        if (NotifyRequest::refusal(whole.request()).isEmpty())
            FUZZ_CHECK(whole.request().startsWith("POST "));
        parse(whole.request());
    }

    // Every statement holds a blank after its first character.
    const QString statement = QString::fromUtf8(request);
    if (statement.indexOf(QLatin1Char(' ')) > 0) {
        QString cmd;
        QString param;
        FUZZ_CHECK(NotifyProtocol::parseRequest(requestLine(statement), cmd, param, false));
        FUZZ_CHECK(cmd == QLatin1String("SQL"));
        FUZZ_CHECK(NotifyProtocol::decodeStatement(param) == statement);
    }
    return 0;
}
