#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <optional>

class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace murmelo::fake {

// How one HTTP endpoint answers. Status 0 and no body: the endpoint's usual answer.
struct HttpScript {
    int status = 0;
    std::optional<QByteArray> body;
    int delayMs = 0;
    bool hang = false;       // read the request, never answer
    int dropAfterBytes = -1; // announce the whole body, send this many bytes of it, then drop the connection
};

struct Frame {
    enum class Kind { text, binary, close };
    Kind kind = Kind::text;
    QByteArray data;   // text frames: UTF-8
    int closeCode = 0; // Kind::close only
    qint64 fillTo = 0; // when set, the frame is padded with spaces to this many bytes (oversized frames)
};

struct RealtimeScript {
    QString transcript = QStringLiteral("这是本地测试服务返回的转写。");
    std::optional<QStringList> deltas; // default: the transcript in two halves
    QStringList languages{QStringLiteral("zh")};
    QList<Frame> onConnect;                  // sent as soon as the socket is open
    QList<Frame> onFirstAudio;               // sent when the first audio frame arrives
    std::optional<QList<Frame>> afterCommit; // replaces the usual deltas and completed event
    int rejectStatus = 0;                    // refuse the upgrade with this HTTP status
    bool hangHandshake = false;              // accept the TCP connection, never answer the upgrade
    int delayMs = 0;                         // before answering the commit
    bool answerCommit = true;
    bool dropAfterCommit = false; // drop the connection instead of answering
    int closeAfterAnswer = 0;     // close with this code after the answer (0: leave it to the client)
};

struct Script {
    QString apiKey; // the key every request must carry; empty: any non-empty key
    RealtimeScript realtime;
    HttpScript responses;
    HttpScript chat;
    HttpScript models;
    QStringList knownModels{QStringLiteral("gpt-live-transcribe"), QStringLiteral("gpt-5.6-terra"),
                            QStringLiteral("deepseek-v4-flash")};
    bool recordFrames = true; // false: keep only the frame count (long benchmark runs)
    QString refinedText;      // empty: the transcript found in the request, echoed

    // Reads the JSON form of a script (keys as the fields above); false with a reason on bad input.
    static std::optional<Script> fromJson(const QJsonObject& object, QString* error);
};

struct RecordedRequest {
    QByteArray method;
    QByteArray target;                     // path and query exactly as sent
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

struct RecordedFrame {
    bool binary = false;
    QByteArray data;
};

struct RecordedSession {
    QByteArray target;
    QByteArray authorization;
    QList<RecordedFrame> frames;
    qint64 frameCount = 0;
    bool closed = false;
    int closeCode = -1; // the code of the client's close frame; -1 when the connection just ended
};

// Loopback stand-in for the speech and language services: the realtime WebSocket, "/v1/responses",
// "/v1/models/{name}" and "/chat/completions" on one port, answering as scripted and recording
// every request and frame. "/_fake/script" (POST) replaces the script and "/_fake/log" (GET)
// returns the record, so a test in another process can drive it.
class FakeServices final : public QObject {
    Q_OBJECT
public:
    explicit FakeServices(QObject* parent = nullptr);
    ~FakeServices() override;

    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const;
    QUrl baseUrl() const; // http://127.0.0.1:<port>

    Script script;
    QList<RecordedRequest> requests;
    QList<RecordedSession> sessions;
    int openConnections() const { return m_openConnections; }

    QJsonObject logJson() const;

signals:
    void requestRecorded();
    void frameRecorded();
    void sessionEnded();

private:
    void onNewConnection();
    void onReadable(QTcpSocket* socket);
    void answerHttp(QTcpSocket* socket, const RecordedRequest& request);
    void respond(QTcpSocket* socket, const HttpScript& endpoint, int status, const QByteArray& body);
    void onWebSocket();
    void onClientFrame(QWebSocket* socket, int session, const QByteArray& data, bool binary);
    void answerCommit(QWebSocket* socket);
    void sendFrames(QWebSocket* socket, const QList<Frame>& frames);
    bool authorized(const QByteArray& header) const;
    QString refinedTextFor(const QByteArray& path, const QByteArray& body) const;

    QTcpServer* m_server;
    QWebSocketServer* m_webSockets;
    int m_openConnections = 0;
};

} // namespace murmelo::fake
