// A display without the XTEST extension (some locked-down or remote X servers): Murmelo cannot post
// the paste, so the result stays on the clipboard and the user is told so. The hotkey cannot be
// pressed synthetically there either; `murmelo --toggle`, the command a desktop shortcut runs,
// drives the dictation instead.
#include "MurmeloProcess.h"
#include "PulseAudioServer.h"
#include "TestDisplay.h"
#include "refinement/MockTextRefinementProvider.h"

#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

class DesktopWithoutXTestTest : public QObject {
    Q_OBJECT
public:
    explicit DesktopWithoutXTestTest(test::TestDisplay& display)
        : m_display(display) {}

private:
    test::TestDisplay& m_display;
    test::PulseAudioServer m_audio;

private slots:
    void resultStaysOnTheClipboardAndTheUserIsTold() {
        QString error;
        QVERIFY2(m_audio.start(&error), qPrintable(error));
        test::MicrophoneFeeder feeder(m_audio.microphoneFifo());
        QVERIFY(feeder.play(test::stereoSilence(0.5), true));
        test::PasteTarget target(m_display);
        QVERIFY(target.start());
        test::MurmeloProcess murmelo(m_display, m_audio.address());
        QVERIFY(murmelo.start());

        QCOMPARE(murmelo.runCommand({"--toggle"}), 0);
        QVERIFY2(murmelo.waitForOverlay(QStringLiteral("正在录音")), qPrintable(murmelo.overlayTitle()));
        QTest::qWait(600);
        QCOMPARE(murmelo.runCommand({"--toggle"}), 0);
        QVERIFY2(murmelo.waitForOverlay(QStringLiteral("已完成")), qPrintable(murmelo.overlayTitle()));

        QByteArray clipboard;
        QVERIFY(test::waitUntil(
            [&] {
                return m_display.run("xclip", {"-o", "-selection", "clipboard"}, &clipboard, 3s) &&
                       QString::fromUtf8(clipboard) == MockTextRefinementProvider::smartDictationText();
            },
            5s, 50ms));
        QCOMPARE(target.changes(), 0); // nothing was posted into the focused window
        QVERIFY(murmelo.waitForOverlayHidden());
        feeder.stop();
    }
};

MURMELO_DESKTOP_TEST_MAIN(DesktopWithoutXTestTest, (murmelo::test::TestDisplay::Options{true, true, false}))
#include "tst_DesktopWithoutXTest.moc"
