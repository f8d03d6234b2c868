#pragma once

#include "stores/KeychainStore.h"

#include <QCoroTask>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <exception>
#include <memory>

class QNetworkAccessManager;

namespace murmelo {

class ProviderConfiguration;

// Time limits of the connection tests: per model check, and for the test refinement.
struct ConnectionTestTiming {
    std::chrono::milliseconds modelCheck = std::chrono::seconds(15);
    std::chrono::milliseconds refinement = std::chrono::seconds(20);
};

// The model behind the API key settings: the drafts being typed, whether each key is available,
// a one-line status, and the two connection tests. Main thread only.
class CredentialSettingsModel final : public QObject {
    Q_OBJECT
public:
    using Timing = ConnectionTestTiming;

    CredentialSettingsModel(KeychainStore keychain, QNetworkAccessManager* session,
                            const ProviderConfiguration& configuration, Timing timing = {},
                            QString bundleDirectory = {}, QObject* parent = nullptr);

    QString openAIDraft() const { return m_openAIDraft; }
    QString deepSeekDraft() const { return m_deepSeekDraft; }
    bool hasOpenAIKey() const { return m_hasOpenAIKey; }
    bool hasDeepSeekKey() const { return m_hasDeepSeekKey; }
    QString statusMessage() const { return m_statusMessage; }
    bool isTesting() const { return m_isTesting; }

    void setOpenAIDraft(const QString& text);
    void setDeepSeekDraft(const QString& text);

    void refresh();
    void saveOpenAIKey();
    void saveDeepSeekKey();
    void remove(CredentialKind kind);
    // Checks that the OpenAI key may use both models, transcription first.
    QCoro::Task<> testOpenAI(QString transcriptionModel, QString refinementModel);
    // One real refinement call with the DeepSeek key.
    QCoro::Task<> testDeepSeek(QString model);

    // "无法连接 <service>（<code>）。..." for the five transport failures a user can act on, else
    // the error's own description.
    static QString connectionMessage(std::exception_ptr error, const QString& service);
    // The model check's address: the model name is one percent-encoded path segment, so that no
    // name can change the path or add a query. Invalid for a blank name, "." and "..".
    static QUrl modelCheckUrl(const QUrl& openAIBase, const QString& trimmedModel);

signals:
    void openAIDraftChanged();
    void deepSeekDraftChanged();
    void hasOpenAIKeyChanged();
    void hasDeepSeekKeyChanged();
    void statusMessageChanged();
    void isTestingChanged();

private:
    void save(const QString& value, CredentialKind kind);
    QCoro::Task<> testOpenAIModel(QString model, QString apiKey);
    void setStatusMessage(const QString& text);
    void setTesting(bool testing);
    void setFlag(bool& field, bool value, void (CredentialSettingsModel::*changed)());

    KeychainStore m_keychain;
    QNetworkAccessManager* m_session;
    QUrl m_openAIBase;
    QUrl m_deepSeekChatURL;
    Timing m_timing;
    QString m_bundleDirectory;

    QString m_openAIDraft;
    QString m_deepSeekDraft;
    bool m_hasOpenAIKey = false;
    bool m_hasDeepSeekKey = false;
    QString m_statusMessage;
    bool m_isTesting = false;
};

} // namespace murmelo
