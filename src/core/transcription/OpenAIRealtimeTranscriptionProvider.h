#pragma once

#include "common/Completion.h"
#include "common/Error.h"
#include "transcription/SpeechTranscriptionProvider.h"

#include <QAbstractSocket>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

class QWebSocket;

namespace murmelo {

// Streams one dictation to the realtime transcription service over a WebSocket: configures the
// session, sends the audio as base64 text frames, forwards transcript deltas, and on finish()
// commits the audio and waits for the completed transcript. Lives on the thread that uses it;
// socket events are handled one at a time by its event loop.
class OpenAIRealtimeTranscriptionProvider final : public QObject, public SpeechTranscriptionProvider {
    Q_OBJECT
public:
    enum class State { idle, streaming, committing, completed, failed };

    // Frames above this size close the connection instead of filling memory.
    static constexpr qint64 maxIncomingMessageBytes = 16 * 1024 * 1024;
    static inline const QString liveModel = QStringLiteral("gpt-live-transcribe");

    OpenAIRealtimeTranscriptionProvider(QString apiKey, QString model, QUrl endpoint,
                                        std::chrono::milliseconds handshakeTimeout = std::chrono::seconds(30),
                                        QObject* parent = nullptr);
    ~OpenAIRealtimeTranscriptionProvider() override;

    QCoro::Task<> start(TranscriptionContext context, PartialHandler onPartial) override;
    QCoro::Task<> sendAudio(QByteArray chunk) override;
    QCoro::Task<TranscriptionResult> finish() override;
    QCoro::Task<> cancel() override;

    State state() const { return m_state; }

    // The endpoint with its query replaced by the one item "model"; invalid when none can be made.
    static QUrl connectionUrl(const QUrl& endpoint, const QString& model);
    static QJsonObject sessionUpdate(const TranscriptionContext& context, const QString& model);
    // Angle brackets removed, line breaks made spaces, trimmed; empty ones dropped, order kept.
    static QStringList cleanedKeywords(const QStringList& keywords);
    // The compact "input_audio_buffer.append" message for one chunk.
    static QString audioAppendMessage(const QByteArray& chunk);

    // What one server frame means to the session, decided without touching it.
    struct ServerEvent {
        enum class Kind { ignored, delta, completed, emptyTranscript, serverError };
        Kind kind = Kind::ignored;
        QString text; // the delta, the trimmed transcript or the server's message
        QStringList languages;
    };
    // Throws JsonParseError for bytes that are not JSON and TranscriptionProviderError
    // (invalidServerMessage) for JSON that is not an event object with a string type.
    static ServerEvent parseServerEvent(const QByteArray& bytes);

private:
    struct FinishSlot {
        std::shared_ptr<Completion> completion = std::make_shared<Completion>();
        std::optional<TranscriptionResult> result;
        std::exception_ptr error;
    };
    struct Handshake {
        std::shared_ptr<Completion> completion = std::make_shared<Completion>();
        std::exception_ptr error;
    };

    void sendJson(const QJsonObject& message);
    void sendText(const QString& text);
    void onFrame(const QByteArray& bytes);
    void handleServerEvent(const QByteArray& bytes);
    void onConnected();
    void onDisconnected();
    void onHandshakeTimeout();
    std::exception_ptr lostConnectionError() const;
    void finishWithError(std::exception_ptr error);
    void closeSocket(int closeCode);

    QString m_apiKey;
    QString m_model;
    QUrl m_endpoint;
    std::chrono::milliseconds m_handshakeTimeout;

    QWebSocket* m_socket = nullptr;
    PartialHandler m_onPartial;
    std::shared_ptr<Handshake> m_handshake;
    std::shared_ptr<FinishSlot> m_finishSlot;
    std::optional<TranscriptionResult> m_completedResult;
    std::optional<NetworkError> m_socketError;
    std::exception_ptr m_failure; // why the session ended, for a start() that has not returned yet
    bool m_handshakeTimedOut = false;
    State m_state = State::idle;
};

} // namespace murmelo
