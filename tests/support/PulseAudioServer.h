#pragma once

#include "TestDisplay.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
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
    QString address() const { return "unix:" + m_root.filePath("run/native"); }
    // The FIFO that feeds a pipe-source microphone; "vmic" is the default one.
    QString fifoPath(const QString& sourceName) const { return m_root.filePath("run/" + sourceName + ".fifo"); }
    QString microphoneFifo() const { return fifoPath(QStringLiteral("vmic")); }

    // Runs pactl against this server; false when it fails or takes too long.
    bool pactl(const QStringList& arguments, QString* output = nullptr) const;
    // Adds another pipe-source microphone of float samples; returns its module index, or -1.
    int addPipeMicrophone(const QString& sourceName, const QString& description, int sampleRate = rate,
                          int channelCount = channels);
    bool unloadModule(int index) const { return pactl({"unload-module", QString::number(index)}); }

    // Kills the server with SIGKILL, as a crash would, and waits for it to be gone.
    void kill();

private:
    QTemporaryDir m_root{QDir::tempPath() + "/murmelo-pulse-XXXXXX"};
    ChildProcesses m_children; // stopped before the folder goes
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
    ~MicrophoneFeeder() { stop(); }
    MicrophoneFeeder(const MicrophoneFeeder&) = delete;
    MicrophoneFeeder& operator=(const MicrophoneFeeder&) = delete;

    // Starts writing `frames` (interleaved); with `repeat` it starts over until stop().
    bool play(std::vector<float> frames, bool repeat = false);
    // Waits (bounded) until everything was written; false on time-out or write failure.
    bool waitUntilDone(std::chrono::milliseconds limit);
    void stop();
    qint64 framesWritten() const { return m_framesWritten.load(); }

private:
    void run(std::vector<float> frames, bool repeat);

    QString m_fifo;
    int m_rate;
    int m_channels;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_failed{false};
    std::atomic<qint64> m_framesWritten{0};
};

// Mandarin speech from espeak-ng as interleaved 48 kHz stereo float frames; empty with `error` set
// when the tools fail.
std::vector<float> mandarinSpeech(const QString& text, QString* error);
// `seconds` of silence as interleaved stereo frames.
std::vector<float> stereoSilence(double seconds);

} // namespace murmelo::test
