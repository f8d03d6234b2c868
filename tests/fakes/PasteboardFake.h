#pragma once

#include "system/Pasteboard.h"

#include <QStringList>

#include <optional>

namespace murmelo {

// An in-memory clipboard that records its operations ("clear", "set:<text>").
class PasteboardFake final : public Pasteboard {
public:
    std::optional<QString> content; // nothing after a clear
    QStringList operations;
    bool accepts = true; // false: a session that refuses the write (nothing is stored)

    void clearContents() override {
        content.reset();
        operations.append(QStringLiteral("clear"));
    }
    bool setString(const QString& text) override {
        operations.append(QStringLiteral("set:") + text);
        if (!accepts) return false;
        content = text;
        return true;
    }
    QString string() const override { return content.value_or(QString()); }
};

} // namespace murmelo
