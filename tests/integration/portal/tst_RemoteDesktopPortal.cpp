#include "PortalSession.h"
#include "SecretBackendFake.h"
#include "portal/SyntheticKeyboardPortal.h"

#include <QTest>

#include <memory>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

const portal::PortalTimeouts quick{2s, 5s, 5s};
const SecretBackendFake::Key tokenKey{QStringLiteral("com.murmelo.portal"),
                                      QStringLiteral("remote-desktop-restore-token")};

// Waits until the keyboard's session has started or been refused.
bool settled(SyntheticKeyboardPortal& keyboard) {
    return QTest::qWaitFor([&] { return keyboard.state() != SyntheticKeyboardPortal::State::starting; },
                           5000);
}

} // namespace

// The RemoteDesktop keyboard against the installed xdg-desktop-portal (RemoteDesktop version 1)
// with our mock back end, and against the mock alone standing in for a version 2 portal.
class RemoteDesktopPortalTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<test::PortalSession> m_portal;

private slots:
    void initTestCase() {
        m_portal = std::make_unique<test::PortalSession>();
        QVERIFY2(m_portal->isReady(), qPrintable(m_portal->errorString()));
    }

    void cleanupTestCase() { m_portal.reset(); }

    void pasteShortcutIsPostedAsKeysymsInOrder_data() {
        QTest::addColumn<PasteShortcut>("shortcut");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("Ctrl+V") << PasteShortcut::control
                                << QStringList{"Keysym 65507 1", "Keysym 118 1", "Keysym 118 0",
                                               "Keysym 65507 0"};
        QTest::newRow("Ctrl+Shift+V") << PasteShortcut::controlShift
                                      << QStringList{"Keysym 65507 1", "Keysym 65505 1", "Keysym 118 1",
                                                     "Keysym 118 0",   "Keysym 65505 0", "Keysym 65507 0"};
    }
    void pasteShortcutIsPostedAsKeysymsInOrder() {
        QFETCH(PasteShortcut, shortcut);
        QFETCH(QStringList, keys);
        auto secrets = std::make_shared<SecretBackendFake>();
        const auto keyboard =
            SyntheticKeyboardPortal::createIfSupported(secrets, m_portal->connection(), quick);
        QVERIFY(keyboard);
        QVERIFY(!keyboard->postPasteShortcut(shortcut)); // not started yet
        QVERIFY(settled(*keyboard));
        QVERIFY(keyboard->isAvailable());
        QVERIFY(!keyboard->isModifierHeld());

        const int before = m_portal->log(QStringLiteral("Keysym")).size();
        QVERIFY(keyboard->postPasteShortcut(shortcut));
        QCOMPARE(m_portal->log(QStringLiteral("Keysym")).mid(before), keys);
        // Version 1 remembers nothing: no token is asked for, sent or kept.
        QCOMPARE(m_portal->log(QStringLiteral("SelectDevices")).last(),
                 QStringLiteral("SelectDevices types=1 persist_mode=- restore_token=-"));
        QCOMPARE(secrets->lookups + secrets->stores + secrets->clears, 0);
    }

    void refusedOrEndedSessionPostsNothing() {
        QVERIFY(m_portal->setResponse(QStringLiteral("Start"), 1));
        auto secrets = std::make_shared<SecretBackendFake>();
        const auto refused =
            SyntheticKeyboardPortal::createIfSupported(secrets, m_portal->connection(), quick);
        QVERIFY(refused);
        QVERIFY(settled(*refused));
        QCOMPARE(refused->state(), SyntheticKeyboardPortal::State::refused);
        QVERIFY(m_portal->setResponse(QStringLiteral("Start"), 0));

        const auto ended = SyntheticKeyboardPortal::createIfSupported(secrets, m_portal->connection(), quick);
        QVERIFY(settled(*ended));
        QVERIFY(ended->isAvailable());
        QVERIFY(m_portal->closeSessions());
        QTRY_COMPARE_WITH_TIMEOUT(ended->state(), SyntheticKeyboardPortal::State::closed, 5000);

        const int before = m_portal->log(QStringLiteral("Keysym")).size();
        QVERIFY(!refused->postPasteShortcut(PasteShortcut::control));
        QVERIFY(!ended->postPasteShortcut(PasteShortcut::control));
        QCOMPARE(m_portal->log(QStringLiteral("Keysym")).size(), before);
    }

    void portalWithoutRemoteDesktopOffersNoKeyboard() {
        test::PortalSession shortcutsOnly({{QStringLiteral("GlobalShortcuts")}});
        QVERIFY2(shortcutsOnly.isReady(), qPrintable(shortcutsOnly.errorString()));
        QVERIFY(!SyntheticKeyboardPortal::createIfSupported(std::make_shared<SecretBackendFake>(),
                                                            shortcutsOnly.connection(), quick));
    }

    void restoreTokenIsKeptInTheKeyringAndReplacedAtEachStart() {
        test::PortalSession newer({{}, 2, true});
        QVERIFY2(newer.isReady(), qPrintable(newer.errorString()));
        auto secrets = std::make_shared<SecretBackendFake>();

        auto keyboard = SyntheticKeyboardPortal::createIfSupported(secrets, newer.connection(), quick);
        QVERIFY(keyboard);
        QVERIFY(settled(*keyboard));
        QVERIFY(keyboard->isAvailable());
        QCOMPARE(secrets->items.value(tokenKey), QByteArray("token-1"));
        QVERIFY(keyboard->postPasteShortcut(PasteShortcut::control));
        QCOMPARE(newer.log(QStringLiteral("Keysym")).size(), 4);
        keyboard.reset();

        // The next start presents the kept token and keeps the one it gets back (single-use).
        keyboard = SyntheticKeyboardPortal::createIfSupported(secrets, newer.connection(), quick);
        QVERIFY(settled(*keyboard));
        QVERIFY(keyboard->isAvailable());
        QCOMPARE(secrets->items.value(tokenKey), QByteArray("token-2"));
        keyboard.reset();

        // A token the portal will not take is dropped, not presented again.
        QVERIFY(newer.setResponse(QStringLiteral("SelectDevices"), 2));
        keyboard = SyntheticKeyboardPortal::createIfSupported(secrets, newer.connection(), quick);
        QVERIFY(settled(*keyboard));
        QCOMPARE(keyboard->state(), SyntheticKeyboardPortal::State::refused);
        QVERIFY(!secrets->items.contains(tokenKey));
        keyboard.reset();

        QCOMPARE(newer.log(QStringLiteral("SelectDevices")),
                 (QStringList{"SelectDevices types=1 persist_mode=2 restore_token=-",
                              "SelectDevices types=1 persist_mode=2 restore_token=token-1",
                              "SelectDevices types=1 persist_mode=2 restore_token=token-2"}));
        QTRY_COMPARE_WITH_TIMEOUT(newer.log(QStringLiteral("Close RemoteDesktop")).size(), 3, 5000);
    }
};

QTEST_GUILESS_MAIN(RemoteDesktopPortalTest)
#include "tst_RemoteDesktopPortal.moc"
