#include "PulseAudioServer.h"
#include "TestEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace murmelo::test {

namespace {

constexpr int processLimitMs = 10000;

QString runtimeDir(const QTemporaryDir& root) {
    return root.path() + QStringLiteral("/run");
}

} // namespace

PulseAudioServer::PulseAudioServer()
    : m_root(QDir::tempPath() + QStringLiteral("/murmelo-pulse-XXXXXX")) {}

PulseAudioServer::~PulseAudioServer() {
    stopChild(m_process);
}

QString PulseAudioServer::fifoPath(const QString& sourceName) const {
    return runtimeDir(m_root) + QStringLiteral("/") + sourceName + QStringLiteral(".fifo");
}

QString PulseAudioServer::address() const {
    return QStringLiteral("unix:") + runtimeDir(m_root) + QStringLiteral("/native");
}

qint64 PulseAudioServer::pid() const {
    return m_process.processId();
}

bool PulseAudioServer::isRunning() const {
    return m_process.state() == QProcess::Running;
}

bool PulseAudioServer::start(QString* error) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why + QStringLiteral("\n") + QString::fromLocal8Bit(m_process.readAllStandardError());
        return false;
    };
    if (!m_root.isValid()) return fail(QStringLiteral("no temporary folder"));
    const QString run = runtimeDir(m_root);
    const QString home = m_root.path() + QStringLiteral("/home");
    QDir().mkpath(run);
    QDir().mkpath(home);
    QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QString config = m_root.path() + QStringLiteral("/server.pa");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return fail(QStringLiteral("cannot write ") + config);
    file.write(
        QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1/native\n"
                       "load-module module-null-sink sink_name=speakers\n"
                       "load-module module-pipe-source source_name=vmic file=%2 format=float32le rate=%3 "
                       "channels=%4 source_properties=device.description=VirtualMic\n"
                       "set-default-sink speakers\n"
                       "set-default-source vmic\n")
            .arg(run, microphoneFifo())
            .arg(rate)
            .arg(channels)
            .toUtf8());
    file.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.remove(QStringLiteral("PULSE_SERVER"));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    environment.remove(QStringLiteral("DISPLAY"));
    m_process.setProcessEnvironment(environment);
    m_process.setProgram(QStringLiteral("pulseaudio"));
    m_process.setArguments({QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                            QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--disallow-exit"),
                            QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-target=stderr"),
                            QStringLiteral("--log-level=error"), QStringLiteral("-F"), config});
    m_process.start();
    if (!m_process.waitForStarted(processLimitMs)) return fail(QStringLiteral("pulseaudio did not start"));

    QDeadlineTimer deadline(processLimitMs);
    while (!pactl({QStringLiteral("info")})) {
        if (m_process.state() != QProcess::Running) return fail(QStringLiteral("pulseaudio exited"));
        if (deadline.hasExpired()) return fail(QStringLiteral("pulseaudio did not answer in time"));
        QThread::msleep(20);
    }
    return true;
}

bool PulseAudioServer::pactl(const QStringList& arguments, QString* output) const {
    QProcess process;
    process.setProgram(QStringLiteral("pactl"));
    process.setArguments(QStringList{QStringLiteral("--server=") + address()} + arguments);
    process.start();
    if (!process.waitForFinished(processLimitMs)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    if (output) *output = QString::fromUtf8(process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

int PulseAudioServer::addPipeMicrophone(const QString& sourceName, const QString& description, int sampleRate,
                                        int channelCount) {
    QString output;
    const bool loaded =
        pactl({QStringLiteral("load-module"), QStringLiteral("module-pipe-source"),
               QStringLiteral("source_name=") + sourceName, QStringLiteral("file=") + fifoPath(sourceName),
               QStringLiteral("format=float32le"), QStringLiteral("rate=%1").arg(sampleRate),
               QStringLiteral("channels=%1").arg(channelCount),
               QStringLiteral("source_properties='device.description=\"%1\"'").arg(description)},
              &output);
    bool ok = false;
    const int index = output.trimmed().toInt(&ok);
    return loaded && ok ? index : -1;
}

bool PulseAudioServer::unloadModule(int index) const {
    return pactl({QStringLiteral("unload-module"), QString::number(index)});
}

void PulseAudioServer::kill() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.kill();
    m_process.waitForFinished(processLimitMs);
}

// --- feeder

MicrophoneFeeder::MicrophoneFeeder(QString fifo, int sampleRate, int channelCount)
    : m_fifo(std::move(fifo))
    , m_rate(sampleRate)
    , m_channels(channelCount) {}

MicrophoneFeeder::~MicrophoneFeeder() {
    stop();
}

bool MicrophoneFeeder::play(std::vector<float> frames, bool repeat) {
    stop();
    // A server that dies while we write must not take the test with it.
    ::signal(SIGPIPE, SIG_IGN);
    m_stop = false;
    m_done = false;
    m_failed = false;
    m_framesWritten = 0;
    m_thread = std::thread(&MicrophoneFeeder::run, this, std::move(frames), repeat);
    return true;
}

bool MicrophoneFeeder::waitUntilDone(std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    while (!m_done.load()) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(5);
    }
    return !m_failed.load();
}

void MicrophoneFeeder::stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void MicrophoneFeeder::run(std::vector<float> frames, bool repeat) {
    using Clock = std::chrono::steady_clock;
    const int fd = ::open(QFile::encodeName(m_fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_failed = true;
        m_done = true;
        return;
    }
    const size_t channels = size_t(m_channels);
    const size_t blockFrames = size_t(m_rate) / 200; // 5 ms
    const size_t frameBytes = sizeof(float) * channels;
    const size_t totalFrames = frames.size() / channels;
    const auto blockDuration = std::chrono::microseconds(1000000 * blockFrames / size_t(m_rate));
    auto next = Clock::now();
    size_t position = 0;
    while (!m_stop.load() && totalFrames > 0) {
        if (position >= totalFrames) {
            if (!repeat) break;
            position = 0;
        }
        const size_t count = std::min(blockFrames, totalFrames - position);
        const char* data = reinterpret_cast<const char*>(frames.data() + position * channels);
        size_t left = count * frameBytes;
        while (left > 0 && !m_stop.load()) {
            const ssize_t written = ::write(fd, data, left);
            if (written > 0) {
                data += written;
                left -= static_cast<size_t>(written);
            } else if (written < 0 && errno == EAGAIN) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else if (written < 0 && errno == EINTR) {
                continue;
            } else {
                m_failed = true;
                m_stop = true;
            }
        }
        position += count;
        m_framesWritten += static_cast<qint64>(count);
        next += blockDuration * count / blockFrames;
        // A microphone never catches up: when nobody reads the pipe (the source is idle) the time
        // lost is gone, instead of arriving later as a burst of old audio.
        if (Clock::now() > next + std::chrono::milliseconds(20)) next = Clock::now();
        std::this_thread::sleep_until(next);
    }
    ::close(fd);
    m_done = true;
}

// --- speech

std::vector<float> mandarinSpeech(const QString& text, QString* error) {
    QTemporaryDir folder;
    const QString wav = folder.path() + QStringLiteral("/speech.wav");
    const QString raw = folder.path() + QStringLiteral("/speech.raw");
    const auto runTool = [&](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(processLimitMs)) {
            process.kill();
            process.waitForFinished(1000);
            if (error) *error = program + QStringLiteral(" did not finish");
            return false;
        }
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            if (error)
                *error =
                    program + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAllStandardError());
            return false;
        }
        return true;
    };
    if (!runTool(QStringLiteral("espeak-ng"),
                 {QStringLiteral("-v"), QStringLiteral("cmn"), QStringLiteral("-w"), wav, text}))
        return {};
    if (!runTool(QStringLiteral("sox"),
                 {wav, QStringLiteral("-r"), QString::number(PulseAudioServer::rate), QStringLiteral("-c"),
                  QString::number(PulseAudioServer::channels), QStringLiteral("-e"),
                  QStringLiteral("floating-point"), QStringLiteral("-b"), QStringLiteral("32"),
                  QStringLiteral("-L"), QStringLiteral("-t"), QStringLiteral("raw"), raw}))
        return {};
    QFile file(raw);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("cannot read ") + raw;
        return {};
    }
    const QByteArray bytes = file.readAll();
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
