#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

#include "network/HeaderValue.h"
#include "network/TransportErrors.h"
#include "stores/APIKey.h"
#include "transcription/TranscriptionProviderError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkRequest>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

namespace murmelo {

namespace {

using Case = TranscriptionProviderError::Case;

std::exception_ptr providerError(Case kind, const QString& message = {}) {
    return std::make_exception_ptr(TranscriptionProviderError(kind, message));
}

} // namespace

OpenAIRealtimeTranscriptionProvider::OpenAIRealtimeTranscriptionProvider(
    QString apiKey, QString model, QUrl endpoint, std::chrono::milliseconds handshakeTimeout, QObject* parent)
    : QObject(parent)
    , m_apiKey(std::move(apiKey))
    , m_model(std::move(model))
    , m_endpoint(std::move(endpoint))
    , m_handshakeTimeout(handshakeTimeout) {}

// Whoever still waits on us learns that the session is gone; the socket goes with us.
OpenAIRealtimeTranscriptionProvider::~OpenAIRealtimeTranscriptionProvider() {
    if (auto handshake = std::exchange(m_handshake, nullptr)) handshake->completion->cancel();
    if (auto slot = std::exchange(m_finishSlot, nullptr)) slot->completion->cancel();
    closeSocket(1001);
}

QUrl OpenAIRealtimeTranscriptionProvider::connectionUrl(const QUrl& endpoint, const QString& model) {
    if (!endpoint.isValid() || endpoint.scheme().isEmpty() || endpoint.host().isEmpty()) return {};
    QUrl url = endpoint;
    // Encoded by hand: "&", "=", "+" or "#" in a model name must stay inside the one value.
    url.setQuery(QStringLiteral("model=") + QString::fromLatin1(QUrl::toPercentEncoding(model)),
                 QUrl::StrictMode);
    url.setFragment({});
    return url.isValid() ? url : QUrl();
}

QStringList OpenAIRealtimeTranscriptionProvider::cleanedKeywords(const QStringList& keywords) {
    QStringList cleaned;
    for (QString keyword : keywords) {
        keyword.remove(QLatin1Char('<'));
        keyword.remove(QLatin1Char('>'));
        keyword.replace(QLatin1Char('\r'), QLatin1Char(' '));
        keyword.replace(QLatin1Char('\n'), QLatin1Char(' '));
        keyword = keyword.trimmed();
        if (!keyword.isEmpty()) cleaned << keyword;
    }
    return cleaned;
}

QJsonObject OpenAIRealtimeTranscriptionProvider::sessionUpdate(const TranscriptionContext& context,
                                                               const QString& model) {
    QJsonObject transcription{{QStringLiteral("model"), model}};
    if (model == liveModel) {
        transcription.insert(QStringLiteral("prompt"), context.prompt);
        transcription.insert(QStringLiteral("keywords"),
                             QJsonArray::fromStringList(cleanedKeywords(context.keywords)));
        transcription.insert(QStringLiteral("languages"), QJsonArray::fromStringList(context.languages));
        transcription.insert(QStringLiteral("delay"), QStringLiteral("medium"));
    }
    QJsonObject input;
    input.insert(QStringLiteral("format"), QJsonObject{{QStringLiteral("type"), QStringLiteral("audio/pcm")},
                                                       {QStringLiteral("rate"), 24000}});
    input.insert(QStringLiteral("transcription"), transcription);
    // Null switches the service's own turn detection off: nothing is transcribed before we commit.
    input.insert(QStringLiteral("turn_detection"), QJsonValue::Null);
    QJsonObject session;
    session.insert(QStringLiteral("type"), QStringLiteral("transcription"));
    session.insert(QStringLiteral("audio"), QJsonObject{{QStringLiteral("input"), input}});
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("session.update")},
                       {QStringLiteral("session"), session}};
}

QString OpenAIRealtimeTranscriptionProvider::audioAppendMessage(const QByteArray& chunk) {
    // The same compact JSON QJsonDocument would write, built by hand because it runs for every
    // captured buffer: base64 needs no escaping, and encoding straight into the message saves the
    // intermediate byte array and its conversion (the bulk of the cost with QByteArray::toBase64).
    static constexpr char16_t head[] = uR"({"type":"input_audio_buffer.append","audio":")";
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    constexpr qsizetype headLength = std::size(head) - 1;
    const auto* in = reinterpret_cast<const unsigned char*>(chunk.constData());
    const qsizetype length = chunk.size();
    QString message(headLength + (length + 2) / 3 * 4 + 2, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(message.data());
    out = std::copy_n(head, headLength, out);
    // Two output characters per table entry: 12 bits of input each, written four characters at once.
    static const std::array<quint32, 4096> pairs = [] {
        std::array<quint32, 4096> table{};
        for (quint32 i = 0; i < 4096; ++i)
            table[i] = quint32(char16_t(alphabet[i >> 6])) | (quint32(char16_t(alphabet[i & 63])) << 16);
        return table;
    }();
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the pairs are laid out for little-endian char16_t");
    qsizetype i = 0;
    for (; i + 3 <= length; i += 3) {
        const quint32 triple = (quint32(in[i]) << 16) | (quint32(in[i + 1]) << 8) | quint32(in[i + 2]);
        const quint64 four = quint64(pairs[triple >> 12]) | (quint64(pairs[triple & 0xfff]) << 32);
        std::memcpy(out, &four, sizeof four);
        out += 4;
    }
    if (const qsizetype rest = length - i; rest > 0) {
        const quint32 triple = (quint32(in[i]) << 16) | (rest == 2 ? quint32(in[i + 1]) << 8 : 0);
        *out++ = char16_t(alphabet[(triple >> 18) & 63]);
        *out++ = char16_t(alphabet[(triple >> 12) & 63]);
        *out++ = rest == 2 ? char16_t(alphabet[(triple >> 6) & 63]) : u'=';
        *out++ = u'=';
    }
    *out++ = u'"';
    *out++ = u'}';
    return message;
}

QCoro::Task<> OpenAIRealtimeTranscriptionProvider::start(TranscriptionContext context,
                                                         PartialHandler onPartial) {
    if (!isUsableAPIKey(m_apiKey)) throw TranscriptionProviderError(Case::missingAPIKey);
    if (m_state == State::streaming || m_state == State::committing || m_handshake)
        throw TranscriptionProviderError(Case::alreadyStarted);
    const QUrl url = connectionUrl(m_endpoint, m_model);
    if (!url.isValid()) throw TranscriptionProviderError(Case::connectionClosed);

    QNetworkRequest request(url);
    request.setRawHeader("Authorization", network::bearerAuthorization(m_apiKey));

    m_socketError.reset();
    m_failure = nullptr;
    m_handshakeTimedOut = false;
    m_completedResult.reset();
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket->setMaxAllowedIncomingMessageSize(maxIncomingMessageBytes);
    m_socket->setMaxAllowedIncomingFrameSize(maxIncomingMessageBytes);
    connect(m_socket, &QWebSocket::connected, this, &OpenAIRealtimeTranscriptionProvider::onConnected);
    connect(m_socket, &QWebSocket::disconnected, this, &OpenAIRealtimeTranscriptionProvider::onDisconnected);
    connect(m_socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            [this](QAbstractSocket::SocketError error) {
                if (!m_socketError && m_socket)
                    m_socketError = network::networkErrorFor(error, m_socket->errorString());
            });
    connect(m_socket, &QWebSocket::textMessageReceived, this,
            [this](const QString& text) { onFrame(text.toUtf8()); });
    connect(m_socket, &QWebSocket::binaryMessageReceived, this,
            &OpenAIRealtimeTranscriptionProvider::onFrame);

    m_onPartial = std::move(onPartial);
    m_state = State::streaming;
    auto handshake = std::make_shared<Handshake>();
    m_handshake = handshake;
    QTimer::singleShot(m_handshakeTimeout, m_socket, [this] { onHandshakeTimeout(); });
    m_socket->open(request);

    QPointer self(this);
    co_await Completion::wait(handshake->completion); // cancelled by cancel() or our destruction
    if (handshake->error) std::rethrow_exception(handshake->error);
    if (!self || m_handshake) throw CancellationError();
    // The server may have ended the session in the frames that came with its handshake answer.
    if (m_state == State::failed && m_failure) std::rethrow_exception(m_failure);
    if (m_state != State::streaming) throw CancellationError(); // a partial handler cancelled us
    sendJson(sessionUpdate(context, m_model));
}

void OpenAIRealtimeTranscriptionProvider::onConnected() {
    if (auto handshake = std::exchange(m_handshake, nullptr)) handshake->completion->complete();
}

void OpenAIRealtimeTranscriptionProvider::onHandshakeTimeout() {
    if (!m_handshake || !m_socket) return;
    m_handshakeTimedOut = true;
    m_socket->abort(); // reported through onDisconnected
}

std::exception_ptr OpenAIRealtimeTranscriptionProvider::lostConnectionError() const {
    if (m_handshakeTimedOut) return std::make_exception_ptr(NetworkError(NetworkError::timedOut));
    if (m_socket && m_socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
        return providerError(Case::invalidServerMessage);
    if (m_socketError) return std::make_exception_ptr(*m_socketError);
    // Some failures (a refused connection) are only visible on the socket, not as a signal before this.
    if (m_socket && m_socket->error() != QAbstractSocket::UnknownSocketError)
        return std::make_exception_ptr(network::networkErrorFor(m_socket->error(), m_socket->errorString()));
    return providerError(Case::connectionClosed);
}

void OpenAIRealtimeTranscriptionProvider::onDisconnected() {
    const std::exception_ptr error = lostConnectionError();
    if (auto handshake = std::exchange(m_handshake, nullptr)) {
        handshake->error = error;
        m_state = State::failed;
        closeSocket(1000);
        handshake->completion->complete();
        return;
    }
    if (m_state == State::streaming || m_state == State::committing) finishWithError(error);
}

void OpenAIRealtimeTranscriptionProvider::sendText(const QString& text) {
    if (!m_socket || m_handshake) throw TranscriptionProviderError(Case::notStarted);
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        if (m_socketError) throw *m_socketError;
        throw NetworkError(NetworkError::networkConnectionLost);
    }
    m_socket->sendTextMessage(text);
}

void OpenAIRealtimeTranscriptionProvider::sendJson(const QJsonObject& message) {
    // Always valid UTF-8: QJsonDocument writes even a lone surrogate as an escape sequence.
    sendText(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

QCoro::Task<> OpenAIRealtimeTranscriptionProvider::sendAudio(QByteArray chunk) {
    // A session that failed says why (a lost connection, the server's error), not "not started".
    if (m_state == State::failed && m_failure) std::rethrow_exception(m_failure);
    if (m_state != State::streaming && m_state != State::committing)
        throw TranscriptionProviderError(Case::notStarted);
    if (chunk.isEmpty()) co_return;
    sendText(audioAppendMessage(chunk));
}

QCoro::Task<TranscriptionResult> OpenAIRealtimeTranscriptionProvider::finish() {
    if (m_state == State::completed && m_completedResult) {
        // Delivered once; a transcript that arrived before finish() is not lost.
        TranscriptionResult result = std::move(*m_completedResult);
        m_completedResult.reset();
        co_return result;
    }
    if (m_state == State::failed && m_failure) std::rethrow_exception(m_failure);
    if ((m_state != State::streaming && m_state != State::committing) || m_handshake)
        throw TranscriptionProviderError(Case::notStarted);
    auto slot = m_finishSlot;
    if (!slot) {
        slot = std::make_shared<FinishSlot>();
        m_finishSlot = slot;
        m_state = State::committing;
        try {
            sendJson(QJsonObject{{QStringLiteral("type"), QStringLiteral("input_audio_buffer.commit")}});
        } catch (...) {
            finishWithError(std::current_exception());
        }
    }
    // A second caller joins the first wait instead of committing twice.
    co_await Completion::wait(slot->completion);
    if (slot->error) std::rethrow_exception(slot->error);
    TranscriptionResult result = *slot->result; // a copy: a joined caller reads the same slot
    co_return result;
}

QCoro::Task<> OpenAIRealtimeTranscriptionProvider::cancel() {
    const auto handshake = std::exchange(m_handshake, nullptr);
    const auto slot = std::exchange(m_finishSlot, nullptr);
    closeSocket(1001);
    m_state = State::idle;
    m_completedResult.reset();
    if (handshake) handshake->completion->cancel();
    if (slot) slot->completion->cancel();
    co_return;
}

void OpenAIRealtimeTranscriptionProvider::onFrame(const QByteArray& bytes) {
    if (m_state != State::streaming && m_state != State::committing) return;
    try {
        handleServerEvent(bytes);
    } catch (...) {
        finishWithError(std::current_exception());
    }
}

OpenAIRealtimeTranscriptionProvider::ServerEvent
OpenAIRealtimeTranscriptionProvider::parseServerEvent(const QByteArray& bytes) {
    using Kind = ServerEvent::Kind;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) throw JsonParseError(parseError.errorString());
    if (!document.isObject()) throw TranscriptionProviderError(Case::invalidServerMessage);
    const QJsonObject event = document.object();
    const QJsonValue type = event.value(QLatin1String("type"));
    if (!type.isString()) throw TranscriptionProviderError(Case::invalidServerMessage);

    ServerEvent parsed;
    if (type == QLatin1String("conversation.item.input_audio_transcription.delta")) {
        const QJsonValue delta = event.value(QLatin1String("delta"));
        if (!delta.isString() || delta.toString().isEmpty()) return parsed;
        parsed.kind = Kind::delta;
        parsed.text = delta.toString();
        return parsed;
    }
    if (type == QLatin1String("conversation.item.input_audio_transcription.completed")) {
        const QJsonValue transcriptValue = event.value(QLatin1String("transcript"));
        parsed.text = transcriptValue.isString() ? transcriptValue.toString().trimmed() : QString();
        if (parsed.text.isEmpty()) {
            parsed.kind = Kind::emptyTranscript;
            return parsed;
        }
        parsed.kind = Kind::completed;
        const QJsonArray reported = event.value(QLatin1String("languages")).toArray();
        // Read only as a list of objects: one stray element makes the whole list unusable.
        const bool allObjects = std::all_of(reported.begin(), reported.end(),
                                            [](const QJsonValue& element) { return element.isObject(); });
        for (const QJsonValue& language : allObjects ? reported : QJsonArray()) {
            const QJsonValue code = language.toObject().value(QLatin1String("code"));
            if (code.isString()) parsed.languages << code.toString();
        }
        return parsed;
    }
    if (type == QLatin1String("error")) {
        const QJsonValue message =
            event.value(QLatin1String("error")).toObject().value(QLatin1String("message"));
        parsed.kind = Kind::serverError;
        parsed.text = message.isString() ? message.toString() : QStringLiteral("未知服务错误");
    }
    return parsed;
}

void OpenAIRealtimeTranscriptionProvider::handleServerEvent(const QByteArray& bytes) {
    using Kind = ServerEvent::Kind;
    ServerEvent event = parseServerEvent(bytes);
    switch (event.kind) {
    case Kind::ignored:
        return;
    case Kind::delta: {
        if (!m_onPartial) return;
        // A copy: the handler may cancel us, which clears m_onPartial while it runs.
        const PartialHandler handler = m_onPartial;
        handler(event.text);
        return;
    }
    case Kind::emptyTranscript:
        finishWithError(providerError(Case::emptyTranscript));
        return;
    case Kind::serverError:
        finishWithError(providerError(Case::server, event.text));
        return;
    case Kind::completed:
        break;
    }
    TranscriptionResult result{std::move(event.text), std::move(event.languages)};
    m_state = State::completed;
    if (auto slot = std::exchange(m_finishSlot, nullptr)) {
        slot->result = std::move(result);
        closeSocket(1000);
        slot->completion->complete();
    } else {
        m_completedResult = std::move(result);
        closeSocket(1000);
    }
}

void OpenAIRealtimeTranscriptionProvider::finishWithError(std::exception_ptr error) {
    m_state = State::failed;
    m_failure = error;
    const auto slot = std::exchange(m_finishSlot, nullptr);
    closeSocket(1000);
    if (slot) {
        slot->error = error;
        slot->completion->complete();
    }
}

void OpenAIRealtimeTranscriptionProvider::closeSocket(int closeCode) {
    m_onPartial = nullptr;
    QWebSocket* socket = std::exchange(m_socket, nullptr);
    if (!socket) return;
    // Closing emits disconnected at once; we have already drawn our conclusions.
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->close(static_cast<QWebSocketProtocol::CloseCode>(closeCode));
    else
        socket->abort();
    socket->deleteLater();
}

} // namespace murmelo
