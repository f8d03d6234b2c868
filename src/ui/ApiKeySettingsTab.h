#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace murmelo {

class AppSettings;
class CredentialSettingsModel;

// The API tab: the two keys (never shown: the fields hold only what is being typed), the model
// names, one connection test per service and the status line. It keeps no state of its own.
class ApiKeySettingsTab final : public QWidget {
    Q_OBJECT
public:
    ApiKeySettingsTab(AppSettings& settings, CredentialSettingsModel& credentials, QWidget* parent = nullptr);

private:
    void sync();

    AppSettings& m_settings;
    CredentialSettingsModel& m_credentials;
    QLineEdit* m_openAIKey;
    QPushButton* m_openAIDelete;
    QLineEdit* m_openAIModel;
    QLineEdit* m_openAIRefinementModel;
    QPushButton* m_openAITest;
    QLineEdit* m_deepSeekKey;
    QPushButton* m_deepSeekDelete;
    QLineEdit* m_deepSeekModel;
    QPushButton* m_deepSeekTest;
    QLabel* m_status;
};

} // namespace murmelo
