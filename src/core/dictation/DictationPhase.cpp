#include "dictation/DictationPhase.h"

namespace murmelo {

QString debugName(const DictationPhase& phase) {
    switch (phase.kind()) {
    case DictationPhase::Kind::idle:
        return QStringLiteral("idle");
    case DictationPhase::Kind::recording:
        return QStringLiteral("recording");
    case DictationPhase::Kind::transcribing:
        return QStringLiteral("transcribing");
    case DictationPhase::Kind::refining:
        return QStringLiteral("refining");
    case DictationPhase::Kind::inserting:
        return QStringLiteral("inserting");
    case DictationPhase::Kind::success:
        return QStringLiteral("success");
    case DictationPhase::Kind::cancelled:
        return QStringLiteral("cancelled");
    case DictationPhase::Kind::error:
        return QStringLiteral("error(%1)").arg(phase.message());
    }
    return {};
}

} // namespace murmelo
