#pragma once

#include <QMetaType>
#include <QString>

namespace murmelo {

// The phase of the current dictation. Equal when the case is equal and, for `error`, the message.
class DictationPhase {
public:
    enum class Kind { idle, recording, transcribing, refining, inserting, success, cancelled, error };

    DictationPhase() = default;
    static DictationPhase idle() { return DictationPhase(Kind::idle); }
    static DictationPhase recording() { return DictationPhase(Kind::recording); }
    static DictationPhase transcribing() { return DictationPhase(Kind::transcribing); }
    static DictationPhase refining() { return DictationPhase(Kind::refining); }
    static DictationPhase inserting() { return DictationPhase(Kind::inserting); }
    static DictationPhase success() { return DictationPhase(Kind::success); }
    static DictationPhase cancelled() { return DictationPhase(Kind::cancelled); }
    static DictationPhase error(QString message) { return DictationPhase(Kind::error, std::move(message)); }

    Kind kind() const { return m_kind; }
    bool is(Kind kind) const { return m_kind == kind; }
    // Recording, transcribing or refining: nothing has reached the application yet.
    bool isCancellable() const { return is(Kind::recording) || is(Kind::transcribing) || is(Kind::refining); }
    // The user-facing message of an `error` phase; empty for the others.
    QString message() const { return m_message; }

    bool operator==(const DictationPhase&) const = default;

private:
    explicit DictationPhase(Kind kind, QString message = {})
        : m_kind(kind)
        , m_message(std::move(message)) {}

    Kind m_kind = Kind::idle;
    QString m_message;
};

QString debugName(const DictationPhase& phase);

} // namespace murmelo

Q_DECLARE_METATYPE(murmelo::DictationPhase)
