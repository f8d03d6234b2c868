#pragma once

#include "TestDisplay.h"

#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <thread>
#include <vector>

namespace murmelo::test {

// A private PulseAudio server for tests: own runtime and home folders, a null sink (whose monitor is
// no microphone) and a pipe-source virtual microphone "vmic" described as "VirtualMic", 48 kHz
// stereo float, which is the default source. Stopped by PID when the object goes away.
class PulseAudioServer {
public:
    static constexpr int rate = 48000;
    static constexpr int channels = 2;

    // Starts the server and waits (bounded) until it answers; false with `error` set otherwise.
    bool start(QString* error);
    // For clients: "unix:<socket>".
    QString address() const { return "unix:" + m_root.filePath("native"); }
    // The FIFO that feeds a pipe-source microphone; "vmic" is the default one.
    QString fifoPath(const QString& source) const { return m_root.filePath(source + ".fifo"); }
    QString microphoneFifo() const { return fifoPath(QStringLiteral("vmic")); }

    // Runs pactl against this server; false when it fails or takes too long.
    bool pactl(const QStringList& arguments, QString* output = nullptr) const;
    // Adds a pipe-source microphone of float samples; returns its module index, or -1.
    int addPipeMicrophone(const QString& source, const QString& description, int sampleRate = rate,
                          int channelCount = channels);
    bool unloadModule(int index) const { return pactl({"unload-module", QString::number(index)}); }
    // Whether some client has a record stream open on this server.
    bool hasRecordStreams() const {
        QString streams;
        return pactl({"list", "short", "source-outputs"}, &streams) && !streams.trimmed().isEmpty();
    }
    // Kills the server with SIGKILL, as a crash would, and waits for it to be gone.
    void kill();
    // Stops the server with SIGSTOP, so that it accepts connections but answers nothing (a stuck
    // server), or lets it go on with SIGCONT.
    void setStuck(bool stuck);

private:
    QTemporaryDir m_root{QDir::tempPath() + "/murmelo-pulse-XXXXXX"}; // short: it holds the socket
    ChildProcesses m_children;                                        // stopped before the folder goes
    QProcess* m_daemon = nullptr;
};

// Writes interleaved float frames into a pipe-source FIFO at real-time pace, from its own thread, in
// 5 ms blocks. A pipe-source produces audio only while something writes to it.
class MicrophoneFeeder {
public:
    explicit MicrophoneFeeder(QString fifo, int sampleRate = PulseAudioServer::rate,
                              int channelCount = PulseAudioServer::channels)
        : m_fifo(std::move(fifo))
        , m_rate(sampleRate)
        , m_channels(channelCount) {}

    // Starts writing `frames` (interleaved); with `repeat` it starts over until stop().
    bool play(std::vector<float> frames, bool repeat = false);
    void stop() { m_thread = {}; } // asks the writer to stop and waits for it
    qint64 framesWritten() const { return m_framesWritten.load(); }

private:
    QString m_fifo;
    int m_rate;
    int m_channels;
    std::atomic<qint64> m_framesWritten{0};
    std::jthread m_thread; // last: it stops before what it uses goes
};

// Mandarin speech from espeak-ng as interleaved 48 kHz stereo float frames; empty with `error` set
// when the tools fail.
std::vector<float> mandarinSpeech(const QString& text, QString* error);
// `seconds` of silence as interleaved stereo frames.
inline std::vector<float> stereoSilence(double seconds) {
    return std::vector<float>(size_t(seconds * PulseAudioServer::rate) * PulseAudioServer::channels, 0.0f);
}

} // namespace murmelo::test
