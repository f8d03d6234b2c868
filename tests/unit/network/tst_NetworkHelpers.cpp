#include "network/HeaderValue.h"
#include "network/TransportErrors.h"

#include <QTest>

using namespace murmelo;
using namespace murmelo::network;

class NetworkHelpersTest : public QObject {
    Q_OBJECT
private slots:
    void headerValuesWithControlCharactersAreRefused_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain key") << "sk-proj-AbC_123" << true;
        QTest::newRow("inner and outer spaces") << " sk 1 " << true;
        QTest::newRow("non-ASCII text") << "密钥é" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("CR LF") << "sk-1\r\nX-Injected: 1" << false;
        QTest::newRow("LF alone") << "sk-1\n" << false;
        QTest::newRow("CR alone") << "\rsk" << false;
        QTest::newRow("tab") << "sk\t1" << false;
        QTest::newRow("NUL") << QString(QChar(0)) + "sk" << false;
        QTest::newRow("DEL") << "sk\u007f" << false;
        QTest::newRow("C1 next line") << "sk\u0085" << false;
    }
    void headerValuesWithControlCharactersAreRefused() {
        QFETCH(QString, value);
        QFETCH(bool, safe);
        QCOMPARE(isHeaderSafe(value), safe);
    }

    void replyErrorsMapToUrlLoadingCodes_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("code");
        QTest::newRow("refused") << int(QNetworkReply::ConnectionRefusedError) << -1004;
        QTest::newRow("closed") << int(QNetworkReply::RemoteHostClosedError) << -1005;
        QTest::newRow("no host") << int(QNetworkReply::HostNotFoundError) << -1003;
        QTest::newRow("timeout") << int(QNetworkReply::TimeoutError) << -1001;
        QTest::newRow("tls") << int(QNetworkReply::SslHandshakeFailedError) << -1200;
        QTest::newRow("offline") << int(QNetworkReply::TemporaryNetworkFailureError) << -1009;
        QTest::newRow("proxy refused") << int(QNetworkReply::ProxyConnectionRefusedError) << -1004;
        QTest::newRow("other") << int(QNetworkReply::UnknownNetworkError) << -1;
    }
    void replyErrorsMapToUrlLoadingCodes() {
        QFETCH(int, error);
        QFETCH(int, code);
        QCOMPARE(networkErrorFor(QNetworkReply::NetworkError(error)).code(), code);
        QVERIFY(isTransportFailure(QNetworkReply::NetworkError(error)));
    }

    void statusesAndMalformedAnswersAreNotTransportFailures() {
        for (const auto error : {QNetworkReply::NoError, QNetworkReply::ContentNotFoundError,
                                 QNetworkReply::AuthenticationRequiredError,
                                 QNetworkReply::InternalServerError, QNetworkReply::ProtocolFailure})
            QVERIFY(!isTransportFailure(error));
    }

    void socketErrorsMapToUrlLoadingCodes() {
        QCOMPARE(networkErrorFor(QAbstractSocket::ConnectionRefusedError, "Connection refused").code(),
                 -1004);
        // How Qt reports an upgrade the server answered with a status.
        QCOMPARE(networkErrorFor(
                     QAbstractSocket::ConnectionRefusedError,
                     "QWebSocketPrivate::processHandshake: Unhandled http status code: 401 (Unauthorized).")
                     .code(),
                 badServerResponse);
        QCOMPARE(networkErrorFor(QAbstractSocket::RemoteHostClosedError).code(), -1005);
        QCOMPARE(networkErrorFor(QAbstractSocket::HostNotFoundError).code(), -1003);
        QCOMPARE(networkErrorFor(QAbstractSocket::SocketTimeoutError).code(), -1001);
        QCOMPARE(networkErrorFor(QAbstractSocket::SslHandshakeFailedError).code(), -1200);
        QCOMPARE(networkErrorFor(QAbstractSocket::SslHandshakeFailedError).description(),
                 "无法建立安全连接。");
        QCOMPARE(NetworkError(badServerResponse).description(), "网络请求失败（-1011）。");
    }
};

QTEST_GUILESS_MAIN(NetworkHelpersTest)
#include "tst_NetworkHelpers.moc"
