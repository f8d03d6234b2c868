#pragma once

#include "system/Pasteboard.h"

#include <QStringList>

#include <optional>

namespace murmelo {

// An in-memory clipboard that records its operations ("clear", "set:<text>"), optionally into a
// journal shared with other fakes so a test can check the order across them.
class PasteboardFake final : public Pasteboard {
public:
    std::optional<QString> content; // nothing after a clear
    QStringList operations;
    QStringList* journal = nullptr;
    bool accepts = true; // false: a session that refuses the write (nothing is stored)

    void clearContents() override {
        content.reset();
        record(QStringLiteral("clear"));
    }
    bool setString(const QString& text) override {
        record(QStringLiteral("set:") + text);
        if (!accepts) return false;
        content = text;
        return true;
    }
    QString string() const override { return content.value_or(QString()); }

private:
    void record(const QString& entry) {
        operations.append(entry);
        if (journal) journal->append(QStringLiteral("pasteboard.") + entry);
    }
};

} // namespace murmelo
