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

    void clearContents() override {
        content.reset();
        record(QStringLiteral("clear"));
    }
    void setString(const QString& text) override {
        content = text;
        record(QStringLiteral("set:") + text);
    }
    QString string() const override { return content.value_or(QString()); }

private:
    void record(const QString& entry) {
        operations.append(entry);
        if (journal) journal->append(QStringLiteral("pasteboard.") + entry);
    }
};

} // namespace murmelo
