#include "refinement/RefinementTypes.h"

namespace murmelo {

QString refinementUserMessage(const RefinementRequest& request) {
    return QStringLiteral("个人词典：\n") + request.glossary + QStringLiteral("\n\n原始语音转写：\n") +
           request.text;
}

} // namespace murmelo
