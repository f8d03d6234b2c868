#include "PulseAudioServer.h"
#include "TestEnvironment.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace murmelo::test {

using namespace std::chrono_literals;

bool PulseAudioServer::start(QString* error) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", m_root.path());
    environment.insert("HOME", m_root.path());
    environment.insert("XDG_CONFIG_HOME", m_root.filePath(".config"));
    for (const char* name : {"PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY"})
        environment.remove(name);
    m_daemon = m_children.startAndWait(
        environment, m_root.path(), "pulseaudio",
        {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no",
         "--log-target=stderr", "--log-level=error", "-L",
         "module-native-protocol-unix auth-anonymous=1 socket=" + m_root.filePath("native"), "-L",
         "module-null-sink sink_name=speakers"},
        [this] { return pactl({"info"}); }, 10s);
    if (m_daemon && addPipeMicrophone("vmic", "VirtualMic") >= 0 && pactl({"set-default-source", "vmic"}))
        return true;
    if (error) *error = "pulseaudio: " + QString::fromLocal8Bit(readAll(m_root.filePath("pulseaudio.log")));
    return false;
}

bool PulseAudioServer::pactl(const QStringList& arguments, QString* output) const {
    QByteArray bytes;
    const bool ok = runToEnd(QProcessEnvironment::systemEnvironment(), "pactl",
                             QStringList{"--server=" + address()} + arguments, &bytes, 10s);
    if (output) *output = QString::fromUtf8(bytes);
    return ok;
}

int PulseAudioServer::addPipeMicrophone(const QString& source, const QString& description, int sampleRate,
                                        int channelCount) {
    QString index;
    const bool loaded =
        pactl({"load-module", "module-pipe-source", "source_name=" + source, "file=" + fifoPath(source),
               "format=float32le", QStringLiteral("rate=%1 channels=%2").arg(sampleRate).arg(channelCount),
               "source_properties='device.description=\"" + description + "\"'"},
              &index);
    return loaded ? index.trimmed().toInt() : -1;
}

void PulseAudioServer::kill() {
    if (!m_daemon) return;
    m_daemon->kill();
    m_daemon->waitForFinished(10000);
}

void PulseAudioServer::setStuck(bool stuck) {
    if (m_daemon && m_daemon->processId() > 0) ::kill(pid_t(m_daemon->processId()), stuck ? SIGSTOP : SIGCONT);
}

bool MicrophoneFeeder::play(std::vector<float> frames, bool repeat) {
    stop();
    ::signal(SIGPIPE, SIG_IGN); // a server that dies while we write must not take the test with it
    m_thread = std::jthread([this, frames = std::move(frames), repeat](std::stop_token stopping) {
        using Clock = std::chrono::steady_clock;
        const int fd = ::open(QFile::encodeName(m_fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        const qint64 frameBytes = qint64(sizeof(float)) * m_channels;
        const auto total = qint64(frames.size() * sizeof(float));
        const qint64 block = frameBytes * (m_rate / 200); // 5 ms, below PIPE_BUF: written whole or not at all
        const char* data = reinterpret_cast<const char*>(frames.data());
        auto next = Clock::now();
        qint64 position = 0;
        bool failed = fd < 0;
        while (!failed && !stopping.stop_requested() && position < total) {
            const ssize_t written = ::write(fd, data + position, size_t(std::min(block, total - position)));
            if (written < 0) {
                failed = errno != EAGAIN && errno != EINTR;
                std::this_thread::sleep_for(1ms);
                continue;
            }
            position = repeat && position + written == total ? 0 : position + written;
            m_framesWritten += written / frameBytes;
            next += std::chrono::microseconds(1000000 * (written / frameBytes) / m_rate);
            // A microphone never catches up: when nobody reads the pipe (the source is idle) the time
            // lost is gone, instead of arriving later as a burst of old audio.
            if (Clock::now() > next + 20ms) next = Clock::now();
            std::this_thread::sleep_until(next);
        }
        if (fd >= 0) ::close(fd);
    });
    return true;
}

std::vector<float> mandarinSpeech(const QString& text, QString* error) {
    QTemporaryDir folder;
    const QString wav = folder.filePath("speech.wav");
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // sox writes the samples, resampled and as raw little-endian float, to its standard output.
    const QStringList toFloat =
        QStringList{wav} + QStringLiteral("-r %1 -c %2 -e floating-point -b 32 -L -t raw -")
                               .arg(PulseAudioServer::rate)
                               .arg(PulseAudioServer::channels)
                               .split(' ');
    QByteArray bytes;
    const bool spoken = runToEnd(environment, "espeak-ng", {"-v", "cmn", "-w", wav, text}, nullptr, 10s) &&
                        runToEnd(environment, "sox", toFloat, &bytes, 10s);
    std::vector<float> frames(spoken ? size_t(bytes.size()) / sizeof(float) : 0);
    std::memcpy(frames.data(), bytes.constData(), frames.size() * sizeof(float));
    if (frames.empty() && error) *error = QStringLiteral("espeak-ng or sox gave no speech");
    return frames;
}

} // namespace murmelo::test
