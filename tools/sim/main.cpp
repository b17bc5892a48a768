#include "signageserver.h"
#include "simcontrol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>

#include <cstdio>

namespace {

bool parsePort(const QString &text, quint16 &port, bool allowZero)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > 0xFFFF || (!allowZero && value == 0))
        return false;
    port = quint16(value);
    return true;
}

int fail(const QString &message)
{
    fprintf(stderr, "lumasim: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumasim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Signage-server simulator: serves one Luma terminal over the binary "
                       "session protocol."));
    parser.addHelpOption();
    const QCommandLineOption portOpt(QStringLiteral("port"),
        QStringLiteral("TCP port of the session (default 9300)."), QStringLiteral("N"),
        QStringLiteral("9300"));
    const QCommandLineOption bindOpt(QStringLiteral("bind"),
        QStringLiteral("Address to listen on (default 127.0.0.1)."), QStringLiteral("ADDR"),
        QStringLiteral("127.0.0.1"));
    const QCommandLineOption contentOpt(QStringLiteral("content"),
        QStringLiteral("Content folder with day-play.xml, tpl/ and zone/."), QStringLiteral("DIR"));
    const QCommandLineOption authOpt(QStringLiteral("auth-result"),
        QStringLiteral("Authorization result: 4 authorized, 5 unauthorized, 6 id conflict, 7 "
                       "exceed count; a comma list is used one per request, the last one stays "
                       "(default 4)."),
        QStringLiteral("N[,N...]"), QStringLiteral("4"));
    const QCommandLineOption httpOpt(QStringLiteral("http-port"),
        QStringLiteral("Port of the HTTP server (downloads, log and statistics uploads), announced "
                       "in the configuration; 0 picks a free port (default port+1)."),
        QStringLiteral("N"));
    const QCommandLineOption filesOpt(QStringLiteral("files"),
        QStringLiteral("Folder the HTTP server serves (default the content folder's files/)."),
        QStringLiteral("DIR"));
    const QCommandLineOption advertiseOpt(QStringLiteral("advertise"),
        QStringLiteral("Server address announced in the configuration (default the listening "
                       "address and port)."),
        QStringLiteral("IP:PORT"));
    const QCommandLineOption timeOpt(QStringLiteral("server-time"),
        QStringLiteral("Server time reported, seconds since the epoch (default: now)."),
        QStringLiteral("SECS"));
    const QCommandLineOption logOpt(QStringLiteral("log"),
        QStringLiteral("Frame log file (default standard output)."), QStringLiteral("FILE"));
    const QCommandLineOption controlOpt(QStringLiteral("control-port"),
        QStringLiteral("Line-based control socket on 127.0.0.1."), QStringLiteral("N"));
    const QCommandLineOption noStdinOpt(
        QStringLiteral("no-stdin"), QStringLiteral("Do not read control commands from stdin."));
    const QCommandLineOption noHandshakeOpt(QStringLiteral("no-handshake"),
        QStringLiteral("Do not open connections with the server's inner handshake."));
    parser.addOptions({portOpt, bindOpt, contentOpt, filesOpt, authOpt, httpOpt, advertiseOpt,
        timeOpt, logOpt, controlOpt, noStdinOpt, noHandshakeOpt});
    parser.process(app);

    SignageServer server;
    SimControl control(&server);
    QObject::connect(
        &control, &SimControl::quitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    QFile log;
    if (parser.isSet(logOpt)) {
        log.setFileName(parser.value(logOpt));
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            return fail(QStringLiteral("cannot open log %1").arg(parser.value(logOpt)));
    } else if (!log.open(stdout, QIODevice::WriteOnly | QIODevice::Text)) {
        return fail(QStringLiteral("cannot write to standard output"));
    }
    server.setLogDevice(&log);

    quint16 port = 0;
    if (!parsePort(parser.value(portOpt), port, true))
        return fail(QStringLiteral("bad --port %1").arg(parser.value(portOpt)));
    const QHostAddress bind(parser.value(bindOpt));
    if (bind.isNull())
        return fail(QStringLiteral("bad --bind %1").arg(parser.value(bindOpt)));

    const QList<quint32> auth = SimControl::parseAuthList(parser.value(authOpt));
    if (auth.isEmpty())
        return fail(QStringLiteral("bad --auth-result %1").arg(parser.value(authOpt)));
    server.setAuthResults(auth);

    quint16 httpPort = 0;
    if (parser.isSet(httpOpt)) {
        if (!parsePort(parser.value(httpOpt), httpPort, true))
            return fail(QStringLiteral("bad --http-port %1").arg(parser.value(httpOpt)));
        server.setHttpPort(httpPort);
    }
    if (parser.isSet(advertiseOpt)) {
        const QString value = parser.value(advertiseOpt);
        const int colon = value.lastIndexOf(QLatin1Char(':'));
        quint16 advertisedPort = 0;
        if (colon <= 0 || !parsePort(value.mid(colon + 1), advertisedPort, false))
            return fail(QStringLiteral("bad --advertise %1").arg(value));
        server.setAdvertisedServer(value.left(colon), advertisedPort);
    }
    if (parser.isSet(timeOpt)) {
        bool ok = false;
        const qint64 secs = parser.value(timeOpt).toLongLong(&ok);
        if (!ok || secs < 0)
            return fail(QStringLiteral("bad --server-time %1").arg(parser.value(timeOpt)));
        server.setServerTime(secs);
    }
    if (parser.isSet(contentOpt)) {
        const QDir dir(parser.value(contentOpt));
        if (!dir.exists())
            return fail(QStringLiteral("no content folder %1").arg(parser.value(contentOpt)));
        server.setContentDir(dir.absolutePath());
    }
    if (parser.isSet(filesOpt)) {
        const QDir dir(parser.value(filesOpt));
        if (!dir.exists())
            return fail(QStringLiteral("no files folder %1").arg(parser.value(filesOpt)));
        server.setFilesDir(dir.absolutePath());
    }
    server.setSendHandshake(!parser.isSet(noHandshakeOpt));
    if (parser.isSet(contentOpt)) {
        for (const QString &problem : server.checkContent())
            fprintf(stderr, "lumasim: content: %s\n", qPrintable(problem));
    }

    if (!server.listen(bind, port))
        return fail(QStringLiteral("cannot listen on %1:%2: %3")
                        .arg(bind.toString())
                        .arg(port)
                        .arg(server.errorString()));
    if (!parser.isSet(httpOpt))
        httpPort = quint16(server.port() + 1);
    bool httpListening = server.listenHttp(bind, httpPort);
    if (!httpListening && !parser.isSet(httpOpt)) {
        // The session port's neighbour is taken: any port will do, the
        // configuration announces the one in use.
        fprintf(stderr, "lumasim: HTTP port %u is taken, using a free one\n", unsigned(httpPort));
        httpListening = server.listenHttp(bind, 0);
    }
    if (!httpListening)
        return fail(QStringLiteral("cannot listen for HTTP on %1:%2: %3")
                        .arg(bind.toString())
                        .arg(httpPort)
                        .arg(server.errorString()));
    fprintf(stderr, "lumasim: http port %u\n", unsigned(server.httpPort()));
    if (parser.isSet(controlOpt)) {
        quint16 controlPort = 0;
        if (!parsePort(parser.value(controlOpt), controlPort, true))
            return fail(QStringLiteral("bad --control-port %1").arg(parser.value(controlOpt)));
        if (!control.listen(controlPort))
            return fail(QStringLiteral("cannot open the control port %1").arg(controlPort));
        fprintf(stderr, "lumasim: control port %u\n", unsigned(control.port()));
    }
    if (!parser.isSet(noStdinOpt))
        control.watchStdin();

    return app.exec();
}
