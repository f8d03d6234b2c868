// Summarises a JSON array of evaluation records, read from a file or standard input.
#include "common/Error.h"
#include "evaluation/EvaluationCalculator.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.size() > 1 || (arguments.size() == 1 && arguments.first().startsWith(QLatin1Char('-')) &&
                                 arguments.first() != QLatin1String("-")))
        return fail(QStringLiteral("用法：murmelo-eval [记录文件.json]（省略时从标准输入读取）"));

    QFile input;
    const bool fromStdin = arguments.isEmpty() || arguments.first() == QLatin1String("-");
    const bool opened = fromStdin ? input.open(stdin, QIODevice::ReadOnly)
                                  : (input.setFileName(arguments.first()), input.open(QIODevice::ReadOnly));
    if (!opened) return fail(QStringLiteral("无法读取评测记录：%1").arg(fromStdin ? QStringLiteral("标准输入") : arguments.first()));
    const QByteArray content = input.readAll();
    if (input.error() != QFileDevice::NoError)
        return fail(QStringLiteral("无法读取评测记录：%1").arg(input.errorString()));

    try {
        const auto summary = murmelo::EvaluationCalculator::summarize(murmelo::decodeEvaluationRecords(content));
        std::printf("%s\n", QJsonDocument(summary.toJson()).toJson(QJsonDocument::Indented).trimmed().constData());
        return 0;
    } catch (const murmelo::JsonParseError& error) {
        return fail(QStringLiteral("评测记录格式错误：%1").arg(error.detail()));
    } catch (const murmelo::Error& error) {
        return fail(error.description());
    }
}
