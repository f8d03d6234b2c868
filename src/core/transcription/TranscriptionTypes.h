#pragma once

#include <QString>
#include <QStringList>

namespace murmelo {

// The final transcript of one dictation, trimmed by the provider.
struct TranscriptionResult {
    QString text;
    QStringList detectedLanguages; // in the order the service reported them
    bool operator==(const TranscriptionResult&) const = default;
};

// Hints handed to a provider when its session starts.
struct TranscriptionContext {
    QString prompt;
    QStringList keywords;
    QStringList languages;
    bool operator==(const TranscriptionContext&) const = default;

    // Used by the self-check only; dictations build their own context.
    static TranscriptionContext standard();
};

} // namespace murmelo
