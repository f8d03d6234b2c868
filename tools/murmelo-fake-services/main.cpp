// Loopback stand-in for the speech and language services, for tests and for trying Murmelo offline:
//   murmelo-fake-services [--port N] [--script FILE]
// prints "listening on http://127.0.0.1:N" and serves until it is stopped. Nothing it receives is
// printed or written anywhere; "/_fake/log" returns the record to whoever asks on loopback.
#include "FakeServices.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("murmelo-fake-services"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("本地测试服务：实时转写、Responses、模型查询与 chat completions。"));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("端口（默认由系统分配）。"),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption scriptOption(QStringLiteral("script"), QStringLiteral("JSON 脚本文件。"),
                                          QStringLiteral("FILE"));
    parser.addOption(portOption);
    parser.addOption(scriptOption);
    parser.process(app);

    murmelo::fake::FakeServices services;
    if (parser.isSet(scriptOption)) {
        QFile file(parser.value(scriptOption));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "无法读取脚本文件。\n");
            return 2;
        }
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
        QString error;
        const auto script =
            document.isObject() ? murmelo::fake::Script::fromJson(document.object(), &error) : std::nullopt;
        if (!script) {
            std::fprintf(stderr, "脚本无效：%s\n",
                         qPrintable(error.isEmpty() ? parseError.errorString() : error));
            return 2;
        }
        services.script = *script;
    }
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        std::fprintf(stderr, "端口无效。\n");
        return 2;
    }
    if (!services.listen(QHostAddress::LocalHost, static_cast<quint16>(port))) {
        std::fprintf(stderr, "无法监听端口 %u。\n", port);
        return 1;
    }
    std::printf("listening on http://127.0.0.1:%u\n", services.port());
    std::fflush(stdout);
    return app.exec();
}
