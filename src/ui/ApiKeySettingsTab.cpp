#include "ApiKeySettingsTab.h"

#include "SettingsWidgets.h"
#include "credentials/CredentialSettingsModel.h"
#include "settings/AppSettings.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace murmelo {

namespace {

QLineEdit* keyField(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setEchoMode(QLineEdit::Password);
    // Keys are pasted, never predicted or remembered by an input method.
    field->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    return field;
}

QLineEdit* modelField(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    return field;
}

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
    auto* result = new QPushButton(text, parent);
    result->setObjectName(QLatin1String(name));
    return result;
}

// One service's box: the key field with its save and delete buttons on the first row; the caller
// adds the model fields and the test button. Object names start with `prefix`.
struct KeySection {
    QGroupBox* box;
    QFormLayout* form;
    QLineEdit* key;
    QPushButton* save;
    QPushButton* remove;
};

KeySection keySection(const QString& title, const QString& prefix, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(prefix + QStringLiteral("Section"));
    auto* form = new QFormLayout(box);
    auto* row = new QHBoxLayout;
    KeySection section{
        box, form, keyField(qPrintable(prefix + QStringLiteral("KeyField")), box),
        button(QStringLiteral("保存"), qPrintable(prefix + QStringLiteral("SaveButton")), box),
        button(QStringLiteral("删除"), qPrintable(prefix + QStringLiteral("DeleteButton")), box)};
    settingsui::markDestructive(section.remove);
    row->addWidget(section.key, 1);
    row->addWidget(section.save);
    row->addWidget(section.remove);
    form->addRow(row);
    return section;
}

// Writes only what differs, so a field being typed in keeps its cursor.
void showText(QLineEdit* field, const QString& text) {
    if (field->text() != text) field->setText(text);
}

} // namespace

ApiKeySettingsTab::ApiKeySettingsTab(AppSettings& settings, CredentialSettingsModel& credentials,
                                     QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_credentials(credentials) {
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    const KeySection openAISection = keySection(QStringLiteral("OpenAI"), QStringLiteral("openAI"), content);
    auto* openAI = openAISection.box;
    auto* openAIForm = openAISection.form;
    m_openAIKey = openAISection.key;
    auto* openAISave = openAISection.save;
    m_openAIDelete = openAISection.remove;
    m_openAIModel = modelField("openAIModelField", openAI);
    openAIForm->addRow(QStringLiteral("实时转写模型"), m_openAIModel);
    m_openAIRefinementModel = modelField("openAIRefinementModelField", openAI);
    openAIForm->addRow(QStringLiteral("文字整理模型"), m_openAIRefinementModel);
    m_openAITest = button(QString(), "openAITestButton", openAI);
    openAIForm->addRow(m_openAITest);
    layout->addWidget(openAI);

    const KeySection deepSeekSection =
        keySection(QStringLiteral("DeepSeek"), QStringLiteral("deepSeek"), content);
    auto* deepSeek = deepSeekSection.box;
    auto* deepSeekForm = deepSeekSection.form;
    m_deepSeekKey = deepSeekSection.key;
    auto* deepSeekSave = deepSeekSection.save;
    m_deepSeekDelete = deepSeekSection.remove;
    m_deepSeekModel = modelField("deepSeekModelField", deepSeek);
    deepSeekForm->addRow(QStringLiteral("文字整理模型"), m_deepSeekModel);
    m_deepSeekTest = button(QString(), "deepSeekTestButton", deepSeek);
    deepSeekForm->addRow(m_deepSeekTest);
    layout->addWidget(deepSeek);

    m_status = settingsui::caption(QString(), content);
    m_status->setObjectName(QStringLiteral("credentialStatus"));
    layout->addWidget(m_status);
    layout->addStretch();

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(settingsui::scrolling(content, this));

    // Key drafts live in the model; Return in a key field deliberately does nothing.
    connect(m_openAIKey, &QLineEdit::textEdited, &m_credentials, &CredentialSettingsModel::setOpenAIDraft);
    connect(m_deepSeekKey, &QLineEdit::textEdited, &m_credentials,
            &CredentialSettingsModel::setDeepSeekDraft);
    connect(openAISave, &QPushButton::clicked, &m_credentials, &CredentialSettingsModel::saveOpenAIKey);
    connect(deepSeekSave, &QPushButton::clicked, &m_credentials, &CredentialSettingsModel::saveDeepSeekKey);
    connect(m_openAIDelete, &QPushButton::clicked, this,
            [this] { m_credentials.remove(CredentialKind::openAI); });
    connect(m_deepSeekDelete, &QPushButton::clicked, this,
            [this] { m_credentials.remove(CredentialKind::deepSeek); });

    // Model names are settings, written with every keystroke.
    connect(m_openAIModel, &QLineEdit::textEdited, &m_settings, &AppSettings::setOpenAIModel);
    connect(m_openAIRefinementModel, &QLineEdit::textEdited, &m_settings,
            &AppSettings::setOpenAIRefinementModel);
    connect(m_deepSeekModel, &QLineEdit::textEdited, &m_settings, &AppSettings::setDeepSeekModel);

    // The tests run on in the model (which outlives this tab); the names are read at the press.
    connect(m_openAITest, &QPushButton::clicked, this, [this] {
        m_credentials.testOpenAI(m_settings.openAIModel(), m_settings.openAIRefinementModel());
    });
    connect(m_deepSeekTest, &QPushButton::clicked, this,
            [this] { m_credentials.testDeepSeek(m_settings.deepSeekModel()); });

    for (auto signal :
         {&CredentialSettingsModel::openAIDraftChanged, &CredentialSettingsModel::deepSeekDraftChanged,
          &CredentialSettingsModel::hasOpenAIKeyChanged, &CredentialSettingsModel::hasDeepSeekKeyChanged,
          &CredentialSettingsModel::statusMessageChanged, &CredentialSettingsModel::isTestingChanged})
        connect(&m_credentials, signal, this, &ApiKeySettingsTab::sync);
    connect(&m_settings, &AppSettings::changed, this, &ApiKeySettingsTab::sync);
    sync();
}

void ApiKeySettingsTab::sync() {
    const QString saved = QStringLiteral("已保存；输入新值可覆盖");
    showText(m_openAIKey, m_credentials.openAIDraft());
    m_openAIKey->setPlaceholderText(m_credentials.hasOpenAIKey() ? saved
                                                                 : QStringLiteral("输入 OpenAI API Key"));
    m_openAIDelete->setVisible(m_credentials.hasOpenAIKey());
    showText(m_deepSeekKey, m_credentials.deepSeekDraft());
    m_deepSeekKey->setPlaceholderText(
        m_credentials.hasDeepSeekKey() ? saved : QStringLiteral("输入 DeepSeek API Key"));
    m_deepSeekDelete->setVisible(m_credentials.hasDeepSeekKey());

    showText(m_openAIModel, m_settings.openAIModel());
    showText(m_openAIRefinementModel, m_settings.openAIRefinementModel());
    showText(m_deepSeekModel, m_settings.deepSeekModel());

    // One flag for both services: while either test runs, neither can start.
    const bool testing = m_credentials.isTesting();
    m_openAITest->setText(testing ? QStringLiteral("正在测试…") : QStringLiteral("测试 OpenAI"));
    m_deepSeekTest->setText(testing ? QStringLiteral("正在测试…") : QStringLiteral("测试 DeepSeek"));
    m_openAITest->setEnabled(!testing);
    m_deepSeekTest->setEnabled(!testing);

    m_status->setText(m_credentials.statusMessage());
    m_status->setVisible(!m_credentials.statusMessage().isEmpty());
}

} // namespace murmelo
