#include "HotkeyBackendFake.h"
#include "HotkeyExpectations.h"
#include "system/GlobalHotkeyService.h"

#include <QTest>

#include <memory>
#include <optional>

using namespace murmelo;

namespace {

using test::registerExpectingError;

} // namespace

class GlobalHotkeyServiceTest : public QObject {
    Q_OBJECT
private slots:
    void presetsRegisterSpaceWithTheirModifierMasks_data() {
        QTest::addColumn<HotkeyPreset>("preset");
        QTest::addColumn<quint32>("mask");
        QTest::newRow("Control + Option + Space") << HotkeyPreset::controlOptionSpace << quint32(0x1800);
        QTest::newRow("Control + Shift + Space") << HotkeyPreset::controlShiftSpace << quint32(0x1200);
        QTest::newRow("Command + Shift + Space") << HotkeyPreset::commandShiftSpace << quint32(0x0300);
    }
    void presetsRegisterSpaceWithTheirModifierMasks() {
        QFETCH(HotkeyPreset, preset);
        QFETCH(quint32, mask);
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        service.registerHotkey(preset, [] {});
        QCOMPARE(backend.registerCalls.size(), 1);
        QCOMPARE(backend.registerCalls[0].shortcut, (HotkeyShortcut{49, mask}));
        QCOMPARE(backend.registerCalls[0].identifier.signature, quint32(0x4D524D4C)); // "MRML"
    }

    void registrationIdsCountSuccessesOnly() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        backend.registerStatus = 10;
        QVERIFY(registerExpectingError(service, HotkeyPreset::controlShiftSpace, [] {}));
        backend.registerStatus = 0;
        service.registerHotkey(HotkeyPreset::commandShiftSpace, [] {});
        QList<quint32> ids;
        for (const auto& call : backend.registerCalls)
            ids << call.identifier.id;
        QCOMPARE(ids, (QList<quint32>{1, 2, 2}));
        QCOMPARE(service.nextRegistrationId(), quint32(3));
    }

    void switchingPresetRegistersTheNewOneBeforeReleasingTheOld() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        const HotkeyHandle first = backend.active.begin()->first;
        service.registerHotkey(HotkeyPreset::commandShiftSpace, [] {});
        QCOMPARE(backend.journal, (QStringList{"install", "register 1", "register 2",
                                               QStringLiteral("unregister %1").arg(first)}));
        QCOMPARE(backend.active.size(), size_t(1));
        QCOMPARE(backend.active.begin()->second.shortcut.modifiers, quint32(0x0300));
    }

    void refusedShortcutKeepsTheOldOneButTakesTheNewAction() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        QStringList runs;
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [&] { runs << "old"; });
        backend.registerStatus = 10;
        const auto error =
            registerExpectingError(service, HotkeyPreset::controlOptionSpace, [&] { runs << "new"; });
        QVERIFY(error);
        QCOMPARE(error->kind(), GlobalHotkeyError::Case::registerHotKey);
        QCOMPARE(error->status(), 10);
        QCOMPARE(error->description(), QStringLiteral("无法注册全局快捷键，可能已被其他应用占用（10）。"));

        QCOMPARE(backend.active.size(), size_t(1));
        QCOMPARE(backend.active.begin()->second.shortcut.modifiers, quint32(0x1200));
        QVERIFY(backend.unregistered.isEmpty());
        QVERIFY(service.hasHotkey());
        QVERIFY(backend.press());
        QTRY_COMPARE(runs, QStringList{"new"});
    }

    void failedHandlerInstallationIsRetriedByTheNextRegistration() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        backend.installStatus = HotkeyBackend::statusNoDisplay;
        const auto error = registerExpectingError(service, HotkeyPreset::controlOptionSpace, [] {});
        QVERIFY(error);
        QCOMPARE(error->kind(), GlobalHotkeyError::Case::installHandler);
        QCOMPARE(error->description(), QStringLiteral("无法安装全局快捷键监听（-1）。"));
        QVERIFY(backend.registerCalls.isEmpty());
        QVERIFY(!service.hasHandler());

        backend.installStatus = 0;
        bool ran = false;
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ran = true; });
        QCOMPARE(backend.installCalls, 2);
        QCOMPARE(backend.registerCalls.size(), 1);
        QCOMPARE(backend.registerCalls[0].identifier.id, quint32(1));
        QVERIFY(backend.press());
        QTRY_VERIFY(ran);
        // Once installed, the handler stays: later registrations do not install it again.
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [] {});
        QCOMPARE(backend.installCalls, 2);
    }

    void actionRunsOncePerPressAfterTheHandlerReturned() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        int runs = 0;
        QList<int> order;
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { order << ++runs; });
        QVERIFY(backend.press());
        QVERIFY(backend.press());
        QCOMPARE(runs, 0); // scheduled, not run inside the platform's handler
        QTRY_COMPARE(order, (QList<int>{1, 2}));
        QCoreApplication::processEvents();
        QCOMPARE(runs, 2);
    }

    void actionMayReplaceItselfWhileRunning() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        QStringList runs;
        // The action's own captures must survive the replacement that happens inside it.
        auto marker = std::make_shared<QString>(QStringLiteral("first"));
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&, marker] {
            service.registerHotkey(HotkeyPreset::controlShiftSpace, [&] { runs << "second"; });
            runs << *marker;
        });
        marker.reset();
        QVERIFY(backend.press());
        QTRY_COMPARE(runs, QStringList{"first"});
        QVERIFY(backend.press());
        QTRY_COMPARE(runs, (QStringList{"first", "second"}));
    }

    void destructionReleasesEverythingAndDropsPendingPresses() {
        HotkeyBackendFake backend;
        bool ran = false;
        {
            auto service = std::make_unique<GlobalHotkeyService>(backend);
            service->registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ran = true; });
            QVERIFY(backend.press());
        }
        QCOMPARE(backend.journal.mid(2), (QStringList{"unregister 101", "remove"}));
        QVERIFY(backend.active.empty());
        QVERIFY(!backend.handlerInstalled());
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QVERIFY(!ran);
    }

    void aLaterRefusalOfTheActiveShortcutIsReportedOnlyForIt() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        QStringList messages;
        connect(&service, &GlobalHotkeyService::registrationFailed, this,
                [&](const QString& message) { messages.append(message); });
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [] {});

        QVERIFY(backend.failLater(101, HotkeyBackend::statusDeclined)); // already replaced
        QVERIFY(messages.isEmpty());
        QVERIFY(service.hasHotkey());

        QVERIFY(backend.failLater(102, HotkeyBackend::statusDeclined));
        QCOMPARE(
            messages,
            QStringList{"桌面未允许注册全局快捷键，请在系统设置中为命令 murmelo --toggle 绑定一个快捷键。"});
        QVERIFY(!service.hasHotkey());
        // Nothing is left to release, and the next registration starts afresh.
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        QCOMPARE(backend.unregistered, QList<HotkeyHandle>{101});
    }

    void aDesktopWithoutShortcutServiceTellsHowToBindTheToggleCommand() {
        QCOMPARE(
            GlobalHotkeyError(GlobalHotkeyError::Case::registerHotKey, HotkeyBackend::statusNoShortcutService)
                .description(),
            QStringLiteral(
                "当前桌面不提供全局快捷键服务，请在系统设置中为命令 murmelo --toggle 绑定一个快捷键。"));
    }

    void freshServiceReleasesNothing() {
        HotkeyBackendFake backend;
        { GlobalHotkeyService service(backend); }
        QVERIFY(backend.journal.isEmpty());
    }
};

QTEST_GUILESS_MAIN(GlobalHotkeyServiceTest)
#include "tst_GlobalHotkeyService.moc"
