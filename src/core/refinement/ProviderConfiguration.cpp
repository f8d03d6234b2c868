#include "refinement/ProviderConfiguration.h"

#include <QUrlQuery>

#include <cstdio>

namespace murmelo {
namespace {

bool isUsableBase(const QUrl& url) {
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty() && !url.hasQuery() && !url.hasFragment() && url.userInfo().isEmpty();
}

QUrl readBase(const ProviderConfiguration::Environment& environment, const char* variable,
              const QString& fallback, const ProviderConfiguration::WarningSink& warn) {
    const QString value = environment(variable).trimmed();
    if (value.isEmpty()) return QUrl(fallback);
    const QUrl url(value, QUrl::StrictMode);
    if (isUsableBase(url)) return url;
    warn(QStringLiteral("Murmelo: %1 不是有效的 http 或 https 地址，已改用默认地址 %2")
             .arg(QString::fromLatin1(variable), fallback));
    return QUrl(fallback);
}

} // namespace

ProviderConfiguration::ProviderConfiguration(const Environment& environment, const WarningSink& warn)
    : m_openAIBase(readBase(environment, "MURMELO_OPENAI_BASE_URL", defaultOpenAIBase, warn))
    , m_deepSeekBase(readBase(environment, "MURMELO_DEEPSEEK_BASE_URL", defaultDeepSeekBase, warn)) {}

const ProviderConfiguration& ProviderConfiguration::current() {
    static const ProviderConfiguration configuration(
        [](const char* name) { return qEnvironmentVariable(name); },
        [](const QString& line) { std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData()); });
    return configuration;
}

QUrl ProviderConfiguration::appendingPath(QUrl base, const QString& path) {
    QString joined = base.path();
    while (joined.endsWith(QLatin1Char('/')))
        joined.chop(1);
    base.setPath(joined + path);
    return base;
}

QUrl ProviderConfiguration::openAIRealtimeURL() const {
    QUrl url = appendingPath(m_openAIBase, QStringLiteral("/v1/realtime"));
    url.setScheme(url.scheme() == QLatin1String("https") ? QStringLiteral("wss") : QStringLiteral("ws"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("model"), QStringLiteral("gpt-live-transcribe"));
    url.setQuery(query);
    return url;
}

QUrl ProviderConfiguration::openAIResponsesURL() const {
    return appendingPath(m_openAIBase, QStringLiteral("/v1/responses"));
}

QUrl ProviderConfiguration::deepSeekChatURL() const {
    return appendingPath(m_deepSeekBase, QStringLiteral("/chat/completions"));
}

} // namespace murmelo
