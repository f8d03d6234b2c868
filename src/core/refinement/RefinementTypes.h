#pragma once

#include "settings/Modes.h"

#include <QString>

namespace murmelo {

struct RefinementRequest {
    QString text; // the raw transcript
    InputMode mode = InputMode::smartDictation;
    QString glossary; // the personal dictionary as text
    bool operator==(const RefinementRequest&) const = default;
};

// The user message both HTTP providers send: the glossary, then the transcript, untrimmed.
QString refinementUserMessage(const RefinementRequest& request);

} // namespace murmelo
