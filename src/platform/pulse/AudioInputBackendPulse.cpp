#include "pulse/AudioInputBackendPulse.h"

#include "common/Completion.h"

#include <pulse/pulseaudio.h>

#include <QObject>

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace murmelo {

namespace {

QString errorText(int code) {
    return QString::fromUtf8(pa_strerror(code));
}

// A lock on the main loop; every libpulse object is touched only while holding it. Held only for
// steps that never wait for the server, so the main thread takes it at once.
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

// A main-thread coroutine waiting until something the loop thread changes holds.
struct Waiter {
    std::function<bool()> settled; // read with the lock held
    std::shared_ptr<Completion> done = std::make_shared<Completion>();
};

} // namespace

struct AudioInputBackendPulse::Impl {
    // State shared between a waiting caller and the callback of its operation.
    struct Query {
        explicit Query(Impl* i)
            : impl(i) {}
        Impl* impl;
        bool done = false;
        int error = 0; // libpulse error code when the server could not answer
        void finish() {
            done = true;
            impl->notify();
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

    Options options;
    QObject mainThread; // what the loop thread hands back runs in its thread
    pa_threaded_mainloop* loop = nullptr;
    bool loopRunning = false;
    LossHandler onLoss; // main thread only

    // Guarded by the loop lock.
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    std::vector<std::shared_ptr<Waiter>> waiters;
    bool recording = false;     // the stream was handed to its owner as open
    quint64 streamGeneration = 0; // so that a late loss report never ends a newer stream
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

    bool ensureLoop() {
        if (!loop) return false;
        if (!loopRunning) loopRunning = pa_threaded_mainloop_start(loop) >= 0;
        return loopRunning;
    }

    // With the lock held, on either thread: wakes the waiters whose condition now holds.
    void notify() {
        std::erase_if(waiters, [](const std::shared_ptr<Waiter>& waiter) {
            if (!waiter->settled()) return false;
            QMetaObject::invokeMethod(
                waiter->done.get(), [done = waiter->done] { done->complete(); }, Qt::QueuedConnection);
            return true;
        });
    }

    // Main thread, lock not held: waits until `settled` holds or the time limit passes, without
    // blocking the thread; whether it holds. Each libpulse callback that may change it notifies.
    QCoro::Task<bool> settle(std::function<bool()> settled) {
        auto waiter = std::make_shared<Waiter>();
        waiter->settled = std::move(settled);
        {
            LoopLock lock(loop);
            if (waiter->settled()) co_return true;
            waiters.push_back(waiter);
        }
        co_await Completion::wait(waiter->done, options.timeout);
        LoopLock lock(loop);
        std::erase(waiters, waiter);
        co_return waiter->settled();
    }

    bool contextReady() const { return context && pa_context_get_state(context) == PA_CONTEXT_READY; }
    bool contextFailed() const {
        if (!context) return false;
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
    }

    void dropContext() {
        if (!context) return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
        notify();
    }

    // On the loop thread: the open input ended without stop(). Its owner hears of it on the main
    // thread, once.
    void reportLoss() {
        if (!recording) return;
        recording = false;
        QMetaObject::invokeMethod(
            &mainThread,
            [this, generation = streamGeneration] {
                bool current = false;
                {
                    LoopLock lock(loop);
                    current = generation == streamGeneration;
                }
                if (current)
                    if (LossHandler lost = std::exchange(onLoss, nullptr)) lost();
            },
            Qt::QueuedConnection);
    }

    static void contextChanged(pa_context*, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if (impl->contextFailed()) impl->reportLoss();
        impl->notify();
    }

    // A ready connection, made anew when the server went away. Returns 0 or the libpulse error code.
    QCoro::Task<int> ensureContext() {
        if (!ensureLoop()) co_return PA_ERR_INTERNAL;
        {
            LoopLock lock(loop);
            if (contextReady()) co_return 0;
            // A connection being made by another call is waited for, not replaced.
            if (!context || contextFailed()) {
                closeStream();
                dropContext();
                context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Murmelo");
                if (!context) co_return PA_ERR_INTERNAL;
                pa_context_set_state_callback(context, &Impl::contextChanged, this);
                const QByteArray server = options.server.toUtf8();
                // No autospawn: starting a sound server is the session's business, and it could
                // outlast our time limit.
                if (pa_context_connect(context, server.isEmpty() ? nullptr : server.constData(),
                                       PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
                    const int error = pa_context_errno(context);
                    dropContext();
                    co_return error ? error : PA_ERR_CONNECTIONREFUSED;
                }
            }
        }
        std::function<bool()> connected = [this] { return !context || contextReady() || contextFailed(); };
        const bool settled = co_await settle(std::move(connected));
        LoopLock lock(loop);
        if (contextReady()) co_return 0;
        int error = PA_ERR_CONNECTIONTERMINATED; // dropped by another call meanwhile
        if (!settled) {
            error = PA_ERR_TIMEOUT;
            dropContext(); // a server that never answers gets a fresh try next time
        } else if (contextFailed()) {
            error = pa_context_errno(context);
            dropContext();
        }
        co_return error ? error : PA_ERR_CONNECTIONREFUSED;
    }

    // Waits for an operation begun under the lock; past the time limit, or with the connection
    // gone, it is cancelled, so its callback never touches a query that is gone. Sets `query.error`
    // when the server did not answer.
    QCoro::Task<> complete(pa_operation* op, Query& query) {
        // Conditions are named before the co_await: g++ 12 may destroy a temporary in a co_await
        // expression twice.
        std::function<bool()> answered = [this, &query] { return query.done || !contextReady(); };
        if (op) co_await settle(std::move(answered));
        LoopLock lock(loop);
        if (!op) {
            query.error = context ? pa_context_errno(context) : PA_ERR_CONNECTIONTERMINATED;
            if (!query.error) query.error = PA_ERR_INTERNAL;
            co_return;
        }
        if (!query.done) {
            pa_operation_cancel(op);
            query.error = contextReady() ? PA_ERR_TIMEOUT
                          : context      ? pa_context_errno(context)
                                         : PA_ERR_CONNECTIONTERMINATED;
            if (!query.error) query.error = PA_ERR_CONNECTIONTERMINATED;
        }
        pa_operation_unref(op);
    }

    QCoro::Task<> querySource(SourceQuery& query, QString name) {
        pa_operation* op = nullptr;
        {
            LoopLock lock(loop);
            const QByteArray utf8 = name.toUtf8();
            if (contextReady())
                op = pa_context_get_source_info_by_name(
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
        }
        co_await complete(op, query);
    }

    QCoro::Task<> queryServer(ServerQuery& query) {
        pa_operation* op = nullptr;
        {
            LoopLock lock(loop);
            if (contextReady())
                op = pa_context_get_server_info(
                    context,
                    [](pa_context*, const pa_server_info* info, void* userdata) {
                        auto* q = static_cast<ServerQuery*>(userdata);
                        if (info && info->default_source_name)
                            q->defaultSource = QString::fromUtf8(info->default_source_name);
                        q->finish();
                    },
                    &query);
        }
        co_await complete(op, query);
    }

    QCoro::Task<> querySources(ListQuery& query) {
        pa_operation* op = nullptr;
        {
            LoopLock lock(loop);
            if (contextReady())
                op = pa_context_get_source_info_list(
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
        }
        co_await complete(op, query);
    }

    // --- stream

    void closeStream() {
        recording = false;
        ++streamGeneration;
        if (!stream) return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY || state == PA_STREAM_CREATING) pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
        pendingBytes = 0;
        notify();
    }

    static void streamChanged(pa_stream* s, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const pa_stream_state_t state = pa_stream_get_state(s);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) impl->reportLoss();
        impl->notify();
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

    // Main thread, lock not held. Nothing when the stream records; otherwise the server's message.
    QCoro::Task<std::optional<QString>> openStream() {
        const auto failure = [](int code) { return std::optional<QString>(errorText(code)); };
        if (const int error = co_await ensureContext()) co_return failure(error);
        pa_stream* opened = nullptr;
        {
            LoopLock lock(loop);
            closeStream();
            pa_sample_spec spec{};
            spec.format = PA_SAMPLE_FLOAT32NE;
            spec.rate = tapFormat.sampleRate > 0 && tapFormat.sampleRate < 4294967295.0
                            ? static_cast<uint32_t>(tapFormat.sampleRate)
                            : 0;
            spec.channels = tapFormat.channelCount > 0 &&
                                    tapFormat.channelCount <= static_cast<int>(PA_CHANNELS_MAX)
                                ? static_cast<uint8_t>(tapFormat.channelCount)
                                : 0;
            if (!pa_sample_spec_valid(&spec) || bufferFrames <= 0) co_return failure(PA_ERR_INVALID);
            if (!contextReady()) co_return failure(PA_ERR_CONNECTIONTERMINATED);
            pa_channel_map map{};
            if (sourceMapValid && sourceMap.channels == spec.channels)
                map = sourceMap; // the source's own layout: no remixing
            else
                pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);

            stream = pa_stream_new(context, "Dictation", &spec, &map);
            if (!stream) co_return failure(pa_context_errno(context));
            pa_stream_set_state_callback(stream, &Impl::streamChanged, this);
            pa_stream_set_read_callback(stream, &Impl::onRead, this);

            const size_t frameBytes = pa_frame_size(&spec);
            pending.assign(frameBytes * static_cast<size_t>(bufferFrames), 0);
            pendingBytes = 0;
            planar.assign(spec.channels, std::vector<float>(static_cast<size_t>(bufferFrames)));
            planarPointers.clear();
            for (const auto& channel : planar)
                planarPointers.push_back(channel.data());

            // Fragments of one tap buffer keep the first chunk close to the start and the wake-ups
            // few.
            pa_buffer_attr attr;
            std::memset(&attr, 0xff, sizeof attr);
            attr.fragsize = static_cast<uint32_t>(pending.size());
            // A chosen microphone that goes away ends the recording instead of silently moving it to
            // another input.
            const auto flags = static_cast<pa_stream_flags_t>(
                PA_STREAM_ADJUST_LATENCY | (device.isEmpty() ? 0 : PA_STREAM_DONT_MOVE));
            const QByteArray source = device.toUtf8();
            if (pa_stream_connect_record(stream, device.isEmpty() ? nullptr : source.constData(), &attr,
                                         flags) < 0) {
                const int error = pa_context_errno(context);
                closeStream();
                co_return failure(error);
            }
            opened = stream;
        }
        // `opened` is only looked at while it is still ours: stop() may close it meanwhile.
        std::function<bool()> connected = [this, opened] {
            if (stream != opened || !contextReady()) return true;
            const pa_stream_state_t state = pa_stream_get_state(opened);
            return state == PA_STREAM_READY || state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED;
        };
        const bool settled = co_await settle(std::move(connected));
        LoopLock lock(loop);
        if (stream != opened) co_return failure(PA_ERR_KILLED);
        if (!settled) {
            closeStream();
            co_return failure(PA_ERR_TIMEOUT);
        }
        if (pa_stream_get_state(stream) != PA_STREAM_READY) {
            const int error = context ? pa_context_errno(context) : 0;
            closeStream();
            co_return failure(error ? error : PA_ERR_UNKNOWN);
        }
        recording = true;
        co_return std::nullopt;
    }
};

AudioInputBackendPulse::AudioInputBackendPulse()
    : AudioInputBackendPulse(Options{}) {}

AudioInputBackendPulse::AudioInputBackendPulse(Options options)
    : d(std::make_shared<Impl>(std::move(options))) {}

// Tasks still waiting keep the state they use; the last one to finish takes it down.
AudioInputBackendPulse::~AudioInputBackendPulse() = default;

QCoro::Task<QList<AudioInputDevice>> AudioInputBackendPulse::inputDevices() {
    const std::shared_ptr<Impl> impl = d;
    if (co_await impl->ensureContext() != 0) co_return QList<AudioInputDevice>();
    Impl::ListQuery query(impl.get());
    co_await impl->querySources(query);
    co_return query.error ? QList<AudioInputDevice>() : query.devices;
}

QCoro::Task<AudioDeviceLookup> AudioInputBackendPulse::lookUpDevice(QString uid) {
    const std::shared_ptr<Impl> impl = d;
    if (const int error = co_await impl->ensureContext()) co_return AudioDeviceLookup{error, false};
    Impl::SourceQuery query(impl.get());
    co_await impl->querySource(query, uid);
    if (query.error) co_return AudioDeviceLookup{query.error, false};
    co_return AudioDeviceLookup{0, query.found && !query.isMonitor};
}

qint32 AudioInputBackendPulse::setCurrentDevice(const QString& uid) {
    if (!d->loop) return PA_ERR_INTERNAL;
    LoopLock lock(d->loop);
    d->device = uid;
    return 0;
}

QCoro::Task<AudioInputFormat> AudioInputBackendPulse::inputFormat() {
    const std::shared_ptr<Impl> impl = d;
    if (!impl->loop) co_return AudioInputFormat{0, 0, errorText(PA_ERR_INTERNAL)};
    QString name;
    {
        LoopLock lock(impl->loop);
        impl->sourceMapValid = false;
        name = impl->device;
    }
    if (const int error = co_await impl->ensureContext()) co_return AudioInputFormat{0, 0, errorText(error)};
    if (name.isEmpty()) {
        Impl::ServerQuery server(impl.get());
        co_await impl->queryServer(server);
        if (server.error) co_return AudioInputFormat{0, 0, errorText(server.error)};
        name = server.defaultSource;
    }
    // No input at all, or one that vanished: a format that cannot be used.
    if (name.isEmpty()) co_return AudioInputFormat{};
    Impl::SourceQuery source(impl.get());
    co_await impl->querySource(source, name);
    if (source.error) co_return AudioInputFormat{0, 0, errorText(source.error)};
    if (!source.found) co_return AudioInputFormat{};
    LoopLock lock(impl->loop);
    impl->sourceMap = source.map;
    impl->sourceMapValid = pa_channel_map_valid(&source.map) != 0;
    co_return AudioInputFormat{static_cast<double>(source.spec.rate), static_cast<int>(source.spec.channels), {}};
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

QCoro::Task<std::optional<QString>> AudioInputBackendPulse::start(LossHandler onLoss) {
    const std::shared_ptr<Impl> impl = d;
    if (!impl->loop) co_return errorText(PA_ERR_INTERNAL);
    if (impl->loopRunning) {
        LoopLock lock(impl->loop);
        if (impl->stream && pa_stream_get_state(impl->stream) == PA_STREAM_READY) co_return std::nullopt;
    }
    std::optional<QString> failure = co_await impl->openStream();
    if (!failure) impl->onLoss = std::move(onLoss);
    co_return failure;
}

void AudioInputBackendPulse::stop() {
    d->onLoss = nullptr;
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
