target_sources(murmelo_core PRIVATE
  credentials/CredentialSource.h
  credentials/CredentialSettingsModel.h credentials/CredentialSettingsModel.cpp)
