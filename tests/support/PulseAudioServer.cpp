#include "PulseAudioServer.h"
#include "TestEnvironment.h"

#include <QFile>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace murmelo::test {

using namespace std::chrono_literals;

bool PulseAudioServer::start(QString* error) {
    const QString run = m_root.filePath("run");
    const QString home = m_root.filePath("home");
    QDir().mkpath(run);
    QDir().mkpath(home);
    QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString config = m_root.filePath("server.pa");
    writeFile(config, QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1/native\n"
                                     "load-module module-null-sink sink_name=speakers\n"
                                     "load-module module-pipe-source source_name=vmic file=%2 format=float32le "
                                     "rate=%3 channels=%4 source_properties=device.description=VirtualMic\n"
                                     "set-default-sink speakers\n"
                                     "set-default-source vmic\n")
                          .arg(run, microphoneFifo())
                          .arg(rate)
                          .arg(channels)
                          .toUtf8());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", run);
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", home + "/.config");
    for (const char* name : {"PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY"})
        environment.remove(name);
    m_daemon = m_children.startAndWait(environment, m_root.path(), "pulseaudio",
                                       {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                                        "--use-pid-file=no", "--log-target=stderr", "--log-level=error", "-F",
                                        config},
                                       [this] { return pactl({"info"}); }, 10s);
    if (!m_daemon && error)
        *error = "pulseaudio did not answer: " + QString::fromLocal8Bit(readAll(m_root.filePath("pulseaudio.log")));
    return m_daemon;
}

bool PulseAudioServer::pactl(const QStringList& arguments, QString* output) const {
    QByteArray bytes;
    const bool ok = runToEnd(QProcessEnvironment::systemEnvironment(), "pactl",
                             QStringList{"--server=" + address()} + arguments, &bytes, 10s);
    if (output) *output = QString::fromUtf8(bytes);
    return ok;
}

int PulseAudioServer::addPipeMicrophone(const QString& sourceName, const QString& description, int sampleRate,
                                        int channelCount) {
    QString output;
    const bool loaded = pactl({"load-module", "module-pipe-source", "source_name=" + sourceName,
                               "file=" + fifoPath(sourceName), "format=float32le",
                               QStringLiteral("rate=%1").arg(sampleRate), QStringLiteral("channels=%1").arg(channelCount),
                               QStringLiteral("source_properties='device.description=\"%1\"'").arg(description)},
                              &output);
    bool ok = false;
    const int index = output.trimmed().toInt(&ok);
    return loaded && ok ? index : -1;
}

void PulseAudioServer::kill() {
    if (!m_daemon || m_daemon->state() == QProcess::NotRunning) return;
    m_daemon->kill();
    m_daemon->waitForFinished(10000);
}

// --- feeder

bool MicrophoneFeeder::play(std::vector<float> frames, bool repeat) {
    stop();
    ::signal(SIGPIPE, SIG_IGN); // a server that dies while we write must not take the test with it
    m_stop = false;
    m_done = false;
    m_thread = std::thread(&MicrophoneFeeder::run, this, std::move(frames), repeat);
    return true;
}

bool MicrophoneFeeder::waitUntilDone(std::chrono::milliseconds limit) {
    return waitUntil([this] { return m_done.load(); }, limit) && !m_failed;
}

void MicrophoneFeeder::stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void MicrophoneFeeder::run(std::vector<float> frames, bool repeat) {
    using Clock = std::chrono::steady_clock;
    const int fd = ::open(QFile::encodeName(m_fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const qint64 frameBytes = qint64(sizeof(float)) * m_channels;
    const auto total = qint64(frames.size() * sizeof(float));
    const qint64 block = frameBytes * (m_rate / 200); // 5 ms, below PIPE_BUF: written whole or not at all
    const char* data = reinterpret_cast<const char*>(frames.data());
    auto next = Clock::now();
    qint64 position = 0;
    m_failed = fd < 0;
    while (!m_failed && !m_stop && position < total) {
        const ssize_t written = ::write(fd, data + position, size_t(std::min(block, total - position)));
        if (written < 0) {
            m_failed = errno != EAGAIN && errno != EINTR;
            std::this_thread::sleep_for(1ms);
            continue;
        }
        position += written;
        if (repeat && position == total) position = 0;
        m_framesWritten += written / frameBytes;
        next += std::chrono::microseconds(1000000 * (written / frameBytes) / m_rate);
        // A microphone never catches up: when nobody reads the pipe (the source is idle) the time
        // lost is gone, instead of arriving later as a burst of old audio.
        if (Clock::now() > next + 20ms) next = Clock::now();
        std::this_thread::sleep_until(next);
    }
    if (fd >= 0) ::close(fd);
    m_done = true;
}

// --- speech

std::vector<float> mandarinSpeech(const QString& text, QString* error) {
    QTemporaryDir folder;
    const QString wav = folder.filePath("speech.wav");
    const QString raw = folder.filePath("speech.raw");
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!runToEnd(environment, "espeak-ng", {"-v", "cmn", "-w", wav, text}, nullptr, 10s) ||
        !runToEnd(environment, "sox",
                  {wav, "-r", QString::number(PulseAudioServer::rate), "-c",
                   QString::number(PulseAudioServer::channels), "-e", "floating-point", "-b", "32", "-L", "-t",
                   "raw", raw},
                  nullptr, 10s)) {
        if (error) *error = QStringLiteral("espeak-ng or sox failed");
        return {};
    }
    const QByteArray bytes = readAll(raw);
    std::vector<float> frames(static_cast<size_t>(bytes.size()) / sizeof(float));
    std::memcpy(frames.data(), bytes.constData(), frames.size() * sizeof(float));
    if (frames.empty() && error) *error = QStringLiteral("espeak-ng produced no audio");
    return frames;
}

std::vector<float> stereoSilence(double seconds) {
    return std::vector<float>(
        static_cast<size_t>(seconds * PulseAudioServer::rate) * PulseAudioServer::channels, 0.0f);
}

} // namespace murmelo::test
