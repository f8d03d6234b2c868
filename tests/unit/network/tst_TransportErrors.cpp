#include "network/TransportErrors.h"

#include <QTest>

using namespace murmelo;
using namespace murmelo::network;

class TransportErrorsTest : public QObject {
    Q_OBJECT
private slots:
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

QTEST_GUILESS_MAIN(TransportErrorsTest)
#include "tst_TransportErrors.moc"
