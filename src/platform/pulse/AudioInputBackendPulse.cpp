#include "pulse/AudioInputBackendPulse.h"

#include <pulse/pulseaudio.h>

#include <cstring>
#include <vector>

namespace murmelo {

namespace {

QString errorText(int code) {
    return QString::fromUtf8(pa_strerror(code));
}

// A lock on the main loop; every libpulse object is touched only while holding it.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop)
        : m_loop(loop) {
        pa_threaded_mainloop_lock(m_loop);
    }
    ~LoopLock() { pa_threaded_mainloop_unlock(m_loop); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

// State shared between a waiting caller and the callback of its operation.
struct Query {
    explicit Query(pa_threaded_mainloop* l)
        : loop(l) {}
    pa_threaded_mainloop* loop;
    bool done = false;
    int error = 0; // libpulse error code when the server could not answer
    void finish() {
        done = true;
        pa_threaded_mainloop_signal(loop, 0);
    }
};

struct SourceQuery : Query {
    using Query::Query;
    bool found = false;
    bool isMonitor = false;
    pa_sample_spec spec{};
    pa_channel_map map{};
};

struct ListQuery : Query {
    using Query::Query;
    QList<AudioInputDevice> devices;
};

struct ServerQuery : Query {
    using Query::Query;
    QString defaultSource;
};

} // namespace

struct AudioInputBackendPulse::Impl {
    Options options;
    pa_threaded_mainloop* loop = nullptr;
    bool loopRunning = false;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;

    // Guarded by the loop lock.
    QString device; // empty: the system default
    pa_channel_map sourceMap{};
    bool sourceMapValid = false;
    Tap tap;
    int bufferFrames = 1024;
    AudioInputFormat tapFormat;
    // The buffer being filled, interleaved as the server sends it, and its planar copy for the tap.
    std::vector<char> pending;
    size_t pendingBytes = 0;
    std::vector<std::vector<float>> planar;
    std::vector<const float*> planarPointers;

    explicit Impl(Options o)
        : options(std::move(o))
        , loop(pa_threaded_mainloop_new()) {}

    ~Impl() {
        if (!loop) return;
        if (loopRunning) {
            {
                LoopLock lock(loop);
                closeStream();
                dropContext();
            }
            pa_threaded_mainloop_stop(loop);
        }
        pa_threaded_mainloop_free(loop);
    }

    static void signalLoop(void* self) { pa_threaded_mainloop_signal(static_cast<Impl*>(self)->loop, 0); }

    bool ensureLoop() {
        if (!loop) return false;
        if (!loopRunning) loopRunning = pa_threaded_mainloop_start(loop) >= 0;
        return loopRunning;
    }

    // Waits, with the lock held, until `done` holds or the time limit passes. The limit is a timer
    // of the loop itself, so the wait wakes up even when the server never answers.
    template <typename Done> bool waitUntil(Done done) {
        if (done()) return true;
        struct Deadline {
            pa_threaded_mainloop* loop;
            bool expired = false;
        } deadline{loop};
        const pa_usec_t limit = static_cast<pa_usec_t>(options.timeout.count()) * PA_USEC_PER_MSEC;
        pa_time_event* timer = pa_context_rttime_new(
            context, pa_rtclock_now() + limit,
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
                auto* d = static_cast<Deadline*>(userdata);
                d->expired = true;
                pa_threaded_mainloop_signal(d->loop, 0);
            },
            &deadline);
        if (!timer) return done();
        while (!done() && !deadline.expired)
            pa_threaded_mainloop_wait(loop);
        pa_threaded_mainloop_get_api(loop)->time_free(timer);
        return done();
    }

    bool contextFailed() const {
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
    }

    void dropContext() {
        if (!context) return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    // A ready connection, made anew when the server went away. Returns 0 or the libpulse error code.
    int ensureContext() {
        if (!ensureLoop()) return PA_ERR_INTERNAL;
        if (context && pa_context_get_state(context) == PA_CONTEXT_READY) return 0;
        closeStream();
        dropContext();
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Murmelo");
        if (!context) return PA_ERR_INTERNAL;
        pa_context_set_state_callback(
            context, [](pa_context*, void* self) { signalLoop(self); }, this);
        const QByteArray server = options.server.toUtf8();
        // No autospawn: starting a sound server is the session's business, and it could outlast
        // our time limit.
        if (pa_context_connect(context, server.isEmpty() ? nullptr : server.constData(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            const int error = pa_context_errno(context);
            dropContext();
            return error ? error : PA_ERR_CONNECTIONREFUSED;
        }
        const bool settled =
            waitUntil([&] { return pa_context_get_state(context) == PA_CONTEXT_READY || contextFailed(); });
        if (settled && pa_context_get_state(context) == PA_CONTEXT_READY) return 0;
        const int error = settled ? pa_context_errno(context) : PA_ERR_TIMEOUT;
        dropContext();
        return error ? error : PA_ERR_CONNECTIONREFUSED;
    }

    // Waits for an operation; past the time limit it is cancelled, so its callback never touches a
    // query that is gone. Sets `query.error` when the server did not answer.
    void await(pa_operation* op, Query& query) {
        if (!op) {
            query.error = pa_context_errno(context);
            if (!query.error) query.error = PA_ERR_INTERNAL;
            return;
        }
        waitUntil([&] { return query.done || contextFailed(); });
        if (!query.done) {
            pa_operation_cancel(op);
            query.error = contextFailed() ? pa_context_errno(context) : PA_ERR_TIMEOUT;
            if (!query.error) query.error = PA_ERR_CONNECTIONTERMINATED;
        }
        pa_operation_unref(op);
    }

    SourceQuery querySource(const QString& name) {
        SourceQuery query(loop);
        const QByteArray utf8 = name.toUtf8();
        pa_operation* op = pa_context_get_source_info_by_name(
            context, utf8.constData(),
            [](pa_context* c, const pa_source_info* info, int eol, void* userdata) {
                auto* q = static_cast<SourceQuery*>(userdata);
                if (eol < 0) {
                    const int error = pa_context_errno(c);
                    q->error = error == PA_ERR_NOENTITY ? 0 : error; // simply not there
                    q->finish();
                } else if (eol > 0) {
                    q->finish();
                } else if (info) {
                    q->found = true;
                    q->isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
                    q->spec = info->sample_spec;
                    q->map = info->channel_map;
                }
            },
            &query);
        await(op, query);
        return query;
    }

    ServerQuery queryServer() {
        ServerQuery query(loop);
        pa_operation* op = pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* userdata) {
                auto* q = static_cast<ServerQuery*>(userdata);
                if (info && info->default_source_name)
                    q->defaultSource = QString::fromUtf8(info->default_source_name);
                q->finish();
            },
            &query);
        await(op, query);
        return query;
    }

    ListQuery querySources() {
        ListQuery query(loop);
        pa_operation* op = pa_context_get_source_info_list(
            context,
            [](pa_context* c, const pa_source_info* info, int eol, void* userdata) {
                auto* q = static_cast<ListQuery*>(userdata);
                if (eol != 0) {
                    if (eol < 0) q->error = pa_context_errno(c);
                    q->finish();
                    return;
                }
                // A monitor records what an output plays; it is no microphone.
                if (!info || info->monitor_of_sink != PA_INVALID_INDEX || !info->name) return;
                const QString name = QString::fromUtf8(info->name);
                const QString description =
                    info->description ? QString::fromUtf8(info->description) : QString();
                q->devices << AudioInputDevice{name, description.isEmpty() ? name : description};
            },
            &query);
        await(op, query);
        return query;
    }

    // --- stream

    void closeStream() {
        if (!stream) return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY || state == PA_STREAM_CREATING) pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
        pendingBytes = 0;
    }

    static void onRead(pa_stream* s, size_t, void* self) { static_cast<Impl*>(self)->read(s); }

    // On the capture thread, with the lock held.
    void read(pa_stream* s) {
        while (pa_stream_readable_size(s) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) return;
            append(static_cast<const char*>(data), bytes); // null data: a hole, heard as silence
            pa_stream_drop(s);
        }
    }

    void append(const char* data, size_t bytes) {
        const size_t capacity = pending.size();
        if (capacity == 0) return;
        while (bytes > 0) {
            const size_t take = std::min(bytes, capacity - pendingBytes);
            if (data) {
                std::memcpy(pending.data() + pendingBytes, data, take);
                data += take;
            } else {
                std::memset(pending.data() + pendingBytes, 0, take);
            }
            pendingBytes += take;
            bytes -= take;
            if (pendingBytes == capacity) {
                deliver();
                pendingBytes = 0;
            }
        }
    }

    void deliver() {
        const size_t channels = planar.size();
        const auto* interleaved = reinterpret_cast<const float*>(pending.data());
        for (int frame = 0; frame < bufferFrames; ++frame)
            for (size_t c = 0; c < channels; ++c)
                planar[c][frame] = interleaved[frame * channels + c];
        if (!tap) return;
        const AudioPCMBuffer buffer{planarPointers.data(), bufferFrames, static_cast<int>(channels),
                                    tapFormat.sampleRate};
        // The loop thread runs libpulse's C code: nothing may unwind into it.
        try {
            tap(buffer);
        } catch (...) {
        }
    }

    bool openStream(QString* errorMessage) {
        const auto fail = [&](int code) {
            closeStream();
            if (errorMessage) *errorMessage = errorText(code);
            return false;
        };
        pa_sample_spec spec{};
        spec.format = PA_SAMPLE_FLOAT32NE;
        spec.rate = tapFormat.sampleRate > 0 && tapFormat.sampleRate < 4294967295.0
                        ? static_cast<uint32_t>(tapFormat.sampleRate)
                        : 0;
        spec.channels =
            tapFormat.channelCount > 0 && tapFormat.channelCount <= static_cast<int>(PA_CHANNELS_MAX)
                ? static_cast<uint8_t>(tapFormat.channelCount)
                : 0;
        if (!pa_sample_spec_valid(&spec) || bufferFrames <= 0) return fail(PA_ERR_INVALID);
        pa_channel_map map{};
        if (sourceMapValid && sourceMap.channels == spec.channels)
            map = sourceMap; // the source's own layout: no remixing
        else
            pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);

        if (const int error = ensureContext()) return fail(error);
        stream = pa_stream_new(context, "Dictation", &spec, &map);
        if (!stream) return fail(pa_context_errno(context));
        pa_stream_set_state_callback(
            stream, [](pa_stream*, void* self) { signalLoop(self); }, this);
        pa_stream_set_read_callback(stream, &Impl::onRead, this);

        const size_t frameBytes = pa_frame_size(&spec);
        pending.assign(frameBytes * static_cast<size_t>(bufferFrames), 0);
        pendingBytes = 0;
        planar.assign(spec.channels, std::vector<float>(static_cast<size_t>(bufferFrames)));
        planarPointers.clear();
        for (const auto& channel : planar)
            planarPointers.push_back(channel.data());

        // Fragments of one tap buffer keep the first chunk close to the start and the wake-ups few.
        pa_buffer_attr attr;
        std::memset(&attr, 0xff, sizeof attr);
        attr.fragsize = static_cast<uint32_t>(pending.size());
        // A chosen microphone that goes away ends the recording instead of silently moving it to
        // another input.
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                          (device.isEmpty() ? 0 : PA_STREAM_DONT_MOVE));
        const QByteArray source = device.toUtf8();
        if (pa_stream_connect_record(stream, device.isEmpty() ? nullptr : source.constData(), &attr, flags) <
            0)
            return fail(pa_context_errno(context));
        const auto settled = [&] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED ||
                   contextFailed();
        };
        if (!waitUntil(settled)) return fail(PA_ERR_TIMEOUT);
        if (pa_stream_get_state(stream) != PA_STREAM_READY) {
            const int error = pa_context_errno(context);
            return fail(error ? error : PA_ERR_UNKNOWN);
        }
        return true;
    }
};

AudioInputBackendPulse::AudioInputBackendPulse()
    : AudioInputBackendPulse(Options{}) {}

AudioInputBackendPulse::AudioInputBackendPulse(Options options)
    : d(std::make_unique<Impl>(std::move(options))) {}

AudioInputBackendPulse::~AudioInputBackendPulse() = default;

QList<AudioInputDevice> AudioInputBackendPulse::inputDevices() {
    if (!d->loop) return {};
    LoopLock lock(d->loop);
    if (d->ensureContext() != 0) return {};
    ListQuery query = d->querySources();
    return query.error ? QList<AudioInputDevice>() : query.devices;
}

AudioDeviceLookup AudioInputBackendPulse::lookUpDevice(const QString& uid) {
    if (!d->loop) return {PA_ERR_INTERNAL, false};
    LoopLock lock(d->loop);
    if (const int error = d->ensureContext()) return {error, false};
    const SourceQuery query = d->querySource(uid);
    if (query.error) return {query.error, false};
    return {0, query.found && !query.isMonitor};
}

qint32 AudioInputBackendPulse::setCurrentDevice(const QString& uid) {
    if (!d->loop) return PA_ERR_INTERNAL;
    LoopLock lock(d->loop);
    d->device = uid;
    return 0;
}

AudioInputFormat AudioInputBackendPulse::inputFormat() {
    if (!d->loop) return {0, 0, errorText(PA_ERR_INTERNAL)};
    LoopLock lock(d->loop);
    d->sourceMapValid = false;
    if (const int error = d->ensureContext()) return {0, 0, errorText(error)};
    QString name = d->device;
    if (name.isEmpty()) {
        const ServerQuery server = d->queryServer();
        if (server.error) return {0, 0, errorText(server.error)};
        name = server.defaultSource;
    }
    // No input at all, or one that vanished: a format that cannot be used.
    if (name.isEmpty()) return {};
    const SourceQuery source = d->querySource(name);
    if (source.error) return {0, 0, errorText(source.error)};
    if (!source.found) return {};
    d->sourceMap = source.map;
    d->sourceMapValid = pa_channel_map_valid(&source.map) != 0;
    return {static_cast<double>(source.spec.rate), static_cast<int>(source.spec.channels), {}};
}

void AudioInputBackendPulse::installTap(int bufferFrames, const AudioInputFormat& format, Tap tap) {
    if (!d->loop) return;
    LoopLock lock(d->loop);
    d->bufferFrames = bufferFrames;
    d->tapFormat = format;
    d->tap = std::move(tap);
}

void AudioInputBackendPulse::removeTap() {
    if (!d->loop) return;
    LoopLock lock(d->loop); // the tap runs under this lock: once we hold it, no call is in progress
    d->tap = nullptr;
}

bool AudioInputBackendPulse::start(QString* errorMessage) {
    if (!d->loop) {
        if (errorMessage) *errorMessage = errorText(PA_ERR_INTERNAL);
        return false;
    }
    LoopLock lock(d->loop);
    if (d->stream && pa_stream_get_state(d->stream) == PA_STREAM_READY) return true;
    d->closeStream();
    return d->openStream(errorMessage);
}

void AudioInputBackendPulse::stop() {
    if (!d->loop || !d->loopRunning) return;
    LoopLock lock(d->loop);
    d->closeStream();
}

void AudioInputBackendPulse::reset() {
    if (!d->loop) return;
    LoopLock lock(d->loop);
    d->device.clear();
    d->sourceMapValid = false;
    d->pendingBytes = 0;
}

bool AudioInputBackendPulse::isStreaming() const {
    if (!d->loop || !d->loopRunning) return false;
    LoopLock lock(d->loop);
    return d->stream && pa_stream_get_state(d->stream) == PA_STREAM_READY;
}

} // namespace murmelo
