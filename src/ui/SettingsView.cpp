#include "SettingsView.h"

#include "ApiKeySettingsTab.h"
#include "DictionaryEditorTab.h"
#include "HistoryView.h"
#include "PhasePresentation.h"
#include "SettingsWidgets.h"
#include "audio/AudioCaptureService.h"
#include "common/Error.h"
#include "settings/AppSettings.h"
#include "system/LaunchAtLoginService.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include <exception>

namespace murmelo {

namespace {

template <typename Enum> void fillPicker(QComboBox* picker) {
    for (Enum value : allCases<Enum>())
        picker->addItem(title(value), int(value));
}

template <typename Enum> void showInPicker(QComboBox* picker, Enum value) {
    const QSignalBlocker quiet(picker);
    picker->setCurrentIndex(picker->findData(int(value)));
}

QComboBox* picker(const char* name, QWidget* parent) {
    auto* result = new QComboBox(parent);
    result->setObjectName(QLatin1String(name));
    return result;
}

QString readinessName(ReadinessItem::Kind kind) {
    switch (kind) {
    case ReadinessItem::Kind::microphone:
        return QStringLiteral("microphone");
    case ReadinessItem::Kind::automaticPaste:
        return QStringLiteral("automaticPaste");
    case ReadinessItem::Kind::globalHotkey:
        return QStringLiteral("globalHotkey");
    case ReadinessItem::Kind::keyring:
        return QStringLiteral("keyring");
    }
    return {};
}

QString symbolOf(ReadinessItem::State state) {
    switch (state) {
    case ReadinessItem::State::checking:
        return QStringLiteral("ellipsis.circle");
    case ReadinessItem::State::ok:
        return QStringLiteral("checkmark.circle.fill");
    case ReadinessItem::State::attention:
        return QStringLiteral("exclamationmark.triangle.fill");
    case ReadinessItem::State::unavailable:
        return QStringLiteral("xmark.circle.fill");
    }
    return {};
}

QCheckBox* toggle(const QString& text, const char* name, QWidget* parent) {
    auto* result = new QCheckBox(text, parent);
    result->setObjectName(QLatin1String(name));
    return result;
}

} // namespace

SettingsView::SettingsView(AppSettings& settings, CredentialSettingsModel& credentials,
                           DictionaryStore& dictionary, HistoryViewModel& history, Pasteboard& pasteboard,
                           LaunchAtLoginService& launchAtLogin, SystemReadiness& readiness, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_settings(settings)
    , m_launchAtLogin(launchAtLogin)
    , m_readiness(readiness) {
    setObjectName(QStringLiteral("settingsWindow"));
    setFixedSize(windowWidth, windowHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    m_tabs->setIconSize(QSize(16, 16));
    layout->addWidget(m_tabs);

    QWidget* general = buildGeneralTab();
    auto* api = new ApiKeySettingsTab(settings, credentials);
    api->setObjectName(QStringLiteral("apiTab"));
    auto* words = new DictionaryEditorTab(dictionary);
    words->setObjectName(QStringLiteral("dictionaryTab"));
    auto* past = new HistoryView(history, pasteboard);
    m_tabs->addTab(general, symbolIcon(QStringLiteral("gearshape")), QStringLiteral("常规"));
    m_tabs->addTab(api, symbolIcon(QStringLiteral("key")), QStringLiteral("API"));
    m_tabs->addTab(words, symbolIcon(QStringLiteral("text.book.closed")), QStringLiteral("词典"));
    m_tabs->addTab(past, symbolIcon(QStringLiteral("clock.arrow.circlepath")), QStringLiteral("历史"));

    // A window list must say whose window this is, whichever tab it shows.
    setWindowTitle(QStringLiteral("Murmelo 设置"));

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    // Reads the current values rather than the signal's: the container may put a refused hotkey
    // back while the picker's own change is still being delivered.
    connect(&m_settings, &AppSettings::changed, this, &SettingsView::syncGeneral);
    syncGeneral();
}

QWidget* SettingsView::buildGeneralTab() {
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    // Tight enough that the whole tab, the environment checks included, fits the fixed window unscrolled.
    layout->setContentsMargins(8, 2, 8, 0);
    layout->setSpacing(4);

    auto* group = new QGroupBox(content);
    group->setObjectName(QStringLiteral("generalSection"));
    auto* form = new QFormLayout(group);
    form->setContentsMargins(10, 4, 10, 4);
    form->setVerticalSpacing(4);

    m_inputMode = picker("inputModePicker", group);
    fillPicker<InputMode>(m_inputMode);
    form->addRow(QStringLiteral("默认模式"), m_inputMode);

    m_provider = picker("refinementProviderPicker", group);
    fillPicker<RefinementProviderKind>(m_provider);
    form->addRow(QStringLiteral("文字整理服务"), m_provider);
    m_providerNote = settingsui::caption(QString(), group);
    m_providerNote->setObjectName(QStringLiteral("providerNote"));
    form->addRow(m_providerNote);

    m_hotkey = picker("hotkeyPicker", group);
    fillPicker<HotkeyPreset>(m_hotkey);
    m_hotkeyBehavior = picker("hotkeyBehaviorPicker", group);
    fillPicker<HotkeyBehavior>(m_hotkeyBehavior);
    // One row for both, so that the environment checks below still fit unscrolled.
    auto* hotkeyRow = new QHBoxLayout;
    hotkeyRow->addWidget(m_hotkey, 1);
    auto* behaviorLabel = new QLabel(QStringLiteral("快捷键方式"), group);
    behaviorLabel->setBuddy(m_hotkeyBehavior);
    hotkeyRow->addSpacing(8);
    hotkeyRow->addWidget(behaviorLabel);
    hotkeyRow->addSpacing(6);
    hotkeyRow->addWidget(m_hotkeyBehavior, 1);
    form->addRow(QStringLiteral("全局快捷键"), hotkeyRow);

    // Switches and their help share rows, so that the environment checks below fit unscrolled.
    m_mock = toggle(QStringLiteral("使用 Mock Provider"), "mockSwitch", group);
    auto* mockHelp =
        settingsui::caption(QStringLiteral("开启后无需 API 请求即可测试录音、状态机、整理和粘贴。"), group);
    mockHelp->setObjectName(QStringLiteral("mockHelp"));
    auto* mockRow = new QHBoxLayout;
    mockRow->addWidget(m_mock);
    mockRow->addWidget(mockHelp, 1);
    form->addRow(mockRow);

    m_soundCues = toggle(QStringLiteral("提示音"), "soundCuesSwitch", group);
    m_saveHistory = toggle(QStringLiteral("保存本地历史记录"), "saveHistorySwitch", group);
    m_launchAtLoginSwitch = toggle(QStringLiteral("登录时启动"), "launchAtLoginSwitch", group);
    auto* switchesRow = new QHBoxLayout;
    switchesRow->setSpacing(24);
    switchesRow->addWidget(m_soundCues);
    switchesRow->addWidget(m_saveHistory);
    switchesRow->addWidget(m_launchAtLoginSwitch);
    // The result line follows its switch on the same row.
    m_launchAtLoginLine = settingsui::caption(QString(), group);
    m_launchAtLoginLine->setObjectName(QStringLiteral("launchAtLoginMessage"));
    switchesRow->addSpacing(-16);
    switchesRow->addWidget(m_launchAtLoginLine, 1);
    form->addRow(switchesRow);

    m_microphone = picker("microphonePicker", group);
    m_microphone->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_microphone->setMinimumContentsLength(16);
    form->addRow(QStringLiteral("麦克风"), m_microphone);
    layout->addWidget(group);

    // What decides whether dictation works on this desktop, each with what to do when it does not.
    auto* environment = new QGroupBox(content);
    environment->setObjectName(QStringLiteral("readinessSection"));
    auto* environmentLayout = new QVBoxLayout(environment);
    environmentLayout->setContentsMargins(10, 2, 10, 2);
    environmentLayout->setSpacing(1);
    // The title shares its row with the button, as a group title cannot hold one.
    auto* header = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("运行环境"), environment);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    header->addWidget(title);
    header->addStretch();
    auto* recheck = new QPushButton(QStringLiteral("重新检测"), environment);
    recheck->setObjectName(QStringLiteral("recheckButton"));
    recheck->setFixedHeight(title->sizeHint().height() + 6);
    header->addWidget(recheck);
    environmentLayout->addLayout(header);
    for (const ReadinessItem& item : m_readiness.items()) {
        const QString name = readinessName(item.kind);
        auto* line = new QHBoxLayout;
        line->setSpacing(6);
        ReadinessRow row;
        row.symbol = settingsui::symbol(symbolOf(item.state), 16, environment);
        row.symbol->setObjectName(name + QStringLiteral("Symbol"));
        line->addWidget(row.symbol, 0, Qt::AlignTop);
        row.status = new QLabel(environment);
        row.status->setObjectName(name + QStringLiteral("Status"));
        row.status->setTextFormat(Qt::PlainText);
        row.status->setWordWrap(true);
        line->addWidget(row.status, 1);
        if (item.kind == ReadinessItem::Kind::microphone) {
            // A link rather than a button: no taller than the line it sits on.
            m_soundSettings = new QLabel(QStringLiteral("<a href=\"sound\">打开声音设置</a>"), environment);
            m_soundSettings->setObjectName(QStringLiteral("soundSettingsLink"));
            m_soundSettings->setTextFormat(Qt::RichText);
            m_soundSettings->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
            line->addWidget(m_soundSettings, 0, Qt::AlignTop);
        }
        environmentLayout->addLayout(line);
        row.advice = settingsui::caption(QString(), environment);
        row.advice->setObjectName(name + QStringLiteral("Advice"));
        row.advice->setContentsMargins(22, 0, 0, 0); // under the text, not the symbol
        environmentLayout->addWidget(row.advice);
        m_readinessRows.append(row);
    }
    layout->addWidget(environment);
    layout->addStretch();

    connect(m_inputMode, &QComboBox::currentIndexChanged, this,
            [this] { m_settings.setInputMode(InputMode(m_inputMode->currentData().toInt())); });
    connect(m_provider, &QComboBox::currentIndexChanged, this, [this] {
        m_settings.setRefinementProvider(RefinementProviderKind(m_provider->currentData().toInt()));
    });
    connect(m_hotkey, &QComboBox::currentIndexChanged, this,
            [this] { m_settings.setHotkeyPreset(HotkeyPreset(m_hotkey->currentData().toInt())); });
    connect(m_hotkeyBehavior, &QComboBox::currentIndexChanged, this, [this] {
        m_settings.setHotkeyBehavior(HotkeyBehavior(m_hotkeyBehavior->currentData().toInt()));
    });
    connect(m_mock, &QCheckBox::toggled, &m_settings, &AppSettings::setUseMockProviders);
    connect(m_saveHistory, &QCheckBox::toggled, &m_settings, &AppSettings::setSaveHistory);
    connect(m_soundCues, &QCheckBox::toggled, &m_settings, &AppSettings::setSoundCues);
    // Only the user's flip asks the login item; the displayed value follows the setting.
    connect(m_launchAtLoginSwitch, &QCheckBox::clicked, this, &SettingsView::updateLaunchAtLogin);
    connect(m_microphone, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        m_settings.setSelectedMicrophoneUID(m_microphone->itemData(index).toString());
        m_readiness.reconsiderMicrophone();
    });
    connect(m_soundSettings, &QLabel::linkActivated, this, [] { AudioCaptureService::openMicrophonePrivacySettings(); });
    connect(recheck, &QPushButton::clicked, this, &SettingsView::refreshSystemChecks);
    connect(&m_readiness, &SystemReadiness::changed, this, &SettingsView::showReadiness);
    connect(&m_readiness, &SystemReadiness::inputDevicesChanged, this, &SettingsView::fillMicrophones);

    fillMicrophones();
    showReadiness();

    auto* tab = settingsui::scrolling(content, nullptr);
    tab->setObjectName(QStringLiteral("generalTab"));
    return tab;
}

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) refreshSystemChecks();
}

void SettingsView::refreshSystemChecks() {
    // The answers arrive one by one through `changed`; nothing here waits for them.
    m_readiness.refresh();
    // The switch follows what changed outside since the last look (the autostart entry removed
    // by hand, say).
    m_settings.setLaunchAtLogin(m_launchAtLogin.isEnabled());
    syncGeneral();
}

void SettingsView::updateLaunchAtLogin(bool enabled) {
    QString failure;
    try {
        m_launchAtLogin.setEnabled(enabled);
    } catch (const Error& error) {
        failure = error.description();
    } catch (const std::exception& error) {
        failure = QString::fromLocal8Bit(error.what());
    }
    // Whatever happened, the switch shows the real registration state, and the line reports it.
    m_settings.setLaunchAtLogin(m_launchAtLogin.isEnabled());
    if (!failure.isEmpty())
        m_launchAtLoginMessage = failure;
    else
        m_launchAtLoginMessage = m_settings.launchAtLogin() ? QStringLiteral("已启用登录时启动。")
                                                            : QStringLiteral("已关闭登录时启动。");
    syncGeneral();
}

void SettingsView::syncGeneral() {
    showInPicker(m_inputMode, m_settings.inputMode());
    showInPicker(m_provider, m_settings.refinementProvider());
    showInPicker(m_hotkey, m_settings.hotkeyPreset());
    showInPicker(m_hotkeyBehavior, m_settings.hotkeyBehavior());
    m_providerNote->setText(m_settings.refinementProvider() == RefinementProviderKind::openAI
                                ? QStringLiteral("转写和整理共用一个 OpenAI Key，便于先跑通真实流程。")
                                : QStringLiteral("使用独立 DeepSeek Key，默认采用非思考模式。"));
    for (auto [box, value] : {std::pair{m_mock, m_settings.useMockProviders()},
                              std::pair{m_saveHistory, m_settings.saveHistory()},
                              std::pair{m_soundCues, m_settings.soundCues()},
                              std::pair{m_launchAtLoginSwitch, m_settings.launchAtLogin()}}) {
        const QSignalBlocker quiet(box);
        box->setChecked(value);
    }
    m_launchAtLoginLine->setText(m_launchAtLoginMessage);
    m_launchAtLoginLine->setVisible(!m_launchAtLoginMessage.isEmpty());
    const QSignalBlocker quiet(m_microphone);
    m_microphone->setCurrentIndex(m_microphone->findData(m_settings.selectedMicrophoneUID()));
}

void SettingsView::fillMicrophones() {
    const QSignalBlocker quiet(m_microphone);
    m_microphone->clear();
    m_microphone->addItem(QStringLiteral("系统默认"), QString());
    for (const AudioInputDevice& device : m_readiness.inputDevices())
        m_microphone->addItem(device.name, device.uid);
    // A stored device that is not plugged in stays chosen: the picker shows no entry rather
    // than pretending another one is selected.
    m_microphone->setCurrentIndex(m_microphone->findData(m_settings.selectedMicrophoneUID()));
}

void SettingsView::showReadiness() {
    for (const ReadinessItem& item : m_readiness.items()) {
        const ReadinessRow& row = m_readinessRows[int(item.kind)];
        const QString symbol = symbolOf(item.state);
        row.symbol->setPixmap(symbolIcon(symbol).pixmap(16, 16));
        row.symbol->setProperty("symbol", symbol);
        row.status->setText(ReadinessItem::title(item.kind) + QStringLiteral("：") + item.text);
        row.advice->setText(item.advice);
        row.advice->setVisible(!item.advice.isEmpty());
    }
    const ReadinessItem& microphone = m_readiness.item(ReadinessItem::Kind::microphone);
    m_soundSettings->setVisible(microphone.state != ReadinessItem::State::ok &&
                                microphone.state != ReadinessItem::State::checking);
}

} // namespace murmelo
