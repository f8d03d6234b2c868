// The sound cues through libcanberra on a private PulseAudio server: each cue is a playback stream
// on its output, never a stream that records.
#include "PulseAudioServer.h"
#include "TestEnvironment.h"
#include "canberra/SoundPlayerCanberra.h"

#include <QProcess>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

class SoundCuesTest : public QObject {
    Q_OBJECT

    test::TestEnvironment m_environment; // no client configuration or cookie of the user's
    test::PulseAudioServer m_server;

private slots:
    void eachCueIsOnePlaybackStreamOnTheOutputAndRecordsNothing() {
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        qputenv("PULSE_SERVER", m_server.address().toUtf8()); // libcanberra's own connection
        // Streams come and go within a second: the server's events tell each one.
        QProcess events;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PULSE_SERVER", m_server.address());
        events.setProcessEnvironment(environment);
        events.start("pactl", {"subscribe"});
        QVERIFY(events.waitForStarted());
        QTest::qWait(300); // subscribed
        QByteArray seen;
        const auto newStreams = [&](const char* kind) {
            seen += events.readAllStandardOutput();
            return seen.count(QByteArray("Event 'new' on ") + kind);
        };

        SoundPlayerCanberra player;
        int played = 0;
        for (SoundCue cue : {SoundCue::recordingStarted, SoundCue::recordingStopped, SoundCue::failed}) {
            player.play(cue);
            ++played;
            QTRY_COMPARE_WITH_TIMEOUT(newStreams("sink-input"), played, 10000);
        }
        QCOMPARE(newStreams("source-output"), 0);
        events.kill();
        events.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(SoundCuesTest)
#include "tst_SoundCues.moc"
