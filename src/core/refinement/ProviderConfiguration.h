#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace murmelo {

// The service endpoints. Hosts come from MURMELO_OPENAI_BASE_URL and MURMELO_DEEPSEEK_BASE_URL,
// read once per process, so Murmelo can be pointed at a local server.
class ProviderConfiguration {
public:
    static inline const QString defaultOpenAIBase = QStringLiteral("https://api.openai.com");
    static inline const QString defaultDeepSeekBase = QStringLiteral("https://api.deepseek.com");

    using Environment = std::function<QString(const char* name)>;
    using WarningSink = std::function<void(const QString& line)>;

    // An invalid value is ignored with one warning line, and the default is used.
    ProviderConfiguration(const Environment& environment, const WarningSink& warn);

    // The process's configuration, built from the real environment on first use.
    static const ProviderConfiguration& current();

    QUrl openAIBaseURL() const { return m_openAIBase; }
    QUrl deepSeekBaseURL() const { return m_deepSeekBase; }
    QUrl openAIRealtimeURL() const;
    QUrl openAIResponsesURL() const;
    QUrl deepSeekChatURL() const;

    // A base with `path` appended to its own path.
    static QUrl appendingPath(QUrl base, const QString& path);

private:
    QUrl m_openAIBase;
    QUrl m_deepSeekBase;
};

} // namespace murmelo
