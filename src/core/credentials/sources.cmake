target_sources(murmelo_core PRIVATE
  credentials/CredentialSettingsModel.h credentials/CredentialSettingsModel.cpp)
