#include "PhasePresentation.h"

#include <mutex>

// Resources compiled into a static library are only registered when asked for by name.
static void registerIconResources() {
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(icons); });
}

namespace murmelo {

PhasePresentation PhasePresentation::of(const DictationPhase& phase) {
    using Kind = DictationPhase::Kind;
    switch (phase.kind()) {
    case Kind::idle:
        return {QStringLiteral("waveform"), QStringLiteral("准备就绪")};
    case Kind::recording:
        return {QStringLiteral("record.circle.fill"), QStringLiteral("正在录音")};
    case Kind::transcribing:
        return {QStringLiteral("waveform.badge.magnifyingglass"), QStringLiteral("正在识别")};
    case Kind::refining:
        return {QStringLiteral("sparkles"), QStringLiteral("正在整理")};
    case Kind::inserting:
        return {QStringLiteral("text.cursor"), QStringLiteral("正在写入")};
    case Kind::success:
        return {QStringLiteral("checkmark.circle.fill"), QStringLiteral("已完成")};
    case Kind::cancelled:
        return {QStringLiteral("xmark.circle.fill"), QStringLiteral("已取消")};
    case Kind::error:
        return {QStringLiteral("exclamationmark.triangle.fill"), phase.message()};
    }
    return {};
}

QIcon symbolIcon(const QString& symbol) {
    registerIconResources();
    return QIcon(QStringLiteral(":/icons/") + symbol + QStringLiteral(".svg"));
}

} // namespace murmelo
