#include "FakeServices.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace murmelo::fake {

namespace {

constexpr qsizetype maxHeadBytes = 64 * 1024;
constexpr qsizetype maxBodyBytes = 64 * 1024 * 1024;

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

QByteArray jsonBytes(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray errorBody(const QString& message) {
    return jsonBytes({{QStringLiteral("error"), QJsonObject{{QStringLiteral("message"), message}}}});
}

QString base64Text(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toBase64());
}

std::optional<HttpScript> httpScriptFromJson(const QJsonValue& value, QString* error) {
    HttpScript script;
    if (value.isUndefined() || value.isNull()) return script;
    if (!value.isObject()) {
        *error = QStringLiteral("endpoint scripts are objects");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    script.status = object.value(QLatin1String("status")).toInt(0);
    if (object.contains(QLatin1String("body"))) {
        const QJsonValue body = object.value(QLatin1String("body"));
        script.body = body.isString() ? body.toString().toUtf8()
                                      : QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact);
        if (body.isArray()) script.body = QJsonDocument(body.toArray()).toJson(QJsonDocument::Compact);
    }
    script.delayMs = object.value(QLatin1String("delayMs")).toInt(0);
    script.hang = object.value(QLatin1String("hang")).toBool(false);
    script.dropAfterBytes = object.value(QLatin1String("dropAfterBytes")).toInt(-1);
    return script;
}

QList<Frame> framesFromJson(const QJsonArray& array) {
    QList<Frame> frames;
    for (const QJsonValue& value : array) {
        const QJsonObject object = value.toObject();
        Frame frame;
        if (object.contains(QLatin1String("json"))) {
            const QJsonValue json = object.value(QLatin1String("json"));
            frame.data = json.isArray() ? QJsonDocument(json.toArray()).toJson(QJsonDocument::Compact)
                                        : jsonBytes(json.toObject());
        } else if (object.contains(QLatin1String("binary"))) {
            frame.kind = Frame::Kind::binary;
            frame.data = object.value(QLatin1String("binary")).toString().toUtf8();
        } else if (object.contains(QLatin1String("close"))) {
            frame.kind = Frame::Kind::close;
            frame.closeCode = object.value(QLatin1String("close")).toInt(1000);
        } else {
            frame.data = object.value(QLatin1String("text")).toString().toUtf8();
        }
        frame.fillTo = object.value(QLatin1String("fillTo")).toInteger(0);
        frames << frame;
    }
    return frames;
}

} // namespace

std::optional<Script> Script::fromJson(const QJsonObject& object, QString* error) {
    Script script;
    script.apiKey = object.value(QLatin1String("apiKey")).toString();
    script.refinedText = object.value(QLatin1String("refinedText")).toString();
    script.recordFrames = object.value(QLatin1String("recordFrames")).toBool(true);
    if (object.value(QLatin1String("knownModels")).isArray()) {
        script.knownModels.clear();
        for (const QJsonValue& model : object.value(QLatin1String("knownModels")).toArray())
            script.knownModels << model.toString();
    }
    for (const auto& [name, field] :
         {std::pair{"responses", &Script::responses}, std::pair{"chat", &Script::chat},
          std::pair{"models", &Script::models}}) {
        auto endpoint = httpScriptFromJson(object.value(QLatin1String(name)), error);
        if (!endpoint) return std::nullopt;
        script.*field = *endpoint;
    }
    const QJsonObject realtime = object.value(QLatin1String("realtime")).toObject();
    RealtimeScript& r = script.realtime;
    if (realtime.contains(QLatin1String("transcript")))
        r.transcript = realtime.value(QLatin1String("transcript")).toString();
    if (realtime.value(QLatin1String("deltas")).isArray()) {
        r.deltas = QStringList();
        for (const QJsonValue& delta : realtime.value(QLatin1String("deltas")).toArray())
            *r.deltas << delta.toString();
    }
    if (realtime.value(QLatin1String("languages")).isArray()) {
        r.languages.clear();
        for (const QJsonValue& code : realtime.value(QLatin1String("languages")).toArray())
            r.languages << code.toString();
    }
    r.onConnect = framesFromJson(realtime.value(QLatin1String("onConnect")).toArray());
    r.onFirstAudio = framesFromJson(realtime.value(QLatin1String("onFirstAudio")).toArray());
    if (realtime.value(QLatin1String("afterCommit")).isArray())
        r.afterCommit = framesFromJson(realtime.value(QLatin1String("afterCommit")).toArray());
    r.rejectStatus = realtime.value(QLatin1String("rejectStatus")).toInt(0);
    r.hangHandshake = realtime.value(QLatin1String("hangHandshake")).toBool(false);
    r.delayMs = realtime.value(QLatin1String("delayMs")).toInt(0);
    r.answerCommit = realtime.value(QLatin1String("answerCommit")).toBool(true);
    r.dropAfterCommit = realtime.value(QLatin1String("dropAfterCommit")).toBool(false);
    r.closeAfterAnswer = realtime.value(QLatin1String("closeAfterAnswer")).toInt(0);
    return script;
}

FakeServices::FakeServices(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_webSockets(new QWebSocketServer(QStringLiteral("murmelo-fake-services"),
                                        QWebSocketServer::NonSecureMode, this)) {
    connect(m_server, &QTcpServer::newConnection, this, &FakeServices::onNewConnection);
    connect(m_webSockets, &QWebSocketServer::newConnection, this, &FakeServices::onWebSocket);
}

FakeServices::~FakeServices() = default;

bool FakeServices::listen(const QHostAddress& address, quint16 port) {
    return m_server->listen(address, port);
}

quint16 FakeServices::port() const {
    return m_server->serverPort();
}

QUrl FakeServices::baseUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

bool FakeServices::authorized(const QByteArray& header) const {
    if (!header.startsWith("Bearer ") || header.size() == 7) return false;
    return script.apiKey.isEmpty() || header == "Bearer " + script.apiKey.toUtf8();
}

void FakeServices::onNewConnection() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        ++m_openConnections;
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this] { --m_openConnections; });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
    }
}

void FakeServices::onReadable(QTcpSocket* socket) {
    for (;;) {
        // Peek first: an upgrade request must reach the WebSocket server untouched.
        const QByteArray available = socket->peek(socket->bytesAvailable());
        if (available.isEmpty()) return;
        if (available.at(0) < 'A' || available.at(0) > 'Z') {
            // Not HTTP at all (a TLS hello, say): answer as a plain server would, then hang up.
            disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
            socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        const qsizetype headEnd = available.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (available.size() > maxHeadBytes) socket->abort();
            return;
        }
        const QList<QByteArray> lines = available.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3) {
            socket->abort();
            return;
        }
        RecordedRequest request;
        request.method = requestLine.at(0);
        request.target = requestLine.at(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            if (colon <= 0) continue;
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                   lines.at(i).mid(colon + 1).trimmed());
        }
        if (request.headers.value("upgrade").toLower() == "websocket") {
            const RealtimeScript& realtime = script.realtime;
            if (realtime.hangHandshake) {
                disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
                return;
            }
            // From here on the socket belongs to whoever answers the upgrade.
            QObject::disconnect(socket, nullptr, nullptr, nullptr);
            connect(socket, &QObject::destroyed, this, [this] { --m_openConnections; });
            int refusal = 0;
            if (!request.target.startsWith("/v1/realtime"))
                refusal = 404;
            else if (!authorized(request.headers.value("authorization")))
                refusal = 401;
            else if (realtime.rejectStatus)
                refusal = realtime.rejectStatus;
            if (refusal) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                socket->read(headEnd + 4);
                socket->write("HTTP/1.1 " + QByteArray::number(refusal) + ' ' + reason(refusal) +
                              "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
                return;
            }
            m_webSockets->handleConnection(socket);
            return;
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (length < 0 || length > maxBodyBytes) {
            socket->abort();
            return;
        }
        if (available.size() < headEnd + 4 + length) return; // wait for the rest of the body
        socket->read(headEnd + 4);
        request.body = socket->read(length);
        answerHttp(socket, request);
        if (socket->state() != QAbstractSocket::ConnectedState) return;
    }
}

QString FakeServices::refinedTextFor(const QByteArray& path, const QByteArray& body) const {
    if (!script.refinedText.isEmpty()) return script.refinedText;
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    QString input = object.value(QLatin1String("input")).toString();
    if (path == "/chat/completions")
        input = object.value(QLatin1String("messages"))
                    .toArray()
                    .last()
                    .toObject()
                    .value(QLatin1String("content"))
                    .toString();
    // Echo what was dictated, so a person trying the pipeline sees their own words come back.
    const QString marker = QStringLiteral("原始语音转写：\n");
    const qsizetype at = input.lastIndexOf(marker);
    const QString transcript = (at >= 0 ? input.mid(at + marker.size()) : input).trimmed();
    return transcript.isEmpty() ? QStringLiteral("（本地测试服务：没有收到转写）") : transcript;
}

void FakeServices::answerHttp(QTcpSocket* socket, const RecordedRequest& request) {
    const QByteArray path = request.target.left(
        request.target.indexOf('?') < 0 ? request.target.size() : request.target.indexOf('?'));
    if (path == "/_fake/log" && request.method == "GET") {
        respond(socket, {}, 200, jsonBytes(logJson()));
        return;
    }
    if (path == "/_fake/script" && request.method == "POST") {
        QString error;
        const auto loaded = Script::fromJson(QJsonDocument::fromJson(request.body).object(), &error);
        if (!loaded) {
            respond(socket, {}, 400, errorBody(error));
            return;
        }
        script = *loaded;
        requests.clear();
        sessions.clear();
        respond(socket, {}, 200, "{}");
        return;
    }
    // Only requests to the services are recorded; the control paths are the test's own.
    requests << request;
    emit requestRecorded();
    if (!authorized(request.headers.value("authorization"))) {
        respond(socket, {}, 401, errorBody(QStringLiteral("Incorrect API key provided.")));
        return;
    }
    if (path == "/v1/responses" && request.method == "POST") {
        const QJsonObject part{{QStringLiteral("type"), QStringLiteral("output_text")},
                               {QStringLiteral("text"), refinedTextFor(path, request.body)}};
        const QJsonObject item{{QStringLiteral("type"), QStringLiteral("message")},
                               {QStringLiteral("phase"), QStringLiteral("final")},
                               {QStringLiteral("content"), QJsonArray{part}}};
        respond(socket, script.responses, 200,
                jsonBytes({{QStringLiteral("id"), QStringLiteral("resp_fake")},
                           {QStringLiteral("output"), QJsonArray{item}}}));
        return;
    }
    if (path == "/chat/completions" && request.method == "POST") {
        const QJsonObject message{{QStringLiteral("role"), QStringLiteral("assistant")},
                                  {QStringLiteral("content"), refinedTextFor(path, request.body)}};
        const QJsonObject choice{{QStringLiteral("index"), 0}, {QStringLiteral("message"), message}};
        respond(socket, script.chat, 200, jsonBytes({{QStringLiteral("choices"), QJsonArray{choice}}}));
        return;
    }
    if (path.startsWith("/v1/models/") && request.method == "GET") {
        const QString name = QUrl::fromPercentEncoding(path.mid(qsizetype(sizeof("/v1/models/") - 1)));
        if (script.knownModels.contains(name))
            respond(socket, script.models, 200,
                    jsonBytes(
                        {{QStringLiteral("id"), name}, {QStringLiteral("object"), QStringLiteral("model")}}));
        else
            respond(socket, script.models, 404, errorBody(QStringLiteral("The model does not exist.")));
        return;
    }
    respond(socket, {}, 404, errorBody(QStringLiteral("Unknown path.")));
}

void FakeServices::respond(QTcpSocket* socket, const HttpScript& endpoint, int status,
                           const QByteArray& body) {
    if (endpoint.hang) return;
    const int code = endpoint.status ? endpoint.status : status;
    const QByteArray content = endpoint.body.value_or(body);
    const QPointer<QTcpSocket> target(socket);
    auto send = [target, code, content, drop = endpoint.dropAfterBytes] {
        if (!target) return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(code) + ' ' + reason(code) + "\r\n";
        head += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(content.size()) +
                "\r\n\r\n";
        if (drop >= 0) {
            target->write(head + content.left(drop));
            target->flush();
            target->disconnectFromHost(); // after the bytes, so the client sees a short body, not a reset
            return;
        }
        target->write(head + content);
    };
    if (endpoint.delayMs > 0)
        QTimer::singleShot(endpoint.delayMs, socket, send);
    else
        send();
}

void FakeServices::onWebSocket() {
    while (QWebSocket* socket = m_webSockets->nextPendingConnection()) {
        socket->setParent(this);
        socket->setMaxAllowedIncomingMessageSize(64 * 1024 * 1024);
        RecordedSession session;
        session.target = socket->requestUrl().toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
        session.authorization = socket->request().rawHeader("Authorization");
        const int index = sessions.size();
        sessions << session;
        connect(socket, &QWebSocket::textMessageReceived, this, [this, socket, index](const QString& text) {
            onClientFrame(socket, index, text.toUtf8(), false);
        });
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, socket, index](const QByteArray& data) { onClientFrame(socket, index, data, true); });
        auto sawCloseFrame = std::make_shared<bool>(false);
        connect(socket, &QWebSocket::aboutToClose, this, [sawCloseFrame] { *sawCloseFrame = true; });
        connect(socket, &QWebSocket::disconnected, this, [this, socket, index, sawCloseFrame] {
            if (index < sessions.size()) {
                sessions[index].closed = true;
                sessions[index].closeCode = *sawCloseFrame ? int(socket->closeCode()) : -1;
            }
            socket->deleteLater();
            emit sessionEnded();
        });
        sendFrames(socket, script.realtime.onConnect);
    }
}

void FakeServices::onClientFrame(QWebSocket* socket, int session, const QByteArray& data, bool binary) {
    if (session < sessions.size()) {
        ++sessions[session].frameCount;
        if (script.recordFrames) sessions[session].frames << RecordedFrame{binary, data};
    }
    emit frameRecorded();
    const QJsonValue type = QJsonDocument::fromJson(data).object().value(QLatin1String("type"));
    if (type == QLatin1String("input_audio_buffer.append") && session < sessions.size()) {
        // The session update comes first, so the first audio is the second frame.
        if (sessions[session].frameCount == 2) sendFrames(socket, script.realtime.onFirstAudio);
    }
    if (type != QLatin1String("input_audio_buffer.commit")) return;
    const RealtimeScript& realtime = script.realtime;
    if (realtime.dropAfterCommit) {
        socket->abort();
        return;
    }
    if (!realtime.answerCommit) return;
    const QPointer<QWebSocket> target(socket);
    QTimer::singleShot(realtime.delayMs, socket, [this, target] {
        if (target) answerCommit(target);
    });
}

void FakeServices::answerCommit(QWebSocket* socket) {
    const RealtimeScript& realtime = script.realtime;
    QList<Frame> frames;
    if (realtime.afterCommit) {
        frames = *realtime.afterCommit;
    } else {
        QStringList deltas =
            realtime.deltas.value_or(QStringList{realtime.transcript.left(realtime.transcript.size() / 2),
                                                 realtime.transcript.mid(realtime.transcript.size() / 2)});
        for (const QString& delta : deltas)
            frames << Frame{Frame::Kind::text,
                            jsonBytes({{QStringLiteral("type"),
                                        QStringLiteral("conversation.item.input_audio_transcription.delta")},
                                       {QStringLiteral("item_id"), QStringLiteral("item_1")},
                                       {QStringLiteral("delta"), delta}})};
        QJsonArray languages;
        for (const QString& code : realtime.languages)
            languages.append(QJsonObject{{QStringLiteral("code"), code}});
        frames << Frame{Frame::Kind::text,
                        jsonBytes({{QStringLiteral("type"),
                                    QStringLiteral("conversation.item.input_audio_transcription.completed")},
                                   {QStringLiteral("item_id"), QStringLiteral("item_1")},
                                   {QStringLiteral("transcript"), realtime.transcript},
                                   {QStringLiteral("languages"), languages}})};
    }
    if (realtime.closeAfterAnswer) frames << Frame{Frame::Kind::close, {}, realtime.closeAfterAnswer};
    sendFrames(socket, frames);
}

void FakeServices::sendFrames(QWebSocket* socket, const QList<Frame>& frames) {
    for (const Frame& frame : frames) {
        QByteArray data = frame.data;
        if (frame.fillTo > data.size()) data.append(QByteArray(frame.fillTo - data.size(), ' '));
        switch (frame.kind) {
        case Frame::Kind::text:
            socket->sendTextMessage(QString::fromUtf8(data));
            break;
        case Frame::Kind::binary:
            socket->sendBinaryMessage(data);
            break;
        case Frame::Kind::close:
            socket->close(static_cast<QWebSocketProtocol::CloseCode>(frame.closeCode));
            return;
        }
    }
}

QJsonObject FakeServices::logJson() const {
    QJsonArray requestList;
    for (const RecordedRequest& request : requests) {
        QJsonObject headers;
        for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it)
            headers.insert(QString::fromLatin1(it.key()), QString::fromUtf8(it.value()));
        requestList.append(QJsonObject{{QStringLiteral("method"), QString::fromLatin1(request.method)},
                                       {QStringLiteral("target"), QString::fromLatin1(request.target)},
                                       {QStringLiteral("headers"), headers},
                                       {QStringLiteral("body"), base64Text(request.body)}});
    }
    QJsonArray sessionList;
    for (const RecordedSession& session : sessions) {
        QJsonArray frames;
        for (const RecordedFrame& frame : session.frames)
            frames.append(QJsonObject{{QStringLiteral("binary"), frame.binary},
                                      {QStringLiteral("data"), base64Text(frame.data)}});
        sessionList.append(
            QJsonObject{{QStringLiteral("target"), QString::fromLatin1(session.target)},
                        {QStringLiteral("authorization"), QString::fromUtf8(session.authorization)},
                        {QStringLiteral("frames"), frames},
                        {QStringLiteral("frameCount"), session.frameCount},
                        {QStringLiteral("closed"), session.closed},
                        {QStringLiteral("closeCode"), session.closeCode}});
    }
    return {{QStringLiteral("requests"), requestList}, {QStringLiteral("sessions"), sessionList}};
}

} // namespace murmelo::fake
