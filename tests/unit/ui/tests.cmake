murmelo_add_test(tst_MenuBarView LABEL unit SOURCES ui/tst_MenuBarView.cpp LIBS murmelo_ui)
murmelo_add_test(tst_RecordingOverlay LABEL unit SOURCES ui/tst_RecordingOverlay.cpp LIBS murmelo_ui)
murmelo_add_test(tst_SettingsGeneralTab LABEL unit SOURCES ui/tst_SettingsGeneralTab.cpp ui/SettingsFixture.h
  LIBS murmelo_ui murmelo_fakes)
murmelo_add_test(tst_ApiKeySettingsTab LABEL unit SOURCES ui/tst_ApiKeySettingsTab.cpp ui/SettingsFixture.h
  LIBS murmelo_ui murmelo_fakes)
murmelo_add_test(tst_DictionaryEditorTab LABEL unit SOURCES ui/tst_DictionaryEditorTab.cpp ui/SettingsFixture.h
  LIBS murmelo_ui murmelo_fakes)
murmelo_add_test(tst_HistoryView LABEL unit SOURCES ui/tst_HistoryView.cpp ui/SettingsFixture.h
  LIBS murmelo_ui murmelo_fakes)
